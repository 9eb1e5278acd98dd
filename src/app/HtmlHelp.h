// The help: a folder of HTML pages, "Helps/English/" in the program folder,
// with "index.html" as its contents page and "help.ini" mapping help
// contexts ("[Contexts]", number=page) and keywords ("[Index]",
// keyword=page) to pages. THtmlHelpViewer shows them in one non-modal
// window of the program; links leave the folder only for the web and mail,
// which go to the desktop's handlers.
#pragma once

#include <QTextBrowser>
#include <QWidget>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

class QToolButton;

namespace kdl {

// The help context of the printing steps, asked for by the main window's
// process-help button.
inline constexpr std::uint32_t kPrintingStepsContext = 393216;

// ProgramFolder()/"Helps"/"English"/"index.html".
std::filesystem::path DefaultHelpFile();

// Opens the contents page in the desktop's browser; false when it is
// missing.
bool OpenHelpContents();

// The page that topic names in folder (a relative path, optionally followed
// by "#" and an anchor), as a file URL keeping the anchor: only a regular
// file inside the folder, symbolic links resolved, so that "../x" and
// absolute paths name nothing.
std::optional<QUrl> ResolveHelpTopic(const std::filesystem::path& folder, const std::string& topic);

// The browser of the help window: it loads pages, style sheets and
// pictures from the help folder only.
class THelpBrowser : public QTextBrowser {
  Q_OBJECT

 public:
  using QTextBrowser::QTextBrowser;
  const std::filesystem::path& Folder() const { return folder_; }
  void SetFolder(const std::filesystem::path& folder) { folder_ = folder; }

  QVariant loadResource(int type, const QUrl& name) override;

 private:
  std::filesystem::path folder_;
};

class THtmlHelpViewer : public QWidget {
  Q_OBJECT

 public:
  // A window of its own above parent.
  explicit THtmlHelpViewer(QWidget* parent = nullptr);

  // The help file used when a call names none; empty means DefaultHelpFile().
  void SetHelpFile(const std::filesystem::path& file) { helpFile_ = file; }

  // Each shows its page and returns true, or does nothing and returns false
  // when the help file or the page is missing.
  bool ShowTableOfContents();
  // The page "[Index]" gives for the keyword, else the contents.
  bool ShowHelp(const std::string& keyword);
  // A page of the help folder by its relative name.
  bool DisplayTopic(const std::string& topic);
  // The page "[Contexts]" gives for context, in the folder of file (the help
  // file when file is empty).
  bool DisplayHelpContext(std::uint32_t context, const std::filesystem::path& file = {});
  // Closes the window.
  void ShutDown();

  THelpBrowser& Browser() { return *browser_; }

 private:
  std::filesystem::path HelpFile(const std::filesystem::path& given) const;
  bool Show(const std::filesystem::path& helpFile, const QUrl& page);
  void LinkClicked(const QUrl& link);

  std::filesystem::path helpFile_;
  THelpBrowser* browser_;
  QToolButton* btnBack_;
  QToolButton* btnForward_;
  QToolButton* btnContents_;
};

}  // namespace kdl
