// One-call JSON parsing: a whole document in, its top-level array or
// dictionary out. Only an array or an object is accepted at the top level.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "net/json/JsonStreamParser.h"
#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/String.h"

namespace json {

// Domain of the errors objectWithStringError hands out (code 0).
inline constexpr const char* kJsonParserErrorDomain = "org.tellvarin.JsonParser.ErrorDomain";

class JsonParser : public ns::Object {
public:
    const char* className() const override { return "JsonParser"; }

    // Parses one whole document. Answers the top-level mutable array or
    // dictionary, or nil with error() set ("Input was 'nil'" for nil data,
    // "Unexpected end of input" for an incomplete document, else the
    // parser's message).
    ns::Ref<ns::Object> objectWithData(const ns::Data* data);
    ns::Ref<ns::Object> objectWithBytes(const void* bytes, size_t length);
    // The string's UTF-8 bytes through objectWithData.
    ns::Ref<ns::Object> objectWithString(const ns::String* string);
    // As objectWithString; on nil stores, when `error` is given, an error of
    // kJsonParserErrorDomain, code 0, whose localized description is error().
    ns::Ref<ns::Object> objectWithStringError(const ns::String* string, ns::Ref<ns::Error>* error);

    const std::string& error() const { return error_; }
    void setError(std::string e) { error_ = std::move(e); }

    // Containers open at once; deeper input is refused. Default 32; a
    // larger value than kMaxDepthCeiling (1024) sets kMaxDepthCeiling.
    uint64_t maxDepth() const { return maxDepth_; }
    void setMaxDepth(uint64_t v) { maxDepth_ = v < kMaxDepthCeiling ? v : kMaxDepthCeiling; }

private:
    std::string error_;
    uint64_t maxDepth_ = 32;
};

}  // namespace json
