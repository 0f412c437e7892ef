// One-call entry points of the fast codec on strings, data, arrays and
// dictionaries (the receiver is the first argument).
//
// Decoding: each call makes a decoder with the given options, parses, and
// frees the decoder's state (its cache included) before returning. Results
// and errors are as for JSONDecoder.
#pragma once

#include <cstdint>

#include "net/json/FJSerializer.h"
#include "net/json/JSONDecoder.h"
#include "platform/foundation/Array.h"
#include "platform/foundation/Data.h"
#include "platform/foundation/Dictionary.h"
#include "platform/foundation/String.h"

namespace json {

// ---- Decoding a string ----
// A string whose text is not valid UTF-8 gives nil and, when asked for, an
// error "An error occurred converting the contents of a NSString to UTF8.".
ns::Ref<ns::Object> objectFromJSONString(const ns::String& string);
ns::Ref<ns::Object> objectFromJSONStringWithParseOptions(const ns::String& string, uint64_t parseOptions);
ns::Ref<ns::Object> objectFromJSONStringWithParseOptionsError(const ns::String& string, uint64_t parseOptions,
                                                              ns::Ref<ns::Error>* error);
ns::Ref<ns::Object> mutableObjectFromJSONString(const ns::String& string);
ns::Ref<ns::Object> mutableObjectFromJSONStringWithParseOptions(const ns::String& string, uint64_t parseOptions);
ns::Ref<ns::Object> mutableObjectFromJSONStringWithParseOptionsError(const ns::String& string,
                                                                     uint64_t parseOptions,
                                                                     ns::Ref<ns::Error>* error);

// ---- Decoding data ----
ns::Ref<ns::Object> objectFromJSONData(const ns::Data& data);
ns::Ref<ns::Object> objectFromJSONDataWithParseOptions(const ns::Data& data, uint64_t parseOptions);
ns::Ref<ns::Object> objectFromJSONDataWithParseOptionsError(const ns::Data& data, uint64_t parseOptions,
                                                            ns::Ref<ns::Error>* error);
ns::Ref<ns::Object> mutableObjectFromJSONData(const ns::Data& data);
ns::Ref<ns::Object> mutableObjectFromJSONDataWithParseOptions(const ns::Data& data, uint64_t parseOptions);
ns::Ref<ns::Object> mutableObjectFromJSONDataWithParseOptionsError(const ns::Data& data, uint64_t parseOptions,
                                                                   ns::Ref<ns::Error>* error);

}  // namespace json

namespace json {

// ---- Writing a string ----
// With quotation marks unless includeQuotes is false.
ns::Ref<ns::Data> JSONData(const ns::String& string);
ns::Ref<ns::Data> JSONDataWithOptionsIncludeQuotesError(const ns::String& string, uint64_t serializeOptions,
                                                        bool includeQuotes, ns::Ref<ns::Error>* error);
ns::Ref<ns::String> JSONString(const ns::String& string);
ns::Ref<ns::String> JSONStringWithOptionsIncludeQuotesError(const ns::String& string, uint64_t serializeOptions,
                                                            bool includeQuotes, ns::Ref<ns::Error>* error);

// ---- Writing an array or a dictionary ----
ns::Ref<ns::Data> JSONData(const ns::Array& array);
ns::Ref<ns::Data> JSONDataWithOptionsError(const ns::Array& array, uint64_t serializeOptions,
                                           ns::Ref<ns::Error>* error);
ns::Ref<ns::Data> JSONDataWithOptionsSerializeUnsupportedClassesUsingDelegateSelectorError(
    const ns::Array& array, uint64_t serializeOptions, FJSerializerDelegate* delegate, const char* selector,
    ns::Ref<ns::Error>* error);
ns::Ref<ns::Data> JSONDataWithOptionsSerializeUnsupportedClassesUsingBlockError(const ns::Array& array,
                                                                                uint64_t serializeOptions,
                                                                                const FJFormatterBlock& block,
                                                                                ns::Ref<ns::Error>* error);
ns::Ref<ns::String> JSONString(const ns::Array& array);
ns::Ref<ns::String> JSONStringWithOptionsError(const ns::Array& array, uint64_t serializeOptions,
                                               ns::Ref<ns::Error>* error);
ns::Ref<ns::String> JSONStringWithOptionsSerializeUnsupportedClassesUsingDelegateSelectorError(
    const ns::Array& array, uint64_t serializeOptions, FJSerializerDelegate* delegate, const char* selector,
    ns::Ref<ns::Error>* error);
ns::Ref<ns::String> JSONStringWithOptionsSerializeUnsupportedClassesUsingBlockError(const ns::Array& array,
                                                                                    uint64_t serializeOptions,
                                                                                    const FJFormatterBlock& block,
                                                                                    ns::Ref<ns::Error>* error);

ns::Ref<ns::Data> JSONData(const ns::Dictionary& dictionary);
ns::Ref<ns::Data> JSONDataWithOptionsError(const ns::Dictionary& dictionary, uint64_t serializeOptions,
                                           ns::Ref<ns::Error>* error);
ns::Ref<ns::Data> JSONDataWithOptionsSerializeUnsupportedClassesUsingDelegateSelectorError(
    const ns::Dictionary& dictionary, uint64_t serializeOptions, FJSerializerDelegate* delegate,
    const char* selector, ns::Ref<ns::Error>* error);
ns::Ref<ns::Data> JSONDataWithOptionsSerializeUnsupportedClassesUsingBlockError(const ns::Dictionary& dictionary,
                                                                                uint64_t serializeOptions,
                                                                                const FJFormatterBlock& block,
                                                                                ns::Ref<ns::Error>* error);
ns::Ref<ns::String> JSONString(const ns::Dictionary& dictionary);
ns::Ref<ns::String> JSONStringWithOptionsError(const ns::Dictionary& dictionary, uint64_t serializeOptions,
                                               ns::Ref<ns::Error>* error);
ns::Ref<ns::String> JSONStringWithOptionsSerializeUnsupportedClassesUsingDelegateSelectorError(
    const ns::Dictionary& dictionary, uint64_t serializeOptions, FJSerializerDelegate* delegate,
    const char* selector, ns::Ref<ns::Error>* error);
ns::Ref<ns::String> JSONStringWithOptionsSerializeUnsupportedClassesUsingBlockError(
    const ns::Dictionary& dictionary, uint64_t serializeOptions, const FJFormatterBlock& block,
    ns::Ref<ns::Error>* error);

}  // namespace json
