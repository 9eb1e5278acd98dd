#include "app/MultiTextEditorDialog.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>

#include <algorithm>

#include "app/DialogParts.h"
#include "app/Localizer.h"
#include "app/Placement.h"

namespace kdl {
namespace {

constexpr int kWidth = 380, kHeight = 440, kButtonRowHeight = 50;

}  // namespace

TMultiTextEditorDialog::TMultiTextEditorDialog(QWidget* parent) : QDialog(parent) {
  setObjectName("EditDialog");
  pnlText_ = new QWidget(this);
  pnlText_->setObjectName("pnlText");
  pnlButtons_ = new QWidget(this);
  pnlButtons_->setObjectName("pnlButtons");
  memo_ = new QPlainTextEdit(pnlText_);
  memo_->setObjectName("Memo");
  memo_->setLineWrapMode(QPlainTextEdit::NoWrap);
  memo_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memo_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  btnOK_ = CreateDialogButton(*this, *pnlButtons_, "btnOK", QDialog::Accepted);
  btnCancel_ = CreateDialogButton(*this, *pnlButtons_, "btnCancel", QDialog::Rejected);
  // Return belongs to the memo: it breaks the line rather than closing.
  btnOK_->setAutoDefault(false);
  btnCancel_->setAutoDefault(false);
  LayoutControls();
  ApplyLanguage();
}

void TMultiTextEditorDialog::LayoutControls() {
  const QSize client = ClientSize(kWidth, kHeight);
  setFixedSize(client);
  pnlText_->setGeometry(0, 0, client.width(), client.height() - kButtonRowHeight);
  pnlButtons_->setGeometry(0, client.height() - kButtonRowHeight, client.width(), kButtonRowHeight);
  PlaceControlAt(*memo_, kEditorMemo);
  PlaceControlAt(*btnOK_, kEditorOkButton);
  PlaceControlAt(*btnCancel_, kEditorCancelButton);
}

void TMultiTextEditorDialog::ApplyLanguage() {
  setWindowTitle(Localizer().Text("EditDialog", "Caption"));
  btnOK_->setText(Localizer().Text("DialogShared", "Ok"));
  btnCancel_->setText(Localizer().Text("DialogShared", "Cancel"));
}

QString TMultiTextEditorDialog::Text() const { return memo_->toPlainText(); }

void TMultiTextEditorDialog::SetText(const QString& text) { memo_->setPlainText(text); }

int TMultiTextEditorDialog::CaretPosition() const { return memo_->textCursor().position(); }

void TMultiTextEditorDialog::SetCaretPosition(int position) {
  QTextCursor caret = memo_->textCursor();
  const int end = static_cast<int>(Text().size());
  caret.setPosition(std::clamp(position, 0, end));
  memo_->setTextCursor(caret);
}

}  // namespace kdl
