// A property list that exercises every value kind, shared by the tests.
#pragma once

#include "platform/foundation/Foundation.h"

namespace ns::testing {

Ref<Dictionary> everyKindOfValue();

}  // namespace ns::testing
