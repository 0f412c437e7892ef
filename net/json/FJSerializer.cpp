#include "net/json/FJSerializer.h"

#include "net/json/FJDictionary.h"
#include "platform/foundation/DecimalDigits.h"
#include "platform/foundation/DoubleFormat.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <typeinfo>
#include <vector>

#include "net/json/FJTokenScanner.h"
#include "platform/foundation/Array.h"
#include "platform/foundation/Data.h"
#include "platform/foundation/Dictionary.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Null.h"
#include "platform/foundation/Number.h"
#include "platform/foundation/String.h"

namespace json {

namespace {

constexpr size_t kOutputLocalSize = 4096;
constexpr size_t kOutputGranule = 32768;
constexpr size_t kCacheSlots = 1024;

enum Kind { kString, kNumber, kDictionary, kArray, kNull, kUnsupported };

struct EncodeCacheSlot {
    const ns::Object* object;  // not owned
    size_t offset;
    size_t length;
    uint64_t generation;  // the formatter calls made before it was recorded
};

// An array or dictionary being written is read where it keeps its entries
// until a formatter is called while it is open; from then on its entries
// are read from `entries`, the references taken just before that call
// (elements, or keys and values by turns, in its order), so that a
// formatter that changes or frees entries frees nothing still to be read.
// Once it is written it is compared with them.
struct HeldContainer {
    ns::Ref<ns::Object> container;
    bool dictionary = false;
    std::vector<ns::Ref<ns::Object>> entries;
};

// Byte classes for string output: 0 copied, 1 escaped, 2 "/" (escaped on
// request), 3 non-ASCII.
struct OutClasses {
    uint8_t c[256];
    constexpr OutClasses() : c{} {
        for (int i = 0; i < 256; ++i) c[i] = i < 0x20 ? 1 : i >= 0x80 ? 3 : 0;
        c[uint8_t('"')] = 1;
        c[uint8_t('\\')] = 1;
        c[uint8_t('/')] = 2;
    }
};
constexpr OutClasses kOut;

const char kHex[] = "0123456789abcdef";

}  // namespace

struct FJEncodeState {
    // Output: starts on the caller's local area, then moves to a heap string
    // (or byte buffer) that the result takes over without a copy.
    char* out = nullptr;
    size_t capacity = 0;
    size_t atIndex = 0;
    bool onHeap = false;
    bool asVector = false;
    std::string heapString;
    ns::ByteBuffer heapBytes;  // counts what was written when it grows and at the end

    // The concrete classes last identified for each kind.
    const std::type_info* stringClass = nullptr;
    const std::type_info* numberClass = nullptr;
    const std::type_info* dictionaryClass = nullptr;
    const std::type_info* arrayClass = nullptr;
    const std::type_info* nullClass = nullptr;

    EncodeCacheSlot cache[kCacheSlots];

    uint64_t serializeOptions = 0;
    uint64_t encodeOption = 0;
    size_t depth = 0;     // pretty-printing level
    size_t nesting = 0;   // arrays and dictionaries entered
    ns::Ref<ns::Error> error;

    FJSerializerDelegate* delegate = nullptr;
    const char* selector = nullptr;
    FJFormatterBlock delegateImplementation;
    const FJFormatterBlock* block = nullptr;
    // Formatters are the caller's code, run in the middle of the write: they
    // may change or free what is being written, the replacements they made
    // before included. Each call starts a new generation of the cache (an
    // address recorded before may be another object now), and the
    // containers open at the call are held first.
    uint64_t formatterCalls = 0;
    ns::Object* openContainers[FJMaxSerializeDepth];  // the `nesting` open ones, not owned
    std::vector<HeldContainer> held;  // by nesting; records reused
    size_t heldCount = 0;             // the open containers held, from the outermost

    ns::Object* yes = nullptr;
    ns::Object* no = nullptr;

    FJEncodeState() { std::memset(cache, 0, sizeof cache); }

    // ---- output ----

    bool fail(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        if (error) return false;
        char buf[512];
        va_list ap;
        va_start(ap, format);
        std::vsnprintf(buf, sizeof buf, format, ap);
        va_end(ap);
        error = FJMakeError(buf);
        return false;
    }

    bool growTo(size_t size) {
        size_t want = (size + kOutputGranule - 1) / kOutputGranule * kOutputGranule;
        if (want <= capacity) return true;
        try {
            if (asVector) {
                // Room past what was written is not zero-filled.
                if (!onHeap) heapBytes.append(out, atIndex);
                else heapBytes.commit(atIndex - heapBytes.size());
                heapBytes.room(want - atIndex);
                out = reinterpret_cast<char*>(heapBytes.data());
            } else {
                if (!onHeap) {
                    heapString.reserve(want);
                    heapString.assign(out, atIndex);
                }
                heapString.resize(want);
                out = heapString.data();
            }
        } catch (const std::bad_alloc&) {
            return fail("Unable to resize temporary buffer.");
        }
        onHeap = true;
        capacity = want;
        return true;
    }
    // Room for `need` more bytes; when short, grows to the written length plus `extra`.
    inline bool ensure(size_t need, size_t extra) {
        if (capacity - atIndex >= need) return true;
        return growTo(atIndex + extra);
    }
    inline bool putChar(char c) {
        if (capacity - atIndex <= 4 && !ensure(1 + 256, 1 + 1024)) return false;
        out[atIndex++] = c;
        return true;
    }
    inline bool putText(const char* text, size_t n) {
        if (!ensure(n + 4, n + 4096)) return false;
        std::memcpy(out + atIndex, text, n);
        atIndex += n;
        return true;
    }
    bool newlineAndIndent() {
        if (!ensure(depth * 2 + 18, depth * 2 + 4098)) return false;
        out[atIndex++] = '\n';
        std::memset(out + atIndex, ' ', depth * 2);
        atIndex += depth * 2;
        return true;
    }

    // ---- classification ----

    Kind classify(ns::Object* o) {
        const std::type_info* t = &typeid(*o);
        if (t == stringClass) return kString;
        if (t == numberClass) return kNumber;
        if (t == dictionaryClass) return kDictionary;
        if (t == arrayClass) return kArray;
        if (t == nullClass) return kNull;
        if (dynamic_cast<ns::String*>(o)) return stringClass = t, kString;
        if (dynamic_cast<ns::Number*>(o)) return numberClass = t, kNumber;
        if (dynamic_cast<ns::Dictionary*>(o)) return dictionaryClass = t, kDictionary;
        if (dynamic_cast<ns::Array*>(o)) return arrayClass = t, kArray;
        if (dynamic_cast<ns::Null*>(o)) return nullClass = t, kNull;
        return kUnsupported;
    }

    // ---- values ----

    // The value writers come in two versions: Formatters is whether a
    // formatter may run (a block or a delegate was given). Only then can
    // the tree change while it is written, and only then do the writers
    // keep track of the open containers and of the cache's generation.
    template <bool Formatters>
    bool encode(ns::Object* o) {
        uintptr_t a = reinterpret_cast<uintptr_t>(o);
        EncodeCacheSlot& slot = cache[(((a >> 21) ^ (a >> 9)) + (a >> 4)) & (kCacheSlots - 1)];
        if (slot.object == o && (!Formatters || slot.generation == formatterCalls)) {
            if (!ensure(slot.length + 256, slot.length + 1024)) return false;
            std::memcpy(out + atIndex, out + slot.offset, slot.length);
            atIndex += slot.length;
            return true;
        }
        Kind kind = classify(o);
        if (kind == kUnsupported) {
            if constexpr (Formatters) return encodeUnsupported(o);
            else return fail("Unable to serialize object class %s.", o->className());
        }
        return encodeAs<Formatters>(o, kind);
    }

    template <bool Formatters>
    [[gnu::always_inline]] bool encodeAs(ns::Object* o, Kind kind) {
        size_t start = atIndex;
        bool ok;
        switch (kind) {
            case kNull: ok = putText("null", 4); break;
            case kNumber: ok = encodeNumber(static_cast<ns::Number*>(o)); break;
            case kString: ok = encodeString(static_cast<ns::String*>(o)); break;
            case kArray: return encodeArray<Formatters>(static_cast<ns::Array*>(o));
            case kDictionary: return encodeDictionary<Formatters>(static_cast<ns::Dictionary*>(o));
            default: return false;
        }
        if (!ok) return false;
        uintptr_t b = reinterpret_cast<uintptr_t>(o);
        EncodeCacheSlot& own = cache[(((b >> 21) ^ (b >> 9)) + (b >> 4)) & (kCacheSlots - 1)];
        own = EncodeCacheSlot{o, start, atIndex - start, formatterCalls};
        return true;
    }

    // ---- formatters ----

    // An object of a class the writer does not know: written as the
    // replacement the formatters give for it (the block first, then the
    // delegate). The object and its replacement are held meanwhile: a
    // formatter may take the object out of the tree, and the replacement
    // may be held by nothing else.
    [[gnu::noinline]] bool encodeUnsupported(ns::Object* o) {
        const ns::Ref<ns::Object> original(o);
        holdOpenContainers();
        ++formatterCalls;
        ns::Ref<ns::Object> replacement;
        if (block && *block) replacement = (*block)(o);
        if (!replacement && delegateImplementation) replacement = delegateImplementation(o);
        if (!replacement) return fail("Unable to serialize object class %s.", o->className());
        const Kind kind = classify(replacement.get());
        if (kind == kUnsupported)
            return fail("Unable to serialize object class %s that was returned by the unsupported class "
                        "formatter.  Original object class was %s.",
                        replacement->className(), o->className());
        return encodeAs<true>(replacement.get(), kind);
    }

    // ---- containers changed while they are written ----

    // The container entered at nesting level `level` (enterNesting has
    // bounded the levels).
    void openContainer(ns::Object* container, size_t level) { openContainers[level] = container; }

    // Holds every open container not yet held, with its entries as they are.
    void holdOpenContainers() {
        if (held.size() < nesting) held.resize(nesting);
        for (; heldCount < nesting; ++heldCount) {
            HeldContainer& c = held[heldCount];  // its entries emptied when the last one at its level was done
            c.container = openContainers[heldCount];
            if (auto* d = dynamic_cast<ns::Dictionary*>(c.container.get())) {
                c.dictionary = true;
                const size_t n = d->count();
                c.entries.reserve(2 * n);
                for (size_t i = 0; i < n; ++i) {
                    c.entries.emplace_back(d->keyAtIndex(i));
                    c.entries.emplace_back(d->valueAtIndex(i));
                }
            } else {
                auto* a = static_cast<ns::Array*>(c.container.get());
                c.dictionary = false;
                const size_t n = a->count();
                c.entries.reserve(n);
                for (size_t i = 0; i < n; ++i) c.entries.emplace_back(a->objectAtIndex(i));
            }
        }
    }

    // The i-th of the entries held for the open container at `level`.
    ns::Object* heldEntry(size_t level, size_t i) const { return held[level].entries[i].get(); }

    // The container at `level` is written.
    void closeContainer(size_t level) {
        if (heldCount > level) closeHeldContainer(level);
    }

    // A held container must still be as it was, or GenericException is raised.
    [[gnu::noinline]] void closeHeldContainer(size_t level) {
        HeldContainer& c = held[level];
        heldCount = level;
        const bool same = unchanged(c);
        ns::Ref<ns::Object> container = std::move(c.container);
        c.entries.clear();
        if (!same)
            throw ns::Exception(kGenericException, std::string("*** Collection <") + container->className() +
                                                       "> was mutated while being enumerated.");
    }

    static bool unchanged(const HeldContainer& c) {
        const std::vector<ns::Ref<ns::Object>>& held = c.entries;
        if (c.dictionary) {
            auto* d = static_cast<ns::Dictionary*>(c.container.get());
            if (2 * d->count() != held.size()) return false;
            for (size_t i = 0; i < held.size() / 2; ++i)
                if (d->keyAtIndex(i) != held[2 * i].get() || d->valueAtIndex(i) != held[2 * i + 1].get())
                    return false;
            return true;
        }
        auto* a = static_cast<ns::Array*>(c.container.get());
        if (a->count() != held.size()) return false;
        for (size_t i = 0; i < held.size(); ++i)
            if (a->objectAtIndex(i) != held[i].get()) return false;
        return true;
    }

    bool encodeNumber(ns::Number* n) {
        if (n == yes) return putText("true", 4);
        if (n == no) return putText("false", 5);
        // Numbers are formatted straight into the output.
        constexpr size_t kRoom = 48;
        if (!ensure(kRoom, kRoom + 1024)) return false;
        char* at = out + atIndex;
        char* end;
        switch (n->objCType()) {
            case 'c': case 'i': case 's': case 'l': case 'q':
                end = ns::formatSigned(n->longLongValue(), at);
                break;
            case 'C': case 'I': case 'S': case 'L': case 'Q':
                end = ns::formatUnsigned(static_cast<uint64_t>(n->longLongValue()), at);
                break;
            case 'B':  // a boolean that is not one of the two shared ones
                return n->boolValue() ? putText("true", 4) : putText("false", 5);
            case 'f': case 'd': {
                double d = n->doubleValue();
                if (!std::isfinite(d))
                    return fail("Floating point values must be finite.  JSON does not support NaN or Infinity.");
                // Same text as printf's "%.17g".
                end = ns::formatDouble17(d, at);
                break;
            }
            default: {
                auto c = static_cast<unsigned char>(n->objCType());
                return fail("NSNumber conversion error, unknown type.  Type: '%c' / 0x%2.2x", c, c);
            }
        }
        atIndex = static_cast<size_t>(end - out);
        return true;
    }

    inline bool putEscapedControl(uint8_t c) {
        if (!ensure(8, 1024)) return false;
        char* p = out + atIndex;
        switch (c) {
            case 0x08: p[0] = '\\'; p[1] = 'b'; atIndex += 2; return true;
            case 0x09: p[0] = '\\'; p[1] = 't'; atIndex += 2; return true;
            case 0x0A: p[0] = '\\'; p[1] = 'n'; atIndex += 2; return true;
            case 0x0C: p[0] = '\\'; p[1] = 'f'; atIndex += 2; return true;
            case 0x0D: p[0] = '\\'; p[1] = 'r'; atIndex += 2; return true;
            default:
                std::memcpy(p, "\\u00", 4);
                p[4] = kHex[c >> 4];
                p[5] = kHex[c & 15];
                atIndex += 6;
                return true;
        }
    }

    inline bool putUnicodeEscape(uint32_t unit) {
        if (!ensure(8, 1024)) return false;
        char* p = out + atIndex;
        p[0] = '\\';
        p[1] = 'u';
        p[2] = kHex[(unit >> 12) & 15];
        p[3] = kHex[(unit >> 8) & 15];
        p[4] = kHex[(unit >> 4) & 15];
        p[5] = kHex[unit & 15];
        atIndex += 6;
        return true;
    }

    // Length of the well-formed UTF-8 sequence at p (lead byte 80 hex or
    // more), or 0 when it is not one.
    static size_t wellFormedLength(const uint8_t* p, const uint8_t* end) {
        uint8_t b0 = p[0];
        size_t left = static_cast<size_t>(end - p);
        auto cont = [](uint8_t b) { return (b & 0xC0) == 0x80; };
        if (b0 >= 0xC2 && b0 <= 0xDF) return left >= 2 && cont(p[1]) ? 2 : 0;
        if (b0 >= 0xE0 && b0 <= 0xEF) {
            if (left < 3 || !cont(p[1]) || !cont(p[2])) return 0;
            if ((b0 == 0xE0 && p[1] < 0xA0) || (b0 == 0xED && p[1] >= 0xA0)) return 0;
            return 3;
        }
        if (b0 >= 0xF0 && b0 <= 0xF4) {
            if (left < 4 || !cont(p[1]) || !cont(p[2]) || !cont(p[3])) return 0;
            if ((b0 == 0xF0 && p[1] < 0x90) || (b0 == 0xF4 && p[1] >= 0x90)) return 0;
            return 4;
        }
        return 0;
    }

    // Writes the bytes of one string with the escapes JSON needs.
    bool encodeStringBytes(const uint8_t* p, const uint8_t* end) {
        const bool escapeSlash = serializeOptions & FJSerializeFlagEscapeSlash;
        const bool escapeUnicode = serializeOptions & FJSerializeFlagEscapeUnicode;
        while (p < end) {
            const uint8_t* run = p;
            for (;;) {
                while (p < end && kOut.c[*p] == 0) ++p;
                // Well-formed UTF-8 is copied with the run unless it is to be
                // escaped; anything else is left to the code point decoder.
                if (escapeUnicode || p >= end || *p < 0x80) break;
                size_t n = wellFormedLength(p, end);
                if (!n) break;
                p += n;
            }
            if (p > run) {
                size_t n = static_cast<size_t>(p - run);
                if (!ensure(n, n + 1024)) return false;
                std::memcpy(out + atIndex, run, n);
                atIndex += n;
                if (p >= end) break;
            }
            uint8_t c = *p;
            switch (kOut.c[c]) {
                case 1:
                    if (c < 0x20) {
                        if (!putEscapedControl(c)) return false;
                    } else {
                        if (!ensure(2, 1024)) return false;
                        out[atIndex++] = '\\';
                        out[atIndex++] = static_cast<char>(c);
                    }
                    ++p;
                    break;
                case 2:
                    if (!ensure(2, 1024)) return false;
                    if (escapeSlash) out[atIndex++] = '\\';
                    out[atIndex++] = '/';
                    ++p;
                    break;
                default: {  // non-ASCII
                    const uint8_t* next;
                    uint32_t cp;
                    bool structural;
                    FJUTF8Result r = FJDecodeCodePointEx(p, end, &next, &cp, &structural);
                    if (escapeUnicode) {
                        if (r != FJUTF8Valid) return fail("Error converting UTF8.");
                        if (cp <= 0xFFFF) {
                            if (!putUnicodeEscape(cp)) return false;
                        } else {
                            if (!putUnicodeEscape(0xD7C0 + (cp >> 10)) || !putUnicodeEscape(0xDC00 + (cp & 0x3FF)))
                                return false;
                        }
                    } else {
                        // Text that is not well-formed UTF-8 cannot be written as JSON.
                        if (!structural)
                            return fail("An error occurred converting the contents of a NSString to UTF8.");
                        size_t n = static_cast<size_t>(next - p);
                        if (!ensure(n, n + 1024)) return false;
                        std::memcpy(out + atIndex, p, n);
                        atIndex += n;
                    }
                    p = next;
                }
            }
        }
        return true;
    }

    bool encodeString(ns::String* s) {
        std::string_view text = s->utf8();
        const auto* p = reinterpret_cast<const uint8_t*>(text.data());
        const uint8_t* end = p + text.size();
        const bool quotes = !(encodeOption & FJEncodeBareString);
        size_t len = text.size();
        if (!ensure(2 * len + 256, 2 * len + 1024)) return false;
        if (quotes) out[atIndex++] = '"';
        // The text is UTF-8 already: ASCII runs are copied as they stand and
        // non-ASCII sequences are checked (and escaped on request) in place.
        if (!encodeStringBytes(p, end)) return false;
        if (quotes && !putChar('"')) return false;
        return true;
    }

    bool enterNesting() {
        if (nesting >= FJMaxSerializeDepth)
            return fail("Arrays and dictionaries are nested more than %zu levels deep.", FJMaxSerializeDepth);
        ++nesting;
        return true;
    }

    bool open(char c) {
        if (!putChar(c)) return false;
        if (serializeOptions & FJSerializeFlagPretty) {
            ++depth;
            return newlineAndIndent();
        }
        return true;
    }
    bool close(char c) {
        if (serializeOptions & FJSerializeFlagPretty) {
            --depth;
            if (!newlineAndIndent()) return false;
        }
        return putChar(c);
    }
    bool comma() {
        if (!putChar(',')) return false;
        return (serializeOptions & FJSerializeFlagPretty) ? newlineAndIndent() : true;
    }
    bool colon() {
        if (!putChar(':')) return false;
        return (serializeOptions & FJSerializeFlagPretty) ? putChar(' ') : true;
    }

    // Arrays and dictionaries: their entries as they were when the write
    // of each began, read in place until a formatter is called, then from
    // the references taken before it (HeldContainer).
    template <bool Formatters>
    bool encodeArray(ns::Array* a) {
        if (!enterNesting()) return false;
        if (!open('[')) return false;
        const size_t level = nesting - 1;
        if (Formatters) openContainer(a, level);
        const uint64_t calls = formatterCalls;
        for (size_t i = 0, n = a->count(); i < n; ++i) {
            if (i && !comma()) return false;
            ns::Object* o = !Formatters || formatterCalls == calls ? a->objectAtIndex(i) : heldEntry(level, i);
            if (!encode<Formatters>(o)) return false;
        }
        if (!close(']')) return false;
        if (Formatters) closeContainer(level);
        --nesting;
        return true;
    }

    bool isStringKey(ns::Object* key) {
        if (&typeid(*key) == stringClass) return true;
        return classify(key) == kString;
    }

    template <bool Formatters>
    bool encodeMember(ns::Object* key, ns::Object* value) {
        if (!isStringKey(key)) return fail("Key must be a string object.");
        return encode<Formatters>(key) && colon() && encode<Formatters>(value);
    }

    template <bool Formatters>
    bool encodeDictionary(ns::Dictionary* d) {
        if (!enterNesting()) return false;
        if (!open('{')) return false;
        const size_t n = d->count();
        const size_t level = nesting - 1;
        if (Formatters) openContainer(d, level);
        const uint64_t calls = formatterCalls;
        if (serializeOptions & FJSerializeFlagPretty) {
            // Keys and values as they are now, sorted by key; once a
            // formatter is called they are held (HeldContainer), as all of
            // them were in the dictionary until then.
            std::vector<std::pair<ns::String*, ns::Object*>> members;
            members.reserve(n);
            for (size_t i = 0; i < n; ++i) {
                ns::Object* key = d->keyAtIndex(i);
                if (!isStringKey(key)) return fail("Key must be a string object.");
                ns::Object* value = d->objectForKey(*key);
                if (!value) return fail("Unable to serialize object class %s.", "(null)");
                members.emplace_back(static_cast<ns::String*>(key), value);
            }
            std::sort(members.begin(), members.end(), [](const auto& x, const auto& y) {
                return x.first->compare(*y.first) == ns::ComparisonResult::Ascending;
            });
            for (size_t i = 0; i < n; ++i) {
                if (i && !comma()) return false;
                if (!encode<Formatters>(members[i].first) || !colon()) return false;
                if (!encode<Formatters>(members[i].second)) return false;
            }
        } else if (&typeid(*d) == &typeid(FJDictionary)) {
            // The decoder's own dictionary: its entries, in the same order.
            const FJHashTableEntry* entries = static_cast<FJDictionary*>(d)->entries();
            for (size_t i = 0; i < n; ++i) {
                if (i && !comma()) return false;
                ns::Object *key, *value;
                if (!Formatters || formatterCalls == calls) key = entries[i].key, value = entries[i].object;
                else key = heldEntry(level, 2 * i), value = heldEntry(level, 2 * i + 1);
                if (!encodeMember<Formatters>(key, value)) return false;
            }
        } else {
            for (size_t i = 0; i < n; ++i) {
                if (i && !comma()) return false;
                ns::Object *key, *value;
                if (!Formatters || formatterCalls == calls) key = d->keyAtIndex(i), value = d->valueAtIndex(i);
                else key = heldEntry(level, 2 * i), value = heldEntry(level, 2 * i + 1);
                if (!encodeMember<Formatters>(key, value)) return false;
            }
        }
        if (!close('}')) return false;
        if (Formatters) closeContainer(level);
        --nesting;
        return true;
    }
};

FJSerializer::FJSerializer() = default;
FJSerializer::~FJSerializer() { releaseState(); }

void FJSerializer::releaseState() {
    if (!serializing_) encodeState_.reset();  // the running call frees its state as it ends
}

ns::Ref<ns::Object> FJSerializer::serializeObjectOptionsEncodeOptionBlockDelegateSelectorError(
    ns::Object* object, uint64_t serializeOptions, uint64_t encodeOption, const FJFormatterBlock& block,
    FJSerializerDelegate* delegate, const char* selector, ns::Ref<ns::Error>* error) {
    FJSerializer serializer;
    return serializer.serializeObject(object, serializeOptions, encodeOption, block, delegate, selector, error);
}

ns::Ref<ns::Object> FJSerializer::serializeObject(ns::Object* object, uint64_t serializeOptions,
                                                  uint64_t encodeOption, const FJFormatterBlock& block,
                                                  FJSerializerDelegate* delegate, const char* selector,
                                                  ns::Ref<ns::Error>* error) {
    if (serializing_) {
        // From inside a formatter of the running call, whose state is in
        // use: the nested call is made with state of its own.
        FJSerializer nested;
        return nested.serializeObject(object, serializeOptions, encodeOption, block, delegate, selector, error);
    }
    // Held for the call when a formatter (the caller's code) may run: it may
    // let the serializer go.
    const ns::Ref<FJSerializer> self = block || delegate ? ns::keepAlive(this) : nullptr;
    struct Running {
        bool& flag;
        explicit Running(bool& f) : flag(f) { flag = true; }
        ~Running() { flag = false; }
    } running(serializing_);
    encodeState_.reset();
    try {
        encodeState_ = std::make_unique<FJEncodeState>();
    } catch (const std::bad_alloc&) {
        throw ns::Exception(kMallocException, "Unable to allocate state structure.");
    }
    if (error && *error) *error = nullptr;
    FJEncodeState& s = *encodeState_;
    if (delegate) {
        if (!selector)
            throw ns::Exception(ns::kInvalidArgumentException,
                                "The delegate argument is not NULL, but the selector argument is NULL.");
        FJFormatterBlock implementation = delegate->implementationForSelector(selector);
        if (!implementation)
            throw ns::Exception(ns::kInvalidArgumentException,
                                "The serializeUnsupportedClassesUsingDelegate: delegate does not respond to the "
                                "selector argument.");
        s.delegate = delegate;
        s.selector = selector;
        s.delegateImplementation = std::move(implementation);
    }
    s.block = &block;
    s.serializeOptions = serializeOptions;
    s.encodeOption = encodeOption;
    s.yes = ns::Number::numberWithBool(true).get();
    s.no = ns::Number::numberWithBool(false).get();

    char local[kOutputLocalSize];
    s.out = local;
    s.capacity = sizeof local;
    s.atIndex = 0;
    s.asVector = (encodeOption & FJEncodeAsTypeMask) == FJEncodeAsData;

    ns::Ref<ns::Object> result;
    bool ok = true;
    if (!object) {
        ok = s.fail("Unable to serialize object class %s.", "(null)");
    } else if ((encodeOption & FJEncodeRequireCollection) && !dynamic_cast<ns::Array*>(object) &&
               !dynamic_cast<ns::Dictionary*>(object)) {
        ok = s.fail("Unable to serialize object class %s, expected a NSArray or NSDictionary.", object->className());
    } else if ((encodeOption & FJEncodeRequireString) && !dynamic_cast<ns::String*>(object)) {
        ok = s.fail("Unable to serialize object class %s, expected a NSString.", object->className());
    }
    if (ok) {
        try {
            ok = (block || s.delegateImplementation) ? s.encode<true>(object) : s.encode<false>(object);
        } catch (...) {
            // A container changed while it was written (or a formatter threw):
            // nothing of the call stays behind.
            encodeState_.reset();
            throw;
        }
    }
    if (ok) {
        switch (encodeOption & FJEncodeAsTypeMask) {
            case FJEncodeAsString:
                if (s.onHeap) {
                    s.heapString.resize(s.atIndex);
                    result = ns::String::make(std::move(s.heapString));
                } else {
                    result = ns::String::make(std::string_view(s.out, s.atIndex));
                }
                if (!result) s.fail("Unable to create NSString object");
                break;
            case FJEncodeAsData:
                if (s.onHeap) {
                    s.heapBytes.commit(s.atIndex - s.heapBytes.size());
                    result = ns::Data::make(std::move(s.heapBytes));
                } else {
                    result = ns::Data::make(s.out, s.atIndex);
                }
                if (!result) s.fail("Unable to create NSData object");
                break;
            default:
                s.fail("Unknown encode as type.");
        }
    }
    if (error && s.error) *error = s.error;
    encodeState_.reset();
    return result;
}

}  // namespace json
