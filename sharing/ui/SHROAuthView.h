// The screen in which the user signs in at a service and grants access
// during the OAuth 1.0 flow: the authorise page in a web view. When a load
// goes to the delegate's callback URL, the load is refused and the
// callback's query parameters go to the delegate.
#pragma once

#include "platform/foundation/Delegate.h"
#include "platform/ui/Label.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/WebView.h"

namespace sharing {

class SHROAuthView;

class SHROAuthViewDelegate {
public:
    virtual ~SHROAuthViewDelegate() = default;
    virtual ns::Ref<ns::URL> authorizeCallbackURL() const = 0;
    virtual void tokenAuthorizeViewDidFinishWithSuccess(SHROAuthView* view, bool success,
                                                        ns::Ref<ns::Dictionary> queryParams,
                                                        ns::Ref<ns::Error> error) = 0;
    virtual void tokenAuthorizeCancelledView(SHROAuthView* view) = 0;
};

class SHROAuthView : public ui::ViewController, public ui::WebViewDelegate {
public:
    // A view that loads `url` at once. The delegate (an ns::Object) is kept
    // strongly until the callback was delivered.
    static ns::Ref<SHROAuthView> make(ns::Ref<ns::URL> url, SHROAuthViewDelegate* delegate);
    SHROAuthView() = default;
    const char* className() const override { return "SHROAuthView"; }

    ui::WebView* webView() const { return webView_.get(); }
    SHROAuthViewDelegate* delegate() const { return delegate_.get(); }
    void setDelegate(SHROAuthViewDelegate* d);

    // The query of a callback URL as name -> value (as written); nil when the
    // URL has no query. Parts without exactly one "=" are dropped.
    static ns::Ref<ns::Dictionary> queryParameters(const ns::URL& url);
    // The name=value pairs of `text` split at "&" (values as written; a piece
    // without exactly one "=" is left out); nil for nil text.
    static ns::Ref<ns::Dictionary> parametersOf(const ns::String* text);

    void cancel();
    void cancelPressed(ns::Object*) { cancel(); }
    void startSpinner();
    void stopSpinner();

    void loadView() override;
    void viewDidDisappear(bool animated) override;

    bool webViewShouldStartLoadWithRequest(ui::WebView* wv, ui::URLRequest* request,
                                           ui::WebViewNavigationType type) override;
    void webViewDidStartLoad(ui::WebView* wv) override { startSpinner(); }
    // Stops the spinner; on a page of the Twitter API host that shows an
    // "oauth_pin" element, ends the flow with the configuration error.
    void webViewDidFinishLoad(ui::WebView* wv) override;
    static constexpr const char* twitterAPIHost() { return "api.twitter.com"; }
    // The inner HTML of the first element with that id in `html` ("" when none).
    static std::string innerHTMLOfElementWithId(const std::string& html, const std::string& id);
    void webViewDidFailLoadWithError(ui::WebView* wv, ns::Error* error) override;

private:
    ns::Ref<ui::WebView> webView_;
    ns::StrongDelegate<SHROAuthViewDelegate> delegate_;
    ns::Ref<ui::ActivityIndicatorView> spinner_;
};

}  // namespace sharing
