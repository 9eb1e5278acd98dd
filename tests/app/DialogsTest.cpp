// The options, about, contents editor and new-project dialogs, driven as a
// user meets them: real widgets, QTest events, the shipped language files.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "app/AboutDialog.h"
#include "app/ApplicationSetup.h"
#include "app/CropBitmapDialog.h"
#include "app/MultiTextEditorDialog.h"
#include "app/NewProjectDialog.h"
#include "app/OptionsDialog.h"
#include "app/VersionInfo.h"
#include "kdl/Version.h"
#include "support/LanguageTesting.h"
#include "support/QtApplication.h"
#include "DialogTesting.h"
#include "UrlRecorder.h"

namespace kdl {
namespace {

using test::Child;
using test::ExecDialog;

// Every dialog, built in the current language.
std::vector<std::unique_ptr<QDialog>> AllDialogs() {
  std::vector<std::unique_ptr<QDialog>> dialogs;
  dialogs.push_back(std::make_unique<TOptionsDialog>());
  dialogs.push_back(std::make_unique<TAboutDialog>());
  dialogs.push_back(std::make_unique<TMultiTextEditorDialog>());
  dialogs.push_back(std::make_unique<TNewProjectDialog>());
  dialogs.push_back(std::make_unique<TCropBitmapDialog>());
  return dialogs;
}

class Dialogs : public test::LanguageTest {
 protected:
  void SetUp() override {
    test::EnsureApplication();
    SetApplicationFont();
    test::LanguageTest::SetUp();
  }
};

TEST_P(Dialogs, TextsComeFromTheLanguageFile) {
  const TFileVersionInfo& info = VersionInfo();
  const QString product = QString::fromStdString(info.ProductName + " " + info.ProductVersion);
  for (const auto& dialog : AllDialogs()) {
    SCOPED_TRACE(dialog->objectName().toStdString());
    if (!Pseudo()) {
      EXPECT_FALSE(dialog->windowTitle().isEmpty());
      continue;
    }
    // The about dialog's product, site and copyright are the program's own.
    EXPECT_EQ(test::TextsNotFromLanguageFile(
                  *dialog, {product, TAboutDialog::SiteName(),
                            QString::fromStdString(info.LegalCopyright), "Official site:"}),
              std::vector<QString>{});
  }
}

TEST_P(Dialogs, OptionsListTheLanguagesAndKeepADeletedOne) {
  TOptionsDialog dialog;
  auto& list = Child<QComboBox>(dialog, "cmbLanguage");
  auto& wizard = Child<QCheckBox>(dialog, "cbRunWizard");
  ASSERT_EQ(list.count(), 3);
  EXPECT_EQ(list.itemText(0), "English");
  EXPECT_EQ(list.itemText(1), "German");
  EXPECT_EQ(list.itemText(2), "Pseudo");

  // The current language is selected; OK takes the other choices back.
  dialog.SetLanguage(language_);
  dialog.SetRunWizard(true);
  EXPECT_EQ(ExecDialog(dialog,
                       [&] {
                         EXPECT_EQ(list.currentText().toStdString(), language_);
                         EXPECT_TRUE(wizard.isChecked());
                         list.setCurrentIndex(1);
                         QTest::mouseClick(&wizard, Qt::LeftButton);
                         QTest::keyClick(&Child<QPushButton>(dialog, "btnOK"), Qt::Key_Space);
                       }),
            QDialog::Accepted);
  EXPECT_EQ(dialog.Language(), "German");
  EXPECT_FALSE(dialog.RunWizard());

  // A language whose file was deleted selects nothing and stays the choice.
  dialog.SetLanguage("Klingon");
  EXPECT_EQ(ExecDialog(dialog,
                       [&] {
                         EXPECT_EQ(list.currentIndex(), -1);
                         Child<QPushButton>(dialog, "btnOK").click();
                       }),
            QDialog::Accepted);
  EXPECT_EQ(dialog.Language(), "Klingon");

  // Escape closes it as cancelled, so that the caller applies nothing.
  EXPECT_EQ(ExecDialog(dialog, [&] { QTest::keyClick(&list, Qt::Key_Escape); }), QDialog::Rejected);
}

TEST_P(Dialogs, AboutShowsTheProductAndOpensTheSite) {
  TAboutDialog dialog;
  const TFileVersionInfo& info = VersionInfo();
  EXPECT_EQ(Child<QLabel>(dialog, "txtProductInfo").text().toStdString(),
            info.ProductName + " " + info.ProductVersion);
  EXPECT_EQ(Child<QLabel>(dialog, "txtOfficialSite").text(), "Official site:");
  EXPECT_EQ(Child<QLabel>(dialog, "txtOfficialSiteURL").text(), "kestrune.example");
  EXPECT_EQ(Child<QLabel>(dialog, "txtCopyrights").text().toStdString(), info.LegalCopyright);

  test::UrlRecorder recorder({"http", "https"});
  dialog.show();
  QTest::mouseClick(&Child<QLabel>(dialog, "txtOfficialSiteURL"), Qt::LeftButton);
  QTest::mouseClick(&Child<QLabel>(dialog, "txtOfficialSite"), Qt::LeftButton);
  QTest::mouseClick(&Child<QLabel>(dialog, "txtCopyrights"), Qt::LeftButton);
  ASSERT_EQ(recorder.urls.size(), 2);
  for (const QUrl& url : recorder.urls)
    EXPECT_EQ(url.toString().toStdString(), version::HomepageUrl);
  dialog.hide();

  EXPECT_EQ(ExecDialog(dialog, [&] { QTest::keyClick(&dialog, Qt::Key_Escape); }),
            QDialog::Rejected);
  EXPECT_EQ(ExecDialog(dialog, [&] { QTest::keyClick(&dialog, Qt::Key_Return); }),
            QDialog::Accepted);
}

TEST_P(Dialogs, EditorRoundTripsLinesAndCaret) {
  TMultiTextEditorDialog dialog;
  auto& memo = Child<QPlainTextEdit>(dialog, "Memo");
  EXPECT_EQ(memo.lineWrapMode(), QPlainTextEdit::NoWrap);

  // Empty lines, the last one too, and the caret come back as they went in.
  const QString text =
      "\n1. One\n\n\n2. Two with a line far longer than the memo is wide, unwrapped\n\n";
  dialog.SetText(text);
  dialog.SetCaretPosition(9);
  EXPECT_EQ(ExecDialog(dialog, [&] { Child<QPushButton>(dialog, "btnOK").click(); }),
            QDialog::Accepted);
  EXPECT_EQ(dialog.Text(), text);
  EXPECT_EQ(dialog.CaretPosition(), 9);

  // Typing: Return breaks the line and leaves the dialog open.
  EXPECT_EQ(ExecDialog(dialog,
                       [&] {
                         QTest::keyClicks(&memo, "ab");
                         QTest::keyClick(&memo, Qt::Key_Return);
                         QTest::keyClick(&memo, Qt::Key_Return);
                         QTest::keyClicks(&memo, "c");
                         EXPECT_TRUE(dialog.isVisible());
                         Child<QPushButton>(dialog, "btnOK").click();
                       }),
            QDialog::Accepted);
  EXPECT_EQ(
      dialog.Text(),
      "\n1. One\n\nab\n\nc\n2. Two with a line far longer than the memo is wide, unwrapped\n\n");
  EXPECT_EQ(dialog.CaretPosition(), 9 + 5);

  // Beyond the end, the caret goes to the end; empty text has it at 0.
  dialog.SetCaretPosition(100000);
  EXPECT_EQ(dialog.CaretPosition(), dialog.Text().size());
  dialog.SetText({});
  dialog.SetCaretPosition(-5);
  EXPECT_EQ(dialog.CaretPosition(), 0);
  EXPECT_EQ(dialog.Text(), QString());

  EXPECT_EQ(ExecDialog(dialog, [&] { Child<QPushButton>(dialog, "btnCancel").click(); }),
            QDialog::Rejected);
  EXPECT_EQ(ExecDialog(dialog, [&] { QTest::keyClick(&memo, Qt::Key_Escape); }), QDialog::Rejected);
}

INSTANTIATE_TEST_SUITE_P(Languages, Dialogs, ::testing::Values("English", "Pseudo"));

// In every shipped language each text fits the size its control was
// placed at, and no two controls of one parent overlap.
class DialogFit : public Dialogs {};

QSize Needed(const QWidget& w) {
  if (auto* l = qobject_cast<const QLabel*>(&w); l && l->wordWrap())
    return {0, l->heightForWidth(l->width())};
  // The style pads the hint of a check box or radio button by its focus
  // frame beyond the 17 pixels the records give them; the indicator, the
  // spacing and the text must fit.
  auto box = [&](QStyle::PixelMetric width, QStyle::PixelMetric height,
                 QStyle::PixelMetric spacing, const QString& text) {
    const QStyle& s = *w.style();
    return QSize(s.pixelMetric(width) + s.pixelMetric(spacing) +
                     w.fontMetrics().horizontalAdvance(text),
                 std::max(s.pixelMetric(height), w.fontMetrics().height()));
  };
  if (auto* c = qobject_cast<const QCheckBox*>(&w))
    return box(QStyle::PM_IndicatorWidth, QStyle::PM_IndicatorHeight,
               QStyle::PM_CheckBoxLabelSpacing, c->text());
  if (auto* r = qobject_cast<const QRadioButton*>(&w))
    return box(QStyle::PM_ExclusiveIndicatorWidth, QStyle::PM_ExclusiveIndicatorHeight,
               QStyle::PM_RadioButtonLabelSpacing, r->text());
  return w.sizeHint();
}

TEST_P(DialogFit, TextsFitAndControlsDoNotOverlap) {
  for (const auto& dialog : AllDialogs()) {
    SCOPED_TRACE(dialog->objectName().toStdString());
    for (const QWidget* w : dialog->findChildren<QWidget*>()) {
      const bool hasText =
          qobject_cast<const QLabel*>(w) || qobject_cast<const QAbstractButton*>(w);
      if (!hasText || w->objectName() == "imgIcon") continue;
      const QSize need = Needed(*w);
      EXPECT_LE(need.width(), w->width()) << w->objectName().toStdString();
      EXPECT_LE(need.height(), w->height()) << w->objectName().toStdString();
      // Inside its parent's client area.
      EXPECT_TRUE(w->parentWidget()->rect().contains(w->geometry()))
          << w->objectName().toStdString();
    }
    // Our controls are the named ones; Qt names its inner parts "qt_...".
    auto ours = [](const QWidget* w) {
      return !w->objectName().isEmpty() && !w->objectName().startsWith("qt_");
    };
    QList<QWidget*> parents = dialog->findChildren<QWidget*>();
    parents << dialog.get();
    for (const QWidget* parent : parents) {
      if (!ours(parent)) continue;
      QList<QWidget*> children = parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
      children.removeIf([&](const QWidget* w) { return !ours(w); });
      for (qsizetype i = 0; i < children.size(); ++i)
        for (qsizetype j = i + 1; j < children.size(); ++j)
          EXPECT_FALSE(children[i]->geometry().intersects(children[j]->geometry()))
              << children[i]->objectName().toStdString() << " and "
              << children[j]->objectName().toStdString();
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Shipped, DialogFit, ::testing::Values("English", "German"));

TEST(DialogPlaces, ControlsWhereTheRecordsPutThem) {
  test::EnsureApplication();
  Localizer().LoadFromFile(test::SourceProgramFolder() / "Languages" / "English.lng");
  // A window of 320 x 208 has a client area of 314 x 180 inside its
  // frame: 15 pixels stay under the OK button, as many as right of it.
  TOptionsDialog options;
  EXPECT_EQ(options.size(), QSize(314, 180));
  EXPECT_EQ(Child<QWidget>(options, "imgIcon").geometry(), QRect(16, 20, 48, 48));
  EXPECT_EQ(Child<QWidget>(options, "pnlDec").geometry(), QRect(80, 10, 225, 120));
  EXPECT_EQ(Child<QWidget>(options, "btnOK").geometry(), QRect(219, 140, 86, 25));
  // Worked out by hand: caption at (15 - 5, 8); line one below its box;
  // list 6 below with its pad of 2; the second section 16 below the list.
  EXPECT_EQ(Child<QWidget>(options, "txtLanguageSectionCaption").geometry(), QRect(10, 8, 180, 13));
  EXPECT_EQ(Child<QWidget>(options, "pnlLanguageSectionDecLine").geometry(), QRect(10, 22, 185, 1));
  EXPECT_EQ(Child<QWidget>(options, "cmbLanguage").geometry(), QRect(15, 31, 120, 21));
  EXPECT_EQ(Child<QWidget>(options, "txtStartupSectionCaption").geometry(), QRect(10, 68, 180, 13));
  EXPECT_EQ(Child<QWidget>(options, "pnlStartupSectionDecLine").geometry(), QRect(10, 82, 185, 1));
  EXPECT_EQ(Child<QWidget>(options, "cbRunWizard").geometry(), QRect(20, 91, 200, 17));

  // Product at (15 + 28, 12); site caption 16 below it, its name 12 to the
  // right of the caption's box; copyright 16 below.
  TAboutDialog about;
  EXPECT_EQ(about.size(), QSize(314, 180));
  EXPECT_EQ(Child<QWidget>(about, "txtProductInfo").geometry(), QRect(43, 12, 160, 36));
  EXPECT_EQ(Child<QWidget>(about, "txtOfficialSite").geometry(), QRect(10, 64, 100, 13));
  EXPECT_EQ(Child<QWidget>(about, "txtOfficialSiteURL").geometry(), QRect(117, 64, 100, 13));
  EXPECT_EQ(Child<QWidget>(about, "txtCopyrights").geometry(), QRect(10, 93, 205, 13));

  // 380 x 440 is a client area of 374 x 412: the memo's panel ends 10
  // pixels under it, the buttons' row is the last 50.
  TMultiTextEditorDialog editor;
  EXPECT_EQ(editor.size(), QSize(374, 412));
  EXPECT_EQ(Child<QWidget>(editor, "Memo").geometry(), QRect(5, 5, 363, 347));
  EXPECT_EQ(Child<QWidget>(editor, "pnlText").geometry(), QRect(0, 0, 374, 362));
  EXPECT_EQ(Child<QWidget>(editor, "pnlButtons").geometry(), QRect(0, 362, 374, 50));
  EXPECT_EQ(Child<QWidget>(editor, "btnOK").geometry(), QRect(180, 11, 86, 25));
  EXPECT_EQ(Child<QWidget>(editor, "btnCancel").geometry(), QRect(276, 11, 86, 25));

  // Each opens centred on the window it belongs to.
  QWidget main;
  main.setGeometry(40, 30, 700, 520);  // inside the offscreen screen
  main.show();
  for (const auto& dialog : AllDialogs()) {
    dialog->setParent(&main, dialog->windowFlags());
    dialog->show();
    const QPoint offset = dialog->frameGeometry().center() - main.frameGeometry().center();
    EXPECT_LE(offset.manhattanLength(), 2) << dialog->objectName().toStdString();
    dialog->hide();
  }
  Localizer().Clear();
}

}  // namespace
}  // namespace kdl
