#include "sharing/core/SHRStorableJSON.h"

namespace sharing {

namespace {

ns::Ref<ns::Object> copyAtDepth(ns::Object* value, int depth) {
    if (!value || ns::as<ns::Null>(value)) return ns::str("");
    if (depth > 64) return ns::str("");
    if (auto* d = ns::as<ns::Dictionary>(value)) {
        auto out = ns::MutableDictionary::make();
        auto keys = d->allKeys();
        for (size_t i = 0; i < keys->count(); ++i)
            if (auto* k = ns::as<ns::String>(keys->objectAtIndex(i)))
                out->setObject(copyAtDepth(d->objectForKey(k->view()), depth + 1), k->view());
        return out;
    }
    if (auto* a = ns::as<ns::Array>(value)) {
        auto out = ns::MutableArray::make();
        for (size_t i = 0; i < a->count(); ++i) out->addObject(copyAtDepth(a->objectAtIndex(i), depth + 1));
        return out;
    }
    return ns::Ref<ns::Object>(value);
}

}  // namespace

ns::Ref<ns::Object> SHRStorableJSONCopy(ns::Object* value) { return copyAtDepth(value, 0); }

}  // namespace sharing
