#include "net/json/JsonStreamParserAdapter.h"

#include "platform/foundation/Null.h"

namespace json {

JsonStreamParserAdapter::JsonStreamParserAdapter() {
    values_.reserve(64);
    open_.reserve(32);
}

void JsonStreamParserAdapter::start(int type) {
    ++depth_;
    if (depth_ <= levelsToSkip_) return;
    open_.push_back({values_.size(), static_cast<uint8_t>(type), false});
}

ns::Ref<ns::Object> JsonStreamParserAdapter::finish(const Open& open) {
    auto first = values_.begin() + static_cast<std::ptrdiff_t>(open.first);
    const size_t count = values_.size() - open.first;
    if (open.type == JsonStreamParserAdapterArray) {
        auto array = ns::MutableArray::make(count);
        for (auto it = first; it != values_.end(); ++it) array->addObject(std::move(*it));
        values_.erase(first, values_.end());
        return array;
    }
    // Keys and values alternate; a key still waiting for its value (only
    // when events came out of order) is dropped.
    auto dictionary = ns::MutableDictionary::make(count / 2);
    for (auto it = first; values_.end() - it >= 2; it += 2) dictionary->setObjectForKey(std::move(it[1]), std::move(it[0]));
    values_.erase(first, values_.end());
    return dictionary;
}

void JsonStreamParserAdapter::end(JsonStreamParser* parser) {
    unsigned was = depth_;
    if (depth_) --depth_;
    if (was > levelsToSkip_ && !open_.empty()) {
        Open open = open_.back();
        open_.pop_back();
        parserFound(parser, finish(open));
    }
}

void JsonStreamParserAdapter::parserFound(JsonStreamParser* parser, ns::Ref<ns::Object> value) {
    if (open_.empty()) {
        if (auto d = delegate_.lock()) {
            if (auto* a = dynamic_cast<ns::Array*>(value.get()))
                d->parserFoundArray(parser, ns::Ref<ns::Array>(a));
            else
                d->parserFoundObject(parser, value);
        }
        return;
    }
    Open& open = open_.back();
    if (open.type == JsonStreamParserAdapterObject) {
        // A key always precedes a value inside an object; a value without
        // one (events out of order) is dropped.
        if (!open.keyPending) return;
        open.keyPending = false;
    }
    values_.push_back(std::move(value));
}

void JsonStreamParserAdapter::parserFoundObjectStart(JsonStreamParser*) { start(JsonStreamParserAdapterObject); }
void JsonStreamParserAdapter::parserFoundArrayStart(JsonStreamParser*) { start(JsonStreamParserAdapterArray); }
void JsonStreamParserAdapter::parserFoundObjectEnd(JsonStreamParser* parser) { end(parser); }
void JsonStreamParserAdapter::parserFoundArrayEnd(JsonStreamParser* parser) { end(parser); }

void JsonStreamParserAdapter::parserFoundObjectKey(JsonStreamParser*, ns::Ref<ns::String> key) {
    if (open_.empty() || open_.back().type != JsonStreamParserAdapterObject) return;
    Open& open = open_.back();
    if (open.keyPending) {
        values_.back() = std::move(key);  // the later of two keys in a row names the value
    } else {
        values_.push_back(std::move(key));
        open.keyPending = true;
    }
}

void JsonStreamParserAdapter::parserFoundBoolean(JsonStreamParser* parser, bool value) {
    parserFound(parser, ns::Number::numberWithBool(value));
}

void JsonStreamParserAdapter::parserFoundNull(JsonStreamParser* parser) {
    parserFound(parser, ns::Null::null());
}

void JsonStreamParserAdapter::parserFoundNumber(JsonStreamParser* parser, ns::Ref<ns::Number> number) {
    parserFound(parser, std::move(number));
}

void JsonStreamParserAdapter::parserFoundString(JsonStreamParser* parser, ns::Ref<ns::String> string) {
    parserFound(parser, std::move(string));
}

}  // namespace json
