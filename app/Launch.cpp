#include "app/Launch.h"

#include "app/ContentModel.h"
#include "app/HomeLock.h"
#include "app/SwipeableWebView_ipad.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/security/Keychain.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Image.h"
#include "platform/ui/NavigationController.h"

namespace app {

ns::Ref<AppDelegate> launch(const LaunchSettings& s, std::string* refused) {
    // Claimed before anything reads or writes there.
    std::string home = s.homeDir.empty() ? ns::Paths::homeDirectory() : s.homeDir;
    ns::Paths::ensureDirectory(home, 0700);
    std::string why;
    if (!claimHome(home, &why)) {
        if (refused) *refused = why;
        return nullptr;
    }
    if (!s.homeDir.empty()) ns::Paths::setHomeDirectory(s.homeDir);
    if (s.clock) ns::RunLoop::main()->setClock(s.clock);
    ui::Panel::resetShown();
    ui::Application::shared()->reset();
    ui::Device::current()->reset();
    ui::Device::current()->setUserInterfaceIdiom(s.idiom);
    if (!s.bundleDir.empty()) ns::Paths::setBundleResourcePath(s.bundleDir);
    ui::Image::setImageFolder(ns::Paths::join(ns::Paths::bundleResourcePath(), "images"));
    ns::UserDefaults::resetStandardUserDefaults();
    ui::TabBar::setAppearanceTintColor(nullptr);
    SwipeableWebView_ipad::resetSharedFlag();
    forgetUnreadableKeptFiles();
    sec::forgetKeychainSetAsideEvents();

    auto delegate = ns::make<AppDelegate>();
    ui::Application::shared()->launch(delegate);
    return delegate;
}

ns::Ref<AppDelegate> launch(ui::UserInterfaceIdiom idiom, const std::string& homeDir, const std::string& bundleDir,
                            ns::Ref<ns::Clock> clock) {
    LaunchSettings s;
    s.idiom = idiom;
    s.homeDir = homeDir;
    s.bundleDir = bundleDir;
    s.clock = std::move(clock);
    return launch(s);
}

}  // namespace app
