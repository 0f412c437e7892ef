#include "evernote/types/Wire.h"

#include <cinttypes>
#include <cstdio>

#include <thrift/transport/TTransport.h>

namespace evernote::wire {

using apache::thrift::TApplicationException;
using namespace apache::thrift::protocol;

void failElement(const char* field, const char* expected) {
    throw TProtocolException(TProtocolException::INVALID_DATA,
                             std::string("element of ") + field + " is not of the declared type");
}

std::string describeBool(bool v) { return v ? "1" : "0"; }
std::string describeI16(int16_t v) { return std::to_string(v); }
std::string describeI32(int32_t v) { return std::to_string(v); }
std::string describeI64(int64_t v) { return std::to_string(v); }
std::string describeDouble(double v) {
    char buf[512];
    std::snprintf(buf, sizeof buf, "%f", v);
    return buf;
}
std::string describeQuoted(const ns::Object* o) { return "\"" + ns::describe(o) + "\""; }

void readReplyBegin(TProtocol& in) {
    std::string name;
    TMessageType type;
    int32_t seqid = 0;
    in.readMessageBegin(name, type, seqid);
    if (type == T_EXCEPTION) {
        TApplicationException e;
        e.read(&in);
        in.readMessageEnd();
        throw e;
    }
}

void writeApplicationException(TProtocol& out, int32_t type, const std::string* message) {
    out.writeStructBegin("TApplicationException");
    if (message) {
        out.writeFieldBegin("message", T_STRING, 1);
        out.writeString(*message);
        out.writeFieldEnd();
    }
    out.writeFieldBegin("type", T_I32, 2);
    out.writeI32(type);
    out.writeFieldEnd();
    out.writeFieldStop();
    out.writeStructEnd();
}

void answerUnknownMethod(const std::string& name, int32_t seqid, TProtocol& in, TProtocol& out) {
    in.skip(T_STRUCT);
    in.readMessageEnd();
    std::string message = "Invalid method name: '" + name + "'";
    out.writeMessageBegin(name, T_EXCEPTION, seqid);
    writeApplicationException(out, TApplicationException::UNKNOWN_METHOD, &message);
    out.writeMessageEnd();
    out.getTransport()->flush();
}

const char* applicationExceptionName(int type) {
    switch (type) {
    case 1: return "Unknown method";
    case 2: return "Invalid message type";
    case 3: return "Wrong method name";
    case 4: return "Bad sequence ID";
    case 5: return "Missing result";
    default: return "Unknown";
    }
}

}  // namespace evernote::wire
