// The base of every Evernote (EDAM) record: a value and an is-set flag per
// field, encoding to and decoding from a Thrift protocol, keyed archiving and
// a description that prints every field, set or not.
//
// Record classes are generated from tools/edamgen/records.txt; see
// docs/evernote.md for the pattern and its few departures.
#pragma once

#include <string>

#include <thrift/protocol/TProtocol.h>

#include "evernote/types/Coder.h"
#include "evernote/types/WireReader.h"
#include "evernote/types/WireWriter.h"
#include "platform/foundation/Array.h"
#include "platform/foundation/Data.h"
#include "platform/foundation/Dictionary.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Number.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/String.h"

namespace evernote {

using apache::thrift::protocol::TMessageType;
using apache::thrift::protocol::TProtocol;

class Record : public ns::Object {
public:
    // The Thrift struct name ("User" for EDAMUser); descriptions start with it.
    virtual const char* structName() const = 0;

    // Decodes fields until the struct's stop byte, from the protocol's input
    // (a binary protocol; see WireReader for the rules and limits). Unknown
    // ids and known ids of another wire type are skipped; a field that arrives
    // stays set. Protocol and transport failures propagate; fields stored
    // before the failure stay.
    void read(TProtocol& in);
    // Encodes the set fields in id order (object fields only when they hold an
    // object), then the stop byte. Result records write only their first set
    // field. Nothing reaches a memory transport's output when writing fails.
    void write(TProtocol& out) const;
    // The same on a reader or writer that is already open (nested records,
    // and the clients' and dispatchers' messages).
    virtual void readFrom(WireReader& in) = 0;
    virtual void writeTo(WireWriter& out) const = 0;
    // Archives each set field under its name.
    virtual void encodeWithCoder(Coder& coder) const = 0;
    // Same class, same flags, equal values in every set field.
    virtual bool isEqualToRecord(const Record& other) const = 0;

    bool isEqual(const ns::Object& other) const override;
    size_t hash() const override;

protected:
    Record() = default;
    // Copies nothing of the object header: the copy is a new object.
    Record(const Record&) : ns::Object() {}
};

// Archives the name and reason of a service exception before its fields.
void encodeExceptionWithCoder(const ns::Exception& exception, Coder& coder);

}  // namespace evernote
