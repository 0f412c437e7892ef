// Sorts objects into the kinds a JSON writer treats differently. The exact
// classes met are remembered, so most objects are classified by comparing one
// class identity instead of walking the class hierarchy with casts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <typeinfo>

#include "platform/foundation/Object.h"

namespace json {

// Decimal is an ns::DecimalNumber (a number that keeps its own text).
enum class JsonValueKind : uint8_t { Other, Dictionary, Array, String, Number, Decimal, Null };

// The kind of `o` found through the class hierarchy (nil is Other). The
// order of the tests decides for a class that is more than one kind.
JsonValueKind classifyJsonValue(const ns::Object* o);

// A small memo of exact class to kind; one per writer (not shared between
// threads). It is an open-addressing table on the address of the class's
// type_info: a known class costs one comparison whose outcome the processor
// predicts, where searching a list would branch differently for every class.
// Classes whose addresses hash alike take the next free slots, so no layout
// of the program makes two common classes evict each other (a table of one
// slot per hash did, and then every value went through the casts).
class JsonValueKindCache {
public:
    JsonValueKind kindOf(const ns::Object* o) {
        if (!o) return JsonValueKind::Other;
        const std::type_info* type = &typeid(*o);
        // Ends: the table always keeps an empty slot.
        for (size_t slot = home(type);; slot = (slot + 1) % kSlots) {
            if (types_[slot] == type) return kinds_[slot];
            if (!types_[slot]) return remember(o, type, slot);
        }
    }
    // The kind of a non-nil object of a class met before, without a call:
    // false for a class not yet remembered (kindOf then learns it).
    bool knownKind(const ns::Object* o, JsonValueKind& kind) const {
        const std::type_info* type = &typeid(*o);
        for (size_t slot = home(type);; slot = (slot + 1) % kSlots) {
            if (types_[slot] == type) {
                kind = kinds_[slot];
                return true;
            }
            if (!types_[slot]) return false;
        }
    }

private:
    static constexpr size_t kSlots = 32;
    static size_t home(const std::type_info* type) {
        static_assert(kSlots == 32, "five bits of the hash");
        return static_cast<size_t>((reinterpret_cast<uintptr_t>(type) * 0x9E3779B97F4A7C15ull) >> 59);
    }
    // Classifies a new class and keeps it in the empty `slot`.
    JsonValueKind remember(const ns::Object* o, const std::type_info* type, size_t slot);

    const std::type_info* types_[kSlots] = {};
    JsonValueKind kinds_[kSlots] = {};
    size_t used_ = 0;
};

}  // namespace json
