#include "platform/qt/Clipboard.h"

#include <QClipboard>
#include <QGuiApplication>

namespace kdl {

std::string ClipboardText() {
  if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) return {};
  const QByteArray bytes = QGuiApplication::clipboard()->text().toUtf8();
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

void SetClipboardText(const std::string& text) {
  if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) return;
  QGuiApplication::clipboard()->setText(
      QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

std::u16string ClipboardWideText() {
  if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) return {};
  return QGuiApplication::clipboard()->text().toStdU16String();
}

void SetClipboardWideText(const std::u16string& text) {
  if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) return;
  QGuiApplication::clipboard()->setText(QString::fromStdU16String(text));
}

}  // namespace kdl
