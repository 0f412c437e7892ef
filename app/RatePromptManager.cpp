#include "app/RatePromptManager.h"

#include <limits>

#include "analytics/Analytics.h"
#include "app/AppConfig.h"
#include "app/AppLog.h"
#include "platform/foundation/Foundation.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/Application.h"

namespace app {

std::string RatePromptManager::currentBundleVersion() {
    auto info = ns::dictionaryWithContentsOfFile(ns::Paths::pathForResource("Info", "plist"));
    if (!info) return {};
    auto* v = info->objectForKey("CFBundleVersion");
    if (auto* s = dynamic_cast<ns::String*>(v)) return std::string(s->utf8());
    if (v) return v->description();
    return {};
}

namespace {
bool ratedThisVersion() {
    auto rated = ns::UserDefaults::standardUserDefaults()->objectForKey(kRatedVersionKey);
    auto* s = dynamic_cast<ns::String*>(rated.get());
    return s && s->utf8() == RatePromptManager::currentBundleVersion();
}
}  // namespace

void RatePromptManager::incrementLaunchCount() {
    if (ratedThisVersion()) return;
    auto defaults = ns::UserDefaults::standardUserDefaults();
    // The count stops at its largest value: one more would wrap it negative
    // and silence the prompt for good.
    long count = defaults->integerForKey(kLaunchCountKey);
    if (count < std::numeric_limits<long>::max()) ++count;
    defaults->setIntegerForKey(count, kLaunchCountKey);
}

bool RatePromptManager::needsPromptToRate() {
    auto defaults = ns::UserDefaults::standardUserDefaults();
    return defaults->integerForKey(kLaunchCountKey) > 1 && !ratedThisVersion();
}

void RatePromptManager::checkForRatePrompt() {
    incrementLaunchCount();
    if (needsPromptToRate()) showAlert();
}

void RatePromptManager::checkForRatePrompt1() {
    incrementLaunchCount();
    showAlert();
}

void RatePromptManager::resetLaunchCount() {
    ns::UserDefaults::standardUserDefaults()->setIntegerForKey(0, kLaunchCountKey);
}

void RatePromptManager::dontPromptAgainThisVersion() {
    ns::UserDefaults::standardUserDefaults()->setObjectForKey(ns::String::make(currentBundleVersion()),
                                                              kRatedVersionKey);
    resetLaunchCount();
}

void RatePromptManager::showAlert() {
    auto alert = ui::AlertView::make("", kRatePromptMessage, this, "No thanks", {"Rate it", "Remind me later"});
    alert_ = alert;
    alert->show();
}

void RatePromptManager::alertViewClickedButtonAtIndex(ui::AlertView*, long index) {
    if (logsAnswer()) {
        analytics::Analytics::logEventWithParameters(
            "RateDismissed", ns::Dictionary::make({{"ButtonClicked", ns::Number::numberWithLong(index)}}).get());
    }
    switch (index) {
    case 0: dontPromptAgainThisVersion(); break;
    case 1:
        dontPromptAgainThisVersion();
        RatePromptManager::showRatePage();
        break;
    case 2: resetLaunchCount(); break;
    default: break;
    }
}

std::string RatePromptManager::ratePageURL() {
    return std::string("itms-apps://") + kAppStoreHost +
           "/WebObjects/MZStore.woa/wa/viewContentsUserReviews?id=" + kAppStoreIdentifier +
           "&onlyLatestVersion=true&pageNumber=0&sortOrdering=1&type=Purple+Software";
}

void RatePromptManager::showRatePage() { ui::Application::shared()->openURL(ratePageURL()); }

void RatePromptManagerIphone::showRatePage() {
    appLog(std::string("Store identifier: ") + kAppStoreIdentifier);
    RatePromptManager::showRatePage();
}

}  // namespace app
