// The lower layers of the streaming JSON parser: a byte buffer that hands out
// characters (JsonUTF8Stream) and the tokeniser on top of it (JsonTokeniser).
//
// Input arrives in pieces. A token cut off by the end of the buffered bytes is
// not consumed: getToken() answers JsonTokenEOF with the read position back at
// the token's start, and the token is read again once more bytes arrive. A
// token is only ever decided from bytes that are present, so the outcome does
// not depend on where the input was split.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "net/json/FJValuePool.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/String.h"

namespace json {

struct NumberDigits;

// Token kinds answered by JsonTokeniser::getToken.
enum JsonToken : int32_t {
    JsonTokenError = -1,  // message in JsonTokeniser::error()
    JsonTokenEOF = 0,     // no complete token in the buffered bytes
    JsonTokenArrayStart = 1,
    JsonTokenArrayEnd = 2,
    JsonTokenObjectStart = 3,
    JsonTokenObjectEnd = 4,
    JsonTokenValueSeparator = 5,
    JsonTokenKeyValueSeparator = 6,
    JsonTokenNumber = 7,
    JsonTokenString = 8,
    JsonTokenTrue = 9,
    JsonTokenFalse = 10,
    JsonTokenNull = 11,
};

// The name a token kind has in error messages ("start of array", ...).
const char* tokenName(int32_t token);

// A growable byte buffer read one character (byte) at a time.
class JsonUTF8Stream {
public:
    JsonUTF8Stream() { data_.reserve(4096); }

    // Drops the bytes before the read position (already consumed), resets the
    // position to 0 and appends the new bytes.
    void appendData(const void* bytes, size_t length);

    // The character at the read position; false when there is none.
    bool getUnichar(uint8_t* ch) const;
    // Advances the read position by one, then as getUnichar.
    bool getNextUnichar(uint8_t* ch);
    // The longest run of ordinary string bytes (not below 0x20, not backslash,
    // not double quote) from the read position. Answers false when the run
    // reaches the end of the buffer (more input is needed); otherwise the run's
    // bytes in *fragment and the read position just past the run.
    bool getRetainedStringFragment(std::string_view* fragment);
    void skip() { ++index_; }
    // Skips space, tab, line feed and carriage return.
    void skipWhitespace();
    // True when at least `count` bytes remain, the current one included.
    bool haveRemainingCharacters(size_t count) const { return length() - index_ >= count; }
    // Compares the bytes at the read position with `word`; advances past them
    // and answers true on a match.
    bool skipCharactersLength(const char* word, size_t length);
    // The bytes of [location, location+length) decoded as UTF-8; nil when
    // they are not valid UTF-8.
    ns::Ref<ns::String> stringWithRange(size_t location, size_t length) const;
    std::string_view bytesInRange(size_t location, size_t length) const {
        return {reinterpret_cast<const char*>(data_.data()) + location, length};
    }
    // Unread bytes from the read position.
    std::string_view remaining() const { return bytesInRange(index_, length() - index_); }

    size_t index() const { return index_; }
    void setIndex(size_t index) { index_ = index; }
    size_t length() const { return data_.size(); }
    const uint8_t* bytes() const { return data_.data(); }

private:
    std::vector<uint8_t> data_;
    size_t index_ = 0;
};

class JsonTokeniser {
public:
    void appendData(const void* bytes, size_t length) { stream_.appendData(bytes, length); }

    // Reads the next token. For numbers and strings the value is stored in
    // *token (an ns::Number, ns::DecimalNumber or ns::String). Answers
    // JsonTokenEOF when the buffered bytes hold no complete token (nothing
    // consumed) and JsonTokenError with error() set on malformed input.
    int32_t getToken(ns::Ref<ns::Object>* token);

    const std::string& error() const { return error_; }
    void setError(std::string error) { error_ = std::move(error); }

    // After getToken answered JsonTokenEOF: the kind the unfinished token
    // would have from its first byte (number, string, boolean or null), or
    // JsonTokenEOF when only whitespace is left.
    int32_t pendingTokenKind();

    JsonUTF8Stream& stream() { return stream_; }

    // With this set, the strings and numbers made from now on are placed in
    // 64 KiB blocks (FJValuePool) instead of one heap allocation each: for
    // large inputs, since a value kept keeps its whole block. Default off.
    void setPlacesValuesInBlocks(bool v) { placesValuesInBlocks_ = v; }

private:
    int32_t getStringToken(ns::Ref<ns::Object>* token);
    int32_t getNumberToken(ns::Ref<ns::Object>* token);
    ns::Ref<ns::Object> makeNumber(const NumberDigits& n, bool negative, bool decimal, std::string_view text);
    ns::Ref<ns::Object> makeString(std::string_view text);
    // The one string object of an object key with this text: the keys of a
    // document repeat, so each of the last few hundred distinct ones is made
    // once and shared by every object that has it (less memory, and a writer
    // of the tree reads the same few key objects again).
    ns::Ref<ns::Object> sharedKey(std::string_view text);
    int32_t matchWord(const char* word, size_t length, int32_t kind);
    // Reads four hexadecimal digits at the read position into *value.
    // Answers 1 on success, 0 when fewer than four characters are buffered
    // (and all that are buffered are hexadecimal), -1 on a non-hex character.
    int decodeHexQuad(uint16_t* value);

    JsonUTF8Stream stream_;
    std::string error_;
    bool placesValuesInBlocks_ = false;
    FJValuePool pool_;
    // Keys up to kLongestSharedKey bytes by a hash of their text, made on
    // the heap (a key kept here keeps no pool block alive).
    static constexpr size_t kSharedKeySlots = 256;
    static constexpr size_t kLongestSharedKey = 32;
    std::vector<ns::Ref<ns::String>> sharedKeys_;
};

}  // namespace json
