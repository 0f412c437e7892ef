// Inflates arbitrary bytes in two pieces with an output cap.
#include <cstddef>
#include <cstdint>

#include "net/http/DataCompressor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto d = http::DataDecompressor::decompressor();
    d->setMaxOutputLength(1 << 20);
    ns::Ref<ns::Error> err;
    size_t half = size / 2;
    d->uncompressBytes(data, half, &err);
    if (!err) d->uncompressBytes(data + half, size - half, &err);
    return 0;
}
