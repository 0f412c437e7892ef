// The walk both JSON benchmarks time after each decode: every value visited,
// counting nodes, summing numbers and adding up the bytes of strings and
// keys, so that work a tree defers is paid for and the libraries' walks can
// be checked against each other. The project's trees are walked through the
// public interfaces a caller holds (ns::Array, ns::Dictionary, ns::String,
// ns::Number), each value classified with the same per-walk memo of class to
// kind that the writers use.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "net/json/JsonValueKind.h"
#include "platform/foundation/Array.h"
#include "platform/foundation/Dictionary.h"
#include "platform/foundation/Number.h"
#include "platform/foundation/String.h"

namespace jsonbench {

struct Stats {
    size_t nodes = 0;
    double numbers = 0;
    size_t stringBytes = 0;
    bool operator==(const Stats& o) const {
        return nodes == o.nodes && stringBytes == o.stringBytes &&
               std::abs(numbers - o.numbers) <= 1e-9 * std::max(1.0, std::abs(numbers));
    }
};

inline void walk(const ns::Object* o, json::JsonValueKindCache& kinds, Stats& st) {
    ++st.nodes;
    switch (kinds.kindOf(o)) {
        case json::JsonValueKind::String: st.stringBytes += static_cast<const ns::String*>(o)->utf8().size(); break;
        case json::JsonValueKind::Number:
        case json::JsonValueKind::Decimal: {
            auto* n = static_cast<const ns::Number*>(o);
            if (!n->isBool()) st.numbers += n->doubleValue();
            break;
        }
        case json::JsonValueKind::Array: {
            auto* a = static_cast<const ns::Array*>(o);
            for (size_t i = 0, c = a->count(); i < c; ++i) walk(a->objectAtIndex(i), kinds, st);
            break;
        }
        case json::JsonValueKind::Dictionary: {
            auto* d = static_cast<const ns::Dictionary*>(o);
            for (size_t i = 0, c = d->count(); i < c; ++i) {
                st.stringBytes += static_cast<const ns::String*>(d->keyAtIndex(i))->utf8().size();
                walk(d->valueAtIndex(i), kinds, st);
            }
            break;
        }
        default: break;
    }
}

inline void walk(const ns::Object* o, Stats& st) {
    json::JsonValueKindCache kinds;
    walk(o, kinds, st);
}

}  // namespace jsonbench
