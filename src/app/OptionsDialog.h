// The options dialog: the language file and whether the new-project dialog
// opens at start-up. The caller sets both before showing it and reads them
// after it closes, and applies them only when it closed with OK.
#pragma once

#include <QDialog>
#include <QStringList>

#include <string>

#include "app/DialogParts.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;

namespace kdl {

class TOptionsDialog : public QDialog {
  Q_OBJECT

 public:
  explicit TOptionsDialog(QWidget* parent = nullptr);

  const std::string& Language() const { return language_; }
  void SetLanguage(const std::string& language) { language_ = language; }
  bool RunWizard() const { return runWizard_; }
  void SetRunWizard(bool runWizard) { runWizard_ = runWizard; }

  // The languages the program folder offers, by file base name.
  static void ListLanguages(QStringList& strings);

  // Every close takes the choices back, whatever the result.
  void done(int result) override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void LayoutControls();
  void ApplyLanguage();
  void LoadOptions();
  void StoreOptions();

  std::string language_;
  bool runWizard_ = false;

  TDialogFrame frame_;  // icon, white panel, OK
  QLabel* txtLanguageSectionCaption_;
  QFrame* pnlLanguageSectionDecLine_;
  QComboBox* cmbLanguage_;
  QLabel* txtStartupSectionCaption_;
  QFrame* pnlStartupSectionDecLine_;
  QCheckBox* cbRunWizard_;
};

}  // namespace kdl
