// The print preview and the PDF save dialog as a user meets them: real
// widgets on the offscreen platform, the PDF-format test printer, Qt's own
// page set-up dialog and message boxes answered from timers.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QMarginsF>
#include <QMessageBox>
#include <QPageLayout>
#include <QPageSetupDialog>
#include <QPageSize>
#include <QPrinter>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>
#include <QTimer>

#include <string>
#include <vector>

#include "DialogTesting.h"
#include "ProjectTesting.h"
#include "app/Settings.h"
#include "app/output/PdfExport.h"
#include "app/output/PreviewForm.h"
#include "app/output/SavePdfDialog.h"
#include "app/project/Templates.h"
#include "app/shapes/ExLineShape.h"
#include "document/view/Page.h"
#include "platform/qt/MessageBox.h"
#include "platform/qt/PrinterService.h"

namespace kdl::test {
namespace {

constexpr int kCDFront = 0, kDVD = 3;
constexpr double kPointMM = 25.4 / 72;

class PreviewFormTest : public ProjectFixture {
 protected:
  void SetUp() override {
    ProjectFixture::SetUp();
    SetPrinterNames(std::vector<std::string>{"Test printer"});
    QPrinter& printer = CurrentPrinter();
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString((scratch / "sheet.pdf").string()));
    printer.setFullPage(false);
    SetMargins(5, 5, 5, 5);
    // Both settings stores in the scratch folder.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString((scratch / "user").string()));
    QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope,
                       QString::fromStdString((scratch / "system").string()));
    // The document's own notices (an undo record it could not replay).
    SetMessageDisplay([this](const std::string& text) { Boxes.push_back(text); });
  }
  void TearDown() override {
    SetMessageDisplay(nullptr);
    SetPrinterNames(std::nullopt);
    CurrentPrinter().setOutputFileName({});
    CurrentPrinter().setOutputFormat(QPrinter::NativeFormat);
    ProjectFixture::TearDown();
  }
  // A4 portrait with these unprintable borders in mm.
  static void SetMargins(double left, double top, double right, double bottom) {
    CurrentPrinter().setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                               QMarginsF(left, top, right, bottom), QPageLayout::Millimeter));
  }
  void Make(int type) {
    ASSERT_TRUE(CreateTemplate(*doc, type));
    SetScreenLineWidths(*doc);
  }
  // Message boxes that came up, answered with OK from a timer.
  void AnswerMessageBoxes() {
    QTimer::singleShot(0, [this] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        Boxes.push_back(box->text().toStdString());
        box->accept();
      }
    });
  }
  // Clicks the preview's set-up button and answers Qt's page set-up
  // dialog with these margins (mm), as the user would type them. A message
  // box that follows is answered too, so that it fails the test instead of
  // waiting for a user.
  void ChangeMarginsInSetup(TPreviewForm& form, double left, double top, double right, double bottom) {
    bool answered = false;
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<QPageSetupDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      auto& units = Child<QComboBox>(*dialog, "unitCombo");
      units.setCurrentIndex(units.findData(QVariant::fromValue(QPageLayout::Millimeter)));
      Child<QDoubleSpinBox>(*dialog, "leftMargin").setValue(left);
      Child<QDoubleSpinBox>(*dialog, "topMargin").setValue(top);
      Child<QDoubleSpinBox>(*dialog, "rightMargin").setValue(right);
      Child<QDoubleSpinBox>(*dialog, "bottomMargin").setValue(bottom);
      answered = true;
      AnswerMessageBoxes();
      dialog->accept();
    });
    QTest::mouseClick(form.btnPrintSetup, Qt::LeftButton);
    EXPECT_TRUE(answered);
  }
  std::vector<std::string> Boxes;
};

TEST_F(PreviewFormTest, EachPrinterChangePreparesTheUnpreparedPage) {
  Make(kCDFront);
  const TdtpShape& line = *doc->GetShape(kFirstLineIndex);
  const float left = line.DocLeft(), top = line.DocTop();
  TPreviewForm form;
  form.SetSource(*doc);
  form.show();
  TdtpDocument& preview = form.PreviewDocument();
  // Where the PDF device puts the printable area: whole points.
  const auto expectPrepared = [&](double marginLeft, double marginTop) {
    const TdtpShape& copy = *preview.GetShape(kFirstLineIndex);
    EXPECT_NEAR(copy.DocLeft() - left, marginLeft, 0.01);
    EXPECT_NEAR(copy.DocTop() - top, marginTop, 0.01);
    EXPECT_EQ(dynamic_cast<const TDtpExLineShape&>(copy).LineWidth(), 0.25f);
    TdtpPage& page = *preview.GetCurrentPage();
    EXPECT_NEAR(page.PageWidth(), 595 * kPointMM, 0.01);
    EXPECT_NEAR(page.PageHeight(), 842 * kPointMM, 0.01);
    EXPECT_NEAR(page.MarginLeft(), marginLeft, 0.01);
    EXPECT_NEAR(page.MarginTop(), marginTop, 0.01);
  };
  expectPrepared(14 * kPointMM, 14 * kPointMM);

  // Unequal margins, twice: each preparation starts from the label as it
  // came, so the shapes move by the new margins alone.
  ChangeMarginsInSetup(form, 12, 20, 4, 6);
  expectPrepared(std::round(12 / kPointMM) * kPointMM, std::round(20 / kPointMM) * kPointMM);
  ChangeMarginsInSetup(form, 3, 8, 10, 9);
  expectPrepared(std::round(3 / kPointMM) * kPointMM, std::round(8 / kPointMM) * kPointMM);
  EXPECT_NEAR(preview.GetCurrentPage()->MarginRight(), std::round(10 / kPointMM) * kPointMM, 0.4);

  // A set-up that is cancelled changes nothing.
  QTimer::singleShot(0, [] { QApplication::activeModalWidget()->close(); });
  QTest::mouseClick(form.btnPrintSetup, Qt::LeftButton);
  expectPrepared(std::round(3 / kPointMM) * kPointMM, std::round(8 / kPointMM) * kPointMM);

  EXPECT_EQ(form.Panels[1]->text().toStdString(), " Paper: A4");
  // A4 as the device keeps it, in hundredths of a millimetre.
  EXPECT_TRUE(QRegularExpression("^ Page size: 2(09\\.9\\d|10\\.0\\d) x 297\\.0\\d mm$")
                  .match(form.Panels[2]->text())
                  .hasMatch())
      << form.Panels[2]->text().toStdString();
  // The project itself never moved.
  EXPECT_EQ(line.DocLeft(), left);
  EXPECT_EQ(dynamic_cast<const TDtpExLineShape&>(line).LineWidth(), kScreenLineWidth);
  EXPECT_TRUE(Errors.empty());
  EXPECT_TRUE(Boxes.empty());

  // The button row is centred in its 40-pixel panel, 6 pixels apart.
  form.resize(1000, 700);
  QApplication::processEvents();
  const int x0 = (1000 - (5 * 86 + 24)) / 2;
  EXPECT_EQ(form.pnlButtons->geometry(), QRect(0, 0, 1000, 40));
  EXPECT_EQ(form.btnPrintSetup->geometry(), QRect(x0, 7, 86, 25));
  EXPECT_EQ(form.btnClose->geometry(), QRect(x0 + 4 * 92, 7, 86, 25));
  form.grab().save("/tmp/kdl-preview-form.png");
}

TEST_F(PreviewFormTest, PaperWarningAndThePreviewCommand) {
  Make(kDVD);  // 284 x 194 mm: on A4 portrait it fits only turned
  {
    TPreviewForm form;
    form.SetSource(*doc);
    AnswerMessageBoxes();
    form.show();
    ASSERT_EQ(Boxes, std::vector<std::string>{Text("Messages", "SmallPaperSize")});
    // Shown again after being hidden, the copy is not prepared twice.
    const float left = form.PreviewDocument().GetShape(kFirstLineIndex)->DocLeft();
    form.hide();
    AnswerMessageBoxes();  // a second warning is answered, and counted
    form.show();
    EXPECT_EQ(form.PreviewDocument().GetShape(kFirstLineIndex)->DocLeft(), left);
    EXPECT_EQ(Boxes.size(), 1u);
  }

  // No printer: the message, and no form.
  SetPrinterNames(std::vector<std::string>{});
  EXPECT_FALSE(PreviewCommand(*doc, nullptr));
  EXPECT_EQ(Errors, std::vector<std::string>{Text("Messages", "NoPrinter")});

  // Turned to landscape, the label fits: no warning; Close ends the form.
  SetPrinterNames(std::vector<std::string>{"Test printer"});
  CheckPrinterOrientation(*doc);
  QTimer::singleShot(0, [] {
    auto* form = qobject_cast<TPreviewForm*>(QApplication::activeModalWidget());
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(form->windowTitle().toStdString(), "Print Preview");
    QTest::mouseClick(form->btnClose, Qt::LeftButton);
  });
  EXPECT_TRUE(PreviewCommand(*doc, nullptr));
  EXPECT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Errors.size(), 1u);
}

// ---- PDF save dialog ---------------------------------------------------------------------

class SavePdfDialogTest : public PreviewFormTest {
 protected:
  void StorePreset(const char* value) {
    std::filesystem::create_directories(store.parent_path());
    WriteFile(store, std::string("[Settings]\nLeft=70\nPDFQualityType=") + value + "\n");
  }
  const std::filesystem::path store = scratch / "user" / "Kestrune" / "Kestrune Disk Label.conf";
  int StoredPreset() {
    const auto user = OpenUserSettings();
    const auto system = OpenSystemSettings();
    return LoadSettings(*user, *system).PDFQualityType;
  }
};

TEST_F(SavePdfDialogTest, StoredPresetOutsideTheListAndAnExport) {
  Make(kCDFront);
  StorePreset("7");
  const auto pdf = scratch / "label.pdf";
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<TSavePDFDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->cmbQuality->currentIndex(), 1);
    ASSERT_EQ(dialog->cmbQuality->count(), 3);
    EXPECT_EQ(dialog->cmbQuality->itemText(2).toStdString(), "Best (600 DPI; 100% JPEG)");
    EXPECT_EQ(dialog->lblQuality->text().toStdString(), "Quality:");
    auto& name = Child<QLineEdit>(*dialog, "fileNameEdit");
    EXPECT_EQ(name.text().toStdString(), "CD Front");
    // The quality row sits under the file-type row, in its columns.
    const QRect typeLabel = Child<QLabel>(*dialog, "fileTypeLabel").geometry();
    const QRect typeList = Child<QComboBox>(*dialog, "fileTypeCombo").geometry();
    EXPECT_EQ(dialog->lblQuality->x(), typeLabel.x());
    EXPECT_EQ(dialog->cmbQuality->x(), typeList.x());
    EXPECT_EQ(dialog->cmbQuality->width(), typeList.width());
    EXPECT_GT(dialog->cmbQuality->y(), typeList.bottom());
    EXPECT_LE(dialog->cmbQuality->geometry().bottom(), dialog->height());
    dialog->grab().save("/tmp/kdl-pdf-dialog.png");

    dialog->cmbQuality->setCurrentIndex(2);
    name.setText(QString::fromStdString(pdf.string()));
    QTest::keyClick(&name, Qt::Key_Return);
  });
  EXPECT_TRUE(ExportPdfCommand(*doc, nullptr));
  int status = -1;
  RunCommand("qpdf --check '" + pdf.string() + "' 2>&1", &status);
  EXPECT_EQ(status, 0);
  // 600 dpi: 131 x 130 mm is 3094 x 3070 pixels.
  const std::string images = RunCommand("pdfimages -list '" + pdf.string() + "'");
  EXPECT_NE(images.find(" 3094  3070 "), std::string::npos) << images;
  EXPECT_EQ(StoredPreset(), 2);
  // The rest of the store is kept.
  EXPECT_EQ(OpenUserSettings()->value("Settings/Left").toInt(), 70);
}

TEST_F(SavePdfDialogTest, CancelWritesNothing) {
  Make(kCDFront);
  StorePreset("0");
  const std::string before = ReadFile(store);
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<TSavePDFDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->cmbQuality->currentIndex(), 0);
    dialog->cmbQuality->setCurrentIndex(2);
    Child<QLineEdit>(*dialog, "fileNameEdit").setText(QString::fromStdString((scratch / "no.pdf").string()));
    dialog->reject();
  });
  EXPECT_FALSE(ExportPdfCommand(*doc, nullptr));
  EXPECT_FALSE(std::filesystem::exists(scratch / "no.pdf"));
  // Given an index beyond the presets, the list still has a choice.
  TSavePDFDialog dialog;
  dialog.SetQualityType(255);
  EXPECT_EQ(dialog.cmbQuality->currentIndex(), 1);
  EXPECT_EQ(dialog.QualityType(), 1);
  EXPECT_EQ(ReadFile(store), before);
  EXPECT_TRUE(Errors.empty());
}

TEST_F(SavePdfDialogTest, PercentSignsInTheLanguagesCaptionsStay) {
  // The captions' own "%1" or "%" are text, not places for the numbers.
  const auto language = scratch / "Percent.lng";
  WriteFile(language, "[SavePDFDialog]\nQualityType0=Draft %1\nQualityType1=100% sure %2\n"
                      "QualityType2=%3 best %\nQuality=Q %1\n");
  Localizer().LoadFromFile(language);
  {
    TSavePDFDialog dialog;
    ASSERT_EQ(dialog.cmbQuality->count(), 3);
    EXPECT_EQ(dialog.cmbQuality->itemText(0).toStdString(), "Draft %1 (150 DPI; 60% JPEG)");
    EXPECT_EQ(dialog.cmbQuality->itemText(1).toStdString(), "100% sure %2 (300 DPI; 80% JPEG)");
    EXPECT_EQ(dialog.cmbQuality->itemText(2).toStdString(), "%3 best % (600 DPI; 100% JPEG)");
    EXPECT_EQ(dialog.lblQuality->text().toStdString(), "Q %1:");
  }
  Localizer().LoadFromFile(ProgramFolder() / "Languages" / "English.lng");
}

}  // namespace
}  // namespace kdl::test
