// The settings of the document tests: the library started, documents saved
// to and opened from bytes, and a document shown in an offscreen window
// with the user's mouse and keys.
#pragma once

#include <gtest/gtest.h>

#include <QMouseEvent>
#include <QTest>
#include <QWidget>
#include <cmath>
#include <map>
#include <memory>
#include <string>

#include "QtApplication.h"
#include "document/Startup.h"
#include "document/shapes/Command.h"
#include "document/view/Document.h"
#include "document/view/Page.h"
#include "foundation/Storage.h"
#include "foundation/Stream.h"
#include "platform/qt/ErrorDisplay.h"

namespace kdl::test {

class DocumentLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureApplication();
    InitializeDocumentLibrary();
  }
};

inline std::string StreamBytes(TMemoryStream& m) {
  return {static_cast<const char*>(m.Memory()), static_cast<std::size_t>(m.Size())};
}

inline std::string SaveBytes(TdtpDocument& doc) {
  TMemoryStream m;
  doc.SaveToStream(m);
  return StreamBytes(m);
}

inline void LoadBytes(TdtpDocument& doc, const std::string& bytes) {
  TMemoryStream m;
  m.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  m.Seek(0, soBeginning);
  doc.LoadFromStream(m);
}

// An archive of the given members, in name order.
inline std::string ArchiveBytes(const std::map<std::string, std::string>& members) {
  TqxStorage storage;
  for (const auto& [name, bytes] : members) {
    TMemoryStream m;
    m.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    storage.WriteStream(name, m);
  }
  TMemoryStream m;
  storage.SaveToStream(m);
  return StreamBytes(m);
}

// A shape added as the file would add it: without an undo record.
template <class Shape>
Shape& AddUnrecorded(TdtpDocument& doc, std::unique_ptr<Shape> shape) {
  Shape& ref = *shape;
  doc.LockUndo();
  doc.AddShape(std::move(shape));
  doc.UnlockUndo();
  return ref;
}

// Undo groups on the stack: each starts with an unchained command.
inline int UndoGroups(const TdtpDocument& doc) {
  int groups = 0;
  for (const auto& c : doc.UndoList()) groups += c->Chained ? 0 : 1;
  return groups;
}

// A document of 600 x 400 in a shown window.
template <class Doc = TdtpDocument>
class ShownDocumentTest : public DocumentLibraryTest {
 protected:
  void SetUp() override {
    DocumentLibraryTest::SetUp();
    host_ = std::make_unique<QWidget>();
    host_->resize(640, 420);
    doc_ = new Doc();
    doc_->SetParent(host_.get());
    doc_->setGeometry(0, 0, 600, 400);
    host_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(host_.get()));
  }
  void TearDown() override { SetErrorDisplay(nullptr); }

  // 4 px per mm: every pixel step is an exact quarter millimetre.
  void ExactScale() {
    doc_->SetAutoWidth(false);
    doc_->SetScreenDpm(4);
    doc_->PageSizeChanged();
  }
  // The client pixel of a point in a shape's own millimetres.
  static QPoint At(const TdtpShape& shape, float x, float y) {
    const TFloatPoint p = shape.LocalToScreen({x, y});
    return {static_cast<int>(std::lround(p.X)), static_cast<int>(std::lround(p.Y))};
  }
  QWidget* View() { return doc_->viewport(); }
  void Press(QPoint p, Qt::KeyboardModifiers mods = {}) { QTest::mousePress(View(), Qt::LeftButton, mods, p); }
  void Move(QPoint p, Qt::KeyboardModifiers mods = {}, bool left = true) {
    QMouseEvent e(QEvent::MouseMove, p, View()->mapToGlobal(p), Qt::NoButton,
                  left ? Qt::LeftButton : Qt::NoButton, mods);
    QApplication::sendEvent(View(), &e);
  }
  void Release(QPoint p, Qt::KeyboardModifiers mods = {}) {
    QTest::mouseRelease(View(), Qt::LeftButton, mods, p);
  }
  void Click(QPoint p, Qt::KeyboardModifiers mods = {}) {
    Press(p, mods);
    Release(p, mods);
  }
  // A press, one move and a release from a point, by a pixel offset.
  void Stroke(QPoint from, QPoint by) {
    Press(from);
    Move(from + by);
    Release(from + by);
  }
  void Drag(QPoint from, QPoint to, Qt::KeyboardModifiers mods = {}) {
    Press(from, mods);
    Move({(from.x() + to.x()) / 2, (from.y() + to.y()) / 2}, mods);
    Move(to, mods);
    Release(to, mods);
  }

  std::unique_ptr<QWidget> host_;
  Doc* doc_ = nullptr;
};

}  // namespace kdl::test
