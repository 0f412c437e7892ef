#include "sharing/tests/QueueSharer.h"

#include "sharing/core/SHRRequest.h"

namespace sharing::test {

std::string& QueueSharer::base() {
    static std::string b;
    return b;
}

void QueueSharer::registerClass(std::string serverBase) {
    base() = std::move(serverBase);
    SHRSharer::registerSharerClass("QueueSharer", [] { return ns::Ref<SHRSharer>(ns::make<QueueSharer>()); });
}

std::string QueueSharer::bodyFor(const SHRItem& item) {
    if (item.shareType() == SHRShareTypeImage) return "image:" + (item.image() ? item.image()->name() : std::string());
    if (item.shareType() == SHRShareTypeFile) return "file:" + std::string(item.data() ? item.data()->view() : "");
    return "text:" + (item.text() ? std::string(item.text()->utf8()) : std::string());
}

bool QueueSharer::send() {
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

}  // namespace sharing::test
