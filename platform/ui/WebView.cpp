#include "platform/ui/WebView.h"
#include "platform/foundation/Delegate.h"

#include "platform/foundation/Dictionary.h"
#include "platform/foundation/FileIO.h"
#include "platform/foundation/String.h"
#include "platform/ui/Application.h"

namespace ui {

namespace {
// Error domain and codes of failed page loads.
constexpr const char* kURLErrorDomain = "URLErrorDomain";
constexpr long kURLErrorFileDoesNotExist = -1100;
constexpr long kURLErrorDataLengthExceedsMaximum = -1103;
}  // namespace

std::string URLRequest::description() const {
    return "<URLRequest " + (url_ ? url_->absoluteText() : std::string("(null)")) + ">";
}

ns::Ref<URLRequest> URLRequest::requestWithString(std::string_view url) {
    auto u = ns::URL::URLWithString(url);
    return u ? requestWithURL(u) : nullptr;
}

WebView::WebView(Rect frame) : View(frame) {
    Rect b = bounds();
    scroll_ = ns::make<ScrollView>(b);
    scroll_->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
    document_ = ns::make<WebDocumentView>(Rect{{0, 0}, b.size});
    document_->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
    scroll_->addSubview(document_);
    addSubview(scroll_);
}

bool WebView::ask(URLRequest* r, WebViewNavigationType type) {
    auto d = delegate_.lock();
    return !d || d->webViewShouldStartLoadWithRequest(this, r, type);
}

void WebView::show(Entry e, bool record) {
    auto keep = ns::keepAlive(this);
    if (auto d = delegate_.lock()) d->webViewDidStartLoad(this);
    html_ = e.html;
    bodyFontSize_ = bodyTagFontSize(html_);
    baseURL_ = e.base;
    request_ = e.request;
    scroll_->setContentOffset({0, 0});
    if (record) {
        if (!entries_.empty()) entries_.resize(history_ + 1);
        entries_.push_back(std::move(e));
        history_ = entries_.size() - 1;
    }
    ++loads_;
    setNeedsDisplay();
    if (auto d = delegate_.lock()) d->webViewDidFinishLoad(this);
}

void WebView::fail(ns::Ref<ns::Error> e) {
    auto keep = ns::keepAlive(this);
    if (auto d = delegate_.lock()) {
        d->webViewDidStartLoad(this);
        d->webViewDidFailLoadWithError(this, e.get());
    }
}

void WebView::loadHTMLString(const std::string& html, ns::Ref<ns::URL> baseURL) {
    auto keep = ns::keepAlive(this);
    auto req = URLRequest::requestWithURL(baseURL ? baseURL : ns::URL::URLWithString("about:blank"));
    if (!ask(req.get(), WebViewNavigationType::Other)) return;
    if (html.size() > kMaxPageBytes) {
        fail(ns::Error::withDescription(kURLErrorDomain, kURLErrorDataLengthExceedsMaximum, "The page is too large."));
        return;
    }
    show({html, baseURL, baseURL ? req : nullptr}, true);
}

void WebView::loadRequest(ns::Ref<URLRequest> request) {
    if (!request || !request->URL()) return;
    auto keep = ns::keepAlive(this);
    if (!ask(request.get(), WebViewNavigationType::Other)) return;
    navigate(std::move(request), true);
}

void WebView::navigate(ns::Ref<URLRequest> r, bool record) {
    ns::URL* url = r->URL();
    if (url->isFileURL()) {
        auto path = url->path();
        ns::Ref<ns::Error> err;
        auto content = ns::readFile(path ? std::string(path->utf8()) : std::string(), &err, kMaxPageBytes);
        if (!content) {
            fail(ns::Error::withDescription(kURLErrorDomain, kURLErrorFileDoesNotExist,
                                            "The page file could not be read: " + url->absoluteText()));
            return;
        }
        show({*content, ns::Ref<ns::URL>(url), r}, record);
        return;
    }
    if (url->hasScheme("about")) {
        show({std::string(), ns::Ref<ns::URL>(url), r}, record);
        return;
    }
    if (url->hasScheme("http") || url->hasScheme("https")) {
        // Not fetched: the page is empty but knows where it is.
        show({std::string(), ns::Ref<ns::URL>(url), r}, record);
        return;
    }
    // mailto:, tel:, store links and the like leave the page to the system.
    Application::shared()->openURL(url->absoluteText());
}

void WebView::reload() {
    if (entries_.empty()) return;
    Entry e = entries_[history_];
    if (e.request && !ask(e.request.get(), WebViewNavigationType::Reload)) return;
    show(e, false);
}

void WebView::goBack() {
    if (!canGoBack()) return;
    Entry e = entries_[history_ - 1];
    if (e.request && !ask(e.request.get(), WebViewNavigationType::BackForward)) return;
    --history_;
    show(e, false);
}

void WebView::goForward() {
    if (!canGoForward()) return;
    Entry e = entries_[history_ + 1];
    if (e.request && !ask(e.request.get(), WebViewNavigationType::BackForward)) return;
    ++history_;
    show(e, false);
}

std::string WebView::stringByEvaluatingJavaScriptFromString(const std::string& script) {
    scripts_.push_back(script);
    if (double size = scriptBodyFontSize(script); size > 0) bodyFontSize_ = size;
    return {};
}

std::string WebView::pageText() const { return htmlToText(html_); }

std::vector<WebLink> WebView::links() const { return htmlLinks(html_); }

bool WebView::followURL(ns::Ref<ns::URL> url, WebViewNavigationType type) {
    if (!url) return false;
    auto keep = ns::keepAlive(this);
    auto req = URLRequest::requestWithURL(url);
    if (!ask(req.get(), type)) return false;
    navigate(req, true);
    return true;
}

bool WebView::followLink(const std::string& textOrHref) {
    for (auto& link : links()) {
        if (link.text != textOrHref && link.href != textOrHref) continue;
        auto url = ns::URL::URLWithStringRelativeToURL(link.href, baseURL_);
        if (!url) return false;
        return followURL(url->absoluteURL(), WebViewNavigationType::LinkClicked);
    }
    return false;
}

}  // namespace ui
