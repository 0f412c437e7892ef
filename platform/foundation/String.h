// Text objects. Stored as UTF-8; lengths, indexes and ranges are counted in
// UTF-16 code units, as callers that count characters expect. Operations that
// cut text never split a surrogate pair: a cut point inside a pair moves to
// the pair's start, so a cut result never exceeds the length asked for.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Object.h"

namespace ns {

class Array;

struct Range {
    size_t location = 0;
    size_t length = 0;
    size_t end() const { return location + length; }
    bool operator==(const Range& o) const { return location == o.location && length == o.length; }
};
inline constexpr size_t NotFound = static_cast<size_t>(-1);

enum CompareOptions : unsigned {
    CaseInsensitiveSearch = 1,
    LiteralSearch = 2,
    BackwardsSearch = 4,
    AnchoredSearch = 8,
};

enum class ComparisonResult { Ascending = -1, Same = 0, Descending = 1 };

// An immutable string is one allocation: its text (NUL-terminated) follows
// the object in the same block.
class String : public Object {
public:
    const char* className() const override { return "String"; }
    std::string description() const override { return std::string(view()); }
    bool isEqual(const Object& other) const override;
    size_t hash() const override { return hashOf(view()); }
    static size_t hashOf(std::string_view utf8) { return std::hash<std::string_view>()(utf8); }

    // Factories. `make` takes UTF-8 as given (callers hand in valid text);
    // `fromBytes` checks it and answers nil for malformed input.
    static Ref<String> make(std::string_view utf8) { return Ref<String>(allocate(utf8)); }
    static Ref<String> make(const char* utf8) { return make(std::string_view(utf8 ? utf8 : "")); }
    static Ref<String> fromBytes(const void* bytes, size_t length);
    static Ref<String> fromUTF16(std::u16string_view units);
    static Ref<String> empty();
    // A new string at count 0, for factories that give it its first
    // references themselves (see Object::setInitialReferences).
    static String* allocate(std::string_view utf8);

    std::string_view utf8() const { return {chars_, length_}; }
    std::string_view view() const { return {chars_, length_}; }
    const char* c_str() const { return chars_; }  // always NUL-terminated
    bool isEmpty() const { return length_ == 0; }

    // UTF-16 view.
    size_t length() const;
    uint16_t characterAtIndex(size_t index) const;  // throws RangeException past the end
    std::u16string utf16() const;

    Ref<String> substringWithRange(Range r) const;  // clamps to the text
    Ref<String> substringFromIndex(size_t index) const;
    Ref<String> substringToIndex(size_t index) const;

    bool isEqualToString(std::string_view s) const { return view() == s; }
    bool hasPrefix(std::string_view s) const;
    bool hasSuffix(std::string_view s) const;
    Range rangeOfString(std::string_view s, unsigned options = 0) const;
    bool containsString(std::string_view s, unsigned options = 0) const {
        return rangeOfString(s, options).location != NotFound;
    }
    ComparisonResult compare(const String& other, unsigned options = 0) const;
    ComparisonResult caseInsensitiveCompare(const String& other) const {
        return compare(other, CaseInsensitiveSearch);
    }

    Ref<String> lowercaseString() const;
    Ref<String> uppercaseString() const;
    Ref<String> stringByReplacingOccurrencesOfString(std::string_view target,
                                                     std::string_view replacement) const;
    Ref<String> stringByAppendingString(std::string_view s) const;
    Ref<String> stringByTrimmingWhitespace() const;
    Ref<Array> componentsSeparatedByString(std::string_view separator) const;

    // Leading numeric value the way text fields and property lists read it:
    // leading blanks skipped, digits read as far as they go, 0 when none.
    int intValue() const;
    long long longLongValue() const;
    double doubleValue() const;
    bool boolValue() const;  // "Y", "y", "T", "t" or a non-zero number

    // Path helpers for file names kept as text.
    Ref<String> lastPathComponent() const;
    Ref<String> pathExtension() const;
    Ref<String> stringByDeletingLastPathComponent() const;
    Ref<String> stringByDeletingPathExtension() const;
    Ref<String> stringByAppendingPathComponent(std::string_view component) const;

    // Places a string of class T (constructed from the text's address and
    // length) and its text in one block from `memory`, which has room for
    // sizeof(T) + text.size() + 1 bytes; the new string is at count 0.
    template <class T>
    static T* placeWithText(void* memory, std::string_view text);
    // The block of a string made by allocate() holds its text too.
    static void operator delete(void* p) { ::operator delete(p); }
    // Paired with the delete above, so that `new` and `delete` of this class
    // always meet the same allocator; the placement form places into a block
    // made by ::operator new.
    static void* operator new(size_t size) { return ::operator new(size); }
    static void* operator new(size_t, void* where) noexcept { return where; }

protected:
    // For subclasses that keep the text elsewhere: `chars` must stay valid
    // and NUL-terminated while the object uses it.
    String(const char* chars, size_t length) : chars_(chars), length_(length) {}

    static constexpr uint32_t kUnknownLength = UINT32_MAX;
    void invalidate() { utf16Length_.store(kUnknownLength, std::memory_order_relaxed); }
    // Byte offset of a UTF-16 index (end of text when past it).
    size_t byteOffset(size_t utf16Index) const;

    // The cached UTF-16 length comes first so that it shares the object
    // header's spare word; texts too long to cache it are counted each time.
    mutable std::atomic<uint32_t> utf16Length_{kUnknownLength};
    const char* chars_;
    size_t length_;
};

template <class T>
T* String::placeWithText(void* memory, std::string_view text) {
    char* chars = static_cast<char*>(memory) + sizeof(T);
    const size_t n = text.size();
    const char* from = text.data();
    // Short texts (most keys and values) by two overlapping moves of a
    // fixed size, without a call whose branches depend on the length.
    if (n >= 8 && n <= 16) {
        uint64_t a, b;
        std::memcpy(&a, from, 8);
        std::memcpy(&b, from + n - 8, 8);
        std::memcpy(chars, &a, 8);
        std::memcpy(chars + n - 8, &b, 8);
    } else if (n >= 4 && n < 8) {
        uint32_t a, b;
        std::memcpy(&a, from, 4);
        std::memcpy(&b, from + n - 4, 4);
        std::memcpy(chars, &a, 4);
        std::memcpy(chars + n - 4, &b, 4);
    } else if (n != 0) {
        std::memcpy(chars, from, n);
    }
    chars[text.size()] = '\0';
    return ::new (memory) T(chars, text.size());
}

// A string that changes: its text is a growable buffer of its own.
class MutableString : public String {
public:
    explicit MutableString(std::string_view utf8 = {}) : String(nullptr, 0), buffer_(utf8) { sync(); }
    const char* className() const override { return "MutableString"; }
    static Ref<MutableString> make(std::string_view utf8 = {}) { return ns::make<MutableString>(utf8); }

    void appendString(std::string_view s) { buffer_.append(s); sync(); }
    void setString(std::string_view s) { buffer_.assign(s); sync(); }
    void insertStringAtIndex(std::string_view s, size_t utf16Index);
    void deleteCharactersInRange(Range r);
    void replaceOccurrencesOfString(std::string_view target, std::string_view replacement);

private:
    void sync() {
        chars_ = buffer_.c_str();
        length_ = buffer_.size();
        invalidate();
    }
    std::string buffer_;
};

// Converts between encodings. Return false on malformed input.
bool isValidUTF8(const void* bytes, size_t length);
std::u16string utf8ToUTF16(std::string_view utf8);
bool utf16ToUTF8(std::u16string_view units, std::string& out);  // false on lone surrogate
void appendCodePoint(std::string& out, char32_t cp);

// Unicode-aware single-code-point case mapping (falls back to identity).
char32_t toLowerCodePoint(char32_t cp);
char32_t toUpperCodePoint(char32_t cp);

// A string made of the arguments' text, for short literals: str("abc").
inline Ref<String> str(std::string_view s) { return String::make(s); }

}  // namespace ns
