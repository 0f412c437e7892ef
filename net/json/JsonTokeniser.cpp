#include "net/json/JsonTokeniser.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "net/json/ByteRuns.h"
#include "net/json/FJTokenScanner.h"
#include "net/json/NumberDigits.h"
#include "platform/foundation/Number.h"

namespace json {

const char* tokenName(int32_t token) {
    switch (token) {
        case JsonTokenArrayStart: return "start of array";
        case JsonTokenArrayEnd: return "end of array";
        case JsonTokenObjectStart: return "start of object";
        case JsonTokenObjectEnd: return "end of object";
        case JsonTokenValueSeparator: return "value separator";
        case JsonTokenKeyValueSeparator: return "key-value separator";
        case JsonTokenNumber: return "number";
        case JsonTokenString: return "string";
        case JsonTokenTrue:
        case JsonTokenFalse: return "boolean";
        case JsonTokenNull: return "null";
        default: return "<aaiiie!>";
    }
}

// ---------------------------------------------------------------------------
// JsonUTF8Stream

void JsonUTF8Stream::appendData(const void* bytes, size_t length) {
    if (index_) {
        data_.erase(data_.begin(), data_.begin() + static_cast<std::ptrdiff_t>(index_));
        index_ = 0;
    }
    auto* p = static_cast<const uint8_t*>(bytes);
    if (length) data_.insert(data_.end(), p, p + length);
}

bool JsonUTF8Stream::getUnichar(uint8_t* ch) const {
    if (index_ >= data_.size()) return false;
    *ch = data_[index_];
    return true;
}

bool JsonUTF8Stream::getNextUnichar(uint8_t* ch) {
    ++index_;
    return getUnichar(ch);
}

bool JsonUTF8Stream::getRetainedStringFragment(std::string_view* fragment) {
    const uint8_t* const begin = data_.data();
    const uint8_t* const end = begin + data_.size();
    const uint8_t* p = begin + index_;
    for (;;) {
        // Eight bytes at a time while none is special; a byte of 80 hex or
        // more is marked too but belongs to the run.
        p = skipPlainWords(p, end);
        if (p == end) return false;
        if (*p >= 0x80) {
            ++p;
            continue;
        }
        if (*p < 0x20 || *p == '"' || *p == '\\') break;
        ++p;
    }
    *fragment = bytesInRange(index_, static_cast<size_t>(p - begin) - index_);
    index_ = static_cast<size_t>(p - begin);
    return true;
}

void JsonUTF8Stream::skipWhitespace() {
    const uint8_t* const begin = data_.data();
    const uint8_t* const end = begin + data_.size();
    const uint8_t* p = begin + index_;
    while (p < end) {
        uint8_t c = *p;
        if (c == ' ') {
            p = skipBlanks(p + 1, end);  // indentation comes in runs of blanks
            continue;
        }
        if (c != '\t' && c != '\n' && c != '\r') break;
        ++p;
    }
    index_ = static_cast<size_t>(p - begin);
}

bool JsonUTF8Stream::skipCharactersLength(const char* word, size_t length) {
    if (!haveRemainingCharacters(length)) return false;
    if (std::memcmp(data_.data() + index_, word, length) != 0) return false;
    index_ += length;
    return true;
}

ns::Ref<ns::String> JsonUTF8Stream::stringWithRange(size_t location, size_t length) const {
    return ns::String::fromBytes(data_.data() + location, length);
}

// ---------------------------------------------------------------------------
// JsonTokeniser

namespace {

int hexValue(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
    char buf[256];
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    if (n < 0) return {};
    return std::string(buf, static_cast<size_t>(n) < sizeof buf ? static_cast<size_t>(n) : sizeof buf - 1);
}

// A byte shown in an error message. A byte from 0x80 up is part of a UTF-8
// sequence and not a character by itself; it is shown as U+FFFD so that the
// message stays valid text and depends on this byte alone.
std::string printable(uint8_t c) {
    if (c < 0x80) return std::string(1, static_cast<char>(c));
    return "\xEF\xBF\xBD";
}

}  // namespace

int32_t JsonTokeniser::getToken(ns::Ref<ns::Object>* token) {
    uint8_t c = 0;
    if (!stream_.getUnichar(&c)) return JsonTokenEOF;
    if (c <= ' ') {  // most tokens follow the last one directly
        stream_.skipWhitespace();
        if (!stream_.getUnichar(&c)) return JsonTokenEOF;
    }
    size_t start = stream_.index();
    int32_t kind;
    switch (c) {
        case '[': stream_.skip(); return JsonTokenArrayStart;
        case ']': stream_.skip(); return JsonTokenArrayEnd;
        case '{': stream_.skip(); return JsonTokenObjectStart;
        case '}': stream_.skip(); return JsonTokenObjectEnd;
        case ',': stream_.skip(); return JsonTokenValueSeparator;
        case ':': stream_.skip(); return JsonTokenKeyValueSeparator;
        case 't': return matchWord("true", 4, JsonTokenTrue);
        case 'f': return matchWord("false", 5, JsonTokenFalse);
        case 'n': return matchWord("null", 4, JsonTokenNull);
        case '"': kind = getStringToken(token); break;
        case '+':
            error_ = "Leading + is illegal in number";
            return JsonTokenError;
        default:
            if (c == '-' || isDigit(c)) {
                kind = getNumberToken(token);
                break;
            }
            error_ = "Illegal start of token [" + printable(c) + "]";
            return JsonTokenError;
    }
    if (kind == JsonTokenEOF) stream_.setIndex(start);
    return kind;
}

int32_t JsonTokeniser::matchWord(const char* word, size_t length, int32_t kind) {
    // Only the bytes present are compared: a prefix of the word waits for more
    // input, anything else is refused at once.
    std::string_view rest = stream_.remaining();
    size_t n = rest.size() < length ? rest.size() : length;
    if (std::memcmp(rest.data(), word, n) != 0) {
        error_ = format("Expected '%s' after initial '%.1s'", word, word);
        return JsonTokenError;
    }
    if (n < length) return JsonTokenEOF;
    stream_.setIndex(stream_.index() + length);
    return kind;
}

int32_t JsonTokeniser::pendingTokenKind() {
    stream_.skipWhitespace();
    uint8_t c = 0;
    if (!stream_.getUnichar(&c)) return JsonTokenEOF;
    switch (c) {
        case '"': return JsonTokenString;
        case 't': return JsonTokenTrue;
        case 'f': return JsonTokenFalse;
        case 'n': return JsonTokenNull;
        default: return JsonTokenNumber;  // '-' or a digit: nothing else waits
    }
}

int JsonTokeniser::decodeHexQuad(uint16_t* value) {
    std::string_view rest = stream_.remaining();
    uint16_t v = 0;
    for (size_t i = 0; i < 4; ++i) {
        if (i >= rest.size()) return 0;
        int h = hexValue(static_cast<uint8_t>(rest[i]));
        if (h < 0) return -1;
        v = static_cast<uint16_t>((v << 4) | h);
    }
    stream_.setIndex(stream_.index() + 4);
    *value = v;
    return 1;
}

int32_t JsonTokeniser::getStringToken(ns::Ref<ns::Object>* token) {
    stream_.skip();  // the opening quote
    std::string_view fragment;
    if (!stream_.getRetainedStringFragment(&fragment)) return JsonTokenEOF;
    if (!ns::isValidUTF8(fragment.data(), fragment.size())) {
        error_ = "Broken Unicode encoding";
        return JsonTokenError;
    }
    uint8_t c = 0;
    stream_.getUnichar(&c);
    if (c == '"') {
        // The common case: no escapes, the fragment is the whole value. A
        // text followed at once by a colon can only be an object key.
        stream_.skip();
        uint8_t after = 0;
        if (fragment.empty()) *token = ns::String::empty();
        else if (fragment.size() <= kLongestSharedKey && stream_.getUnichar(&after) && after == ':')
            *token = sharedKey(fragment);
        else *token = makeString(fragment);
        return JsonTokenString;
    }

    std::string text(fragment);
    for (;;) {
        if (!stream_.getUnichar(&c)) return JsonTokenEOF;
        if (c == '"') {
            stream_.skip();
            *token = makeString(text);
            return JsonTokenString;
        }
        if (c == '\\') {
            if (!stream_.getNextUnichar(&c)) return JsonTokenEOF;
            switch (c) {
                case '"':
                case '/':
                case '\\': text.push_back(static_cast<char>(c)); stream_.skip(); break;
                case 'b': text.push_back('\b'); stream_.skip(); break;
                case 'f': text.push_back('\f'); stream_.skip(); break;
                case 'n': text.push_back('\n'); stream_.skip(); break;
                case 'r': text.push_back('\r'); stream_.skip(); break;
                case 't': text.push_back('\t'); stream_.skip(); break;
                case 'u': {
                    stream_.skip();
                    uint16_t unit;
                    int r = decodeHexQuad(&unit);
                    if (r == 0) return JsonTokenEOF;
                    if (r < 0) {
                        error_ = "Invalid hex quad";
                        return JsonTokenError;
                    }
                    if (unit >= 0xDC00 && unit <= 0xDFFF) {
                        error_ = "Invalid high character in surrogate pair";
                        return JsonTokenError;
                    }
                    if (unit >= 0xD800 && unit <= 0xDBFF) {
                        // The low half must follow as a second escape. Wait
                        // only while the buffered bytes could still be one.
                        std::string_view rest = stream_.remaining();
                        if (rest.empty()) return JsonTokenEOF;
                        if (rest[0] != '\\' || (rest.size() > 1 && rest[1] != 'u')) {
                            error_ = "Missing low character in surrogate pair";
                            return JsonTokenError;
                        }
                        if (rest.size() < 2) return JsonTokenEOF;
                        stream_.setIndex(stream_.index() + 2);
                        uint16_t low;
                        r = decodeHexQuad(&low);
                        if (r == 0) return JsonTokenEOF;
                        if (r < 0) {
                            error_ = "Missing low character in surrogate pair";
                            return JsonTokenError;
                        }
                        if (low < 0xDC00 || low > 0xDFFF) {
                            error_ = "Invalid low character in surrogate pair";
                            return JsonTokenError;
                        }
                        char32_t cp = 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (low - 0xDC00);
                        ns::appendCodePoint(text, cp);
                    } else {
                        ns::appendCodePoint(text, unit);
                    }
                    break;
                }
                default:
                    error_ = "Illegal escape character";
                    return JsonTokenError;
            }
            continue;
        }
        if (!stream_.getRetainedStringFragment(&fragment)) return JsonTokenEOF;
        if (fragment.empty()) {
            // Neither quote nor backslash, and the fragment reader would not
            // take it: a control character. Deciding this from the reader
            // itself means the loop always moves on.
            error_ = format("Unescaped control character [0x%02X]", c);
            return JsonTokenError;
        }
        if (!ns::isValidUTF8(fragment.data(), fragment.size())) {
            error_ = "Broken Unicode encoding";
            return JsonTokenError;
        }
        text.append(fragment);
    }
}

int32_t JsonTokeniser::getNumberToken(ns::Ref<ns::Object>* token) {
    // One pass over the bytes present: the grammar, the mantissa and the
    // power of ten. A number that runs into the end of the buffer may go on
    // in the next piece, so it waits (nothing consumed).
    const uint8_t* const base = stream_.bytes();
    const uint8_t* const start = base + stream_.index();
    const uint8_t* const end = base + stream_.length();
    const uint8_t* p = start;
    const bool negative = *p == '-';
    if (negative) {
        if (++p == end) return JsonTokenEOF;
        if (!isDigit(*p)) {
            error_ = "No digits after initial minus";
            return JsonTokenError;
        }
    }
    NumberDigits n;
    if (*p == '0') {
        if (++p == end) return JsonTokenEOF;
        if (isDigit(*p)) {
            error_ = "Leading zero is illegal in number";
            return JsonTokenError;
        }
    } else {
        p = gatherDigits(p, end, n, false);
        if (p == end) return JsonTokenEOF;
    }
    bool decimal = false;
    if (*p == '.') {
        decimal = true;
        if (++p == end) return JsonTokenEOF;
        if (!isDigit(*p)) {
            error_ = "No digits after decimal point";
            return JsonTokenError;
        }
        p = gatherDigits(p, end, n, true);
        if (p == end) return JsonTokenEOF;
    }
    if (*p == 'e' || *p == 'E') {
        decimal = true;
        if (++p == end) return JsonTokenEOF;
        const bool minus = *p == '-';
        if (*p == '+' || minus) {
            if (++p == end) return JsonTokenEOF;
        }
        if (!isDigit(*p)) {
            error_ = "No digits in exponent";
            return JsonTokenError;
        }
        int e;
        p = gatherExponent(p, end, e);
        if (p == end) return JsonTokenEOF;
        n.scale += minus ? -e : e;
    }
    // The number ends at *p, which is not consumed.
    stream_.setIndex(static_cast<size_t>(p - base));
    *token = makeNumber(n, negative, decimal,
                        std::string_view(reinterpret_cast<const char*>(start), static_cast<size_t>(p - start)));
    return JsonTokenNumber;
}

namespace {
// The first reference of a value just made (count 0, seen by no other
// thread yet), given without an atomic operation.
ns::Ref<ns::Object> firstReference(ns::Object* value) {
    value->setInitialReferences(1);
    return ns::Ref<ns::Object>::adopt(value);
}
}  // namespace

ns::Ref<ns::Object> JsonTokeniser::makeNumber(const NumberDigits& n, bool negative, bool decimal,
                                              std::string_view text) {
    // Integers of fewer than 19 digits (gatherDigits stops counting at 19)
    // fit their type. A decimal keeps the token's own text: it is exact,
    // already valid JSON, and carries any exponent without narrowing it.
    if (!decimal && n.digits < 19) {
        ns::Number* number = nullptr;
        if (placesValuesInBlocks_)
            number = negative ? pool_.makeSigned(-static_cast<int64_t>(n.mantissa)) : pool_.makeUnsigned(n.mantissa);
        if (!number)
            number = negative ? new ns::Number(ns::NumberType::LongLong, -static_cast<int64_t>(n.mantissa))
                              : new ns::Number(ns::NumberType::UnsignedLongLong, n.mantissa, 0);
        return firstReference(number);
    }
    double nearest;
    if (!exactDouble(n, negative, nearest)) return ns::DecimalNumber::decimalNumberWithString(text);
    if (placesValuesInBlocks_) {
        if (ns::DecimalNumber* placed = pool_.makeDecimal(text, nearest)) return firstReference(placed);
    }
    return ns::DecimalNumber::decimalNumberWithString(text, nearest);
}

ns::Ref<ns::Object> JsonTokeniser::sharedKey(std::string_view text) {
    if (sharedKeys_.empty()) sharedKeys_.resize(kSharedKeySlots);
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    ns::Ref<ns::String>& key = sharedKeys_[FJHashBytes(bytes, text.size()) % kSharedKeySlots];
    if (!key || key->view() != text) key = ns::String::make(text);
    return key;
}

ns::Ref<ns::Object> JsonTokeniser::makeString(std::string_view text) {
    if (placesValuesInBlocks_ && FJValuePool::holds(sizeof(FJPooledString) + text.size() + 1)) {
        if (ns::String* placed = pool_.makeString(text.data(), text.size())) return firstReference(placed);
    }
    return firstReference(ns::String::allocate(text));
}

}  // namespace json
