#include "platform/qt/MessageBox.h"

#include <QApplication>
#include <QMessageBox>

namespace kdl {
namespace {

std::function<void(const std::string&)>& Display() {
  static std::function<void(const std::string&)> display;
  return display;
}

}  // namespace

void ShowMessage(const std::string& text) {
  if (Display()) {
    Display()(text);
    return;
  }
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) return;
  QMessageBox::information(QApplication::activeWindow(), QApplication::applicationDisplayName(),
                           QString::fromStdString(text));
}

void SetMessageDisplay(std::function<void(const std::string&)> display) {
  Display() = std::move(display);
}

}  // namespace kdl
