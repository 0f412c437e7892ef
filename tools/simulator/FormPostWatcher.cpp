#include "tools/simulator/FormPostWatcher.h"

#include <algorithm>
#include <utility>

#include "platform/foundation/SecretMasking.h"

namespace simulator {

void FormPostWatcher::post(ns::Ref<app::FormPostRequest> request) {
    if (!request) return;
    started_.push_back("Form post: POST " + ns::maskSecretsInURL(request->url) + " " +
                       ns::maskSecretsInParameters(request->encodedBody()));
    auto relay = ns::make<Relay>(*request);
    request->delegate = relay.get();
    running_.push_back({relay, request.get()});
    poster_->post(std::move(request));
}

std::vector<std::string> FormPostWatcher::takeStartedLines() { return std::exchange(started_, {}); }

bool FormPostWatcher::waiting() {
    std::erase_if(running_, [](const Running& r) { return r.relay->answered || r.request.expired(); });
    return !running_.empty();
}

}  // namespace simulator
