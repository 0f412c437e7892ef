// The headless web view. It keeps the HTML it was given, its base URL, the
// request it shows, and every script it was asked to run; it renders
// nothing and runs no script (stringByEvaluatingJavaScriptFromString
// records the script and answers ""). Its readable text (tags stripped,
// entities decoded) is what the text screen shows, with the page's text size
// (the body's font size, from its tag's style or a script that sets it).
//
// Loads and link-follows ask the delegate first
// (webViewShouldStartLoadWithRequest); a refused load changes nothing.
// Loading is synchronous: didStartLoad and didFinishLoad (or didFailLoad)
// are told before the load call returns.
//
// What a load shows:
//  - loadHTMLString: the given HTML;
//  - a "file" URL: the file's content (missing file: didFailLoad);
//  - "about:blank": an empty page;
//  - http/https: not fetched; an empty page that remembers its URL;
//  - other schemes (mailto:, tel:, store links): handed to
//    Application::openURL, the page stays as it was.
// Touches over the page go to its document view (WebDocumentView), which
// consumes them as page scrolling would.
#pragma once

#include <string>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/Delegate.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/View.h"

namespace ui {

class WebView;

// A request for a URL (the part of a URL request a web view needs).
class URLRequest : public ns::Object {
public:
    explicit URLRequest(ns::Ref<ns::URL> url) : url_(std::move(url)) {}
    const char* className() const override { return "URLRequest"; }
    std::string description() const override;
    static ns::Ref<URLRequest> requestWithURL(ns::Ref<ns::URL> url) { return ns::make<URLRequest>(std::move(url)); }
    // A request for the URL text (nil when the text is not a URL).
    static ns::Ref<URLRequest> requestWithString(std::string_view url);
    ns::URL* URL() const { return url_.get(); }
    const ns::Ref<ns::URL>& url() const { return url_; }

private:
    ns::Ref<ns::URL> url_;
};

enum class WebViewNavigationType { LinkClicked, FormSubmitted, BackForward, Reload, FormResubmitted, Other };

class WebViewDelegate {
public:
    virtual ~WebViewDelegate() = default;
    virtual bool webViewShouldStartLoadWithRequest(WebView* wv, URLRequest* request,
                                                   WebViewNavigationType type) {
        return true;
    }
    virtual void webViewDidStartLoad(WebView* wv) {}
    virtual void webViewDidFinishLoad(WebView* wv) {}
    virtual void webViewDidFailLoadWithError(WebView* wv, ns::Error* error) {}
};

// The view inside a web view that touches over the page land on.
class WebDocumentView : public View {
public:
    explicit WebDocumentView(Rect frame = {}) : View(frame) {}
    const char* className() const override { return "WebDocumentView"; }
    // The page consumes its touches; they are not passed up the chain.
    void touchesBegan(const TouchSet&, Event*) override {}
    void touchesMoved(const TouchSet&, Event*) override {}
    void touchesEnded(const TouchSet&, Event*) override {}
    void touchesCancelled(const TouchSet&, Event*) override {}
};

// A link found in the page.
struct WebLink {
    std::string href;  // as written in the page
    std::string text;  // readable text of the link
};

class WebView : public View {
public:
    // Pages larger than this are refused (didFailLoad).
    static constexpr size_t kMaxPageBytes = 16u << 20;

    explicit WebView(Rect frame = {});
    const char* className() const override { return "WebView"; }
    static ns::Ref<WebView> make(Rect frame = {}) { return ns::make<WebView>(frame); }

    void loadHTMLString(const std::string& html, ns::Ref<ns::URL> baseURL);
    void loadRequest(ns::Ref<URLRequest> request);
    void reload();
    void stopLoading() {}
    bool isLoading() const { return false; }
    bool canGoBack() const { return history_ > 0; }
    bool canGoForward() const { return history_ + 1 < entries_.size(); }
    void goBack();
    void goForward();

    // What the page is: the HTML shown (empty for none), its base URL, and
    // the request of the last load (nil for HTML strings without base).
    const std::string& html() const { return html_; }
    ns::URL* baseURL() const { return baseURL_.get(); }
    URLRequest* request() const { return request_.get(); }
    // Number of loads that finished (HTML strings and requests).
    size_t loadCount() const { return loads_; }

    // Records `script` and answers "" (no script engine here). A script that
    // sets the body's font size ("document.body.style.fontSize = '14px'", or
    // through getElementsByTagName('body')[0]) changes bodyFontSize().
    std::string stringByEvaluatingJavaScriptFromString(const std::string& script);
    // The body's font size in pixels as the page shows it: set by the last
    // such script since the page loaded, else by the body tag's style
    // ("font-size: 13px"); 0 when neither says.
    double bodyFontSize() const { return bodyFontSize_; }
    const std::vector<std::string>& evaluatedScripts() const { return scripts_; }
    void clearEvaluatedScripts() { scripts_.clear(); }

    // The page as readable text: tags stripped, entities decoded, block
    // elements on lines of their own, scripts and styles left out, links
    // shown as [text].
    std::string pageText() const;
    std::vector<WebLink> links() const;
    // What a tap on a link does: the first link whose text or href equals
    // `textOrHref` is resolved against the base URL, the delegate is asked
    // (navigation type LinkClicked) and, when it agrees, the link is
    // followed as a load. False when there is no such link, the link is not
    // a URL, or the delegate refused.
    bool followLink(const std::string& textOrHref);
    // The same for a URL that is not (necessarily) in the page.
    bool followURL(ns::Ref<ns::URL> url, WebViewNavigationType type = WebViewNavigationType::LinkClicked);

    bool scalesPageToFit() const { return scales_; }
    void setScalesPageToFit(bool b) { scales_ = b; }
    ScrollView* scrollView() const { return scroll_.get(); }
    WebDocumentView* documentView() const { return document_.get(); }

    WebViewDelegate* delegate() const { return delegate_.get(); }
    void setDelegate(WebViewDelegate* d) { delegate_ = d; }

private:
    struct Entry { std::string html; ns::Ref<ns::URL> base; ns::Ref<URLRequest> request; };
    bool ask(URLRequest* r, WebViewNavigationType type);
    void navigate(ns::Ref<URLRequest> r, bool record);
    void show(Entry e, bool record);
    void fail(ns::Ref<ns::Error> e);

    std::string html_;
    ns::Ref<ns::URL> baseURL_;
    ns::Ref<URLRequest> request_;
    std::vector<std::string> scripts_;
    std::vector<Entry> entries_;
    size_t history_ = 0;
    size_t loads_ = 0;
    double bodyFontSize_ = 0;
    bool scales_ = false;
    ns::Ref<ScrollView> scroll_;
    ns::Ref<WebDocumentView> document_;
    ns::WeakDelegate<WebViewDelegate> delegate_;
};

// HTML to readable text (see WebView::pageText), and the page's links.
std::string htmlToText(std::string_view html);
std::vector<WebLink> htmlLinks(std::string_view html);
// Decodes character references (&amp; &lt; &#233; &#xE9; and the common
// named ones); unknown ones are kept as written.
std::string decodeEntities(std::string_view text);
// The font size in pixels that the body tag's style attribute gives the page
// ("<body style='font-size: 13px'>"), 0 when it gives none.
double bodyTagFontSize(std::string_view html);
// The size a script sets the body's font to, 0 when it does not set it.
double scriptBodyFontSize(std::string_view script);

}  // namespace ui
