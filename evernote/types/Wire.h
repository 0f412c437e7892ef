// Helpers the generated records, clients and dispatchers share: element
// checks, number formats of descriptions, field equality, reply headers and
// the application-exception messages. Values themselves are read and written
// by WireReader and WireWriter.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <typeinfo>

#include <thrift/TApplicationException.h>
#include <thrift/protocol/TProtocol.h>
#include <thrift/protocol/TProtocolException.h>

#include "platform/foundation/Array.h"
#include "platform/foundation/Data.h"
#include "platform/foundation/Dictionary.h"
#include "platform/foundation/Number.h"
#include "platform/foundation/String.h"

namespace evernote::wire {

using apache::thrift::protocol::TProtocol;
using apache::thrift::protocol::TProtocolException;
using apache::thrift::protocol::TType;

[[noreturn]] void failElement(const char* field, const char* expected);

// A container element of the class the field declares; a protocol error
// (INVALID_DATA) when the caller put something else in the array or dictionary.
template <class T>
T& element(ns::Object& e, const char* field) {
    auto* t = dynamic_cast<T*>(&e);
    if (!t) failElement(field, typeid(T).name());
    return *t;
}

// Value formats of descriptions: "%i", "%hi", "%i", "%qi", "%f", and objects
// between double quotation marks.
std::string describeBool(bool v);
std::string describeI16(int16_t v);
std::string describeI32(int32_t v);
std::string describeI64(int64_t v);
std::string describeDouble(double v);
std::string describeQuoted(const ns::Object* o);

// Field equality for isEqualToRecord: same flag, and equal values when set.
template <class T>
bool sameField(bool aSet, const T& a, bool bSet, const T& b) {
    return aSet == bSet && (!aSet || a == b);
}
inline bool sameField(bool aSet, double a, bool bSet, double b) {
    return aSet == bSet && (!aSet || a == b || (a != a && b != b));
}
template <class T>
bool sameField(bool aSet, const ns::Ref<T>& a, bool bSet, const ns::Ref<T>& b) {
    return aSet == bSet && (!aSet || ns::equal(a, b));
}

// Reads a reply's message header. The name and sequence id are not compared
// with the call. A reply of type 3 (exception) is decoded as an application
// exception, the message end is read, and that exception is thrown.
void readReplyBegin(TProtocol& in);

// Writes Thrift's application-exception struct: "message" only when given,
// "type" always.
void writeApplicationException(TProtocol& out, int32_t type, const std::string* message);

// Answers a call whose method name the dispatcher does not know: skips its
// argument struct, then writes a type-3 message with the received name and
// sequence id carrying an application exception of type 1, and flushes.
void answerUnknownMethod(const std::string& name, int32_t seqid, TProtocol& in, TProtocol& out);

// The name of an application exception by its type: 1 "Unknown method",
// 2 "Invalid message type", 3 "Wrong method name", 4 "Bad sequence ID",
// 5 "Missing result", any other "Unknown".
const char* applicationExceptionName(int type);
inline const char* applicationExceptionName(const apache::thrift::TApplicationException& e) {
    return applicationExceptionName(e.getType());
}

}  // namespace evernote::wire
