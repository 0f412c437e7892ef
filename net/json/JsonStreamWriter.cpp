#include "net/json/JsonStreamWriter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "net/json/JsonCategories.h"
#include "platform/foundation/DecimalDigits.h"
#include "platform/foundation/DoubleFormat.h"
#include "platform/foundation/Null.h"

namespace json {

// ---------------------------------------------------------------------------
// States

#define SHARED_INSTANCE(Class)                 \
    const Class* Class::sharedInstance() {     \
        static const Class instance;           \
        return &instance;                      \
    }

SHARED_INSTANCE(JsonStreamWriterStateStart)
SHARED_INSTANCE(JsonStreamWriterStateComplete)
SHARED_INSTANCE(JsonStreamWriterStateError)
SHARED_INSTANCE(JsonStreamWriterStateObjectStart)
SHARED_INSTANCE(JsonStreamWriterStateObjectKey)
SHARED_INSTANCE(JsonStreamWriterStateObjectValue)
SHARED_INSTANCE(JsonStreamWriterStateArrayStart)
SHARED_INSTANCE(JsonStreamWriterStateArrayValue)

#undef SHARED_INSTANCE

namespace {
template <class State>
const JsonStreamWriterState* next() { return State::sharedInstance(); }

}  // namespace

struct JsonStreamWriter::ContainerStates {
    const JsonStreamWriterState* objectStart = JsonStreamWriterStateObjectStart::sharedInstance();
    const JsonStreamWriterState* objectKey = JsonStreamWriterStateObjectKey::sharedInstance();
    const JsonStreamWriterState* arrayStart = JsonStreamWriterStateArrayStart::sharedInstance();
    const JsonStreamWriterState* arrayValue = JsonStreamWriterStateArrayValue::sharedInstance();
};

// Start: the top-level container moves the stream to complete, after which
// it is closed. Object start and key want a key (a key is separated by ","
// except the first); a value follows ":" (and one space when human
// readable). Array values are separated by ",".
JsonStreamWriterStateStart::JsonStreamWriterStateStart()
    : JsonStreamWriterState({.next = next<JsonStreamWriterStateComplete>}) {}
JsonStreamWriterStateComplete::JsonStreamWriterStateComplete() : JsonStreamWriterState({.closed = true}) {}
JsonStreamWriterStateError::JsonStreamWriterStateError() = default;
JsonStreamWriterStateObjectStart::JsonStreamWriterStateObjectStart()
    : JsonStreamWriterState({.keyOnly = true, .next = next<JsonStreamWriterStateObjectValue>}) {}
JsonStreamWriterStateObjectKey::JsonStreamWriterStateObjectKey()
    : JsonStreamWriterState({.separator = ',', .keyOnly = true, .next = next<JsonStreamWriterStateObjectValue>}) {}
JsonStreamWriterStateObjectValue::JsonStreamWriterStateObjectValue()
    : JsonStreamWriterState({.separator = ':', .spaceOnly = true, .next = next<JsonStreamWriterStateObjectKey>}) {}
JsonStreamWriterStateArrayStart::JsonStreamWriterStateArrayStart()
    : JsonStreamWriterState({.next = next<JsonStreamWriterStateArrayValue>}) {}
JsonStreamWriterStateArrayValue::JsonStreamWriterStateArrayValue() : JsonStreamWriterState({.separator = ','}) {}

bool JsonStreamWriterState::failWith(JsonStreamWriter* writer, const char* message) {
    writer->setError(message);
    return true;
}

void JsonStreamWriterState::appendWhitespace(JsonStreamWriter* writer) const {
    if (traits_.spaceOnly) {
        writer->appendBytes(" ");
        return;
    }
    std::string ws(1 + 2 * writer->stateStack().size(), ' ');
    ws[0] = '\n';
    writer->appendBytes(ws);
}


// ---------------------------------------------------------------------------
// The process-wide cache of quoted and escaped strings.

namespace {

class EscapedStringCache {
public:
    // Only short texts are kept, and at most kMaxEntries of them: the cache
    // is emptied when it is full.
    static constexpr size_t kMaxKeyLength = 256;
    static constexpr size_t kMaxEntries = 4096;

    bool lookup(std::string_view text, std::string* out) {
        if (text.size() > kMaxKeyLength) return false;
        std::lock_guard<std::mutex> g(mutex_);
        auto it = map_.find(text);
        if (it == map_.end()) return false;
        *out = it->second;
        return true;
    }
    void store(std::string_view text, const std::string& escaped) {
        if (text.size() > kMaxKeyLength) return;
        std::lock_guard<std::mutex> g(mutex_);
        if (map_.size() >= kMaxEntries) map_.clear();
        map_.emplace(text, escaped);
    }

private:
    std::mutex mutex_;
    struct TextHash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const { return std::hash<std::string_view>()(s); }
    };
    std::unordered_map<std::string, std::string, TextHash, std::equal_to<>> map_;
};

EscapedStringCache& escapedStringCache() {
    static EscapedStringCache* cache = [] {
        jsonLog("+[JsonStreamWriter initialize] NSCache supported");
        return new EscapedStringCache();  // lives for the process
    }();
    return *cache;
}

bool needsEscape(unsigned char c) { return c < 0x20 || c == '"' || c == '\\'; }

// Whether any byte of the word is below 0x20, a quote or a backslash.
[[gnu::always_inline]] inline bool anyEscapeIn(uint64_t w) {
    constexpr uint64_t ones = 0x0101010101010101ull, highs = 0x8080808080808080ull;
    auto hasZero = [](uint64_t v) { return (v - ones) & ~v & highs; };
    return (hasZero(w ^ (ones * '"')) | hasZero(w ^ (ones * '\\')) | ((w - ones * 0x20) & ~w & highs)) != 0;
}

// Whether a text of at most 16 bytes has nothing to escape: its bytes read
// as two words of overlapping pieces (the short ones filled with a plain
// letter), without a loop.
[[gnu::always_inline]] inline bool shortTextIsClean(const char* p, size_t n) {
    uint64_t a, b;
    if (n >= 8) {
        std::memcpy(&a, p, 8);
        std::memcpy(&b, p + n - 8, 8);
        return !anyEscapeIn(a) && !anyEscapeIn(b);
    }
    constexpr uint64_t letters = 0x6161616161616161ull;
    if (n >= 4) {
        uint32_t x, y;
        std::memcpy(&x, p, 4);
        std::memcpy(&y, p + n - 4, 4);
        return !anyEscapeIn(x | (uint64_t(y) << 32));
    }
    if (n == 0) return true;
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    a = (letters & ~0xFFFFFFull) | u[0] | (uint64_t(u[n / 2]) << 8) | (uint64_t(u[n - 1]) << 16);
    return !anyEscapeIn(a);
}

// Index of the first byte that needs an escape, or the length.
size_t firstEscape(std::string_view text) {
    size_t i = 0, n = text.size();
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    // Eight bytes at a time, the last few as one word of pieces.
    for (; i + 8 <= n; i += 8) {
        uint64_t w;
        std::memcpy(&w, p + i, 8);
        if (anyEscapeIn(w)) break;
    }
    if (i + 8 > n && shortTextIsClean(text.data() + i, n - i)) return n;
    for (; i < n; ++i)
        if (needsEscape(p[i])) return i;
    return n;
}

// Appends the text in double quotes, with only bytes below 0x20, the double
// quote and the backslash replaced; everything else (slash, UTF-8 sequences)
// is copied unchanged. `from` is the first byte that may need an escape.
void appendQuotedAndEscaped(std::string& out, std::string_view text, size_t from) {
    out.reserve(out.size() + text.size() + text.size() / 10 + 2);
    out.push_back('"');
    out.append(text.data(), from);
    size_t run = from;
    for (size_t i = from; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (!needsEscape(c)) continue;
        out.append(text.data() + run, i - run);
        run = i + 1;
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case 0x08: out += "\\b"; break;
            case 0x09: out += "\\t"; break;
            case 0x0A: out += "\\n"; break;
            case 0x0C: out += "\\f"; break;
            case 0x0D: out += "\\r"; break;
            default: {
                static const char hex[] = "0123456789abcdef";
                out += "\\u00";
                out.push_back(hex[c >> 4]);
                out.push_back(hex[c & 0xF]);
            }
        }
    }
    out.append(text.data() + run, text.size() - run);
    out.push_back('"');
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// True when the text is a number as JSON writes it.
bool isJsonNumberText(std::string_view t) {
    size_t i = 0, n = t.size();
    if (i < n && t[i] == '-') ++i;
    if (i >= n || !isDigit(t[i])) return false;
    if (t[i] == '0') {
        ++i;
    } else {
        while (i < n && isDigit(t[i])) ++i;
    }
    if (i < n && t[i] == '.') {
        ++i;
        if (i >= n || !isDigit(t[i])) return false;
        while (i < n && isDigit(t[i])) ++i;
    }
    if (i < n && (t[i] == 'e' || t[i] == 'E')) {
        ++i;
        if (i < n && (t[i] == '+' || t[i] == '-')) ++i;
        if (i >= n || !isDigit(t[i])) return false;
        while (i < n && isDigit(t[i])) ++i;
    }
    return i == n;
}

bool isPlainValue(const ns::Object* o) {
    return ns::as<ns::Dictionary>(o) || ns::as<ns::Array>(o) || ns::as<ns::String>(o) ||
           ns::as<ns::Number>(o) || ns::isNull(o);
}

}  // namespace

// ---------------------------------------------------------------------------
// Writer

JsonStreamWriter::JsonStreamWriter() : state_(JsonStreamWriterStateStart::sharedInstance()) {
    static const ContainerStates states = [] {
        for (const JsonStreamWriterState* state :
             {static_cast<const JsonStreamWriterState*>(JsonStreamWriterStateStart::sharedInstance()),
              static_cast<const JsonStreamWriterState*>(JsonStreamWriterStateComplete::sharedInstance()),
              static_cast<const JsonStreamWriterState*>(JsonStreamWriterStateError::sharedInstance()),
              static_cast<const JsonStreamWriterState*>(JsonStreamWriterStateObjectStart::sharedInstance()),
              static_cast<const JsonStreamWriterState*>(JsonStreamWriterStateObjectKey::sharedInstance()),
              static_cast<const JsonStreamWriterState*>(JsonStreamWriterStateObjectValue::sharedInstance()),
              static_cast<const JsonStreamWriterState*>(JsonStreamWriterStateArrayStart::sharedInstance()),
              static_cast<const JsonStreamWriterState*>(JsonStreamWriterStateArrayValue::sharedInstance())})
            state->resolveNext();
        return ContainerStates{};
    }();
    states_ = &states;
    stateStack_.reserve(32);
    escapedStringCache();  // class set-up, once per process
}

// In the middle of a call: the delegate is handed the piece in place, and
// every write it tries meanwhile is refused (inCall_), so the piece buffer
// stays as it is until the delegate is done with it.
void JsonStreamWriter::flushTreeBytes() {
    if (treeData_) {
        treeData_->commitAppended(static_cast<size_t>(treeNext_ - treeBase_));
        treeBase_ = treeNext_;
        return;
    }
    char* begin = treeBytes_.get();
    if (treeDelegate_ && treeNext_ != begin) {
        handingOn_ = true;  // stays set if the delegate throws: it is handed nothing more
        treeDelegate_->writerAppendBytesLength(this, begin, treeNext_ - begin);
        handingOn_ = false;
    }
    treeNext_ = begin;
    treeEnd_ = begin + kTreeBytesBatch;
    piecesDue_ = false;
}

// The piece buffer is full: it takes more bytes (growing when a value does
// not fit in what it has), and the pieces are handed on where the tree
// write is between two entries (handOnDuePieces).
void JsonStreamWriter::morePieceRoom(size_t length) {
    if (!piecesDue_) {
        piecesDue_ = true;
        ++treeEvents_;
    }
    char* begin = treeBytes_.get();
    const size_t used = static_cast<size_t>(treeNext_ - begin);
    if (used + length > treeBytesCapacity_) {
        const size_t capacity = std::max(2 * treeBytesCapacity_, used + length);
        auto bigger = std::make_unique_for_overwrite<char[]>(capacity);
        std::memcpy(bigger.get(), begin, used);
        treeBytes_ = std::move(bigger);
        treeBytesCapacity_ = capacity;
        begin = treeBytes_.get();
        treeNext_ = begin + used;
    }
    treeEnd_ = begin + treeBytesCapacity_;
}

// Called between two entries of a tree: a delegate without data of its own
// is handed the pieces that are due here, where no entry is in use, with
// the open containers held (it may change the tree); the writer then looks
// up the entries again, as after a proxy.
void JsonStreamWriter::handOnDuePieces() {
    if (!piecesDue_) return;
    holdOpenContainers();
    ++treeEvents_;
    flushTreeBytes();
}

void JsonStreamWriter::makeDataRoom(size_t length) {
    // The data grows by doubling; a piece's worth is asked for at least, so
    // that room is looked up again only every so often.
    char* room = reinterpret_cast<char*>(treeData_->roomToAppend(std::max(length, kTreeBytesBatch)));
    treeBase_ = treeNext_ = room;
    treeEnd_ = room + (treeData_->capacity() - treeData_->length());
}

char* JsonStreamWriter::moreTreeRoom(size_t length) {
    if (treeData_) {
        flushTreeBytes();
        makeDataRoom(length + 16);
    } else {
        morePieceRoom(length + 16);
    }
    return treeNext_;
}

void JsonStreamWriter::appendToFullTree(const void* bytes, size_t length) {
    std::memcpy(moreTreeRoom(length), bytes, length);
    treeNext_ += length;
}

void JsonStreamWriter::settleTreeBytes() {
    if (!treeData_) return;
    flushTreeBytes();
    treeBase_ = treeNext_ = treeEnd_ = nullptr;  // no room: the next write looks it up
}

[[gnu::always_inline]] inline bool JsonStreamWriter::beginValue(bool isKey, bool isOpening) {
    if (state_->isInvalidState(this)) return false;
    if (!isKey && state_->expectingKey(this)) return false;
    state_->appendSeparator(this);
    if (humanReadable_ && (!isOpening || !stateStack_.empty())) state_->appendWhitespace(this);
    return true;
}

// Inlined, with beginValue, where a tree opens a container and a value
// begins: the single writes' calls would otherwise take them out of line
// for every value of a tree (5 % more instructions on the numbers document).
[[gnu::always_inline]] inline bool JsonStreamWriter::openContainer(const JsonStreamWriterState* inner, char bracket) {
    if (!separatorWrittenAtOnce(false) && !beginValue(false, true)) return false;
    stateStack_.push_back(state_);
    state_ = inner;
    if (maxDepth_ && stateStack_.size() > maxDepth_) {
        error_ = "Nested too deep";
        return false;
    }
    appendByte(bracket);
    return true;
}

bool JsonStreamWriter::emitObjectOpen() { return openContainer(states_->objectStart, '{'); }

bool JsonStreamWriter::emitArrayOpen() { return openContainer(states_->arrayStart, '['); }

bool JsonStreamWriter::emitObjectClose() {
    if (state_->isInvalidState(this)) return false;
    // Only an object whose last key has its value may close.
    const ContainerStates& states = *states_;
    if (stateStack_.empty() || (state_ != states.objectStart && state_ != states.objectKey)) {
        error_ = "Unexpected object close";
        return false;
    }
    const JsonStreamWriterState* inner = state_;
    state_ = stateStack_.back();
    stateStack_.pop_back();
    if (humanReadable_) inner->appendWhitespace(this);
    appendByte('}');
    state_->transitionState(this);
    return true;
}

bool JsonStreamWriter::emitArrayClose() {
    if (state_->isInvalidState(this)) return false;
    if (state_->expectingKey(this)) return false;
    const ContainerStates& states = *states_;
    if (stateStack_.empty() || (state_ != states.arrayStart && state_ != states.arrayValue)) {
        error_ = "Unexpected array close";
        return false;
    }
    const JsonStreamWriterState* inner = state_;
    state_ = stateStack_.back();
    stateStack_.pop_back();
    if (humanReadable_) inner->appendWhitespace(this);
    appendByte(']');
    state_->transitionState(this);
    return true;
}

bool JsonStreamWriter::emitNull() {
    if (!beginValue(false, false)) return false;
    appendBytes("null");
    state_->transitionState(this);
    return true;
}

bool JsonStreamWriter::emitBool(bool value) {
    if (!beginValue(false, false)) return false;
    appendBytes(value ? std::string_view("true") : std::string_view("false"));
    state_->transitionState(this);
    return true;
}

bool JsonStreamWriter::emitString(const ns::String* string) {
    if (string && separatorWrittenAtOnce(true)) return writeStringIn(string);
    return writeStringChecked(string);
}

bool JsonStreamWriter::writeStringChecked(const ns::String* string) {
    if (!string) {
        error_ = "JSON serialisation not supported for (null)";
        return false;
    }
    if (!beginValue(true, false)) return false;
    return writeStringIn(string);
}

// The quoted text of a string whose separator is written. A short text with
// nothing to escape is copied here without a call; anything else goes on in
// writeStringSlowly.
bool JsonStreamWriter::writeStringIn(const ns::String* string) {
    std::string_view text = string->utf8();
    const size_t n = text.size();
    if (n <= 16 && n + 18 <= static_cast<size_t>(treeEnd_ - treeNext_) && shortTextIsClean(text.data(), n)) {
        char* out = treeNext_;
        *out++ = '"';
        copyShort(out, text.data(), n);
        out[n] = '"';
        treeNext_ = out + n + 1;
        state_->transitionState(this);
        return true;
    }
    return writeStringSlowly(string);
}

bool JsonStreamWriter::writeStringSlowly(const ns::String* string) {
    std::string_view text = string->utf8();
    size_t from = firstEscape(text);
    // Nothing to escape in a tree: the quoted text is the text itself.
    char* out = from == text.size() && treeDelegate_ ? reserveTreeBytes(text.size() + 2) : nullptr;
    if (!out) return writeStringQuoting(text, from);
    *out++ = '"';
    copyShort(out, text.data(), text.size());
    out[text.size()] = '"';
    treeNext_ = out + text.size() + 1;
    state_->transitionState(this);
    return true;
}

// The rest of writeStringIn: text with escapes, or text where the call has
// no room of its own (no delegate, or room to be looked up again).
bool JsonStreamWriter::writeStringQuoting(std::string_view text, size_t from) {
    scratch_.clear();
    if (from == text.size()) {
        appendQuotedAndEscaped(scratch_, text, from);
    } else {
        EscapedStringCache& cache = escapedStringCache();
        if (!cache.lookup(text, &scratch_)) {
            appendQuotedAndEscaped(scratch_, text, from);
            cache.store(text, scratch_);
        }
    }
    appendBytes(scratch_);
    state_->transitionState(this);
    return true;
}


bool JsonStreamWriter::writeNumberOfKind(const ns::Number* number, JsonValueKind kind) {
    // An integer with room in a tree (where the number formatters may write
    // kNumberRoom bytes) is made here without a call of its own.
    if (kind == JsonValueKind::Number && !number->isBool() && !number->isFloatingPoint() &&
        static_cast<size_t>(treeEnd_ - treeNext_) >= kNumberRoom + 17 && separatorWrittenAtOnce(false)) {
        treeNext_ = number->isUnsigned() ? ns::formatUnsigned(number->unsignedLongLongValue(), treeNext_)
                                         : ns::formatSigned(number->longLongValue(), treeNext_);
        state_->transitionState(this);
        return true;
    }
    return writeNumberChecked(number, kind);
}

bool JsonStreamWriter::writeNumberChecked(const ns::Number* number, JsonValueKind kind) {
    if (number->isBool()) return emitBool(number->boolValue());
    if (!beginValue(false, false)) return false;

    if (kind == JsonValueKind::Decimal) return writeDecimal(number);
    if (number->isFloatingPoint()) return writeDouble(number->doubleValue());
    char buf[kNumberRoom];
    char* out = treeDelegate_ ? reserveTreeBytes(sizeof buf) : nullptr;  // straight into a tree's bytes
    char* at = out ? out : buf;
    char* end = number->isUnsigned() ? ns::formatUnsigned(number->unsignedLongLongValue(), at)
                                     : ns::formatSigned(number->longLongValue(), at);
    finishNumber(out, buf, end);
    return true;
}

// A number formatted at `out` (a tree's bytes) or else in `buf`, ending at `end`.
inline void JsonStreamWriter::finishNumber(char* out, const char* buf, char* end) {
    if (out) treeNext_ = end;
    else append(buf, static_cast<size_t>(end - buf));
    state_->transitionState(this);
}

// A decimal is written as its own exact text when that is a JSON number; any
// other text is judged by its value.
bool JsonStreamWriter::writeDecimal(const ns::Number* number) {
    std::string_view text = static_cast<const ns::DecimalNumber*>(number)->text();
    if (!isJsonNumberText(text)) return writeDouble(number->doubleValue());
    appendBytes(text);
    state_->transitionState(this);
    return true;
}

// Seventeen significant digits, printf's "%.17g".
bool JsonStreamWriter::writeDouble(double d) {
    if (std::isnan(d)) {
        error_ = "NaN is not a valid number in JSON";
        return false;
    }
    if (std::isinf(d)) {
        error_ = d > 0 ? "+Infinity is not a valid number in JSON" : "-Infinity is not a valid number in JSON";
        return false;
    }
    char buf[kNumberRoom];
    char* out = treeDelegate_ ? reserveTreeBytes(sizeof buf) : nullptr;
    finishNumber(out, buf, ns::formatDouble17(d, out ? out : buf));
    return true;
}

// ---------------------------------------------------------------------------
// Calls

// The output of one call: the delegate held, and the call's bytes set up to
// go straight into its data or into the piece buffer. handOn() hands the
// last bytes on, after the call is over; the destructor (also when an
// exception leaves the call) puts the writer back to no call, running none
// of the caller's code.
class JsonStreamWriter::CallScope {
public:
    explicit CallScope(JsonStreamWriter& writer) : writer_(writer), delegate_(writer.delegate_.lock()) {
        JsonStreamWriter& w = writer_;
        w.inCall_ = true;
        w.handingOn_ = false;
        if (!delegate_) return;  // no room: the call's bytes are dropped
        try {
            w.treeDelegate_ = delegate_.get();
            if ((w.treeData_ = delegate_->writerOutputData(&w))) {
                w.treeBase_ = w.treeNext_ = w.treeEnd_ = nullptr;  // room is made by the first write
                return;
            }
            if (!w.treeBytes_) {
                w.treeBytes_ = std::make_unique_for_overwrite<char[]>(kTreeBytesBatch);
                w.treeBytesCapacity_ = kTreeBytesBatch;
            }
        } catch (...) {
            end();  // no destructor runs for a scope that was not made
            throw;
        }
        w.treeNext_ = w.treeBytes_.get();
        w.treeEnd_ = w.treeNext_ + kTreeBytesBatch;
        w.piecesDue_ = false;
    }
    ~CallScope() { end(); }
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;

    // Everything written is counted in the delegate's data or handed to it,
    // as the call's last step: the piece buffer is taken out of the writer
    // first, so a write the delegate makes from here (the call is over)
    // finds a writer with no call running and a buffer of its own.
    void handOn() {
        JsonStreamWriter& w = writer_;
        if (w.treeData_) {
            w.flushTreeBytes();
            end();
            return;
        }
        const size_t length = w.treeDelegate_ ? static_cast<size_t>(w.treeNext_ - w.treeBytes_.get()) : 0;
        std::unique_ptr<char[]> piece = std::move(w.treeBytes_);
        const size_t capacity = w.treeBytesCapacity_;
        w.treeBytesCapacity_ = 0;
        end();
        if (length) delegate_->writerAppendBytesLength(&w, piece.get(), length);
        if (!w.treeBytes_) {  // kept for the next call unless a write from the delegate made another
            w.treeBytes_ = std::move(piece);
            w.treeBytesCapacity_ = capacity;
        }
    }

    // An exception is leaving the call: what was written before it is handed
    // on, unless the delegate is what threw.
    void handOnAfterThrow() {
        if (writer_.handingOn_) return end();
        handOn();
    }

private:
    void end() {
        JsonStreamWriter& w = writer_;
        w.treeDelegate_ = nullptr;
        w.treeData_ = nullptr;
        w.treeBase_ = w.treeNext_ = w.treeEnd_ = nullptr;
        w.piecesDue_ = false;
        w.inCall_ = false;
        w.handingOn_ = false;
    }

    JsonStreamWriter& writer_;
    ns::Ref<JsonStreamWriterDelegate> delegate_;
};

template <class Write>
bool JsonStreamWriter::inCall(Write&& write) {
    if (inCall_) return refuseInCall();
    // Held first, so that it goes last: the delegate may let the writer go.
    const ns::Ref<JsonStreamWriter> self = ns::keepAlive(this);
    CallScope call(*this);
    bool ok;
    try {
        ok = write();
    } catch (...) {
        call.handOnAfterThrow();  // may throw in its turn, in place of the first exception
        throw;
    }
    call.handOn();
    return ok;
}

bool JsonStreamWriter::refuseInCall() {
    error_ = "Writer is busy: a write from inside its own delegate or proxy";
    return false;
}

bool JsonStreamWriter::writeObject(const ns::Dictionary* dict) {
    return inCall([&] { return writeObjectTree(dict); });
}

bool JsonStreamWriter::writeArray(const ns::Array* array) {
    return inCall([&] { return writeArrayTree(array); });
}

bool JsonStreamWriter::writeObjectOpen() {
    return inCall([&] { return emitObjectOpen(); });
}

bool JsonStreamWriter::writeArrayOpen() {
    return inCall([&] { return emitArrayOpen(); });
}

bool JsonStreamWriter::writeObjectClose() {
    return inCall([&] { return emitObjectClose(); });
}

bool JsonStreamWriter::writeArrayClose() {
    return inCall([&] { return emitArrayClose(); });
}

bool JsonStreamWriter::writeNull() {
    return inCall([&] { return emitNull(); });
}

bool JsonStreamWriter::writeBool(bool value) {
    return inCall([&] { return emitBool(value); });
}

bool JsonStreamWriter::writeValue(const ns::Object* value) {
    return inCall([&] { return emitValue(value); });
}

bool JsonStreamWriter::writeString(const ns::String* string) {
    return inCall([&] { return emitString(string); });
}

bool JsonStreamWriter::writeNumber(const ns::Number* number) {
    return inCall([&] {
        if (!number) {
            error_ = "JSON serialisation not supported for (null)";
            return false;
        }
        return writeNumberOfKind(number, kinds_.kindOf(number));
    });
}

bool JsonStreamWriter::appendBytesLength(const void* bytes, size_t length) {
    return inCall([&] {
        append(bytes, length);
        return true;
    });
}

// Containers are read entry by entry while they are written. Before the
// caller's code runs in the middle of a tree (a proxy asked for its value,
// a delegate handed pieces), every container being written gets a reference
// of its own until it is done: code that changes the tree as it is written
// can change what is written but cannot free what is being read.
class JsonStreamWriter::ContainerScope {
public:
    ContainerScope(JsonStreamWriter& writer, const ns::Object* container) : writer_(writer) {
        writer_.openContainers_.push_back({container, false});
    }
    ~ContainerScope() {
        OpenContainer open = writer_.openContainers_.back();
        writer_.openContainers_.pop_back();
        if (open.held) open.container->release();
    }
    ContainerScope(const ContainerScope&) = delete;
    ContainerScope& operator=(const ContainerScope&) = delete;

private:
    JsonStreamWriter& writer_;
};

void JsonStreamWriter::holdOpenContainers() {
    for (OpenContainer& open : openContainers_) {
        if (open.held) continue;
        open.container->retain();
        open.held = true;
    }
}

// An empty container in compact text within the depth limit: its brackets
// and state changes at once, as opening and closing it would make them.
bool JsonStreamWriter::emptyWrittenAtOnce() const {
    return !humanReadable_ && (!maxDepth_ || stateStack_.size() < maxDepth_);
}

bool JsonStreamWriter::writeEmptyContainer(char open, char close) {
    if (!separatorWrittenAtOnce(false) && !beginValue(false, true)) return false;
    appendByte(open);
    appendByte(close);
    state_->transitionState(this);
    return true;
}

bool JsonStreamWriter::writeObjectTree(const ns::Object* object) {
    if (stateStack_.size() >= kMaxTreeDepth) {
        error_ = "Nested too deep";
        return false;
    }
    auto* dict = static_cast<const ns::Dictionary*>(object);
    size_t n = dict->count();
    if (n == 0 && emptyWrittenAtOnce()) return writeEmptyContainer('{', '}');
    ContainerScope scope(*this, dict);
    if (sortKeys_) return writeSortedObject(*dict);
    if (!openContainer(states_->objectStart, '{')) return false;
    uint64_t events = treeEvents_;
    // The entries are read in place where the dictionary keeps them so, and
    // found again after the caller's code ran (it may have changed them).
    const ns::Dictionary::Entry* entries = dict->entriesInMemory();
    for (size_t i = 0; i < n; ++i) {
        const ns::Object* key = entries ? entries[i].first.get() : dict->keyAtIndex(i);
        // The keys of a document are nearly always of one string class.
        if (!key || &typeid(*key) != keyClass_) {
            if (kinds_.kindOf(key) != JsonValueKind::String) {
                // Held: its description is its own code, which may change the tree.
                const ns::Ref<const ns::Object> held(key);
                error_ = "JSON object key must be string: " + ns::describe(held);
                return false;
            }
            keyClass_ = &typeid(*key);
        }
        // A key is always allowed where the last value ended.
        state_->appendSeparator(this);
        if (humanReadable_) state_->appendWhitespace(this);
        if (!writeStringIn(static_cast<const ns::String*>(key))) return false;
        if (!emitValue(entries ? entries[i].second.get() : dict->valueAtIndex(i))) return false;
        if (treeEvents_ != events) {
            handOnDuePieces();
            n = dict->count();
            entries = dict->entriesInMemory();
            events = treeEvents_;
        }
    }
    return emitObjectClose();
}

bool JsonStreamWriter::writeSortedObject(const ns::Dictionary& dict) {
    // A snapshot, sorted: its references keep keys and values alive.
    std::vector<std::pair<ns::Ref<ns::Object>, ns::Ref<ns::Object>>> entries;
    entries.reserve(dict.count());
    for (size_t i = 0; i < dict.count(); ++i)
        entries.emplace_back(ns::Ref<ns::Object>(dict.keyAtIndex(i)), ns::Ref<ns::Object>(dict.valueAtIndex(i)));
    if (!emitObjectOpen()) return false;
    for (const auto& e : entries) {
        if (kinds_.kindOf(e.first.get()) != JsonValueKind::String) {
            error_ = "JSON object key must be string: " + ns::describe(e.first);
            return false;
        }
    }
    std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
        return static_cast<ns::String*>(a.first.get())->compare(*static_cast<ns::String*>(b.first.get())) ==
               ns::ComparisonResult::Ascending;
    });
    for (const auto& e : entries) {
        if (!emitString(static_cast<const ns::String*>(e.first.get()))) return false;
        if (!emitValue(e.second.get())) return false;
        handOnDuePieces();
    }
    return emitObjectClose();
}

bool JsonStreamWriter::writeArrayTree(const ns::Object* object) {
    if (stateStack_.size() >= kMaxTreeDepth) {
        error_ = "Nested too deep";
        return false;
    }
    auto* array = static_cast<const ns::Array*>(object);
    const size_t n = array->count();
    if (n == 0 && emptyWrittenAtOnce()) return writeEmptyContainer('[', ']');
    return writeArrayEntries(array, n);
}

// Kept apart from writeArrayTree, so that an empty array is written without
// this function's frame.
bool JsonStreamWriter::writeArrayEntries(const ns::Array* array, size_t n) {
    ContainerScope scope(*this, array);
    if (!openContainer(states_->arrayStart, '[')) return false;
    uint64_t events = treeEvents_;
    const ns::Ref<ns::Object>* objects = array->objectsInMemory();  // as for dictionaries
    for (size_t i = 0; i < n; ++i) {
        if (!emitValue(objects ? objects[i].get() : array->objectAtIndex(i))) return false;
        if (treeEvents_ != events) {
            handOnDuePieces();
            n = array->count();
            objects = array->objectsInMemory();
            events = treeEvents_;
        }
    }
    return emitArrayClose();
}

bool JsonStreamWriter::emitValue(const ns::Object* value) {
    JsonValueKind kind;
    if (!value || !kinds_.knownKind(value, kind)) return writeOtherValue(value);
    // Strings and numbers by a plain test: a jump table whose target changes
    // from value to value costs a mispredicted indirect branch each time.
    if (kind == JsonValueKind::String) return emitString(static_cast<const ns::String*>(value));
    if (kind == JsonValueKind::Number) return writeNumberOfKind(static_cast<const ns::Number*>(value), kind);
    switch (kind) {
        case JsonValueKind::Dictionary: return writeObjectTree(value);
        case JsonValueKind::Array: return writeArrayTree(value);
        case JsonValueKind::Decimal: return writeNumberOfKind(static_cast<const ns::Number*>(value), kind);
        case JsonValueKind::Null: return emitNull();
        default: return writeOtherValue(value);  // strings and numbers were written above
    }
}

// Kept out of emitValue (classes not yet met, proxies, failures), so that
// the common kinds go on without a frame of their own.
bool JsonStreamWriter::writeOtherValue(const ns::Object* value) {
    // A class met for the first time is classified and written as its kind.
    if (kinds_.kindOf(value) != JsonValueKind::Other) return emitValue(value);
    if (auto* p = dynamic_cast<const JsonProxy*>(value)) return writeProxy(value, p);
    error_ = std::string("JSON serialisation not supported for ") + (value ? value->className() : "(null)");
    return false;
}

bool JsonStreamWriter::writeProxy(const ns::Object* object, const JsonProxy* proxy) {
    ns::Ref<const ns::Object> keep(object);  // the proxy may drop itself from the tree
    holdOpenContainers();
    ++treeEvents_;
    settleTreeBytes();
    ns::Ref<ns::Object> v = proxy->proxyForJson();
    for (int hops = 1;; ++hops) {
        auto* next = dynamic_cast<const JsonProxy*>(v.get());
        if (!next || isPlainValue(v.get())) {
            settleTreeBytes();
            return emitValue(v.get());
        }
        if (hops >= kMaxProxyChain) {
            error_ = std::string("JSON serialisation not supported for ") + v->className();
            return false;
        }
        v = next->proxyForJson();
    }
}

}  // namespace json
