// One user's way through the program, checked at each step against the
// files it leaves (qpdf, poppler) and the window as it shows.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <cmath>
#include <regex>

#include "MainFormTesting.h"
#include "app/Units.h"
#include "app/shapes/CropBitmapShape.h"
#include "document/view/Page.h"

namespace kdl::test {
namespace {

class MainFormStoryTest : public MainFormFixture {
 protected:
  std::string Tool(const std::string& command, int* status = nullptr) {
    return RunCommand(command + " 2>&1", status);
  }
  // pdfinfo's "Page size:" in points.
  std::pair<double, double> PageSizePt(const std::filesystem::path& pdf) {
    const std::string info = Tool("pdfinfo '" + pdf.string() + "'");
    std::smatch m;
    EXPECT_TRUE(std::regex_search(info, m, std::regex(R"(Page size:\s+([0-9.]+) x ([0-9.]+) pts)"))) << info;
    EXPECT_TRUE(std::regex_search(info, std::regex(R"(Pages:\s+1\n)"))) << info;
    return m.size() == 3 ? std::pair{std::stod(m[1]), std::stod(m[2])} : std::pair{0.0, 0.0};
  }
  static void TypeOver(QWidget& edit, const QString& text) {
    QTest::keyClick(&edit, Qt::Key_A, Qt::ControlModifier);
    TypeText(&edit, text);
  }
};

struct ControlTexts {
  std::vector<QString> texts;
  std::vector<bool> boxes;
  bool operator==(const ControlTexts&) const = default;
};

ControlTexts ReadControls(TMainForm& form) {
  ControlTexts c;
  for (int n = 1; n <= 4; ++n) c.texts.push_back(Child<QLineEdit>(form, "edtTitle" + std::to_string(n) + "Text").text());
  c.texts.push_back(Child<QPlainTextEdit>(form, "memContentsText").toPlainText());
  for (const char* box : {"cbDoNotUseImage", "cbPrintCutLines", "cbPrintFoldLines"})
    c.boxes.push_back(Child<QCheckBox>(form, box).isChecked());
  return c;
}

double Psnr(const QImage& a, const QImage& b) {
  double sum = 0;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x) {
      const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
      const double dr = qRed(p) - qRed(q), dg = qGreen(p) - qGreen(q), db = qBlue(p) - qBlue(q);
      sum += dr * dr + dg * dg + db * db;
    }
  const double mse = sum / (3.0 * a.width() * a.height());
  return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

TEST_F(MainFormStoryTest, ACDFrontFromTheWizardToThePrinter) {
  StoreSettings(true);
  const auto photo = scratch / "photo.jpg";
  {
    QImage image(320, 240, QImage::Format_RGB32);
    for (int y = 0; y < 240; ++y)
      for (int x = 0; x < 320; ++x) image.setPixel(x, y, qRgb(x * 255 / 319, y, 128));
    ASSERT_TRUE(image.save(QString::fromStdString(photo.string()), "JPG"));
  }

  // A new "CD Front" from the wizard.
  auto form = StartForm({PickTemplate(0)});
  TdtpDocument& doc = form->Document();
  ASSERT_TRUE(HasPage(doc));
  const QString label = QStringLiteral(" ") + Localizer().Text("MainForm", "FileName") + QStringLiteral(": ");
  EXPECT_EQ(form->StatusText(0), label + Localizer().Text("General", "Untitled"));

  // Titles and contents typed.
  const std::array<QString, 4> titles{"Étude No. 1", "Piano", "2026", "Live"};
  for (int n = 1; n <= 4; ++n)
    TypeOver(Child<QLineEdit>(*form, "edtTitle" + std::to_string(n) + "Text"), titles[n - 1]);
  TypeOver(Child<QPlainTextEdit>(*form, "memContentsText"), "1. Prélude\n2. Fugue");
  for (int n = 1; n <= 4; ++n)
    EXPECT_EQ(GetTextShapeText(doc, kFirstTitleIndex + n - 1), titles[n - 1].toStdString());
  EXPECT_EQ(GetMemoShapeText(doc, kContentsIndex), "1. Prélude\r\n2. Fugue");

  // A photo through the image dialog, which offers all formats first.
  {
    ModalScript script({[&](QWidget& w) {
      EXPECT_EQ(w.objectName(), "OpenImageDialog");
      EXPECT_TRUE(static_cast<QFileDialog&>(w).selectedNameFilter().startsWith("All ("));
      ChooseFile(photo)(w);
    }});
    QTest::mouseClick(&Child<QPushButton>(*form, "btnLoadImage"), Qt::LeftButton);
    EXPECT_EQ(script.Answered(), 1);
  }
  auto* image = dynamic_cast<TdtpCropBitmapShape*>(doc.GetShape(kImageIndex));
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->CropRect().Right, 320);
  EXPECT_EQ(image->CropRect().Bottom, 240);

  // Saved under a name outside ASCII: Ctrl+S asks for it, an untitled
  // project has none. The dialog proposes the template's name as a file
  // name; a name read from a file could hold a folder's separator.
  auto* info = dynamic_cast<TDtpProjectInfoShape*>(doc.GetShape(kProjectInfoIndex));
  EXPECT_EQ(info->ProjectName(), Localizer().GetString("TemplateNames", "CDFront"));
  info->SetProjectName("../Live/Studio");
  const auto file = scratch / "Étiquette ü.ovx";
  {
    ModalScript script({[&](QWidget& w) {
      EXPECT_EQ(w.objectName(), "SaveProjectDialog");
      const QStringList preset = static_cast<QFileDialog&>(w).selectedFiles();
      ASSERT_EQ(preset.size(), 1);
      EXPECT_EQ(QFileInfo(preset[0]).fileName(), ".._Live_Studio");
      ChooseFile(file)(w);
    }});
    Shortcut(*form, Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(script.Answered(), 1);
  }
  ASSERT_TRUE(std::filesystem::is_regular_file(file));
  EXPECT_EQ(form->FileName(), file.string());
  EXPECT_EQ(form->StatusText(0), label + QStringLiteral("Étiquette ü.ovx"));
  EXPECT_FALSE(doc.Modified());
  const ControlTexts typed = ReadControls(*form);
  EXPECT_TRUE(form->close());

  // Reopened in a new window: every control and shape as before.
  StoreSettings(false, 0);
  auto second = StartForm();
  {
    ModalScript script({ChooseFile(file)});
    Trigger(*second, "miFileOpenProject");
    EXPECT_EQ(script.Answered(), 1);
  }
  TdtpDocument& reopened = second->Document();
  ASSERT_TRUE(HasPage(reopened));
  EXPECT_EQ(ReadControls(*second), typed);
  ASSERT_EQ(reopened.ShapeCount(), doc.ShapeCount());
  for (int i = kFirstTitleIndex; i < kContentsIndex; ++i)
    EXPECT_EQ(GetTextShapeText(reopened, i), GetTextShapeText(doc, i));
  EXPECT_EQ(GetMemoShapeText(reopened, kContentsIndex), GetMemoShapeText(doc, kContentsIndex));
  auto* again = dynamic_cast<TdtpCropBitmapShape*>(reopened.GetShape(kImageIndex));
  ASSERT_NE(again, nullptr);
  EXPECT_FALSE(again->IsEmpty());
  EXPECT_EQ(again->CropRect().Right, 320);
  for (int i = 0; i < doc.ShapeCount(); ++i) {
    EXPECT_EQ(reopened.GetShape(i)->ClassName(), doc.GetShape(i)->ClassName());
    EXPECT_NEAR(reopened.GetShape(i)->DocLeft(), doc.GetShape(i)->DocLeft(), 1e-3);
    EXPECT_NEAR(reopened.GetShape(i)->DocWidth(), doc.GetShape(i)->DocWidth(), 1e-3);
    EXPECT_EQ(reopened.GetShape(i)->Visible(), doc.GetShape(i)->Visible());
  }

  // PDF at preset 1, chosen in the dialog: 300 dpi, the page's size.
  const auto pdf = scratch / "label.pdf";
  {
    ModalScript script({[&](QWidget& w) {
      EXPECT_EQ(w.objectName(), "SavePDFDialog");
      auto& quality = Child<QComboBox>(w, "cmbQuality");
      EXPECT_EQ(quality.currentIndex(), 0);
      quality.setCurrentIndex(1);
      ChooseFile(pdf)(w);
    }});
    Trigger(*second, "miFileExportToPdf");
    EXPECT_EQ(script.Answered(), 1);
  }
  int status = -1;
  Tool("qpdf --check '" + pdf.string() + "'", &status);
  EXPECT_EQ(status, 0);
  const auto [w, h] = PageSizePt(pdf);
  EXPECT_NEAR(w, reopened.PageWidth() / 25.4 * 72, 1.0);
  EXPECT_NEAR(h, reopened.PageHeight() / 25.4 * 72, 1.0);
  const std::string images = Tool("pdfimages -list '" + pdf.string() + "'");
  EXPECT_NE(images.find(" " + std::to_string(MMToPixels(300, reopened.PageWidth())) + " "), std::string::npos)
      << images;

  // Printed on the test printer: one A4 sheet.
  {
    ModalScript script({PrintToFile()});
    Trigger(*second, "miFilePrint");
    EXPECT_EQ(script.Answered(), 1);
  }
  const auto [sw, sh] = PageSizePt(scratch / "sheet.pdf");
  EXPECT_NEAR(sw, 595, 1);
  EXPECT_NEAR(sh, 842, 1);

  // On close the settings keep the window's bounds and the PDF preset.
  second->resize(1010, 700);
  QApplication::processEvents();
  EXPECT_TRUE(second->close());
  const TSettings stored = LoadSettings(*OpenUserSettings(), *OpenSystemSettings());
  EXPECT_EQ(stored.Width, 1010);
  EXPECT_EQ(stored.Height, 700);
  EXPECT_EQ(stored.PDFQualityType, 1);
  EXPECT_FALSE(stored.RunWizardOnStartup);
  EXPECT_TRUE(Errors.empty()) << Errors.front();
}

TEST_F(MainFormStoryTest, ScreenshotOfACDFrontZoomedToTheWindow) {
  MakeTemplates();
  StoreSettings(true);
  auto form = StartForm({PickTemplate(0)});
  // Wide enough for the page at full size, and too low for it.
  form->resize(1100, 560);
  QApplication::processEvents();
  Trigger(*form, "miZoomZoomToWindow");
  QApplication::processEvents();
  const QImage shot = form->grab().toImage();
  const QString artefacts = QStringLiteral(KDL_BINARY_DIR "/artefacts");
  QDir().mkpath(artefacts);
  shot.save(artefacts + "/main-window-cd-front.png");

  // The data panel, and the load button where the layout records put it:
  // caption 4..17, line 18..19, the first control 6 pixels under it.
  EXPECT_EQ(Child<QWidget>(*form, "pnlData").width(), 240);
  auto& load = Child<QPushButton>(*form, "btnLoadImage");
  EXPECT_EQ(load.parentWidget()->objectName(), "pnlImageSection");
  EXPECT_EQ(load.geometry(), QRect(15, 25, 86, 25));

  // The page in the middle of the preview, as the document's scale puts it.
  TdtpDocument& doc = form->Document();
  auto& panel = Child<QWidget>(*form, "pnlDocument");
  const double dpm = doc.ScreenDpm();
  const int pageW = static_cast<int>(std::nearbyint(doc.PageWidth() * dpm));
  const int pageH = static_cast<int>(std::nearbyint(doc.PageHeight() * dpm));
  const int left = std::max(0, (panel.width() - 4 - pageW) / 2);
  const int top = std::max(0, (panel.height() - 4 - pageH) / 2);
  EXPECT_EQ(form->DocumentOffset(), QSize(left, top));
  // Zoomed to fit, never above 100 %, which shows a millimetre as 1.11
  // screen millimetres; 1 % is left free.
  const double dpi = doc.logicalDpiY();
  const double fit = std::min((panel.width() - 4) / (doc.PageWidth() / 25.4 * dpi),
                              (panel.height() - 4) / (doc.PageHeight() / 25.4 * dpi)) * 1.11;
  EXPECT_NEAR(dpm, dpi / 25.4 / 1.11 * std::min(fit, 1.0) * 0.99, 0.005);
  EXPECT_LE(pageW, panel.width() - 4);
  EXPECT_LE(pageH, panel.height() - 4);

  // The preview equals the page rendered on its own at that scale.
  const QImage preview = shot.copy(QRect(panel.mapTo(form.get(), QPoint(0, 0)), panel.size()))
                             .convertToFormat(QImage::Format_RGB32);
  QImage expected(panel.size(), QImage::Format_RGB32);
  expected.fill(Qt::white);
  {
    QPainter painter(&expected);
    doc.GetCurrentPage()->PaintToCanvas(painter, {left, top, left + pageW, top + pageH}, doc.RenderDpm(), false);
  }
  expected.save(artefacts + "/main-window-cd-front-expected.png");
  EXPECT_GE(Psnr(preview, expected), 35.0);
}

}  // namespace
}  // namespace kdl::test
