#include "sharing/tests/FakeServices.h"

#include "net/json/JSONDecoder.h"

namespace sharing::test {

ns::Ref<ns::Array> FakeServices::log() const {
    std::string text = call("/__log");
    auto o = json::JSONDecoder::decoder()->objectWithUTF8StringLengthError(text.data(), text.size());
    return ns::Ref<ns::Array>(ns::as<ns::Array>(o.get()));
}

ns::Ref<ns::Dictionary> FakeServices::last() const {
    auto l = log();
    if (!l || l->count() == 0) return nullptr;
    return ns::Ref<ns::Dictionary>(ns::as<ns::Dictionary>(l->objectAtIndex(l->count() - 1)));
}

int FakeServices::count(const char* which) const {
    std::string text = call("/__held");
    auto o = json::JSONDecoder::decoder()->objectWithUTF8StringLengthError(text.data(), text.size());
    auto* d = ns::as<ns::Dictionary>(o.get());
    auto* n = d ? ns::as<ns::Number>(d->objectForKey(which)) : nullptr;
    return n ? n->intValue() : -1;
}

Pairs pairs(const ns::Dictionary* record, std::string_view key) {
    Pairs out;
    auto* a = record ? record->arrayForKey(key) : nullptr;
    if (!a) return out;
    for (ns::Object* o : *a) {
        auto* p = ns::as<ns::Array>(o);
        if (p && p->count() == 2) out.emplace_back(ns::describe(p->objectAtIndex(0)), ns::describe(p->objectAtIndex(1)));
    }
    return out;
}

std::string field(const ns::Dictionary* d, std::string_view key) {
    ns::Object* o = d ? d->objectForKey(key) : nullptr;
    return o ? ns::describe(o) : std::string();
}

}  // namespace sharing::test
