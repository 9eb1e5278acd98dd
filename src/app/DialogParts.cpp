#include "app/DialogParts.h"

#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <QPalette>
#include <QPushButton>

#include "app/Placement.h"

namespace kdl {

QSize ClientSize(int windowWidth, int windowHeight) {
  return {windowWidth - kWindowFrameWidth, windowHeight - kWindowFrameHeight};
}

void Fill(QWidget& w, const QColor& colour) {
  QPalette p = w.palette();
  p.setColor(QPalette::Window, colour);
  w.setPalette(p);
  w.setAutoFillBackground(true);
}

QPixmap ProgramIcon() { return QPixmap(QStringLiteral(":/pictures/icon48.png")); }

TDialogFrame CreateDialogFrame(QDialog& dialog) {
  dialog.setFixedSize(ClientSize(320, 208));
  TDialogFrame f;
  f.imgIcon = new QLabel(&dialog);
  f.imgIcon->setObjectName("imgIcon");
  f.imgIcon->setPixmap(ProgramIcon());
  PlaceControlAt(*f.imgIcon, kDialogIcon);

  f.pnlDec = new QWidget(&dialog);
  f.pnlDec->setObjectName("pnlDec");
  Fill(*f.pnlDec, Qt::white);
  PlaceControlAt(*f.pnlDec, kDialogPanel);

  f.btnOK = CreateDialogButton(dialog, dialog, "btnOK", QDialog::Accepted);
  f.btnOK->setDefault(true);
  PlaceControlAt(*f.btnOK, kDialogOkButton);
  return f;
}

QLabel* CreateSectionCaption(QWidget& parent, const char* name) {
  auto* caption = new QLabel(&parent);
  caption->setObjectName(name);
  QFont bold = caption->font();
  bold.setBold(true);
  caption->setFont(bold);
  return caption;
}

QFrame* CreateDecorationLine(QWidget& parent, const char* name) {
  auto* line = new QFrame(&parent);
  line->setObjectName(name);
  Fill(*line, QColor(0x80, 0x80, 0x80));
  return line;
}

QPushButton* CreateDialogButton(QDialog& dialog, QWidget& parent, const char* name, int result) {
  auto* button = new QPushButton(&parent);
  button->setObjectName(name);
  QObject::connect(button, &QPushButton::clicked, &dialog,
                   [&dialog, result] { dialog.done(result); });
  return button;
}

}  // namespace kdl
