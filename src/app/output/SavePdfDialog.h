// The save dialog of the PDF export: Qt's own file dialog (the same on every
// platform) with a "Quality:" row under the file type that picks one of the
// three picture presets.
#pragma once

#include <string>

#include <QFileDialog>

class QComboBox;
class QLabel;
class QWidget;

namespace kdl {

class TdtpDocument;

class TSavePDFDialog : public QFileDialog {
  Q_OBJECT

 public:
  explicit TSavePDFDialog(QWidget* parent = nullptr);

  // The chosen preset; an index outside the presets selects the default.
  int QualityType() const;
  void SetQualityType(int value);

  // Runs the dialog; true with FileName() set when the user saved.
  bool Execute();
  std::string FileName() const { return fileName_; }

  QLabel* lblQuality = nullptr;
  QComboBox* cmbQuality = nullptr;

 private:
  std::string fileName_;
};

// The export command: the dialog, then the label written as PDF at the
// chosen preset, which is stored as the next default. False when nothing
// was written (no project, cancelled); a failed export raises EOutputError
// and leaves any previous file as it was.
bool ExportPdfCommand(TdtpDocument& project, QWidget* parent);

}  // namespace kdl
