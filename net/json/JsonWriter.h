// One-call JSON writing: an array or dictionary tree in, JSON bytes or text
// out, optionally with sorted keys and the human-readable layout.
#pragma once

#include <cstdint>
#include <string>

#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/String.h"

namespace json {

// Domain of the errors stringWithObjectError hands out (code 0).
inline constexpr const char* kJsonWriterErrorDomain = "org.tellvarin.JsonWriter.ErrorDomain";

class JsonWriter : public ns::Object {
public:
    const char* className() const override { return "JsonWriter"; }

    // The JSON bytes of a dictionary or array (or of what an object's
    // proxyForJson answers). Top-level strings, numbers and null are refused
    // ("Not valid type for JSON"). nil with error() set on failure.
    ns::Ref<ns::Data> dataWithObject(const ns::Object* value);
    // The same bytes as text.
    ns::Ref<ns::String> stringWithObject(const ns::Object* value);
    // As stringWithObject; on nil stores, when `error` is given, an error of
    // kJsonWriterErrorDomain, code 0, whose localized description is error().
    ns::Ref<ns::String> stringWithObjectError(const ns::Object* value, ns::Ref<ns::Error>* error);

    const std::string& error() const { return error_; }
    void setError(std::string e) { error_ = std::move(e); }

    // Containers open at once; deeper trees fail with "Nested too deep".
    // 0 lifts the limit (the stream writer's own ceiling still applies).
    // Default 32.
    uint64_t maxDepth() const { return maxDepth_; }
    void setMaxDepth(uint64_t v) { maxDepth_ = v; }
    // Keys in text order instead of the dictionary's own order. Default off.
    bool sortKeys() const { return sortKeys_; }
    void setSortKeys(bool v) { sortKeys_ = v; }
    // One value a line, two spaces of indentation a level, a space after
    // each colon. Default off (no whitespace at all).
    bool humanReadable() const { return humanReadable_; }
    void setHumanReadable(bool v) { humanReadable_ = v; }

private:
    ns::Ref<ns::Data> dataWithObject(const ns::Object* value, int proxyHops);

    std::string error_;
    uint64_t maxDepth_ = 32;
    bool sortKeys_ = false;
    bool humanReadable_ = false;
};

}  // namespace json
