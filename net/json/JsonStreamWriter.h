// The streaming JSON writer. Values and container brackets are written one
// call at a time; the writer checks that they form a valid document (keys are
// strings, one top-level container, bounded nesting), adds separators and,
// on request, the human-readable layout, and hands the bytes to its delegate.
//
// The grammar is a set of stateless singleton state objects
// (JsonStreamWriterState and its subclasses). Every write answers true on
// success and false with error() set; a failing write may already have
// appended its separator. Errors do not change the state.
//
// Each write is one call, and the caller's code it runs (the delegate handed
// bytes, a proxy asked for its value, a key's description) runs inside it:
// meanwhile every write through the same writer is refused ("Writer is
// busy: ..."), and the writer and its delegate are held, so code that lets
// the writer go frees it when the call returns, not in its middle. A call's
// last bytes are handed on as its last step, after it is done: a delegate
// that writes again from there is no longer inside it, and its write
// follows in order. An exception thrown by the delegate or a proxy leaves
// the call; a delegate that threw is handed nothing more of that call.
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
    // A delegate that only collects the bytes at the end of data of its own
    // may answer that data: the bytes of a whole tree (writeObject,
    // writeArray) are then written straight into it, with no piece buffer
    // in between and no call per piece. Everything written so far is in it
    // when the tree is done or has failed, and before a proxy is asked.
    virtual ns::MutableData* writerOutputData(JsonStreamWriter*) { return nullptr; }
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
    friend class JsonStreamWriter;
    static bool failWith(JsonStreamWriter* writer, const char* message);
    // The states name each other, so the state after a value is looked up
    // once, when the first writer is made (resolveNext), not as each state
    // is constructed; a writer then reads it without a test.
    void resolveNext() const {
        if (traits_.next) next_.store(traits_.next(), std::memory_order_relaxed);
    }
    const JsonStreamWriterState* nextState() const { return next_.load(std::memory_order_relaxed); }

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
    // Passes bytes to the delegate as they are (nothing checks that they
    // are JSON). False, with error() set, inside another call.
    bool appendBytesLength(const void* bytes, size_t length);
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

    const std::string& error() const { return error_; }
    void setError(std::string e) { error_ = std::move(e); }

    // Not retained (a call holds it while it runs); the bytes of a call that
    // began without a delegate are dropped.
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
    friend class JsonStreamWriterState;  // appends separators and whitespace

    // The bytes of the running call: into its room, with 16 bytes to spare
    // so that short copies may move whole words (without a delegate there
    // is no room at all, and they are dropped).
    void append(const void* bytes, size_t length) {
        if (length + 16 <= static_cast<size_t>(treeEnd_ - treeNext_)) {
            copyShort(treeNext_, bytes, length);
            treeNext_ += length;
            return;
        }
        if (treeDelegate_) appendToFullTree(bytes, length);
    }
    void appendBytes(std::string_view s) { append(s.data(), s.size()); }
    // One byte (a separator, a bracket): stored at once where the room allows.
    void appendByte(char c) {
        if (static_cast<size_t>(treeEnd_ - treeNext_) > 16) {
            *treeNext_++ = c;
            return;
        }
        append(&c, 1);
    }

    // Runs `write` as one call (see the class comment): the writer and its
    // delegate held, the bytes collected and handed on, writes from inside
    // refused. Public writes are calls; inside one the emit functions below
    // do the work.
    class CallScope;
    template <class Write>
    bool inCall(Write&& write);
    bool refuseInCall();
    bool emitObjectOpen();
    bool emitArrayOpen();
    bool emitObjectClose();
    bool emitArrayClose();
    bool emitNull();
    bool emitBool(bool value);
    bool emitValue(const ns::Object* value);
    bool emitString(const ns::String* string);

    // The common steps before a value: validity and key tests, separator
    // and (human-readable) whitespace.
    bool beginValue(bool isKey, bool isOpening);
    // The same where nothing can fail or be laid out (an open state, compact
    // text, room in a tree): the separator stored at once; false, with
    // nothing done, where beginValue is needed.
    bool separatorWrittenAtOnce(bool isKey) {
        const JsonStreamWriterState::Traits& t = state_->traits_;
        if (t.closed || (t.keyOnly && !isKey) || humanReadable_ || static_cast<size_t>(treeEnd_ - treeNext_) <= 16)
            return false;
        if (t.separator) *treeNext_++ = t.separator;
        return true;
    }
    [[gnu::noinline]] bool writeStringChecked(const ns::String* string);
    [[gnu::noinline]] bool writeStringSlowly(const ns::String* string);
    [[gnu::noinline]] bool writeNumberChecked(const ns::Number* number, JsonValueKind kind);
    bool writeProxy(const ns::Object* object, const JsonProxy* proxy);
    [[gnu::noinline]] bool writeOtherValue(const ns::Object* value);
    bool writeSortedObject(const ns::Dictionary& dict);
    // Hands the tree's bytes written so far on: to the delegate (piece
    // buffer) or counted in its data.
    void flushTreeBytes();
    void appendToFullTree(const void* bytes, size_t length);
    void morePieceRoom(size_t length);
    void handOnDuePieces();
    // Room for `length` more bytes of a tree at treeNext_: more of the
    // output data, or of the piece buffer (whose pieces are then due).
    char* reserveTreeBytes(size_t length) {
        if (length + 16 > static_cast<size_t>(treeEnd_ - treeNext_)) return moreTreeRoom(length);
        return treeNext_;
    }
    char* moreTreeRoom(size_t length);
    // Room for at least `length` bytes at the end of the output data.
    void makeDataRoom(size_t length);
    // Before a proxy is asked: the bytes so far are handed on, and the room
    // in the output data is looked up again afterwards (the proxy may have
    // changed the data).
    void settleTreeBytes();
    bool writeStringIn(const ns::String* string);
    bool writeStringQuoting(std::string_view text, size_t from);
    bool emptyWrittenAtOnce() const;
    bool writeEmptyContainer(char open, char close);
    // Separator, state and bracket of a container about to be written.
    bool openContainer(const JsonStreamWriterState* inner, char bracket);
    bool writeArrayEntries(const ns::Array* array, size_t n);
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
    bool writeObjectTree(const ns::Object* dict);
    bool writeArrayTree(const ns::Object* array);
    bool writeDouble(double d);
    bool writeDecimal(const ns::Number* number);

    // The container states opens and closes compare with, looked up once.
    struct ContainerStates;
    const ContainerStates* states_;

    std::string error_;
    std::vector<const JsonStreamWriterState*> stateStack_;
    const JsonStreamWriterState* state_;
    ns::Weak<JsonStreamWriterDelegate> delegate_;
    // While a call runs (a single write or a whole tree), its bytes go
    // straight into the delegate's output data when it has one (treeData_,
    // from treeBase_ on not yet counted in it), or else collect in
    // treeBytes_ and go to the delegate (looked up once; the call holds it)
    // in pieces, the last when the call is done or has failed. A piece is
    // due once kTreeBytesBatch bytes are collected, and handed on between
    // two entries of a tree (the delegate is the caller's code); a value
    // that does not fit grows the buffer meanwhile.
    JsonStreamWriterDelegate* treeDelegate_ = nullptr;
    ns::MutableData* treeData_ = nullptr;
    static constexpr size_t kTreeBytesBatch = 64 * 1024;  // a piece is due from this size on
    std::unique_ptr<char[]> treeBytes_;
    size_t treeBytesCapacity_ = 0;
    bool piecesDue_ = false;
    char* treeBase_ = nullptr;
    char* treeNext_ = nullptr;  // both nullptr outside a call
    char* treeEnd_ = nullptr;
    std::vector<OpenContainer> openContainers_;
    // Times the caller's code ran in the middle of a tree (proxies asked,
    // pieces handed on) or pieces fell due: the containers being written
    // look up their entries again after each.
    uint64_t treeEvents_ = 0;
    JsonValueKindCache kinds_;
    const std::type_info* keyClass_ = nullptr;  // the class of the last key found to be a string
    std::string scratch_;
    bool inCall_ = false;     // a call is running
    bool handingOn_ = false;  // the delegate is being handed bytes in the middle of a call
    uint64_t maxDepth_ = 32;
    bool sortKeys_ = false;
    bool humanReadable_ = false;
};

inline void JsonStreamWriterState::appendSeparator(JsonStreamWriter* writer) const {
    if (traits_.separator) writer->appendByte(traits_.separator);
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
    ns::MutableData* writerOutputData(JsonStreamWriter*) override { return data_.get(); }
    const ns::Ref<ns::MutableData>& data() const { return data_; }

private:
    ns::Ref<ns::MutableData> data_;
};

// Proxy chains longer than this are refused (a proxy answering itself would
// otherwise never end).
inline constexpr int kMaxProxyChain = 16;

}  // namespace json
