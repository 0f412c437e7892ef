#include "net/json/JsonStreamParser.h"

#include <cstdio>

namespace json {

// ---------------------------------------------------------------------------
// States

#define SHARED_INSTANCE(Class)                 \
    const Class* Class::sharedInstance() {     \
        static const Class instance;           \
        return &instance;                      \
    }

SHARED_INSTANCE(JsonStreamParserStateStart)
SHARED_INSTANCE(JsonStreamParserStateComplete)
SHARED_INSTANCE(JsonStreamParserStateError)
SHARED_INSTANCE(JsonStreamParserStateObjectStart)
SHARED_INSTANCE(JsonStreamParserStateObjectGotKey)
SHARED_INSTANCE(JsonStreamParserStateObjectSeparator)
SHARED_INSTANCE(JsonStreamParserStateObjectGotValue)
SHARED_INSTANCE(JsonStreamParserStateObjectNeedKey)
SHARED_INSTANCE(JsonStreamParserStateArrayStart)
SHARED_INSTANCE(JsonStreamParserStateArrayGotValue)
SHARED_INSTANCE(JsonStreamParserStateArrayNeedValue)

#undef SHARED_INSTANCE

namespace {
// Token kinds that can start a value inside a container.
bool isValueToken(int32_t t) {
    switch (t) {
        case JsonTokenArrayStart:
        case JsonTokenObjectStart:
        case JsonTokenNumber:
        case JsonTokenString:
        case JsonTokenTrue:
        case JsonTokenFalse:
        case JsonTokenNull:
            return true;
        default:
            return false;
    }
}
}  // namespace

// Start
const char* JsonStreamParserStateStart::name() const { return "before outer-most array or object"; }
bool JsonStreamParserStateStart::parserShouldAcceptToken(JsonStreamParser*, int32_t t) const {
    return t == JsonTokenArrayStart || t == JsonTokenObjectStart;
}
void JsonStreamParserStateStart::parserShouldTransitionTo(JsonStreamParser* parser, int32_t t) const {
    switch (t) {
        case JsonTokenArrayStart: parser->setState(JsonStreamParserStateArrayStart::sharedInstance()); break;
        case JsonTokenObjectStart: parser->setState(JsonStreamParserStateObjectStart::sharedInstance()); break;
        case JsonTokenArrayEnd:
        case JsonTokenObjectEnd:
            // The outer-most container has closed.
            if (!parser->supportMultipleDocuments())
                parser->setState(JsonStreamParserStateComplete::sharedInstance());
            break;
        case JsonTokenEOF: break;
        default: parser->setState(JsonStreamParserStateError::sharedInstance()); break;
    }
}

// Complete
const char* JsonStreamParserStateComplete::name() const { return "after outer-most array or object"; }
int32_t JsonStreamParserStateComplete::parserShouldReturn(JsonStreamParser*) const {
    return JsonStreamParserComplete;
}

// Error
const char* JsonStreamParserStateError::name() const { return "in error"; }
int32_t JsonStreamParserStateError::parserShouldReturn(JsonStreamParser*) const { return JsonStreamParserError; }

// Object start
const char* JsonStreamParserStateObjectStart::name() const { return "at beginning of object"; }
bool JsonStreamParserStateObjectStart::parserShouldAcceptToken(JsonStreamParser*, int32_t t) const {
    return t == JsonTokenObjectEnd || t == JsonTokenString;
}
void JsonStreamParserStateObjectStart::parserShouldTransitionTo(JsonStreamParser* parser, int32_t) const {
    parser->setState(JsonStreamParserStateObjectGotKey::sharedInstance());
}

// Object got key
const char* JsonStreamParserStateObjectGotKey::name() const { return "after object key"; }
bool JsonStreamParserStateObjectGotKey::parserShouldAcceptToken(JsonStreamParser*, int32_t t) const {
    return t == JsonTokenKeyValueSeparator;
}
void JsonStreamParserStateObjectGotKey::parserShouldTransitionTo(JsonStreamParser* parser, int32_t) const {
    parser->setState(JsonStreamParserStateObjectSeparator::sharedInstance());
}

// Object separator
const char* JsonStreamParserStateObjectSeparator::name() const { return "as object value"; }
bool JsonStreamParserStateObjectSeparator::parserShouldAcceptToken(JsonStreamParser*, int32_t t) const {
    return isValueToken(t);
}
void JsonStreamParserStateObjectSeparator::parserShouldTransitionTo(JsonStreamParser* parser, int32_t) const {
    parser->setState(JsonStreamParserStateObjectGotValue::sharedInstance());
}

// Object got value
const char* JsonStreamParserStateObjectGotValue::name() const { return "after object value"; }
bool JsonStreamParserStateObjectGotValue::parserShouldAcceptToken(JsonStreamParser*, int32_t t) const {
    return t == JsonTokenObjectEnd || t == JsonTokenValueSeparator;
}
void JsonStreamParserStateObjectGotValue::parserShouldTransitionTo(JsonStreamParser* parser, int32_t) const {
    parser->setState(JsonStreamParserStateObjectNeedKey::sharedInstance());
}

// Object need key
const char* JsonStreamParserStateObjectNeedKey::name() const { return "in place of object key"; }
bool JsonStreamParserStateObjectNeedKey::parserShouldAcceptToken(JsonStreamParser*, int32_t t) const {
    return t == JsonTokenString;
}
void JsonStreamParserStateObjectNeedKey::parserShouldTransitionTo(JsonStreamParser* parser, int32_t) const {
    parser->setState(JsonStreamParserStateObjectGotKey::sharedInstance());
}

// Array start
const char* JsonStreamParserStateArrayStart::name() const { return "at array start"; }
bool JsonStreamParserStateArrayStart::parserShouldAcceptToken(JsonStreamParser*, int32_t t) const {
    return t == JsonTokenArrayEnd || isValueToken(t);
}
void JsonStreamParserStateArrayStart::parserShouldTransitionTo(JsonStreamParser* parser, int32_t) const {
    parser->setState(JsonStreamParserStateArrayGotValue::sharedInstance());
}

// Array got value
const char* JsonStreamParserStateArrayGotValue::name() const { return "after array value"; }
bool JsonStreamParserStateArrayGotValue::parserShouldAcceptToken(JsonStreamParser*, int32_t t) const {
    return t == JsonTokenArrayEnd || t == JsonTokenValueSeparator;
}
void JsonStreamParserStateArrayGotValue::parserShouldTransitionTo(JsonStreamParser* parser, int32_t t) const {
    if (t == JsonTokenValueSeparator) parser->setState(JsonStreamParserStateArrayNeedValue::sharedInstance());
}

// Array need value
const char* JsonStreamParserStateArrayNeedValue::name() const { return "as array value"; }
bool JsonStreamParserStateArrayNeedValue::parserShouldAcceptToken(JsonStreamParser*, int32_t t) const {
    return isValueToken(t);
}
void JsonStreamParserStateArrayNeedValue::parserShouldTransitionTo(JsonStreamParser* parser, int32_t) const {
    parser->setState(JsonStreamParserStateArrayGotValue::sharedInstance());
}

// ---------------------------------------------------------------------------
// Parser

JsonStreamParser::JsonStreamParser() : state_(JsonStreamParserStateStart::sharedInstance()) {
    stateStack_.reserve(32);
}

int32_t JsonStreamParser::parse(const void* bytes, size_t length) {
    if (parsing_) {
        // From inside the delegate: the grammar is in the middle of a token
        // of the running call, so the bytes cannot be taken in order.
        error_ = "Parser is busy: bytes fed from inside its own delegate";
        return JsonStreamParserError;
    }
    // The parser and the delegate are held for the whole call: the delegate
    // may let either go.
    const ns::Ref<JsonStreamParser> self = ns::keepAlive(this);
    const ns::Ref<JsonStreamParserDelegate> delegate = delegate_.lock();
    struct Running {
        bool& flag;
        explicit Running(bool& f) : flag(f) { flag = true; }
        ~Running() { flag = false; }
    } running(parsing_);
    return parseAppended(bytes, length, delegate.get());
}

int32_t JsonStreamParser::parseAppended(const void* bytes, size_t length, JsonStreamParserDelegate* d) {
    const JsonStreamParserState* const errorState = JsonStreamParserStateError::sharedInstance();
    tokeniser_.appendData(bytes, length);

    for (;;) {
        if (state_ == errorState) return JsonStreamParserError;

        ns::Ref<ns::Object> value;
        int32_t token = tokeniser_.getToken(&value);
        if (token == JsonTokenError) {
            state_ = errorState;
            error_ = tokeniser_.error();
            return JsonStreamParserError;
        }
        if (token == JsonTokenEOF) return state_->parserShouldReturn(this);

        if (!state_->parserShouldAcceptToken(this, token)) {
            error_ = std::string("Token '") + tokenName(token) + "' not expected " + state_->name();
            state_ = errorState;
            return JsonStreamParserError;
        }

        switch (token) {
            case JsonTokenArrayStart:
            case JsonTokenObjectStart:
                if (stateStack_.size() >= maxDepth_) {
                    error_ = "Input depth exceeds max depth of " + std::to_string(maxDepth_);
                    state_ = errorState;
                    break;
                }
                if (d) {
                    if (token == JsonTokenArrayStart) d->parserFoundArrayStart(this);
                    else d->parserFoundObjectStart(this);
                }
                stateStack_.push_back(state_);
                state_ = token == JsonTokenArrayStart
                             ? static_cast<const JsonStreamParserState*>(JsonStreamParserStateArrayStart::sharedInstance())
                             : JsonStreamParserStateObjectStart::sharedInstance();
                break;

            case JsonTokenArrayEnd:
            case JsonTokenObjectEnd:
                // Only states inside a container accept a closing bracket, so
                // the stack is never empty here.
                if (stateStack_.empty()) {
                    error_ = std::string("Token '") + tokenName(token) + "' not expected " + state_->name();
                    state_ = errorState;
                    break;
                }
                state_ = stateStack_.back();
                stateStack_.pop_back();
                state_->parserShouldTransitionTo(this, token);
                if (d) {
                    if (token == JsonTokenArrayEnd) d->parserFoundArrayEnd(this);
                    else d->parserFoundObjectEnd(this);
                }
                break;

            case JsonTokenValueSeparator:
            case JsonTokenKeyValueSeparator:
                state_->parserShouldTransitionTo(this, token);
                break;

            case JsonTokenNumber:
                if (d) d->parserFoundNumber(this, ns::Ref<ns::Number>::adopt(static_cast<ns::Number*>(value.leak())));
                state_->parserShouldTransitionTo(this, token);
                break;

            case JsonTokenString: {
                auto s = ns::Ref<ns::String>::adopt(static_cast<ns::String*>(value.leak()));
                if (d) {
                    if (state_->needKey()) d->parserFoundObjectKey(this, std::move(s));
                    else d->parserFoundString(this, std::move(s));
                }
                state_->parserShouldTransitionTo(this, token);
                break;
            }

            case JsonTokenTrue:
            case JsonTokenFalse:
                if (d) d->parserFoundBoolean(this, token == JsonTokenTrue);
                state_->parserShouldTransitionTo(this, token);
                break;

            case JsonTokenNull:
                if (d) d->parserFoundNull(this);
                state_->parserShouldTransitionTo(this, token);
                break;

            default:
                break;
        }
    }
}

}  // namespace json
