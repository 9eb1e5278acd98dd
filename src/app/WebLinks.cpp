#include "app/WebLinks.h"

#include <QDesktopServices>

#include "app/Localizer.h"
#include "app/VersionInfo.h"
#include "kdl/Version.h"

namespace kdl {
namespace {

QByteArray Encode(const std::string& text) {
  // Only the unreserved characters stay: space is %20 and "+" is %2B, as
  // mailto URLs want them (a "+" would read as a space).
  return QUrl::toPercentEncoding(QString::fromStdString(text));
}

}  // namespace

TSupportMail ComposeSupportMail(const std::string& subjectText, const std::string& actionText,
                                const std::string& osText) {
  const TFileVersionInfo& info = VersionInfo();
  auto body = [](const char* key) { return Localizer().GetString("Mail", key); };
  TSupportMail mail;
  mail.Subject = info.ProductName + " " + subjectText;
  mail.Body = body("Body1") + " \n\n" + body("Body2") + " " + info.ProductName + " " +
              body("Body3") + " " + info.ProductVersion + " \n" + body("Body4") + " " + osText +
              " \n" + body("Body5") + " " + actionText + ": \n\n " + body("Body6") + " \n\n" +
              body("Body7") + " \n " + body("Body8");
  return mail;
}

QUrl SupportMailUrl(const std::string& address, const TSupportMail& mail) {
  const QByteArray url = "mailto:" + Encode(address).replace("%40", "@") + "?subject=" +
                         Encode(mail.Subject) + "&body=" + Encode(mail.Body);
  // Already encoded: taken as it is, never decoded and encoded again.
  return QUrl::fromEncoded(url, QUrl::StrictMode);
}

bool SendSupportMail(const std::string& subjectText, const std::string& actionText) {
  const TSupportMail mail = ComposeSupportMail(subjectText, actionText, GetOSVersionText());
  return QDesktopServices::openUrl(SupportMailUrl(version::SupportEmail, mail));
}

bool OpenHomepage() { return QDesktopServices::openUrl(QUrl(QString(version::HomepageUrl))); }

}  // namespace kdl
