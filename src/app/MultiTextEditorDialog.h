// A larger editor for the label's contents text: unwrapped lines with both
// scroll bars. The caller gives the text and caret and takes them back on
// OK.
#pragma once

#include <QDialog>

class QPlainTextEdit;
class QPushButton;

namespace kdl {

class TMultiTextEditorDialog : public QDialog {
  Q_OBJECT

 public:
  explicit TMultiTextEditorDialog(QWidget* parent = nullptr);

  // Lines separated by "\n"; an empty line, the last one included, is kept.
  QString Text() const;
  void SetText(const QString& text);
  // The caret as a character position in Text().
  int CaretPosition() const;
  void SetCaretPosition(int position);

 private:
  void LayoutControls();
  void ApplyLanguage();

  QWidget* pnlText_;
  QWidget* pnlButtons_;
  QPlainTextEdit* memo_;
  QPushButton* btnOK_;
  QPushButton* btnCancel_;
};

}  // namespace kdl
