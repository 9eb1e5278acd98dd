#include <gtest/gtest.h>

#include <QDesktopServices>
#include <QObject>
#include <QUrl>

#include <string>

#include "app/Localizer.h"
#include "app/VersionInfo.h"
#include "app/WebLinks.h"
#include "kdl/Version.h"
#include "support/QtApplication.h"
#include "support/TestFiles.h"
#include "UrlRecorder.h"

namespace kdl {
namespace {

// Python's urllib decodes the subject and body of a mailto URL.
std::string PythonDecode(const test::ScratchDir& dir, const QUrl& url) {
  test::WriteFile(dir / "url.txt", url.toEncoded().toStdString());
  test::WriteFile(dir / "decode.py", R"(
import sys, urllib.parse
u = urllib.parse.urlsplit(open(sys.argv[1], encoding="ascii").read())
q = urllib.parse.parse_qs(u.query, keep_blank_values=True, strict_parsing=True)
sys.stdout.buffer.write("|".join([u.scheme, u.path, q["subject"][0], q["body"][0], str(len(q))]).encode("utf-8"))
)");
  return test::RunCommand("python3 " + (dir / "decode.py").string() + " " + (dir / "url.txt").string());
}

TEST(WebLinks, SupportMailSurvivesEveryCharacter) {
  test::EnsureApplication();
  test::ScratchDir dir;
  test::WriteFile(dir / "Mail.lng",
                  "[Mail]\nBody1=Hi & hello #1\nBody2=I use\nBody3=version\nBody4=on\n"
                  "Body5=and I'd like to\nBody6=100% + ü?\nBody7=a=b;c/d\nBody8=~ end\n");
  Localizer().LoadFromFile(dir / "Mail.lng");
  const std::string os = "Débian 12 (x&y) 6.1 Build #1 SMP x86_64";
  const TSupportMail mail = ComposeSupportMail("Bug & #2 50% + ü", "report this", os);
  Localizer().Clear();

  const std::string product = VersionInfo().ProductName, ver = VersionInfo().ProductVersion;
  EXPECT_EQ(mail.Subject, product + " Bug & #2 50% + ü");
  EXPECT_EQ(mail.Body, "Hi & hello #1 \n\nI use " + product + " version " + ver + " \non " + os +
                           " \nand I'd like to report this: \n\n 100% + ü? \n\na=b;c/d \n ~ end");

  const QUrl url = SupportMailUrl(version::SupportEmail, mail);
  ASSERT_TRUE(url.isValid()) << url.errorString().toStdString();
  EXPECT_EQ(PythonDecode(dir, url),
            "mailto|" + std::string(version::SupportEmail) + "|" + mail.Subject + "|" + mail.Body + "|2");
  EXPECT_TRUE(url.toEncoded().contains("%20")) << "spaces as %20";
  EXPECT_FALSE(url.toEncoded().contains('+')) << "a literal + reads as a space";

  // Sending goes through the desktop's mailto handler, the URL unchanged.
  test::UrlRecorder recorder({"mailto"});
  Localizer().LoadFromFile(dir / "Mail.lng");
  EXPECT_TRUE(SendSupportMail("Subject ü", "ask"));
  Localizer().Clear();
  ASSERT_EQ(recorder.urls.size(), 1);
  const std::string decoded = PythonDecode(dir, recorder.urls[0]);
  EXPECT_EQ(decoded.substr(0, decoded.find('|', 7)), "mailto|" + std::string(version::SupportEmail));
  EXPECT_NE(decoded.find("|" + product + " Subject ü|Hi & hello #1 \n\n"), std::string::npos);
  EXPECT_NE(decoded.find(" \non " + GetOSVersionText() + " \n"), std::string::npos);
}

TEST(WebLinks, HomepageOpensInTheBrowser) {
  test::EnsureApplication();
  test::UrlRecorder recorder({"https"});
  EXPECT_TRUE(OpenHomepage());
  ASSERT_EQ(recorder.urls.size(), 1);
  EXPECT_EQ(recorder.urls[0].toString().toStdString(), version::HomepageUrl);
}

}  // namespace
}  // namespace kdl
