// Mail to the product's support and its home page, opened through the
// desktop's handlers.
#pragma once

#include <QUrl>

#include <string>

namespace kdl {

// The body's texts, in the mail's order.
struct TSupportMail {
  std::string Subject;  // product name, " ", the subject text
  std::string Body;     // with real line breaks
};

// The mail for a subject and an action text from section "Mail", with the
// body texts of that section, the product name and version and osText.
TSupportMail ComposeSupportMail(const std::string& subjectText, const std::string& actionText,
                                const std::string& osText);

// "mailto:" + address + "?subject=" + ... + "&body=" + ..., subject and body
// percent-encoded as UTF-8, so that no character of theirs ends a field.
QUrl SupportMailUrl(const std::string& address, const TSupportMail& mail);

// Opens a mail to the support address in the user's mail program.
bool SendSupportMail(const std::string& subjectText, const std::string& actionText);

bool OpenHomepage();

}  // namespace kdl
