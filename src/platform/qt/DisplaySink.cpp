// Errors (ErrorDisplay.h) and notices (MessageBox.h) reach the user the same
// way: a replaceable sink, else a modal box of their kind, else nothing when
// no widget application runs (tools and fuzzers).
#include <QApplication>
#include <QMessageBox>
#include <exception>

#include "platform/qt/ErrorDisplay.h"
#include "platform/qt/MessageBox.h"

namespace kdl {
namespace {

using Sink = std::function<void(const std::string&)>;
using Box = QMessageBox::StandardButton (*)(QWidget*, const QString&, const QString&,
                                            QMessageBox::StandardButtons,
                                            QMessageBox::StandardButton);

class DisplaySink {
 public:
  explicit DisplaySink(Box box) : box_(box) {}
  void Show(const std::string& text) const {
    if (sink_) {
      sink_(text);
      return;
    }
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) return;
    box_(QApplication::activeWindow(), QApplication::applicationDisplayName(),
         QString::fromStdString(text), QMessageBox::Ok, QMessageBox::NoButton);
  }
  void Replace(Sink sink) { sink_ = std::move(sink); }

 private:
  Box box_;
  Sink sink_;
};

DisplaySink& Errors() {
  static DisplaySink sink(&QMessageBox::critical);
  return sink;
}

DisplaySink& Messages() {
  static DisplaySink sink(&QMessageBox::information);
  return sink;
}

}  // namespace

void ShowError(const std::string& message) { Errors().Show(message); }

void ShowCurrentException() {
  try {
    throw;
  } catch (const std::exception& e) {
    ShowError(e.what());
  } catch (...) {
    ShowError("Unknown error");
  }
}

void SetErrorDisplay(Sink display) { Errors().Replace(std::move(display)); }

void ShowMessage(const std::string& text) { Messages().Show(text); }

void SetMessageDisplay(Sink display) { Messages().Replace(std::move(display)); }

}  // namespace kdl
