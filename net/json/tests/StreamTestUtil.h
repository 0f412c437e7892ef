// Helpers shared by the streaming codec tests: a canonical dump of a value
// tree that shows each node's kind (so 1 the integer and 1 the decimal differ).
#pragma once

#include <string>

#include "platform/foundation/Foundation.h"

namespace json::test {

std::string dump(const ns::Object* o);

template <class T>
std::string dump(const ns::Ref<T>& r) { return dump(r.get()); }

}  // namespace json::test
