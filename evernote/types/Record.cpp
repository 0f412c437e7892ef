#include "evernote/types/Record.h"

#include <functional>
#include <string_view>

#include "platform/foundation/String.h"

namespace evernote {

bool Record::isEqual(const ns::Object& other) const {
    if (this == &other) return true;
    auto* record = dynamic_cast<const Record*>(&other);
    return record && isEqualToRecord(*record);
}

void Record::read(TProtocol& in) {
    WireReader reader(in);
    WireReader::Nesting top(reader);
    readFrom(reader);
    reader.finish();
}

void Record::write(TProtocol& out) const {
    WireWriter writer(out);
    writeTo(writer);
    writer.finish();
}

size_t Record::hash() const {
    return std::hash<std::string_view>()(className());
}

void encodeExceptionWithCoder(const ns::Exception& exception, Coder& coder) {
    coder.encodeObject(ns::String::make(exception.name()), kExceptionNameKey);
    coder.encodeObject(ns::String::make(exception.reason()), kExceptionReasonKey);
}

}  // namespace evernote
