// A sharer for the offline-queue tests: it posts what it shares ("text:..",
// "image:<name>" or "file:<bytes>") to <base>/echo with one simple request
// and reports finished on status 200 or 201, failed otherwise.
#pragma once

#include <string>

#include "sharing/core/SHRRequest.h"
#include "sharing/core/SHRSharer.h"

namespace sharing::test {

class QueueSharer : public SHRSharer {
public:
    static std::string& base() {
        static std::string b;
        return b;
    }
    static void registerClass(std::string serverBase) {
        base() = std::move(serverBase);
        SHRSharer::registerSharerClass("QueueSharer", [] { return ns::Ref<SHRSharer>(ns::make<QueueSharer>()); });
    }
    // The body a share of `item` is posted with.
    static std::string bodyFor(const SHRItem& item) {
        if (item.shareType() == SHRShareTypeImage) return "image:" + (item.image() ? item.image()->name() : std::string());
        if (item.shareType() == SHRShareTypeFile) return "file:" + std::string(item.data() ? item.data()->view() : "");
        return "text:" + (item.text() ? item.text()->utf8() : std::string());
    }

    const char* className() const override { return "QueueSharer"; }
    std::string sharerTitle() const override { return "Queue"; }
    bool canShareText() const override { return true; }
    bool canShareImage() const override { return true; }
    bool canShareFile() const override { return true; }
    bool requiresAuthentication() const override { return false; }
    bool send() override {
        if (!validateItem()) return false;
        ns::Weak<QueueSharer> self(this);
        setRequest(SHRRequest::make(ns::URL::URLWithString(base() + "/echo"), ns::str(bodyFor(*item())),
                                    ns::keepAlive(this),
                                    [self](SHRRequest* r) {
                                        if (auto s = self.lock()) {
                                            if (r->success()) s->sendDidFinish();
                                            else s->sendDidFailWithError(nullptr);
                                        }
                                    },
                                    ns::str("POST"), true));
        sendDidStart();
        return true;
    }
};

}  // namespace sharing::test
