#include "UrlRecorder.h"

namespace kdl::test {

UrlRecorder::UrlRecorder(QStringList schemes) : schemes_(std::move(schemes)) {
  for (const QString& s : schemes_) QDesktopServices::setUrlHandler(s, this, "open");
}

UrlRecorder::~UrlRecorder() {
  for (const QString& s : schemes_) QDesktopServices::unsetUrlHandler(s);
}

}  // namespace kdl::test
