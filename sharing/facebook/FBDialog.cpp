#include "sharing/facebook/FBDialog.h"

#include <cmath>

#include "platform/foundation/Format.h"
#include "platform/foundation/PercentEncoding.h"
#include "platform/foundation/RunLoop.h"
#include "platform/network/NetworkErrors.h"
#include "platform/ui/Application.h"
#include "platform/ui/Color.h"
#include "platform/ui/Image.h"
#include "platform/ui/Window.h"
#include "sharing/facebook/FBRequest.h"

namespace sharing {

namespace {

constexpr double kPadding = 11;
constexpr double kTransitionDuration = 0.3;
constexpr double kStatusBarRotationDuration = 0.3;

bool isPad() { return ui::Device::current()->userInterfaceIdiom() == ui::UserInterfaceIdiom::Pad; }

bool isLandscapeOrientation(ui::InterfaceOrientation o) {
    return o == ui::InterfaceOrientation::LandscapeLeft || o == ui::InterfaceOrientation::LandscapeRight;
}

ui::Transform rotation(double angle) {
    double c = std::cos(angle), s = std::sin(angle);
    return ui::Transform{c, s, -s, c, 0, 0};
}

ui::Transform transformForOrientation(ui::InterfaceOrientation o) {
    switch (o) {
        case ui::InterfaceOrientation::LandscapeLeft: return rotation(M_PI * 1.5);
        case ui::InterfaceOrientation::LandscapeRight: return rotation(M_PI / 2);
        case ui::InterfaceOrientation::PortraitUpsideDown: return rotation(-M_PI);
        default: return ui::Transform::identity();
    }
}

ui::Transform scaled(const ui::Transform& t, double s) {
    return ui::Transform{t.a * s, t.b * s, t.c * s, t.d * s, t.tx, t.ty};
}

}  // namespace

FBDialog::FBDialog() {
    setBackgroundColor(ui::Color::colorWithWhite(0.3, 0.8));
    setAutoresizesSubviews(true);
    webView_ = ui::WebView::make(ui::makeRect(kPadding, kPadding, 480, 480));
    webView_->setDelegate(this);
    addSubview(webView_);

    auto closeImage = ui::Image::imageNamed("FBDialog.bundle/images/close.png");
    if (!closeImage) closeImage = ui::Image::make("FBDialog.bundle/images/close.png", {29, 29});
    closeButton_ = ui::Button::buttonWithType(ui::Button::Type::Custom);
    closeButton_->setImage(closeImage);
    closeButton_->setTitleColor(ui::Color::colorWithRGBA(167.0 / 255, 184.0 / 255, 216.0 / 255, 1));
    closeButton_->setTitleColor(ui::Color::white(), ui::ControlStateHighlighted);
    closeButton_->setAccessibilityLabel("Close");
    closeButton_->addTarget(this, &FBDialog::cancel, ui::ControlEventTouchUpInside);
    closeButton_->setFrame(ui::makeRect(2, 2, 29, 29));
    addSubview(closeButton_);

    spinner_ = ns::make<ui::ActivityIndicatorView>(ui::ActivityIndicatorView::Style::WhiteLarge);
    addSubview(spinner_);
    modalBackgroundView_ = ns::make<ui::View>();
}

FBDialog::~FBDialog() {
    if (webView_) webView_->setDelegate(nullptr);
}

ns::Ref<FBDialog> FBDialog::initWithURL(std::string serverURL, ns::Ref<ns::MutableDictionary> params,
                                        FBDialogDelegate* delegate) {
    auto d = ns::make<FBDialog>();
    d->serverURL_ = std::move(serverURL);
    d->params_ = params ? std::move(params) : ns::MutableDictionary::make();
    d->delegate_ = delegate;
    return d;
}

std::string FBDialog::generateURL(std::string_view baseURL, const ns::Dictionary* params) {
    if (!params || params->count() == 0) return std::string(baseURL);
    std::string query;
    for (size_t i = 0; i < params->count(); ++i) {
        if (!query.empty()) query += "&";
        ns::Object* key = params->keyAtIndex(i);
        ns::Object* value = params->valueAtIndex(i);
        auto* s = ns::as<ns::String>(value);
        query += ns::format("%@=%@", key, FBEncodeParamValue(s ? s->utf8() : value->description()));
    }
    return ns::format("%@?%@", std::string(baseURL), query);
}

ns::Ref<ns::String> FBDialog::getStringFromUrl(std::string_view url, std::string_view needle) {
    size_t at = url.find(needle);
    if (at == std::string_view::npos) return nullptr;
    size_t start = at + needle.size();
    size_t end = url.find('&', start);
    std::string_view raw = url.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    auto decoded = ns::removePercentEncoding(raw);
    return ns::String::make(decoded ? *decoded : std::string(raw));
}

bool FBDialog::isIgnorableLoadError(const ns::Error* error) {
    if (!error) return false;
    if (error->code() == net::kErrorUserCancelled &&
        (error->domain() == "URLErrorDomain" || error->domain() == net::kNetworkErrorDomain ||
         error->domain() == "NSURLErrorDomain"))
        return true;
    return error->domain() == "WebKitErrorDomain" && error->code() == 102;
}

// -- Showing ---------------------------------------------------------------------

void FBDialog::load() { loadURL(serverURL_, params_.get()); }

void FBDialog::loadURL(const std::string& url, const ns::Dictionary* getParams) {
    loadingURL_ = generateURL(url, getParams);
    auto request = ui::URLRequest::requestWithString(loadingURL_);
    if (!request) {
        dismissWithError(ns::Error::withDescription(kFacebookErrDomain, kFacebookErrorCode,
                                                    "The dialog address is not a valid URL."),
                         false);
        return;
    }
    webView_->loadRequest(request);
}

void FBDialog::sizeToFitOrientation(bool transform) {
    if (transform) setTransform(ui::Transform::identity());
    ui::Rect frame = ui::Screen::main()->applicationFrame();
    ui::Point center{frame.origin.x + std::ceil(frame.size.width / 2), frame.origin.y + std::ceil(frame.size.height / 2)};
    double scale = isPad() ? 0.6 : 1.0;
    double width = std::floor(scale * frame.size.width);
    double height = std::floor(scale * frame.size.height);
    orientation_ = ui::Application::shared()->statusBarOrientation();
    if (isLandscapeOrientation(orientation_)) std::swap(width, height);
    setFrame(ui::makeRect(center.x - width / 2, center.y - height / 2, width, height));
    if (transform) setTransform(transformForOrientation(orientation_));
    double grow = (showingKeyboard_ && !isPad() && isLandscapeOrientation(orientation_)) ? 10 : 0;
    webView_->setFrame(ui::makeRect(kPadding - grow, kPadding - grow, width - 2 * kPadding + 2 * grow,
                                    height - (kPadding + 10) + 2 * grow));
    ui::Rect w = webView_->frame();
    spinner_->setFrame(ui::makeRect(w.origin.x + w.size.width / 2 - 18, w.origin.y + w.size.height / 2 - 18, 37, 37));
}

void FBDialog::updateWebViewOrientation() {
    if (isLandscapeOrientation(ui::Application::shared()->statusBarOrientation()))
        webView_->stringByEvaluatingJavaScriptFromString("document.body.setAttribute('orientation', 90);");
    else
        webView_->stringByEvaluatingJavaScriptFromString("document.body.removeAttribute('orientation');");
}

void FBDialog::show() {
    auto keep = ns::keepAlive(this);
    showing_ = true;
    dismissing_ = false;
    spinner_->startAnimating();
    load();
    if (dismissing_) return;  // the load already ended the dialog
    sizeToFitOrientation(false);

    ui::Window* window = ui::Application::shared()->keyWindow();
    if (!window && !ui::Application::shared()->windows().empty())
        window = ui::Application::shared()->windows().front().get();
    if (window) {
        modalBackgroundView_->setFrame(window->bounds());
        modalBackgroundView_->addSubview(ns::keepAlive(this));
        window->addSubview(modalBackgroundView_);
    }
    dialogWillAppear();

    // The bounce: 0.001 -> 1.1 -> 0.9 -> 1.0; each step applies its end
    // state at once and the next one after the step's duration.
    // Each step scales the transform of the orientation the dialog has
    // then, so a turn during the bounce is kept.
    setTransform(scaled(transformForOrientation(orientation_), 0.001));
    ns::Weak<FBDialog> weak(this);
    auto step = [weak](double scale) {
        if (auto self = weak.lock()) self->setTransform(scaled(transformForOrientation(self->orientation_), scale));
    };
    ui::View::animate(kTransitionDuration / 1.5, [step] { step(1.1); }, [weak, step](bool) {
        auto self = weak.lock();
        if (!self || !self->showing_) return;
        ui::View::animate(kTransitionDuration / 2, [step] { step(0.9); }, [weak, step](bool) {
            auto self = weak.lock();
            if (!self || !self->showing_) return;
            ui::View::animate(kTransitionDuration / 2, [step] { step(1.0); });
        });
    });
    addObservers();
}

void FBDialog::addObservers() {
    auto center = ns::NotificationCenter::defaultCenter();
    ns::Weak<FBDialog> weak(this);
    // The device notification comes before the interface has turned, so
    // the dialog looks at the status bar once the turn is through.
    observers_.push_back(center->addObserver(ui::kDeviceOrientationDidChangeNotification, nullptr,
                                             [weak](const ns::Notification&) {
                                                 ns::RunLoop::main()->performDeferred([weak] {
                                                     if (auto d = weak.lock(); d && d->showing_)
                                                         d->deviceOrientationDidChange();
                                                 });
                                             }));
    observers_.push_back(center->addObserver(ui::kKeyboardWillShowNotification, nullptr,
                                             [weak](const ns::Notification&) {
                                                 if (auto d = weak.lock()) d->keyboardWillShow();
                                             }));
    observers_.push_back(center->addObserver(ui::kKeyboardWillHideNotification, nullptr,
                                             [weak](const ns::Notification&) {
                                                 if (auto d = weak.lock()) d->keyboardWillHide();
                                             }));
}

void FBDialog::removeObservers() { observers_.clear(); }

bool FBDialog::shouldRotateToOrientation(ui::InterfaceOrientation o) const {
    if (o == orientation_) return false;
    return o == ui::InterfaceOrientation::Portrait || o == ui::InterfaceOrientation::PortraitUpsideDown ||
           o == ui::InterfaceOrientation::LandscapeLeft || o == ui::InterfaceOrientation::LandscapeRight;
}

void FBDialog::deviceOrientationDidChange() {
    auto o = ui::Application::shared()->statusBarOrientation();
    if (showingKeyboard_ || !shouldRotateToOrientation(o)) return;
    updateWebViewOrientation();
    ui::View::animate(kStatusBarRotationDuration, [this] { sizeToFitOrientation(true); });
}

void FBDialog::keyboardWillShow() {
    showingKeyboard_ = true;
    if (!isPad() && isLandscapeOrientation(orientation_)) sizeToFitOrientation(false);
}

void FBDialog::keyboardWillHide() {
    showingKeyboard_ = false;
    if (!isPad() && isLandscapeOrientation(orientation_)) sizeToFitOrientation(false);
}

// -- Ending ------------------------------------------------------------------------

void FBDialog::dismissWithSuccess(bool success, bool animated) {
    auto keep = ns::keepAlive(this);
    dismissing_ = true;
    if (auto d = delegate_.lock()) {
        if (success) d->dialogDidComplete(this);
        else d->dialogDidNotComplete(this);
    }
    disappear(animated);
}

void FBDialog::dismissWithError(ns::Ref<ns::Error> error, bool animated) {
    auto keep = ns::keepAlive(this);
    dismissing_ = true;
    if (auto d = delegate_.lock()) d->dialogDidFailWithError(this, error.get());
    disappear(animated);
}

void FBDialog::disappear(bool animated) {
    loadingURL_.clear();
    dialogWillDisappear();
    if (animated) {
        auto hold = ns::keepAlive(this);
        ui::View::animate(kTransitionDuration, [this] { setAlpha(0); }, [hold](bool) { hold->postDismissCleanup(); });
    } else {
        postDismissCleanup();
    }
}

void FBDialog::postDismissCleanup() {
    auto keep = ns::keepAlive(this);
    removeObservers();
    removeFromSuperview();
    modalBackgroundView_->removeFromSuperview();
    showing_ = false;
}

void FBDialog::dialogDidSucceed(ns::URL* url) {
    auto keep = ns::keepAlive(this);
    if (auto d = delegate_.lock()) d->dialogCompleteWithUrl(url);
    dismissWithSuccess(true, true);
}

void FBDialog::dialogDidCancel(ns::URL* url) {
    auto keep = ns::keepAlive(this);
    if (auto d = delegate_.lock()) d->dialogDidNotCompleteWithUrl(url);
    dismissWithSuccess(false, true);
}

void FBDialog::cancel() {
    if (!dismissing_) dialogDidCancel(nullptr);
}

// -- Web view ------------------------------------------------------------------------

bool FBDialog::webViewShouldStartLoadWithRequest(ui::WebView*, ui::URLRequest* request,
                                                 ui::WebViewNavigationType type) {
    auto keep = ns::keepAlive(this);
    ns::URL* url = request ? request->URL() : nullptr;
    if (!url) return false;
    if (url->hasScheme("fbconnect")) {
        // A dialog that is already going away reports only one outcome.
        if (dismissing_) return false;
        auto specifier = url->resourceSpecifier();
        if (specifier && specifier->hasPrefix("//cancel")) {
            const std::string& text = url->absoluteText();
            auto errorCode = getStringFromUrl(text, "error_code=");
            auto errorMessage = getStringFromUrl(text, "error_msg=");
            if (errorCode) {
                auto info = ns::MutableDictionary::make();
                if (errorMessage) info->setObject(errorMessage, "error_msg");
                long code = std::strtol(errorCode->c_str(), nullptr, 10);
                dismissWithError(ns::Error::make(kFacebookErrDomain, code, info), true);
            } else {
                dialogDidCancel(url);
            }
        } else {
            dialogDidSucceed(url);
        }
        return false;
    }
    if (url->absoluteText() == loadingURL_ || type != ui::WebViewNavigationType::LinkClicked) return true;
    bool openOutside = true;
    if (auto d = delegate_.lock()) openOutside = d->dialogShouldOpenURLInExternalBrowser(this, url);
    if (openOutside) ui::Application::shared()->openURL(url->absoluteText());
    return false;
}

void FBDialog::webViewDidFinishLoad(ui::WebView*) {
    spinner_->stopAnimating();
    spinner_->setHidden(true);
    updateWebViewOrientation();
}

void FBDialog::webViewDidFailLoadWithError(ui::WebView*, ns::Error* error) {
    if (isIgnorableLoadError(error)) return;
    dismissWithError(ns::Ref<ns::Error>(error), true);
}

// -- Login dialog ------------------------------------------------------------------------

ns::Ref<FBLoginDialog> FBLoginDialog::initWithURL(std::string loginURL, ns::Ref<ns::MutableDictionary> params,
                                                  FBLoginDialogDelegate* delegate) {
    auto d = ns::make<FBLoginDialog>();
    d->setServerURL(std::move(loginURL));
    d->setParams(params ? std::move(params) : ns::MutableDictionary::make());
    d->loginDelegate_ = delegate;
    return d;
}

void FBLoginDialog::dialogDidSucceed(ns::URL* url) {
    auto keep = ns::keepAlive(this);
    const std::string text = url ? url->absoluteText() : std::string();
    auto token = getStringFromUrl(text, "access_token=");
    auto expTime = getStringFromUrl(text, "expires_in=");
    ns::Ref<ns::Date> expirationDate;
    if (expTime) {
        long seconds = std::strtol(expTime->c_str(), nullptr, 10);
        expirationDate = seconds == 0 ? ns::Date::dateWithTimeIntervalSinceReferenceDate(63113904000.0)
                                      : ns::Date::dateWithTimeIntervalSinceReferenceDate(
                                            ns::Date::date()->timeIntervalSinceReferenceDate() + seconds);
    }
    if (token && !token->utf8().empty() && token->utf8() != "(null)") {
        if (auto d = loginDelegate_.lock()) d->fbDialogLoginExpirationDate(token, expirationDate);
        dismissWithSuccess(true, true);
    } else {
        dialogDidCancel(url);
    }
}

void FBLoginDialog::dialogDidCancel(ns::URL*) {
    auto keep = ns::keepAlive(this);
    dismissWithSuccess(false, true);
    if (auto d = loginDelegate_.lock()) d->fbDialogNotLogin(true);
}

void FBLoginDialog::webViewDidFailLoadWithError(ui::WebView* wv, ns::Error* error) {
    if (isIgnorableLoadError(error)) return;
    auto keep = ns::keepAlive(this);
    FBDialog::webViewDidFailLoadWithError(wv, error);
    if (auto d = loginDelegate_.lock()) d->fbDialogNotLogin(false);
}

}  // namespace sharing
