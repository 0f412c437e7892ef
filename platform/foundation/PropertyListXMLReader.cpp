// A reader for XML property lists. It understands exactly what property
// lists use: the XML declaration, comments, processing instructions, a
// DOCTYPE (skipped), the elements plist, dict, key, array, string, integer,
// real, true, false, date and data, character and entity references, and
// CDATA sections. Anything else is an error with its line number.
//
// Text without references is turned into strings straight from the input,
// and dictionary keys are shared through a small cache, so a typical
// document costs one allocation per value.

#include <charconv>
#include <cmath>
#include <cstring>
#include <vector>

#include "platform/foundation/Data.h"
#include "platform/foundation/Date.h"
#include "platform/foundation/Number.h"
#include "platform/foundation/PropertyListInternal.h"
#include "platform/foundation/String.h"

namespace ns::plist {

namespace {

inline bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
inline bool isNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-' || c == '.' || c == ':';
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
    return s;
}

// Shares the String objects of repeated short dictionary keys.
class KeyCache {
public:
    Ref<String> get(std::string_view k) {
        if (k.size() > 48) return String::make(k);
        size_t h = String::hashOf(k);
        Slot& s = slots_[h & (kSlots - 1)];
        if (s.hash == h && s.key && s.key->view() == k) return s.key;
        s.hash = h;
        s.key = String::make(k);
        return s.key;
    }

private:
    static constexpr size_t kSlots = 256;
    struct Slot {
        size_t hash = 0;
        Ref<String> key;
    };
    Slot slots_[kSlots];
};

class XMLReader {
public:
    XMLReader(std::string_view doc, const PropertyListReadOptions& o) : begin_(doc.data()), p_(doc.data()),
        end_(doc.data() + doc.size()), opt_(o) {}

    Ref<Object> run(Ref<Error>* error) {
        Ref<Object> root = document();
        if (!root && error) *error = error_ ? error_ : makeError(kPropertyListReadCorruptError, "unreadable");
        return root;
    }

private:
    enum class Tag { Plist, Dict, Array, Key, String, Integer, Real, True, False, Date, Data, Unknown };

    struct StartTag {
        Tag tag = Tag::Unknown;
        std::string_view name;
        bool empty = false;  // <name/>
    };

    // --- errors -------------------------------------------------------------

    Ref<Object> fail(std::string what, long code = kPropertyListReadCorruptError) {
        if (!error_) {
            size_t line = 1;
            for (const char* q = begin_; q < p_ && q < end_; ++q) line += *q == '\n';
            error_ = makeError(code, "XML property list, line " + std::to_string(line) + ": " + what);
        }
        return nullptr;
    }
    bool failed() const { return static_cast<bool>(error_); }

    // --- lexical helpers ----------------------------------------------------

    bool startsWith(std::string_view s) const {
        return static_cast<size_t>(end_ - p_) >= s.size() && std::memcmp(p_, s.data(), s.size()) == 0;
    }
    void skipSpace() {
        while (p_ < end_ && isSpace(*p_)) ++p_;
    }
    // Skips to just past `terminator`; false when it never comes.
    bool skipPast(std::string_view terminator) {
        const char* q = p_;
        while (q < end_) {
            const void* hit = std::memchr(q, terminator[0], static_cast<size_t>(end_ - q));
            if (!hit) break;
            q = static_cast<const char*>(hit);
            if (static_cast<size_t>(end_ - q) >= terminator.size() &&
                std::memcmp(q, terminator.data(), terminator.size()) == 0) {
                p_ = q + terminator.size();
                return true;
            }
            ++q;
        }
        p_ = end_;
        return false;
    }
    // White space, comments and processing instructions between elements.
    bool skipMisc() {
        for (;;) {
            skipSpace();
            if (startsWith("<!--")) {
                p_ += 4;
                if (!skipPast("-->")) return fail("unterminated comment"), false;
            } else if (startsWith("<?")) {
                p_ += 2;
                if (!skipPast("?>")) return fail("unterminated processing instruction"), false;
            } else {
                return true;
            }
        }
    }
    bool skipDoctype() {
        // <!DOCTYPE name PUBLIC "..." "..." [internal subset]>
        p_ += 9;
        char quote = 0;
        int brackets = 0;
        for (; p_ < end_; ++p_) {
            char c = *p_;
            if (quote) {
                if (c == quote) quote = 0;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '[') {
                ++brackets;
            } else if (c == ']') {
                --brackets;
            } else if (c == '>' && brackets <= 0) {
                ++p_;
                return true;
            }
        }
        return fail("unterminated DOCTYPE"), false;
    }

    static Tag tagOf(std::string_view n) {
        switch (n.size()) {
            case 3:
                if (n == "key") return Tag::Key;
                break;
            case 4:
                if (n == "dict") return Tag::Dict;
                if (n == "real") return Tag::Real;
                if (n == "true") return Tag::True;
                if (n == "date") return Tag::Date;
                if (n == "data") return Tag::Data;
                break;
            case 5:
                if (n == "plist") return Tag::Plist;
                if (n == "array") return Tag::Array;
                if (n == "false") return Tag::False;
                break;
            case 6:
                if (n == "string") return Tag::String;
                break;
            case 7:
                if (n == "integer") return Tag::Integer;
                break;
        }
        return Tag::Unknown;
    }

    // At '<' of a start tag: reads its name and skips its attributes.
    bool startTag(StartTag& t) {
        if (p_ >= end_ || *p_ != '<') return fail("expected an element"), false;
        ++p_;
        const char* n = p_;
        while (p_ < end_ && isNameChar(*p_)) ++p_;
        if (p_ == n) return fail("expected an element name"), false;
        t.name = std::string_view(n, static_cast<size_t>(p_ - n));
        t.tag = tagOf(t.name);
        for (;;) {
            if (p_ >= end_) return fail("unterminated <" + std::string(t.name) + ">"), false;
            char c = *p_;
            if (c == '>') {
                ++p_;
                t.empty = false;
                return true;
            }
            if (c == '/') {
                if (p_ + 1 < end_ && p_[1] == '>') {
                    p_ += 2;
                    t.empty = true;
                    return true;
                }
                return fail("malformed <" + std::string(t.name) + ">"), false;
            }
            if (c == '"' || c == '\'') {
                const void* close = std::memchr(p_ + 1, c, static_cast<size_t>(end_ - p_ - 1));
                if (!close) return fail("unterminated attribute value"), false;
                p_ = static_cast<const char*>(close) + 1;
                continue;
            }
            if (c == '<') return fail("malformed <" + std::string(t.name) + ">"), false;
            ++p_;
        }
    }

    // Expects "</name>" (white space allowed before '>').
    bool endTag(std::string_view name) {
        if (!startsWith("</")) return fail("expected </" + std::string(name) + ">"), false;
        p_ += 2;
        if (static_cast<size_t>(end_ - p_) < name.size() || std::memcmp(p_, name.data(), name.size()) != 0)
            return fail("expected </" + std::string(name) + ">"), false;
        p_ += name.size();
        skipSpace();
        if (p_ >= end_ || *p_ != '>') return fail("expected </" + std::string(name) + ">"), false;
        ++p_;
        return true;
    }

    // Reads the text content of an element up to its end tag, which is
    // consumed. The result points into the input when no decoding was
    // needed, else into scratch_.
    bool text(std::string_view name, std::string_view& out) {
        const char* start = p_;
        const void* lt = std::memchr(p_, '<', static_cast<size_t>(end_ - p_));
        if (!lt) return fail("unterminated <" + std::string(name) + ">"), false;
        const char* q = static_cast<const char*>(lt);
        size_t n = static_cast<size_t>(q - start);
        if (q + 1 < end_ && q[1] == '/' && !std::memchr(start, '&', n) && !std::memchr(start, '\r', n)) {
            out = std::string_view(start, n);
            p_ = q;
            return endTag(name);
        }
        // Slow path: references, CDATA, comments, carriage returns.
        scratch_.clear();
        while (p_ < end_) {
            char c = *p_;
            if (c == '<') {
                if (startsWith("</")) {
                    out = scratch_;
                    return endTag(name);
                }
                if (startsWith("<![CDATA[")) {
                    p_ += 9;
                    const char* s = p_;
                    if (!skipPast("]]>")) return fail("unterminated CDATA section"), false;
                    appendNormalised(s, p_ - 3);
                    continue;
                }
                if (startsWith("<!--")) {
                    p_ += 4;
                    if (!skipPast("-->")) return fail("unterminated comment"), false;
                    continue;
                }
                if (startsWith("<?")) {
                    p_ += 2;
                    if (!skipPast("?>")) return fail("unterminated processing instruction"), false;
                    continue;
                }
                return fail("unexpected element inside <" + std::string(name) + ">"), false;
            }
            if (c == '&') {
                if (!reference()) return false;
                continue;
            }
            const char* s = p_;
            while (p_ < end_ && *p_ != '<' && *p_ != '&') ++p_;
            appendNormalised(s, p_);
        }
        return fail("unterminated <" + std::string(name) + ">"), false;
    }

    // Appends text with line ends normalised the XML way (CR LF and CR -> LF).
    void appendNormalised(const char* s, const char* e) {
        while (s < e) {
            const void* cr = std::memchr(s, '\r', static_cast<size_t>(e - s));
            if (!cr) {
                scratch_.append(s, e);
                return;
            }
            const char* r = static_cast<const char*>(cr);
            scratch_.append(s, r);
            scratch_ += '\n';
            s = r + 1;
            if (s < e && *s == '\n') ++s;
        }
    }

    bool reference() {
        const char* semi = static_cast<const char*>(
            std::memchr(p_, ';', static_cast<size_t>(std::min<ptrdiff_t>(end_ - p_, 12))));
        if (!semi) return fail("malformed character reference"), false;
        std::string_view ref(p_ + 1, static_cast<size_t>(semi - p_ - 1));
        p_ = semi + 1;
        if (ref == "lt") scratch_ += '<';
        else if (ref == "gt") scratch_ += '>';
        else if (ref == "amp") scratch_ += '&';
        else if (ref == "quot") scratch_ += '"';
        else if (ref == "apos") scratch_ += '\'';
        else if (ref.size() >= 2 && ref[0] == '#') {
            uint32_t cp = 0;
            std::from_chars_result r;
            if (ref[1] == 'x' || ref[1] == 'X')
                r = std::from_chars(ref.data() + 2, ref.data() + ref.size(), cp, 16);
            else
                r = std::from_chars(ref.data() + 1, ref.data() + ref.size(), cp, 10);
            if (r.ec != std::errc() || r.ptr != ref.data() + ref.size() || cp > 0x10FFFF ||
                (cp >= 0xD800 && cp <= 0xDFFF))
                return fail("invalid character reference &" + std::string(ref) + ";"), false;
            appendCodePoint(scratch_, static_cast<char32_t>(cp));
        } else {
            return fail("unknown entity &" + std::string(ref) + ";"), false;
        }
        return true;
    }

    // --- structure ----------------------------------------------------------

    Ref<Object> document() {
        if (static_cast<size_t>(end_ - p_) > opt_.maxBytes)
            return fail("document larger than " + std::to_string(opt_.maxBytes) + " bytes",
                        kPropertyListReadTooLargeError);
        if (startsWith("\xEF\xBB\xBF")) p_ += 3;
        if (!validUTF8(p_, static_cast<size_t>(end_ - p_))) return fail("text is not valid UTF-8");
        for (;;) {
            if (!skipMisc()) return nullptr;
            if (startsWith("<!DOCTYPE")) {
                if (!skipDoctype()) return nullptr;
                continue;
            }
            break;
        }
        if (p_ >= end_) return fail("no property list in the document");
        StartTag t;
        if (!startTag(t)) return nullptr;
        Ref<Object> root;
        if (t.tag == Tag::Plist) {
            if (t.empty) return fail("empty <plist>");
            if (!skipMisc()) return nullptr;
            StartTag v;
            if (!startTag(v)) return nullptr;
            root = value(v, 0);
            if (!root) return nullptr;
            if (!skipMisc()) return nullptr;
            if (!endTag("plist")) return nullptr;
        } else {
            root = value(t, 0);
            if (!root) return nullptr;
        }
        if (!skipMisc()) return nullptr;
        if (p_ != end_) return fail("unexpected content after the property list");
        return root;
    }

    bool countObject() {
        if (++objects_ > opt_.maxObjects) {
            fail("more than " + std::to_string(opt_.maxObjects) + " values", kPropertyListReadTooLargeError);
            return false;
        }
        return true;
    }

    Ref<Object> value(const StartTag& t, size_t depth) {
        if (!countObject()) return nullptr;
        switch (t.tag) {
            case Tag::Dict: return dict(t, depth);
            case Tag::Array: return array(t, depth);
            case Tag::String: {
                std::string_view s;
                if (!t.empty && !text(t.name, s)) return nullptr;
                return makeString(s);
            }
            case Tag::Integer: {
                std::string_view s;
                if (t.empty || !text(t.name, s)) return failed() ? nullptr : fail("empty <integer>");
                return integer(s);
            }
            case Tag::Real: {
                std::string_view s;
                if (t.empty || !text(t.name, s)) return failed() ? nullptr : fail("empty <real>");
                return real(s);
            }
            case Tag::True:
            case Tag::False: {
                if (!t.empty) {
                    skipSpace();
                    if (!endTag(t.name)) return nullptr;
                }
                return Number::numberWithBool(t.tag == Tag::True);
            }
            case Tag::Date: {
                std::string_view s;
                if (!t.empty && !text(t.name, s)) return nullptr;
                double when;
                if (!parseDate(s, when)) return fail("malformed <date> \"" + std::string(s.substr(0, 40)) + "\"");
                return Date::dateWithTimeIntervalSinceReferenceDate(when);
            }
            case Tag::Data: {
                std::string_view s;
                if (!t.empty && !text(t.name, s)) return nullptr;
                std::string bytes;
                if (!decodeBase64(s, bytes)) return fail("malformed base64 in <data>");
                if (opt_.mutability == PropertyListMutability::MutableContainersAndLeaves) {
                    auto d = MutableData::make(bytes.size());
                    d->appendString(bytes);
                    return d;
                }
                return Data::make(bytes);
            }
            case Tag::Key: return fail("<key> outside a <dict>");
            case Tag::Plist: return fail("nested <plist>");
            case Tag::Unknown: break;
        }
        return fail("unknown element <" + std::string(t.name) + ">");
    }

    Ref<Object> makeString(std::string_view s) {
        if (opt_.mutability == PropertyListMutability::MutableContainersAndLeaves) return MutableString::make(s);
        if (s.empty()) return String::empty();
        return String::make(s);
    }

    Ref<Object> dict(const StartTag& t, size_t depth) {
        if (depth + 1 > opt_.maxDepth)
            return fail("nested deeper than " + std::to_string(opt_.maxDepth), kPropertyListReadTooDeepError);
        bool mutableResult = opt_.mutability != PropertyListMutability::Immutable;
        if (t.empty) return mutableResult ? Ref<Object>(MutableDictionary::make()) : Ref<Object>(Dictionary::make());
        if (entries_.size() <= depth) entries_.resize(depth + 1);
        // entries_[depth] is reused by every dict at this depth; take it out
        // while we fill it so nested dicts at deeper levels cannot touch it.
        std::vector<Dictionary::Entry> entries = std::move(entries_[depth]);
        entries.clear();
        for (;;) {
            if (!skipMisc()) return nullptr;
            if (startsWith("</")) {
                if (!endTag("dict")) return nullptr;
                break;
            }
            StartTag k;
            if (!startTag(k)) return nullptr;
            if (k.tag != Tag::Key) return fail("expected <key> in <dict>, found <" + std::string(k.name) + ">");
            std::string_view keyText;
            if (!k.empty && !text(k.name, keyText)) return nullptr;
            Ref<String> key = keys_.get(keyText);
            if (!skipMisc()) return nullptr;
            if (startsWith("</")) return fail("<key>" + std::string(keyText.substr(0, 40)) + "</key> has no value");
            StartTag v;
            if (!startTag(v)) return nullptr;
            Ref<Object> val = value(v, depth + 1);
            if (!val) return nullptr;
            entries.emplace_back(std::move(key), std::move(val));
        }
        Ref<Object> result;
        if (mutableResult) {
            auto d = MutableDictionary::make(entries.size());
            for (auto& e : entries) d->setObjectForKey(std::move(e.second), std::move(e.first));
            result = d;
        } else {
            std::vector<Dictionary::Entry> exact;
            exact.reserve(entries.size());
            for (auto& e : entries) exact.emplace_back(std::move(e));
            result = Dictionary::make(std::move(exact));
        }
        entries.clear();
        entries_[depth] = std::move(entries);
        return result;
    }

    Ref<Object> array(const StartTag& t, size_t depth) {
        if (depth + 1 > opt_.maxDepth)
            return fail("nested deeper than " + std::to_string(opt_.maxDepth), kPropertyListReadTooDeepError);
        bool mutableResult = opt_.mutability != PropertyListMutability::Immutable;
        if (t.empty) return mutableResult ? Ref<Object>(MutableArray::make()) : Ref<Object>(Array::make());
        if (items_.size() <= depth) items_.resize(depth + 1);
        std::vector<Ref<Object>> items = std::move(items_[depth]);
        items.clear();
        for (;;) {
            if (!skipMisc()) return nullptr;
            if (startsWith("</")) {
                if (!endTag("array")) return nullptr;
                break;
            }
            StartTag v;
            if (!startTag(v)) return nullptr;
            Ref<Object> val = value(v, depth + 1);
            if (!val) return nullptr;
            items.push_back(std::move(val));
        }
        Ref<Object> result;
        if (mutableResult) {
            auto a = MutableArray::make(items.size());
            for (auto& o : items) a->addObject(std::move(o));
            result = a;
        } else {
            result = Array::make(std::vector<Ref<Object>>(std::make_move_iterator(items.begin()),
                                                          std::make_move_iterator(items.end())));
        }
        items.clear();
        items_[depth] = std::move(items);
        return result;
    }

    Ref<Object> integer(std::string_view s) {
        std::string_view t = trim(s);
        bool negative = false;
        if (!t.empty() && (t[0] == '-' || t[0] == '+')) {
            negative = t[0] == '-';
            t.remove_prefix(1);
        }
        int base = 10;
        if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
            base = 16;
            t.remove_prefix(2);
        }
        uint64_t magnitude = 0;
        auto r = std::from_chars(t.data(), t.data() + t.size(), magnitude, base);
        if (t.empty() || r.ptr != t.data() + t.size())
            return fail("malformed <integer> \"" + std::string(s.substr(0, 40)) + "\"");
        if (r.ec == std::errc::result_out_of_range)
            return fail("<integer> out of range \"" + std::string(s.substr(0, 40)) + "\"");
        if (negative) {
            if (magnitude > (uint64_t(1) << 63))
                return fail("<integer> out of range \"" + std::string(s.substr(0, 40)) + "\"");
            return Number::numberWithLongLong(static_cast<long long>(0 - magnitude));
        }
        if (magnitude > static_cast<uint64_t>(INT64_MAX)) return Number::numberWithUnsignedLongLong(magnitude);
        return Number::numberWithLongLong(static_cast<long long>(magnitude));
    }

    Ref<Object> real(std::string_view s) {
        std::string_view t = trim(s);
        std::string lower;
        for (char c : t.substr(0, 12)) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
        if (t.size() <= 12) {
            if (lower == "nan" || lower == "+nan" || lower == "-nan")
                return Number::numberWithDouble(std::nan(""));
            if (lower == "inf" || lower == "+inf" || lower == "infinity" || lower == "+infinity")
                return Number::numberWithDouble(HUGE_VAL);
            if (lower == "-inf" || lower == "-infinity") return Number::numberWithDouble(-HUGE_VAL);
        }
        if (!t.empty() && t[0] == '+') t.remove_prefix(1);
        double v = 0;
        auto r = std::from_chars(t.data(), t.data() + t.size(), v, std::chars_format::general);
        if (t.empty() || r.ptr != t.data() + t.size() ||
            (r.ec != std::errc() && r.ec != std::errc::result_out_of_range))
            return fail("malformed <real> \"" + std::string(s.substr(0, 40)) + "\"");
        if (r.ec == std::errc::result_out_of_range) {
            // Too large becomes infinity and too small zero, as strtod does.
            v = std::strtod(std::string(t).c_str(), nullptr);
        }
        return Number::numberWithDouble(v);
    }

    const char* begin_;
    const char* p_;
    const char* end_;
    const PropertyListReadOptions& opt_;
    Ref<Error> error_;
    size_t objects_ = 0;
    std::string scratch_;
    KeyCache keys_;
    std::vector<std::vector<Dictionary::Entry>> entries_;
    std::vector<std::vector<Ref<Object>>> items_;
};

}  // namespace

Ref<Object> readXML(std::string_view bytes, const PropertyListReadOptions& options, Ref<Error>* error) {
    XMLReader reader(bytes, options);
    return reader.run(error);
}

}  // namespace ns::plist
