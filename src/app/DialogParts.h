// The pieces the small dialogs share: the program icon, the white panel
// with its section captions and grey lines, and the OK button, all at the
// places the layout records fix.
#pragma once

#include <QPixmap>
#include <QSize>

class QColor;
class QDialog;
class QFrame;
class QLabel;
class QPushButton;
class QWidget;

namespace kdl {

// The dialogs' sizes are given for the whole window, a 3-pixel frame round
// it and a 22-pixel caption over it; Qt sizes the client area inside, which
// is smaller by this much. Sized as the window, the client area would leave
// empty bands under the controls the records place.
inline constexpr int kWindowFrameWidth = 6;
inline constexpr int kWindowFrameHeight = 28;
// The client area of a window of the given size.
QSize ClientSize(int windowWidth, int windowHeight);

// Paints w's background in colour.
void Fill(QWidget& w, const QColor& colour);

// The program's 48 x 48 icon, compiled into the program.
QPixmap ProgramIcon();

// The icon, the white panel and the default OK button of the options and
// about dialogs, in a window of 320 x 208.
struct TDialogFrame {
  QLabel* imgIcon;
  QWidget* pnlDec;
  QPushButton* btnOK;
};
TDialogFrame CreateDialogFrame(QDialog& dialog);

// A bold section caption and the grey line under it.
QLabel* CreateSectionCaption(QWidget& parent, const char* name);
QFrame* CreateDecorationLine(QWidget& parent, const char* name);

// A button on parent that closes dialog with result.
QPushButton* CreateDialogButton(QDialog& dialog, QWidget& parent, const char* name, int result);

}  // namespace kdl
