// The fast JSON decoder: UTF-8 JSON text to FJArray / FJDictionary
// collections, strings, numbers (signed 64-bit 'q', unsigned 64-bit 'Q' above
// the signed range, double 'd') and the shared true, false, null and empty
// string objects. The top-level value must be an array or an object.
//
// A decoder keeps a 1024-slot cache of the strings and numbers it built, so
// repeated keys and values of one decoder are shared objects across parses
// until clearCache(). A decoder must not be used by two threads at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "net/json/FJTokenScanner.h"
#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Object.h"

namespace json {

class JSONDecoder : public ns::Object {
public:
    // Raises InvalidArgumentException "Invalid parse options." for options of 16 or more.
    explicit JSONDecoder(uint64_t parseOptions = 0);
    ~JSONDecoder() override;
    const char* className() const override { return "JSONDecoder"; }

    static ns::Ref<JSONDecoder> decoder() { return decoderWithParseOptions(0); }
    static ns::Ref<JSONDecoder> decoderWithParseOptions(uint64_t parseOptions);

    uint64_t parseOptions() const;
    // Releases every cached value.
    void clearCache();

    // Parses `length` bytes at `bytes` (which must stay valid during the
    // call). Returns the root value, or nil with the first error stored in
    // *error when error is given. Raises InvalidArgumentException "The string
    // argument is NULL." for a null pointer, InternalInconsistencyException
    // "parseState is NULL." after releaseParseState().
    ns::Ref<ns::Object> objectWithUTF8StringLengthError(const char* bytes, size_t length,
                                                        ns::Ref<ns::Error>* error = nullptr);
    // The same with collections that accept changes.
    ns::Ref<ns::Object> mutableObjectWithUTF8StringLengthError(const char* bytes, size_t length,
                                                               ns::Ref<ns::Error>* error = nullptr);
    // Raises InvalidArgumentException "The jsonData argument is NULL." for nil.
    ns::Ref<ns::Object> objectWithDataError(const ns::Data* jsonData, ns::Ref<ns::Error>* error = nullptr);
    ns::Ref<ns::Object> mutableObjectWithDataError(const ns::Data* jsonData, ns::Ref<ns::Error>* error = nullptr);
    // objectWithDataError without an error out-parameter.
    ns::Ref<ns::Object> parseJSONData(const ns::Data* jsonData) { return objectWithDataError(jsonData, nullptr); }

    // Frees the parse state (cache included) before the decoder's end; the
    // one-call helpers use this. Later parses raise.
    void releaseParseState();

private:
    ns::Ref<ns::Object> parse(const char* bytes, size_t length, bool mutableCollections, ns::Ref<ns::Error>* error);

    std::unique_ptr<FJParseState> parseState_;
};

}  // namespace json
