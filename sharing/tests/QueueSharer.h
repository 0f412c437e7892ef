// A sharer for the offline-queue tests: it posts what it shares ("text:..",
// "image:<name>" or "file:<bytes>") to <base>/echo with one simple request
// and reports finished on status 200 or 201, failed otherwise.
#pragma once

#include <string>

#include "sharing/core/SHRSharer.h"

namespace sharing::test {

class QueueSharer : public SHRSharer {
public:
    // Registers the class under "QueueSharer", posting to `serverBase`.
    static void registerClass(std::string serverBase);
    // The body a share of `item` is posted with.
    static std::string bodyFor(const SHRItem& item);

    const char* className() const override { return "QueueSharer"; }
    std::string sharerTitle() const override { return "Queue"; }
    bool canShareText() const override { return true; }
    bool canShareImage() const override { return true; }
    bool canShareFile() const override { return true; }
    bool requiresAuthentication() const override { return false; }
    bool send() override;

private:
    static std::string& base();
};

}  // namespace sharing::test
