#include "net/json/JsonStreamParserAdapter.h"

#include "platform/foundation/Null.h"

namespace json {

JsonStreamParserAdapter::JsonStreamParserAdapter() {
    keyStack_.reserve(32);
    stack_.reserve(32);
    stackTypes_.reserve(32);
}

void JsonStreamParserAdapter::start(bool isArray) {
    ++depth_;
    if (depth_ <= levelsToSkip_) return;
    if (isArray) {
        auto a = ns::MutableArray::make();
        array_ = a.get();
        stack_.push_back(std::move(a));
        currentType_ = JsonStreamParserAdapterArray;
        stackTypes_.push_back(JsonStreamParserAdapterArray);
    } else {
        auto d = ns::MutableDictionary::make();
        dict_ = d.get();
        stack_.push_back(std::move(d));
        currentType_ = JsonStreamParserAdapterObject;
        stackTypes_.push_back(JsonStreamParserAdapterObject);
    }
}

void JsonStreamParserAdapter::pop() {
    stack_.pop_back();
    stackTypes_.pop_back();
    array_ = nullptr;
    dict_ = nullptr;
    currentType_ = JsonStreamParserAdapterNone;
    if (stack_.empty()) return;
    ns::Object* top = stack_.back().get();
    if (stackTypes_.back() == JsonStreamParserAdapterObject) {
        dict_ = static_cast<ns::MutableDictionary*>(top);
        currentType_ = JsonStreamParserAdapterObject;
    } else {
        array_ = static_cast<ns::MutableArray*>(top);
        currentType_ = JsonStreamParserAdapterArray;
    }
}

void JsonStreamParserAdapter::end(JsonStreamParser* parser) {
    unsigned was = depth_;
    if (depth_) --depth_;
    if (was > levelsToSkip_ && !stack_.empty()) {
        ns::Ref<ns::Object> finished = stack_.back();
        pop();
        parserFound(parser, std::move(finished));
    }
}

void JsonStreamParserAdapter::parserFound(JsonStreamParser* parser, ns::Ref<ns::Object> value) {
    switch (currentType_) {
        case JsonStreamParserAdapterObject:
            // A key always precedes a value inside an object; a repeated key
            // replaces the earlier value.
            if (!keyStack_.empty()) {
                dict_->setObjectForKey(std::move(value), std::move(keyStack_.back()));
                keyStack_.pop_back();
            }
            break;
        case JsonStreamParserAdapterArray:
            array_->addObject(std::move(value));
            break;
        default:
            if (auto d = delegate_.lock()) {
                if (auto* a = dynamic_cast<ns::Array*>(value.get()))
                    d->parserFoundArray(parser, ns::Ref<ns::Array>(a));
                else
                    d->parserFoundObject(parser, value);
            }
            break;
    }
}

void JsonStreamParserAdapter::parserFoundObjectStart(JsonStreamParser*) { start(false); }
void JsonStreamParserAdapter::parserFoundArrayStart(JsonStreamParser*) { start(true); }
void JsonStreamParserAdapter::parserFoundObjectEnd(JsonStreamParser* parser) { end(parser); }
void JsonStreamParserAdapter::parserFoundArrayEnd(JsonStreamParser* parser) { end(parser); }

void JsonStreamParserAdapter::parserFoundObjectKey(JsonStreamParser*, const ns::Ref<ns::String>& key) {
    keyStack_.push_back(key);
}

void JsonStreamParserAdapter::parserFoundBoolean(JsonStreamParser* parser, bool value) {
    parserFound(parser, ns::Number::numberWithBool(value));
}

void JsonStreamParserAdapter::parserFoundNull(JsonStreamParser* parser) {
    parserFound(parser, ns::Null::null());
}

void JsonStreamParserAdapter::parserFoundNumber(JsonStreamParser* parser, const ns::Ref<ns::Number>& number) {
    parserFound(parser, number);
}

void JsonStreamParserAdapter::parserFoundString(JsonStreamParser* parser, const ns::Ref<ns::String>& string) {
    parserFound(parser, string);
}

}  // namespace json
