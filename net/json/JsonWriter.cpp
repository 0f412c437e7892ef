#include "net/json/JsonWriter.h"

#include "net/json/JsonStreamWriter.h"
#include "platform/foundation/Null.h"

namespace json {

ns::Ref<ns::Data> JsonWriter::dataWithObject(const ns::Object* value) { return dataWithObject(value, 0); }

ns::Ref<ns::Data> JsonWriter::dataWithObject(const ns::Object* value, int proxyHops) {
    error_.clear();
    auto accumulator = ns::make<JsonStreamWriterAccumulator>();
    auto writer = ns::make<JsonStreamWriter>();
    writer->setSortKeys(sortKeys_);
    writer->setMaxDepth(maxDepth_);
    writer->setHumanReadable(humanReadable_);
    writer->setDelegate(accumulator);

    bool ok;
    if (auto* d = ns::as<ns::Dictionary>(value)) {
        ok = writer->writeObject(d);
    } else if (auto* a = ns::as<ns::Array>(value)) {
        ok = writer->writeArray(a);
    } else if (auto* p = dynamic_cast<const JsonProxy*>(value);
               p && !ns::as<ns::String>(value) && !ns::as<ns::Number>(value) && !ns::isNull(value)) {
        if (proxyHops >= kMaxProxyChain) {
            error_ = "Not valid type for JSON";
            return nullptr;
        }
        ns::Ref<ns::Object> proxy = p->proxyForJson();
        return dataWithObject(proxy.get(), proxyHops + 1);
    } else {
        error_ = "Not valid type for JSON";
        return nullptr;
    }
    if (!ok) {
        error_ = writer->error();
        return nullptr;
    }
    return accumulator->data();
}

ns::Ref<ns::String> JsonWriter::stringWithObject(const ns::Object* value) {
    ns::Ref<ns::Data> data = dataWithObject(value);
    if (!data) return nullptr;
    return ns::String::make(data->view());
}

ns::Ref<ns::String> JsonWriter::stringWithObjectError(const ns::Object* value, ns::Ref<ns::Error>* error) {
    ns::Ref<ns::String> result = stringWithObject(value);
    if (!result && error) *error = ns::Error::withDescription(kJsonWriterErrorDomain, 0, error_);
    return result;
}

}  // namespace json
