// An outgoing e-mail and its RFC 5322 / MIME text.
//
// The text is what a mail client would hand to its server: CRLF line ends,
// header fields of printable ASCII (non-ASCII words as RFC 2047 encoded words,
// non-ASCII attachment names as RFC 2231 parameters), bodies as 7bit text when
// they are short-lined ASCII, else quoted-printable, attachments in base64.
// A message with an HTML body is multipart/alternative (a plain-text rendering
// first, then the HTML); attachments make it multipart/mixed.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"

namespace mail {

struct Attachment {
    ns::Ref<ns::Data> data;
    std::string mimeType;  // "image/png"; empty means application/octet-stream
    std::string fileName;  // UTF-8
};

struct MailMessage {
    std::string from;                     // "Name <addr>" or "addr"
    std::vector<std::string> to, cc, bcc;  // the same forms
    std::string subject;                  // UTF-8
    std::string body;                     // UTF-8
    bool isHTML = false;
    std::vector<Attachment> attachments;
    double date = 0;          // seconds since 1970; 0 means now
    std::string messageID;    // without <>; empty makes one

    // The message as RFC 5322 text. On bad input (an address or file name
    // with line breaks or control characters, an address with non-ASCII
    // characters, no recipient at all, a MIME type that is not
    // "type/subtype", more than kMaxAttachmentBytes of attachments) returns nullopt and sets *error (MailErrorDomain).
    std::optional<std::string> render(ns::Ref<ns::Error>* error = nullptr) const;
};

inline constexpr const char* kMailErrorDomain = "MailErrorDomain";
inline constexpr long kMailErrorBadAddress = 1;
inline constexpr long kMailErrorNoRecipients = 2;
inline constexpr long kMailErrorTooLarge = 3;
inline constexpr long kMailErrorBadFileName = 4;
inline constexpr long kMailErrorBadType = 5;
inline constexpr size_t kMaxAttachmentBytes = 25u << 20;

// Encoders, exposed for tests.
// A header's unstructured text: ASCII text as is, otherwise RFC 2047 "B"
// encoded words of UTF-8 (each at most 75 characters, never splitting a
// character), separated by folding white space. `used` is the length of the
// header line before the text (for folding).
std::string encodeHeaderText(std::string_view utf8, size_t used);
// Quoted-printable (RFC 2045 section 6.7) of UTF-8 text with CRLF line ends;
// lines at most 76 characters.
std::string encodeQuotedPrintable(std::string_view text);
// Base64 in lines of 76 characters, each ending in CRLF.
std::string encodeBase64Lines(std::string_view bytes);
// An RFC 5322 date: "Mon, 07 Dec 2026 08:00:00 +0000".
std::string formatDate(double secondsSince1970);

}  // namespace mail
