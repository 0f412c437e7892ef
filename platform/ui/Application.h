// The application object, the device and the screen.
//
// Application::shared() is the process's one application: its delegate, its
// windows, the key window, status bar flags, and the URLs it was asked to
// open (recorded; a handler may print them). Life-cycle changes post the
// notifications named below on ns::NotificationCenter's default centre.
// Device::current() holds the idiom (set at start), the orientation and the
// system version; Screen::main() the screen's bounds for the idiom.
#pragma once

#include <functional>
#include <string_view>
#include <string>
#include <vector>

#include "platform/foundation/Dictionary.h"
#include "platform/foundation/String.h"
#include "platform/foundation/Delegate.h"
#include "platform/ui/Responder.h"
#include "platform/ui/Window.h"

namespace ui {

class Application;

inline constexpr const char* kApplicationDidFinishLaunchingNotification = "ApplicationDidFinishLaunchingNotification";
inline constexpr const char* kApplicationDidBecomeActiveNotification = "ApplicationDidBecomeActiveNotification";
inline constexpr const char* kApplicationWillResignActiveNotification = "ApplicationWillResignActiveNotification";
inline constexpr const char* kApplicationDidEnterBackgroundNotification = "ApplicationDidEnterBackgroundNotification";
inline constexpr const char* kApplicationWillEnterForegroundNotification = "ApplicationWillEnterForegroundNotification";
inline constexpr const char* kApplicationWillTerminateNotification = "ApplicationWillTerminateNotification";
inline constexpr const char* kDeviceOrientationDidChangeNotification = "DeviceOrientationDidChangeNotification";

// The on-screen keyboard comes up when a text field or search bar takes the
// focus and goes when no text input has it (moving the focus between fields
// keeps it up). The user info carries the frames (window coordinates) as
// text "{{x, y}, {w, h}}" (read them with rectFromString) and the duration.
inline constexpr const char* kKeyboardWillShowNotification = "KeyboardWillShowNotification";
inline constexpr const char* kKeyboardDidShowNotification = "KeyboardDidShowNotification";
inline constexpr const char* kKeyboardWillHideNotification = "KeyboardWillHideNotification";
inline constexpr const char* kKeyboardDidHideNotification = "KeyboardDidHideNotification";
inline constexpr const char* kKeyboardFrameBeginUserInfoKey = "KeyboardFrameBeginUserInfoKey";
inline constexpr const char* kKeyboardFrameEndUserInfoKey = "KeyboardFrameEndUserInfoKey";
inline constexpr const char* kKeyboardAnimationDurationUserInfoKey = "KeyboardAnimationDurationUserInfoKey";

// Reads "{{x, y}, {w, h}}" (what toString(Rect) writes); false when malformed.
bool rectFromString(std::string_view text, Rect& out);

class ApplicationDelegate {
public:
    virtual ~ApplicationDelegate() = default;
    virtual bool applicationDidFinishLaunchingWithOptions(Application* app, ns::Dictionary* options) { return true; }
    virtual void applicationWillResignActive(Application* app) {}
    virtual void applicationDidEnterBackground(Application* app) {}
    virtual void applicationWillEnterForeground(Application* app) {}
    virtual void applicationDidBecomeActive(Application* app) {}
    virtual void applicationWillTerminate(Application* app) {}
};

enum class ApplicationState { Active, Inactive, Background };
enum class StatusBarStyle { Default, BlackTranslucent, BlackOpaque };

class Application : public Responder {
public:
    const char* className() const override { return "Application"; }
    static Application* shared();
    static Application* sharedApplication() { return shared(); }

    // Starts the application with `delegate` (kept for the life of the
    // process, as the platform does): didFinishLaunching, the launch
    // notification, then becoming active.
    bool launch(ns::Ref<ns::Object> delegateObject, ns::Ref<ns::Dictionary> options = nullptr);
    ApplicationDelegate* delegate() const { return dynamic_cast<ApplicationDelegate*>(delegateObject_.get()); }
    ns::Object* delegateObject() const { return delegateObject_.get(); }
    void setDelegate(ns::Ref<ns::Object> delegateObject);

    // Life-cycle moves: each tells the delegate and posts its notification.
    void resignActive();
    void enterBackground();
    void enterForeground();
    void becomeActive();
    void terminate();
    ApplicationState applicationState() const { return state_; }

    Window* keyWindow() const;
    const std::vector<ns::Ref<Window>>& windows() const { return windows_; }

    // Opening URLs leaves the app on a device; here each URL is recorded
    // (and given to the handler when one is set). Returns true unless the
    // text is empty or has no scheme.
    bool openURL(const std::string& url);
    bool canOpenURL(const std::string& url) const;
    const std::vector<std::string>& openedURLs() const { return opened_; }
    void setOpenURLHandler(std::function<void(const std::string&)> h) { openHandler_ = std::move(h); }

    bool isStatusBarHidden() const { return statusBarHidden_; }
    void setStatusBarHidden(bool hidden, bool animated = false) { statusBarHidden_ = hidden; }
    // The interface orientation of the key window's root controller
    // (portrait without one).
    InterfaceOrientation statusBarOrientation() const;
    // The screen's bounds as the interface is turned now (width and height
    // swapped in landscape): the space a screen built now has.
    Rect interfaceBounds() const;
    StatusBarStyle statusBarStyle() const { return statusBarStyle_; }
    void setStatusBarStyle(StatusBarStyle s, bool animated = false) { statusBarStyle_ = s; }
    bool isNetworkActivityIndicatorVisible() const { return networkActivity_; }
    void setNetworkActivityIndicatorVisible(bool b) { networkActivity_ = b; }
    bool isIdleTimerDisabled() const { return idleTimerDisabled_; }
    void setIdleTimerDisabled(bool b) { idleTimerDisabled_ = b; }
    long applicationIconBadgeNumber() const { return badge_; }
    void setApplicationIconBadgeNumber(long n) { badge_ = n; }

    bool isKeyboardVisible() const { return keyboardVisible_; }
    // The keyboard's frame while shown (bottom of the screen, 216 points high
    // on the phone, 264 on the tablet; less in landscape).
    Rect keyboardFrame() const;
    // Used by text inputs when they take or give up the focus.
    void textInputBecameFocused();
    void textInputLostFocus();

    // Hands a touch event to the window of its touches.
    void sendEvent(Event* event);

    // Back to a fresh process: forgets windows, alerts, opened URLs, the
    // delegate and flags (a relaunch in the same process; tests).
    void reset();

    // Used by Window.
    void windowBecameKey(Window* w);
    void windowBecameVisible(Window* w);

private:
    void post(const char* name);
    ns::Ref<ns::Object> delegateObject_;  // kept whether or not it adopts ApplicationDelegate
    std::vector<ns::Ref<Window>> windows_;
    ns::Weak<Window> key_;
    std::vector<std::string> opened_;
    std::function<void(const std::string&)> openHandler_;
    ApplicationState state_ = ApplicationState::Inactive;
    StatusBarStyle statusBarStyle_ = StatusBarStyle::Default;
    bool statusBarHidden_ = false;
    bool networkActivity_ = false;
    bool idleTimerDisabled_ = false;
    long badge_ = 0;
    bool keyboardVisible_ = false;
};

enum class UserInterfaceIdiom { Phone, Pad };
enum class DeviceOrientation { Unknown, Portrait, PortraitUpsideDown, LandscapeLeft, LandscapeRight, FaceUp, FaceDown };

// Device landscape-left means the interface's landscape-right, and so on.
InterfaceOrientation interfaceOrientationFor(DeviceOrientation o);
bool isLandscape(DeviceOrientation o);

class Device : public ns::Object {
public:
    const char* className() const override { return "Device"; }
    static Device* current();
    static Device* currentDevice() { return current(); }

    UserInterfaceIdiom userInterfaceIdiom() const { return idiom_; }
    // Chosen once at start (the simulator's --tablet); also sizes the screen.
    void setUserInterfaceIdiom(UserInterfaceIdiom i);
    DeviceOrientation orientation() const { return orientation_; }
    // Turns the device: posts the orientation notification, then turns the
    // key window's interface when its controllers agree.
    void setOrientation(DeviceOrientation o);
    const std::string& systemVersion() const { return systemVersion_; }
    void setSystemVersion(std::string v) { systemVersion_ = std::move(v); }
    std::string model() const { return idiom_ == UserInterfaceIdiom::Pad ? "Tablet" : "Phone"; }
    const std::string& name() const { return name_; }
    bool isMultitaskingSupported() const { return true; }
    // Orientation notifications: a count of who asked for them. The stand-in
    // posts them whatever the count; the calls are kept for code that checks.
    void beginGeneratingDeviceOrientationNotifications() { ++generating_; }
    void endGeneratingDeviceOrientationNotifications() { if (generating_ > 0) --generating_; }
    bool isGeneratingDeviceOrientationNotifications() const { return generating_ > 0; }
    // Back to a fresh device: phone, portrait, version "6.1" (a relaunch;
    // tests).
    void reset();

private:
    UserInterfaceIdiom idiom_ = UserInterfaceIdiom::Phone;
    DeviceOrientation orientation_ = DeviceOrientation::Portrait;
    std::string systemVersion_ = "6.1";
    std::string name_ = "Simulated device";
    int generating_ = 0;
};

class Screen : public ns::Object {
public:
    const char* className() const override { return "Screen"; }
    static Screen* main();
    static Screen* mainScreen() { return main(); }
    // Portrait bounds: 320 x 480 on the phone idiom, 768 x 1024 on the tablet.
    Rect bounds() const { return bounds_; }
    // Bounds less the 20-point status bar (when shown).
    Rect applicationFrame() const;
    double scale() const { return 1.0; }
    void setBounds(Rect r) { bounds_ = r; }

private:
    Rect bounds_ = makeRect(0, 0, 320, 480);
};

// Whether the current idiom is the tablet's.
inline bool isPad() { return Device::current()->userInterfaceIdiom() == UserInterfaceIdiom::Pad; }

}  // namespace ui
