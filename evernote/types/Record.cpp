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

size_t Record::hash() const {
    return std::hash<std::string_view>()(className());
}

void encodeExceptionWithCoder(const ns::Exception& exception, Coder& coder) {
    coder.encodeObject(ns::String::make(exception.name()), kExceptionNameKey);
    coder.encodeObject(ns::String::make(exception.reason()), kExceptionReasonKey);
}

}  // namespace evernote
