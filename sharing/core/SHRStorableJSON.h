// Account information a service answered as JSON, made storable in the user
// defaults: the defaults hold property-list values only, and a JSON null is
// none, so a reply with an empty profile field could never be stored.
#pragma once

#include "platform/foundation/Foundation.h"

namespace sharing {

// A copy of a decoded JSON value in standard collections, every null (and
// anything nested deeper than 64 levels) as empty text.
ns::Ref<ns::Object> SHRStorableJSONCopy(ns::Object* value);

}  // namespace sharing
