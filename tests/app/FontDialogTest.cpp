// The font dialog of a text shape, driven as a user meets it: it opens on
// the style fontconfig gives the shape's weight and slant, confirming it
// unchanged changes nothing, and its colour button gives the text a colour
// that reaches the saved file and the rendered page.
#include <gtest/gtest.h>

#include <QApplication>
#include <QColorDialog>
#include <QFontDialog>
#include <QImage>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "ProjectTesting.h"
#include "app/project/Templates.h"
#include "document/text/TextShape.h"
#include "foundation/Storage.h"
#include "foundation/Stream.h"
#include "platform/qt/FontDialog.h"
#include "raster/Bitmap32.h"

namespace kdl {
namespace {

constexpr int kTitleIndex = 2;

// Runs act on the modal dialog of type T once it is up.
template <class T>
void Answer(std::function<void(T&)> act, int tries = 200) {
  QTimer::singleShot(10, [act, tries] {
    if (auto* d = qobject_cast<T*>(QApplication::activeModalWidget()))
      act(*d);
    else if (tries > 0)
      Answer<T>(act, tries - 1);
  });
}

struct FcStyle {
  int Weight = 0;
  int Slant = 0;
};

// fontconfig's own listing of a family: every name of each style with its
// weight and slant.
std::map<std::string, FcStyle> FcListStyles(const std::string& family) {
  std::map<std::string, FcStyle> out;
  std::istringstream lines(test::RunCommand("fc-list '" + family + "' style weight slant"));
  for (std::string line; std::getline(lines, line);) {
    FcStyle s;
    std::vector<std::string> names;
    std::istringstream fields(line);
    for (std::string field; std::getline(fields, field, ':');) {
      const auto eq = field.find('=');
      if (eq == std::string::npos) continue;
      const std::string key = field.substr(0, eq), value = field.substr(eq + 1);
      if (key == "style") {
        std::istringstream list(value);
        for (std::string n; std::getline(list, n, ',');) names.push_back(n);
      } else if (key == "weight") {
        s.Weight = std::stoi(value);
      } else if (key == "slant") {
        s.Slant = std::stoi(value);
      }
    }
    for (const std::string& n : names) out[n] = s;
  }
  return out;
}

class FontDialogTest : public test::ProjectFixture {
 protected:
  TdtpTextBaseShape* Title() { return dynamic_cast<TdtpTextBaseShape*>(doc->GetShape(kTitleIndex)); }
};

TEST_F(FontDialogTest, ConfirmingUnchangedKeepsFaceStyleAndSize) {
  ASSERT_TRUE(CreateCDFrontTemplate(*doc));
  TdtpTextBaseShape* title = Title();
  ASSERT_TRUE(title);
  // The templates' faces (and the shapes' default) stand in for fonts
  // through fontconfig; the others are installed under their own names.
  const char* faces[] = {"Tahoma", "Verdana", "Arial", "DejaVu Sans", "Liberation Sans",
                         "Liberation Serif"};
  const TFontStyles styles[] = {0, fsBold, fsItalic, fsBold | fsItalic, fsUnderline,
                                fsBold | fsStrikeOut};
  for (const char* face : faces)
    for (const TFontStyles style : styles) {
      title->SetFontName(face);
      title->SetFontStyle(style);
      title->SetFontSizePt(18);
      title->SetFontColor(0x123456);
      const float height = title->GetFontHeight();
      QString family, shownStyle;
      Answer<QFontDialog>([&](QFontDialog& d) {
        family = d.currentFont().family();
        shownStyle = d.currentFont().styleName();
        d.accept();
      });
      ASSERT_TRUE(EditShapeFont(*doc, kTitleIndex));
      const std::string what = std::string(face) + " style " + std::to_string(style);
      EXPECT_EQ(title->GetFontName(), face) << what;
      EXPECT_EQ(title->GetFontStyle(), style) << what << " opened on " << shownStyle.toStdString();
      EXPECT_EQ(title->GetFontHeight(), height) << what;
      EXPECT_EQ(title->GetFontColor(), 0x123456) << what;

      // The style the dialog opened on has the weight and slant asked for,
      // as fontconfig lists them.
      const auto listed = FcListStyles(family.toStdString());
      const auto it = listed.find(shownStyle.toStdString());
      ASSERT_NE(it, listed.end()) << what << ": " << shownStyle.toStdString() << " of "
                                  << family.toStdString();
      EXPECT_EQ(it->second.Weight >= 180, (style & fsBold) != 0) << what;
      EXPECT_EQ(it->second.Slant != 0, (style & fsItalic) != 0) << what;
    }
}

TEST_F(FontDialogTest, ANewSizeKeepsAnUprightBookFaceUpright) {
  ASSERT_TRUE(CreateCDFrontTemplate(*doc));
  TdtpTextBaseShape* title = Title();
  title->SetFontName("DejaVu Sans");  // its upright style is "Book"
  title->SetFontStyle(0);
  Answer<QFontDialog>([](QFontDialog& d) {
    QFont f = d.currentFont();
    f.setPointSize(20);
    d.setCurrentFont(f);
    d.accept();
  });
  ASSERT_TRUE(EditShapeFont(*doc, kTitleIndex));
  EXPECT_EQ(title->GetFontStyle(), 0);
  EXPECT_FLOAT_EQ(title->GetFontHeight(), static_cast<float>(20 * 25.4 / 72));

  // Chosen in the dialog, oblique and bold come back as italic and bold.
  Answer<QFontDialog>([](QFontDialog& d) {
    QFont f = d.currentFont();
    f.setStyleName("Bold Oblique");
    f.setUnderline(true);
    d.setCurrentFont(f);
    d.accept();
  });
  ASSERT_TRUE(EditShapeFont(*doc, kTitleIndex));
  EXPECT_EQ(title->GetFontStyle(), fsBold | fsItalic | fsUnderline);
  EXPECT_EQ(title->GetFontName(), "DejaVu Sans");

  // Picking another family in the list keeps the weight and slant: from
  // upright "Book" to upright "Regular".
  title->SetFontStyle(0);
  QString picked;
  Answer<QFontDialog>([&](QFontDialog& d) {
    QListView* families = d.findChildren<QListView*>().value(0);
    ASSERT_TRUE(families);
    QAbstractItemModel* m = families->model();
    for (int r = 0; r < m->rowCount(); ++r)
      if (m->index(r, 0).data().toString() == "Liberation Sans") families->setCurrentIndex(m->index(r, 0));
    picked = d.currentFont().styleName();
    d.accept();
  });
  ASSERT_TRUE(EditShapeFont(*doc, kTitleIndex));
  EXPECT_EQ(title->GetFontName(), "Liberation Sans");
  EXPECT_EQ(title->GetFontStyle(), 0) << picked.toStdString();
}

// Pixels of the image within tolerance of colour.
int PixelsNear(const QImage& image, const QRect& area, QColor colour, int tolerance) {
  int n = 0;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x) {
      const QColor c = image.pixelColor(x, y);
      if (std::abs(c.red() - colour.red()) <= tolerance &&
          std::abs(c.green() - colour.green()) <= tolerance &&
          std::abs(c.blue() - colour.blue()) <= tolerance)
        ++n;
    }
  return n;
}

TEST_F(FontDialogTest, TheColourButtonColoursTheText) {
  ASSERT_TRUE(CreateCDFrontTemplate(*doc));
  TdtpTextBaseShape* title = Title();
  title->SetFontColor(0x0000FF);  // red, 0x00BBGGRR
  title->SetText(u"Night Drive");
  const QColor chosen(0x33, 0x66, 0xCC);

  QColor shownBefore, shownAfter, sampleText;
  int swatchBefore = 0, swatchAfter = 0, sampleInk = 0;
  bool colourDialogSeen = false;
  Answer<QFontDialog>([&](QFontDialog& d) {
    auto* button = d.findChild<QPushButton*>("fontColorButton");
    auto* sample = d.findChild<QLineEdit*>("qt_fontDialog_sampleEdit");
    ASSERT_TRUE(button);
    ASSERT_TRUE(sample);
    // The button sits beside the sample, in its box.
    EXPECT_EQ(button->parentWidget(), sample->parentWidget());
    const QImage before = button->grab().toImage();
    swatchBefore = PixelsNear(before, before.rect(), QColor(0xFF, 0, 0), 0);

    Answer<QColorDialog>([&](QColorDialog& c) {
      colourDialogSeen = true;
      shownBefore = c.currentColor();
      c.setCurrentColor(chosen);
      c.accept();
    });
    QTest::mouseClick(button, Qt::LeftButton);

    const QImage after = button->grab().toImage();
    swatchAfter = PixelsNear(after, after.rect(), chosen, 0);
    sampleText = sample->palette().color(QPalette::Text);
    const QImage shot = d.grab().toImage();
    shot.save(QString::fromStdString(::testing::TempDir() + "font-dialog-colour.png"));
    const QRect sampleArea(sample->mapTo(&d, QPoint(0, 0)), sample->size());
    sampleInk = PixelsNear(shot, sampleArea, chosen, 40);
    shownAfter = chosen;
    d.accept();
  });
  ASSERT_TRUE(EditShapeFont(*doc, kTitleIndex));
  EXPECT_TRUE(colourDialogSeen);
  // The colour dialog opened on the stored colour; the button showed it.
  EXPECT_EQ(shownBefore, QColor(0xFF, 0, 0));
  EXPECT_GT(swatchBefore, 50);
  EXPECT_GT(swatchAfter, 50);
  EXPECT_EQ(sampleText, chosen);
  EXPECT_GT(sampleInk, 20);
  EXPECT_EQ(title->GetFontColor(), 0xCC6633);

  // In the saved file.
  const std::string file = (scratch / "coloured.ovx").string();
  doc->SaveToFile(file);
  TqxStorage storage;
  storage.LoadFromFile(file);
  std::string colours;
  for (int i = 0; i < storage.StreamCount(); ++i) {
    const std::string name = storage.GetStreamName(i);
    if (name.size() < 4 || name.substr(name.size() - 4) != ".xml") continue;
    TMemoryStream member;
    storage.ReadStream(name, member);
    const std::string xmlFile = (scratch / ("member" + std::to_string(i) + ".xml")).string();
    test::WriteFile(xmlFile, std::string(static_cast<const char*>(member.Memory()),
                                         static_cast<std::size_t>(member.Size())));
    colours += test::RunCommand("xmllint --xpath '//Shape/Font[Name=\"Tahoma\"]/Color/text()' '" +
                                xmlFile + "' 2>/dev/null");
  }
  EXPECT_NE(colours.find("$00CC6633"), std::string::npos) << colours;

  // On the rendered page: the opaque ink of the title is the colour.
  std::unique_ptr<TBitmap32> page = title->RenderThumbnail(
      static_cast<std::int32_t>(title->DocWidth() * 12), static_cast<std::int32_t>(title->DocHeight() * 12),
      dtPrinter, 0);
  ASSERT_TRUE(page);
  int opaque = 0, other = 0;
  for (int y = 0; y < page->Height(); ++y)
    for (int x = 0; x < page->Width(); ++x) {
      const TColor32 p = page->GetPixel(x, y);
      if (AlphaComponent(p) < 255) continue;
      ++opaque;
      if ((p & 0xFFFFFFu) != 0x3366CCu) ++other;
    }
  EXPECT_GT(opaque, 100);
  EXPECT_EQ(other, 0);
}

TEST_F(FontDialogTest, CancellingLeavesTheColour) {
  ASSERT_TRUE(CreateCDFrontTemplate(*doc));
  TdtpTextBaseShape* title = Title();
  title->SetFontColor(0x00FF00);
  Answer<QFontDialog>([](QFontDialog& d) {
    auto* dialog = dynamic_cast<TFontDialog*>(&d);
    ASSERT_TRUE(dialog);
    dialog->SetColor(Qt::blue);
    d.reject();
  });
  EXPECT_FALSE(EditShapeFont(*doc, kTitleIndex));
  EXPECT_EQ(title->GetFontColor(), 0x00FF00);
}

}  // namespace
}  // namespace kdl
