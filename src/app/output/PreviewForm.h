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

  // The printer set-up dialog; tests answer it themselves.
  std::function<bool()> RunPrinterSetup;

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
  void resizeEvent(QResizeEvent* event) override;

 private:
  void WarnSmallPaper();

  TdtpDocument* previewDocument_ = nullptr;  // a child widget
};

// The preview command: no printer gives the "no printer" message.
void PreviewCommand(TdtpDocument& project, QWidget* parent);

}  // namespace kdl
