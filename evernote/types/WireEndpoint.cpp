#include "evernote/types/WireEndpoint.h"

#include <thrift/Thrift.h>
#include <thrift/protocol/TBinaryProtocol.h>
#include <thrift/protocol/TProtocolException.h>

#include "evernote/types/BinaryProtocol.h"

namespace evernote {

using apache::thrift::protocol::TProtocol;
using apache::thrift::protocol::TProtocolException;
using apache::thrift::transport::TMemoryBuffer;
using apache::thrift::transport::TTransport;

WireEndpoint WireEndpoint::ofTransport(TTransport* transport) {
    WireEndpoint e;
    e.transport = transport;
    if (auto* memory = dynamic_cast<TMemoryBuffer*>(transport)) e.memory = memory;
    else e.inPlace = dynamic_cast<InPlaceTransport*>(transport);
    return e;
}

WireEndpoint WireEndpoint::of(TProtocol& protocol) {
    if (auto* ours = dynamic_cast<BinaryProtocol*>(&protocol)) return ours->endpoint();
    if (!dynamic_cast<apache::thrift::protocol::TBinaryProtocol*>(&protocol))
        throw TProtocolException(TProtocolException::NOT_IMPLEMENTED,
                                 "EDAM records are read and written with the binary protocol only");
    WireEndpoint e = ofTransport(protocol.getTransport().get());
    e.protocol = &protocol;
    return e;
}

}  // namespace evernote
