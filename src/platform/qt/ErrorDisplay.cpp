#include "platform/qt/ErrorDisplay.h"

#include <QApplication>
#include <QMessageBox>
#include <exception>

namespace kdl {
namespace {

std::function<void(const std::string&)>& Display() {
  static std::function<void(const std::string&)> display;
  return display;
}

}  // namespace

void ShowError(const std::string& message) {
  if (Display()) {
    Display()(message);
    return;
  }
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) return;
  QMessageBox::critical(QApplication::activeWindow(), QApplication::applicationDisplayName(),
                        QString::fromStdString(message));
}

void ShowCurrentException() {
  try {
    throw;
  } catch (const std::exception& e) {
    ShowError(e.what());
  } catch (...) {
    ShowError("Unknown error");
  }
}

void SetErrorDisplay(std::function<void(const std::string&)> display) {
  Display() = std::move(display);
}

}  // namespace kdl
