// Fuzz target for the streaming JSON codec. For every input it checks:
//  - the one-call parser answers a value or an error, never crashes;
//  - the stream parser reaches the same status, value and error whether the
//    input arrives whole (its values placed in blocks, as for large inputs)
//    or split in two at an offset taken from the input (values on the heap);
//  - every parsed tree is written back (compact, sorted, human-readable),
//    the text reads back to an equal tree, and writing that tree again gives
//    the same text.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "net/json/JsonParser.h"
#include "net/json/JsonStreamParser.h"
#include "net/json/JsonStreamParserAdapter.h"
#include "net/json/JsonWriter.h"
#include "net/json/tests/StreamTestUtil.h"

namespace {

struct Result {
    int32_t status;
    std::string value;
    std::string error;
};

Result feed(std::string_view a, std::string_view b, bool inBlocks) {
    // Both pieces, except an empty last piece after a non-empty first one.
    std::vector<std::string_view> pieces{a};
    if (!b.empty() || a.empty()) pieces.push_back(b);
    json::test::Fed fed = json::test::feedPieces(pieces, inBlocks);
    return {fed.status, fed.status == json::JsonStreamParserComplete ? json::test::dump(fed.value) : "", fed.error};
}

void check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);

    auto parser = ns::make<json::JsonParser>();
    ns::Ref<ns::Object> value = parser->objectWithBytes(data, size);
    check(value ? parser->error().empty() : !parser->error().empty());

    size_t split = size ? (static_cast<size_t>(data[0]) * 131 + size / 2) % (size + 1) : 0;
    Result whole = feed(input, {}, true);
    Result pieces = feed(input.substr(0, split), input.substr(split), false);
    check(whole.status == pieces.status && whole.value == pieces.value && whole.error == pieces.error);

    if (!value) return 0;
    for (int mode = 0; mode < 4; ++mode) {
        auto writer = ns::make<json::JsonWriter>();
        writer->setSortKeys(mode & 1);
        writer->setHumanReadable(mode & 2);
        ns::Ref<ns::String> text = writer->stringWithObject(value.get());
        check(text && writer->error().empty());
        auto reparsed = parser->objectWithString(text.get());
        check(reparsed && reparsed->isEqual(*value));
        ns::Ref<ns::String> again = writer->stringWithObject(reparsed.get());
        check(again && again->isEqual(*text));
    }
    return 0;
}
