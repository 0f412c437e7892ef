// Peer tests check our code against another program or library (nginx, the
// openssl command and its providers, python3 and its modules, thrift). On a
// developer's machine a missing peer skips the test; where the environment
// sets DECK_REQUIRE_PEERS (CI does), a missing peer fails it, so a broken
// install is never hidden behind a skip.
#pragma once

#include <gtest/gtest.h>

namespace testsupport {

// True when DECK_REQUIRE_PEERS is set to anything but "" or "0".
bool peersRequired();

}  // namespace testsupport

// Use in a test (or a fixture's SetUp) when its peer is missing; `why` says
// what is missing. Returns from the calling function.
#define DECK_PEER_MISSING(why)                                                              \
    do {                                                                                    \
        if (::testsupport::peersRequired()) {                                               \
            GTEST_FAIL() << "missing peer (DECK_REQUIRE_PEERS is set): " << why;            \
        }                                                                                   \
        GTEST_SKIP() << why;                                                                \
    } while (0)
