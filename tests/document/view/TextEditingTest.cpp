// In-place text editing through the document's keys: the editor's tables
// checked against the text and caret a user expects, and caret positions
// in a monospaced font against multiples of one advance.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <string>

#include "ViewTesting.h"
#include "document/text/LineEdit.h"
#include "document/text/MemoShape.h"
#include "document/text/TextShape.h"
#include "platform/qt/Timer.h"

namespace kdl {
namespace {

class TextEditingTest : public test::ShownDocumentTest<> {
 protected:
  template <class Shape>
  Shape& Add(const std::u16string& text, float width = 60, float height = 20) {
    auto shape = std::make_unique<Shape>();
    shape->SetFontName("Liberation Mono");
    shape->SetText(text);
    shape->SetAutoSize(false);
    shape->SetDocBounds(20, 20, width, height);
    Shape& ref = test::AddUnrecorded(*doc_, std::move(shape));
    doc_->ClearUndo();
    return ref;
  }
  void Key(Qt::Key key, Qt::KeyboardModifiers mods = {}) { QTest::keyClick(doc_, key, mods); }
  void Type(const QString& text) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, text);
    QApplication::sendEvent(doc_, &press);
  }
  int TextRecords() {
    int n = 0;
    for (const auto& c : doc_->UndoList()) n += c->PropName == "Text" ? 1 : 0;
    return n;
  }
};

TEST_F(TextEditingTest, EntrySelectsAllAndTypingReplaces) {
  TdtpTextShape& t = Add<TdtpTextShape>(u"abc");
  doc_->EditShape(&t);
  ASSERT_EQ(doc_->DragState(), dsInPlaceEdit);
  EXPECT_EQ(t.SelStart(), 0);
  EXPECT_EQ(t.SelLength(), 3);
  EXPECT_EQ(t.CaretPos(), 3);
  ASSERT_NE(t.CaretTimer(), nullptr);
  EXPECT_EQ(t.CaretTimer()->Interval(), 400u);
  Type("x");
  EXPECT_EQ(t.Text(), u"x");
  EXPECT_EQ(t.CaretPos(), 1);
  // Every typed character is its own undo step.
  Type("y");
  EXPECT_EQ(TextRecords(), 2);
  // The caret blinks: hidden after one tick, back after the next.
  t.CaretTick();
  EXPECT_TRUE(t.CaretHidden());
  t.CaretTick();
  EXPECT_FALSE(t.CaretHidden());
}

TEST_F(TextEditingTest, SelectCutAndBackspace) {
  TdtpTextShape& t = Add<TdtpTextShape>(u"abc");
  doc_->EditShape(&t);
  Key(Qt::Key_End);
  Key(Qt::Key_Left, Qt::ShiftModifier);
  Key(Qt::Key_Left, Qt::ShiftModifier);
  EXPECT_EQ(t.SelStart(), 1);
  EXPECT_EQ(t.SelLength(), 2);
  EXPECT_EQ(t.CaretPos(), 1);
  Key(Qt::Key_X, Qt::ControlModifier);
  EXPECT_EQ(t.Text(), u"a");
  EXPECT_EQ(t.CaretPos(), 1);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QString("bc"));
  Key(Qt::Key_Home);
  Key(Qt::Key_Backspace);
  EXPECT_EQ(t.Text(), u"a");
  EXPECT_EQ(t.CaretPos(), 0);
  Key(Qt::Key_Delete);
  EXPECT_EQ(t.Text(), u"");
  // Delete as X11 delivers it, with the DEL character as its text: the
  // key deletes and the character is not typed.
  Type("xy");
  Key(Qt::Key_Home);
  QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier, QString(QChar(0x7F)));
  QApplication::sendEvent(doc_, &del);
  EXPECT_EQ(t.Text(), u"y");
  EXPECT_EQ(t.CaretPos(), 0);
}

TEST_F(TextEditingTest, EscapeRestoresAndEnterAccepts) {
  TdtpTextShape& t = Add<TdtpTextShape>(u"abc");
  doc_->EditShape(&t);
  Type("q");
  ASSERT_EQ(t.Text(), u"q");
  const int before = TextRecords();
  Key(Qt::Key_Escape);
  EXPECT_EQ(doc_->DragState(), dsIdle);
  EXPECT_EQ(t.Text(), u"abc");
  EXPECT_EQ(TextRecords(), before + 1);
  EXPECT_EQ(t.Editor(), nullptr);
  EXPECT_EQ(t.CaretTimer(), nullptr);

  doc_->EditShape(&t);
  Type("z");
  Key(Qt::Key_Return);
  EXPECT_EQ(doc_->DragState(), dsIdle);
  EXPECT_EQ(t.Text(), u"z");

  t.SetAllowEdit(false);
  doc_->EditShape(&t);
  EXPECT_EQ(doc_->DragState(), dsIdle);
  EXPECT_EQ(doc_->EditedShape(), nullptr);
}

TEST_F(TextEditingTest, UnicodeTypedAndPastedStaysUnicode) {
  TdtpTextShape& t = Add<TdtpTextShape>(u"");
  doc_->EditShape(&t);
  Type(QString::fromUtf8("ő"));
  Type(QString::fromUtf8("€"));
  Type(QString::fromUtf8("😀"));
  EXPECT_EQ(t.Text(), u"ő€😀");
  EXPECT_EQ(t.CaretPos(), 4);  // the emoji is two UTF-16 units
  QGuiApplication::clipboard()->setText(QString::fromUtf8("ő€😀"));
  Key(Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(t.Text(), u"ő€😀ő€😀");
}

TEST_F(TextEditingTest, MemoLinesAndCaretMoves) {
  TdtpMemoShape& m = Add<TdtpMemoShape>(u"ab\r\ncd", 60, 40);
  doc_->EditShape(&m);
  ASSERT_EQ(m.CaretPos(), 6);
  Key(Qt::Key_Down);  // on the last line: stays
  EXPECT_EQ(m.CaretPos(), 6);
  Key(Qt::Key_Up);  // to the same column above
  EXPECT_EQ(m.CaretPos(), 2);
  Key(Qt::Key_Up);  // on the first line: stays
  EXPECT_EQ(m.CaretPos(), 2);
  Key(Qt::Key_Right);  // over CR LF in one step
  EXPECT_EQ(m.CaretPos(), 4);
  Key(Qt::Key_Left);
  EXPECT_EQ(m.CaretPos(), 2);
  // Enter breaks the line in a memo.
  Key(Qt::Key_Return);
  EXPECT_EQ(doc_->DragState(), dsInPlaceEdit);
  EXPECT_EQ(m.Text(), u"ab\r\n\r\ncd");
  EXPECT_EQ(m.CaretPos(), 4);
}

TEST_F(TextEditingTest, OutsideChangesReachTheEditor) {
  TdtpTextShape& t = Add<TdtpTextShape>(u"abcdef");
  doc_->EditShape(&t);
  Key(Qt::Key_End);
  t.SetText(u"zz");
  EXPECT_EQ(t.CaretPos(), 2);
  EXPECT_EQ(t.Editor()->Text(), u"zz");
  Type("q");
  EXPECT_EQ(t.Text(), u"zzq");
}

// The caret before character k stands k advances past the first one; the
// fitted font is monospaced, so the positions are evenly spaced.
void ExpectEvenPositions(TdtpDocument& doc, TdtpTextShape& t, std::size_t count) {
  doc.EditShape(&t);
  const auto& x = t.CharPositions();
  ASSERT_EQ(x.size(), count + 1);
  const double pixel = 1.0 / doc.RenderDpm();
  EXPECT_NEAR(x[0].X, 0, 1e-4);  // left aligned: no offset
  const double advance = (x[count].X - x[0].X) / static_cast<double>(count);
  EXPECT_GT(advance, 0);
  for (std::size_t k = 0; k <= count; ++k)
    EXPECT_NEAR(x[k].X, x[0].X + k * advance, pixel) << "k=" << k;
  doc.EndEdit(true);
}

TEST_F(TextEditingTest, CaretPositionsAtTwoResolutions) {
  TdtpTextShape& t = Add<TdtpTextShape>(u"abcdefgh", 80, 15);
  ExpectEvenPositions(*doc_, t, 8);
  doc_->SetRenderDPI(600);
  ExpectEvenPositions(*doc_, t, 8);
}

TEST_F(TextEditingTest, CaretAfterATrailingBreakIsOnTheNextLine) {
  TdtpMemoShape& m = Add<TdtpMemoShape>(u"ab\r\n", 60, 40);
  doc_->EditShape(&m);
  const auto& p = m.CharPositions();
  ASSERT_EQ(p.size(), 5u);
  EXPECT_FLOAT_EQ(p[3].X, p[2].X);  // between CR and LF: after "ab"
  EXPECT_FLOAT_EQ(p[4].X, 0);
  EXPECT_NEAR(p[4].Y, p[0].Y + m.GetLineHeight(), 1e-4);
}

}  // namespace
}  // namespace kdl
