#include "testsupport/PeerRequirement.h"

#include <cstdlib>
#include <cstring>

namespace testsupport {

bool peersRequired() {
    const char* v = std::getenv("DECK_REQUIRE_PEERS");
    return v && *v && std::strcmp(v, "0") != 0;
}

}  // namespace testsupport
