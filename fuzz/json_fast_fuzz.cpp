// Feeds arbitrary bytes to the fast JSON decoder. The first byte chooses the
// parse options and the kind of collections; the rest is the document.
// Whatever decodes must be writable, and what is written must decode to an
// equal tree (compact and pretty, with and without \u escapes).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "net/json/FJDictionary.h"
#include "net/json/FJSerializer.h"
#include "net/json/JSONDecoder.h"
#include "platform/foundation/Foundation.h"

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "json_fast_fuzz: %s\n", what);
    std::abort();
}

// A decoder kept across inputs, so the value cache is exercised too.
json::JSONDecoder& sharedDecoder() {
    static json::JSONDecoder* d = new json::JSONDecoder(0);
    return *d;
}

void roundTrip(ns::Object* value, uint64_t serializeOptions) {
    ns::Ref<ns::Error> error;
    auto written = json::FJSerializer::serializeObjectOptionsEncodeOptionBlockDelegateSelectorError(
        value, serializeOptions, json::FJEncodeAsData, nullptr, nullptr, nullptr, &error);
    if (!written) fail(error ? error->localizedDescription().c_str() : "write failed without an error");
    auto* data = static_cast<ns::Data*>(written.get());
    json::JSONDecoder strict;
    auto back = strict.objectWithDataError(data, &error);
    if (!back) fail(error ? error->localizedDescription().c_str() : "re-read failed without an error");
    if (!back->isEqual(*value)) fail("round trip changed the document");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    if (size == 0) return 0;
    uint8_t control = bytes[0];
    uint64_t options = control & json::FJParseFlagValidFlags;
    bool mutableCollections = control & 0x10;
    bool shared = control & 0x20;
    const char* text = reinterpret_cast<const char*>(bytes + 1);
    size_t length = size - 1;

    ns::Ref<ns::Error> error;
    ns::Ref<ns::Object> value;
    if (shared && options == 0) {
        value = mutableCollections ? sharedDecoder().mutableObjectWithUTF8StringLengthError(text, length, &error)
                                   : sharedDecoder().objectWithUTF8StringLengthError(text, length, &error);
        if (control & 0x40) sharedDecoder().clearCache();
    } else {
        json::JSONDecoder decoder(options);
        value = mutableCollections ? decoder.mutableObjectWithUTF8StringLengthError(text, length, &error)
                                   : decoder.objectWithUTF8StringLengthError(text, length, &error);
    }
    if (!value) {
        if (!error || error->domain() != "FJErrorDomain" || error->localizedDescription().empty())
            fail("failure without an error");
        return 0;
    }
    if (error) fail("success with an error");
    roundTrip(value.get(), 0);
    roundTrip(value.get(), json::FJSerializeFlagPretty | json::FJSerializeFlagEscapeUnicode |
                               json::FJSerializeFlagEscapeSlash);
    if (mutableCollections) {
        if (auto* d = dynamic_cast<json::FJDictionary*>(value.get())) {
            size_t n = d->count();
            d->setObject(ns::Null::null(), "\x01 fuzz key");
            if (d->count() != n + 1 && d->count() != n) fail("insert changed the count wrongly");
            d->removeObjectForKey("\x01 fuzz key");
            for (size_t i = 0; i < d->count(); ++i)
                if (d->objectForKey(*d->keyAtIndex(i)) != d->valueAtIndex(i)) fail("key not reachable");
        }
    }
    return 0;
}
