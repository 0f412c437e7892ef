// The one-call entry points of the streaming codec, as free functions:
// JSONValue parses a text, JSONRepresentation writes an array or dictionary.
// Both answer nil on failure and log the reason.
#pragma once

#include <functional>
#include <string>

#include "platform/foundation/Object.h"
#include "platform/foundation/String.h"

namespace json {

// Parses the text with a fresh JsonParser. On failure logs
// "-JSONValue failed. Error is: <reason>" and answers nil. nil for nil.
ns::Ref<ns::Object> JSONValue(const ns::String* string);
inline ns::Ref<ns::Object> JSONValue(const ns::Ref<ns::String>& string) { return JSONValue(string.get()); }

// Writes a dictionary or array with a fresh JsonWriter. On failure logs
// "-JSONRepresentation failed. Error is: <reason>" and answers nil.
ns::Ref<ns::String> JSONRepresentation(const ns::Object* value);
template <class T>
ns::Ref<ns::String> JSONRepresentation(const ns::Ref<T>& value) { return JSONRepresentation(value.get()); }

// Log lines of the streaming codec go to standard error unless a handler is
// installed (tests capture them). Passing an empty function restores the
// default. The handler is process-wide.
using JsonLogHandler = std::function<void(const std::string& line)>;
void setJsonLogHandler(JsonLogHandler handler);
void jsonLog(const std::string& line);

}  // namespace json
