// Window tests run in a language: English, as shipped, or the
// pseudo-language whose every value is "⟦Section.Key⟧", so that a text that
// does not come from the language file stands out. Either way a look-up that
// answered "???" fails the test. Header only, for the app tests.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QRegularExpression>
#include <QWidget>

#include <filesystem>
#include <string>
#include <vector>

#include "app/LanguageKeys.h"
#include "app/Localizer.h"
#include "platform/ProgramFolder.h"
#include "support/TestFiles.h"

namespace kdl::test {

inline constexpr const char* kPseudoLanguage = "Pseudo";

// The program folder of the source tree, with the shipped language files.
inline std::filesystem::path SourceProgramFolder() {
  return std::filesystem::path(KDL_SOURCE_DIR) / "resources";
}

inline std::string PseudoText(const TLanguageKey& k) {
  return std::string("⟦") + k.Section + "." + k.Key + "⟧";
}

inline void WritePseudoLanguage(const std::filesystem::path& file) {
  std::string text;
  std::string section;
  for (const TLanguageKey& k : kLanguageKeys) {
    if (section != k.Section) text += std::string("[") + (section = k.Section) + "]\n";
    text += std::string(k.Key) + "=" + PseudoText(k) + "\n";
  }
  WriteFile(file, text);
}

// The texts a user reads on a widget tree: window titles, labels, buttons,
// group boxes, menus and actions, tool tips and placeholder texts.
inline std::vector<QString> VisibleTexts(const QWidget& root) {
  std::vector<QString> texts;
  auto add = [&](const QString& t) {
    if (!t.isEmpty()) texts.push_back(t);
  };
  auto visit = [&](const QWidget& w) {
    if (w.isWindow()) add(w.windowTitle());
    add(w.toolTip());
    if (auto* l = qobject_cast<const QLabel*>(&w)) add(l->text());
    if (auto* b = qobject_cast<const QAbstractButton*>(&w)) add(b->text());
    if (auto* g = qobject_cast<const QGroupBox*>(&w)) add(g->title());
    if (auto* e = qobject_cast<const QLineEdit*>(&w)) add(e->placeholderText());
    if (auto* m = qobject_cast<const QMenu*>(&w)) add(m->title());
    for (const QAction* a : w.actions()) {
      add(a->text());
      add(a->toolTip() == QString(a->text()).remove('&') ? QString() : a->toolTip());
    }
  };
  visit(root);
  for (const QWidget* w : root.findChildren<QWidget*>()) visit(*w);
  return texts;
}

// The texts that hold a letter outside every "⟦...⟧": under the
// pseudo-language, texts that did not come from the language file. Digits,
// punctuation and the names in allowed (user data, product names) pass.
inline std::vector<QString> TextsNotFromLanguageFile(const QWidget& root,
                                                     const std::vector<QString>& allowed = {}) {
  static const QRegularExpression pseudo(QStringLiteral("⟦[^⟧]*⟧"));
  static const QRegularExpression letter(QStringLiteral("\\p{L}"));
  std::vector<QString> stray;
  for (QString t : VisibleTexts(root)) {
    const QString original = t;
    t.remove(pseudo);
    for (const QString& a : allowed) t.remove(a);
    if (t.contains(letter)) stray.push_back(original);
  }
  return stray;
}

// A test running in one language, given as the test's parameter; the
// program folder is a scratch copy of the shipped languages plus the
// pseudo-language.
class LanguageTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    const auto languages = folder_ / "Languages";
    std::filesystem::create_directories(languages);
    for (const auto& e : std::filesystem::directory_iterator(SourceProgramFolder() / "Languages"))
      std::filesystem::copy_file(e.path(), languages / e.path().filename());
    WritePseudoLanguage(languages / (std::string(kPseudoLanguage) + ".lng"));
    SetProgramFolder(folder_.Path());
    language_ = GetParam();
    LoadLanguage(language_);
    ASSERT_EQ(language_, GetParam());
    Localizer().ResetMissingCount();
  }
  void TearDown() override {
    EXPECT_EQ(Localizer().MissingCount(), 0u) << "look-ups answered \"???\" in " << language_;
    Localizer().Clear();
    SetProgramFolder({});
  }

  bool Pseudo() const { return language_ == kPseudoLanguage; }

  ScratchDir folder_;
  std::string language_;
};

}  // namespace kdl::test
