// The print preview: a copy of the label prepared for the current printer
// in a document of its own, with printer set-up and zoom buttons and the
// printer, paper and sheet size in a status bar.
#pragma once

#include <functional>

#include <QDialog>

class QLabel;
class QPushButton;
class QStatusBar;
class QWidget;

namespace kdl {

class TdtpDocument;

class TPreviewForm : public QDialog {
  Q_OBJECT

 public:
  explicit TPreviewForm(QWidget* parent = nullptr);
  ~TPreviewForm() override;

  TdtpDocument& PreviewDocument() { return *previewDocument_; }
  // Takes a copy of source's current page; before showing.
  void SetSource(TdtpDocument& source);

  void btnPrintSetupClick();
  void btnZoomOutClick();
  void btnZoomInClick();
  void btnZoomWidthClick();
  void PreparePreview();
  void ShowPrinterInfo();
  void LayoutButtons();
  void ApplyLanguage();

  // The printer set-up dialog on the current printer; true when confirmed.
  std::function<bool(QWidget* parent)> RunPrinterSetup;

  QWidget* pnlButtons = nullptr;
  QPushButton* btnPrintSetup = nullptr;
  QPushButton* btnZoomOut = nullptr;
  QPushButton* btnZoomIn = nullptr;
  QPushButton* btnZoomWidth = nullptr;
  QPushButton* btnClose = nullptr;
  QStatusBar* StatusBar = nullptr;
  QLabel* Panels[3] = {};

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void WarnSmallPaper();
  // Takes back the last preparation, then prepares for the current printer.
  void Reprepare();

  TdtpDocument* previewDocument_ = nullptr;  // a child widget
  bool prepared_ = false;
};

// The preview command: false when nothing was shown (no project, or no
// printer, which gives the "no printer" message).
bool PreviewCommand(TdtpDocument& project, QWidget* parent);

}  // namespace kdl
