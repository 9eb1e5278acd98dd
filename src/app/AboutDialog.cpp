#include "app/AboutDialog.h"

#include <QEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QUrl>

#include "app/DialogParts.h"
#include "app/Localizer.h"
#include "app/Placement.h"
#include "app/VersionInfo.h"
#include "app/WebLinks.h"
#include "kdl/Version.h"
#include "platform/qt/ErrorDisplay.h"

namespace kdl {
namespace {

QLabel* CreateLabel(QWidget& parent, const char* name) {
  auto* label = new QLabel(&parent);
  label->setObjectName(name);
  return label;
}

}  // namespace

TAboutDialog::TAboutDialog(QWidget* parent) : QDialog(parent), frame_(CreateDialogFrame(*this)) {
  setObjectName("AboutDialog");
  txtProductInfo_ = CreateLabel(*frame_.pnlDec, "txtProductInfo");
  txtProductInfo_->setWordWrap(true);
  txtProductInfo_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  txtOfficialSite_ = CreateLabel(*frame_.pnlDec, "txtOfficialSite");
  txtOfficialSiteURL_ = CreateLabel(*frame_.pnlDec, "txtOfficialSiteURL");
  txtCopyrights_ = CreateLabel(*frame_.pnlDec, "txtCopyrights");
  // Both site labels open the site; the name looks like a link.
  for (QLabel* site : {txtOfficialSite_, txtOfficialSiteURL_}) {
    site->setCursor(Qt::PointingHandCursor);
    site->installEventFilter(this);
  }
  QPalette link = txtOfficialSiteURL_->palette();
  link.setColor(QPalette::WindowText, Qt::blue);
  txtOfficialSiteURL_->setPalette(link);
  QFont underlined = txtOfficialSiteURL_->font();
  underlined.setUnderline(true);
  txtOfficialSiteURL_->setFont(underlined);

  LayoutControls();
  ApplyLanguage();
}

QString TAboutDialog::SiteName() { return QUrl(QString(version::HomepageUrl)).host(); }

void TAboutDialog::LayoutControls() {
  TPlacementBounds b;
  PlaceControl(b, *txtProductInfo_, pmAbsolute, kAboutProduct, 15, 12);
  PlaceControl(b, *txtOfficialSite_, pmNewRow, kAboutSite, 15, 16);
  PlaceControl(b, *txtOfficialSiteURL_, pmRight, kAboutSite, 12, 0);
  PlaceControl(b, *txtCopyrights_, pmNewRow, kAboutCopyright, 15, 16);
}

void TAboutDialog::ApplyLanguage() {
  const TFileVersionInfo& info = VersionInfo();
  setWindowTitle(Localizer().Text("AboutDialog", "Caption"));
  txtProductInfo_->setText(QString::fromStdString(info.ProductName + " " + info.ProductVersion));
  txtOfficialSite_->setText(QStringLiteral("Official site:"));
  txtOfficialSiteURL_->setText(SiteName());
  txtCopyrights_->setText(QString::fromStdString(info.LegalCopyright));
  frame_.btnOK->setText(Localizer().Text("DialogShared", "Ok"));
}

bool TAboutDialog::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    try {
      OpenHomepage();
    } catch (...) {
      ShowCurrentException();
    }
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace kdl
