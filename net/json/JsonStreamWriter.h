// The streaming JSON writer. Values and container brackets are written one
// call at a time; the writer checks that they form a valid document (keys are
// strings, one top-level container, bounded nesting), adds separators and,
// on request, the human-readable layout, and hands the bytes to its delegate.
//
// The grammar is a set of stateless singleton state objects
// (JsonStreamWriterState and its subclasses). Every write answers true on
// success and false with error() set; a failing write may already have
// appended its separator. Errors do not change the state.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "net/json/JsonValueKind.h"
#include "platform/foundation/Array.h"
#include "platform/foundation/Data.h"
#include "platform/foundation/Dictionary.h"
#include "platform/foundation/Number.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/String.h"

namespace json {

class JsonStreamWriter;

// Receives the written bytes in order.
class JsonStreamWriterDelegate : public virtual ns::Object {
public:
    virtual void writerAppendBytesLength(JsonStreamWriter* writer, const void* bytes, size_t length) = 0;
};

// An object that is neither array, dictionary, string, number nor null can
// derive from this to be written as the value proxyForJson() answers.
class JsonProxy {
public:
    virtual ~JsonProxy() = default;
    virtual ns::Ref<ns::Object> proxyForJson() const = 0;
};

// ---------------------------------------------------------------------------
// Grammar states, each a stateless singleton shared by every writer. A state
// is described by data (its separator, whether it is closed or wants a key,
// its whitespace, the state it moves to), so the writer asks it without
// virtual calls.

class JsonStreamWriterState {
public:
    // The base class has no instance of its own.
    static const JsonStreamWriterState* sharedInstance() { return nullptr; }

    // True (with the writer's error set) where nothing more may be written.
    bool isInvalidState(JsonStreamWriter* writer) const {
        return traits_.closed && failWith(writer, "Stream is closed");
    }
    // True (with the writer's error set) where only a key may be written.
    bool expectingKey(JsonStreamWriter* writer) const {
        return traits_.keyOnly && failWith(writer, "JSON object key must be string");
    }
    inline void appendSeparator(JsonStreamWriter* writer) const;
    // A line feed and two spaces for every open container (one space after a key).
    void appendWhitespace(JsonStreamWriter* writer) const;
    inline void transitionState(JsonStreamWriter* writer) const;

protected:
    using Next = const JsonStreamWriterState* (*)();
    struct Traits {
        char separator = 0;       // written before a value, 0 for none
        bool closed = false;      // "Stream is closed"
        bool keyOnly = false;     // "JSON object key must be string"
        bool spaceOnly = false;   // whitespace is one space
        Next next = nullptr;      // the state after a value; nullptr stays
    };
    constexpr JsonStreamWriterState() = default;
    explicit JsonStreamWriterState(Traits t) : traits_(t), next_(nullptr) {}

private:
    static bool failWith(JsonStreamWriter* writer, const char* message);
    const JsonStreamWriterState* nextState() const {
        // Looked up on first use: the states name each other.
        const JsonStreamWriterState* n = next_.load(std::memory_order_acquire);
        if (!n && traits_.next) next_.store(n = traits_.next(), std::memory_order_release);
        return n;
    }

    Traits traits_;
    mutable std::atomic<const JsonStreamWriterState*> next_{nullptr};
};

#define JSON_WRITER_STATE(Class)                    \
    class Class : public JsonStreamWriterState {    \
    public:                                         \
        static const Class* sharedInstance();       \
        Class();                                    \
    };

JSON_WRITER_STATE(JsonStreamWriterStateStart)
JSON_WRITER_STATE(JsonStreamWriterStateComplete)
JSON_WRITER_STATE(JsonStreamWriterStateError)
JSON_WRITER_STATE(JsonStreamWriterStateObjectStart)
JSON_WRITER_STATE(JsonStreamWriterStateObjectKey)
JSON_WRITER_STATE(JsonStreamWriterStateObjectValue)
JSON_WRITER_STATE(JsonStreamWriterStateArrayStart)
JSON_WRITER_STATE(JsonStreamWriterStateArrayValue)

#undef JSON_WRITER_STATE

// ---------------------------------------------------------------------------

class JsonStreamWriter : public ns::Object {
public:
    JsonStreamWriter();
    const char* className() const override { return "JsonStreamWriter"; }

    // Whole trees. Keys are written in the dictionary's own order, or sorted
    // by text with sortKeys. Fail on the first value that cannot be written.
    bool writeObject(const ns::Dictionary* dict);
    bool writeArray(const ns::Array* array);
    bool writeObjectOpen();
    bool writeObjectClose();
    bool writeArrayOpen();
    bool writeArrayClose();
    bool writeNull();
    bool writeBool(bool value);
    // Any supported value: dictionary, array, string, number, null, or an
    // object that answers proxyForJson.
    bool writeValue(const ns::Object* value);
    bool writeString(const ns::String* string);
    // Booleans as true/false; infinities and not-a-number are refused.
    bool writeNumber(const ns::Number* number);
    // Passes bytes to the delegate.
    void appendBytesLength(const void* bytes, size_t length) {
        if (!treeDelegate_) return sendBytes(bytes, length);
        if (length + 16 > static_cast<size_t>(treeEnd_ - treeNext_)) return appendToFullTree(bytes, length);
        copyShort(treeNext_, bytes, length);
        treeNext_ += length;
    }
    // Copies `length` bytes to `to`, which has 16 bytes of room past them:
    // short runs (tokens, keys) without a library call.
    static void copyShort(char* to, const void* from, size_t length) {
        if (length > 16) return static_cast<void>(std::memcpy(to, from, length));
        const char* f = static_cast<const char*>(from);
        if (length >= 8) {
            uint64_t a, b;
            std::memcpy(&a, f, 8);
            std::memcpy(&b, f + length - 8, 8);
            std::memcpy(to, &a, 8);
            std::memcpy(to + length - 8, &b, 8);
        } else if (length >= 4) {
            uint32_t a, b;
            std::memcpy(&a, f, 4);
            std::memcpy(&b, f + length - 4, 4);
            std::memcpy(to, &a, 4);
            std::memcpy(to + length - 4, &b, 4);
        } else if (length) {
            // One to three bytes: the first, the middle and the last.
            char first = f[0], middle = f[length / 2], last = f[length - 1];
            to[0] = first;
            to[length / 2] = middle;
            to[length - 1] = last;
        }
    }
    void appendBytes(std::string_view s) { appendBytesLength(s.data(), s.size()); }

    const std::string& error() const { return error_; }
    void setError(std::string e) { error_ = std::move(e); }

    // Not retained; bytes are dropped while no delegate is set.
    ns::Ref<JsonStreamWriterDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const ns::Ref<JsonStreamWriterDelegate>& d) { delegate_ = d; }

    // Containers open at once; 0 means no limit of the caller's. The tree
    // writers (writeObject, writeArray) never go deeper than
    // kMaxTreeDepth whatever this says, so a cyclic tree cannot overflow
    // the stack. Default 32.
    uint64_t maxDepth() const { return maxDepth_; }
    void setMaxDepth(uint64_t v) { maxDepth_ = v; }
    static constexpr size_t kMaxTreeDepth = 1024;

    bool sortKeys() const { return sortKeys_; }
    void setSortKeys(bool v) { sortKeys_ = v; }
    bool humanReadable() const { return humanReadable_; }
    void setHumanReadable(bool v) { humanReadable_ = v; }

    const JsonStreamWriterState* state() const { return state_; }
    void setState(const JsonStreamWriterState* s) { state_ = s; }
    const std::vector<const JsonStreamWriterState*>& stateStack() const { return stateStack_; }

private:
    // The common steps before a value: validity and key tests, separator
    // and (human-readable) whitespace.
    bool beginValue(bool isKey, bool isOpening);
    bool writeProxy(const ns::Object* object, const JsonProxy* proxy);
    bool writeSortedObject(const ns::Dictionary& dict);
    void sendBytes(const void* bytes, size_t length);
    void flushTreeBytes();
    void appendToFullTree(const void* bytes, size_t length);
    // Room for `length` more bytes of a tree at treeNext_ (the pieces already
    // collected handed on first when needed); nullptr when the bytes are too
    // many for the piece buffer.
    char* reserveTreeBytes(size_t length) {
        if (length + 16 > static_cast<size_t>(treeEnd_ - treeNext_)) {
            flushTreeBytes();
            if (length + 16 > kTreeBytesBatch) return nullptr;
        }
        return treeNext_;
    }
    bool writeStringIn(const ns::String* string);
    bool writeStringQuoting(std::string_view text, size_t from);
    bool emptyWrittenAtOnce() const;
    bool writeEmptyContainer(std::string_view brackets);
    bool writeNumberOfKind(const ns::Number* number, JsonValueKind kind);
    static constexpr size_t kNumberRoom = 48;  // what the number formatters may write
    void finishNumber(char* out, const char* buf, char* end);
    // The containers a tree write is inside, each referenced only once a
    // proxy (which may change the tree) is about to be asked for its value.
    struct OpenContainer {
        const ns::Object* container;
        bool held;
    };
    class ContainerScope;
    void holdOpenContainers();
    bool writeTree(const ns::Object* root, bool (JsonStreamWriter::*write)(const ns::Object*));
    bool writeObjectTree(const ns::Object* dict);
    bool writeArrayTree(const ns::Object* array);
    bool writeDouble(double d);
    bool writeDecimal(const ns::Number* number);

    std::string error_;
    std::vector<const JsonStreamWriterState*> stateStack_;
    const JsonStreamWriterState* state_;
    ns::Weak<JsonStreamWriterDelegate> delegate_;
    // While a whole tree is written, its bytes collect in treeBytes_ and go
    // to the delegate (looked up once; writeTree holds it) in pieces, the
    // last when the tree is done or has failed.
    JsonStreamWriterDelegate* treeDelegate_ = nullptr;
    static constexpr size_t kTreeBytesBatch = 64 * 1024;  // handed on in pieces of at most this size
    std::unique_ptr<char[]> treeBytes_;
    char* treeNext_ = nullptr;
    char* treeEnd_ = nullptr;
    std::vector<OpenContainer> openContainers_;
    uint64_t proxiesAsked_ = 0;  // proxies asked for their value so far
    JsonValueKindCache kinds_;
    std::string scratch_;
    uint64_t maxDepth_ = 32;
    bool sortKeys_ = false;
    bool humanReadable_ = false;
};

inline void JsonStreamWriterState::appendSeparator(JsonStreamWriter* writer) const {
    if (traits_.separator) writer->appendBytesLength(&traits_.separator, 1);
}

inline void JsonStreamWriterState::transitionState(JsonStreamWriter* writer) const {
    if (traits_.next) writer->setState(nextState());
}

// Collects the written bytes.
class JsonStreamWriterAccumulator final : public JsonStreamWriterDelegate {
public:
    JsonStreamWriterAccumulator() : data_(ns::MutableData::make(8096)) {}
    const char* className() const override { return "JsonStreamWriterAccumulator"; }
    void writerAppendBytesLength(JsonStreamWriter*, const void* bytes, size_t length) override {
        data_->appendBytes(bytes, length);
    }
    const ns::Ref<ns::MutableData>& data() const { return data_; }

private:
    ns::Ref<ns::MutableData> data_;
};

// Proxy chains longer than this are refused (a proxy answering itself would
// otherwise never end).
inline constexpr int kMaxProxyChain = 16;

}  // namespace json
