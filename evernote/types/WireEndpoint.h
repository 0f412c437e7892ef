// Where the wire reader and writer find the bytes under a protocol: its
// transport, in-place access to the transport's memory when it has any (a
// Thrift memory buffer, or a transport of ours that lends its buffers), and
// the protocol's limits and header form.
#pragma once

#include <cstdint>

#include <thrift/protocol/TProtocol.h>
#include <thrift/transport/TBufferTransports.h>
#include <thrift/transport/TTransport.h>

#include "evernote/types/InPlaceTransport.h"

namespace evernote {

inline constexpr int32_t kDefaultStringLimit = 64 * 1024 * 1024;
inline constexpr int32_t kDefaultContainerLimit = 16 * 1024 * 1024;

struct WireEndpoint {
    // The protocol, when the endpoint was found from one.
    apache::thrift::protocol::TProtocol* protocol = nullptr;
    apache::thrift::transport::TTransport* transport = nullptr;
    // At most one of these is set; with neither, bytes move through the
    // transport's read and write calls.
    apache::thrift::transport::TMemoryBuffer* memory = nullptr;
    InPlaceTransport* inPlace = nullptr;

    int32_t stringLimit = kDefaultStringLimit;       // 0: none
    int32_t containerLimit = kDefaultContainerLimit;  // 0: none
    // The message header a writer writes itself: versioned when strictWrite.
    // For a protocol that is not ours the header is left to the protocol.
    bool ownsHeaders = false;
    bool strictWrite = false;

    // The endpoint of a transport, with the default limits.
    static WireEndpoint ofTransport(apache::thrift::transport::TTransport* transport);
    // The endpoint of a binary protocol: ours (its limits and header form) or
    // Thrift's own (the default limits). Any other protocol fails with
    // TProtocolException NOT_IMPLEMENTED: EDAM records speak only the binary
    // protocol.
    static WireEndpoint of(apache::thrift::protocol::TProtocol& protocol);
};

}  // namespace evernote
