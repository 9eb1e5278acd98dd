// The help pages as shipped, checked with independent tools, and the help
// window driven as a user meets it.
#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QTest>
#include <QTextDocument>
#include <QToolButton>

#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/HtmlHelp.h"
#include "app/LanguageKeys.h"
#include "app/Localizer.h"
#include "platform/ProgramFolder.h"
#include "support/LanguageTesting.h"
#include "support/QtApplication.h"
#include "support/TestFiles.h"
#include "UrlRecorder.h"

namespace kdl {
namespace {

namespace fs = std::filesystem;

fs::path HelpFolder() { return test::SourceProgramFolder() / "Helps" / "English"; }

std::vector<fs::path> Pages() {
  std::vector<fs::path> pages;
  for (const auto& e : fs::directory_iterator(HelpFolder()))
    if (e.path().extension() == ".html") pages.push_back(e.path());
  return pages;
}

std::vector<std::string> Matches(const std::string& text, const char* pattern) {
  std::vector<std::string> found;
  const QRegularExpression re(QString::fromUtf8(pattern));
  for (auto it = re.globalMatch(QString::fromStdString(text)); it.hasNext();)
    found.push_back(it.next().captured(1).toStdString());
  return found;
}

// A link target: the page's file name, and the anchor it names (or empty).
std::pair<std::string, std::string> SplitLink(const std::string& link, const fs::path& from) {
  const std::size_t hash = link.find('#');
  std::string file = link.substr(0, hash);
  if (file.empty()) file = from.filename().string();
  return {file, hash == std::string::npos ? std::string() : link.substr(hash + 1)};
}

bool HasAnchor(const fs::path& page, const std::string& anchor) {
  for (const std::string& name : Matches(test::ReadFile(page), R"re(<a name="([^"]+)")re"))
    if (name == anchor) return true;
  return false;
}

TEST(HelpPages, ValidHtmlWithTitles) {
  ASSERT_GE(Pages().size(), 9u);
  for (const fs::path& page : Pages()) {
    SCOPED_TRACE(page.filename().string());
    int status = -1;
    const std::string errors =
        test::RunCommand("xmllint --html --noout '" + page.string() + "' 2>&1", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(errors, "");
    const auto titles = Matches(test::ReadFile(page), "<title>([^<]+)</title>");
    ASSERT_EQ(titles.size(), 1u);
  }
}

TEST(HelpPages, EveryLinkLeadsSomewhereAndEveryPageIsReachable) {
  std::set<std::string> reached{"index.html"};
  std::vector<fs::path> queue{HelpFolder() / "index.html"};
  while (!queue.empty()) {
    const fs::path page = queue.back();
    queue.pop_back();
    const std::string text = test::ReadFile(page);
    for (const std::string& link : Matches(text, R"re(href="([^"]+)")re")) {
      SCOPED_TRACE(page.filename().string() + " -> " + link);
      if (link.starts_with("http:") || link.starts_with("https:") || link.starts_with("mailto:"))
        continue;
      const auto [file, anchor] = SplitLink(link, page);
      ASSERT_TRUE(ResolveHelpTopic(HelpFolder(), file)) << "no such page";
      if (!anchor.empty()) {
        EXPECT_TRUE(HasAnchor(HelpFolder() / file, anchor));
      }
      if (fs::path(file).extension() == ".html" && reached.insert(file).second)
        queue.push_back(HelpFolder() / file);
    }
  }
  for (const fs::path& page : Pages())
    EXPECT_TRUE(reached.contains(page.filename().string())) << page.filename() << " unreachable";
}

TEST(HelpPages, HelpIniTargetsExist) {
  // Python's own INI reader lists what the file maps.
  int status = -1;
  const std::string listing = test::RunCommand(
      "python3 -c 'import configparser, sys\n"
      "c = configparser.ConfigParser(delimiters=(\"=\",), comment_prefixes=(\";\",))\n"
      "c.optionxform = str\n"
      "c.read(sys.argv[1], encoding=\"utf-8\")\n"
      "for s in c.sections():\n"
      "    for k, v in c[s].items(): print(s, k, v, sep=\"|\")' '" +
          (HelpFolder() / "help.ini").string() + "'",
      &status);
  ASSERT_EQ(status, 0);
  std::map<std::string, int> perSection;
  std::istringstream lines(listing);
  for (std::string line; std::getline(lines, line);) {
    const auto parts = QString::fromStdString(line).split('|');
    ASSERT_EQ(parts.size(), 3) << line;
    const std::string section = parts[0].toStdString(), target = parts[2].toStdString();
    ++perSection[section];
    SCOPED_TRACE(line);
    ASSERT_TRUE(ResolveHelpTopic(HelpFolder(), target));
    const auto [file, anchor] = SplitLink(target, {});
    if (!anchor.empty()) {
      EXPECT_TRUE(HasAnchor(HelpFolder() / file, anchor));
    }
  }
  EXPECT_EQ(perSection["Contexts"], 1);
  EXPECT_GE(perSection["Index"], 10);
  EXPECT_EQ(perSection.size(), 2u);
}

TEST(HelpPages, QuotedNamesAreTheProgramsTexts) {
  TLocalizer english;
  english.LoadFromFile(test::SourceProgramFolder() / "Languages" / "English.lng");
  std::set<std::string> texts;
  for (const TLanguageKey& k : kLanguageKeys) {
    std::string value = english.GetString(k.Section, k.Key);
    std::erase(value, '&');  // menu accelerators
    texts.insert(value);
  }
  std::size_t quoted = 0;
  for (const fs::path& page : Pages()) {
    // The page as the browser reads it: entities decoded, lines joined.
    QTextDocument doc;
    for (const std::string& span :
         Matches(test::ReadFile(page), R"re(<span class="ui">((?:.|\n)*?)</span>)re")) {
      doc.setHtml(QString::fromStdString(span));
      const std::string name = doc.toPlainText().simplified().toStdString();
      EXPECT_TRUE(texts.contains(name)) << page.filename() << ": \"" << name << "\"";
      ++quoted;
    }
  }
  EXPECT_GE(quoted, 100u);
}

// The template table lists the templates by their names in type order,
// each with one page size.
TEST(HelpPages, TemplateTableNamesTheSevenTemplatesInOrder) {
  TLocalizer english;
  english.LoadFromFile(test::SourceProgramFolder() / "Languages" / "English.lng");
  const std::string page = test::ReadFile(HelpFolder() / "getting-started.html");
  const auto names = Matches(page, R"re(<tr><td><span class="ui">([^<]+)</span></td>)re");
  const auto sizes = Matches(page, R"re(<td>(\d+ &times; \d+) mm</td>)re");
  const char* keys[] = {"CDFront",     "CDFrontDouble", "CDBack",       "DVD",
                        "SlimDVD",     "PaperSleeve",   "OrigamiCDCase"};
  ASSERT_EQ(names.size(), std::size(keys));
  EXPECT_EQ(sizes.size(), std::size(keys));
  for (std::size_t type = 0; type < std::size(keys); ++type)
    EXPECT_EQ(names[type], english.GetString("TemplateNames", keys[type])) << type;
}

class HelpViewer : public ::testing::Test {
 protected:
  void SetUp() override {
    test::EnsureApplication();
    SetProgramFolder(test::SourceProgramFolder());
    viewer_ = std::make_unique<THtmlHelpViewer>();
  }
  void TearDown() override {
    viewer_.reset();
    SetProgramFolder({});
  }

  std::string Shown() const {
    return viewer_->isVisible()
               ? fs::path(browser().source().toLocalFile().toStdString()).filename().string()
               : std::string("(hidden)");
  }
  const THelpBrowser& browser() const { return viewer_->Browser(); }

  std::unique_ptr<THtmlHelpViewer> viewer_;
};

TEST_F(HelpViewer, ContextsKeywordsAndTopics) {
  EXPECT_TRUE(viewer_->DisplayHelpContext(kPrintingStepsContext));
  EXPECT_EQ(Shown(), "printing-steps.html");
  EXPECT_EQ(viewer_->windowTitle(), "Printing steps");

  EXPECT_TRUE(viewer_->ShowHelp("crop"));
  EXPECT_EQ(Shown(), "image.html");
  EXPECT_EQ(browser().source().fragment(), "crop");
  EXPECT_TRUE(viewer_->ShowHelp("CROP")) << "keywords compare without case";
  EXPECT_TRUE(viewer_->ShowHelp("no such keyword"));
  EXPECT_EQ(Shown(), "index.html");
  EXPECT_EQ(viewer_->windowTitle(), "Kestrune Disk Label Help");

  EXPECT_TRUE(viewer_->DisplayTopic("pdf-export.html#quality"));
  EXPECT_EQ(Shown(), "pdf-export.html");

  // Nothing outside the folder and nothing missing is shown.
  for (const char* topic :
       {"../x", "../Languages/English.lng", "missing.html", "", "/etc/hostname", "#quality"}) {
    EXPECT_FALSE(viewer_->DisplayTopic(topic)) << topic;
    EXPECT_EQ(Shown(), "pdf-export.html") << topic;
  }
  EXPECT_FALSE(viewer_->DisplayHelpContext(1));

  // Back and forward walk the pages shown.
  auto& back = *viewer_->findChild<QToolButton*>("btnBack");
  auto& forward = *viewer_->findChild<QToolButton*>("btnForward");
  QTest::mouseClick(&back, Qt::LeftButton);
  EXPECT_EQ(Shown(), "index.html");
  ASSERT_TRUE(forward.isEnabled());
  QTest::mouseClick(&forward, Qt::LeftButton);
  EXPECT_EQ(Shown(), "pdf-export.html");
  QTest::mouseClick(viewer_->findChild<QToolButton*>("btnContents"), Qt::LeftButton);
  EXPECT_EQ(Shown(), "index.html");

  viewer_->ShutDown();
  EXPECT_FALSE(viewer_->isVisible());
}

TEST_F(HelpViewer, LinksStayInsideTheFolderOrGoToTheDesktop) {
  ASSERT_TRUE(viewer_->DisplayTopic("index.html"));
  test::UrlRecorder recorder({"http", "https", "mailto", "file"});
  auto click = [&](const char* link) { emit viewer_->Browser().anchorClicked(QUrl(link)); };

  click("image.html#crop");
  EXPECT_EQ(Shown(), "image.html");
  click("#restore");
  EXPECT_EQ(browser().source().fragment(), "restore");
  click("https://kestrune.example/");
  click("mailto:support@kestrune.example");
  click("../../Languages/English.lng");
  click("file:///etc/hostname");
  click("missing.html");
  click("javascript:alert(1)");
  EXPECT_EQ(Shown(), "image.html");
  ASSERT_EQ(recorder.urls.size(), 2);
  EXPECT_EQ(recorder.urls[0], QUrl("https://kestrune.example/"));
  EXPECT_EQ(recorder.urls[1], QUrl("mailto:support@kestrune.example"));

  // Style sheets and pictures load from the help folder only.
  THelpBrowser& b = viewer_->Browser();
  EXPECT_TRUE(b.loadResource(QTextDocument::StyleSheetResource, QUrl("help.css")).isValid());
  EXPECT_FALSE(
      b.loadResource(QTextDocument::ImageResource, QUrl("../../Languages/English.lng")).isValid());
  EXPECT_FALSE(
      b.loadResource(QTextDocument::ImageResource, QUrl::fromLocalFile("/etc/hostname")).isValid());
}

TEST_F(HelpViewer, AMissingFolderOrLinkedFileDoesNothing) {
  test::ScratchDir dir;
  SetProgramFolder(dir.Path());
  test::UrlRecorder recorder({"file"});
  EXPECT_FALSE(OpenHelpContents());
  EXPECT_FALSE(viewer_->ShowTableOfContents());
  EXPECT_FALSE(viewer_->ShowHelp("crop"));
  EXPECT_FALSE(viewer_->DisplayTopic("index.html"));
  EXPECT_FALSE(viewer_->DisplayHelpContext(kPrintingStepsContext));
  EXPECT_EQ(Shown(), "(hidden)");
  EXPECT_TRUE(recorder.urls.empty());

  // A folder of its own: help.ini maps to a link that leaves it, to a
  // page that is missing and to a folder named like a page.
  fs::create_directories(dir / "Helps/English/folder.html");
  fs::create_directories(dir / "Other");
  test::WriteFile(dir / "Other/secret.html", "<title>secret</title>");
  fs::create_symlink(dir / "Other/secret.html", dir / "Helps/English/link.html");
  test::WriteFile(dir / "Helps/English/index.html", "<title>Index</title>");
  test::WriteFile(dir / "Helps/English/help.ini",
                  "[Contexts]\n1=link.html\n2=gone.html\n3=../../Other/secret.html\n5=folder.html\n");
  for (std::uint32_t context : {1u, 2u, 3u, 4u, 5u})
    EXPECT_FALSE(viewer_->DisplayHelpContext(context)) << context;
  EXPECT_EQ(Shown(), "(hidden)");

  // The contents open in the desktop's browser.
  EXPECT_TRUE(OpenHelpContents());
  ASSERT_EQ(recorder.urls.size(), 1);
  EXPECT_EQ(
      recorder.urls[0],
      QUrl::fromLocalFile(QString::fromStdString((dir / "Helps/English/index.html").string())));

  // A help file given by name wins over the program's.
  test::WriteFile(dir / "Other/help.ini", "[Contexts]\n7=secret.html\n");
  EXPECT_TRUE(viewer_->DisplayHelpContext(7, dir / "Other/secret.html"));
  EXPECT_EQ(viewer_->windowTitle(), "secret");
}

}  // namespace
}  // namespace kdl
