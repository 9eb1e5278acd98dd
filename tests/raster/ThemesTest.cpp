#include <gtest/gtest.h>

#include <QApplication>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>
#include <QWidget>
#include <memory>

#include "raster/Themes.h"

namespace kdl {
namespace {

TEST(Themes, FollowTheApplicationStyle) {
  std::unique_ptr<QApplication> own;
  if (!QCoreApplication::instance()) {
    EXPECT_FALSE(useThemes()) << "no application, no style to paint with";
    EXPECT_EQ(SCROLLBAR_THEME, nullptr);
    static int argc = 1;
    static char arg0[] = "tests";
    static char* argv[] = {arg0, nullptr};
    own = std::make_unique<QApplication>(argc, argv);
  }
  EXPECT_TRUE(useThemes());
  EXPECT_EQ(SCROLLBAR_THEME, QApplication::style());

  int changes = 0;
  TThemeNexus::Instance().OnThemeChanged = [&] { ++changes; };
  // The new style reaches the hub through the polished widget's event.
  QWidget widget;
  widget.ensurePolished();
  QApplication::setStyle(QStyleFactory::create("Fusion"));
  EXPECT_EQ(changes, 1) << "one style change, one notice";
  QApplication::setStyle(QStyleFactory::create("Windows"));
  EXPECT_EQ(changes, 2);
  // A palette change re-reads the state as well.
  QApplication::setPalette(QPalette(Qt::darkCyan));
  EXPECT_GE(changes, 3);
  EXPECT_EQ(SCROLLBAR_THEME, QApplication::style());
  EXPECT_EQ(GLOBALS_THEME, QApplication::style());
  TThemeNexus::Instance().OnThemeChanged = nullptr;

  if (own) {
    own.reset();
    EXPECT_FALSE(USE_THEMES) << "the hub closes with the application";
    EXPECT_EQ(SCROLLBAR_THEME, nullptr);
  }
}

}  // namespace
}  // namespace kdl
