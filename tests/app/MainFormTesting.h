// The setting of the main window tests: scratch configuration and data
// folders, the shipped program folder, the PDF-format test printer, a
// recorder in place of the error box, and modal dialogs answered in turn.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPageLayout>
#include <QPointer>
#include <QPrintDialog>
#include <QPrinter>
#include <QSettings>
#include <QTest>
#include <QTimer>

#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DialogTesting.h"
#include "support/QtApplication.h"
#include "support/ShownErrors.h"
#include "support/TestFiles.h"
#include "app/ApplicationSetup.h"
#include "app/Localizer.h"
#include "app/MainForm.h"
#include "app/Settings.h"
#include "app/output/PdfExport.h"
#include "app/project/DtpHelper.h"
#include "app/project/Templates.h"
#include "app/shapes/ProjectInfoShape.h"
#include "document/Startup.h"
#include "document/view/Document.h"
#include "platform/ProgramFolder.h"
#include "platform/qt/ErrorDisplay.h"
#include "platform/qt/PrinterService.h"

namespace kdl::test {

// Answers the modal dialogs that come up, one step per dialog, in order.
// A dialog that comes when no step is left is rejected and counted.
class ModalScript {
 public:
  using Step = std::function<void(QWidget&)>;
  explicit ModalScript(std::vector<Step> steps = {}) : steps_(steps.begin(), steps.end()) {
    timer_.setInterval(5);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
    timer_.start();
  }
  int Answered() const { return answered_; }
  int Unexpected() const { return unexpected_; }
  std::vector<QString> Titles;

 private:
  void Tick() {
    QWidget* w = QApplication::activeModalWidget();
    if (w == nullptr || w == last_.data() || !w->isVisible()) return;
    last_ = w;
    Titles.push_back(w->objectName() + ":" + w->windowTitle());
    if (steps_.empty()) {
      ++unexpected_;
      if (auto* d = qobject_cast<QDialog*>(w)) d->reject();
      return;
    }
    Step step = std::move(steps_.front());
    steps_.pop_front();
    ++answered_;
    step(*w);
  }
  std::deque<Step> steps_;
  QTimer timer_;
  QPointer<QWidget> last_;
  int answered_ = 0, unexpected_ = 0;
};

inline ModalScript::Step ChooseFile(const std::filesystem::path& file) {
  return [file](QWidget& w) {
    auto* d = qobject_cast<QFileDialog*>(&w);
    ASSERT_NE(d, nullptr) << w.metaObject()->className();
    d->selectFile(QFile::decodeName(QByteArray::fromStdString(file.string())));
    static_cast<QDialog*>(d)->accept();
  };
}
inline ModalScript::Step Press(QMessageBox::StandardButton button) {
  return [button](QWidget& w) {
    auto* box = qobject_cast<QMessageBox*>(&w);
    if (box == nullptr) {
      // Another dialog fails the test instead of waiting for a user.
      ADD_FAILURE() << "a message box was expected, not a " << w.metaObject()->className();
      if (auto* dialog = qobject_cast<QDialog*>(&w)) dialog->reject();
      return;
    }
    box->button(button)->click();
  };
}
inline ModalScript::Step Reject() {
  return [](QWidget& w) { static_cast<QDialog&>(w).reject(); };
}
// Qt's print dialog answered as a user printing to a file would: the file
// entry of its printer list and the test printer's file, whatever printer
// the machine offers first, so that no job reaches a real queue.
inline ModalScript::Step PrintToFile() {
  return [](QWidget& w) {
    auto* dialog = qobject_cast<QPrintDialog*>(&w);
    ASSERT_NE(dialog, nullptr) << w.metaObject()->className();
    const QString file = CurrentPrinter().outputFileName();
    ASSERT_FALSE(file.isEmpty());
    auto* printers = w.findChild<QComboBox*>(QStringLiteral("printers"));
    auto* name = w.findChild<QLineEdit*>(QStringLiteral("filename"));
    ASSERT_NE(printers, nullptr);
    ASSERT_NE(name, nullptr);
    const int entry = printers->findText(QPrintDialog::tr("Print to File (PDF)"));
    ASSERT_GE(entry, 0);
    printers->setCurrentIndex(entry);
    name->setText(file);
    dialog->accept();
  };
}
inline ModalScript::Step Accept() {
  return [](QWidget& w) { static_cast<QDialog&>(w).accept(); };
}
// Types text as keys; a letter outside ASCII comes as the key event that
// an input method sends, carrying only its text.
inline void TypeText(QWidget* widget, const QString& text) {
  for (const QChar c : text) {
    if (c == QLatin1Char('\n'))
      QTest::keyClick(widget, Qt::Key_Return);
    else if (c.unicode() < 128)
      QTest::keyClick(widget, c.toLatin1());
    else
      QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
  }
}

// The wizard: the template's picture clicked, then OK.
ModalScript::Step PickTemplate(int type);

class MainFormFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureApplication();
    InitializeDocumentLibrary();
    RegisterApplicationShapeClasses();
    SetApplicationFont();
    SetProgramFolder(std::filesystem::path(KDL_SOURCE_DIR) / "resources");
    // QSettings reads the XDG folder once per process: its paths are set too.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString((scratch / "config").string()));
    QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope,
                       QString::fromStdString((scratch / "system").string()));
    SetPrinterNames(std::vector<std::string>{"Test printer"});
    QPrinter& printer = CurrentPrinter();
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString((scratch / "sheet.pdf").string()));
    printer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(5, 5, 5, 5),
                                      QPageLayout::Millimeter));
  }
  void TearDown() override {
    SetPrinterNames(std::nullopt);
    CurrentPrinter().setOutputFileName({});
    CurrentPrinter().setOutputFormat(QPrinter::NativeFormat);
    Localizer().Clear();
    SetProgramFolder({});
  }

  void StoreSettings(bool wizard, int pdfQuality = kDefaultPdfPreset) {
    TSettings s;
    s.RunWizardOnStartup = wizard;
    s.PDFQualityType = pdfQuality;
    SaveSettings(*OpenUserSettings(), s);
  }
  // A window after its start, showing.
  std::unique_ptr<TMainForm> StartForm(std::vector<ModalScript::Step> answers = {}) {
    auto form = std::make_unique<TMainForm>();
    ModalScript script(std::move(answers));
    EXPECT_TRUE(form->Start());
    EXPECT_EQ(script.Unexpected(), 0);
    form->show();
    form->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(form.get()));
    QApplication::processEvents();
    return form;
  }
  static void Trigger(TMainForm& form, const char* action) {
    QAction* a = form.findChild<QAction*>(action);
    ASSERT_NE(a, nullptr) << action;
    a->trigger();
  }
  // Written as the program writes them, by a window's start.
  void MakeTemplates() {
    StoreSettings(false);
    TMainForm form;
    EXPECT_TRUE(form.Start());
  }
  // A window with a new project of type from the wizard.
  std::unique_ptr<TMainForm> FormWithProject(int type) {
    MakeTemplates();
    StoreSettings(true);
    auto form = StartForm({PickTemplate(type)});
    EXPECT_TRUE(HasPage(form->Document()));
    return form;
  }
  // A shortcut typed into the window, made active first as the user's
  // click would (a closed dialog leaves no window active offscreen).
  static void Shortcut(TMainForm& form, Qt::Key key, Qt::KeyboardModifiers modifiers) {
    form.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&form));
    QTest::keyClick(&form, key, modifiers);
  }

  ScratchDir scratch;
  ScopedEnv configHome{"XDG_CONFIG_HOME", (scratch / "config").string()};
  ScopedEnv dataHome{"XDG_DATA_HOME", (scratch / "data").string()};
  ShownErrors shown;
  std::vector<std::string>& Errors = shown.Messages;
};

}  // namespace kdl::test
