#include "platform/ui/Application.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Number.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/TextField.h"

namespace ui {

namespace {
// Posts a life-cycle or device notification on the default centre.
void postApplicationNotification(const char* name, ns::Object* object) {
    ns::NotificationCenter::defaultCenter()->postNotification(name, ns::Ref<ns::Object>(object));
}
}  // namespace

// -- Application -----------------------------------------------------------------

Application* Application::shared() {
    static Application* app = [] {
        auto* a = new Application();
        a->makeImmortal();
        return a;
    }();
    return app;
}

void Application::setDelegate(ns::Ref<ns::Object> d) {
    delegateObject_ = std::move(d);
}

void Application::post(const char* name) {
    postApplicationNotification(name, this);
}

bool Application::launch(ns::Ref<ns::Object> delegateObject, ns::Ref<ns::Dictionary> options) {
    setDelegate(std::move(delegateObject));
    bool ok = true;
    if (auto* d = delegate()) ok = d->applicationDidFinishLaunchingWithOptions(this, options.get());
    post(kApplicationDidFinishLaunchingNotification);
    becomeActive();
    return ok;
}

void Application::resignActive() {
    if (state_ != ApplicationState::Active) return;
    state_ = ApplicationState::Inactive;
    if (auto* d = delegate()) d->applicationWillResignActive(this);
    post(kApplicationWillResignActiveNotification);
}

void Application::enterBackground() {
    resignActive();
    if (state_ == ApplicationState::Background) return;
    state_ = ApplicationState::Background;
    if (auto* d = delegate()) d->applicationDidEnterBackground(this);
    post(kApplicationDidEnterBackgroundNotification);
}

void Application::enterForeground() {
    if (state_ != ApplicationState::Background) return;
    state_ = ApplicationState::Inactive;
    if (auto* d = delegate()) d->applicationWillEnterForeground(this);
    post(kApplicationWillEnterForegroundNotification);
}

void Application::becomeActive() {
    if (state_ == ApplicationState::Active) return;
    if (state_ == ApplicationState::Background) enterForeground();
    state_ = ApplicationState::Active;
    if (auto* d = delegate()) d->applicationDidBecomeActive(this);
    post(kApplicationDidBecomeActiveNotification);
}

void Application::terminate() {
    if (auto* d = delegate()) d->applicationWillTerminate(this);
    post(kApplicationWillTerminateNotification);
}

Window* Application::keyWindow() const { return key_.lock().get(); }

InterfaceOrientation Application::statusBarOrientation() const {
    Window* w = keyWindow();
    ViewController* root = w ? w->rootViewController() : nullptr;
    return root ? root->interfaceOrientation() : InterfaceOrientation::Portrait;
}

void Application::windowBecameKey(Window* w) {
    key_ = w;
    windowBecameVisible(w);
}

void Application::windowBecameVisible(Window* w) {
    if (std::none_of(windows_.begin(), windows_.end(), [&](auto& x) { return x.get() == w; }))
        windows_.push_back(ns::Ref<Window>(w));
}

bool Application::canOpenURL(const std::string& url) const {
    auto colon = url.find(':');
    if (url.empty() || colon == std::string::npos || colon == 0) return false;
    for (size_t i = 0; i < colon; ++i) {
        char c = url[i];
        bool ok = std::isalpha(static_cast<unsigned char>(c)) ||
                  (i > 0 && (std::isdigit(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.'));
        if (!ok) return false;
    }
    return true;
}

bool Application::openURL(const std::string& url) {
    if (!canOpenURL(url)) return false;
    opened_.push_back(url);
    if (openHandler_) openHandler_(url);
    return true;
}

bool rectFromString(std::string_view t, Rect& out) {
    double v[4];
    int n = 0;
    size_t i = 0;
    while (i < t.size() && n < 4) {
        char c = t[i];
        if (c == '-' || c == '.' || (c >= '0' && c <= '9')) {
            std::string num;
            while (i < t.size() && (t[i] == '-' || t[i] == '.' || t[i] == 'e' || t[i] == '+' || (t[i] >= '0' && t[i] <= '9')))
                num += t[i++];
            char* end = nullptr;
            v[n++] = std::strtod(num.c_str(), &end);
            if (!end || *end) return false;
        } else if (c == '{' || c == '}' || c == ',' || c == ' ') {
            ++i;
        } else {
            return false;
        }
    }
    // Four numbers and nothing after them but the closing braces.
    for (; i < t.size(); ++i)
        if (t[i] != '}' && t[i] != ' ') return false;
    if (n != 4) return false;
    out = makeRect(v[0], v[1], v[2], v[3]);
    return true;
}

Rect Application::interfaceBounds() const {
    Rect screen = Screen::main()->bounds();
    if (!isLandscape(statusBarOrientation())) return makeRect(0, 0, screen.width(), screen.height());
    return makeRect(0, 0, screen.height(), screen.width());
}

Rect Application::keyboardFrame() const {
    bool landscape = isLandscape(statusBarOrientation());
    Rect shown = interfaceBounds();
    double kb = isPad() ? (landscape ? 352 : 264) : (landscape ? 162 : 216);
    return makeRect(0, shown.height() - kb, shown.width(), kb);
}

namespace {
void postKeyboard(const char* name, Rect begin, Rect end) {
    auto info = ns::Dictionary::make({{kKeyboardFrameBeginUserInfoKey, ns::str(toString(begin))},
                                      {kKeyboardFrameEndUserInfoKey, ns::str(toString(end))},
                                      {kKeyboardAnimationDurationUserInfoKey, ns::Number::numberWithDouble(0.25)}});
    ns::NotificationCenter::defaultCenter()->postNotification(name, nullptr, info);
}
}  // namespace

void Application::textInputBecameFocused() {
    if (keyboardVisible_) return;
    keyboardVisible_ = true;
    Rect shown = keyboardFrame();
    Rect hidden = shown;
    hidden.origin.y += shown.height();
    postKeyboard(kKeyboardWillShowNotification, hidden, shown);
    postKeyboard(kKeyboardDidShowNotification, hidden, shown);
}

void Application::textInputLostFocus() {
    if (!keyboardVisible_) return;
    // Focus moving to another text input keeps the keyboard up.
    if (Responder::isTransferringFocus()) return;
    Responder* now = Responder::currentFirstResponder();
    if (dynamic_cast<TextField*>(now) || dynamic_cast<SearchBar*>(now)) return;
    keyboardVisible_ = false;
    Rect shown = keyboardFrame();
    Rect hidden = shown;
    hidden.origin.y += shown.height();
    postKeyboard(kKeyboardWillHideNotification, shown, hidden);
    postKeyboard(kKeyboardDidHideNotification, shown, hidden);
}

void Application::sendEvent(Event* event) {
    if (!event) return;
    std::vector<ns::Ref<Window>> targets;
    for (auto& t : event->allTouches())
        if (Window* w = t->window())
            if (std::none_of(targets.begin(), targets.end(), [&](auto& x) { return x.get() == w; }))
                targets.push_back(ns::Ref<Window>(w));
    for (auto& w : targets) w->sendEvent(event);
}

void Application::reset() {
    Panel::resetShown();
    windows_.clear();
    key_ = nullptr;
    opened_.clear();
    openHandler_ = nullptr;
    delegateObject_ = nullptr;
    state_ = ApplicationState::Inactive;
    statusBarStyle_ = StatusBarStyle::Default;
    statusBarHidden_ = networkActivity_ = idleTimerDisabled_ = keyboardVisible_ = false;
    badge_ = 0;
}

// -- Device and screen ------------------------------------------------------------

InterfaceOrientation interfaceOrientationFor(DeviceOrientation o) {
    switch (o) {
        case DeviceOrientation::PortraitUpsideDown: return InterfaceOrientation::PortraitUpsideDown;
        case DeviceOrientation::LandscapeLeft: return InterfaceOrientation::LandscapeRight;
        case DeviceOrientation::LandscapeRight: return InterfaceOrientation::LandscapeLeft;
        default: return InterfaceOrientation::Portrait;
    }
}

bool isLandscape(DeviceOrientation o) {
    return o == DeviceOrientation::LandscapeLeft || o == DeviceOrientation::LandscapeRight;
}

Device* Device::current() {
    static Device* d = [] {
        auto* x = new Device();
        x->makeImmortal();
        return x;
    }();
    return d;
}

void Device::setUserInterfaceIdiom(UserInterfaceIdiom i) {
    idiom_ = i;
    Screen::main()->setBounds(i == UserInterfaceIdiom::Pad ? makeRect(0, 0, 768, 1024) : makeRect(0, 0, 320, 480));
}

void Device::setOrientation(DeviceOrientation o) {
    if (o == orientation_) return;
    orientation_ = o;
    postApplicationNotification(kDeviceOrientationDidChangeNotification, this);
    bool turnsInterface = o >= DeviceOrientation::Portrait && o <= DeviceOrientation::LandscapeRight;
    if (turnsInterface)
        if (Window* w = Application::shared()->keyWindow()) w->rotateInterfaceTo(interfaceOrientationFor(o));
}

void Device::reset() {
    setUserInterfaceIdiom(UserInterfaceIdiom::Phone);
    orientation_ = DeviceOrientation::Portrait;
    systemVersion_ = "6.1";
}

Screen* Screen::main() {
    static Screen* s = [] {
        auto* x = new Screen();
        x->makeImmortal();
        return x;
    }();
    return s;
}

Rect Screen::applicationFrame() const {
    if (Application::shared()->isStatusBarHidden()) return bounds_;
    return makeRect(0, 20, bounds_.width(), bounds_.height() - 20);
}

}  // namespace ui
