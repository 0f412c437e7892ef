// The event-driven streaming JSON parser. Bytes are fed with parse() in as
// many pieces as the caller likes; the parser reports what it finds to its
// delegate (object and array starts and ends, keys and plain values) and
// answers whether the document is complete, needs more bytes, or is broken.
//
// The grammar is a set of stateless singleton state objects
// (JsonStreamParserState and its subclasses). Opening a container pushes the
// current state; closing it pops that state back and applies its transition,
// so a nested container counts as one value of its parent. Nesting is
// limited by maxDepth (32 by default) and the parser never recurses, so deep
// input ends in an error, not in a stack overflow. Only an array or an object
// is accepted at the top level.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "net/json/JsonTokeniser.h"
#include "platform/foundation/Data.h"
#include "platform/foundation/Number.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/String.h"

namespace json {

class JsonStreamParser;

// Status answered by JsonStreamParser::parse.
enum JsonStreamParserStatus : int32_t {
    JsonStreamParserComplete = 0,
    JsonStreamParserWaitingForData = 1,
    JsonStreamParserError = 2,
};

// Receives the parser's events, in document order. Keys, strings and numbers
// are handed over: the parser keeps no reference of its own, so a delegate
// that keeps one moves it instead of counting another.
class JsonStreamParserDelegate : public virtual ns::Object {
public:
    virtual void parserFoundObjectStart(JsonStreamParser* parser) = 0;
    virtual void parserFoundObjectKey(JsonStreamParser* parser, ns::Ref<ns::String> key) = 0;
    virtual void parserFoundObjectEnd(JsonStreamParser* parser) = 0;
    virtual void parserFoundArrayStart(JsonStreamParser* parser) = 0;
    virtual void parserFoundArrayEnd(JsonStreamParser* parser) = 0;
    virtual void parserFoundBoolean(JsonStreamParser* parser, bool value) = 0;
    virtual void parserFoundNull(JsonStreamParser* parser) = 0;
    virtual void parserFoundNumber(JsonStreamParser* parser, ns::Ref<ns::Number> number) = 0;
    virtual void parserFoundString(JsonStreamParser* parser, ns::Ref<ns::String> string) = 0;
};

// ---------------------------------------------------------------------------
// Grammar states. Each is a stateless singleton shared by every parser.

class JsonStreamParserState {
public:
    virtual ~JsonStreamParserState() = default;
    // The base class has no instance of its own.
    static const JsonStreamParserState* sharedInstance() { return nullptr; }

    virtual bool parserShouldAcceptToken(JsonStreamParser* parser, int32_t token) const { return false; }
    // Status parse() answers when the input runs out in this state.
    virtual int32_t parserShouldReturn(JsonStreamParser* parser) const { return JsonStreamParserWaitingForData; }
    // Moves the parser on after `token` was handled in this state.
    virtual void parserShouldTransitionTo(JsonStreamParser* parser, int32_t token) const {}
    // True where the next string is an object key.
    virtual bool needKey() const { return false; }
    // Used in error messages ("at beginning of object").
    virtual const char* name() const { return "<aaiie!>"; }
};

class JsonStreamParserStateStart final : public JsonStreamParserState {
public:
    static const JsonStreamParserStateStart* sharedInstance();
    bool parserShouldAcceptToken(JsonStreamParser* parser, int32_t token) const override;
    void parserShouldTransitionTo(JsonStreamParser* parser, int32_t token) const override;
    const char* name() const override;
};

class JsonStreamParserStateComplete final : public JsonStreamParserState {
public:
    static const JsonStreamParserStateComplete* sharedInstance();
    int32_t parserShouldReturn(JsonStreamParser* parser) const override;
    const char* name() const override;
};

class JsonStreamParserStateError final : public JsonStreamParserState {
public:
    static const JsonStreamParserStateError* sharedInstance();
    int32_t parserShouldReturn(JsonStreamParser* parser) const override;
    const char* name() const override;
};

class JsonStreamParserStateObjectStart final : public JsonStreamParserState {
public:
    static const JsonStreamParserStateObjectStart* sharedInstance();
    bool parserShouldAcceptToken(JsonStreamParser* parser, int32_t token) const override;
    void parserShouldTransitionTo(JsonStreamParser* parser, int32_t token) const override;
    bool needKey() const override { return true; }
    const char* name() const override;
};

class JsonStreamParserStateObjectGotKey final : public JsonStreamParserState {
public:
    static const JsonStreamParserStateObjectGotKey* sharedInstance();
    bool parserShouldAcceptToken(JsonStreamParser* parser, int32_t token) const override;
    void parserShouldTransitionTo(JsonStreamParser* parser, int32_t token) const override;
    const char* name() const override;
};

class JsonStreamParserStateObjectSeparator final : public JsonStreamParserState {
public:
    static const JsonStreamParserStateObjectSeparator* sharedInstance();
    bool parserShouldAcceptToken(JsonStreamParser* parser, int32_t token) const override;
    void parserShouldTransitionTo(JsonStreamParser* parser, int32_t token) const override;
    const char* name() const override;
};

class JsonStreamParserStateObjectGotValue final : public JsonStreamParserState {
public:
    static const JsonStreamParserStateObjectGotValue* sharedInstance();
    bool parserShouldAcceptToken(JsonStreamParser* parser, int32_t token) const override;
    void parserShouldTransitionTo(JsonStreamParser* parser, int32_t token) const override;
    const char* name() const override;
};

class JsonStreamParserStateObjectNeedKey final : public JsonStreamParserState {
public:
    static const JsonStreamParserStateObjectNeedKey* sharedInstance();
    bool parserShouldAcceptToken(JsonStreamParser* parser, int32_t token) const override;
    void parserShouldTransitionTo(JsonStreamParser* parser, int32_t token) const override;
    bool needKey() const override { return true; }
    const char* name() const override;
};

class JsonStreamParserStateArrayStart final : public JsonStreamParserState {
public:
    static const JsonStreamParserStateArrayStart* sharedInstance();
    bool parserShouldAcceptToken(JsonStreamParser* parser, int32_t token) const override;
    void parserShouldTransitionTo(JsonStreamParser* parser, int32_t token) const override;
    const char* name() const override;
};

class JsonStreamParserStateArrayGotValue final : public JsonStreamParserState {
public:
    static const JsonStreamParserStateArrayGotValue* sharedInstance();
    bool parserShouldAcceptToken(JsonStreamParser* parser, int32_t token) const override;
    void parserShouldTransitionTo(JsonStreamParser* parser, int32_t token) const override;
    const char* name() const override;
};

class JsonStreamParserStateArrayNeedValue final : public JsonStreamParserState {
public:
    static const JsonStreamParserStateArrayNeedValue* sharedInstance();
    bool parserShouldAcceptToken(JsonStreamParser* parser, int32_t token) const override;
    void parserShouldTransitionTo(JsonStreamParser* parser, int32_t token) const override;
    const char* name() const override;
};


// ---------------------------------------------------------------------------

// The deepest nesting any parser may be set to accept: the object model
// releases nested containers recursively, and a tree this deep is released
// in well under a megabyte of stack (the tree writers stop at the same
// depth, so whatever is read can be written back).
inline constexpr uint64_t kMaxDepthCeiling = 1024;

class JsonStreamParser : public ns::Object {
public:
    JsonStreamParser();
    const char* className() const override { return "JsonStreamParser"; }

    // Appends the bytes and parses as far as they go. Answers
    // JsonStreamParserComplete once the top-level container has closed (only
    // whitespace may follow), JsonStreamParserWaitingForData when more bytes
    // are needed, and JsonStreamParserError with error() set on bad input;
    // once in error every further call answers JsonStreamParserError at once.
    // Called from inside its own delegate it answers JsonStreamParserError
    // with error() set and takes nothing ("Parser is busy: ..."), leaving
    // the running parse as it was. The parser and its delegate are held
    // while it runs: a delegate that lets the parser go frees it when the
    // call returns.
    int32_t parse(const void* bytes, size_t length);
    int32_t parse(const ns::Data* data) {
        return data ? parse(data->bytes(), data->length()) : parse(nullptr, 0);
    }

    // With this set the parser goes back to the start state after each
    // top-level container, so a stream of documents can be fed (default off).
    bool supportMultipleDocuments() const { return supportMultipleDocuments_; }
    void setSupportMultipleDocuments(bool v) { supportMultipleDocuments_ = v; }

    // Not retained (a parse holds it while it runs); events are dropped
    // while no delegate is set.
    ns::Ref<JsonStreamParserDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const ns::Ref<JsonStreamParserDelegate>& d) { delegate_ = d; }

    // Containers open at once; the (maxDepth+1)th is refused. Default 32;
    // a larger value than kMaxDepthCeiling sets kMaxDepthCeiling.
    uint64_t maxDepth() const { return maxDepth_; }
    void setMaxDepth(uint64_t v) { maxDepth_ = v < kMaxDepthCeiling ? v : kMaxDepthCeiling; }

    const std::string& error() const { return error_; }
    void setError(std::string e) { error_ = std::move(e); }

    const JsonStreamParserState* state() const { return state_; }
    void setState(const JsonStreamParserState* s) { state_ = s; }
    const std::vector<const JsonStreamParserState*>& stateStack() const { return stateStack_; }
    JsonTokeniser& tokeniser() { return tokeniser_; }

private:
    int32_t parseAppended(const void* bytes, size_t length, JsonStreamParserDelegate* d);

    bool parsing_ = false;  // a parse call is running
    bool supportMultipleDocuments_ = false;
    ns::Weak<JsonStreamParserDelegate> delegate_;
    JsonTokeniser tokeniser_;
    std::vector<const JsonStreamParserState*> stateStack_;
    const JsonStreamParserState* state_;
    uint64_t maxDepth_ = 32;
    std::string error_;
};

}  // namespace json
