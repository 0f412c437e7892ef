#include "net/json/JSONDecoder.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "net/json/FJArray.h"
#include "net/json/FJDictionary.h"
#include "net/json/FJValuePool.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Null.h"
#include "platform/foundation/Number.h"
#include "platform/foundation/String.h"

namespace json {

namespace {

template <class T>
inline ns::Object* owned(T* p) {
    p->retain();
    return p;
}

struct Shared {
    ns::Object* yes = ns::Number::numberWithBool(true).get();
    ns::Object* no = ns::Number::numberWithBool(false).get();
    ns::Object* null = ns::Null::shared();
    ns::Object* emptyString = ns::String::empty().get();
};
const Shared& shared() {
    static const Shared s;
    return s;
}

ns::Object* makePooledValue(const FJTokenValue& v, FJValuePool& pool) {
    switch (v.type) {
        case FJValueTypeString: return pool.makeString(reinterpret_cast<const char*>(v.bytes), v.size);
        case FJValueTypeLongLong: return pool.makeSigned(v.number.longLongValue);
        case FJValueTypeUnsignedLongLong:
            if (v.number.unsignedLongLongValue <= uint64_t(INT64_MAX)) return pool.makeSigned(v.number.longLongValue);
            return pool.makeUnsigned(v.number.unsignedLongLongValue);
        case FJValueTypeDouble: return pool.makeDouble(v.number.doubleValue);
        default: return nullptr;
    }
}

// A new string or number for the current token, with `references` owned
// references (one for the caller, one more when the cache keeps it).
ns::Object* makeValue(const FJTokenValue& v, uint32_t references, FJValuePool* pool) {
    ns::Object* o;
    if (pool && FJValuePool::holds(sizeof(FJPooledString) + v.size + 1)) {
        o = makePooledValue(v, *pool);
        if (o) o->setInitialReferences(references);
        return o;
    }
    switch (v.type) {
        case FJValueTypeString:
            o = ns::String::allocate(std::string_view(reinterpret_cast<const char*>(v.bytes), v.size));
            break;
        case FJValueTypeLongLong:
            o = new ns::Number(ns::NumberType::LongLong, v.number.longLongValue);
            break;
        case FJValueTypeUnsignedLongLong:
            if (v.number.unsignedLongLongValue <= uint64_t(INT64_MAX))
                o = new ns::Number(ns::NumberType::LongLong, v.number.longLongValue);
            else
                o = new ns::Number(ns::NumberType::UnsignedLongLong, v.number.unsignedLongLongValue, 0);
            break;
        case FJValueTypeDouble:
            o = new ns::Number(ns::NumberType::Double, v.number.doubleValue);
            break;
        default:
            return nullptr;
    }
    o->setInitialReferences(references);
    return o;
}

// Two overlapping loads of width W from each side cover any n from
// sizeof(W) to 2 * sizeof(W) bytes: no loop whose exit changes with the key.
template <class W>
inline bool equalByTwoLoads(const char* a, const uint8_t* b, size_t n) {
    W a0, a1, b0, b1;
    std::memcpy(&a0, a, sizeof(W));
    std::memcpy(&b0, b, sizeof(W));
    std::memcpy(&a1, a + n - sizeof(W), sizeof(W));
    std::memcpy(&b1, b + n - sizeof(W), sizeof(W));
    return ((a0 ^ b0) | (a1 ^ b1)) == 0;
}

// Byte comparison inlined for the short texts that keys mostly are.
inline bool equalBytes(const char* a, const uint8_t* b, size_t n) {
    if (n <= 16 && n >= 8) return equalByTwoLoads<uint64_t>(a, b, n);
    if (n < 8) {
        if (n >= 4) return equalByTwoLoads<uint32_t>(a, b, n);
        if (n >= 2) return equalByTwoLoads<uint16_t>(a, b, n);
        return n == 0 || static_cast<uint8_t>(a[0]) == b[0];
    }
    return std::memcmp(a, b, n) == 0;
}

inline bool slotMatches(const FJTokenCacheItem& item, const FJTokenValue& v) {
    if (item.hash != v.hash || item.size != v.size || item.type != v.type) return false;
    if (v.type == FJValueTypeString) {
        return equalBytes(static_cast<const ns::String*>(item.object)->c_str(), v.bytes, v.size);
    }
    return item.numberBits == v.number.bits;
}

// Strings and numbers go through the decoder's cache. A slot filled by the
// current parse borrows its object (the tree holds it), so neither a hit nor
// the replacement of such a slot costs an atomic count or a visit to the
// replaced object; slots of earlier parses hold a reference of their own.
ns::Object* cachedValue(FJParseState& s) {
    FJTokenValue& v = s.token.value;
    v.shared = false;
    if (v.type == FJValueTypeString && v.size == 0) {
        v.shared = true;
        return owned(shared().emptyString);
    }
    FJTokenCacheItem* target = nullptr;
    FJTokenCacheTag* targetTag = nullptr;
    const size_t mask = s.cacheCount - 1;
    const uint32_t tag = FJCacheTag(v.hash);
    // Probes read the slots' tags, and a slot itself only when its tag
    // matches: the tags stay near, the slots are often a cache miss.
    const size_t step = v.size + v.type + 3;
    for (size_t i = 0; i < 4; ++i) {
        const size_t slot = (v.hash + step * i) & mask;
        FJTokenCacheTag& found = s.cacheTags[slot];
        if (found.tag == 0) {
            target = &s.cache[slot];
            targetTag = &s.cacheTags[slot];
            break;
        }
        FJTokenCacheItem& item = s.cache[slot];
        if (found.tag == tag && slotMatches(item, v)) {
            v.cacheItem = &item;
            if (found.parse != s.parse) {
                v.shared = true;
                return owned(item.object);
            }
            item.object->retainUnpublished();
            return item.object;
        }
        if (!target) {
            target = &item;
            targetTag = &s.cacheTags[slot];
        }
    }
    ns::Object* o = makeValue(v, 1, s.valuePool);
    if (target && o && v.size <= UINT32_MAX) {
        if (targetTag->tag && targetTag->parse != s.parse) target->object->release();
        target->object = o;
        target->hash = v.hash;
        target->size = static_cast<uint32_t>(v.size);
        target->type = static_cast<uint16_t>(v.type);
        if (v.type == FJValueTypeString) target->platformHash = 0;
        else target->numberBits = v.number.bits;
        *targetTag = FJTokenCacheTag{tag, s.parse};
        v.cacheItem = target;
    }
    return o;
}

// At the end of a parse, the slots it filled: after a success each takes a
// reference of its own, unless the values came from the parse's pool (a
// reused decoder then never keeps a pool block alive); after a failure the
// tree is gone and so are the slots' objects.
void settleCache(FJParseState& s, bool succeeded) {
    for (size_t i = 0; i < s.cacheCount; ++i) {
        if (!s.cacheTags[i].tag || s.cacheTags[i].parse != s.parse) continue;
        FJTokenCacheItem& item = s.cache[i];
        if (succeeded && !s.valuePool) {
            item.object->retainUnpublished();
        } else {
            item = FJTokenCacheItem{};
            s.cacheTags[i] = FJTokenCacheTag{};
        }
    }
}

ns::Object* parseArray(FJParseState& s);
ns::Object* parseObject(FJParseState& s);

// The value of the current token (an owned reference), or nullptr.
inline ns::Object* buildValue(FJParseState& s) {
    s.token.value.cacheItem = nullptr;
    // Strings and numbers by a plain test: a jump table whose target changes
    // from token to token costs a mispredicted indirect branch each time.
    const FJTokenType kind = s.token.kind;
    if (kind == FJTokenType::Number || kind == FJTokenType::String) return cachedValue(s);
    switch (kind) {
        case FJTokenType::True: return owned(shared().yes);
        case FJTokenType::False: return owned(shared().no);
        case FJTokenType::Null: return owned(shared().null);
        case FJTokenType::ArrayBegin: return parseArray(s);
        case FJTokenType::ObjectBegin: return parseObject(s);
        default: return nullptr;
    }
}

inline bool isValueToken(FJTokenType k) {
    switch (k) {
        case FJTokenType::Number:
        case FJTokenType::String:
        case FJTokenType::ObjectBegin:
        case FJTokenType::ArrayBegin:
        case FJTokenType::True:
        case FJTokenType::False:
        case FJTokenType::Null: return true;
        default: return false;
    }
}

bool growStack(FJObjectStack& st, size_t requested) {
    size_t g = st.granule ? st.granule : FJObjectStackGranule;
    // Doubling keeps the copies of a long array's entries linear in its length.
    size_t want = (std::max(requested, st.capacity * 2) + g - 1) / g * g;
    if (want <= st.capacity) return true;
    if ((st.flags & FJManagedBuffer::LocationMask) != FJManagedBuffer::Heap) {
        auto* objects = static_cast<ns::Object**>(std::calloc(want, sizeof(ns::Object*)));
        auto* keys = static_cast<ns::Object**>(std::calloc(want, sizeof(ns::Object*)));
        auto* hashes = static_cast<size_t*>(std::calloc(want, sizeof(size_t)));
        if (!objects || !keys || !hashes) {
            std::free(objects);
            std::free(keys);
            std::free(hashes);
            return false;
        }
        std::memcpy(objects, st.objects, st.index * sizeof(ns::Object*));
        std::memcpy(keys, st.keys, st.index * sizeof(ns::Object*));
        std::memcpy(hashes, st.keyHashes, st.index * sizeof(size_t));
        st.objects = objects;
        st.keys = keys;
        st.keyHashes = hashes;
        st.flags = FJManagedBuffer::Heap | FJManagedBuffer::MustFree;
    } else {
        auto* objects = static_cast<ns::Object**>(std::realloc(st.objects, want * sizeof(ns::Object*)));
        if (!objects) return false;
        st.objects = objects;
        auto* keys = static_cast<ns::Object**>(std::realloc(st.keys, want * sizeof(ns::Object*)));
        if (!keys) return false;
        st.keys = keys;
        auto* hashes = static_cast<size_t*>(std::realloc(st.keyHashes, want * sizeof(size_t)));
        if (!hashes) return false;
        st.keyHashes = hashes;
    }
    st.capacity = want;
    return true;
}

void releaseStackFrom(FJObjectStack& st, size_t from) {
    for (size_t i = from; i < st.index; ++i) {
        if (st.objects[i]) st.objects[i]->release();
        if (st.keys[i]) st.keys[i]->release();
        st.objects[i] = nullptr;
        st.keys[i] = nullptr;
    }
    st.index = from;
}

void releaseStack(FJObjectStack& st) {
    if (st.objects) releaseStackFrom(st, 0);
    if ((st.flags & FJManagedBuffer::LocationMask) == FJManagedBuffer::Heap) {
        std::free(st.objects);
        std::free(st.keys);
        std::free(st.keyHashes);
    }
    st.objects = st.keys = nullptr;
    st.keyHashes = nullptr;
    st.capacity = 0;
    st.index = 0;
    st.flags = 0;
}

enum : unsigned { kAcceptValue = 1, kAcceptComma = 2, kAcceptEnd = 4 };

void expectation(FJParseState& s, unsigned accept, const char* valueWord, const char* endWord) {
    const char* words[3];
    int n = 0;
    if (accept & kAcceptValue) words[n++] = valueWord;
    if (accept & kAcceptComma) words[n++] = "a comma";
    if (accept & kAcceptEnd) words[n++] = endWord;
    int len = static_cast<int>(s.token.length);
    const char* text = reinterpret_cast<const char*>(s.token.ptr);
    if (n == 1) FJRecordError(s, "Expected %s, not '%*.*s'", words[0], len, len, text);
    else FJRecordError(s, "Expected %s or %s, not '%*.*s'", words[0], words[1], len, len, text);
}

bool enterNesting(FJParseState& s) {
    if (s.depth >= FJMaxParseDepth) {
        FJRecordError(s, "Arrays and objects are nested more than %zu levels deep.", FJMaxParseDepth);
        return false;
    }
    ++s.depth;
    return true;
}

ns::Object* parseArray(FJParseState& s) {
    if (!enterNesting(s)) return nullptr;
    FJObjectStack& st = s.objectStack;
    const size_t start = st.index;
    unsigned accept = kAcceptValue | kAcceptEnd;
    bool onlyNumbers = true;
    while (s.atIndex < s.length) {
        if (st.capacity - st.index < 4 && !growStack(st, st.capacity + 128)) {
            FJRecordError(s, "Internal error: [array] objectsIndex > %zu, resize failed? %s line #%ld",
                          st.capacity - 4, __FILE__, static_cast<long>(__LINE__));
            break;
        }
        if (!FJReadToken(s)) break;
        FJTokenType kind = s.token.kind;
        if (isValueToken(kind)) {
            if (!(accept & kAcceptValue)) {
                FJRecordError(s, "Unexpected value.");
                break;
            }
            onlyNumbers &= kind == FJTokenType::Number;
            ns::Object* o = buildValue(s);
            if (!o) {
                FJRecordError(s, "Internal error: Object == NULL");
                break;
            }
            st.keys[st.index] = nullptr;
            st.objects[st.index++] = o;
            accept = kAcceptComma | kAcceptEnd;
        } else if (kind == FJTokenType::Comma) {
            if (!(accept & kAcceptComma)) {
                FJRecordError(s, "Unexpected ','.");
                break;
            }
            accept = kAcceptValue;
        } else if (kind == FJTokenType::ArrayEnd) {
            if (!(accept & kAcceptEnd)) {
                FJRecordError(s, "Unexpected ']'.");
                break;
            }
            size_t n = st.index - start;
            ns::Ref<FJArray> a;
            if (onlyNumbers && s.valuePool && !s.mutableCollections)
                a = FJArray::makeAfterPlacedNumbers(st.objects + start, n, *s.valuePool);
            if (!a) a = FJArray::makeWithObjects(st.objects + start, n, s.mutableCollections, s.valuePool);
            st.index = start;  // the array took the references over (or released them)
            --s.depth;
            if (!a) {
                FJRecordError(s, "Internal error: Object == NULL");
                return nullptr;
            }
            return a.leak();
        } else {
            expectation(s, accept, "a value", "a ']'");
            break;
        }
    }
    releaseStackFrom(st, start);
    --s.depth;
    return nullptr;
}

// The slot of the key guess for the member that follows the key `previous`
// (nullptr for a first member) in a dictionary at the current depth: keyed
// by the key before rather than by position, an optional member that one
// object has and the next has not costs a guess or two, not every guess
// after it.
inline FJKeyGuess& keyGuessFor(FJParseState& s, const ns::Object* previous) {
    const uint64_t mixed = (reinterpret_cast<uintptr_t>(previous) + s.depth) * 0x9E3779B97F4A7C15ull;
    return s.keyGuesses[mixed >> 56];
}
static_assert(FJKeyGuessCount == 256, "eight bits of the mixed key");

// When the input at the at index (after any blanks) is exactly the key that
// followed `previous` last time at this depth: that key (an owned reference)
// with its hash, the at index past it. Otherwise nullptr, having moved past
// blanks only. Only keys read without escapes are guessed, so the same input
// bytes are the same key, already checked.
inline ns::Object* guessedKey(FJParseState& s, const ns::Object* previous, size_t& hash) {
    FJSkipLayout(s);
    if (s.atIndex >= s.length || s.input[s.atIndex] != '"') return nullptr;
    const FJKeyGuess& g = keyGuessFor(s, previous);
    if (!g.key) return nullptr;
    const uint8_t* text = s.input + s.atIndex + 1;
    if (s.length - s.atIndex - 1 <= g.size || text[g.size] != '"' || !equalBytes(g.text, text, g.size))
        return nullptr;
    s.atIndex += g.size + 2;
    if (g.shared) g.key->retain();
    else g.key->retainUnpublished();
    hash = g.hash;
    return g.key;
}

// Remembers the key just built as the one after `previous` (see guessedKey).
inline void rememberKey(FJParseState& s, const ns::Object* previous, ns::Object* key, size_t hash) {
    const FJTokenValue& v = s.token.value;
    // Only a key read in place (no escapes, no repairs): its text is its input.
    if (v.bytes != s.token.ptr + 1 || v.size > UINT32_MAX) return;
    keyGuessFor(s, previous) = FJKeyGuess{key, static_cast<const ns::String*>(key)->c_str(), hash,
                                       static_cast<uint32_t>(v.size), v.shared};
}

ns::Object* parseObject(FJParseState& s) {
    if (!enterNesting(s)) return nullptr;
    if (!s.keyGuessesReady) {
        std::memset(static_cast<void*>(s.keyGuesses), 0, FJKeyGuessCount * sizeof(FJKeyGuess));
        s.keyGuessesReady = true;
    }
    FJObjectStack& st = s.objectStack;
    const size_t start = st.index;
    unsigned accept = kAcceptValue | kAcceptEnd;
    const ns::Object* previousKey = nullptr;
    while (s.atIndex < s.length) {
        if (st.capacity - st.index < 4 && !growStack(st, st.capacity + 128)) {
            FJRecordError(s, "Internal error: [dictionary] objectsIndex > %zu, resize failed? %s line #%ld",
                          st.capacity - 4, __FILE__, static_cast<long>(__LINE__));
            break;
        }
        const size_t e = st.index++;
        st.keys[e] = nullptr;
        st.objects[e] = nullptr;
        bool guessed = false;
        if (accept & kAcceptValue) {
            if (ns::Object* key = guessedKey(s, previousKey, st.keyHashes[e])) {
                st.keys[e] = key;
                guessed = true;
            }
        }
        if (!guessed && !FJReadToken(s)) break;
        FJTokenType kind = guessed ? FJTokenType::String : s.token.kind;
        if (kind == FJTokenType::String && (accept & kAcceptValue)) {
            if (!guessed) {
                ns::Object* key = buildValue(s);
                if (!key) {
                    FJRecordError(s, "Internal error: Key == NULL.");
                    break;
                }
                st.keys[e] = key;
                if (FJTokenCacheItem* item = s.token.value.cacheItem) {
                    if (!item->platformHash) item->platformHash = key->hash();
                    st.keyHashes[e] = item->platformHash;
                } else {
                    st.keyHashes[e] = key->hash();
                }
                rememberKey(s, previousKey, key, st.keyHashes[e]);
            }
            previousKey = st.keys[e];
            // The colon, most often right after the key.
            if (s.atIndex < s.length && s.input[s.atIndex] == ':') {
                ++s.atIndex;
            } else {
                if (!FJReadToken(s)) break;
                if (s.token.kind != FJTokenType::Colon) {
                    FJRecordError(s, "Expected ':'.");
                    break;
                }
            }
            if (!FJReadToken(s)) break;
            if (!isValueToken(s.token.kind)) {
                expectation(s, accept, "a value", "a '}'");
                break;
            }
            ns::Object* o = buildValue(s);
            if (!o) {
                FJRecordError(s, "Internal error: Object == NULL.");
                break;
            }
            st.objects[e] = o;
            accept = kAcceptComma | kAcceptEnd;
        } else if (kind == FJTokenType::String) {
            FJRecordError(s, "Unexpected string.");
            break;
        } else if (kind == FJTokenType::Comma) {
            if (!(accept & kAcceptComma)) {
                FJRecordError(s, "Unexpected ','.");
                break;
            }
            st.index = e;
            accept = kAcceptValue;
        } else if (kind == FJTokenType::ObjectEnd) {
            if (!(accept & kAcceptEnd)) {
                FJRecordError(s, "Unexpected '}'.");
                break;
            }
            st.index = e;
            size_t n = st.index - start;
            ns::Ref<FJDictionary> d = FJDictionary::makeWithEntries(st.keys + start, st.objects + start,
                                                                    st.keyHashes + start, n, s.mutableCollections,
                                                                    s.valuePool, s.displaced);
            st.index = start;
            --s.depth;
            if (!d) {
                FJRecordError(s, "Internal error: Object == NULL.");
                return nullptr;
            }
            return d.leak();
        } else {
            expectation(s, accept, "a \"STRING\"", "a '}'");
            break;
        }
    }
    releaseStackFrom(st, start);
    --s.depth;
    return nullptr;
}

// Puts the parse state back to rest at the end of every parse, also when an
// exception (out of memory) leaves a parse early.
struct ParseCleanup {
    FJParseState& s;
    std::vector<ns::Object*> displaced;
    bool succeeded = false;

    ~ParseCleanup() {
        // The cache first takes its references (success); a failed parse
        // first lets its values go, then forgets the slots that borrowed them.
        if (succeeded) settleCache(s, true);
        releaseStack(s.objectStack);
        for (ns::Object* o : displaced) o->release();
        if (!succeeded) settleCache(s, false);
        s.valuePool = nullptr;
        s.displaced = nullptr;
        s.tokenBuffer.release();
        s.input = nullptr;
        s.length = 0;
        s.atIndex = 0;
        s.lineNumber = 1;
        s.lineStart = 0;
        s.error = nullptr;
        s.mutableCollections = false;
        s.depth = 0;
        s.keyGuesses = nullptr;
        s.keyGuessesReady = false;
        s.token = FJParseToken{};
    }
};

}  // namespace

JSONDecoder::JSONDecoder(uint64_t parseOptions) {
    if (parseOptions > FJParseFlagValidFlags)
        throw ns::Exception(ns::kInvalidArgumentException, "Invalid parse options.");
    parseState_ = std::make_unique<FJParseState>();
    parseState_->options = parseOptions;
    parseState_->tokenBuffer.granule = FJTokenBufferGranule;
    parseState_->objectStack.granule = FJObjectStackGranule;
    parseState_->cache = static_cast<FJTokenCacheItem*>(std::calloc(FJTokenCacheSize, sizeof(FJTokenCacheItem)));
    parseState_->cacheTags = static_cast<FJTokenCacheTag*>(std::calloc(FJTokenCacheSize, sizeof(FJTokenCacheTag)));
    if (!parseState_->cache || !parseState_->cacheTags) {
        std::free(parseState_->cache);
        std::free(parseState_->cacheTags);
        throw std::bad_alloc();
    }
    parseState_->cacheCount = FJTokenCacheSize;
}

JSONDecoder::~JSONDecoder() { releaseParseState(); }

ns::Ref<JSONDecoder> JSONDecoder::decoderWithParseOptions(uint64_t parseOptions) {
    return ns::make<JSONDecoder>(parseOptions);
}

uint64_t JSONDecoder::parseOptions() const { return parseState_ ? parseState_->options : 0; }

void JSONDecoder::clearCache() {
    if (!parseState_ || !parseState_->cache) return;
    for (size_t i = 0; i < parseState_->cacheCount; ++i) {
        FJTokenCacheItem& item = parseState_->cache[i];
        if (item.object) item.object->release();
        item = FJTokenCacheItem{};
        parseState_->cacheTags[i] = FJTokenCacheTag{};
    }
}

void JSONDecoder::releaseParseState() {
    if (!parseState_) return;
    clearCache();
    std::free(parseState_->cache);
    std::free(parseState_->cacheTags);
    parseState_.reset();
}

ns::Ref<ns::Object> JSONDecoder::objectWithUTF8StringLengthError(const char* bytes, size_t length,
                                                                 ns::Ref<ns::Error>* error) {
    return parse(bytes, length, false, error);
}

ns::Ref<ns::Object> JSONDecoder::mutableObjectWithUTF8StringLengthError(const char* bytes, size_t length,
                                                                        ns::Ref<ns::Error>* error) {
    return parse(bytes, length, true, error);
}

ns::Ref<ns::Object> JSONDecoder::objectWithDataError(const ns::Data* jsonData, ns::Ref<ns::Error>* error) {
    if (!jsonData) throw ns::Exception(ns::kInvalidArgumentException, "The jsonData argument is NULL.");
    static const char empty = 0;
    const char* bytes = jsonData->length() ? reinterpret_cast<const char*>(jsonData->bytes()) : &empty;
    return parse(bytes, jsonData->length(), false, error);
}

ns::Ref<ns::Object> JSONDecoder::mutableObjectWithDataError(const ns::Data* jsonData, ns::Ref<ns::Error>* error) {
    if (!jsonData) throw ns::Exception(ns::kInvalidArgumentException, "The jsonData argument is NULL.");
    static const char empty = 0;
    const char* bytes = jsonData->length() ? reinterpret_cast<const char*>(jsonData->bytes()) : &empty;
    return parse(bytes, jsonData->length(), true, error);
}

ns::Ref<ns::Object> JSONDecoder::parse(const char* bytes, size_t length, bool mutableCollections,
                                       ns::Ref<ns::Error>* error) {
    if (!parseState_) throw ns::Exception(ns::kInternalInconsistencyException, "parseState is NULL.");
    if (!bytes) throw ns::Exception(ns::kInvalidArgumentException, "The string argument is NULL.");
    FJParseState& s = *parseState_;

    // Scratch storage starts in this call's own frame.
    alignas(16) uint8_t tokenLocal[FJTokenBufferLocalSize];
    ns::Object* stackObjects[FJObjectStackLocalSize];
    ns::Object* stackKeys[FJObjectStackLocalSize];
    size_t stackHashes[FJObjectStackLocalSize];
    FJKeyGuess keyGuesses[FJKeyGuessCount];

    s.tokenBuffer.release();
    releaseStack(s.objectStack);
    // A new parse number; after a wrap, values of the parse that had the
    // same number long ago are counted with atomics like any other.
    if (++s.parse == 0) {
        for (size_t i = 0; i < s.cacheCount; ++i) s.cacheTags[i].parse = 0;
        s.parse = 1;
    }
    FJValuePool valuePool;
    if (length >= FJValuePool::kPooledDocumentsFrom) s.valuePool = &valuePool;
    ParseCleanup cleanup{s, {}};
    s.displaced = &cleanup.displaced;
    s.input = reinterpret_cast<const uint8_t*>(bytes);
    s.length = length;
    s.atIndex = 0;
    s.lineNumber = 1;
    s.lineStart = 0;
    s.error = nullptr;
    s.mutableCollections = mutableCollections;
    s.depth = 0;
    s.keyGuesses = keyGuesses;
    s.keyGuessesReady = false;
    s.tokenBuffer.setLocal(tokenLocal, sizeof tokenLocal, FJTokenBufferGranule);
    s.objectStack.objects = stackObjects;
    s.objectStack.keys = stackKeys;
    s.objectStack.keyHashes = stackHashes;
    s.objectStack.capacity = FJObjectStackLocalSize;
    s.objectStack.index = 0;
    s.objectStack.granule = FJObjectStackGranule;
    s.objectStack.flags = FJManagedBuffer::Local;

    ns::Object* root = nullptr;
    bool failed = true;
    if (length != 0 && FJReadToken(s)) {
        if (s.token.kind != FJTokenType::ArrayBegin && s.token.kind != FJTokenType::ObjectBegin) {
            FJRecordError(s, "Expected either '[' or '{'.");
        } else if ((root = buildValue(s))) {
            failed = false;
            FJSkipWhitespace(s);
            if (s.atIndex < s.length && !(s.options & FJParseFlagTextAfterValue)) {
                FJRecordError(s,
                              "A valid JSON object was parsed but there were additional non-white-space "
                              "characters remaining.");
                root->release();
                root = nullptr;
            }
        }
    }
    cleanup.succeeded = root != nullptr;
    if (failed) {
        if (s.atIndex == s.length) FJRecordError(s, "Reached the end of the buffer.");
        FJRecordError(s, "Unable to parse JSON.");
    }
    if (error && s.error) *error = s.error;
    return ns::Ref<ns::Object>::adopt(root);
}

}  // namespace json
