#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <filesystem>
#include <functional>
#include <set>
#include <string>

#include "app/LanguageKeys.h"
#include "app/Localizer.h"
#include "support/LanguageTesting.h"
#include "support/QtApplication.h"
#include "support/TestFiles.h"

namespace kdl {
namespace {

namespace fs = std::filesystem;

// A localizer of its own per test, so that the process-wide one stays clean.
struct LocalizerWithFile {
  test::ScratchDir dir;
  TLocalizer localizer;
  int errors = 0;

  explicit LocalizerWithFile(const std::string& text) {
    localizer.OnLangError = [this] { ++errors; };
    test::WriteFile(dir / "L.lng", text);
    localizer.LoadFromFile(dir / "L.lng");
  }
};

TEST(Localizer, LooksUpConvertsAndCountsMissingKeys) {
  LocalizerWithFile f(
      "[TemplateResources]\n"
      "Title1=One\\nTwo\n"
      "Contents=Line 1\\nLine 2\\n\\nLine 4 \\\\n\n"
      "[Messages]\n"
      "Odd=50% done, \"%s\" %1\n");
  TLocalizer& l = f.localizer;
  // A title keeps the two characters; the contents get CR LF, a memo's own
  // line break, and LF for Qt.
  EXPECT_EQ(l.GetString("TemplateResources", "Title1"), "One\\nTwo");
  EXPECT_EQ(l.GetString("TemplateResources", "Contents", true),
            "Line 1\r\nLine 2\r\n\r\nLine 4 \\\r\n");
  EXPECT_EQ(l.Text("TemplateResources", "Contents", true),
            QString("Line 1\nLine 2\n\nLine 4 \\\n"));
  EXPECT_EQ(l.Text("Messages", "Odd"), QString("50% done, \"%s\" %1"));
  EXPECT_EQ(l.MissingCount(), 0u);

  // A file without a section answers "???" for each of its keys and counts them.
  EXPECT_EQ(l.GetString("Menu", "File"), "???");
  EXPECT_EQ(l.Text("Menu", "Exit"), QString("???"));
  EXPECT_EQ(l.GetString("TemplateResources", "Title2"), "???");
  EXPECT_EQ(l.MissingCount(), 3u);
  l.ResetMissingCount();
  EXPECT_EQ(l.MissingCount(), 0u);
  EXPECT_EQ(f.errors, 0);
}

TEST(Localizer, WithoutAFileLangErrorShowsOnceAndTextsAreEmpty) {
  TLocalizer l;
  int errors = 0;
  l.OnLangError = [&] { ++errors; };
  for (const TLanguageKey& k : kLanguageKeys) EXPECT_EQ(l.GetString(k.Section, k.Key), "");
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(l.MissingCount(), 0u);
}

TEST(Localizer, LangErrorIsAPlainMessageBox) {
  test::EnsureApplication();
  TLocalizer l;
  QString shown;
  int boxes = 0;
  std::function<void()> answer = [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      shown = box->text();
      ++boxes;
      box->button(QMessageBox::Ok)->click();
    } else {
      QTimer::singleShot(10, answer);
    }
  };
  QTimer::singleShot(0, answer);
  EXPECT_EQ(l.Text("Menu", "File"), QString());
  EXPECT_EQ(l.Text("Menu", "Exit"), QString());
  EXPECT_EQ(shown, "Lang error");
  EXPECT_EQ(boxes, 1);
}

TEST(Localizer, AFailedLoadKeepsThePreviousTexts) {
  LocalizerWithFile f("[Menu]\nFile=&File\n");
  test::WriteFile(f.dir / "big.lng", std::string(TMemIniFile::kMaxFileSize + 1, ';'));
  EXPECT_THROW(f.localizer.LoadFromFile(f.dir / "missing.lng"), EIniFileError);
  EXPECT_THROW(f.localizer.LoadFromFile(f.dir / "big.lng"), EIniFileError);
  EXPECT_TRUE(f.localizer.Loaded());
  EXPECT_EQ(f.localizer.GetString("Menu", "File"), "&File");

  // After Clear and one error, a good load makes the error possible again.
  f.localizer.Clear();
  f.localizer.GetString("Menu", "File");
  f.localizer.GetString("Menu", "File");
  f.localizer.LoadFromFile(f.dir / "L.lng");
  f.localizer.Clear();
  f.localizer.GetString("Menu", "File");
  EXPECT_EQ(f.errors, 2);
}

TEST(Localizer, ListsRegularLngFilesSortedByName) {
  test::ScratchDir dir;
  for (const char* name : {"d.lng.bak", "b.LNG", "A.lng", "English.lng", ".lng", "Deutsch.lng"})
    test::WriteFile(dir / name, "[Menu]\n");
  fs::create_directory(dir / "C.lng");
  EXPECT_EQ(ListLanguages(dir.Path()), (std::vector<std::string>{"A", "Deutsch", "English"}));
  EXPECT_TRUE(ListLanguages(dir / "no such folder").empty());
}

TEST(Localizer, StoredLanguagesThatAreNoPlainNameMeanEnglish) {
  test::ScratchDir dir;
  const fs::path languages = dir / "Languages";
  fs::create_directories(languages / "Sub");
  fs::create_directories(languages / "Folder.lng");
  test::WriteFile(languages / "English.lng", "");
  test::WriteFile(languages / "German.lng", "");
  test::WriteFile(languages / "Sub" / "x.lng", "");
  test::WriteFile(dir / "Outside.lng", "");

  auto resolve = [&](std::string language) {
    const fs::path file = ResolveLanguageFile(languages, language);
    EXPECT_EQ(file, languages / (language + ".lng"));
    return language;
  };
  EXPECT_EQ(resolve("German"), "German");
  EXPECT_EQ(resolve("English"), "English");
  for (const std::string& bad : std::vector<std::string>{
           "", ".", "..", "../Outside", "Sub/x", "Sub\\x", "Folder", "Missing",
           std::string("German\0x", 8), "german"})
    EXPECT_EQ(resolve(bad), "English") << "language \"" << bad << "\"";
}

// The shipped files, checked by Python's configparser in strict mode: every
// key of the table exactly once, none unknown, none empty.
TEST(Localizer, ShippedLanguagesHaveEveryKeyOnce) {
  const fs::path folder = test::SourceProgramFolder() / "Languages";
  const std::vector<std::string> languages = ListLanguages(folder);
  ASSERT_GE(languages.size(), 2u);
  EXPECT_NE(std::find(languages.begin(), languages.end(), "English"), languages.end());

  test::ScratchDir dir;
  std::string expected;
  for (const TLanguageKey& k : kLanguageKeys) expected += std::string(k.Section) + "/" + k.Key + "\n";
  test::WriteFile(dir / "keys.txt", expected);
  test::WriteFile(dir / "check.py", R"(
import configparser, sys
expected = open(sys.argv[1], encoding="utf-8").read().split()
assert len(expected) == len(set(k.lower() for k in expected)), "table repeats a key"
for path in sys.argv[2:]:
    p = configparser.ConfigParser(strict=True, interpolation=None, delimiters=("=",),
                                  comment_prefixes=(";",), empty_lines_in_values=False)
    p.optionxform = str
    p.read_string(open(path, encoding="utf-8-sig").read(), path)
    found = [s + "/" + k for s in p.sections() for k in p[s]]
    folded = [k.lower() for k in found]
    assert len(folded) == len(set(folded)), path + ": a key differs only in case"
    assert set(found) == set(expected), (path, sorted(set(found) ^ set(expected)))
    empty = [k for k in found if not p[k.split("/")[0]][k.split("/")[1]].strip()]
    assert not empty, (path, empty)
print("ok")
)");
  std::string command = "python3 " + (dir / "check.py").string() + " " + (dir / "keys.txt").string();
  for (const auto& l : languages) command += " '" + (folder / (l + ".lng")).string() + "'";
  int status = 0;
  EXPECT_EQ(test::RunCommand(command + " 2>&1", &status), "ok\n");
  EXPECT_EQ(status, 0);

  // Our own reader gives every key a text.
  for (const auto& l : languages) {
    TLocalizer localizer;
    localizer.LoadFromFile(folder / (l + ".lng"));
    for (const TLanguageKey& k : kLanguageKeys)
      EXPECT_FALSE(localizer.GetString(k.Section, k.Key, k.Converted).empty()) << l << " " << k.Key;
    EXPECT_EQ(localizer.MissingCount(), 0u) << l;
  }
}

TEST(Localizer, ContentsPlaceholderHasLineBreaksTitlesDoNot) {
  TLocalizer l;
  l.LoadFromFile(test::SourceProgramFolder() / "Languages" / "English.lng");
  EXPECT_NE(l.GetString("TemplateResources", "Contents", true).find("\r\n"), std::string::npos);
  for (const char* key : {"Title1", "Title2", "Title3", "Title4"})
    EXPECT_EQ(l.GetString("TemplateResources", key).find('\n'), std::string::npos);
}

// A window built the way the program's windows are: its texts from the
// localizer, and one that is not.
class LocalizedWindow : public test::LanguageTest {};

TEST_P(LocalizedWindow, PseudoLanguageShowsWhereTextsComeFrom) {
  test::EnsureApplication();
  QWidget window;
  window.setWindowTitle(Localizer().Text("OptionsDialog", "Caption"));
  new QLabel(Localizer().Text("OptionsDialog", "LanguageSection"), &window);
  auto* ok = new QPushButton(Localizer().Text("DialogShared", "Ok"), &window);
  ok->setToolTip(Localizer().Text("PreviewForm", "CloseHint"));
  new QPushButton(QStringLiteral("25%"), &window);  // no words: nothing to translate
  if (!Pseudo()) {
    EXPECT_EQ(window.windowTitle(), QString("Options"));
    return;
  }
  EXPECT_EQ(window.windowTitle(), QString("⟦OptionsDialog.Caption⟧"));
  EXPECT_TRUE(test::TextsNotFromLanguageFile(window).empty());
  // A text written into the code is caught, and user data can be let through.
  new QLabel(QStringLiteral("Language"), &window);
  new QLabel(QStringLiteral("⟦MainForm.FileName⟧: my label.ovx"), &window);
  EXPECT_EQ(test::TextsNotFromLanguageFile(window, {"my label.ovx"}),
            std::vector<QString>{"Language"});
}

INSTANTIATE_TEST_SUITE_P(Languages, LocalizedWindow, ::testing::Values("English", "Pseudo"));

}  // namespace
}  // namespace kdl
