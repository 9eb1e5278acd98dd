// The main window as a user edits in it: copies of template shapes that
// the keys and the mouse make and remove, what the window offers before a
// project exists, and the printer the preview names.
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <optional>

#include "MainFormTesting.h"
#include "app/output/PreviewForm.h"
#include "document/shapes/Shape.h"
#include "document/view/Page.h"

namespace kdl::test {
namespace {

struct Flags {
  std::string ClassName;
  bool AllowDelete, AllowSelect;
  std::int32_t Tag;
  bool operator==(const Flags&) const = default;
};

std::vector<Flags> FlagsOf(TdtpDocument& doc, int count) {
  std::vector<Flags> flags;
  for (int i = 0; i < count; ++i) {
    const TdtpShape* s = doc.GetShape(i);
    flags.push_back({s->ClassName(), s->AllowDelete(), s->AllowSelect(), s->Tag()});
  }
  return flags;
}

void SendMouse(QWidget& w, QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held,
               Qt::KeyboardModifiers modifiers) {
  QMouseEvent e(type, QPointF(at), QPointF(w.mapToGlobal(at)), button, held, modifiers);
  QApplication::sendEvent(&w, &e);
}

class MainFormEditingTest : public MainFormFixture {
 protected:
  static void Key(TdtpDocument& doc, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::keyClick(&doc, key, modifiers);
    QApplication::processEvents();
  }
  // A view pixel where shape shows on top, so that a click there hits it.
  static std::optional<QPoint> PointOn(TdtpDocument& doc, TdtpShape& shape) {
    const TFloatPoint a = doc.DocToScreen({shape.DocLeft(), shape.DocTop()});
    const TFloatPoint b = doc.DocToScreen({shape.DocLeft() + shape.DocWidth(), shape.DocTop() + shape.DocHeight()});
    for (int y = static_cast<int>(a.Y) + 2; y < static_cast<int>(b.Y) - 2; ++y)
      for (int x = static_cast<int>(a.X) + 2; x < static_cast<int>(b.X) - 2; ++x)
        if (shape.HitTest({x, y})) return QPoint(x, y);
    return std::nullopt;
  }
};

TEST_F(MainFormEditingTest, PastedAndCopyDraggedCopiesOfTemplateShapesCanBeDeleted) {
  auto form = FormWithProject(0);
  TdtpDocument& doc = form->Document();
  const int count = doc.ShapeCount();
  const std::vector<Flags> template_ = FlagsOf(doc, count);
  ASSERT_FALSE(template_[kImageIndex].AllowDelete);
  TdtpShape& image = *doc.GetShape(kImageIndex);
  TdtpShape& title = *doc.GetShape(kFirstTitleIndex);

  // The image selected from the data panel, copied and pasted twice: each
  // copy 10 mm right and down of the one before.
  QTest::mouseClick(&Child<QPushButton>(*form, "btnImagePosition"), Qt::LeftButton);
  ASSERT_TRUE(image.Selected());
  Key(doc, Qt::Key_C, Qt::ControlModifier);
  Key(doc, Qt::Key_V, Qt::ControlModifier);
  Key(doc, Qt::Key_V, Qt::ControlModifier);
  ASSERT_EQ(doc.ShapeCount(), count + 2);
  for (int k = 0; k < 2; ++k) {
    TdtpShape& copy = *doc.GetShape(count + k);
    EXPECT_EQ(copy.ClassName(), image.ClassName());
    EXPECT_NEAR(copy.DocLeft(), image.DocLeft() + 10 * (k + 1), 1e-3);
    EXPECT_NEAR(copy.DocTop(), image.DocTop() + 10 * (k + 1), 1e-3);
    EXPECT_NEAR(copy.DocWidth(), image.DocWidth(), 1e-3);
    EXPECT_TRUE(copy.AllowDelete());
    EXPECT_EQ(copy.Tag(), 0);
  }
  // The second copy is selected: Delete takes it; the first is clicked,
  // then deleted too.
  EXPECT_TRUE(doc.GetShape(count + 1)->Selected());
  Key(doc, Qt::Key_Delete);
  ASSERT_EQ(doc.ShapeCount(), count + 1);
  const std::optional<QPoint> onCopy = PointOn(doc, *doc.GetShape(count));
  ASSERT_TRUE(onCopy);
  QTest::mouseClick(doc.viewport(), Qt::LeftButton, {}, *onCopy);
  ASSERT_TRUE(doc.GetShape(count)->Selected());
  Key(doc, Qt::Key_Delete);
  EXPECT_EQ(doc.ShapeCount(), count);

  // Ctrl held while dragging the title leaves it and drops a copy where
  // the mouse let go; Delete removes that copy.
  const float left = title.DocLeft(), top = title.DocTop();
  const std::optional<QPoint> onTitle = PointOn(doc, title);
  ASSERT_TRUE(onTitle);
  QWidget& view = *doc.viewport();
  const QPoint to = *onTitle + QPoint(40, 30);
  SendMouse(view, QEvent::MouseButtonPress, *onTitle, Qt::LeftButton, Qt::LeftButton, Qt::ControlModifier);
  SendMouse(view, QEvent::MouseMove, *onTitle + QPoint(20, 15), Qt::NoButton, Qt::LeftButton, Qt::ControlModifier);
  SendMouse(view, QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton, Qt::ControlModifier);
  SendMouse(view, QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton, Qt::ControlModifier);
  ASSERT_EQ(doc.ShapeCount(), count + 1);
  TdtpShape& dragged = *doc.GetShape(count);
  EXPECT_NEAR(dragged.DocLeft(), left + 40 / doc.ScreenDpm(), 0.5);
  EXPECT_NEAR(dragged.DocTop(), top + 30 / doc.ScreenDpm(), 0.5);
  EXPECT_EQ(title.DocLeft(), left);
  EXPECT_TRUE(dragged.Selected());
  EXPECT_FALSE(title.Selected());
  Key(doc, Qt::Key_Delete);
  EXPECT_EQ(doc.ShapeCount(), count);

  // Delete on the template's own image leaves it: the originals keep their
  // flags, and so does the file they are saved in.
  QTest::mouseClick(&Child<QPushButton>(*form, "btnImagePosition"), Qt::LeftButton);
  ASSERT_TRUE(image.Selected());
  Key(doc, Qt::Key_Delete);
  EXPECT_EQ(doc.ShapeCount(), count);
  EXPECT_EQ(FlagsOf(doc, count), template_);
  Key(doc, Qt::Key_C, Qt::ControlModifier);
  Key(doc, Qt::Key_V, Qt::ControlModifier);
  const auto file = scratch / "with-copy.ovx";
  ASSERT_TRUE(SaveProject(doc, file.string()));
  TdtpDocument reopened;
  reopened.SetStoreThumbnails(false);
  ASSERT_TRUE(OpenProject(reopened, file.string()));
  ASSERT_EQ(reopened.ShapeCount(), count + 1);
  EXPECT_EQ(FlagsOf(reopened, count), template_);
  EXPECT_TRUE(reopened.GetShape(count)->AllowDelete());
  EXPECT_TRUE(Errors.empty());
}

TEST_F(MainFormEditingTest, WithoutAProjectTheDataPanelAndProjectCommandsAreOff) {
  // The clipboard holds a title of a template.
  MakeTemplates();
  {
    TdtpDocument source;
    source.SetStoreThumbnails(false);
    ASSERT_TRUE(OpenProject(source, GetTemplateFileName(0)));
    SelectShape(source, kFirstTitleIndex);
    source.CopySelection();
    ASSERT_TRUE(source.CanPaste());
  }
  StoreSettings(true);
  auto form = StartForm({Reject()});
  TdtpDocument& doc = form->Document();
  ASSERT_FALSE(HasPage(doc));

  // Every control of the data panel that works on the project, and the
  // project's commands; printer set-up and help work without one.
  std::vector<QWidget*> projectControls;
  for (QWidget* w : Child<QWidget>(*form, "pnlData").findChildren<QWidget*>()) {
    const bool control = qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w) ||
                         qobject_cast<QPlainTextEdit*>(w);
    if (control && w->objectName() != "btnPrinterSetup" && w->objectName() != "btnShowProcessHelp")
      projectControls.push_back(w);
  }
  ASSERT_EQ(projectControls.size(), 30u);
  const std::vector<std::string> projectCommands{"miFileSaveProject", "miFileSaveProjectAs", "miFileExportToPdf",
                                                 "miFilePrintPreview", "miFilePrint",       "miZoomZoomIn",
                                                 "miZoomZoomOut",    "miZoomZoomToWindow", "miZoomZoomItem"};
  const std::vector<std::string> alwaysCommands{"miFileNewProject", "miFileOpenProject", "miFileShowOptions",
                                                "miFilePrintSetup", "miFileExit",        "miHelpHelpContents",
                                                "miHelpAbout"};
  auto expectEnabled = [&](bool project) {
    for (QWidget* w : projectControls) EXPECT_EQ(w->isEnabled(), project) << w->objectName().toStdString();
    for (const char* name : {"btnPrinterSetup", "btnShowProcessHelp"})
      EXPECT_TRUE(Child<QWidget>(*form, name).isEnabled()) << name;
    for (const std::string& name : projectCommands)
      EXPECT_EQ(form->findChild<QAction*>(QString::fromStdString(name))->isEnabled(), project) << name;
    for (const std::string& name : alwaysCommands)
      EXPECT_TRUE(form->findChild<QAction*>(QString::fromStdString(name))->isEnabled()) << name;
  };
  expectEnabled(false);
  const QString artefacts = QStringLiteral(KDL_BINARY_DIR "/artefacts");
  QDir().mkpath(artefacts);
  form->grab().save(artefacts + "/main-window-no-project.png");

  // Clicks, shortcuts and a paste reach nothing: no dialog, no shape.
  {
    ModalScript script;
    QTest::mouseClick(&Child<QPushButton>(*form, "btnLoadImage"), Qt::LeftButton);
    QTest::mouseClick(&Child<QPushButton>(*form, "btnTitle1Font"), Qt::LeftButton);
    Shortcut(*form, Qt::Key_P, Qt::ControlModifier);
    QTest::keyClick(&doc, Qt::Key_V, Qt::ControlModifier);
    QApplication::processEvents();
    EXPECT_EQ(script.Unexpected(), 0);
  }
  EXPECT_EQ(doc.ShapeCount(), 0);
  EXPECT_FALSE(HasPage(doc));

  // A new project turns them on, and the paste lands on its page.
  {
    ModalScript script({PickTemplate(2)});
    Trigger(*form, "miFileNewProject");
    EXPECT_EQ(script.Answered(), 1);
  }
  expectEnabled(true);
  const int count = doc.ShapeCount();
  QTest::keyClick(&doc, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(doc.ShapeCount(), count + 1);

  // An open that fails leaves no project: off again.
  const auto bad = scratch / "bad.ovx";
  WriteFile(bad, "not a project");
  {
    ModalScript script({Press(QMessageBox::No), ChooseFile(bad)});
    Trigger(*form, "miFileOpenProject");
    EXPECT_EQ(script.Answered(), 2);
  }
  ASSERT_FALSE(HasPage(doc));
  expectEnabled(false);
  EXPECT_EQ(Errors.size(), 1u);
}

TEST_F(MainFormEditingTest, PreviewNamesAPrinterAddedWhileTheProgramRuns) {
  SetPrinterNames(std::vector<std::string>{});
  auto form = FormWithProject(0);
  Trigger(*form, "miFilePrintPreview");
  ASSERT_EQ(Errors, std::vector<std::string>{Localizer().GetString("Messages", "NoPrinter")});

  // The printer panel of each preview the menu opens.
  auto shownPrinter = [&] {
    std::string shown;
    ModalScript script({[&](QWidget& w) {
      auto* preview = qobject_cast<TPreviewForm*>(&w);
      ASSERT_NE(preview, nullptr) << w.metaObject()->className();
      shown = preview->Panels[0]->text().toStdString();
      preview->reject();
    }});
    Trigger(*form, "miFilePrintPreview");
    EXPECT_EQ(script.Answered(), 1);
    return shown;
  };
  const std::string label = " " + Localizer().GetString("PreviewForm", "Printer") + ": ";
  // Two printers come: the default (first) one is named.
  SetPrinterNames(std::vector<std::string>{"Office laser", "Label printer"});
  EXPECT_EQ(shownPrinter(), label + "Office laser");
  // Another one added keeps the choice; the chosen one gone gives way.
  SetPrinterNames(std::vector<std::string>{"Attic", "Label printer", "Office laser"});
  EXPECT_EQ(shownPrinter(), label + "Office laser");
  SetPrinterNames(std::vector<std::string>{"Label printer"});
  EXPECT_EQ(shownPrinter(), label + "Label printer");
  // The sheets still go to the test's PDF file.
  EXPECT_EQ(CurrentPrinter().outputFormat(), QPrinter::PdfFormat);
  EXPECT_EQ(Errors.size(), 1u);
}

}  // namespace
}  // namespace kdl::test
