// Feeds arbitrary bytes to the Evernote user-store client as the reply to a
// call (the first byte picks the method), and to each result record's reader.
// Any failure must be an exception; a record that decodes must encode to
// bytes that decode and encode to the same bytes again.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include <thrift/transport/TBufferTransports.h>

#include "evernote/types/BinaryProtocol.h"
#include "evernote/userstore/EDAMUserStore.h"
#include "evernote/userstore/EDAMUserStoreClient.h"

using namespace evernote;
using apache::thrift::transport::TMemoryBuffer;

namespace {

std::shared_ptr<BinaryProtocol> reading(const uint8_t* data, size_t size) {
    auto buffer = std::make_shared<TMemoryBuffer>();
    buffer->write(data, static_cast<uint32_t>(size));
    return std::make_shared<BinaryProtocol>(buffer);
}

std::string encode(const Record& r) {
    auto buffer = std::make_shared<TMemoryBuffer>();
    BinaryProtocol p(buffer);
    r.write(p);
    return buffer->getBufferAsString();
}

template <class Result>
void checkResult(const uint8_t* data, size_t size) {
    auto result = ns::make<Result>();
    try {
        result->read(*reading(data, size));
    } catch (const std::exception&) {
        return;
    }
    std::string once = encode(*result);
    auto again = ns::make<Result>();
    again->read(*reading(reinterpret_cast<const uint8_t*>(once.data()), once.size()));
    if (encode(*again) != once) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    uint8_t pick = data[0] % 5;
    ++data;
    --size;
    auto client = ns::make<EDAMUserStoreClient>(reading(data, size));
    try {
        switch (pick) {
        case 0: client->recv_checkVersion(); break;
        case 1: client->recv_authenticate(); break;
        case 2: client->recv_refreshAuthentication(); break;
        case 3: client->recv_getUser(); break;
        default: client->recv_getPublicUserInfo(); break;
        }
    } catch (const std::exception&) {
    }
    switch (pick) {
    case 0: checkResult<EDAMCheckVersion_result>(data, size); break;
    case 1: checkResult<EDAMAuthenticate_result>(data, size); break;
    case 2: checkResult<EDAMRefreshAuthentication_result>(data, size); break;
    case 3: checkResult<EDAMGetUser_result>(data, size); break;
    default: checkResult<EDAMGetPublicUserInfo_result>(data, size); break;
    }
    return 0;
}
