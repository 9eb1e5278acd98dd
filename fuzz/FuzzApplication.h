#pragma once
// Text and caption shapes measure with the platform's fonts, which need an
// application; fuzz targets make one on the offscreen platform, once.
#include <QGuiApplication>

inline void EnsureApplication() {
  if (QCoreApplication::instance()) return;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char arg0[] = "fuzz";
  static char* argv[] = {arg0, nullptr};
  static QGuiApplication* app = new QGuiApplication(argc, argv);
  (void)app;
}
