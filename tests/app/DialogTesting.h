// Finding a dialog's controls by name and answering a modal dialog, for the
// dialog tests.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <string>

#include "platform/Exception.h"

namespace kdl::test {

template <typename T>
T& Child(const QWidget& parent, const std::string& name) {
  T* child = parent.findChild<T*>(QString::fromStdString(name));
  if (child == nullptr) throw Exception("no child " + name);
  return *child;
}

// Shows dialog modally, runs answer once it is up, and returns the result.
inline int ExecDialog(QDialog& dialog, const std::function<void()>& answer) {
  QTimer::singleShot(0, [&] {
    EXPECT_EQ(QApplication::activeModalWidget(), &dialog);
    answer();
  });
  return dialog.exec();
}

}  // namespace kdl::test
