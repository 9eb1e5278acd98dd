// The new-project dialog as a user meets it: shown modally, answered from a
// timer, pictures clicked with the mouse, its screenshot read pixel by pixel.
#include <gtest/gtest.h>

#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <string>

#include "app/ApplicationSetup.h"
#include "app/NewProjectDialog.h"
#include "support/LanguageTesting.h"
#include "support/QtApplication.h"
#include "DialogTesting.h"

namespace kdl {
namespace {

using test::Child;
using test::ExecDialog;

const char* const kRadios[kTemplateCount] = {"rbCDFront", "rbCDFrontDouble", "rbCDBack", "rbDVD",
                                             "rbSlimDVD", "rbPaperSleeve", "rbOrigamiCDCase"};

QRadioButton& Radio(const QWidget& dialog, int type) {
  return Child<QRadioButton>(dialog, kRadios[type]);
}

QLabel& Picture(const QWidget& dialog, int type) {
  return Child<QLabel>(dialog, "Image" + std::to_string(type + 1));
}

class NewProjectDialog : public test::LanguageTest {
 protected:
  void SetUp() override {
    test::EnsureApplication();
    SetApplicationFont();
    test::LanguageTest::SetUp();
  }
};

TEST_P(NewProjectDialog, ShowsTheStoredTypeAndTakesTheCheckedOneBack) {
  TNewProjectDialog dialog;
  EXPECT_TRUE(Radio(dialog, 0).isChecked());
  EXPECT_EQ(dialog.SelectedType(), 0);

  // Shown with type 4, "Slim DVD" is checked; a click on the DVD picture
  // checks "DVD", and even Cancel stores it in the dialog.
  dialog.SetSelectedType(4);
  EXPECT_EQ(ExecDialog(dialog,
                       [&] {
                         EXPECT_TRUE(Radio(dialog, 4).isChecked());
                         EXPECT_EQ(dialog.GetSelectedType(), 4);
                         QTest::mouseClick(&Picture(dialog, 3), Qt::LeftButton);
                         EXPECT_TRUE(Radio(dialog, 3).isChecked());
                         EXPECT_FALSE(Radio(dialog, 4).isChecked());
                         Child<QPushButton>(dialog, "btnCancel").click();
                       }),
            QDialog::Rejected);
  EXPECT_EQ(dialog.SelectedType(), 3);

  // Each picture click checks its own button, the last one clicked wins.
  EXPECT_EQ(ExecDialog(dialog,
                       [&] {
                         EXPECT_TRUE(Radio(dialog, 3).isChecked());
                         for (int t : {6, 0, 5, 1, 2, 4}) {
                           QTest::mouseClick(&Picture(dialog, t), Qt::LeftButton, {},
                                             QPoint(90, 10));
                           for (int r = 0; r < kTemplateCount; ++r)
                             EXPECT_EQ(Radio(dialog, r).isChecked(), r == t) << t << " " << r;
                         }
                         // A right click picks nothing.
                         QTest::mouseClick(&Picture(dialog, 0), Qt::RightButton);
                         QTest::keyClick(&dialog, Qt::Key_Return);
                       }),
            QDialog::Accepted);
  EXPECT_EQ(dialog.SelectedType(), 4);

  // Escape is a cancel; the radio button itself picks as well.
  EXPECT_EQ(ExecDialog(dialog,
                       [&] {
                         QTest::mouseClick(&Radio(dialog, 6), Qt::LeftButton);
                         QTest::keyClick(&dialog, Qt::Key_Escape);
                       }),
            QDialog::Rejected);
  EXPECT_EQ(dialog.SelectedType(), 6);

  // A type outside 0 to 6 changes nothing.
  dialog.SetSelectedType(7);
  dialog.SetSelectedType(-1);
  dialog.SetSelectedType(255);
  EXPECT_EQ(dialog.SelectedType(), 6);
  EXPECT_TRUE(Radio(dialog, 6).isChecked());
  dialog.SetSelectedType(1);
  EXPECT_EQ(dialog.GetSelectedType(), 1);
  // With nothing checked the answer is the last type.
  Radio(dialog, 1).setAutoExclusive(false);
  Radio(dialog, 1).setChecked(false);
  EXPECT_EQ(dialog.GetSelectedType(), 6);
}

INSTANTIATE_TEST_SUITE_P(Languages, NewProjectDialog, ::testing::Values("English", "German"));

TEST(NewProjectDialogPlaces, ControlsAndPicturesWhereTheRecordsPutThem) {
  test::EnsureApplication();
  SetApplicationFont();
  Localizer().LoadFromFile(test::SourceProgramFolder() / "Languages" / "English.lng");
  TNewProjectDialog dialog;
  // A window of 500 x 420 leaves a client area of 494 x 392.
  EXPECT_EQ(dialog.size(), QSize(494, 392));
  // Worked out by hand: caption at (25 - 5, 10), its line a pixel under it,
  // pictures 6 under the line, 104 wide and 10 apart; each button 10 under
  // its picture less its pad of 5, and 5 in. The next category starts 16
  // under the buttons, the third beside the second over the third column.
  const std::pair<const char*, QRect> places[] = {
      {"txtCategory1Caption", {20, 10, 215, 13}}, {"pnlCategory1DecLine", {20, 24, 337, 1}},
      {"pnlDec1", {25, 31, 104, 104}},           {"rbCDFront", {30, 140, 109, 17}},
      {"pnlDec2", {139, 31, 104, 104}},          {"rbCDFrontDouble", {144, 140, 109, 17}},
      {"pnlDec3", {253, 31, 104, 104}},          {"rbCDBack", {258, 140, 109, 17}},
      {"txtCategory2Caption", {20, 173, 215, 13}}, {"pnlCategory2DecLine", {20, 187, 223, 1}},
      {"pnlDec4", {25, 194, 104, 104}},          {"rbDVD", {30, 303, 109, 17}},
      {"pnlDec5", {139, 194, 104, 104}},         {"rbSlimDVD", {144, 303, 109, 17}},
      {"txtCategory3Caption", {248, 173, 215, 13}}, {"pnlCategory3DecLine", {248, 187, 223, 1}},
      {"pnlDec6", {253, 194, 104, 104}},         {"rbPaperSleeve", {258, 303, 109, 17}},
      {"pnlDec7", {367, 194, 104, 104}},         {"rbOrigamiCDCase", {372, 303, 109, 17}},
      {"pnlButtons", {0, 342, 494, 50}},         {"btnOK", {300, 11, 86, 25}},
      {"btnCancel", {396, 11, 86, 25}},
  };
  for (const auto& [name, rect] : places)
    EXPECT_EQ(Child<QWidget>(dialog, name).geometry(), rect) << name;
  EXPECT_TRUE(Child<QPushButton>(dialog, "btnOK").isDefault());

  for (int t = 0; t < kTemplateCount; ++t) EXPECT_EQ(TemplatePicture(t).size(), QSize(100, 100));
  EXPECT_TRUE(TemplatePicture(kTemplateCount).isNull());
  EXPECT_TRUE(TemplatePicture(-1).isNull());

  // The screenshot: picture t's pixel (x, y) lies at its frame's corner plus
  // the two bevels.
  dialog.show();
  const QImage shot = dialog.grab().toImage();
  auto pixel = [&](int t, int x, int y) {
    return QColor(shot.pixel(Child<QWidget>(dialog, "pnlDec" + std::to_string(t + 1)).pos() +
                             QPoint(2 + x, 2 + y)));
  };
  const QColor white(255, 255, 255), imageArea(190, 208, 232);
  // Every drawing keeps 6 pixels of white round it.
  for (int t = 0; t < kTemplateCount; ++t) {
    EXPECT_EQ(pixel(t, 0, 0), white) << t;
    EXPECT_EQ(pixel(t, 99, 99), white) << t;
    EXPECT_EQ(pixel(t, 3, 50), white) << t;
  }
  // CD front, 121 x 120 mm in 88 pixels: the image fills the outline, and
  // the middle lies under the two titles.
  EXPECT_EQ(pixel(0, 50, 50), imageArea);
  EXPECT_EQ(pixel(0, 50, 90), imageArea);
  // Double CD front, 242 x 120 mm: 88 x 43.6 pixels from y 28.2. Its left
  // half is white, the image is its right half, and the top cut line runs
  // through row 28 (three of four samples on it).
  EXPECT_EQ(pixel(1, 25, 60), white);
  EXPECT_EQ(pixel(1, 75, 60), imageArea);
  EXPECT_EQ(pixel(1, 75, 10), white);
  EXPECT_LT(pixel(1, 25, 28).lightness(), 128);
  EXPECT_EQ(pixel(1, 25, 26), white);
  // Paper sleeve, 154 x 274 mm: 49.5 x 88 pixels from x 25.3. The image
  // square below the top flap, the white lower flap, nothing left of it.
  EXPECT_EQ(pixel(5, 49, 40), imageArea);
  EXPECT_EQ(pixel(5, 49, 76), white);
  EXPECT_EQ(pixel(5, 10, 50), white);
  // The fold line down the DVD spine (130 mm of 274, x 47.8) is dashed:
  // dark on some rows, white on others.
  int dark = 0, light = 0;
  for (int y = 25; y < 75; ++y) (pixel(3, 47, y).lightness() < 200 ? dark : light) += 1;
  EXPECT_GT(dark, 10);
  EXPECT_GT(light, 10);
  dialog.hide();
  Localizer().Clear();
}

}  // namespace
}  // namespace kdl
