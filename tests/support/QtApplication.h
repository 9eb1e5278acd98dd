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
  static QApplication app(argc, argv);
}

}  // namespace kdl::test
