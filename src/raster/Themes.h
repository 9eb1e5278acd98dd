// The process-wide visual-style state: whether controls paint with the
// desktop's style, kept current as the application's style or palette
// changes.
#pragma once

#include <QObject>
#include <functional>

class QStyle;

namespace kdl {

// True while a QApplication with a style exists; false until the hub opened.
extern bool USE_THEMES;
// The styles scroll bars and other controls paint with; null when closed.
extern QStyle* SCROLLBAR_THEME;
extern QStyle* GLOBALS_THEME;

class TThemeNexus : public QObject {
 public:
  TThemeNexus();
  ~TThemeNexus() override;

  // Re-reads the style state: called on creation and on every style or
  // palette change of the application.
  void OpenVisualStyles();
  void CloseVisualStyles();

  // Fired after the state was re-read because the style changed.
  std::function<void()> OnThemeChanged;

  // The one hub, created on first use.
  static TThemeNexus& Instance();

  // The application's style is no longer the one the state was read from.
  bool StyleReplaced() const;
  // Re-reads the state and fires OnThemeChanged.
  void Reopen();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Attach();
  bool attached_ = false;
};

// Opens the hub if needed (attaching it to the application once one exists)
// and tells whether controls paint with the style.
bool useThemes();

}  // namespace kdl
