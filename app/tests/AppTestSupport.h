// A fresh app for each test: a temporary home folder, the sample bundle
// (or a small one made by the test), the main run loop on a manual clock,
// analytics forgotten, the outside services at their built-in addresses
// until the test points them at its own servers. Screens are driven with
// ui::Driver and read with the text screen, which a failing test prints.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "analytics/Analytics.h"
#include "app/AppLog.h"
#include "app/Launch.h"
#include "app/SwipeableWebView_ipad.h"
#include "app/forms/FormPoster.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Foundation.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/mail/MailComposeViewController.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Application.h"
#include "platform/ui/Driver.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Image.h"
#include "platform/ui/Label.h"
#include "platform/ui/TextScreen.h"
#include "platform/ui/WebView.h"
#include "testsupport/EndpointOverrides.h"
#include "testsupport/TempDir.h"

namespace app::test {

namespace fs = std::filesystem;

inline std::string sampleBundle() { return std::string(DECK_SOURCE_DIR) + "/resources"; }

// Keeps the form posts the screens start, so a test sees exactly what would
// be sent and answers it through the request's delegate.
class RecordingFormPoster : public FormPoster {
public:
    const char* className() const override { return "RecordingFormPoster"; }
    void post(ns::Ref<FormPostRequest> request) override { requests_.push_back(std::move(request)); }
    const std::vector<ns::Ref<FormPostRequest>>& requests() const { return requests_; }
    ns::Ref<FormPostRequest> last() const { return requests_.empty() ? nullptr : requests_.back(); }

private:
    std::vector<ns::Ref<FormPostRequest>> requests_;
};

inline RecordingFormPoster* recordingFormPoster() { return dynamic_cast<RecordingFormPoster*>(&formPoster()); }

class AppTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Launches on the idiom with the given bundle (the sample deck by default).
    ns::Ref<AppDelegate> launchApp(ui::UserInterfaceIdiom idiom, std::string bundle = sampleBundle());
    ns::Ref<AppDelegate> launchPhone() { return launchApp(ui::UserInterfaceIdiom::Phone); }
    ns::Ref<AppDelegate> launchTablet() { return launchApp(ui::UserInterfaceIdiom::Pad); }
    // Launches past the splash.
    ns::Ref<AppDelegate> startPhone() { launchPhone(); driver->advance(4.0); return delegate; }
    ns::Ref<AppDelegate> startTablet() { launchTablet(); driver->advance(3.0); return delegate; }

    void setRegistro();
    std::string screen() const { return ui::TextScreen::render(); }
    bool screenHas(const std::string& text) const { return screen().find(text) != std::string::npos; }
    std::string documents(const std::string& name) const { return home + "/Documents/" + name; }
    static void writeFile(const std::string& path, const std::string& bytes);
    static std::string readFile(const std::string& path);

    ns::Ref<ns::ManualClock> clock;
    std::unique_ptr<testsupport::TempDir> homeFolder;
    std::string home;
    std::unique_ptr<ui::Driver> driver;
    ns::Ref<AppDelegate> delegate;
    // Outside services pointed at the test's servers, until the test ends.
    testsupport::EndpointOverrides endpoints;
};

// The phone past the splash, signed up (no sign-up overlay), able to send
// mail.
class PhoneAppTest : public AppTest {
protected:
    void SetUp() override;
    void TearDown() override;
};

// The mail composer on top of the key window, nil when there is none.
mail::MailComposeViewController* shownComposer();

// Checks that the alert on top says the device cannot send mail, and
// presses its one button.
void dismissCannotSendMailAlert(ui::Driver& driver);

// Addresses the composer on screen to an address it refuses (text outside
// ASCII) and taps Send: checks the composer's alert says why and presses
// its button. The caller checks that the composer and its screen stayed.
void sendToARefusedAddress(ui::Driver& driver);

// The file name of the page a web view shows; "(none)" when it shows none.
inline std::string shownPageName(const ui::WebView* w) {
    return w && w->baseURL() ? ns::describe(w->baseURL()->lastPathComponent()) : std::string("(none)");
}

// The name of the image an image view shows; "(none)" when it is no image
// view or shows nothing.
inline std::string imageName(const ui::View* v) {
    auto* iv = dynamic_cast<const ui::ImageView*>(v);
    return iv && iv->image() ? iv->image()->name() : std::string("(none)");
}

// The phone's selected tab's navigation controller, and the screen on top
// of it as a T (nil when it is something else).
inline ui::NavigationController* selectedNav() {
    auto* w = ui::Application::shared()->keyWindow();
    auto* tabs = w ? dynamic_cast<ui::TabBarController*>(w->rootViewController()) : nullptr;
    return tabs ? dynamic_cast<ui::NavigationController*>(tabs->selectedViewController()) : nullptr;
}

template <class T>
T* topScreen() {
    auto* nav = selectedNav();
    return nav ? dynamic_cast<T*>(nav->topViewController()) : nullptr;
}

}  // namespace app::test
