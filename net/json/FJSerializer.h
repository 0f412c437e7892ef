// The fast codec's writer: strings, numbers, arrays, dictionaries and the
// null object as UTF-8 JSON text, returned as a data or a string object.
// Objects of other classes go through a formatter (a block, then a
// delegate's formatter) that returns a supported replacement.
//
// A serializer must not be used by two threads at once; the class operation
// makes a fresh one per call. A formatter may use its own serializer again:
// a nested call gets state of its own, and a serializer let go by its
// formatter lives to the end of the call. The objects written must not change during
// the call: an array or dictionary that a formatter changes while it is
// being written raises kGenericException once it is done, as a change
// during an enumeration does, and nothing that was freed is read meanwhile.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/foundation/Error.h"
#include "platform/foundation/Object.h"

namespace json {

// Serialize options (other bits have no effect).
enum FJSerializeOptionFlags : uint64_t {
    FJSerializeOptionNone = 0,
    FJSerializeFlagPretty = 1,         // newlines, two-space indentation, sorted keys
    FJSerializeFlagEscapeUnicode = 2,  // non-ASCII written as \u escapes
    FJSerializeFlagEscapeSlash = 16,   // "/" written as "\/"
};

// Encode options: the low three bits choose the result kind, higher bits add checks.
enum FJEncodeOptionType : uint64_t {
    FJEncodeAsData = 1,
    FJEncodeAsString = 2,
    FJEncodeAsTypeMask = 7,
    FJEncodeRequireCollection = 8,  // the top-level object must be an array or a dictionary
    FJEncodeRequireString = 16,     // the top-level object must be a string
    FJEncodeBareString = 32,        // a top-level string without its quotation marks
};

// Raised when an array or dictionary changed while it was written:
// "*** Collection <class> was mutated while being enumerated."
inline constexpr const char* kGenericException = "GenericException";

// Deepest nesting of arrays and dictionaries the serializer writes; deeper
// (or cyclic) trees fail with an error.
inline constexpr size_t FJMaxSerializeDepth = 512;

// Turns an unsupported object into a supported one, or returns nil.
using FJFormatterBlock = std::function<ns::Ref<ns::Object>(ns::Object* object)>;

// A formatter delegate names its formatting operations by selector.
class FJSerializerDelegate {
public:
    virtual ~FJSerializerDelegate() = default;
    // The operation the delegate implements under `selector`, or an empty
    // function when it does not respond to that selector.
    virtual FJFormatterBlock implementationForSelector(const char* selector) = 0;
};

struct FJEncodeState;

class FJSerializer : public ns::Object {
public:
    FJSerializer();
    ~FJSerializer() override;
    const char* className() const override { return "FJSerializer"; }

    // A fresh serializer per call; see serializeObject.
    static ns::Ref<ns::Object> serializeObjectOptionsEncodeOptionBlockDelegateSelectorError(
        ns::Object* object, uint64_t serializeOptions, uint64_t encodeOption, const FJFormatterBlock& block,
        FJSerializerDelegate* delegate, const char* selector, ns::Ref<ns::Error>* error);

    // Writes `object` and returns an ns::Data (FJEncodeAsData) or ns::String
    // (FJEncodeAsString), or nil with the first error in *error. A delegate
    // without a selector, or one that does not respond to it, raises
    // InvalidArgumentException.
    ns::Ref<ns::Object> serializeObject(ns::Object* object, uint64_t serializeOptions, uint64_t encodeOption,
                                        const FJFormatterBlock& block, FJSerializerDelegate* delegate,
                                        const char* selector, ns::Ref<ns::Error>* error);

    // Frees the state of the last call (called from inside a formatter, the
    // running call frees it as it ends).
    void releaseState();

private:
    std::unique_ptr<FJEncodeState> encodeState_;
    bool serializing_ = false;  // a call is running
};

}  // namespace json
