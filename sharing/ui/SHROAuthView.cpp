#include "sharing/ui/SHROAuthView.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "platform/foundation/Exception.h"
#include "platform/foundation/SecretMasking.h"
#include "platform/ui/BarItems.h"
#include "sharing/core/SHR.h"

namespace sharing {

ns::Ref<SHROAuthView> SHROAuthView::make(ns::Ref<ns::URL> url, SHROAuthViewDelegate* delegate) {
    auto v = ns::make<SHROAuthView>();
    v->navigationItem()->setLeftBarButtonItem(ui::BarButtonItem::withSystemItem(
        ui::BarButtonItem::SystemItem::Cancel, v.get(), &SHROAuthView::cancelPressed));
    v->setDelegate(delegate);
    v->view();
    v->webView_->stringByEvaluatingJavaScriptFromString(
        "document.getElementsByTagName('body')[0].style.width = \"200px\"");
    std::fprintf(stderr, "%s\n", url ? ns::maskSecretsInURL(url->absoluteText()).c_str() : "(null)");
    v->webView_->loadRequest(ui::URLRequest::requestWithURL(std::move(url)));
    return v;
}

void SHROAuthView::setDelegate(SHROAuthViewDelegate* d) { delegate_ = d; }

void SHROAuthView::loadView() {
    webView_ = ui::WebView::make({{0, 0}, {320, 480}});
    webView_->setDelegate(this);
    webView_->setScalesPageToFit(true);
    setView(webView_);
}

void SHROAuthView::viewDidDisappear(bool animated) { SHR::currentHelper()->viewWasDismissed(); }

ns::Ref<ns::Dictionary> SHROAuthView::parametersOf(const ns::String* text) {
    if (!text) return nullptr;
    auto params = ns::MutableDictionary::make();
    auto parts = text->componentsSeparatedByString("&");
    for (ns::Object* o : *parts) {
        auto pair = static_cast<ns::String*>(o)->componentsSeparatedByString("=");
        if (pair->count() != 2) continue;
        params->setObject(pair->at(1), static_cast<ns::String*>(pair->objectAtIndex(0))->view());
    }
    return params;
}

ns::Ref<ns::Dictionary> SHROAuthView::queryParameters(const ns::URL& url) { return parametersOf(url.query().get()); }

bool SHROAuthView::webViewShouldStartLoadWithRequest(ui::WebView* wv, ui::URLRequest* request,
                                                     ui::WebViewNavigationType type) {
    if (!delegate_ || !request || !request->URL()) return true;
    auto callback = delegate_->authorizeCallbackURL();
    if (!callback) return true;
    auto target = request->URL()->absoluteString();
    if (!target->containsString(callback->absoluteText(), ns::CaseInsensitiveSearch)) return true;
    auto keep = ns::keepAlive(this);
    auto d = delegate_.lock();
    setDelegate(nullptr);
    d->tokenAuthorizeViewDidFinishWithSuccess(this, true, queryParameters(*request->URL()), nullptr);
    return false;
}

void SHROAuthView::webViewDidFailLoadWithError(ui::WebView* wv, ns::Error* error) {
    if (error && (error->code() == -999 || error->code() == 102 || error->code() == -1100)) return;
    stopSpinner();
    auto d = delegate_.lock();
    if (!d) return;
    auto keep = ns::keepAlive(this);
    d->tokenAuthorizeViewDidFinishWithSuccess(this, false, nullptr, ns::Ref<ns::Error>(error));
}

std::string SHROAuthView::innerHTMLOfElementWithId(const std::string& html, const std::string& id) {
    // Finds the first start tag carrying id="<id>" (either quote) and
    // answers what lies between it and the matching end tag, counting nested
    // tags of the same name. No such element, or no end: "".
    auto lower = [](std::string s) {
        for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s;
    };
    const std::string text = lower(html);
    for (const char* q : {"\"", "'"}) {
        std::string attr = "id=" + std::string(q) + lower(id) + q;
        size_t at = text.find(attr);
        while (at != std::string::npos) {
            size_t open = text.rfind('<', at);
            size_t close = text.find('>', at);
            if (open == std::string::npos || close == std::string::npos || text.find('>', open) < at) {
                at = text.find(attr, at + 1);
                continue;
            }
            size_t nameEnd = text.find_first_of(" \t\r\n/>", open + 1);
            std::string name = text.substr(open + 1, nameEnd - open - 1);
            if (name.empty()) return {};
            // A tag of this name, not of a longer one ("<b" is not "<br").
            auto findTag = [&](const std::string& start, size_t from) {
                for (size_t at = text.find(start, from); at != std::string::npos; at = text.find(start, at + 1)) {
                    size_t after = at + start.size();
                    if (after == text.size() || (text[after] != '\0' && std::strchr(" \t\r\n/>", text[after]))) return at;
                }
                return std::string::npos;
            };
            size_t pos = close + 1, depth = 1;
            while (depth > 0) {
                size_t nextOpen = findTag("<" + name, pos);
                size_t nextClose = findTag("</" + name, pos);
                if (nextClose == std::string::npos) return {};
                if (nextOpen != std::string::npos && nextOpen < nextClose) {
                    ++depth;
                    pos = nextOpen + 1;
                } else {
                    if (--depth == 0) return html.substr(close + 1, nextClose - close - 1);
                    pos = nextClose + 1;
                }
            }
        }
    }
    return {};
}

void SHROAuthView::webViewDidFinishLoad(ui::WebView* wv) {
    stopSpinner();
    ns::URL* page = wv->request() && wv->request()->URL() ? wv->request()->URL() : wv->baseURL();
    if (!page || !page->host()) return;
    std::string host(page->host()->utf8());
    for (char& c : host) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (host != twitterAPIHost()) return;
    // The service shows a PIN instead of redirecting to the callback: the
    // application is not set up for a browser sign-in.
    std::string pin = wv->stringByEvaluatingJavaScriptFromString("document.getElementById('oauth_pin').innerHTML");
    if (pin.empty()) pin = innerHTMLOfElementWithId(wv->html(), "oauth_pin");  // no script engine here
    auto d = delegate_.lock();
    if (pin.empty() || !d) return;
    auto keep = ns::keepAlive(this);
    d->tokenAuthorizeViewDidFinishWithSuccess(
        this, false, nullptr,
        SHR::error("Your SHRTwitter config is incorrect.  You must set your application type to Browser and define "
                   "a callback url.  See SHRConfig for more details"));
}

void SHROAuthView::startSpinner() {
    if (!spinner_) {
        spinner_ = ns::make<ui::ActivityIndicatorView>(ui::ActivityIndicatorView::Style::White);
        navigationItem()->setRightBarButtonItem(ui::BarButtonItem::withCustomView(spinner_));
    }
    spinner_->startAnimating();
}

void SHROAuthView::stopSpinner() {
    if (spinner_) spinner_->stopAnimating();
}

void SHROAuthView::cancel() {
    auto keep = ns::keepAlive(this);
    // Cancel is final: the page, should it still reach the callback address
    // later, tells no one of a login.
    auto d = delegate_.lock();
    setDelegate(nullptr);
    if (d) d->tokenAuthorizeCancelledView(this);
    SHR::currentHelper()->hideCurrentViewControllerAnimated(true);
}

}  // namespace sharing
