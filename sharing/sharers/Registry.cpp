// The sharer classes this library knows by name. A sharer class made
// elsewhere registers itself with SHRSharer::registerSharerClass.
#include "sharing/core/SHRSharer.h"

namespace sharing {

void registerBuiltinSharers() {}

}  // namespace sharing
