#include "app/NewProjectDialog.h"

#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>
#include <string>

#include "app/DialogParts.h"
#include "app/Localizer.h"
#include "app/Placement.h"
#include "platform/qt/ErrorDisplay.h"

namespace kdl {
namespace {

constexpr int kWidth = 500, kHeight = 420, kButtonRowHeight = 50;

struct TTemplateEntry {
  const char* radioName;
  const char* languageKey;
  const char* picture;
};

// By template type.
constexpr TTemplateEntry kTemplates[kTemplateCount] = {
    {"rbCDFront", "CDFront", "cd-front"},
    {"rbCDFrontDouble", "CDFrontDouble", "cd-front-double"},
    {"rbCDBack", "CDBack", "cd-back"},
    {"rbDVD", "DVD", "dvd"},
    {"rbSlimDVD", "SlimDVD", "slim-dvd"},
    {"rbPaperSleeve", "PaperSleeve", "paper-sleeve"},
    {"rbOrigamiCDCase", "OrigamiCDCase", "origami-cd-case"},
};

constexpr const char* kCategoryKeys[3] = {"CD", "DVD", "PaperCase"};

// The first template of each category, and one past the last.
constexpr int kCategoryFirst[4] = {0, 3, 5, kTemplateCount};

// Where each category's caption goes; the pictures start 5 pixels to the
// right of the caption's left edge, under its line. Category 3 stands beside
// category 2, over the third column of category 1.
constexpr int kCategoryLeft[3] = {25, 25, 25 + 2 * (104 + 10)};

}  // namespace

QPixmap TemplatePicture(int type) {
  if (type < 0 || type >= kTemplateCount) return {};
  return QPixmap(QStringLiteral(":/templates/%1.png").arg(kTemplates[type].picture));
}

TNewProjectDialog::TNewProjectDialog(QWidget* parent) : QDialog(parent) {
  setObjectName("NewProjectDlg");
  for (int c = 0; c < 3; ++c) {
    const std::string n = std::to_string(c + 1);
    txtCategoryCaption_[c] = CreateSectionCaption(*this, ("txtCategory" + n + "Caption").c_str());
    pnlCategoryDecLine_[c] = CreateDecorationLine(*this, ("pnlCategory" + n + "DecLine").c_str());
  }
  for (int t = 0; t < kTemplateCount; ++t) {
    const std::string n = std::to_string(t + 1);
    // A white frame with a raised bevel round a lowered one, the picture inside.
    pnlDec_[t] = new QFrame(this);
    pnlDec_[t]->setObjectName(QString::fromStdString("pnlDec" + n));
    pnlDec_[t]->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Fill(*pnlDec_[t], Qt::white);
    image_[t] = new QLabel(pnlDec_[t]);
    image_[t]->setObjectName(QString::fromStdString("Image" + n));
    image_[t]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    image_[t]->setGeometry(1, 1, kWizardPicture.Width - 2, kWizardPicture.Height - 2);
    image_[t]->setAlignment(Qt::AlignCenter);
    image_[t]->setPixmap(TemplatePicture(t));
    image_[t]->installEventFilter(this);
    radio_[t] = new QRadioButton(this);
    radio_[t]->setObjectName(kTemplates[t].radioName);
  }
  radio_[0]->setChecked(true);

  pnlButtons_ = new QWidget(this);
  pnlButtons_->setObjectName("pnlButtons");
  btnOK_ = CreateDialogButton(*this, *pnlButtons_, "btnOK", QDialog::Accepted);
  btnOK_->setDefault(true);
  btnCancel_ = CreateDialogButton(*this, *pnlButtons_, "btnCancel", QDialog::Rejected);

  LayoutControls();
  ApplyLanguage();
}

void TNewProjectDialog::LayoutControls() {
  const QSize client = ClientSize(kWidth, kHeight);
  setFixedSize(client);
  // Each category: its caption, the grey line under it as wide as its row of
  // pictures, the pictures 10 pixels apart and each button under its picture.
  int top = 10;
  for (int c = 0; c < 3; ++c) {
    const int left = kCategoryLeft[c];
    if (c == 2) top = txtCategoryCaption_[1]->y();
    TPlacementBounds b;
    PlaceControl(b, *txtCategoryCaption_[c], pmAbsolute, kSectionCaption, left, top);
    PlaceControl(b, *pnlCategoryDecLine_[c], pmNewRow,
                 c == 0 ? kWizardWideLine : kWizardLine, left, 1);
    TPlacementBounds buttons;
    for (int t = kCategoryFirst[c]; t < kCategoryFirst[c + 1]; ++t) {
      if (t == kCategoryFirst[c])
        PlaceControl(b, *pnlDec_[t], pmNewRow, kWizardPicture, left, 6);
      else
        PlaceControl(b, *pnlDec_[t], pmRight, kWizardPicture, 10, 0);
      buttons = b;
      PlaceControl(buttons, *radio_[t], pmUnder, kWizardRadioButton, 0, 10);
    }
    top = buttons.Bottom + 16;
  }
  pnlButtons_->setGeometry(0, client.height() - kButtonRowHeight, client.width(), kButtonRowHeight);
  PlaceControlAt(*btnOK_, kWizardOkButton);
  PlaceControlAt(*btnCancel_, kWizardCancelButton);
}

void TNewProjectDialog::ApplyLanguage() {
  TLocalizer& l = Localizer();
  for (int c = 0; c < 3; ++c)
    txtCategoryCaption_[c]->setText(l.Text("TemplateCategories", kCategoryKeys[c]));
  for (int t = 0; t < kTemplateCount; ++t)
    radio_[t]->setText(l.Text("TemplateNames", kTemplates[t].languageKey));
  setWindowTitle(l.Text("NewProjectDlg", "Caption"));
  btnOK_->setText(l.Text("DialogShared", "Ok"));
  btnCancel_->setText(l.Text("DialogShared", "Cancel"));
}

std::uint8_t TNewProjectDialog::GetSelectedType() const {
  const auto checked = std::find_if(radio_.begin(), radio_.end() - 1,
                                    [](const QRadioButton* r) { return r->isChecked(); });
  return static_cast<std::uint8_t>(checked - radio_.begin());
}

void TNewProjectDialog::SetSelectedType(int type) {
  if (type < 0 || type >= kTemplateCount) return;
  selectedType_ = static_cast<std::uint8_t>(type);
  radio_[type]->setChecked(true);
}

void TNewProjectDialog::ImageClick(int type) { radio_[type]->click(); }

void TNewProjectDialog::showEvent(QShowEvent* event) {
  SetSelectedType(selectedType_);
  QDialog::showEvent(event);
}

void TNewProjectDialog::done(int result) {
  selectedType_ = GetSelectedType();
  QDialog::done(result);
}

bool TNewProjectDialog::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    try {
      const auto picture = std::find(image_.begin(), image_.end(), watched);
      if (picture != image_.end()) {
        ImageClick(static_cast<int>(picture - image_.begin()));
        return true;
      }
    } catch (...) {
      ShowCurrentException();
    }
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace kdl
