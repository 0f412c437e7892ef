// The rate-this-app prompt. Launches are counted in the user defaults
// ("LaunchCount"); from the second counted launch of a bundle version on,
// an alert offers "No thanks", "Rate it" and "Remind me later". Declining
// or rating silences the prompt for that version ("RatedVersion"); "Remind
// me later" starts the count again. The store's review page is opened
// through the application's open-URL service.
#pragma once

#include <string>

#include "platform/ui/AlertView.h"

namespace app {

inline constexpr const char* kLaunchCountKey = "LaunchCount";
inline constexpr const char* kRatedVersionKey = "RatedVersion";
inline constexpr const char* kRatePromptMessage =
    "If you like our app, please review it in the app store.  Thank you for your support!";

class RatePromptManager : public ns::Object, public ui::AlertViewDelegate {
public:
    const char* className() const override { return "RatePromptManager"; }

    void incrementLaunchCount();
    bool needsPromptToRate();
    // Counts the launch and shows the alert when needsPromptToRate says so.
    void checkForRatePrompt();
    // Counts the launch and shows the alert whatever the count.
    void checkForRatePrompt1();
    void resetLaunchCount();
    void dontPromptAgainThisVersion();
    void alertViewClickedButtonAtIndex(ui::AlertView* alert, long index) override;

    // Opens the store's review page for the app.
    static void showRatePage();
    // The review page's address.
    static std::string ratePageURL();
    // "CFBundleVersion" of the bundle's Info.plist ("" when there is none).
    static std::string currentBundleVersion();

    // The alert this manager showed last (nil when none).
    ui::AlertView* lastAlert() const { return alert_.lock().get(); }

protected:
    // Whether an answer is logged to analytics (the phone's twin does not).
    virtual bool logsAnswer() const { return true; }

private:
    void showAlert();
    ns::Weak<ui::AlertView> alert_;
};

// The twin used by the rate page screen: the same behaviour without the
// analytics event; its store page also writes the identifier to the log.
class RatePromptManagerIphone : public RatePromptManager {
public:
    const char* className() const override { return "RatePromptManagerIphone"; }
    static void showRatePage();

protected:
    bool logsAnswer() const override { return false; }
};

}  // namespace app
