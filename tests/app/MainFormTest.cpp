// The main window's start, its guards around the project file, the zoom
// and the data panel's print options, driven as a user drives them.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>

#include <cmath>
#include <cstdlib>
#include <map>

#include "MainFormTesting.h"
#include "UrlRecorder.h"
#include "app/HtmlHelp.h"
#include "app/output/PreviewForm.h"
#include "app/shapes/ExLineShape.h"
#include "kdl/Version.h"
#include "document/view/Page.h"

namespace kdl::test {

ModalScript::Step PickTemplate(int type) {
  return [type](QWidget& w) {
    EXPECT_EQ(w.objectName(), "NewProjectDlg");
    QTest::mouseClick(&Child<QWidget>(w, "Image" + std::to_string(type + 1)), Qt::LeftButton);
    QTest::mouseClick(&Child<QWidget>(w, "btnOK"), Qt::LeftButton);
  };
}

namespace {

using Snapshot = std::map<std::filesystem::path, std::string>;

Snapshot Files(const std::filesystem::path& folder) {
  Snapshot files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(folder))
    // The configuration folder keeps the file dialog's history.
    if (e.is_regular_file() && e.path().string().find("/config/") == std::string::npos)
      files[e.path()] = ReadFile(e.path());
  return files;
}

class MainFormTest : public MainFormFixture {
 protected:
  static QLineEdit& TitleEdit(TMainForm& form, int n) {
    return Child<QLineEdit>(form, "edtTitle" + std::to_string(n) + "Text");
  }
};

TEST_F(MainFormTest, StartWritesTemplatesBeforeTheWizardOrOpensEmpty) {
  {
    // First start: no settings and no templates.
    TMainForm form;
    bool allWritten = false;
    ModalScript script({[&](QWidget& w) {
      EXPECT_EQ(w.objectName(), "NewProjectDlg");
      EXPECT_FALSE(form.isVisible());
      allWritten = true;
      for (int type = 0; type < kTemplateCount; ++type)
        allWritten = allWritten && std::filesystem::is_regular_file(GetTemplateFileName(type));
      static_cast<QDialog&>(w).reject();
    }});
    ASSERT_TRUE(form.Start());
    EXPECT_EQ(script.Answered(), 1);
    EXPECT_TRUE(allWritten);
    EXPECT_FALSE(HasPage(form.Document()));
  }
  // The wizard off: the window opens without a project, its controls empty.
  StoreSettings(false);
  const Snapshot templates = Files(TemplatesFolder());
  {
    auto form = StartForm();
    EXPECT_FALSE(HasPage(form->Document()));
    EXPECT_TRUE(form->FileName().empty());
    for (int n = 1; n <= 4; ++n) EXPECT_TRUE(TitleEdit(*form, n).text().isEmpty());
    EXPECT_TRUE(Child<QPlainTextEdit>(*form, "memContentsText").toPlainText().isEmpty());
    EXPECT_TRUE(form->StatusText(0).isEmpty());
    EXPECT_FALSE(Child<QCheckBox>(*form, "cbPrintCutLines").isChecked());
    // Typing with no project changes nothing anywhere.
    QTest::keyClicks(&TitleEdit(*form, 1), "x");
    EXPECT_FALSE(form->Document().Modified());
    EXPECT_EQ(form->Document().UndoCount(), 0);
  }
  EXPECT_EQ(Files(TemplatesFolder()), templates);
  EXPECT_TRUE(Errors.empty());

  // A templates folder that cannot be made: the error is shown and the
  // start fails, so that the program ends.
  std::filesystem::remove_all(TemplatesFolder());
  WriteFile(TemplatesFolder(), "in the way");
  {
    TMainForm form;
    ModalScript script;
    EXPECT_FALSE(form.Start());
    EXPECT_EQ(script.Unexpected(), 0);
  }
  EXPECT_EQ(Errors.size(), 1u);
}

TEST_F(MainFormTest, AFailedOpenNeverSavesOverAFile) {
  // After a failed open there is no project and no file name: Ctrl+S shows
  // no dialog and writes nothing.
  auto SavingWritesNothing = [&](TMainForm& form, const Snapshot& before) {
    EXPECT_FALSE(HasPage(form.Document()));
    EXPECT_TRUE(form.FileName().empty());
    ModalScript script;
    Shortcut(form, Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(script.Unexpected(), 0);
    // Nor do the menu's Save and Save As.
    Trigger(form, "miFileSaveProject");
    Trigger(form, "miFileSaveProjectAs");
    QApplication::processEvents();
    EXPECT_EQ(script.Unexpected(), 0);
    EXPECT_EQ(Files(scratch.Path()), before);
  };
  MakeTemplates();
  StoreSettings(false);
  auto form = StartForm();

  // A project of a later version.
  const auto later = scratch / "later.ovx";
  {
    TdtpDocument doc;
    doc.SetStoreThumbnails(false);
    ASSERT_TRUE(OpenProject(doc, GetTemplateFileName(0)));
    dynamic_cast<TDtpProjectInfoShape*>(doc.GetShape(kProjectInfoIndex))->SetVersion(103);
    doc.ForceFullSave();
    SaveProjectFile(doc, later.string());
  }
  Snapshot before = Files(scratch.Path());
  {
    ModalScript script({ChooseFile(later)});
    Trigger(*form, "miFileOpenProject");
    EXPECT_EQ(script.Answered(), 1);
  }
  ASSERT_EQ(Errors.size(), 1u);
  EXPECT_NE(Errors[0].find(Localizer().GetString("Messages", "UnSupportedProjectVersion")), std::string::npos);
  SavingWritesNothing(*form, before);

  // A saved project, then a New whose template file has gone.
  const auto saved = scratch / "saved.ovx";
  {
    ModalScript script({PickTemplate(2), ChooseFile(saved)});
    Trigger(*form, "miFileNewProject");
    Trigger(*form, "miFileSaveProjectAs");
    EXPECT_EQ(script.Answered(), 2);
  }
  EXPECT_EQ(form->FileName(), saved.string());
  // An open that fails forgets the saved project's name with the project.
  before = Files(scratch.Path());
  {
    ModalScript script({ChooseFile(later)});
    Trigger(*form, "miFileOpenProject");
    EXPECT_EQ(script.Answered(), 1);
  }
  EXPECT_EQ(Errors.size(), 2u);
  SavingWritesNothing(*form, before);
  {
    ModalScript script({ChooseFile(saved)});
    Trigger(*form, "miFileOpenProject");
    EXPECT_EQ(script.Answered(), 1);
  }
  EXPECT_EQ(form->FileName(), saved.string());
  std::filesystem::remove(GetTemplateFileName(4));
  before = Files(scratch.Path());
  {
    ModalScript script({PickTemplate(4)});
    Trigger(*form, "miFileNewProject");
    EXPECT_EQ(script.Answered(), 1);
  }
  EXPECT_EQ(Errors.size(), 3u);
  SavingWritesNothing(*form, before);
}

TEST_F(MainFormTest, ChangesSurviveACancelledSaveAndClosing) {
  auto form = FormWithProject(0);
  EXPECT_FALSE(form->Document().Modified());
  QTest::keyClicks(&TitleEdit(*form, 1), "Kept");
  const std::string typed = GetTextShapeText(form->Document(), kFirstTitleIndex);
  EXPECT_EQ(typed.substr(typed.size() - 4), "Kept");
  ASSERT_TRUE(form->Document().Modified());

  // "Yes", then the save dialog cancelled: the new project never starts.
  for (const char* command : {"miFileNewProject", "miFileOpenProject"}) {
    ModalScript script({Press(QMessageBox::Yes), Reject()});
    Trigger(*form, command);
    EXPECT_EQ(script.Answered(), 2) << command;
    EXPECT_EQ(script.Unexpected(), 0) << command;
    EXPECT_EQ(GetTextShapeText(form->Document(), kFirstTitleIndex), typed);
    EXPECT_EQ(TitleEdit(*form, 1).text().toStdString(), typed);
    EXPECT_TRUE(form->Document().Modified());
  }

  // Closing asks the same question; Cancel keeps the window.
  {
    ModalScript script({Press(QMessageBox::Cancel)});
    EXPECT_FALSE(form->close());
    EXPECT_EQ(script.Answered(), 1);
    EXPECT_TRUE(form->isVisible());
  }
  {
    ModalScript script({Press(QMessageBox::Yes), Reject()});
    EXPECT_FALSE(form->close());
    EXPECT_TRUE(form->isVisible());
  }
  {
    ModalScript script({Press(QMessageBox::No)});
    EXPECT_TRUE(form->close());
    EXPECT_EQ(script.Answered(), 1);
  }
  EXPECT_TRUE(Errors.empty());
}

TEST_F(MainFormTest, ZoomAndControlUpdates) {
  auto form = FormWithProject(0);
  TdtpDocument& doc = form->Document();
  form->resize(1000, 720);
  QApplication::processEvents();

  // 100 % shows the page at 1 / 1.11 of its size on a screen of the
  // document's resolution.
  form->SetZoom(100);
  const double dpi = doc.logicalDpiY();
  EXPECT_NEAR(doc.ScreenDpm(), dpi / 25.4 / 1.11, 0.02);
  EXPECT_FALSE(doc.Modified());

  form->SetZoom(400);
  Trigger(*form, "miZoomZoomIn");
  EXPECT_EQ(form->Zoom(), 500);
  form->SetZoom(6);
  Trigger(*form, "miZoomZoomOut");
  EXPECT_EQ(form->Zoom(), 5);
  Trigger(*form, "miZoomN200");
  EXPECT_EQ(form->Zoom(), 200);
  EXPECT_NEAR(doc.ScreenDpm(), 2 * dpi / 25.4 / 1.11, 0.05);

  // The status bar shows the mouse's place on the page in millimetres.
  QWidget* view = doc.viewport();
  const QPoint at(100, 60);
  QTest::mouseMove(view, at);
  const TFloatPoint mm = doc.ScreenToDoc({100, 60});
  EXPECT_NEAR(mm.X, 100 / doc.ScreenDpm(), 1e-3);
  const QString expected = " " + Localizer().Text("MainForm", "Cursor") + ": x =" +
                           QString::number(mm.X, 'f', 1).rightJustified(6) + "; y =" +
                           QString::number(mm.Y, 'f', 1).rightJustified(6);
  EXPECT_EQ(form->StatusText(1), expected);

  // A page without size (a damaged file) keeps the zoom a number in range.
  doc.GetCurrentPage()->SetPageWidth(0);
  doc.GetCurrentPage()->SetPageHeight(0);
  for (bool limit : {true, false}) {
    form->ZoomToWindow(limit);
    EXPECT_TRUE(std::isfinite(form->Zoom()));
    EXPECT_GE(form->Zoom(), 5);
    EXPECT_LE(form->Zoom(), 500);
    // Nothing to fit: the page shows at about its own size, not the largest zoom.
    EXPECT_NEAR(form->Zoom(), 100, 2) << limit;
  }
  // The same through the menu, from another zoom.
  form->SetZoom(300);
  Trigger(*form, "miZoomZoomToWindow");
  EXPECT_NEAR(form->Zoom(), 100, 2);

  // Reading the project into the controls writes nothing back.
  SetShapeText(doc, kFirstTitleIndex + 1, "From the shape");
  SetShapeText(doc, kContentsIndex, "One\r\nTwo");
  const int undo = doc.UndoCount();
  form->UpdateControlsFromDocument();
  EXPECT_EQ(TitleEdit(*form, 2).text(), "From the shape");
  EXPECT_EQ(Child<QPlainTextEdit>(*form, "memContentsText").toPlainText(), "One\nTwo");
  EXPECT_EQ(doc.UndoCount(), undo);
  EXPECT_FALSE(form->Updating());
  // The memo's line breaks reach the shape as CR LF.
  auto& memo = Child<QPlainTextEdit>(*form, "memContentsText");
  QTest::keyClick(&memo, Qt::Key_End, Qt::ControlModifier);
  TypeText(&memo, "\nThree");
  EXPECT_EQ(GetMemoShapeText(doc, kContentsIndex), "One\r\nTwo\r\nThree");
}

// F1 and the Help menu show the contents in the program's own help window,
// whatever the desktop has for opening files; missing help is reported.
TEST_F(MainFormTest, HelpContentsOpenInTheProgramsOwnWindow) {
  auto form = FormWithProject(0);
  UrlRecorder recorder({"file", "http", "https"});
  const QUrl contents = QUrl::fromLocalFile(
      QString::fromStdString((std::filesystem::path(KDL_SOURCE_DIR) / "resources/Helps/English/index.html").string()));

  Shortcut(*form, Qt::Key_F1, {});
  auto* help = form->findChild<THtmlHelpViewer*>();
  ASSERT_NE(help, nullptr);
  EXPECT_TRUE(help->isVisible());
  EXPECT_EQ(help->Browser().source().adjusted(QUrl::NormalizePathSegments), contents);
  EXPECT_FALSE(help->Browser().toPlainText().isEmpty());
  help->close();
  Trigger(*form, "miHelpHelpContents");
  EXPECT_TRUE(help->isVisible());
  EXPECT_EQ(help->Browser().source().adjusted(QUrl::NormalizePathSegments), contents);
  help->close();
  EXPECT_TRUE(recorder.urls.empty());
  EXPECT_TRUE(Errors.empty());

  // A program folder without its help: the error box says which file.
  std::filesystem::create_directories(scratch / "bare");
  SetProgramFolder(scratch / "bare");
  Trigger(*form, "miHelpHelpContents");
  ASSERT_EQ(Errors.size(), 1u);
  EXPECT_NE(Errors[0].find("Helps/English/index.html"), std::string::npos) << Errors[0];
  EXPECT_FALSE(help->isVisible());
  EXPECT_TRUE(recorder.urls.empty());
}

// Qt's own texts follow the language the user chooses: the save question's
// buttons read German under German and English again after switching back.
TEST_F(MainFormTest, StandardButtonsFollowTheChosenLanguage) {
  auto form = FormWithProject(0);
  TypeText(&TitleEdit(*form, 1), "Changed");
  auto choose = [&](const char* language) {
    ModalScript script({[language](QWidget& w) {
      Child<QComboBox>(w, "cmbLanguage").setCurrentText(QString::fromLatin1(language));
      QTest::keyClick(&Child<QPushButton>(w, "btnOK"), Qt::Key_Space);
    }});
    Trigger(*form, "miFileShowOptions");
    EXPECT_EQ(script.Answered(), 1);
  };
  auto buttons = [&](const char* shot) {
    QStringList texts;
    ModalScript script({[&](QWidget& w) {
      auto* box = qobject_cast<QMessageBox*>(&w);
      ASSERT_NE(box, nullptr) << w.metaObject()->className();
      for (QMessageBox::StandardButton b : {QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel})
        texts << (box->button(b) ? box->button(b)->text().remove(QLatin1Char('&')) : QStringLiteral("(none)"));
      const QImage image = box->grab().toImage();
      if (HasFailure() || std::getenv("KDL_KEEP_SCREENSHOTS")) image.save(QString::fromLatin1(shot));
      box->reject();
    }});
    Trigger(*form, "miFileNewProject");
    EXPECT_EQ(script.Answered(), 1);
    return texts;
  };

  choose("German");
  EXPECT_EQ(buttons("save-question-german.png"), QStringList({"Ja", "Nein", "Abbrechen"}));
  choose("English");
  EXPECT_EQ(buttons("save-question-english.png"), QStringList({"Yes", "No", "Cancel"}));
  EXPECT_TRUE(form->Document().Modified());
  EXPECT_TRUE(Errors.empty());
}

// In every shipped language, the items of each menu (the menu bar's titles
// among them) have mnemonics of their own, so that Alt+letter finds one.
TEST_F(MainFormTest, EveryMenuOfEveryLanguageHasDistinctMnemonics) {
  MakeTemplates();
  const std::vector<std::string> languages = ListLanguages(LanguagesFolder());
  ASSERT_GE(languages.size(), 2u);
  for (const std::string& language : languages) {
    TSettings settings;
    settings.RunWizardOnStartup = false;
    settings.Language = language;
    SaveSettings(*OpenUserSettings(), settings);
    auto form = StartForm();
    std::vector<std::pair<QString, QList<QAction*>>> menus{{"menu bar", form->menuBar()->actions()}};
    for (QMenu* menu : form->findChildren<QMenu*>()) menus.emplace_back(menu->objectName(), menu->actions());
    int checked = 0;
    for (const auto& [name, actions] : menus) {
      std::map<QChar, QString> taken;
      for (QAction* action : actions) {
        const QString text = action->text();
        for (qsizetype i = 0; i + 1 < text.size(); ++i) {
          if (text[i] != QLatin1Char('&')) continue;
          if (text[i + 1] == QLatin1Char('&')) {
            ++i;
            continue;
          }
          const QChar letter = text[i + 1].toLower();
          const auto [it, fresh] = taken.emplace(letter, text);
          EXPECT_TRUE(fresh) << language << ", " << name.toStdString() << ": \"" << text.toStdString()
                             << "\" and \"" << it->second.toStdString() << "\" share " << QString(letter).toStdString();
          ++checked;
          break;
        }
      }
    }
    // File, View and Help with their items, at the least.
    EXPECT_GE(checked, 20) << language;
    EXPECT_TRUE(Errors.empty()) << language;
  }
}

// Zoom to window shows the whole page of every template inside the part of
// the view that its scroll bars leave, at window sizes tall and wide.
TEST_F(MainFormTest, ZoomToWindowShowsTheWholePageOfEveryTemplate) {
  for (int type = 0; type < kTemplateCount; ++type) {
    auto form = FormWithProject(type);
    TdtpDocument& doc = form->Document();
    // The wizard opened the project before the window showed: the first
    // showing fits it already.
    const float atShow = form->Zoom();
    Trigger(*form, "miZoomZoomToWindow");
    EXPECT_FLOAT_EQ(form->Zoom(), atShow) << "template " << type;
    for (const QSize size : {QSize(1000, 720), QSize(900, 800), QSize(1280, 640)}) {
      form->resize(size);
      QApplication::processEvents();
      Trigger(*form, "miZoomZoomToWindow");
      QApplication::processEvents();
      const TdtpPage* page = doc.GetCurrentPage();
      const TFloatPoint a = doc.DocToScreen({page->DocLeft(), page->DocTop()});
      const TFloatPoint b = doc.DocToScreen({page->DocLeft() + page->DocWidth(), page->DocTop() + page->DocHeight()});
      // What the user sees of the view: the viewport, clipped by the panel.
      const QRect visible = doc.viewport()->rect();
      const QRectF shown(QPointF(a.X, a.Y), QPointF(b.X, b.Y));
      EXPECT_TRUE(QRectF(visible).contains(shown))
          << "template " << type << " at " << size.width() << "x" << size.height() << ": page (" << a.X << ", "
          << a.Y << ")-(" << b.X << ", " << b.Y << ") in a view of " << visible.width() << "x" << visible.height();
      EXPECT_TRUE(doc.viewport()->isVisible());
      // Fitted, not merely small: one side nearly fills the view, unless the
      // page reached its full size first.
      EXPECT_TRUE(form->Zoom() >= 98 || shown.width() >= 0.9 * visible.width() ||
                  shown.height() >= 0.9 * visible.height())
          << "template " << type << ", zoom " << form->Zoom();
    }
  }
}

TEST_F(MainFormTest, PrintLineBoxesAndHelpItems) {
  auto form = FormWithProject(1);
  TdtpDocument& doc = form->Document();
  auto* info = dynamic_cast<TDtpProjectInfoShape*>(doc.GetShape(kProjectInfoIndex));
  auto visible = [&](std::int32_t kind) {
    std::vector<bool> v;
    for (int i = kFirstLineIndex; i < doc.ShapeCount(); ++i)
      if (doc.GetShape(i)->Tag() == kind) v.push_back(doc.GetShape(i)->Visible());
    return v;
  };
  auto& cut = Child<QCheckBox>(*form, "cbPrintCutLines");
  auto& fold = Child<QCheckBox>(*form, "cbPrintFoldLines");
  ASSERT_FALSE(visible(kCutLineTag).empty());
  ASSERT_FALSE(visible(kFoldLineTag).empty());
  for (QCheckBox* box : {&cut, &fold}) {
    for (int round = 0; round < 2; ++round) {
      const bool on = !box->isChecked();
      const std::int32_t kind = box == &cut ? kCutLineTag : kFoldLineTag;
      const std::int32_t other = box == &cut ? kFoldLineTag : kCutLineTag;
      const std::vector<bool> others = visible(other);
      const int undo = doc.UndoCount();
      QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
      EXPECT_EQ(box->isChecked(), on);
      EXPECT_EQ(box == &cut ? info->PrintCutLines() : info->PrintFoldLines(), on);
      EXPECT_EQ(visible(kind), std::vector<bool>(visible(kind).size(), on));
      EXPECT_EQ(visible(other), others);
      // Lines record no undo of their own; the flags' change is one step at most.
      EXPECT_LE(doc.UndoCount(), undo + 1);
    }
  }

  // The help menu's items reach the desktop's handlers.
  UrlRecorder recorder({"mailto", "https", "file"});
  for (const char* item : {"miHelpContactSupport", "miHelpSuggestFeature", "miHelpReportBug", "miHelpHomepage"})
    Trigger(*form, item);
  for (QAction* search : form->findChild<QMenu*>("miHelpCoverSeach")->actions()) search->trigger();
  ASSERT_EQ(recorder.urls.size(), 7);
  const std::array<const char*, 3> subjects{"ContactSupportSubject", "SuggestFeatureSubject", "ReportBugSubject"};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(recorder.urls[i].scheme(), "mailto");
    EXPECT_NE(QUrl::fromPercentEncoding(recorder.urls[i].toEncoded()).indexOf(Localizer().Text("Mail", subjects[i])),
              -1);
  }
  EXPECT_EQ(recorder.urls[3].toString().toStdString(), version::HomepageUrl);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(recorder.urls[4 + i].host(), kCoverSearchSites[i].Host);

  // The printing steps of the help, in the program's own help window.
  QTest::mouseClick(&Child<QPushButton>(*form, "btnShowProcessHelp"), Qt::LeftButton);
  auto* help = form->findChild<THtmlHelpViewer*>();
  ASSERT_NE(help, nullptr);
  EXPECT_TRUE(help->isVisible());
  EXPECT_TRUE(help->Browser().source().isLocalFile());
  help->close();

  // The preview shows over the window.
  {
    ModalScript script({[](QWidget& w) {
      EXPECT_NE(qobject_cast<TPreviewForm*>(&w), nullptr) << w.metaObject()->className();
      static_cast<QDialog&>(w).reject();
    }});
    Trigger(*form, "miFilePrintPreview");
    EXPECT_EQ(script.Answered(), 1);
  }

  // A print that fails ends in the error box, not in the event loop; the
  // window goes on working.
  CurrentPrinter().setOutputFileName(QString::fromStdString((scratch / "no such folder" / "sheet.pdf").string()));
  {
    ModalScript script({PrintToFile()});
    QTest::mouseClick(&Child<QPushButton>(*form, "btnPrint"), Qt::LeftButton);
    EXPECT_EQ(script.Answered(), 1);
  }
  ASSERT_EQ(Errors.size(), 1u);
  EXPECT_EQ(Errors[0], Localizer().GetString("Messages", "PrintingError"));
  Trigger(*form, "miZoomN50");
  EXPECT_EQ(form->Zoom(), 50);
}

}  // namespace
}  // namespace kdl::test
