// Receives the URLs the desktop would open, in place of the desktop's
// handler for a scheme while it lives.
#pragma once

#include <QDesktopServices>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace kdl::test {

class UrlRecorder : public QObject {
  Q_OBJECT
 public:
  explicit UrlRecorder(QStringList schemes = {});
  ~UrlRecorder() override;

  QList<QUrl> urls;
 public slots:
  void open(const QUrl& url) { urls.append(url); }

 private:
  QStringList schemes_;
};

}  // namespace kdl::test
