#include "net/json/JsonParser.h"

#include "net/json/JsonStreamParser.h"
#include "net/json/JsonStreamParserAdapter.h"

namespace json {

ns::Ref<ns::Object> JsonParser::objectWithData(const ns::Data* data) {
    if (!data) {
        error_ = "Input was 'nil'";
        return nullptr;
    }
    return objectWithBytes(data->bytes(), data->length());
}

ns::Ref<ns::Object> JsonParser::objectWithBytes(const void* bytes, size_t length) {
    error_.clear();
    if (!bytes && length) {
        error_ = "Input was 'nil'";
        return nullptr;
    }
    auto accumulator = ns::make<JsonStreamParserAccumulator>();
    auto adapter = ns::make<JsonStreamParserAdapter>();
    adapter->setDelegate(accumulator);
    auto parser = ns::make<JsonStreamParser>();
    parser->setMaxDepth(maxDepth_);
    parser->setDelegate(adapter);
    parser->tokeniser().setPlacesValuesInBlocks(length >= FJValuePool::kPooledDocumentsFrom);

    switch (parser->parse(bytes, length)) {
        case JsonStreamParserComplete: {
            // The whole input is here: an unfinished token after the document
            // is trailing garbage, not something to wait for.
            int32_t pending = parser->tokeniser().pendingTokenKind();
            if (pending != JsonTokenEOF) {
                error_ = std::string("Token '") + tokenName(pending) + "' not expected " +
                         parser->state()->name();
                return nullptr;
            }
            return accumulator->value();
        }
        case JsonStreamParserWaitingForData:
            error_ = "Unexpected end of input";
            return nullptr;
        default:
            error_ = parser->error();
            return nullptr;
    }
}

ns::Ref<ns::Object> JsonParser::objectWithString(const ns::String* string) {
    if (!string) {
        error_ = "Input was 'nil'";
        return nullptr;
    }
    return objectWithBytes(string->utf8().data(), string->utf8().size());
}

ns::Ref<ns::Object> JsonParser::objectWithStringError(const ns::String* string, ns::Ref<ns::Error>* error) {
    ns::Ref<ns::Object> result = objectWithString(string);
    if (!result && error) *error = ns::Error::withDescription(kJsonParserErrorDomain, 0, error_);
    return result;
}

}  // namespace json
