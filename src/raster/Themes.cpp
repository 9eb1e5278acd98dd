#include "raster/Themes.h"

#include <QApplication>
#include <QEvent>
#include <QStyle>

namespace kdl {

bool USE_THEMES = false;
QStyle* SCROLLBAR_THEME = nullptr;
QStyle* GLOBALS_THEME = nullptr;

namespace {
QApplication* GuiApplication() {
  return qobject_cast<QApplication*>(QCoreApplication::instance());
}
}  // namespace

TThemeNexus::TThemeNexus() { OpenVisualStyles(); }

TThemeNexus::~TThemeNexus() {
  if (attached_) {
    if (QApplication* app = GuiApplication()) app->removeEventFilter(this);
  }
  CloseVisualStyles();
}

TThemeNexus& TThemeNexus::Instance() {
  static TThemeNexus nexus;
  nexus.Attach();
  return nexus;
}

void TThemeNexus::Attach() {
  if (attached_) return;
  QApplication* app = GuiApplication();
  if (!app) return;
  // Style and palette changes reach the application object itself.
  app->installEventFilter(this);
  attached_ = true;
  // The application may have come up after the hub: read its style now.
  CloseVisualStyles();
  OpenVisualStyles();
  // Not owned by the application: the hub outlives it as a static and
  // detaches when the application goes.
  QObject::connect(app, &QObject::destroyed, this, [this] {
    attached_ = false;
    CloseVisualStyles();
  });
}

void TThemeNexus::OpenVisualStyles() {
  USE_THEMES = false;
  QApplication* app = GuiApplication();
  QStyle* style = app ? QApplication::style() : nullptr;
  if (!style) return;
  USE_THEMES = true;
  SCROLLBAR_THEME = style;
  GLOBALS_THEME = style;
}

void TThemeNexus::CloseVisualStyles() {
  SCROLLBAR_THEME = nullptr;
  GLOBALS_THEME = nullptr;
  USE_THEMES = false;
}

bool TThemeNexus::StyleReplaced() const {
  return GuiApplication() && SCROLLBAR_THEME != QApplication::style();
}

void TThemeNexus::Reopen() {
  CloseVisualStyles();
  OpenVisualStyles();
  if (OnThemeChanged) OnThemeChanged();
}

bool TThemeNexus::eventFilter(QObject* watched, QEvent* event) {
  // A filter on the application sees every object's events: a new style
  // reaches each widget, so act only on the first that shows a new style.
  // Palette and desktop theme changes go to the application itself.
  const QEvent::Type type = event->type();
  if (type == QEvent::StyleChange) {
    if (StyleReplaced()) Reopen();
  } else if (watched == QCoreApplication::instance() &&
             (type == QEvent::ApplicationPaletteChange || type == QEvent::ThemeChange)) {
    Reopen();
  }
  return QObject::eventFilter(watched, event);
}

bool useThemes() {
  TThemeNexus& nexus = TThemeNexus::Instance();
  // Without widgets no style event is sent; a replaced style still counts.
  if (nexus.StyleReplaced()) nexus.Reopen();
  return USE_THEMES;
}

}  // namespace kdl
