// The null object: a single shared instance standing for "no value" inside
// collections, where nil cannot be stored.
#pragma once

#include "platform/foundation/Object.h"

namespace ns {

class Null final : public Object {
public:
    const char* className() const override { return "Null"; }
    std::string description() const override { return "<null>"; }
    static Ref<Null> null();
    static Null* shared();

private:
    Null() = default;
};

inline bool isNull(const Object* o) { return o == Null::shared(); }

}  // namespace ns
