#include "app/output/PreviewForm.h"

#include <QEvent>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QShowEvent>
#include <QStatusBar>
#include <QVBoxLayout>

#include "app/Localizer.h"
#include "app/Placement.h"
#include "app/output/PrintHelper.h"
#include "app/project/DtpHelper.h"
#include "document/view/Document.h"
#include "document/view/Page.h"
#include "platform/qt/ErrorDisplay.h"
#include "platform/qt/PrinterService.h"

namespace kdl {
namespace {

constexpr int kButtonPanelHeight = 40;
constexpr int kButtonGap = 6;
constexpr int kButtonCount = 5;
constexpr float kMinZoom = 5, kMaxZoom = 500;

QString Text(const char* key) { return Localizer().Text("PreviewForm", key); }

}  // namespace

TPreviewForm::TPreviewForm(QWidget* parent) : QDialog(parent) {
  setObjectName("PreviewForm");
  setMinimumSize(920, 635);
  if (parent != nullptr) setGeometry(parent->window()->geometry());
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  pnlButtons = new QWidget(this);
  pnlButtons->setObjectName("pnlButtons");
  pnlButtons->setFixedHeight(kButtonPanelHeight);
  pnlButtons->installEventFilter(this);
  layout->addWidget(pnlButtons);
  auto button = [this](const char* name) {
    auto* b = new QPushButton(pnlButtons);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
  };
  btnPrintSetup = button("btnPrintSetup");
  btnZoomOut = button("btnZoomOut");
  btnZoomIn = button("btnZoomIn");
  btnZoomWidth = button("btnZoomWidth");
  btnClose = button("btnClose");
  connect(btnPrintSetup, &QPushButton::clicked, this, [this] { btnPrintSetupClick(); });
  connect(btnZoomOut, &QPushButton::clicked, this, [this] { btnZoomOutClick(); });
  connect(btnZoomIn, &QPushButton::clicked, this, [this] { btnZoomInClick(); });
  connect(btnZoomWidth, &QPushButton::clicked, this, [this] { btnZoomWidthClick(); });
  connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);

  previewDocument_ = new TdtpDocument(this);
  previewDocument_->setObjectName("PreviewDocument");
  previewDocument_->SetPrintQuality(pqHigh);
  previewDocument_->SetQuality(sfSpline);
  previewDocument_->SetViewStyle(vsPrintLayout);
  previewDocument_->SetMode(vmBrowse);
  previewDocument_->SetShowMargins(true);
  previewDocument_->SetAutoWidth(true);
  layout->addWidget(previewDocument_, 1);

  StatusBar = new QStatusBar(this);
  StatusBar->setSizeGripEnabled(false);
  const int widths[3] = {250, 250, 50};
  for (int i = 0; i < 3; ++i) {
    Panels[i] = new QLabel(StatusBar);
    Panels[i]->setMinimumWidth(widths[i]);
    StatusBar->addWidget(Panels[i], i == 2 ? 1 : 0);
  }
  layout->addWidget(StatusBar);
  RunPrinterSetup = [](QWidget* owner) { return RunPrinterSetupDialog(owner); };
  ApplyLanguage();
  LayoutButtons();
}

TPreviewForm::~TPreviewForm() = default;

void TPreviewForm::SetSource(TdtpDocument& source) {
  if (previewDocument_->PageCount() == 0) previewDocument_->SetCurrentPageIndex(previewDocument_->AddPage());
  if (TdtpPage* page = source.GetCurrentPage()) previewDocument_->GetCurrentPage()->Assign(*page);
  // The only undo group the preview keeps is its own preparation.
  previewDocument_->ClearUndo();
  prepared_ = false;
}

void TPreviewForm::WarnSmallPaper() {
  if (CheckPaperFit(*previewDocument_) != pfFits)
    QMessageBox::warning(this, windowTitle(), Localizer().Text("Messages", "SmallPaperSize"));
}

void TPreviewForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Shown again after being minimised, the copy is prepared already.
  if (event->spontaneous() || prepared_) return;
  prepared_ = true;
  try {
    WarnSmallPaper();
    PreparePreview();
    ShowPrinterInfo();
    previewDocument_->ZoomReset();
  } catch (...) {
    ShowCurrentException();
  }
}

bool TPreviewForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == pnlButtons && event->type() == QEvent::Resize) LayoutButtons();
  return QDialog::eventFilter(watched, event);
}

void TPreviewForm::PreparePreview() {
  previewDocument_->BeginUndo();
  try {
    PrepareForOutput(*previewDocument_, true);
  } catch (...) {
    previewDocument_->EndUndo();
    throw;
  }
  previewDocument_->EndUndo();
}

void TPreviewForm::Reprepare() {
  previewDocument_->Undo();
  previewDocument_->ClearUndo();
  WarnSmallPaper();
  PreparePreview();
  ShowPrinterInfo();
}

void TPreviewForm::btnPrintSetupClick() {
  try {
    if (!RunPrinterSetup || !RunPrinterSetup(this)) return;
    Reprepare();
  } catch (...) {
    ShowCurrentException();
  }
}

void TPreviewForm::btnZoomOutClick() {
  if (previewDocument_->ZoomPercent() > kMinZoom) previewDocument_->ZoomOut();
}

void TPreviewForm::btnZoomInClick() {
  if (previewDocument_->ZoomPercent() < kMaxZoom) previewDocument_->ZoomIn();
}

void TPreviewForm::btnZoomWidthClick() { previewDocument_->ZoomReset(); }

void TPreviewForm::ShowPrinterInfo() {
  std::string printer, paper;
  TPrinterPageInfo info;
  try {
    printer = CurrentPrinterName();
    paper = GetPrinterPaperName();
    info = GetPrinterPageInfo();
  } catch (const std::exception&) {
  }
  const QLocale locale;
  Panels[0]->setText(QString(" %1: %2").arg(Text("Printer"), QString::fromStdString(printer)));
  Panels[1]->setText(QString(" %1: %2").arg(Text("PaperFormat"), QString::fromStdString(paper)));
  Panels[2]->setText(QString(" %1: %2 x %3 %4")
                         .arg(Text("PageSize"), locale.toString(info.PaperWidth, 'f', 2),
                              locale.toString(info.PaperHeight, 'f', 2), Text("Millimeters")));
}

void TPreviewForm::LayoutButtons() {
  if (pnlButtons == nullptr) return;
  const int w = kTextButton.Width, h = kTextButton.Height;
  const int x0 = (pnlButtons->width() - (kButtonCount * w + (kButtonCount - 1) * kButtonGap)) / 2;
  const int y0 = (pnlButtons->height() - h) / 2;
  QPushButton* const buttons[kButtonCount] = {btnPrintSetup, btnZoomOut, btnZoomIn, btnZoomWidth, btnClose};
  for (int i = 0; i < kButtonCount; ++i) buttons[i]->setGeometry(x0 + i * (w + kButtonGap), y0, w, h);
}

void TPreviewForm::ApplyLanguage() {
  setWindowTitle(Text("Caption"));
  const std::pair<QPushButton*, const char*> buttons[] = {{btnPrintSetup, "PrintSetup"},
                                                          {btnZoomOut, "ZoomOut"},
                                                          {btnZoomIn, "ZoomIn"},
                                                          {btnZoomWidth, "ZoomWidth"},
                                                          {btnClose, "Close"}};
  for (const auto& [button, key] : buttons) {
    button->setText(Text(key));
    button->setToolTip(Text((std::string(key) + "Hint").c_str()));
  }
}

bool PreviewCommand(TdtpDocument& project, QWidget* parent) {
  if (!HasPage(project)) return false;
  // A printer added while the program runs becomes the current one here,
  // so that the preview is prepared for it and names it.
  RefreshCurrentPrinter();
  if (PrinterNames().empty()) {
    ShowError(Localizer().GetString("Messages", "NoPrinter"));
    return false;
  }
  TPreviewForm form(parent);
  form.SetSource(project);
  form.exec();
  return true;
}

}  // namespace kdl
