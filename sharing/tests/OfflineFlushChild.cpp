// A process that flushes the offline queue of a home folder and keeps
// re-sending until it is killed (the kill-during-flush test starts it):
//   sharing_offline_flush_child <home folder> <server base URL>
// It prints "flushing" once the flush has started. It ends by itself after
// 60 seconds, and with its parent.
#include <sys/prctl.h>

#include <csignal>
#include <cstdio>
#include <memory>

#include "platform/foundation/Paths.h"
#include "platform/foundation/RunLoop.h"
#include "platform/network/ReachabilityProvider.h"
#include "sharing/core/SHR.h"
#include "sharing/tests/QueueSharer.h"

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    ns::Paths::setHomeDirectory(argv[1]);
    auto online = ns::make<net::FakeReachabilityProvider>();
    online->setDefaultFlags(net::kReachabilityReachable);
    net::ReachabilityProvider::setCurrent(online);
    sharing::test::QueueSharer::registerClass(argv[2]);
    sharing::SHR::flushOfflineQueue();
    std::printf("flushing\n");
    std::fflush(stdout);
    ns::RunLoop::main()->runUntil([] { return false; }, 60);
    return 0;
}
