// HTML to readable text for the text screen, and link extraction. A small,
// forgiving scanner: it never fails, it only reads.
#include <cstring>
#include <string>
#include <vector>

#include "platform/foundation/String.h"
#include "platform/ui/WebView.h"

namespace ui {

namespace {

struct Entity { const char* name; char32_t cp; };
const Entity kEntities[] = {
    {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}, {"nbsp", 0xA0},
    {"copy", 0xA9}, {"reg", 0xAE}, {"trade", 0x2122}, {"hellip", 0x2026}, {"mdash", 0x2014},
    {"ndash", 0x2013}, {"lsquo", 0x2018}, {"rsquo", 0x2019}, {"ldquo", 0x201C}, {"rdquo", 0x201D},
    {"bull", 0x2022}, {"middot", 0xB7}, {"laquo", 0xAB}, {"raquo", 0xBB}, {"euro", 0x20AC},
    {"pound", 0xA3}, {"deg", 0xB0}, {"aacute", 0xE1}, {"eacute", 0xE9}, {"iacute", 0xED},
    {"oacute", 0xF3}, {"uacute", 0xFA}, {"ntilde", 0xF1}, {"Aacute", 0xC1}, {"Eacute", 0xC9},
    {"Iacute", 0xCD}, {"Oacute", 0xD3}, {"Uacute", 0xDA}, {"Ntilde", 0xD1}, {"uuml", 0xFC},
    {"ouml", 0xF6}, {"auml", 0xE4}, {"szlig", 0xDF}, {"iquest", 0xBF}, {"iexcl", 0xA1},
    {"ccedil", 0xE7}, {"egrave", 0xE8}, {"agrave", 0xE0}, {"times", 0xD7},
};

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

char lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

bool startsWithNoCase(std::string_view s, size_t at, std::string_view what) {
    if (at + what.size() > s.size()) return false;
    for (size_t i = 0; i < what.size(); ++i)
        if (lower(s[at + i]) != what[i]) return false;
    return true;
}

// Block-level tags put their content on a line of its own.
bool isBlock(const std::string& tag) {
    static const char* blocks[] = {"p", "div", "br", "h1", "h2", "h3", "h4", "h5", "h6", "li", "ul", "ol",
                                   "tr", "table", "blockquote", "hr", "section", "article", "header",
                                   "footer", "dt", "dd", "dl", "pre", "center", "title", "body"};
    for (auto* b : blocks)
        if (tag == b) return true;
    return false;
}

struct Tag {
    std::string name;  // lower case, without "/"
    bool closing = false;
    std::string raw;   // the text between < and >
};

// Reads a tag starting at s[i] == '<'; returns the index after '>' (or the
// end of the text for an unterminated tag).
size_t readTag(std::string_view s, size_t i, Tag& tag) {
    size_t end = s.find('>', i + 1);
    if (end == std::string_view::npos) end = s.size();
    tag.raw = std::string(s.substr(i + 1, end - i - 1));
    size_t k = 0;
    while (k < tag.raw.size() && isSpace(tag.raw[k])) ++k;
    if (k < tag.raw.size() && tag.raw[k] == '/') { tag.closing = true; ++k; }
    size_t start = k;
    while (k < tag.raw.size() && !isSpace(tag.raw[k]) && tag.raw[k] != '/' && tag.raw[k] != '>') ++k;
    tag.name.clear();
    for (size_t j = start; j < k; ++j) tag.name += lower(tag.raw[j]);
    return end < s.size() ? end + 1 : end;
}

// The value of attribute `name` inside a tag's raw text ("" when absent).
std::string attribute(const std::string& raw, std::string_view name) {
    size_t i = 0;
    while (i < raw.size()) {
        if (startsWithNoCase(raw, i, name) && (i == 0 || isSpace(raw[i - 1]))) {
            size_t k = i + name.size();
            while (k < raw.size() && isSpace(raw[k])) ++k;
            if (k < raw.size() && raw[k] == '=') {
                ++k;
                while (k < raw.size() && isSpace(raw[k])) ++k;
                if (k < raw.size() && (raw[k] == '"' || raw[k] == '\'')) {
                    char q = raw[k];
                    size_t e = raw.find(q, k + 1);
                    if (e == std::string::npos) e = raw.size();
                    return decodeEntities(std::string_view(raw).substr(k + 1, e - k - 1));
                }
                size_t e = k;
                while (e < raw.size() && !isSpace(raw[e])) ++e;
                return decodeEntities(std::string_view(raw).substr(k, e - k));
            }
        }
        ++i;
    }
    return {};
}

// Collapses runs of blanks to one space, trims each line and drops empty
// lines.
std::string tidy(const std::string& text) {
    std::vector<std::string> lines;
    std::string cur;
    bool space = false;
    for (char c : text) {
        if (c == '\n') {
            lines.push_back(cur);
            cur.clear();
            space = false;
        } else if (isSpace(c)) {
            space = !cur.empty();
        } else {
            if (space) cur += ' ';
            space = false;
            cur += c;
        }
    }
    lines.push_back(cur);
    std::string out;
    for (auto& l : lines) {
        if (l.empty()) continue;
        out += l;
        out += '\n';
    }
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

}  // namespace

std::string decodeEntities(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        if (s[i] != '&') { out += s[i++]; continue; }
        size_t semi = s.find(';', i + 1);
        if (semi == std::string_view::npos || semi - i > 12) { out += s[i++]; continue; }
        std::string_view name = s.substr(i + 1, semi - i - 1);
        char32_t cp = 0;
        bool ok = false;
        if (!name.empty() && name[0] == '#') {
            bool hex = name.size() > 1 && (name[1] == 'x' || name[1] == 'X');
            std::string_view digits = name.substr(hex ? 2 : 1);
            if (!digits.empty()) {
                ok = true;
                uint32_t v = 0;
                for (char c : digits) {
                    int d = (c >= '0' && c <= '9') ? c - '0'
                            : hex && (c >= 'a' && c <= 'f') ? c - 'a' + 10
                            : hex && (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
                    if (d < 0) { ok = false; break; }
                    v = v * (hex ? 16 : 10) + uint32_t(d);
                    if (v > 0x10FFFF) { ok = false; break; }
                }
                cp = v;
                if (cp == 0 || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
            }
        } else {
            for (auto& e : kEntities)
                if (name == e.name) { cp = e.cp; ok = true; break; }
        }
        if (!ok) { out += s[i++]; continue; }
        if (cp == 0xA0) out += ' ';
        else ns::appendCodePoint(out, cp);
        i = semi + 1;
    }
    return out;
}

std::string htmlToText(std::string_view html) {
    std::string out;
    size_t i = 0;
    while (i < html.size()) {
        char c = html[i];
        if (c == '<') {
            if (html.compare(i, 4, "<!--") == 0) {
                size_t e = html.find("-->", i + 4);
                i = e == std::string_view::npos ? html.size() : e + 3;
                continue;
            }
            Tag tag;
            size_t next = readTag(html, i, tag);
            if (!tag.closing && (tag.name == "script" || tag.name == "style" || tag.name == "head")) {
                // Skip to the matching closing tag.
                std::string close = "</" + tag.name;
                size_t e = next;
                while (e < html.size() && !startsWithNoCase(html, e, close)) ++e;
                if (e < html.size()) {
                    Tag t2;
                    e = readTag(html, e, t2);
                }
                i = e;
                continue;
            }
            if (tag.name == "a" && !tag.closing) out += '[';
            else if (tag.name == "a" && tag.closing) out += ']';
            else if (tag.name == "li" && !tag.closing) out += "\n- ";
            else if (tag.name == "img" && !tag.closing) {
                std::string alt = attribute(tag.raw, "alt");
                if (!alt.empty()) out += "(" + alt + ")";
            } else if (tag.name == "td" || tag.name == "th") out += ' ';
            else if (isBlock(tag.name)) out += '\n';
            i = next;
            continue;
        }
        size_t next = html.find('<', i);
        if (next == std::string_view::npos) next = html.size();
        out += decodeEntities(html.substr(i, next - i));
        i = next;
    }
    return tidy(out);
}

std::vector<WebLink> htmlLinks(std::string_view html) {
    std::vector<WebLink> links;
    size_t i = 0;
    while (i < html.size()) {
        size_t lt = html.find('<', i);
        if (lt == std::string_view::npos) break;
        Tag tag;
        size_t next = readTag(html, lt, tag);
        if (tag.name == "a" && !tag.closing) {
            WebLink link;
            link.href = attribute(tag.raw, "href");
            size_t close = next;
            while (close < html.size() && !startsWithNoCase(html, close, "</a")) ++close;
            link.text = htmlToText(html.substr(next, close - next));
            for (auto& ch : link.text)
                if (ch == '\n') ch = ' ';
            if (!link.href.empty()) links.push_back(std::move(link));
            next = close;
        }
        i = next > lt ? next : lt + 1;
    }
    return links;
}

namespace {
// A decimal number of pixels at s[at] ("13", "13.5", blanks before it),
// followed by "px"; 0 when there is none.
double pixelsAt(std::string_view s, size_t at) {
    while (at < s.size() && isSpace(s[at])) ++at;
    size_t from = at;
    while (at < s.size() && ((s[at] >= '0' && s[at] <= '9') || s[at] == '.')) ++at;
    if (at == from || !startsWithNoCase(s, at, "px")) return 0;
    // The whole number or nothing: "1.2.3px" is no size (not 1.2).
    std::string number(s.substr(from, at - from));
    try {
        size_t used = 0;
        double px = std::stod(number, &used);
        return used == number.size() ? px : 0;
    } catch (...) {
        return 0;
    }
}
}  // namespace

double bodyTagFontSize(std::string_view html) {
    size_t i = 0;
    while (i < html.size()) {
        size_t lt = html.find('<', i);
        if (lt == std::string_view::npos) break;
        Tag tag;
        size_t next = readTag(html, lt, tag);
        if (tag.name == "body" && !tag.closing) {
            std::string style = attribute(tag.raw, "style");
            for (size_t k = 0; k < style.size(); ++k) {
                if (!startsWithNoCase(style, k, "font-size")) continue;
                size_t colon = k + 9;
                while (colon < style.size() && isSpace(style[colon])) ++colon;
                return colon < style.size() && style[colon] == ':' ? pixelsAt(style, colon + 1) : 0;
            }
            return 0;
        }
        i = next > lt ? next : lt + 1;
    }
    return 0;
}

double scriptBodyFontSize(std::string_view script) {
    // Blanks do not matter to the script; quotes may be single or double.
    std::string s;
    for (char c : script)
        if (!isSpace(c)) s += c == '"' ? '\'' : c;
    for (const char* target : {"document.body.style.fontSize=", "document.getElementsByTagName('body')[0].style.fontSize="}) {
        size_t at = s.find(target);
        if (at == std::string::npos) continue;
        at += std::strlen(target);
        if (at < s.size() && s[at] == '\'') ++at;
        return pixelsAt(s, at);
    }
    return 0;
}

}  // namespace ui
