// The about dialog: product name and version, the product's web site (a
// click opens it in the browser) and the copyright line.
#pragma once

#include <QDialog>

#include "app/DialogParts.h"

class QLabel;

namespace kdl {

class TAboutDialog : public QDialog {
  Q_OBJECT

 public:
  explicit TAboutDialog(QWidget* parent = nullptr);

  // The site's name as the dialog shows it: the home page's host.
  static QString SiteName();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void LayoutControls();
  void ApplyLanguage();

  TDialogFrame frame_;  // icon, white panel, OK
  QLabel* txtProductInfo_;
  QLabel* txtOfficialSite_;
  QLabel* txtOfficialSiteURL_;
  QLabel* txtCopyrights_;
};

}  // namespace kdl
