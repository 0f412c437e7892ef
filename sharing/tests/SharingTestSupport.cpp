#include "sharing/tests/SharingTestSupport.h"

namespace sharing::test {

void SharingTest::SetUp() {
    testsupport::UITest::SetUp();
    home = std::make_unique<TempDir>();
    ns::Paths::setHomeDirectory(home->path());
    ns::UserDefaults::resetStandardUserDefaults();
    fake = ns::make<net::FakeReachabilityProvider>();
    setOnline(true);
    net::ReachabilityProvider::setCurrent(fake);
    SHR::reset();
    ui::Panel::resetShown();
    window = makeWindow();
    root = ns::make<ui::ViewController>();
    window->setRootViewController(root);
}

void SharingTest::TearDown() {
    SHR::reset();
    ui::Panel::resetShown();
    testsupport::UITest::TearDown();
    net::ReachabilityProvider::setCurrent(nullptr);
    ns::UserDefaults::resetStandardUserDefaults();
    ns::Paths::setHomeDirectory("");
}

void SharingTest::setOnline(bool online) {
    fake->setDefaultFlags(online ? uint32_t(net::kReachabilityReachable) : 0u);
}

std::vector<std::string> SharingTest::alerts() const {
    std::vector<std::string> out;
    for (auto& p : ui::Panel::visiblePanels())
        if (auto* a = ns::as<ui::AlertView>(p.get())) out.push_back(a->title() + "|" + a->message());
    return out;
}

NotificationRecorder::NotificationRecorder() {
    auto c = ns::NotificationCenter::defaultCenter();
    for (const char* n : {SHRSendDidStartNotification, SHRSendDidFinishNotification,
                          SHRSendDidFailWithErrorNotification, SHRSendDidCancelNotification,
                          SHRAuthDidFinishNotification}) {
        tokens.push_back(c->addObserver(n, nullptr, [this](const ns::Notification& note) {
            std::string line = note.name();
            if (auto* info = note.userInfo())
                if (auto* s = info->numberForKey("success")) line += s->boolValue() ? ":true" : ":false";
            names.push_back(line);
        }));
    }
}

}  // namespace sharing::test
