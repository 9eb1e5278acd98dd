#include "app/HtmlHelp.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include <memory>
#include <string_view>

#include "platform/ProgramFolder.h"
#include "platform/qt/ErrorDisplay.h"
#include "platform/qt/IniFile.h"

namespace kdl {
namespace {

constexpr const char* kHelpIni = "help.ini";

// The file path as the canonical path inside folder, or nothing when it
// lies outside or is not a regular file.
std::optional<std::filesystem::path> InsideFolder(const std::filesystem::path& folder,
                                                  const std::filesystem::path& path) {
  std::error_code ec;
  const auto base = std::filesystem::canonical(folder, ec);
  if (ec) return std::nullopt;
  const auto file = std::filesystem::canonical(path.is_absolute() ? path : base / path, ec);
  if (ec || !std::filesystem::is_regular_file(file, ec)) return std::nullopt;
  const auto relative = file.lexically_relative(base);
  if (relative.empty() || *relative.begin() == "..") return std::nullopt;
  return file;
}

// The help folder's "help.ini", or nothing when it cannot be read.
std::unique_ptr<TMemIniFile> ReadHelpIni(const std::filesystem::path& folder) {
  try {
    return std::make_unique<TMemIniFile>(folder / kHelpIni);
  } catch (const EIniFileError&) {
    return nullptr;
  }
}

QUrl FileUrl(const std::filesystem::path& file) {
  return QUrl::fromLocalFile(QString::fromStdString(file.string()));
}

bool IsHelpFile(const std::filesystem::path& file) {
  std::error_code ec;
  return !file.empty() && std::filesystem::is_regular_file(file, ec);
}

}  // namespace

std::filesystem::path DefaultHelpFile() {
  return ProgramFolder() / "Helps" / "English" / "index.html";
}

bool OpenHelpContents() {
  const auto file = DefaultHelpFile();
  return IsHelpFile(file) && QDesktopServices::openUrl(FileUrl(file));
}

std::optional<QUrl> ResolveHelpTopic(const std::filesystem::path& folder,
                                     const std::string& topic) {
  const std::size_t hash = topic.find('#');
  const std::string page = topic.substr(0, hash);
  if (page.empty() || std::filesystem::path(page).is_absolute()) return std::nullopt;
  const auto file = InsideFolder(folder, page);
  if (!file) return std::nullopt;
  QUrl url = FileUrl(*file);
  if (hash != std::string::npos) url.setFragment(QString::fromStdString(topic.substr(hash + 1)));
  return url;
}

QVariant THelpBrowser::loadResource(int type, const QUrl& name) {
  const QUrl url = source().resolved(name);
  if (!url.isLocalFile() || !InsideFolder(folder_, url.toLocalFile().toStdString())) return {};
  return QTextBrowser::loadResource(type, url);
}

THtmlHelpViewer::THtmlHelpViewer(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName("HelpViewer");
  browser_ = new THelpBrowser(this);
  browser_->setObjectName("Browser");
  // Links are ours to follow: inside the help folder or out to the desktop.
  browser_->setOpenLinks(false);
  browser_->setOpenExternalLinks(false);

  // No language keys exist for these buttons: they show icons only.
  auto button = [this](const char* name, QStyle::StandardPixmap icon) {
    auto* b = new QToolButton(this);
    b->setObjectName(name);
    b->setIcon(style()->standardIcon(icon));
    b->setAutoRaise(true);
    return b;
  };
  btnBack_ = button("btnBack", QStyle::SP_ArrowBack);
  btnForward_ = button("btnForward", QStyle::SP_ArrowForward);
  btnContents_ = button("btnContents", QStyle::SP_FileDialogContentsView);
  btnBack_->setEnabled(false);
  btnForward_->setEnabled(false);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(btnBack_);
  buttons->addWidget(btnForward_);
  buttons->addWidget(btnContents_);
  buttons->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addLayout(buttons);
  layout->addWidget(browser_);
  resize(760, 560);

  connect(btnBack_, &QToolButton::clicked, browser_, &QTextBrowser::backward);
  connect(btnForward_, &QToolButton::clicked, browser_, &QTextBrowser::forward);
  connect(btnContents_, &QToolButton::clicked, this, [this] {
    try {
      ShowTableOfContents();
    } catch (...) {
      ShowCurrentException();
    }
  });
  connect(browser_, &QTextBrowser::backwardAvailable, btnBack_, &QWidget::setEnabled);
  connect(browser_, &QTextBrowser::forwardAvailable, btnForward_, &QWidget::setEnabled);
  connect(browser_, &QTextBrowser::sourceChanged, this,
          [this] { setWindowTitle(browser_->documentTitle()); });
  connect(browser_, &QTextBrowser::anchorClicked, this, [this](const QUrl& link) {
    try {
      LinkClicked(link);
    } catch (...) {
      ShowCurrentException();
    }
  });
}

std::filesystem::path THtmlHelpViewer::HelpFile(const std::filesystem::path& given) const {
  if (!given.empty()) return given;
  return helpFile_.empty() ? DefaultHelpFile() : helpFile_;
}

bool THtmlHelpViewer::Show(const std::filesystem::path& helpFile, const QUrl& page) {
  browser_->SetFolder(helpFile.parent_path());
  browser_->setSource(page);
  show();
  raise();
  activateWindow();
  return true;
}

bool THtmlHelpViewer::ShowTableOfContents() {
  const auto file = HelpFile({});
  if (!IsHelpFile(file)) return false;
  const auto page = ResolveHelpTopic(file.parent_path(), file.filename().string());
  return page && Show(file, *page);
}

bool THtmlHelpViewer::ShowHelp(const std::string& keyword) {
  const auto file = HelpFile({});
  if (!IsHelpFile(file)) return false;
  if (const auto ini = ReadHelpIni(file.parent_path())) {
    if (const std::string* topic = ini->Find("Index", keyword)) {
      if (const auto page = ResolveHelpTopic(file.parent_path(), *topic)) return Show(file, *page);
    }
  }
  return ShowTableOfContents();
}

bool THtmlHelpViewer::DisplayTopic(const std::string& topic) {
  const auto file = HelpFile({});
  if (!IsHelpFile(file)) return false;
  const auto page = ResolveHelpTopic(file.parent_path(), topic);
  return page && Show(file, *page);
}

bool THtmlHelpViewer::DisplayHelpContext(std::uint32_t context, const std::filesystem::path& file) {
  const auto help = HelpFile(file);
  if (!IsHelpFile(help)) return false;
  const auto ini = ReadHelpIni(help.parent_path());
  if (!ini) return false;
  const std::string* topic = ini->Find("Contexts", std::to_string(context));
  if (topic == nullptr) return false;
  const auto page = ResolveHelpTopic(help.parent_path(), *topic);
  return page && Show(help, *page);
}

void THtmlHelpViewer::ShutDown() { close(); }

void THtmlHelpViewer::LinkClicked(const QUrl& link) {
  const QString scheme = link.scheme().toLower();
  if (scheme == "http" || scheme == "https" || scheme == "mailto") {
    QDesktopServices::openUrl(link);
    return;
  }
  // Anything else is a page of the help folder, or nothing.
  const QUrl target = browser_->source().resolved(link);
  if (!target.isLocalFile()) return;
  const auto file = InsideFolder(browser_->Folder(), target.toLocalFile().toStdString());
  if (!file) return;
  QUrl page = FileUrl(*file);
  page.setFragment(target.fragment());
  browser_->setSource(page);
}

}  // namespace kdl
