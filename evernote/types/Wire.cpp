#include "evernote/types/Wire.h"

#include <cinttypes>
#include <cstdio>

#include <thrift/transport/TTransport.h>

namespace evernote::wire {

using apache::thrift::TApplicationException;
using namespace apache::thrift::protocol;

ns::Ref<ns::String> readString(TProtocol& in) {
    std::string bytes;
    in.readString(bytes);
    if (!ns::isValidUTF8(bytes.data(), bytes.size())) return nullptr;
    return ns::String::make(std::move(bytes));
}

ns::Ref<ns::Data> readBinary(TProtocol& in) {
    std::string bytes;
    in.readBinary(bytes);
    return ns::Data::make(bytes.data(), bytes.size());
}

void writeString(TProtocol& out, const ns::String& s) { out.writeString(s.utf8()); }

void writeBinary(TProtocol& out, const ns::Data& d) { out.writeBinary(std::string(d.view())); }

ns::Ref<ns::Object> readBoolNumber(TProtocol& in) {
    bool v = false;
    in.readBool(v);
    return ns::Number::numberWithBool(v);
}
ns::Ref<ns::Object> readI16Number(TProtocol& in) {
    int16_t v = 0;
    in.readI16(v);
    return ns::Number::numberWithShort(v);
}
ns::Ref<ns::Object> readI32Number(TProtocol& in) {
    int32_t v = 0;
    in.readI32(v);
    return ns::Number::numberWithInt(v);
}
ns::Ref<ns::Object> readI64Number(TProtocol& in) {
    int64_t v = 0;
    in.readI64(v);
    return ns::Number::numberWithLongLong(v);
}
ns::Ref<ns::Object> readDoubleNumber(TProtocol& in) {
    double v = 0;
    in.readDouble(v);
    return ns::Number::numberWithDouble(v);
}
void writeBoolNumber(TProtocol& out, const ns::Number& n) { out.writeBool(n.boolValue()); }
void writeI16Number(TProtocol& out, const ns::Number& n) {
    out.writeI16(static_cast<int16_t>(n.longLongValue()));
}
void writeI32Number(TProtocol& out, const ns::Number& n) {
    out.writeI32(static_cast<int32_t>(n.longValue()));
}
void writeI64Number(TProtocol& out, const ns::Number& n) {
    out.writeI64(static_cast<int64_t>(n.longLongValue()));
}
void writeDoubleNumber(TProtocol& out, const ns::Number& n) { out.writeDouble(n.doubleValue()); }

void failElement(const char* field, const char* expected) {
    throw TProtocolException(TProtocolException::INVALID_DATA,
                             std::string("element of ") + field + " is not of the declared type");
}

void failNilElement() {
    throw TProtocolException(TProtocolException::INVALID_DATA,
                             "container element is not valid UTF-8 text");
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
