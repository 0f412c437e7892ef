#include "platform/mail/MailMessage.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <random>

#include "platform/ui/WebView.h"

namespace mail {

namespace {

bool isASCII(std::string_view s) {
    for (unsigned char c : s)
        if (c >= 0x80) return false;
    return true;
}

bool hasControl(std::string_view s) {
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7F) return true;
    return false;
}

std::string randomToken(size_t n) {
    static const char alphabet[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::random_device rd;
    std::string out;
    for (size_t i = 0; i < n; ++i) out += alphabet[rd() % 36];
    return out;
}

const char kB64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string base64(std::string_view in) {
    std::string out;
    out.reserve((in.size() + 2) / 3 * 4);
    size_t i = 0;
    auto b = [&](size_t k) { return static_cast<unsigned char>(in[k]); };
    for (; i + 2 < in.size(); i += 3) {
        unsigned v = (b(i) << 16) | (b(i + 1) << 8) | b(i + 2);
        out += kB64[v >> 18];
        out += kB64[(v >> 12) & 63];
        out += kB64[(v >> 6) & 63];
        out += kB64[v & 63];
    }
    if (i + 1 == in.size()) {
        unsigned v = b(i) << 16;
        out += kB64[v >> 18];
        out += kB64[(v >> 12) & 63];
        out += "==";
    } else if (i + 2 == in.size()) {
        unsigned v = (b(i) << 16) | (b(i + 1) << 8);
        out += kB64[v >> 18];
        out += kB64[(v >> 12) & 63];
        out += kB64[(v >> 6) & 63];
        out += '=';
    }
    return out;
}

// Length of the UTF-8 character starting with byte c.
size_t charLength(unsigned char c) {
    if (c >= 0xF0) return 4;
    if (c >= 0xE0) return 3;
    if (c >= 0xC0) return 2;
    return 1;
}

// Splits "Name <addr>" into its parts; plain "addr" has no name.
struct Address {
    std::string name, addr;
};

std::optional<Address> parseAddress(std::string_view text) {
    std::string s(text);
    // Trim.
    size_t a = s.find_first_not_of(" \t"), b = s.find_last_not_of(" \t");
    if (a == std::string::npos) return std::nullopt;
    s = s.substr(a, b - a + 1);
    if (hasControl(s)) return std::nullopt;
    Address out;
    size_t lt = s.rfind('<');
    if (lt != std::string::npos && s.back() == '>') {
        out.addr = s.substr(lt + 1, s.size() - lt - 2);
        out.name = s.substr(0, lt);
        size_t e = out.name.find_last_not_of(" \t");
        out.name = e == std::string::npos ? std::string() : out.name.substr(0, e + 1);
        if (out.name.size() >= 2 && out.name.front() == '"' && out.name.back() == '"') {
            // A quoted name: its quoted pairs ("\"", "\\") stand for the
            // character after the backslash; the name is quoted again when
            // it is written.
            std::string inner;
            for (size_t i = 1; i + 1 < out.name.size(); ++i) {
                if (out.name[i] == '\\' && i + 2 < out.name.size()) ++i;
                inner += out.name[i];
            }
            out.name = inner;
        }
    } else {
        out.addr = s;
    }
    // The address itself: ASCII, one "@", no blanks or angle brackets.
    if (out.addr.empty() || out.addr.size() > 254 || !isASCII(out.addr)) return std::nullopt;
    size_t at = out.addr.find('@');
    if (at == std::string::npos || at == 0 || at + 1 == out.addr.size() || out.addr.find('@', at + 1) != std::string::npos)
        return std::nullopt;
    for (char c : out.addr)
        if (c == ' ' || c == '\t' || c == '<' || c == '>' || c == ',' || c == '"' || c == '(' || c == ')')
            return std::nullopt;
    return out;
}

// A display name as a phrase: atoms as they are, other short ASCII quoted,
// non-ASCII or long names as encoded words (which fold).
std::string forceEncoded(const std::string& name);
// Text with "=?" could be read as an encoded word by the reader, so it is
// written as one.
bool looksEncoded(std::string_view s) { return s.find("=?") != std::string_view::npos; }

std::string phrase(const std::string& name, size_t used) {
    if (!isASCII(name) || name.size() > 60 || looksEncoded(name)) return forceEncoded(name);
    bool atom = true;
    for (char c : name)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == ' ' || std::string_view("!#$%&'*+-/=?^_`{|}~").find(c) != std::string_view::npos))
            atom = false;
    if (atom) return name;
    std::string q = "\"";
    for (char c : name) {
        if (c == '"' || c == '\\') q += '\\';
        q += c;
    }
    return q + "\"";
}

// "Field: a, b, c" folded before an address when the line would pass 78.
bool addressHeader(std::string& out, const char* field, const std::vector<std::string>& list, ns::Ref<ns::Error>* error) {
    if (list.empty()) return true;
    std::string line = std::string(field) + ": ";
    size_t lineLen = line.size();
    std::string text = line;
    for (size_t i = 0; i < list.size(); ++i) {
        auto a = parseAddress(list[i]);
        if (!a) {
            // Said so that the user knows what to correct. Addresses are
            // written as ASCII only (no RFC 6532 header), so one with other
            // characters is refused rather than written damaged.
            std::string shown = list[i];
            for (char& c : shown)
                if (c == '\r' || c == '\n' || c == '\t') c = ' ';
            std::string_view addrPart = list[i];
            if (size_t lt = addrPart.rfind('<'); lt != std::string_view::npos && addrPart.back() == '>')
                addrPart = addrPart.substr(lt);
            if (error)
                *error = ns::Error::withDescription(
                    kMailErrorDomain, kMailErrorBadAddress,
                    isASCII(addrPart) ? "\u201C" + shown + "\u201D is not a valid e-mail address."
                                     : "The address \u201C" + shown +
                                           "\u201D cannot be used: only addresses written in ASCII can be sent.");
            return false;
        }
        std::string item = a->name.empty() ? a->addr : phrase(a->name, lineLen) + " <" + a->addr + ">";
        if (i + 1 < list.size()) item += ",";
        size_t firstLine = item.find("\r\n");
        size_t itemFirst = firstLine == std::string::npos ? item.size() : firstLine;
        if (i > 0 && lineLen + 1 + itemFirst > 78) {
            text += "\r\n ";
            lineLen = 1;
        } else if (i > 0) {
            text += ' ';
            lineLen += 1;
        }
        text += item;
        size_t lastBreak = item.rfind("\r\n");
        lineLen = lastBreak == std::string::npos ? lineLen + item.size() : item.size() - lastBreak - 2;
    }
    out += text + "\r\n";
    return true;
}

// A body part: 7bit when it is short-lined ASCII, else quoted-printable.
std::string textPart(const std::string& subtype, const std::string& text) {
    std::string crlf;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        if (text[i] == '\n' || text[i] == '\r') crlf += "\r\n";
        else crlf += text[i];
    }
    bool plain = isASCII(crlf);
    size_t lineLen = 0;
    for (char c : crlf) {
        if (c == '\n') lineLen = 0;
        else if (++lineLen > 76) plain = false;
        if (c != '\r' && c != '\n' && c != '\t' && (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)) plain = false;
    }
    // A line that is just "." or starts with "From " survives transport
    // only encoded; the first and the last line count too (the part's
    // headers end in a line break and the part itself ends in one).
    const std::string framed = "\r\n" + crlf + "\r\n";
    if (framed.find("\r\n.\r\n") != std::string::npos || framed.find("\r\nFrom ") != std::string::npos)
        plain = false;
    std::string out = "Content-Type: text/" + subtype + "; charset=utf-8\r\n";
    if (plain) {
        out += "Content-Transfer-Encoding: 7bit\r\n\r\n" + crlf;
    } else {
        out += "Content-Transfer-Encoding: quoted-printable\r\n\r\n" + encodeQuotedPrintable(crlf);
    }
    if (out.size() < 2 || out.compare(out.size() - 2, 2, "\r\n") != 0) out += "\r\n";
    return out;
}

// A MIME parameter: name="value" for short ASCII, otherwise the RFC 2231
// extended form, split into numbered sections on folded lines so that no
// line grows past 78 characters (a %XX triplet is never split).
std::string parameter(const std::string& name, const std::string& value) {
    bool simple = isASCII(value) && !hasControl(value) && value.size() <= 40 &&
                  value.find_first_of("\"\\") == std::string::npos && !looksEncoded(value);
    if (simple) return name + "=\"" + value + "\"";
    static const char hex[] = "0123456789ABCDEF";
    std::vector<std::string> pieces;  // one character or triplet each
    for (unsigned char c : value) {
        if (std::isalnum(c) || std::string_view("!#$&+-.^_`|~").find(char(c)) != std::string_view::npos)
            pieces.push_back(std::string(1, char(c)));
        else
            pieces.push_back(std::string("%") + hex[c >> 4] + hex[c & 15]);
    }
    std::string out;
    std::string section = "utf-8''";
    int n = 0;
    auto flush = [&] {
        if (!out.empty()) out += ";\r\n ";
        out += name + "*" + std::to_string(n++) + "*=" + section;
        section.clear();
    };
    for (auto& p : pieces) {
        if (section.size() + p.size() > 48) flush();
        section += p;
    }
    if (!section.empty() || n == 0) flush();
    return out;
}

}  // namespace

namespace {
bool hasLongWord(std::string_view s, size_t limit) {
    size_t run = 0;
    for (char c : s) {
        run = c == ' ' ? 0 : run + 1;
        if (run > limit) return true;
    }
    return false;
}
}  // namespace

std::string encodeHeaderText(std::string_view utf8, size_t used) {
    // Plain text when it is printable ASCII in words that fit a line; other
    // text as encoded words, which can be folded anywhere.
    if (isASCII(utf8) && !hasControl(utf8) && !hasLongWord(utf8, 70) && !looksEncoded(utf8)) {
        // Plain text: fold at blanks to keep lines near 78 characters.
        std::string out;
        size_t lineLen = used;
        size_t i = 0;
        while (i < utf8.size()) {
            size_t sp = utf8.find(' ', i + 1);
            if (sp == std::string_view::npos) sp = utf8.size();
            std::string_view word = utf8.substr(i, sp - i);
            if (lineLen + word.size() > 78 && !out.empty() && word.front() == ' ') {
                out += "\r\n";
                lineLen = 0;
            }
            out += word;
            lineLen += word.size();
            i = sp;
        }
        return out;
    }
    return forceEncoded(std::string(utf8));
}

namespace {
// Encoded words: "=?utf-8?B?" + base64 + "?=" at most 75 characters, so at
// most 45 bytes of text per word, cut at character boundaries.
std::string forceEncoded(const std::string& utf8) {
    std::string clean;
    for (unsigned char c : utf8) clean += (c < 0x20 || c == 0x7F) ? ' ' : char(c);
    std::string out;
    size_t i = 0;
    bool first = true;
    while (i < clean.size()) {
        size_t n = 0;
        while (i + n < clean.size()) {
            size_t len = charLength(static_cast<unsigned char>(clean[i + n]));
            if (n + len > 45) break;
            n += len;
        }
        if (n == 0) n = std::min(clean.size() - i, size_t(4));
        if (!first) out += "\r\n ";
        out += "=?utf-8?B?" + base64(std::string_view(clean).substr(i, n)) + "?=";
        first = false;
        i += n;
    }
    return out;
}
}  // namespace

std::string encodeQuotedPrintable(std::string_view text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    size_t lineLen = 0;
    auto emit = [&](const std::string& piece) {
        if (lineLen + piece.size() > 75) {
            out += "=\r\n";
            lineLen = 0;
        }
        out += piece;
        lineLen += piece.size();
    };
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            // Trailing blanks before a line end must be encoded.
            if (!out.empty() && (out.back() == ' ' || out.back() == '\t')) {
                char last = out.back();
                out.pop_back();
                --lineLen;
                emit(std::string("=") + hex[(unsigned char)last >> 4] + hex[(unsigned char)last & 15]);
            }
            out += "\r\n";
            lineLen = 0;
            ++i;
            continue;
        }
        bool literal = (c >= 33 && c <= 126 && c != '=') || c == ' ' || c == '\t';
        // A leading "." or "From " is encoded so transports leave it alone,
        // also where a soft line break is about to start a line with it.
        bool startsLine = lineLen == 0 || lineLen + 1 > 75;
        if (startsLine && (c == '.' || (c == 'F' && text.substr(i, 5) == "From "))) literal = false;
        if (literal) emit(std::string(1, char(c)));
        else {
            // Keep a character's bytes together on one line.
            size_t len = c >= 0xC0 ? charLength(c) : 1;
            std::string piece;
            for (size_t k = 0; k < len && i + k < text.size(); ++k) {
                unsigned char b = static_cast<unsigned char>(text[i + k]);
                piece += '=';
                piece += hex[b >> 4];
                piece += hex[b & 15];
            }
            emit(piece);
            i += len - 1;
        }
    }
    // A blank at the very end is encoded too, on a line that stays short.
    if (!out.empty() && (out.back() == ' ' || out.back() == '\t')) {
        char last = out.back();
        out.pop_back();
        --lineLen;
        emit(std::string("=") + hex[(unsigned char)last >> 4] + hex[(unsigned char)last & 15]);
    }
    return out;
}

std::string encodeBase64Lines(std::string_view bytes) {
    std::string all = base64(bytes);
    std::string out;
    for (size_t i = 0; i < all.size(); i += 76) out += all.substr(i, 76) + "\r\n";
    return out;
}

std::string formatDate(double t) {
    std::time_t secs = static_cast<std::time_t>(t);
    std::tm tm{};
    gmtime_r(&secs, &tm);
    static const char* days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s, %02d %s %04d %02d:%02d:%02d +0000", days[tm.tm_wday], tm.tm_mday,
                  months[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

std::optional<std::string> MailMessage::render(ns::Ref<ns::Error>* error) const {
    if (to.empty() && cc.empty() && bcc.empty()) {
        if (error) *error = ns::Error::withDescription(kMailErrorDomain, kMailErrorNoRecipients, "The message has no recipient.");
        return std::nullopt;
    }
    size_t total = 0;
    for (auto& a : attachments) {
        total += a.data ? a.data->length() : 0;
        if (hasControl(a.fileName) || a.fileName.find('/') != std::string::npos || hasControl(a.mimeType)) {
            if (error)
                *error = ns::Error::withDescription(kMailErrorDomain, kMailErrorBadFileName,
                                                    "not a usable attachment name: " + a.fileName);
            return std::nullopt;
        }
    }
    for (auto& a : attachments) {
        if (a.mimeType.empty()) continue;
        // type "/" subtype, both RFC 2045 tokens, and short.
        size_t slash = a.mimeType.find('/');
        bool ok = a.mimeType.size() <= 127 && slash != std::string::npos && slash > 0 && slash + 1 < a.mimeType.size();
        for (size_t i = 0; ok && i < a.mimeType.size(); ++i) {
            unsigned char c = static_cast<unsigned char>(a.mimeType[i]);
            if (i == slash) continue;
            ok = c > 0x20 && c < 0x7F && std::string_view("()<>@,;:\\\"/[]?=").find(char(c)) == std::string_view::npos;
        }
        if (!ok) {
            if (error) *error = ns::Error::withDescription(kMailErrorDomain, kMailErrorBadType, "not a MIME type: " + a.mimeType);
            return std::nullopt;
        }
    }
    if (total > kMaxAttachmentBytes) {
        if (error) *error = ns::Error::withDescription(kMailErrorDomain, kMailErrorTooLarge, "The attachments are too large.");
        return std::nullopt;
    }

    std::string out;
    if (!addressHeader(out, "From", {from.empty() ? std::string("user@localhost") : from}, error)) return std::nullopt;
    if (!addressHeader(out, "To", to, error)) return std::nullopt;
    if (!addressHeader(out, "Cc", cc, error)) return std::nullopt;
    // The outbox copy keeps Bcc so that the message can be delivered; a
    // transport removes it before sending.
    if (!addressHeader(out, "Bcc", bcc, error)) return std::nullopt;
    out += "Subject: " + encodeHeaderText(subject, 9) + "\r\n";
    double when = date;
    if (when == 0)
        when = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    out += "Date: " + formatDate(when) + "\r\n";
    std::string id = messageID;
    bool idOk = !id.empty() && isASCII(id) && !hasControl(id) && id.find_first_of("<> ") == std::string::npos;
    if (!idOk) id = randomToken(24) + "@localhost";
    out += "Message-ID: <" + id + ">\r\n";
    out += "MIME-Version: 1.0\r\n";

    // A boundary that the text it separates does not contain.
    std::string everything = body + subject;
    auto boundary = [&] {
        std::string b;
        do b = "=_deck_" + randomToken(28);
        while (everything.find(b) != std::string::npos);
        return b;
    };
    std::string bodyPart;
    if (isHTML) {
        std::string b = boundary();
        bodyPart = "Content-Type: multipart/alternative; boundary=\"" + b + "\"\r\n\r\n";
        bodyPart += "--" + b + "\r\n" + textPart("plain", ui::htmlToText(body));
        bodyPart += "--" + b + "\r\n" + textPart("html", body);
        bodyPart += "--" + b + "--\r\n";
    } else {
        bodyPart = textPart("plain", body);
    }
    if (attachments.empty()) {
        out += bodyPart;
        return out;
    }
    std::string b = boundary();
    out += "Content-Type: multipart/mixed; boundary=\"" + b + "\"\r\n\r\n";
    out += "This is a message in MIME format.\r\n";
    out += "--" + b + "\r\n" + bodyPart;
    for (auto& a : attachments) {
        std::string type = a.mimeType.empty() ? "application/octet-stream" : a.mimeType;
        std::string name = a.fileName.empty() ? "attachment" : a.fileName;
        out += "--" + b + "\r\n";
        out += "Content-Type: " + type + ";\r\n " + parameter("name", name) + "\r\n";
        out += "Content-Disposition: attachment;\r\n " + parameter("filename", name) + "\r\n";
        out += "Content-Transfer-Encoding: base64\r\n\r\n";
        out += encodeBase64Lines(a.data ? a.data->view() : std::string_view());
    }
    out += "--" + b + "--\r\n";
    return out;
}

}  // namespace mail
