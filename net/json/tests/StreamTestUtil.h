// Helpers shared by the streaming codec tests: a canonical dump of a value
// tree that shows each node's kind (so 1 the integer and 1 the decimal differ),
// and a document fed to the stream parser in pieces.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Foundation.h"

namespace json::test {

std::string dump(const ns::Object* o);

template <class T>
std::string dump(const ns::Ref<T>& r) { return dump(r.get()); }

// What the stream parser, its adapter and an accumulator make of a document
// fed in the given pieces (an empty list feeds nothing): the value once the
// document is complete, the error once it failed.
struct Fed {
    int32_t status;
    ns::Ref<ns::Object> value;
    std::string error;
};
Fed feedPieces(const std::vector<std::string_view>& pieces, bool placesValuesInBlocks = false);

// `doc` cut into pieces of `size` bytes (the last one may be shorter).
std::vector<std::string_view> piecesOf(std::string_view doc, size_t size);

}  // namespace json::test
