#include "app/OptionsDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QPushButton>

#include "app/DialogParts.h"
#include "app/Localizer.h"
#include "app/Placement.h"

namespace kdl {

TOptionsDialog::TOptionsDialog(QWidget* parent)
    : QDialog(parent), frame_(CreateDialogFrame(*this)) {
  setObjectName("OptionsDialog");
  txtLanguageSectionCaption_ = CreateSectionCaption(*frame_.pnlDec, "txtLanguageSectionCaption");
  pnlLanguageSectionDecLine_ = CreateDecorationLine(*frame_.pnlDec, "pnlLanguageSectionDecLine");
  cmbLanguage_ = new QComboBox(frame_.pnlDec);
  cmbLanguage_->setObjectName("cmbLanguage");
  txtStartupSectionCaption_ = CreateSectionCaption(*frame_.pnlDec, "txtStartupSectionCaption");
  pnlStartupSectionDecLine_ = CreateDecorationLine(*frame_.pnlDec, "pnlStartupSectionDecLine");
  cbRunWizard_ = new QCheckBox(frame_.pnlDec);
  cbRunWizard_->setObjectName("cbRunWizard");

  LayoutControls();
  ApplyLanguage();
  QStringList languages;
  ListLanguages(languages);
  cmbLanguage_->addItems(languages);
}

void TOptionsDialog::ListLanguages(QStringList& strings) {
  strings.clear();
  for (const std::string& name : kdl::ListLanguages(LanguagesFolder()))
    strings.push_back(QString::fromStdString(name));
}

void TOptionsDialog::LayoutControls() {
  // Two sections stacked in the panel: caption, its line, its control.
  TPlacementBounds b;
  PlaceControl(b, *txtLanguageSectionCaption_, pmAbsolute, kOptionsSectionCaption, 15, 8);
  PlaceControl(b, *pnlLanguageSectionDecLine_, pmNewRow, kOptionsSectionLine, 15, 1);
  PlaceControl(b, *cmbLanguage_, pmNewRow, kOptionsLanguageList, 15, 6);
  PlaceControl(b, *txtStartupSectionCaption_, pmNewRow, kOptionsSectionCaption, 15, 16);
  PlaceControl(b, *pnlStartupSectionDecLine_, pmNewRow, kOptionsSectionLine, 15, 1);
  PlaceControl(b, *cbRunWizard_, pmNewRow, kOptionsCheckBox, 15, 6);
}

void TOptionsDialog::ApplyLanguage() {
  TLocalizer& l = Localizer();
  setWindowTitle(l.Text("OptionsDialog", "Caption"));
  txtLanguageSectionCaption_->setText(l.Text("OptionsDialog", "LanguageSection"));
  txtStartupSectionCaption_->setText(l.Text("OptionsDialog", "StartupSection"));
  cbRunWizard_->setText(l.Text("OptionsDialog", "RunWizard"));
  frame_.btnOK->setText(l.Text("DialogShared", "Ok"));
}

void TOptionsDialog::showEvent(QShowEvent* event) {
  LoadOptions();
  QDialog::showEvent(event);
}

void TOptionsDialog::LoadOptions() {
  // A language whose file is gone selects nothing rather than another one.
  cmbLanguage_->setCurrentIndex(cmbLanguage_->findText(
      QString::fromStdString(language_), Qt::MatchFixedString | Qt::MatchCaseSensitive));
  cbRunWizard_->setChecked(runWizard_);
}

void TOptionsDialog::StoreOptions() {
  runWizard_ = cbRunWizard_->isChecked();
  if (cmbLanguage_->currentIndex() >= 0) language_ = cmbLanguage_->currentText().toStdString();
}

void TOptionsDialog::done(int result) {
  StoreOptions();
  QDialog::done(result);
}

}  // namespace kdl
