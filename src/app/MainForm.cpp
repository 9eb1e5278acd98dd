#include "app/MainForm.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QTextCursor>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <vector>

#include "app/AboutDialog.h"
#include "app/DialogParts.h"
#include "app/HtmlHelp.h"
#include "app/Localizer.h"
#include "app/MultiTextEditorDialog.h"
#include "app/NewProjectDialog.h"
#include "app/OptionsDialog.h"
#include "app/Placement.h"
#include "app/Units.h"
#include "app/VersionInfo.h"
#include "app/WebLinks.h"
#include "app/output/PdfExport.h"
#include "app/output/PreviewForm.h"
#include "app/output/PrintHelper.h"
#include "app/output/SavePdfDialog.h"
#include "app/project/Templates.h"
#include "app/shapes/ProjectInfoShape.h"
#include "document/view/Document.h"
#include "document/view/Page.h"
#include "kdl/Version.h"
#include "platform/qt/ErrorDisplay.h"

namespace kdl {
namespace {

// On screen a millimetre of the page is taken 1.11 times its nominal size,
// so that 100 % shows the label about as large as it is printed.
constexpr float kScreenMillimetre = 1.11f;
constexpr int kCaptionHeight = 20;
// The document panel's border that the centring leaves out.
constexpr int kPanelBorder = 4;
constexpr const char* kProjectExtension = "ovx";

// Runs a handler's body; an exception ends the command, never the event
// loop: it is shown in the error box and the window stays usable.
template <typename F>
void Guarded(F&& body) {
  try {
    body();
  } catch (...) {
    ShowCurrentException();
  }
}

// The wait cursor while long work runs, restored on every way out.
class TWaitCursor {
 public:
  TWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~TWaitCursor() { QApplication::restoreOverrideCursor(); }
  TWaitCursor(const TWaitCursor&) = delete;
  TWaitCursor& operator=(const TWaitCursor&) = delete;
};

// Keeps the document's Modified flag through view-only changes.
class TKeepModified {
 public:
  explicit TKeepModified(TdtpDocument& document) : document_(document), modified_(document.Modified()) {}
  ~TKeepModified() {
    if (!modified_) document_.SetModified(false);
  }
  TKeepModified(const TKeepModified&) = delete;
  TKeepModified& operator=(const TKeepModified&) = delete;

 private:
  TdtpDocument& document_;
  bool modified_;
};

// File names go to the system as the bytes Qt would hand it, so that what
// the dialog showed is the file that is opened.
std::string ToFileName(const QString& name) { return QFile::encodeName(name).toStdString(); }
QString FromFileName(const std::string& name) { return QFile::decodeName(QByteArray::fromStdString(name)); }

// The memo shows LF line breaks; the contents shape keeps CR LF.
QString ToMemoText(const std::string& text) {
  return QString::fromStdString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}
std::string FromMemoText(const QString& text) {
  return QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
      .replace(QLatin1Char('\n'), QStringLiteral("\r\n"))
      .toStdString();
}

QString Text(const char* section, const char* key) { return Localizer().Text(section, key); }

// A number with one decimal, right-aligned in width characters.
QString OneDecimal(double value, int width) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 1);
  return QString::fromLatin1(buffer, result.ptr - buffer).rightJustified(width);
}

QString ProjectFilter() { return QString::fromUtf8(version::ProductName) + QStringLiteral(" (*.ovx)"); }

// Qt's own file dialog (never the desktop's, so that it looks and behaves
// the same everywhere); empty when cancelled.
QString AskFileName(QWidget* parent, const char* name, bool save, const QString& title,
                    const QStringList& filters, int filterIndex, const QString& preset = {}) {
  QFileDialog dialog(parent, title);
  dialog.setObjectName(name);
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setNameFilters(filters);
  dialog.selectNameFilter(filters.value(filterIndex));
  if (save) {
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(kProjectExtension);
    if (!preset.isEmpty()) dialog.selectFile(preset);
  } else {
    dialog.setFileMode(QFileDialog::ExistingFile);
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first();
}

QWidget* NewPanel(QWidget* parent, const char* name) {
  auto* panel = new QWidget(parent);
  panel->setObjectName(name);
  return panel;
}

QLabel* NewCaptionPanel(QWidget* parent, const char* name) {
  auto* caption = new QLabel(parent);
  caption->setObjectName(name);
  caption->setFixedHeight(kCaptionHeight);
  caption->setContentsMargins(6, 0, 0, 0);
  QFont bold = caption->font();
  bold.setBold(true);
  caption->setFont(bold);
  Fill(*caption, QColor(0x80, 0x80, 0x80));
  QPalette p = caption->palette();
  p.setColor(QPalette::WindowText, Qt::white);
  caption->setPalette(p);
  return caption;
}

// Each section: caption at the top, the grey line under it, its controls
// from the line down; the panel ends 8 pixels under its last control.
void LayoutSectionHead(TPlacementBounds& b, QWidget& caption, QWidget& line) {
  PlaceControl(b, caption, pmAbsolute, kSectionCaption, 15, 4);
  PlaceControl(b, line, pmNewRow, kSectionLine, 15, 1);
}

}  // namespace

TMainForm::TMainForm(QWidget* parent) : QMainWindow(parent) {
  setObjectName("MainForm");
  // 1. The version information and the localizer are the process's own.
  (void)VersionInfo();
  updating_ = false;
  CreateMenu();
  CreateDataPanel();
  CreatePreview();
  // 2.
  SetComponentTags();
  // 4.
  setMinimumSize(920, 635);
  // 5. The preview's document.
  TdtpDocument& doc = *document_;
  doc.SetRenderDPI(72);
  doc.SetAutoWidth(false);
  if (TdtpPage* page = doc.GetCurrentPage()) page->ClearShapes();
  doc.SetModified(false);
  // 6.
  SetColors();
  LayoutControls();
  {
    std::unique_ptr<QSettings> user = OpenUserSettings();
    std::unique_ptr<QSettings> system = OpenSystemSettings();
    settings_ = LoadSettings(*user, *system);
  }
  RestoreWindowGeometry(*this, settings_);
  Guarded([this] { LoadLanguage(); });
  EnableProjectControls();
}

TMainForm::~TMainForm() {
  // Before the panels that hold them as children.
  helpViewer_.reset();
  document_.reset();
}

bool TMainForm::Start() {
  // 8. Templates that cannot be written leave the program nothing to open.
  try {
    if (TemplateFilesMissing()) {
      TWaitCursor wait;
      CreateTemplateFiles(*document_);
    }
  } catch (...) {
    ShowCurrentException();
    return false;
  }
  // 9.
  Guarded([this] {
    if (settings_.RunWizardOnStartup)
      NewProjectCommand();
    else
      ProjectChanged();
  });
  // A project chosen before the window showed was fitted to panels that
  // had no size yet.
  zoomOnShow_ = !isVisible() && HasPage(*document_);
  return true;
}

// ---- Building the window ---------------------------------------------------------------------

QAction* TMainForm::AddAction(QMenu& menu, const char* name, void (TMainForm::*command)()) {
  auto* action = menu.addAction(QString());
  action->setObjectName(name);
  connect(action, &QAction::triggered, this, [this, command] { Guarded([&] { (this->*command)(); }); });
  return action;
}

void TMainForm::CreateMenu() {
  miFile_ = menuBar()->addMenu(QString());
  miFile_->setObjectName("miFile");
  AddAction(*miFile_, "miFileNewProject", &TMainForm::NewProjectCommand);
  AddAction(*miFile_, "miFileOpenProject", &TMainForm::OpenProjectCommand);
  AddAction(*miFile_, "miFileSaveProject", &TMainForm::SaveCommand)->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
  AddAction(*miFile_, "miFileSaveProjectAs", &TMainForm::SaveAsCommand);
  miFile_->addSeparator();
  AddAction(*miFile_, "miFileExportToPdf", &TMainForm::ExportPdfCommand);
  miFile_->addSeparator();
  AddAction(*miFile_, "miFileShowOptions", &TMainForm::OptionsCommand)
      ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
  miFile_->addSeparator();
  AddAction(*miFile_, "miFilePrintPreview", &TMainForm::PreviewCommand);
  AddAction(*miFile_, "miFilePrintSetup", &TMainForm::PrintSetupCommand);
  AddAction(*miFile_, "miFilePrint", &TMainForm::PrintCommand)->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
  miFile_->addSeparator();
  AddAction(*miFile_, "miFileExit", &TMainForm::ExitCommand);

  miZoom_ = menuBar()->addMenu(QString());
  miZoom_->setObjectName("miZoom");
  AddAction(*miZoom_, "miZoomZoomIn", &TMainForm::ZoomInCommand);
  AddAction(*miZoom_, "miZoomZoomOut", &TMainForm::ZoomOutCommand);
  AddAction(*miZoom_, "miZoomZoomToWindow", &TMainForm::ZoomToWindowCommand);
  miZoomZoom_ = miZoom_->addMenu(QString());
  miZoomZoom_->setObjectName("miZoomZoom");
  miZoomZoom_->menuAction()->setObjectName("miZoomZoomItem");
  for (int percent : {25, 50, 100, 200, 500}) {
    QAction* item = miZoomZoom_->addAction(QString::number(percent) + QLatin1Char('%'));
    item->setObjectName(QStringLiteral("miZoomN%1").arg(percent));
    connect(item, &QAction::triggered, this, [this, item] {
      Guarded([&] { SetZoom(static_cast<float>(item->property(kTagProperty).toInt())); });
    });
  }

  miHelp_ = menuBar()->addMenu(QString());
  miHelp_->setObjectName("miHelp");
  AddAction(*miHelp_, "miHelpHelpContents", &TMainForm::HelpContentsCommand)->setShortcut(QKeySequence(Qt::Key_F1));
  miHelpCoverSeach_ = miHelp_->addMenu(QString());
  miHelpCoverSeach_->setObjectName("miHelpCoverSeach");
  for (const TCoverSearchSite& site : kCoverSearchSites) {
    QAction* item = miHelpCoverSeach_->addAction(QString::fromLatin1(site.Host));
    item->setObjectName(QStringLiteral("miHelpCoverSearch_") + QString::fromLatin1(site.Host));
    const QUrl url(QString::fromLatin1(site.Url));
    connect(item, &QAction::triggered, this, [url] { Guarded([&] { QDesktopServices::openUrl(url); }); });
  }
  AddAction(*miHelp_, "miHelpHomepage", &TMainForm::HomepageCommand);
  miHelp_->addSeparator();
  AddAction(*miHelp_, "miHelpContactSupport", &TMainForm::ContactSupportCommand);
  AddAction(*miHelp_, "miHelpSuggestFeature", &TMainForm::SuggestFeatureCommand);
  AddAction(*miHelp_, "miHelpReportBug", &TMainForm::ReportBugCommand);
  miHelp_->addSeparator();
  AddAction(*miHelp_, "miHelpAbout", &TMainForm::AboutCommand);
}

QPushButton* TMainForm::AddButton(QWidget& section, const char* name, void (TMainForm::*handler)(int)) {
  auto* button = new QPushButton(&section);
  button->setObjectName(name);
  button->setFocusPolicy(Qt::TabFocus);
  connect(button, &QPushButton::clicked, this, [this, button, handler] {
    Guarded([&] { (this->*handler)(button->property(kTagProperty).toInt()); });
  });
  return button;
}

void TMainForm::CreateDataPanel() {
  pnlData_ = NewPanel(nullptr, "pnlData");
  pnlData_->setFixedWidth(kDataPanelWidth);
  pnlDataCaption_ = NewCaptionPanel(pnlData_, "pnlDataCaption");

  pnlImageSection_ = NewPanel(pnlData_, "pnlImageSection");
  txtImageSectionCaption_ = CreateSectionCaption(*pnlImageSection_, "txtImageSectionCaption");
  CreateDecorationLine(*pnlImageSection_, "pnlImageSectionDecLine");
  btnLoadImage_ = AddButton(*pnlImageSection_, "btnLoadImage", &TMainForm::OnLoadImageClick);
  btnCropImage_ = AddButton(*pnlImageSection_, "btnCropImage", &TMainForm::OnCropImageClick);
  btnImagePosition_ = AddButton(*pnlImageSection_, "btnImagePosition", &TMainForm::OnObjectPositionClick);
  cbDoNotUseImage_ = new QCheckBox(pnlImageSection_);
  cbDoNotUseImage_->setObjectName("cbDoNotUseImage");
  connect(cbDoNotUseImage_, &QCheckBox::toggled, this, [this] { Guarded([&] { cbDoNotUseImageClick(); }); });
  btnRestoreImagePosition_ =
      AddButton(*pnlImageSection_, "btnRestoreImagePosition", &TMainForm::OnRestoreImagePositionClick);

  for (int i = 0; i < 4; ++i) {
    const std::string n = std::to_string(i + 1);
    QWidget* section = pnlTitleSection_[i] = NewPanel(pnlData_, ("pnlTitle" + n + "Section").c_str());
    txtTitleSectionCaption_[i] = CreateSectionCaption(*section, ("txtTitle" + n + "SectionCaption").c_str());
    CreateDecorationLine(*section, ("pnlTitle" + n + "SectionDecLine").c_str());
    edtTitleText_[i] = new QLineEdit(section);
    edtTitleText_[i]->setObjectName(QString::fromStdString("edtTitle" + n + "Text"));
    connect(edtTitleText_[i], &QLineEdit::textChanged, this,
            [this, i] { Guarded([&] { TitleTextChange(kFirstTitleIndex + i); }); });
    btnTitleFont_[i] = AddButton(*section, ("btnTitle" + n + "Font").c_str(), &TMainForm::OnTextFontClick);
    btnTitlePosition_[i] =
        AddButton(*section, ("btnTitle" + n + "Position").c_str(), &TMainForm::OnObjectPositionClick);
  }

  pnlContentsSection_ = NewPanel(pnlData_, "pnlContentsSection");
  txtContentsSectionCaption_ = CreateSectionCaption(*pnlContentsSection_, "txtContentsSectionCaption");
  CreateDecorationLine(*pnlContentsSection_, "pnlContentsSectionDecLine");
  memContentsText_ = new QPlainTextEdit(pnlContentsSection_);
  memContentsText_->setObjectName("memContentsText");
  memContentsText_->setLineWrapMode(QPlainTextEdit::NoWrap);
  memContentsText_->setTabChangesFocus(true);
  connect(memContentsText_, &QPlainTextEdit::textChanged, this, [this] { Guarded([&] { memContentsTextChange(); }); });
  btnContentsPosition_ = AddButton(*pnlContentsSection_, "btnContentsPosition", &TMainForm::OnObjectPositionClick);
  btnContentsFont_ = AddButton(*pnlContentsSection_, "btnContentsFont", &TMainForm::OnTextFontClick);
  const std::array<std::pair<const char*, void (TMainForm::*)(int)>, 6> aligns{{
      {"btnContentsAlignLeft", &TMainForm::OnAlignTextLeftClick},
      {"btnContentsAlignCenter", &TMainForm::OnAlignTextCenterClick},
      {"btnContentsAlignRight", &TMainForm::OnAlignTextRightClick},
      {"btnContentsAlignTop", &TMainForm::OnAlignTextTopClick},
      {"btnContentsAlignMiddle", &TMainForm::OnAlignTextMiddleClick},
      {"btnContentsAlignBottom", &TMainForm::OnAlignTextBottomClick},
  }};
  for (std::size_t i = 0; i < aligns.size(); ++i)
    btnContentsAlign_[i] = AddButton(*pnlContentsSection_, aligns[i].first, aligns[i].second);
  btnContentsEdit_ = AddButton(*pnlContentsSection_, "btnContentsEdit", &TMainForm::btnContentsEditClick);

  pnlPrintSection_ = NewPanel(pnlData_, "pnlPrintSection");
  txtPrintSectionCaption_ = CreateSectionCaption(*pnlPrintSection_, "txtPrintSectionCaption");
  CreateDecorationLine(*pnlPrintSection_, "pnlPrintSectionDecLine");
  cbPrintCutLines_ = new QCheckBox(pnlPrintSection_);
  cbPrintCutLines_->setObjectName("cbPrintCutLines");
  connect(cbPrintCutLines_, &QCheckBox::toggled, this, [this] { Guarded([&] { PrintLinesClick(kCutLineTag); }); });
  cbPrintFoldLines_ = new QCheckBox(pnlPrintSection_);
  cbPrintFoldLines_->setObjectName("cbPrintFoldLines");
  connect(cbPrintFoldLines_, &QCheckBox::toggled, this, [this] { Guarded([&] { PrintLinesClick(kFoldLineTag); }); });
  btnPrinterSetup_ = AddButton(*pnlPrintSection_, "btnPrinterSetup", &TMainForm::btnPrinterSetupClick);
  btnPrint_ = AddButton(*pnlPrintSection_, "btnPrint", &TMainForm::btnPrintClick);
  btnShowProcessHelp_ = AddButton(*pnlPrintSection_, "btnShowProcessHelp", &TMainForm::btnShowProcessHelpClick);

  // The glyphs of the small buttons.
  btnImagePosition_->setText(QStringLiteral("✥"));
  btnRestoreImagePosition_->setText(QStringLiteral("↺"));
  for (int i = 0; i < 4; ++i) {
    btnTitleFont_[i]->setText(QStringLiteral("A"));
    btnTitlePosition_[i]->setText(QStringLiteral("✥"));
  }
  btnContentsPosition_->setText(QStringLiteral("✥"));
  btnContentsFont_->setText(QStringLiteral("A"));
  btnContentsEdit_->setText(QStringLiteral("…"));
  const std::array<const char*, 6> alignGlyphs{"⇤", "↔", "⇥", "⤒", "↕", "⤓"};
  for (std::size_t i = 0; i < alignGlyphs.size(); ++i) btnContentsAlign_[i]->setText(QString::fromUtf8(alignGlyphs[i]));
  btnShowProcessHelp_->setText(QStringLiteral("?"));
}

void TMainForm::CreatePreview() {
  auto* central = NewPanel(this, "pnlClient");
  auto* row = new QHBoxLayout(central);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(0);
  pnlData_->setParent(central);
  row->addWidget(pnlData_);

  auto* preview = NewPanel(central, "pnlPreview");
  auto* column = new QVBoxLayout(preview);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  pnlPreviewCaption_ = NewCaptionPanel(preview, "pnlPreviewCaption");
  column->addWidget(pnlPreviewCaption_);
  pnlDocument_ = NewPanel(preview, "pnlDocument");
  column->addWidget(pnlDocument_, 1);
  row->addWidget(preview, 1);

  pnlDummyTop_ = NewPanel(pnlDocument_, "pnlDummyTop");
  pnlDummyLeft_ = NewPanel(pnlDocument_, "pnlDummyLeft");
  document_ = std::make_unique<TdtpDocument>();
  document_->setObjectName("Document");
  TdtpDocument& doc = *document_;
  doc.SetDevice(dtScreen);
  doc.SetPrintQuality(pqHigh);
  doc.SetFontEmbedding(false);
  doc.SetHotzoneScrolling(hzsAlways);
  doc.SetMode(vmEdit);
  doc.SetQuality(sfSpline);
  doc.SetRenderAtScreenRes(true);
  doc.SetShowMargins(false);
  doc.SetStoreThumbnails(false);
  doc.SetViewStyle(vsNormal);
  doc.SetBorderStyle(bsNone);
  doc.SetAutoWidth(false);
  doc.OnShapePasted = [](TdtpDocument&, TdtpShape* shape) {
    if (shape) FreePastedCopy(*shape);
  };
  doc.SetParent(pnlDocument_);
  doc.viewport()->setMouseTracking(true);
  doc.viewport()->installEventFilter(this);
  pnlDocument_->installEventFilter(this);
  setCentralWidget(central);

  statusFileName_ = new QLabel(statusBar());
  statusFileName_->setObjectName("StatusBarPanel0");
  statusFileName_->setFixedWidth(250);
  statusCursor_ = new QLabel(statusBar());
  statusCursor_->setObjectName("StatusBarPanel1");
  statusCursor_->setMinimumWidth(50);
  statusBar()->addWidget(statusFileName_);
  statusBar()->addWidget(statusCursor_, 1);
  statusBar()->setSizeGripEnabled(false);
}

void TMainForm::SetComponentTags() {
  auto tag = [](QObject* o, int value) { o->setProperty(kTagProperty, value); };
  for (QObject* o : std::initializer_list<QObject*>{btnLoadImage_, btnCropImage_, btnImagePosition_,
                                                    btnRestoreImagePosition_})
    tag(o, kImageIndex);
  for (int i = 0; i < 4; ++i) {
    tag(btnTitleFont_[i], kFirstTitleIndex + i);
    tag(btnTitlePosition_[i], kFirstTitleIndex + i);
  }
  for (QObject* o : std::initializer_list<QObject*>{btnContentsPosition_, btnContentsFont_, btnContentsEdit_})
    tag(o, kContentsIndex);
  for (QPushButton* b : btnContentsAlign_) tag(b, kContentsIndex);
  for (QAction* item : miZoomZoom_->actions())
    tag(item, item->objectName().mid(QStringLiteral("miZoomN").size()).toInt());
}

void TMainForm::SetColors() {
  for (QWidget* w : {static_cast<QWidget*>(pnlDocument_), pnlDummyLeft_, pnlDummyTop_,
                     static_cast<QWidget*>(document_.get())})
    Fill(*w, Qt::white);
  document_->SetColor(0xFFFFFF);
}

void TMainForm::LayoutControls() {
  pnlDataCaption_->setGeometry(0, 0, kDataPanelWidth, kCaptionHeight);
  int top = kCaptionHeight;
  auto finish = [&](QWidget* section, const TPlacementBounds& b) {
    section->setGeometry(0, top, kDataPanelWidth, b.Bottom + 8);
    top += b.Bottom + 8;
  };
  auto head = [](QWidget* section, TPlacementBounds& b) {
    const QList<QWidget*> parts = section->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    LayoutSectionHead(b, *parts.at(0), *parts.at(1));
  };

  // Image: load, crop and position in a row; the no-image box and the
  // restore button under them.
  TPlacementBounds b;
  head(pnlImageSection_, b);
  PlaceControl(b, *btnLoadImage_, pmNewRow, kTextButton, 15, 6);
  PlaceControl(b, *btnCropImage_, pmRight, kTextButton, 6, 0);
  PlaceControl(b, *btnImagePosition_, pmRight, kGlyphButton, 6, 0);
  PlaceControl(b, *cbDoNotUseImage_, pmNewRow, kNoImageCheckBox, 15, 6);
  PlaceControl(b, *btnRestoreImagePosition_, pmRight, kGlyphButton, 6, 0);
  finish(pnlImageSection_, b);

  for (int i = 0; i < 4; ++i) {
    b = {};
    head(pnlTitleSection_[i], b);
    PlaceControl(b, *edtTitleText_[i], pmNewRow, kTitleEdit, 15, 6);
    PlaceControl(b, *btnTitleFont_[i], pmRight, kGlyphButton, 6, 0);
    PlaceControl(b, *btnTitlePosition_[i], pmRight, kGlyphButton, 6, 0);
    finish(pnlTitleSection_[i], b);
  }

  // Contents: the memo with position and font beside it; under it the
  // alignments in two groups of three and the editor button on the right.
  b = {};
  head(pnlContentsSection_, b);
  PlaceControl(b, *memContentsText_, pmNewRow, kContentsMemo, 15, 6);
  PlaceControl(b, *btnContentsPosition_, pmRight, kGlyphButton, 6, 0);
  PlaceControl(b, *btnContentsFont_, pmUnder, kGlyphButton, 0, 4);
  PlaceControl(b, *btnContentsAlign_[0], pmNewRow, kGlyphButton, 15, 6);
  PlaceControl(b, *btnContentsAlign_[1], pmRight, kGlyphButton, 0, 0);
  PlaceControl(b, *btnContentsAlign_[2], pmRight, kGlyphButton, 0, 0);
  PlaceControl(b, *btnContentsAlign_[3], pmRight, kGlyphButton, 6, 0);
  PlaceControl(b, *btnContentsAlign_[4], pmRight, kGlyphButton, 0, 0);
  PlaceControl(b, *btnContentsAlign_[5], pmRight, kGlyphButton, 0, 0);
  PlaceControl(b, *btnContentsEdit_, pmRight, kGlyphButton, 22, 0);
  finish(pnlContentsSection_, b);

  b = {};
  head(pnlPrintSection_, b);
  PlaceControl(b, *cbPrintCutLines_, pmNewRow, kPrintCheckBox, 15, 6);
  PlaceControl(b, *cbPrintFoldLines_, pmNewRow, kPrintCheckBox, 15, 0);
  PlaceControl(b, *btnPrinterSetup_, pmNewRow, kTextButton, 15, 6);
  PlaceControl(b, *btnPrint_, pmRight, kTextButton, 6, 0);
  PlaceControl(b, *btnShowProcessHelp_, pmRight, kGlyphButton, 6, 0);
  finish(pnlPrintSection_, b);
  pnlData_->setMinimumHeight(top);
}

void TMainForm::LoadLanguage() {
  kdl::LoadLanguage(settings_.Language);
  ApplyLanguage();
  UpdateStatusBar();
}

void TMainForm::ApplyLanguage() {
  auto caption = [this](const char* name, const char* key) {
    if (auto* a = findChild<QAction*>(QString::fromLatin1(name))) a->setText(Text("Menu", key));
  };
  miFile_->setTitle(Text("Menu", "File"));
  miZoom_->setTitle(Text("Menu", "View"));
  miHelp_->setTitle(Text("Menu", "Help"));
  miZoomZoom_->setTitle(Text("Menu", "Zoom"));
  miHelpCoverSeach_->setTitle(Text("Menu", "CoverSearch"));
  for (const auto& [name, key] : std::initializer_list<std::pair<const char*, const char*>>{
           {"miFileNewProject", "NewProject"},   {"miFileOpenProject", "OpenProject"},
           {"miFileSaveProject", "SaveProject"}, {"miFileSaveProjectAs", "SaveProjectAs"},
           {"miFileExportToPdf", "ExportToPDF"}, {"miFileShowOptions", "ShowOptions"},
           {"miFilePrintPreview", "PrintPreview"}, {"miFilePrintSetup", "PrintSetup"},
           {"miFilePrint", "Print"},             {"miFileExit", "Exit"},
           {"miZoomZoomIn", "ZoomIn"},           {"miZoomZoomOut", "ZoomOut"},
           {"miZoomZoomToWindow", "ZoomToWindow"}, {"miHelpHelpContents", "HelpContents"},
           {"miHelpHomepage", "Homepage"},       {"miHelpContactSupport", "ContactSupport"},
           {"miHelpSuggestFeature", "SuggestFeature"}, {"miHelpReportBug", "ReportBug"},
           {"miHelpAbout", "About"}})
    caption(name, key);
  setWindowTitle(QString::fromStdString(VersionInfo().ProductName) + QStringLiteral(" [Freeware]"));

  auto t = [](const char* key) { return Text("MainForm", key); };
  pnlDataCaption_->setText(t("Data"));
  pnlPreviewCaption_->setText(t("Preview"));
  txtImageSectionCaption_->setText(t("ImageSection"));
  btnLoadImage_->setText(t("LoadImage"));
  btnLoadImage_->setToolTip(t("LoadImageHint"));
  btnCropImage_->setText(t("CropImage"));
  btnCropImage_->setToolTip(t("CropImageHint"));
  btnImagePosition_->setToolTip(t("PositionHint"));
  btnRestoreImagePosition_->setToolTip(t("RestoreImagePositionHint"));
  cbDoNotUseImage_->setText(t("DoNotUseImage"));
  for (int i = 0; i < 4; ++i) {
    const std::string key = "Title" + std::to_string(i + 1) + "Section";
    txtTitleSectionCaption_[i]->setText(t(key.c_str()));
    btnTitleFont_[i]->setToolTip(t("FontHint"));
    btnTitlePosition_[i]->setToolTip(t("PositionHint"));
  }
  txtContentsSectionCaption_->setText(t("ContentsSection"));
  btnContentsFont_->setToolTip(t("FontHint"));
  btnContentsPosition_->setToolTip(t("PositionHint"));
  const std::array<const char*, 6> alignHints{"AlignLeftHint",  "AlignCenterHint", "AlignRightHint",
                                              "AlignTopHint",   "AlignMiddleHint", "AlignBottomHint"};
  for (std::size_t i = 0; i < alignHints.size(); ++i) btnContentsAlign_[i]->setToolTip(t(alignHints[i]));
  btnContentsEdit_->setToolTip(t("ContentsEditHint"));
  txtPrintSectionCaption_->setText(t("PrintSection"));
  btnPrinterSetup_->setText(t("PrinterSetup"));
  btnPrinterSetup_->setToolTip(t("PrinterSetupHint"));
  btnPrint_->setText(t("Print"));
  btnPrint_->setToolTip(t("PrintHint"));
  btnShowProcessHelp_->setToolTip(t("ShowProcessHelpHint"));
  cbPrintFoldLines_->setText(t("PrintFoldLines"));
  cbPrintCutLines_->setText(t("PrintCutLines"));
}

void TMainForm::ArrangeDocumentPanel() {
  // The top filler spans the panel; the left one and the document share
  // what is under it.
  const int w = pnlDocument_->width(), h = pnlDocument_->height();
  const int top = std::min(pnlDummyTop_->height(), h);
  const int left = std::min(pnlDummyLeft_->width(), w);
  pnlDummyTop_->setGeometry(0, 0, w, top);
  pnlDummyLeft_->setGeometry(0, top, left, h - top);
  document_->setGeometry(left, top, w - left, h - top);
}

QSize TMainForm::DocumentOffset() const { return {pnlDummyLeft_->width(), pnlDummyTop_->height()}; }

int TMainForm::ScreenDpi() const { return document_->logicalDpiY(); }

QString TMainForm::StatusText(int panel) const {
  return panel == 0 ? statusFileName_->text() : statusCursor_->text();
}

TProjectHooks TMainForm::Hooks() {
  TProjectHooks hooks;
  hooks.CheckPrinterOrientation = [this] { CheckPrinterOrientation(*document_); };
  hooks.ZoomToWindow = [this] { ZoomToWindow(true); };
  hooks.RefreshStatusBar = [this] { UpdateStatusBar(); };
  return hooks;
}

// ---- The view ----------------------------------------------------------------------------------

void TMainForm::SetZoom(float percent) {
  TdtpDocument& doc = *document_;
  if (!HasPage(doc)) return;
  TKeepModified keep(doc);
  pnlDummyLeft_->resize(0, pnlDummyLeft_->height());
  pnlDummyTop_->resize(pnlDummyTop_->width(), 0);
  ArrangeDocumentPanel();
  doc.SetAutoScroll(false);
  doc.SetAutoWidth(false);
  doc.ZoomReset();
  // How tall the page shows at the fitted width, in screen millimetres.
  TdtpPage* page = doc.GetCurrentPage();
  const float bottom = page->DocTop() + page->DocHeight();
  const TFloatPoint corner = doc.DocToScreen({page->DocLeft() + page->DocWidth(), bottom});
  const float shown = PixelsToMM(static_cast<std::int32_t>(corner.Y), ScreenDpi());
  // A zoom that is no number (a page without size) shows the page as it is.
  if (std::isnan(percent)) percent = 100;
  zoom_ = std::clamp(percent, kMinZoom, kMaxZoom);
  float e = shown * kScreenMillimetre;
  if (e < 1) e = 1;
  doc.SetAutoWidth(true);
  doc.SetZoomPercent(zoom_ * (bottom / e));
  doc.SetAutoWidth(false);
  doc.SetAutoScroll(true);
  CenterDocument();
}

void TMainForm::ZoomToWindow(bool limit) {
  TdtpDocument& doc = *document_;
  if (!HasPage(doc)) return;
  const float w = PixelsToMM(pnlDocument_->width() - kPanelBorder, ScreenDpi());
  const float h = PixelsToMM(pnlDocument_->height() - kPanelBorder, ScreenDpi());
  float c = std::min(h * kScreenMillimetre / doc.PageHeight(), w * kScreenMillimetre / doc.PageWidth());
  // A page without width or height gives no fit: it shows at full size.
  if (!std::isfinite(c)) c = 1;
  if (limit && c > 1) c = 1;
  SetZoom(c * 100 * 0.99f);
  // The panel's size leaves out the desk around the page and the scroll
  // bars it brings: while the page reaches past the view that remains,
  // fit again to that view.
  for (int pass = 0; pass < 4; ++pass) {
    const TdtpPage* page = doc.GetCurrentPage();
    const TFloatPoint corner =
        doc.DocToScreen({page->DocLeft() + page->DocWidth(), page->DocTop() + page->DocHeight()});
    const QSize view = doc.viewport()->size();
    if (view.width() <= 0 || view.height() <= 0) break;
    const float over = std::max(corner.X / static_cast<float>(view.width()),
                                corner.Y / static_cast<float>(view.height()));
    if (!(over > 1)) break;
    SetZoom(zoom_ / over * 0.99f);
  }
}

void TMainForm::CenterDocument() {
  TdtpDocument& doc = *document_;
  int left = 0, top = 0;
  if (HasPage(doc)) {
    TdtpPage* page = doc.GetCurrentPage();
    const TFloatPoint corner =
        doc.DocToScreen({page->DocLeft() + page->DocWidth(), page->DocTop() + page->DocHeight()});
    const int x = static_cast<int>(std::nearbyint(corner.X));
    const int y = static_cast<int>(std::nearbyint(corner.Y));
    left = std::max(0, (pnlDocument_->width() - kPanelBorder - x) / 2);
    top = std::max(0, (pnlDocument_->height() - kPanelBorder - y) / 2);
  }
  pnlDummyLeft_->resize(left, pnlDummyLeft_->height());
  pnlDummyTop_->resize(pnlDummyTop_->width(), top);
  ArrangeDocumentPanel();
}

// ---- The project ---------------------------------------------------------------------------

void TMainForm::ProjectChanged() {
  UpdateControlsFromDocument();
  EnableProjectControls();
  CenterDocument();
  UpdateStatusBar();
  document_->SetModified(false);
}

void TMainForm::UpdateControlsFromDocument() {
  TdtpDocument& doc = *document_;
  // Setting a control runs its change handler, which must not write back.
  updating_ = true;
  struct TDone {
    bool& flag;
    ~TDone() { flag = false; }
  } done{updating_};
  if (!HasPage(doc)) {
    for (QLineEdit* edit : edtTitleText_) edit->clear();
    memContentsText_->clear();
    cbDoNotUseImage_->setChecked(false);
    cbPrintFoldLines_->setChecked(false);
    cbPrintCutLines_->setChecked(false);
    return;
  }
  const TdtpShape* image = doc.GetShape(kImageIndex);
  cbDoNotUseImage_->setChecked(image && !image->Visible());
  for (int i = 0; i < 4; ++i)
    edtTitleText_[i]->setText(QString::fromStdString(GetTextShapeText(doc, kFirstTitleIndex + i)));
  memContentsText_->setPlainText(ToMemoText(GetMemoShapeText(doc, kContentsIndex)));
  const auto* info = dynamic_cast<const TDtpProjectInfoShape*>(doc.GetShape(kProjectInfoIndex));
  cbPrintFoldLines_->setChecked(info && info->PrintFoldLines());
  cbPrintCutLines_->setChecked(info && info->PrintCutLines());
}

void TMainForm::EnableProjectControls() {
  const bool project = HasPage(*document_);
  // Printer set-up and the printing steps' help need no project.
  std::vector<QWidget*> controls{btnLoadImage_,        btnCropImage_,    btnImagePosition_,
                                 btnRestoreImagePosition_, cbDoNotUseImage_, memContentsText_,
                                 btnContentsPosition_, btnContentsFont_, btnContentsEdit_,
                                 cbPrintCutLines_,     cbPrintFoldLines_, btnPrint_};
  for (int i = 0; i < 4; ++i)
    controls.insert(controls.end(), {edtTitleText_[i], btnTitleFont_[i], btnTitlePosition_[i]});
  controls.insert(controls.end(), btnContentsAlign_.begin(), btnContentsAlign_.end());
  for (QWidget* control : controls) control->setEnabled(project);
  for (const char* name : {"miFileSaveProject", "miFileSaveProjectAs", "miFileExportToPdf",
                           "miFilePrintPreview", "miFilePrint", "miZoomZoomIn", "miZoomZoomOut",
                           "miZoomZoomToWindow"})
    if (auto* action = findChild<QAction*>(QString::fromLatin1(name))) action->setEnabled(project);
  miZoomZoom_->menuAction()->setEnabled(project);
  // An empty page takes no paste: a shape there would pass for a project.
  document_->SetAllowKeyInput(project);
}

std::string TMainForm::GetProjectTitle() {
  if (!HasPage(*document_)) return {};
  const std::string name = std::filesystem::path(fileName_).filename().string();
  return name.empty() ? Localizer().GetString("General", "Untitled") : name;
}

void TMainForm::UpdateStatusBar() {
  if (!HasPage(*document_)) {
    statusFileName_->clear();
    statusCursor_->clear();
    return;
  }
  statusFileName_->setText(QStringLiteral(" ") + Text("MainForm", "FileName") + QStringLiteral(": ") +
                           FromFileName(GetProjectTitle()));
}

int TMainForm::AskSaveChanges() {
  const std::string name = std::filesystem::path(fileName_).filename().string();
  QString question;
  if (name.empty())
    question = Text("Messages", "DocumentChanged");
  else
    question = Text("Messages", "DocumentChanged1") + QStringLiteral(" \"") + FromFileName(name) +
               QStringLiteral("\" ") + Text("Messages", "DocumentChanged2");
  question += QLatin1Char('\n') + Text("Messages", "PromptToSave");
  return QMessageBox::warning(this, QApplication::applicationDisplayName(), question,
                              QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
}

bool TMainForm::CanDiscardProject() {
  if (!HasPage(*document_) || !document_->Modified()) return true;
  switch (AskSaveChanges()) {
    case QMessageBox::Yes: return SaveProjectFile();
    case QMessageBox::No: return true;
    default: return false;
  }
}

// ---- Commands ----------------------------------------------------------------------------------

void TMainForm::NewProjectCommand() {
  if (!CanDiscardProject()) return;
  TNewProjectDialog dialog(this);
  dialog.SetSelectedType(settings_.PreviousTemplateType);
  if (dialog.exec() == QDialog::Accepted) {
    const int type = dialog.SelectedType();
    settings_.PreviousTemplateType = type;
    // A template is never saved over: the project starts without a name,
    // also when the template does not open.
    fileName_.clear();
    TWaitCursor wait;
    if (OpenProject(*document_, GetTemplateFileName(type), Hooks())) ApplyTemplateTexts(*document_, type);
  }
  ProjectChanged();
}

void TMainForm::OpenProjectCommand() {
  if (!CanDiscardProject()) return;
  const QString chosen = AskFileName(this, "OpenProjectDialog", false, Text("OpenProjectDialog", "Caption"),
                                     {ProjectFilter()}, 0);
  if (chosen.isEmpty()) return;
  // The name is the project's only once the file has opened: a failed
  // open leaves no project, and nothing may be saved over the file.
  fileName_.clear();
  const std::string file = ToFileName(chosen);
  bool opened;
  {
    TWaitCursor wait;
    opened = OpenProject(*document_, file, Hooks());
  }
  if (opened) fileName_ = file;
  ProjectChanged();
}

void TMainForm::SaveCommand() { SaveProjectFile(); }

void TMainForm::SaveAsCommand() { SaveProjectAs(); }

bool TMainForm::SaveProjectFile() {
  if (!HasPage(*document_)) return false;
  if (fileName_.empty()) return SaveProjectAs();
  TWaitCursor wait;
  return SaveProject(*document_, fileName_, Hooks());
}

bool TMainForm::SaveProjectAs() {
  if (!HasPage(*document_)) return false;
  // Only a file name: the project's name may hold what a path would read
  // as folders.
  const QString preset = FromFileName(PdfFileNamePreset(*document_));
  const QString chosen = AskFileName(this, "SaveProjectDialog", true, Text("SaveProjectDialog", "Caption"),
                                     {ProjectFilter()}, 0, preset);
  if (chosen.isEmpty()) return false;
  const std::string file = ToFileName(chosen);
  bool saved;
  {
    TWaitCursor wait;
    saved = SaveProject(*document_, file, Hooks());
  }
  if (saved) {
    fileName_ = file;
    UpdateStatusBar();
  }
  return saved;
}

void TMainForm::ExportPdfCommand() {
  if (!kdl::ExportPdfCommand(*document_, this)) return;
  // The dialog keeps its preset in the store itself; the window writes its
  // settings back on closing and must not write an older preset.
  std::unique_ptr<QSettings> user = OpenUserSettings();
  std::unique_ptr<QSettings> system = OpenSystemSettings();
  settings_.PDFQualityType = LoadSettings(*user, *system).PDFQualityType;
}

void TMainForm::PreviewCommand() { kdl::PreviewCommand(*document_, this); }

void TMainForm::OptionsCommand() {
  TOptionsDialog dialog(this);
  dialog.SetLanguage(settings_.Language);
  dialog.SetRunWizard(settings_.RunWizardOnStartup);
  if (dialog.exec() != QDialog::Accepted) return;
  if (dialog.Language() != settings_.Language) {
    settings_.Language = dialog.Language();
    LoadLanguage();
  }
  settings_.RunWizardOnStartup = dialog.RunWizard();
}

void TMainForm::PrintSetupCommand() { kdl::PrintSetupCommand(this); }

void TMainForm::PrintCommand() { kdl::PrintCommand(*document_, this); }

void TMainForm::ExitCommand() { close(); }

void TMainForm::ZoomInCommand() { SetZoom(zoom_ * kZoomStep); }

void TMainForm::ZoomOutCommand() { SetZoom(zoom_ / kZoomStep); }

void TMainForm::ZoomToWindowCommand() { ZoomToWindow(true); }

void TMainForm::HelpContentsCommand() {
  // Our own window, not the desktop's browser: a desktop without one still
  // shows the help.
  if (!helpViewer_) helpViewer_ = std::make_unique<THtmlHelpViewer>(this);
  if (!helpViewer_->ShowTableOfContents())
    throw Exception("The help contents \"" + DefaultHelpFile().string() + "\" cannot be found.");
}

void TMainForm::HomepageCommand() { OpenHomepage(); }

void TMainForm::ContactSupportCommand() {
  SendSupportMail(Localizer().GetString("Mail", "ContactSupportSubject"),
                  Localizer().GetString("Mail", "ContactSupportAction"));
}

void TMainForm::SuggestFeatureCommand() {
  SendSupportMail(Localizer().GetString("Mail", "SuggestFeatureSubject"),
                  Localizer().GetString("Mail", "SuggestFeatureAction"));
}

void TMainForm::ReportBugCommand() {
  SendSupportMail(Localizer().GetString("Mail", "ReportBugSubject"),
                  Localizer().GetString("Mail", "ReportBugAction"));
}

void TMainForm::AboutCommand() {
  TAboutDialog dialog(this);
  dialog.exec();
}

// ---- Data panel ----------------------------------------------------------------------------

void TMainForm::OnLoadImageClick(int tag) {
  if (!HasPage(*document_)) return;
  const QStringList filters{
      QStringLiteral("Bitmaps (*.bmp)"), QStringLiteral("JPEG Image File (*.jpg *.jpeg)"),
      QStringLiteral("Compuserve GIF (*.gif)"), QStringLiteral("Portable Network Graphics (*.png)"),
      QStringLiteral("All (*.bmp *.jpg *.jpeg *.gif *.png)")};
  const QString chosen =
      AskFileName(this, "OpenImageDialog", false, Text("OpenImageDialog", "Caption"), filters, 4);
  if (chosen.isEmpty()) return;
  TWaitCursor wait;
  LoadImageIntoShape(*document_, tag, ToFileName(chosen));
  document_->viewport()->update();
}

void TMainForm::OnCropImageClick(int tag) { CropImage(*document_, tag, this); }

void TMainForm::OnRestoreImagePositionClick(int tag) { RestoreImagePosition(*document_, tag); }

void TMainForm::OnObjectPositionClick(int tag) { SelectShape(*document_, tag); }

void TMainForm::OnTextFontClick(int tag) { EditShapeFont(*document_, tag, this); }

void TMainForm::OnAlignTextLeftClick(int tag) { SetHorzAlignment(*document_, tag, 0); }
void TMainForm::OnAlignTextCenterClick(int tag) { SetHorzAlignment(*document_, tag, 2); }
void TMainForm::OnAlignTextRightClick(int tag) { SetHorzAlignment(*document_, tag, 1); }
void TMainForm::OnAlignTextTopClick(int tag) { SetVertAlignment(*document_, tag, 0); }
void TMainForm::OnAlignTextMiddleClick(int tag) { SetVertAlignment(*document_, tag, 1); }
void TMainForm::OnAlignTextBottomClick(int tag) { SetVertAlignment(*document_, tag, 2); }

void TMainForm::btnContentsEditClick(int) {
  if (!HasPage(*document_)) return;
  TMultiTextEditorDialog dialog(this);
  dialog.SetText(memContentsText_->toPlainText());
  dialog.SetCaretPosition(memContentsText_->textCursor().position());
  if (dialog.exec() != QDialog::Accepted) return;
  memContentsText_->setPlainText(dialog.Text());
  QTextCursor caret = memContentsText_->textCursor();
  caret.setPosition(std::clamp(dialog.CaretPosition(), 0, static_cast<int>(memContentsText_->toPlainText().size())));
  memContentsText_->setTextCursor(caret);
}

void TMainForm::btnPrinterSetupClick(int) { PrintSetupCommand(); }

void TMainForm::btnPrintClick(int) { PrintCommand(); }

void TMainForm::btnShowProcessHelpClick(int) {
  if (!helpViewer_) helpViewer_ = std::make_unique<THtmlHelpViewer>(this);
  helpViewer_->DisplayHelpContext(kPrintingStepsContext);
}

void TMainForm::TitleTextChange(int index) {
  if (updating_) return;
  SetShapeText(*document_, index, edtTitleText_[index - kFirstTitleIndex]->text().toStdString());
}

void TMainForm::memContentsTextChange() {
  if (updating_) return;
  SetShapeText(*document_, kContentsIndex, FromMemoText(memContentsText_->toPlainText()));
}

void TMainForm::cbDoNotUseImageClick() {
  if (updating_) return;
  SetShapeVisible(*document_, kImageIndex, !cbDoNotUseImage_->isChecked());
}

void TMainForm::PrintLinesClick(std::int32_t kind) {
  TdtpDocument& doc = *document_;
  if (updating_ || !HasPage(doc)) return;
  auto* info = dynamic_cast<TDtpProjectInfoShape*>(doc.GetShape(kProjectInfoIndex));
  if (!info) return;
  bool shown;
  if (kind == kCutLineTag) {
    info->SetPrintCutLines(cbPrintCutLines_->isChecked());
    shown = info->PrintCutLines();
  } else {
    info->SetPrintFoldLines(cbPrintFoldLines_->isChecked());
    shown = info->PrintFoldLines();
  }
  // One undo step for all the lines of the kind, one repaint after them.
  struct TBrackets {
    TdtpDocument& d;
    explicit TBrackets(TdtpDocument& document) : d(document) {
      d.BeginUndo();
      d.BeginUpdate();
    }
    ~TBrackets() {
      d.EndUpdate();
      d.EndUndo();
    }
  } brackets(doc);
  SetLineKindVisible(doc, kind, shown);
}

void TMainForm::DocumentMouseMove(QPoint point) {
  TdtpDocument& doc = *document_;
  if (!HasPage(doc)) {
    statusCursor_->clear();
    return;
  }
  const TFloatPoint mm = doc.ScreenToDoc({static_cast<float>(point.x()), static_cast<float>(point.y())});
  const TdtpPage* page = doc.GetCurrentPage();
  const double x = mm.X - page->DocLeft(), y = mm.Y - page->DocTop();
  statusCursor_->setText(QStringLiteral(" ") + Text("MainForm", "Cursor") + QStringLiteral(": x =") +
                         OneDecimal(x, 6) + QStringLiteral("; y =") + OneDecimal(y, 6));
}

// ---- Events ------------------------------------------------------------------------------------

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
  if (document_ && watched == document_->viewport() && event->type() == QEvent::MouseMove) {
    const QPoint point = static_cast<QMouseEvent*>(event)->position().toPoint();
    Guarded([&] { DocumentMouseMove(point); });
  } else if (watched == pnlDocument_ && event->type() == QEvent::Resize && document_) {
    Guarded([&] {
      TKeepModified keep(*document_);
      ArrangeDocumentPanel();
      CenterDocument();
    });
  }
  return QMainWindow::eventFilter(watched, event);
}

void TMainForm::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!zoomOnShow_) return;
  zoomOnShow_ = false;
  // Once the layouts have given the panels their sizes.
  QTimer::singleShot(0, this, [this] {
    Guarded([this] {
      TKeepModified keep(*document_);
      ZoomToWindow(true);
    });
  });
}

void TMainForm::closeEvent(QCloseEvent* event) {
  bool close = true;
  Guarded([&] { close = CanDiscardProject(); });
  if (!close) {
    event->ignore();
    return;
  }
  Guarded([&] {
    StoreWindowGeometry(*this, settings_);
    std::unique_ptr<QSettings> user = OpenUserSettings();
    SaveSettings(*user, settings_);
    if (helpViewer_) helpViewer_->ShutDown();
  });
  event->accept();
}

}  // namespace kdl
