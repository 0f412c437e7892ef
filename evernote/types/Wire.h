// Helpers the generated records, clients and dispatchers share: strings and
// byte buffers in the object model, lists and maps, element checks, number
// formats of descriptions, and the application-exception messages.
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

// A string read from the wire; nil when its bytes are not UTF-8.
ns::Ref<ns::String> readString(TProtocol& in);
ns::Ref<ns::Data> readBinary(TProtocol& in);
// Writes every byte of the text (a NUL inside is kept, not a terminator).
void writeString(TProtocol& out, const ns::String& s);
void writeBinary(TProtocol& out, const ns::Data& d);

// Container elements that are numbers are boxed.
ns::Ref<ns::Object> readBoolNumber(TProtocol& in);
ns::Ref<ns::Object> readI16Number(TProtocol& in);
ns::Ref<ns::Object> readI32Number(TProtocol& in);
ns::Ref<ns::Object> readI64Number(TProtocol& in);
ns::Ref<ns::Object> readDoubleNumber(TProtocol& in);
void writeBoolNumber(TProtocol& out, const ns::Number& n);
void writeI16Number(TProtocol& out, const ns::Number& n);
void writeI32Number(TProtocol& out, const ns::Number& n);  // the value taken to 32 bits
void writeI64Number(TProtocol& out, const ns::Number& n);
void writeDoubleNumber(TProtocol& out, const ns::Number& n);

[[noreturn]] void failElement(const char* field, const char* expected);
[[noreturn]] void failNilElement();

// A container element of the class the field declares; a protocol error
// (INVALID_DATA) when the caller put something else in the array or dictionary.
template <class T>
T& element(ns::Object& e, const char* field) {
    auto* t = dynamic_cast<T*>(&e);
    if (!t) failElement(field, typeid(T).name());
    return *t;
}

// Reads a list header (its element type is not compared with the field's)
// and that many elements. A count that cannot fit in what is left of the
// input fails in the protocol before anything is allocated for it.
template <class ReadElement>
ns::Ref<ns::Array> readList(TProtocol& in, ReadElement readElement) {
    TType elemType;
    uint32_t count = 0;
    in.readListBegin(elemType, count);
    auto list = ns::MutableArray::make(std::min<uint32_t>(count, 1024));
    for (uint32_t i = 0; i < count; ++i) {
        ns::Ref<ns::Object> e = readElement(in);
        if (!e) failNilElement();
        list->addObject(std::move(e));
    }
    in.readListEnd();
    return list;
}

template <class WriteElement>
void writeList(TProtocol& out, TType elemType, const ns::Array& list, WriteElement writeElement) {
    out.writeListBegin(elemType, static_cast<uint32_t>(list.count()));
    for (ns::Object* e : list) writeElement(out, *e);
    out.writeListEnd();
}

template <class ReadKey, class ReadValue>
ns::Ref<ns::Dictionary> readMap(TProtocol& in, ReadKey readKey, ReadValue readValue) {
    TType keyType, valueType;
    uint32_t count = 0;
    in.readMapBegin(keyType, valueType, count);
    auto map = ns::MutableDictionary::make(std::min<uint32_t>(count, 1024));
    for (uint32_t i = 0; i < count; ++i) {
        ns::Ref<ns::Object> k = readKey(in);
        ns::Ref<ns::Object> v = readValue(in);
        if (!k || !v) failNilElement();
        map->setObjectForKey(std::move(v), std::move(k));
    }
    in.readMapEnd();
    return map;
}

template <class WriteKey, class WriteValue>
void writeMap(TProtocol& out, TType keyType, TType valueType, const ns::Dictionary& map,
              WriteKey writeKey, WriteValue writeValue) {
    size_t n = map.count();
    out.writeMapBegin(keyType, valueType, static_cast<uint32_t>(n));
    for (size_t i = 0; i < n; ++i) {
        writeKey(out, *map.keyAtIndex(i));
        writeValue(out, *map.valueAtIndex(i));
    }
    out.writeMapEnd();
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
