// Facebook's web dialogs in an overlay: a web view over a dimmed full-window
// background, a close button and a spinner. The page's redirects to the
// "fbconnect" scheme end the dialog (success, cancel, or an error carried in
// "error_code=" / "error_msg="); tapped links open outside the app.
// `FBLoginDialog` is the login page, whose success redirect carries the
// access token and its lifetime.
#pragma once

#include <string>

#include "platform/foundation/Foundation.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/URL.h"
#include "platform/ui/Control.h"
#include "platform/foundation/Delegate.h"
#include "platform/ui/Label.h"
#include "platform/ui/View.h"
#include "platform/ui/WebView.h"

namespace sharing {

class FBDialog;

// Outcome of a dialog. All optional; the default of
// dialogShouldOpenURLInExternalBrowser (YES) is what not implementing it means.
class FBDialogDelegate {
public:
    virtual ~FBDialogDelegate() = default;
    virtual void dialogDidComplete(FBDialog* dialog) {}
    virtual void dialogCompleteWithUrl(ns::URL* url) {}
    virtual void dialogDidNotCompleteWithUrl(ns::URL* url) {}
    virtual void dialogDidNotComplete(FBDialog* dialog) {}
    virtual void dialogDidFailWithError(FBDialog* dialog, ns::Error* error) {}
    virtual bool dialogShouldOpenURLInExternalBrowser(FBDialog* dialog, ns::URL* url) { return true; }
};

// The login dialog's outcome (both required).
class FBLoginDialogDelegate {
public:
    virtual ~FBLoginDialogDelegate() = default;
    virtual void fbDialogLoginExpirationDate(ns::Ref<ns::String> token, ns::Ref<ns::Date> expirationDate) = 0;
    virtual void fbDialogNotLogin(bool cancelled) = 0;
};

class FBDialog : public ui::View, public ui::WebViewDelegate {
public:
    FBDialog();
    ~FBDialog() override;
    const char* className() const override { return "FBDialog"; }

    // A dialog for `serverURL` whose query will hold `params`.
    static ns::Ref<FBDialog> initWithURL(std::string serverURL, ns::Ref<ns::MutableDictionary> params,
                                         FBDialogDelegate* delegate);

    // Loads the page, lays the dialog out, puts it on the key window and
    // animates it in.
    void show();
    void load();
    void loadURL(const std::string& url, const ns::Dictionary* getParams);
    virtual void dismissWithSuccess(bool success, bool animated);
    virtual void dismissWithError(ns::Ref<ns::Error> error, bool animated);
    virtual void dialogDidSucceed(ns::URL* url);
    virtual void dialogDidCancel(ns::URL* url);
    virtual void dialogWillAppear() {}
    virtual void dialogWillDisappear() {}
    // The close button.
    void cancel();

    // "url?key=value&..." with values escaped (reserved characters too).
    static std::string generateURL(std::string_view baseURL, const ns::Dictionary* params);
    // The percent-decoded text after `needle` up to the next "&"; nil when
    // the needle is absent.
    static ns::Ref<ns::String> getStringFromUrl(std::string_view url, std::string_view needle);

    FBDialogDelegate* delegate() const { return delegate_.get(); }
    void setDelegate(FBDialogDelegate* d) { delegate_ = d; }
    const ns::Ref<ns::MutableDictionary>& params() const { return params_; }
    void setParams(ns::Ref<ns::MutableDictionary> p) { params_ = std::move(p); }
    const std::string& serverURL() const { return serverURL_; }
    const std::string& loadingURL() const { return loadingURL_; }
    ui::WebView* webView() const { return webView_.get(); }
    ui::ActivityIndicatorView* spinner() const { return spinner_.get(); }
    ui::Button* closeButton() const { return closeButton_.get(); }
    ui::View* modalBackgroundView() const { return modalBackgroundView_.get(); }
    ui::InterfaceOrientation orientation() const { return orientation_; }
    bool showingKeyboard() const { return showingKeyboard_; }
    // True from show() until the dialog has left the window.
    bool isShowing() const { return showing_; }

    // -- WebViewDelegate ---------------------------------------------------------
    bool webViewShouldStartLoadWithRequest(ui::WebView* wv, ui::URLRequest* request,
                                           ui::WebViewNavigationType type) override;
    void webViewDidFinishLoad(ui::WebView* wv) override;
    void webViewDidFailLoadWithError(ui::WebView* wv, ns::Error* error) override;

protected:
    // True for the two load errors a dialog ignores (a cancelled load, an
    // interrupted frame load).
    static bool isIgnorableLoadError(const ns::Error* error);
    void setServerURL(std::string s) { serverURL_ = std::move(s); }

private:
    void sizeToFitOrientation(bool transform);
    bool shouldRotateToOrientation(ui::InterfaceOrientation o) const;
    void deviceOrientationDidChange();
    void keyboardWillShow();
    void keyboardWillHide();
    void addObservers();
    void removeObservers();
    // Stops loading, tells dialogWillDisappear, then fades out (or not) and
    // cleans up.
    void disappear(bool animated);
    void postDismissCleanup();
    void updateWebViewOrientation();

    ns::WeakDelegate<FBDialogDelegate> delegate_;
    ns::Ref<ns::MutableDictionary> params_;
    std::string serverURL_;
    std::string loadingURL_;
    ns::Ref<ui::WebView> webView_;
    ns::Ref<ui::ActivityIndicatorView> spinner_;
    ns::Ref<ui::Button> closeButton_;
    ui::InterfaceOrientation orientation_ = ui::InterfaceOrientation::Portrait;
    bool showingKeyboard_ = false;
    ns::Ref<ui::View> modalBackgroundView_;
    std::vector<ns::ObserverToken> observers_;
    bool showing_ = false;
    bool dismissing_ = false;
};

class FBLoginDialog : public FBDialog {
public:
    const char* className() const override { return "FBLoginDialog"; }
    static ns::Ref<FBLoginDialog> initWithURL(std::string loginURL, ns::Ref<ns::MutableDictionary> params,
                                              FBLoginDialogDelegate* delegate);

    FBLoginDialogDelegate* loginDelegate() const { return loginDelegate_.get(); }
    void setLoginDelegate(FBLoginDialogDelegate* d) { loginDelegate_ = d; }

    void dialogDidSucceed(ns::URL* url) override;
    void dialogDidCancel(ns::URL* url) override;
    void webViewDidFailLoadWithError(ui::WebView* wv, ns::Error* error) override;

private:
    ns::WeakDelegate<FBLoginDialogDelegate> loginDelegate_;
};

}  // namespace sharing
