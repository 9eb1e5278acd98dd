#include "app/output/SavePdfDialog.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QSettings>

#include "app/Localizer.h"
#include "app/Settings.h"
#include "app/output/PdfExport.h"
#include "app/project/DtpHelper.h"

namespace kdl {
namespace {

QString Text(std::string_view key) { return Localizer().Text("SavePDFDialog", key); }

// "Normal (300 DPI; 80% JPEG)".
QString PresetText(int index) {
  const TPdfPreset& preset = kPdfPresets[static_cast<std::size_t>(index)];
  // One pass, so that a "%" in the language's text stays as it is.
  return QString("%1 (%2 DPI; %3% JPEG)")
      .arg(Text("QualityType" + std::to_string(index)), QString::number(preset.Resolution),
           QString::number(preset.Quality));
}

bool IsPreset(int index) { return index >= 0 && index < static_cast<int>(kPdfPresets.size()); }

}  // namespace

TSavePDFDialog::TSavePDFDialog(QWidget* parent) : QFileDialog(parent) {
  setObjectName("SavePDFDialog");
  // Qt's own dialog, so that the quality row can join its layout.
  setOption(QFileDialog::DontUseNativeDialog);
  setAcceptMode(QFileDialog::AcceptSave);
  setFileMode(QFileDialog::AnyFile);
  setNameFilter("Portable Document Format (*.pdf)");
  setDefaultSuffix("pdf");
  setWindowTitle(Text("Caption"));

  lblQuality = new QLabel(this);
  lblQuality->setObjectName("lblQuality");
  lblQuality->setText(Text("Quality") + ":");
  cmbQuality = new QComboBox(this);
  cmbQuality->setObjectName("cmbQuality");
  for (int i = 0; i < static_cast<int>(kPdfPresets.size()); ++i) cmbQuality->addItem(PresetText(i));
  lblQuality->setBuddy(cmbQuality);
  SetQualityType(kDefaultPdfPreset);

  // The row under the file type: its caption's column, then its list's.
  auto* grid = qobject_cast<QGridLayout*>(layout());
  auto* typeCombo = findChild<QComboBox*>("fileTypeCombo");
  const int typeIndex = grid && typeCombo ? grid->indexOf(typeCombo) : -1;
  if (typeIndex >= 0) {
    int row = 0, column = 0, rowSpan = 0, columnSpan = 0;
    grid->getItemPosition(typeIndex, &row, &column, &rowSpan, &columnSpan);
    grid->addWidget(lblQuality, row + rowSpan, 0);
    grid->addWidget(cmbQuality, row + rowSpan, column, 1, columnSpan);
    setTabOrder(typeCombo, cmbQuality);
  } else if (grid) {
    const int row = grid->rowCount();
    grid->addWidget(lblQuality, row, 0);
    grid->addWidget(cmbQuality, row, 1);
  }
}

int TSavePDFDialog::QualityType() const {
  const int index = cmbQuality->currentIndex();
  return IsPreset(index) ? index : kDefaultPdfPreset;
}

void TSavePDFDialog::SetQualityType(int value) {
  // A stored index beyond the presets would leave the list without a
  // choice.
  cmbQuality->setCurrentIndex(IsPreset(value) ? value : kDefaultPdfPreset);
}

bool TSavePDFDialog::Execute() {
  fileName_.clear();
  if (exec() != QDialog::Accepted) return false;
  const QStringList files = selectedFiles();
  if (files.isEmpty() || files.front().isEmpty()) return false;
  fileName_ = files.front().toStdString();
  return true;
}

bool ExportPdfCommand(TdtpDocument& project, QWidget* parent) {
  if (!HasPage(project)) return false;
  const std::unique_ptr<QSettings> user = OpenUserSettings();
  const std::unique_ptr<QSettings> system = OpenSystemSettings();
  TSettings settings = LoadSettings(*user, *system);
  TSavePDFDialog dialog(parent);
  dialog.SetQualityType(settings.PDFQualityType);
  dialog.selectFile(QString::fromStdString(PdfFileNamePreset(project)));
  if (!dialog.Execute()) return false;
  const int preset = dialog.QualityType();
  ExportToPdf(project, dialog.FileName(), preset);
  settings.PDFQualityType = preset;
  SaveSettings(*user, settings);
  return true;
}

}  // namespace kdl
