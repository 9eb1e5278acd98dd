// One GUI application for a whole test program, made on first need (fonts
// and painting need it). Header only: the support library itself stays
// free of Qt for the folders that do not link it.
#pragma once

#include <QApplication>

namespace kdl::test {

inline void EnsureApplication() {
  if (QCoreApplication::instance() != nullptr) return;
  static int argc = 1;
  static char arg0[] = "tests";
  static char* argv[] = {arg0, nullptr};
  // Never destroyed: at exit, Qt's own globals (the input devices that QTest
  // events create) may be gone before a static application would be.
  static QApplication* app = new QApplication(argc, argv);
  (void)app;
}

}  // namespace kdl::test
