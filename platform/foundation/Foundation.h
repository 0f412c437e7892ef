// Convenience header: the object model and its value classes.
#pragma once

#include "platform/foundation/Array.h"
#include "platform/foundation/Data.h"
#include "platform/foundation/Date.h"
#include "platform/foundation/Dictionary.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Null.h"
#include "platform/foundation/Number.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/String.h"

namespace ns {
// Short constructors for literals in code and tests.
inline Ref<Number> num(int v) { return Number::numberWithInt(v); }
inline Ref<Number> num(long long v) { return Number::numberWithLongLong(v); }
inline Ref<Number> num(double v) { return Number::numberWithDouble(v); }
inline Ref<Number> boolean(bool v) { return Number::numberWithBool(v); }
}  // namespace ns
