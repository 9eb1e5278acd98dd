// The program's main window: the data panel on the left, one section per
// project role (image, four titles, contents, printing), the live preview of
// the label on the right, the menu and a two-panel status bar. Every edit
// goes through the project model's shape-by-index operations; the window
// holds the running program's state (current file, zoom, settings).
#pragma once

#include <QMainWindow>

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "app/Settings.h"
#include "app/project/DtpHelper.h"

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;

namespace kdl {

class TdtpDocument;
class THtmlHelpViewer;

// The property that carries a control's or menu item's Tag: the shape index
// its handler works on, or a zoom item's percentage.
inline constexpr const char* kTagProperty = "Tag";
inline constexpr float kMinZoom = 5;
inline constexpr float kMaxZoom = 500;
inline constexpr float kZoomStep = 1.25f;
// The data panel's width in pixels.
inline constexpr int kDataPanelWidth = 240;

// The three cover-art search sites of the help menu: the caption is the
// host name.
struct TCoverSearchSite {
  const char* Host;
  const char* Url;
};
inline constexpr std::array<TCoverSearchSite, 3> kCoverSearchSites{{
    {"images.google.com", "https://images.google.com/"},
    {"www.bing.com", "https://www.bing.com/images"},
    {"duckduckgo.com", "https://duckduckgo.com/?ia=images"},
}};

class TMainForm : public QMainWindow {
  Q_OBJECT

 public:
  explicit TMainForm(QWidget* parent = nullptr);
  ~TMainForm() override;

  // The rest of the start, once the window exists: the template files when
  // the first one is missing, then the new-project wizard or an empty
  // window. False, after the error was shown, when the templates could not
  // be written: the program must end.
  bool Start();

  TdtpDocument& Document() { return *document_; }
  // Empty for a project that was never saved or came from a template.
  const std::string& FileName() const { return fileName_; }
  const TSettings& Settings() const { return settings_; }
  float Zoom() const { return zoom_; }
  bool Updating() const { return updating_; }
  QString StatusText(int panel) const;

  // ---- The view ------------------------------------------------------------------
  // percent within 5 to 500, where 100 shows the page about its real size.
  void SetZoom(float percent);
  // Fits the page into the preview; with limit never above 100 %.
  void ZoomToWindow(bool limit);
  // Sizes the filler panels so that the page sits in the preview's middle.
  void CenterDocument();
  // The filler panels' sizes, as CenterDocument left them.
  QSize DocumentOffset() const;

  // ---- The project -----------------------------------------------------------------
  void ProjectChanged();
  void UpdateControlsFromDocument();
  // The data panel's controls and the commands that work on a project are
  // enabled only while there is one.
  void EnableProjectControls();
  void UpdateStatusBar();
  std::string GetProjectTitle();
  // Yes, No or Cancel (QMessageBox::StandardButton).
  int AskSaveChanges();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // ---- Building the window ----
  void CreateMenu();
  void CreateDataPanel();
  void CreatePreview();
  void SetComponentTags();
  void SetColors();
  void LayoutControls();
  void LoadLanguage();
  void ApplyLanguage();
  void ArrangeDocumentPanel();
  QAction* AddAction(QMenu& menu, const char* name, void (TMainForm::*command)());
  QPushButton* AddButton(QWidget& section, const char* name, void (TMainForm::*handler)(int));

  // ---- Commands ----
  void NewProjectCommand();
  void OpenProjectCommand();
  void SaveCommand();
  void SaveAsCommand();
  // Report whether the project was written.
  bool SaveProjectFile();
  bool SaveProjectAs();
  // False when the user keeps the modified project (Cancel, or a save that
  // did not happen).
  bool CanDiscardProject();
  void ExportPdfCommand();
  void OptionsCommand();
  void PreviewCommand();
  void PrintSetupCommand();
  void PrintCommand();
  void ExitCommand();
  void ZoomInCommand();
  void ZoomOutCommand();
  void ZoomToWindowCommand();
  void HelpContentsCommand();
  void HomepageCommand();
  void ContactSupportCommand();
  void SuggestFeatureCommand();
  void ReportBugCommand();
  void AboutCommand();

  // ---- Data panel handlers (the argument is the sender's Tag) ----
  void OnLoadImageClick(int tag);
  void OnCropImageClick(int tag);
  void OnRestoreImagePositionClick(int tag);
  void OnObjectPositionClick(int tag);
  void OnTextFontClick(int tag);
  void OnAlignTextLeftClick(int tag);
  void OnAlignTextCenterClick(int tag);
  void OnAlignTextRightClick(int tag);
  void OnAlignTextTopClick(int tag);
  void OnAlignTextMiddleClick(int tag);
  void OnAlignTextBottomClick(int tag);
  void btnContentsEditClick(int tag);
  void btnPrinterSetupClick(int tag);
  void btnPrintClick(int tag);
  void btnShowProcessHelpClick(int tag);
  void TitleTextChange(int index);
  void memContentsTextChange();
  void cbDoNotUseImageClick();
  void PrintLinesClick(std::int32_t kind);
  void DocumentMouseMove(QPoint point);

  TProjectHooks Hooks();
  int ScreenDpi() const;

  std::unique_ptr<TdtpDocument> document_;
  std::unique_ptr<THtmlHelpViewer> helpViewer_;
  std::string fileName_;
  TSettings settings_;
  float zoom_ = 100;
  bool updating_ = false;
  bool zoomOnShow_ = false;

  // Data panel.
  QWidget* pnlData_;
  QLabel* pnlDataCaption_;
  QWidget* pnlImageSection_;
  std::array<QWidget*, 4> pnlTitleSection_{};
  QWidget* pnlContentsSection_;
  QWidget* pnlPrintSection_;
  QLabel* txtImageSectionCaption_;
  std::array<QLabel*, 4> txtTitleSectionCaption_{};
  QLabel* txtContentsSectionCaption_;
  QLabel* txtPrintSectionCaption_;
  QPushButton* btnLoadImage_;
  QPushButton* btnCropImage_;
  QPushButton* btnImagePosition_;
  QPushButton* btnRestoreImagePosition_;
  QCheckBox* cbDoNotUseImage_;
  std::array<QLineEdit*, 4> edtTitleText_{};
  std::array<QPushButton*, 4> btnTitleFont_{};
  std::array<QPushButton*, 4> btnTitlePosition_{};
  QPlainTextEdit* memContentsText_;
  QPushButton* btnContentsPosition_;
  QPushButton* btnContentsFont_;
  QPushButton* btnContentsEdit_;
  std::array<QPushButton*, 6> btnContentsAlign_{};
  QCheckBox* cbPrintCutLines_;
  QCheckBox* cbPrintFoldLines_;
  QPushButton* btnPrinterSetup_;
  QPushButton* btnPrint_;
  QPushButton* btnShowProcessHelp_;

  // Preview.
  QLabel* pnlPreviewCaption_;
  QWidget* pnlDocument_;
  QWidget* pnlDummyLeft_;
  QWidget* pnlDummyTop_;

  // Status bar panels.
  QLabel* statusFileName_;
  QLabel* statusCursor_;

  // Menus.
  QMenu* miFile_;
  QMenu* miZoom_;
  QMenu* miZoomZoom_;
  QMenu* miHelp_;
  QMenu* miHelpCoverSeach_;
};

}  // namespace kdl
