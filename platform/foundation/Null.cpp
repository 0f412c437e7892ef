#include "platform/foundation/Null.h"

namespace ns {

Null* Null::shared() {
    static Null* instance = [] {
        auto* n = new Null();
        n->makeImmortal();
        return n;
    }();
    return instance;
}

Ref<Null> Null::null() { return Ref<Null>(shared()); }

}  // namespace ns
