// The byte-level half of the fast JSON codec: whitespace and comment
// skipping with line counting, tokens (strings decoded and hashed in one
// pass, numbers converted to signed, unsigned or double), the single code
// point UTF-8 decoder, growable scratch buffers and first-error recording.
//
// The scanner works in place on the caller's bytes: a string without escapes
// or repairs is handed on as a range of the input, never copied.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "net/json/ByteRuns.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Object.h"

namespace json {

// Parse options (a bit set; values of 16 or more are refused).
enum FJParseOptionFlags : uint64_t {
    FJParseFlagNone = 0,
    FJParseFlagComments = 1,            // "//" and "/* */" comments where whitespace may stand
    FJParseFlagUnicodeLineBreaks = 2,   // U+0085, U+2028, U+2029 are line breaks between tokens
    FJParseFlagLooseUnicode = 4,        // bad UTF-8 and bad \u escapes become U+FFFD
    FJParseFlagTextAfterValue = 8,      // bytes after the top-level value are ignored
    FJParseFlagValidFlags = 15,
};

inline constexpr const char* FJErrorDomain = "FJErrorDomain";
inline constexpr const char* FJAtIndexKey = "FJAtIndexKey";
inline constexpr const char* FJLineNumberKey = "FJLineNumberKey";
inline constexpr long FJErrorCode = -1;

// Raised when scratch memory cannot be had.
inline constexpr const char* kMallocException = "MallocException";

enum class FJTokenType : uint8_t {
    Invalid = 0,
    Number,
    String,
    ObjectBegin,
    ObjectEnd,
    ArrayBegin,
    ArrayEnd,
    Colon,
    Comma,
    True,
    False,
    Null,
};

// Kinds of scanned values; the numbers are part of the value hash.
enum FJValueType : uint64_t {
    FJValueTypeNone = 0,
    FJValueTypeString = 5,
    FJValueTypeLongLong = 7,
    FJValueTypeUnsignedLongLong = 11,
    FJValueTypeDouble = 13,
};

// ---- Single code point decoder (shared with the serializer) ----

enum FJUTF8Result : int {
    FJUTF8Valid = 0,
    FJUTF8SourceExhausted = 1,  // the input ends inside the announced sequence
    FJUTF8Illegal = 3,
};

// Decodes the UTF-8 sequence at `p` (p < end). Sets `*next` past the
// sequence (for an invalid one: past the lead byte and the continuation
// bytes directly after it, never past the announced length) and `*codePoint`
// (U+FFFD when the result is not valid). Surrogates, U+FDD0..U+FDEF, code
// points ending in FFFE/FFFF and U+0000 are illegal.
FJUTF8Result FJDecodeCodePoint(const uint8_t* p, const uint8_t* end, const uint8_t** next,
                               uint32_t* codePoint);

// As above, but `*structurallyValid` reports whether the bytes form well-made
// UTF-8 even when the code point is one of the rejected non-characters.
FJUTF8Result FJDecodeCodePointEx(const uint8_t* p, const uint8_t* end, const uint8_t** next,
                                 uint32_t* codePoint, bool* structurallyValid);

// ---- Growable byte buffer ----

// Starts on caller-provided memory (a fixed local area of the current call)
// and moves to the heap when it must grow. Growth rounds the requested size
// up to the next multiple of the granule.
struct FJManagedBuffer {
    enum : unsigned { LocationMask = 3, Local = 1, Heap = 2, MustFree = 4 };

    uint8_t* ptr = nullptr;
    size_t length = 0;  // bytes available at ptr
    unsigned flags = 0;
    size_t granule = 4096;

    void setLocal(uint8_t* area, size_t size, size_t allocationGranule) {
        ptr = area;
        length = size;
        flags = Local;
        granule = allocationGranule;
    }
    // Returns the storage, or nullptr on failure (a failed reallocation
    // frees the old heap block and leaves the buffer empty).
    uint8_t* grow(size_t requested);
    // Frees a heap block; always clears pointer, length and location.
    void release();
};

// ---- Parse state ----

// One slot of the decoder's value cache. The cached object keeps its own
// bytes (a string's text, a number's value), so no separate copy is kept.
struct FJTokenCacheItem {
    ns::Object* object;    // nullptr when the slot is empty
    uint64_t hash;         // value hash
    union {
        size_t platformHash;  // a string's object->hash(), 0 until first asked for
        uint64_t numberBits;  // the 8 value bytes of a number
    };
    uint32_t size;         // value size in bytes
    uint16_t type;         // FJValueType
};

// What a probe of a cache slot reads first, kept apart from the slots (8 KiB
// against 32 KiB, so it mostly stays near): the slot itself is read only
// when its tag matches.
struct FJTokenCacheTag {
    uint32_t tag;    // 0 when the slot is empty, else FJCacheTag(value hash)
    // The parse that made the object (FJParseState::parse). While that parse
    // runs the slot borrows its object; when it ends the slot takes a
    // reference of its own (or is emptied, see JSONDecoder.cpp).
    uint16_t parse;
};

// The key a dictionary member is expected to have, by the key before it
// and the nesting depth: most documents repeat the shape of their objects,
// so the key that followed last time is compared with the input before
// anything is scanned, hashed or looked up. Kept for one parse only, in the
// parse call's own frame.
struct FJKeyGuess {
    ns::Object* key;     // held by the tree being built; nullptr for none
    const char* text;    // the key's text, which is also its input text
    size_t hash;         // the key's hash()
    uint32_t size;       // text bytes
    bool shared;         // the key came from an earlier parse: counted atomically
};
inline constexpr size_t FJKeyGuessCount = 256;

struct FJTokenValue {
    const uint8_t* bytes = nullptr;  // decoded UTF-8 of a string (no quotes)
    size_t size = 0;
    uint64_t type = FJValueTypeNone;
    uint64_t hash = 0;
    union {
        int64_t longLongValue;
        uint64_t unsignedLongLongValue;
        double doubleValue;
        uint64_t bits;
    } number{};
    FJTokenCacheItem* cacheItem = nullptr;
    bool shared = false;  // the value came from an earlier parse (set by the cache)
};

struct FJParseToken {
    const uint8_t* ptr = nullptr;  // the token's bytes in the input
    size_t length = 0;
    FJTokenType kind = FJTokenType::Invalid;
    FJTokenValue value;
};

struct FJObjectStack {
    ns::Object** objects = nullptr;  // owned references
    ns::Object** keys = nullptr;     // owned references
    size_t* keyHashes = nullptr;
    size_t capacity = 0;
    size_t index = 0;                // next free entry
    size_t granule = 2048;
    unsigned flags = 0;              // FJManagedBuffer location flags
};

inline constexpr size_t FJTokenCacheSize = 1024;
inline constexpr size_t FJTokenBufferLocalSize = 2048;
inline constexpr size_t FJTokenBufferGranule = 4096;
inline constexpr size_t FJObjectStackLocalSize = 1024;
inline constexpr size_t FJObjectStackGranule = 2048;
// Deepest nesting of arrays and objects the decoder accepts.
inline constexpr size_t FJMaxParseDepth = 512;

struct FJParseState {
    uint64_t options = 0;
    const uint8_t* input = nullptr;
    size_t length = 0;
    size_t atIndex = 0, lineNumber = 1, lineStart = 0;
    FJParseToken token;
    FJManagedBuffer tokenBuffer;
    FJObjectStack objectStack;
    FJTokenCacheItem* cache = nullptr;  // FJTokenCacheSize slots
    FJTokenCacheTag* cacheTags = nullptr;  // one per slot
    size_t cacheCount = 0;
    ns::Ref<ns::Error> error;           // first error of the current parse
    bool mutableCollections = false;
    class FJValuePool* valuePool = nullptr;  // strings and numbers of a large parse, or none
    size_t depth = 0;
    // Numbers the parses of this state; values made by the current one are
    // seen by no other thread until it returns.
    uint16_t parse = 0;
    // FJKeyGuessCount of them in the parse call's frame, cleared when the
    // parse meets its first object (keyGuessesReady).
    FJKeyGuess* keyGuesses = nullptr;
    bool keyGuessesReady = false;
    // References that repeated keys displaced during the current parse,
    // released when it ends (a displaced value may still be in the cache).
    std::vector<ns::Object*>* displaced = nullptr;
};

// Value hashes used by the cache. Numbers: the 8 value bytes and the value
// type, mixed as one word. Strings: the decoded bytes, mixed eight at a time.
inline constexpr uint64_t FJHashSeed = 1402737925ull;
inline uint64_t FJHashNumber(uint64_t bits, uint64_t type) {
    constexpr uint64_t k = 0x9E3779B97F4A7C15ull;
    uint64_t h = (FJHashSeed + type) ^ (bits * k);
    h = (h ^ (h >> 31)) * k;
    return h ^ (h >> 32);
}
inline uint32_t FJCacheTag(uint64_t hash) { return static_cast<uint32_t>(hash >> 32) | 1; }
inline uint64_t FJHashBytes(const uint8_t* p, size_t n) {
    constexpr uint64_t k = 0x9E3779B97F4A7C15ull;
    uint64_t h = FJHashSeed ^ (n * k);
    const uint8_t* const end = p + n;
    uint64_t w;
    if (n >= 8) {
        for (; end - p > 8; p += 8) {
            __builtin_memcpy(&w, p, 8);
            h = (h ^ w) * k;
            h ^= h >> 29;
        }
        __builtin_memcpy(&w, end - 8, 8);  // the last 8 bytes, overlapping the ones before
    } else if (n >= 4) {
        uint32_t a, b;
        __builtin_memcpy(&a, p, 4);
        __builtin_memcpy(&b, end - 4, 4);
        w = a | (uint64_t(b) << 32);
    } else if (n >= 2) {
        uint16_t a, b;
        __builtin_memcpy(&a, p, 2);
        __builtin_memcpy(&b, end - 2, 2);
        w = a | (uint64_t(b) << 16);
    } else {
        w = n ? p[0] : 0;
    }
    h = (h ^ w) * k;
    h ^= h >> 29;
    return h ^ (h >> 32);
}

// Skips spaces, tabs, line breaks (counting lines) and, with
// FJParseFlagComments, comments. Stops at the first other byte or the end.
void FJSkipWhitespace(FJParseState& s);

// The tokens of one byte, by that byte (Invalid for any other).
struct FJOneByteTokens {
    FJTokenType kind[256];
    constexpr FJOneByteTokens() : kind() {
        kind[uint8_t('{')] = FJTokenType::ObjectBegin;
        kind[uint8_t('}')] = FJTokenType::ObjectEnd;
        kind[uint8_t('[')] = FJTokenType::ArrayBegin;
        kind[uint8_t(']')] = FJTokenType::ArrayEnd;
        kind[uint8_t(':')] = FJTokenType::Colon;
        kind[uint8_t(',')] = FJTokenType::Comma;
    }
};
inline constexpr FJOneByteTokens FJOneByteTokenTable;

// FJReadToken for every token but a one-byte token right at the at index.
bool FJReadScannedToken(FJParseState& s);

// Whether `c` may start a token and so ends the skipping of whitespace.
inline bool FJEndsWhitespace(uint8_t c) { return c > ' ' && c != '/' && c < 0x80; }

// FJSkipWhitespace for the common layouts without a call: a line break
// followed by indentation, or blanks; anything else goes to FJSkipWhitespace.
inline void FJSkipLayout(FJParseState& s) {
    if (s.atIndex >= s.length) return;
    const uint8_t* const begin = s.input;
    const uint8_t* const end = begin + s.length;
    const uint8_t* p = begin + s.atIndex;
    if (FJEndsWhitespace(*p)) return;
    if (*p == '\n') {
        ++p;
        ++s.lineNumber;
        s.lineStart = static_cast<size_t>(p - begin);
    }
    if (p < end && *p == ' ') p = skipBlanks(p + 1, end);
    s.atIndex = static_cast<size_t>(p - begin);
    if (p < end && !FJEndsWhitespace(*p)) FJSkipWhitespace(s);
}

// Reads the next token into s.token. On success the at index stands after
// it; on failure an error has been recorded. A bracket, comma or colon at
// the at index, or after the common layouts of line breaks and blanks (most
// of them in most documents), is taken here, without a call.
inline bool FJReadToken(FJParseState& s) {
    if (s.atIndex < s.length) {
        FJTokenType single = FJOneByteTokenTable.kind[s.input[s.atIndex]];
        // Layout is looked for only after a byte that starts no one-byte
        // token: a compact document's brackets and commas pay for no test.
        if (single == FJTokenType::Invalid && !FJEndsWhitespace(s.input[s.atIndex])) {
            FJSkipLayout(s);
            if (s.atIndex < s.length) single = FJOneByteTokenTable.kind[s.input[s.atIndex]];
        }
        if (single != FJTokenType::Invalid) {
            s.token.value.type = FJValueTypeNone;
            s.token.value.cacheItem = nullptr;
            s.token.ptr = s.input + s.atIndex;
            s.token.length = 1;
            s.token.kind = single;
            s.atIndex += 1;
            return true;
        }
    }
    return FJReadScannedToken(s);
}

// Records a formatted message as the parse's error unless one exists.
void FJRecordError(FJParseState& s, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Makes an error in FJErrorDomain with only a description.
ns::Ref<ns::Error> FJMakeError(const std::string& description);

}  // namespace json
