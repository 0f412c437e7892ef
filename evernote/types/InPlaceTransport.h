// A transport whose input is all in memory and whose output collects in a
// memory buffer until it is flushed. Records are read from and written to
// such a transport in place: a string or binary field is copied once, from the
// input into its object or from its object into the output. The HTTP client
// transport is one; Thrift's memory buffers are used the same way without it.
#pragma once

#include <cstddef>
#include <cstdint>

#include <thrift/transport/TBufferTransports.h>

namespace evernote {

class InPlaceTransport {
public:
    virtual ~InPlaceTransport() = default;

    // Everything left of the current input (the whole rest of it, not a
    // part), valid until the next consume, read or flush.
    virtual const uint8_t* unreadBytes(size_t& length) = 0;
    // Marks `length` bytes of what unreadBytes lent as read.
    virtual void consumeBytes(size_t length) = 0;
    // The buffer that writes collect in until flush.
    virtual apache::thrift::transport::TMemoryBuffer& outputBuffer() = 0;
};

}  // namespace evernote
