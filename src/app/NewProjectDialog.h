// The dialog in which the user picks the template of a new project: seven
// pictures in three categories, a radio button under each. The caller sets
// SelectedType before showing it and reads it back after an OK.
#pragma once

#include <QDialog>
#include <QPixmap>

#include <array>
#include <cstdint>

#include "app/project/Templates.h"

class QFrame;
class QLabel;
class QPushButton;
class QRadioButton;

namespace kdl {

// The template pictures, 100 x 100, compiled into the program; an invalid
// type gives a null pixmap.
QPixmap TemplatePicture(int type);

class TNewProjectDialog : public QDialog {
  Q_OBJECT

 public:
  explicit TNewProjectDialog(QWidget* parent = nullptr);

  // The template type, 0 to 6, as stored when the dialog last closed.
  std::uint8_t SelectedType() const { return selectedType_; }
  // Takes type and checks its button; a type outside 0 to 6 changes nothing.
  void SetSelectedType(int type);

  // The type of the checked button: the first checked of types 0 to 5,
  // otherwise 6.
  std::uint8_t GetSelectedType() const;

  // Every close takes the checked type back, whatever the result.
  void done(int result) override;

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void LayoutControls();
  void ApplyLanguage();
  // Clicking a picture is clicking its button.
  void ImageClick(int type);

  std::uint8_t selectedType_ = 0;

  std::array<QLabel*, 3> txtCategoryCaption_{};
  std::array<QFrame*, 3> pnlCategoryDecLine_{};
  std::array<QFrame*, kTemplateCount> pnlDec_{};
  std::array<QLabel*, kTemplateCount> image_{};
  std::array<QRadioButton*, kTemplateCount> radio_{};
  QWidget* pnlButtons_;
  QPushButton* btnOK_;
  QPushButton* btnCancel_;
};

}  // namespace kdl
