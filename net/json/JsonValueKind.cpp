#include "net/json/JsonValueKind.h"

#include "platform/foundation/Array.h"
#include "platform/foundation/Dictionary.h"
#include "platform/foundation/Null.h"
#include "platform/foundation/Number.h"
#include "platform/foundation/String.h"

namespace json {

JsonValueKind classifyJsonValue(const ns::Object* o) {
    if (ns::as<ns::Dictionary>(o)) return JsonValueKind::Dictionary;
    if (ns::as<ns::Array>(o)) return JsonValueKind::Array;
    if (ns::as<ns::String>(o)) return JsonValueKind::String;
    if (ns::as<ns::DecimalNumber>(o)) return JsonValueKind::Decimal;
    if (ns::as<ns::Number>(o)) return JsonValueKind::Number;
    if (o && ns::isNull(o)) return JsonValueKind::Null;
    return JsonValueKind::Other;
}

JsonValueKind JsonValueKindCache::remember(const ns::Object* o, const std::type_info* type, size_t slot) {
    JsonValueKind kind = classifyJsonValue(o);
    if (used_ + 1 == kSlots) {
        // A writer that met 31 classes starts over, so a slot stays empty.
        for (auto& t : types_) t = nullptr;
        used_ = 0;
        slot = home(type);
    }
    types_[slot] = type;
    kinds_[slot] = kind;
    ++used_;
    return kind;
}

}  // namespace json
