// Turns the stream parser's events into mutable arrays and dictionaries
// (JsonStreamParserAdapter) and keeps the finished document
// (JsonStreamParserAccumulator).
#pragma once

#include <cstdint>
#include <vector>

#include "net/json/JsonStreamParser.h"
#include "platform/foundation/Array.h"
#include "platform/foundation/Dictionary.h"

namespace json {

// Receives each finished top-level container (or, with levelsToSkip, each
// value met at a skipped level).
class JsonStreamParserAdapterDelegate : public virtual ns::Object {
public:
    virtual void parserFoundArray(JsonStreamParser* parser, const ns::Ref<ns::Array>& array) = 0;
    virtual void parserFoundObject(JsonStreamParser* parser, const ns::Ref<ns::Object>& object) = 0;
};

enum JsonStreamParserAdapterType : int {
    JsonStreamParserAdapterNone = 0,
    JsonStreamParserAdapterArray = 1,
    JsonStreamParserAdapterObject = 2,
};

// Builds containers from events: objects become mutable dictionaries, arrays
// mutable arrays, true and false the shared boolean numbers, null the shared
// null object. A repeated key keeps the last value.
//
// The values of the open containers wait on one stack (an object's as key,
// value, key, value); a container is made when it closes, sized for what it
// holds, and its values are moved into it.
class JsonStreamParserAdapter final : public JsonStreamParserDelegate {
public:
    JsonStreamParserAdapter();
    const char* className() const override { return "JsonStreamParserAdapter"; }

    // Not retained.
    ns::Ref<JsonStreamParserAdapterDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const ns::Ref<JsonStreamParserAdapterDelegate>& d) { delegate_ = d; }

    // Outer levels that build nothing; their values go straight to the
    // delegate. Default 0.
    unsigned levelsToSkip() const { return levelsToSkip_; }
    void setLevelsToSkip(unsigned v) { levelsToSkip_ = v; }
    // Containers open now, skipped levels included.
    unsigned depth() const { return depth_; }
    // Kind of the container being filled (JsonStreamParserAdapterType).
    int currentType() const { return open_.empty() ? int(JsonStreamParserAdapterNone) : open_.back().type; }

    void parserFoundObjectStart(JsonStreamParser* parser) override;
    void parserFoundObjectKey(JsonStreamParser* parser, ns::Ref<ns::String> key) override;
    void parserFoundObjectEnd(JsonStreamParser* parser) override;
    void parserFoundArrayStart(JsonStreamParser* parser) override;
    void parserFoundArrayEnd(JsonStreamParser* parser) override;
    void parserFoundBoolean(JsonStreamParser* parser, bool value) override;
    void parserFoundNull(JsonStreamParser* parser) override;
    void parserFoundNumber(JsonStreamParser* parser, ns::Ref<ns::Number> number) override;
    void parserFoundString(JsonStreamParser* parser, ns::Ref<ns::String> string) override;

private:
    // A container being filled: where its values begin on values_, and
    // whether an object's last entry is a key still waiting for its value.
    struct Open {
        size_t first;
        uint8_t type;  // JsonStreamParserAdapterType
        bool keyPending;
    };

    void start(int type);
    void end(JsonStreamParser* parser);
    ns::Ref<ns::Object> finish(const Open& open);
    void parserFound(JsonStreamParser* parser, ns::Ref<ns::Object> value);

    ns::Weak<JsonStreamParserAdapterDelegate> delegate_;
    unsigned levelsToSkip_ = 0;
    unsigned depth_ = 0;
    std::vector<ns::Ref<ns::Object>> values_;
    std::vector<Open> open_;
};

// Keeps the last top-level value it was handed.
class JsonStreamParserAccumulator final : public JsonStreamParserAdapterDelegate {
public:
    const char* className() const override { return "JsonStreamParserAccumulator"; }
    void parserFoundArray(JsonStreamParser*, const ns::Ref<ns::Array>& array) override { value_ = array; }
    void parserFoundObject(JsonStreamParser*, const ns::Ref<ns::Object>& object) override { value_ = object; }
    const ns::Ref<ns::Object>& value() const { return value_; }

private:
    ns::Ref<ns::Object> value_;
};

}  // namespace json
