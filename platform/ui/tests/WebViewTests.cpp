#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "platform/ui/WebView.h"
#include "testsupport/TempDir.h"
#include "testsupport/UITest.h"

using testsupport::UITest;

namespace ui::test {
namespace {

using WebTest = UITest;

struct PageDelegate : ns::Object, WebViewDelegate {
    std::vector<std::string> asked;  // "type url"
    std::vector<std::string> events;
    bool allowLinks = true;
    bool webViewShouldStartLoadWithRequest(WebView*, URLRequest* r, WebViewNavigationType type) override {
        asked.push_back(std::string(type == WebViewNavigationType::LinkClicked ? "link " : "other ") +
                        (r->URL() ? r->URL()->absoluteText() : std::string("(none)")));
        return type != WebViewNavigationType::LinkClicked || allowLinks;
    }
    void webViewDidStartLoad(WebView*) override { events.push_back("start"); }
    void webViewDidFinishLoad(WebView*) override { events.push_back("finish"); }
    void webViewDidFailLoadWithError(WebView*, ns::Error* e) override {
        events.push_back("fail " + std::to_string(e->code()));
    }
};

TEST_F(WebTest, KeepsTheHtmlItsBaseAndItsScripts) {
    auto web = WebView::make(makeRect(0, 0, 320, 400));
    auto d = ns::make<PageDelegate>();
    web->setDelegate(d.get());
    auto base = ns::URL::URLWithString("file:///bundle/html_iphone/KORVEL_1.html");
    web->loadHTMLString("<html><body style='x'><h1>Title</h1><p>Tom &amp; Jerry&#33;</p></body></html>", base);
    ASSERT_TRUE(web->baseURL());
    EXPECT_EQ(web->baseURL()->absoluteText(), "file:///bundle/html_iphone/KORVEL_1.html");
    EXPECT_NE(web->html().find("<h1>Title</h1>"), std::string::npos);
    EXPECT_EQ(web->pageText(), "Title\nTom & Jerry!");
    EXPECT_EQ(d->events, (std::vector<std::string>{"start", "finish"}));
    EXPECT_EQ(web->stringByEvaluatingJavaScriptFromString("document.body.style.fontSize = '14px';"), "");
    ASSERT_EQ(web->evaluatedScripts().size(), 1u);
    EXPECT_EQ(web->evaluatedScripts()[0], "document.body.style.fontSize = '14px';");
}

TEST_F(WebTest, TheDelegateCanVetoALink) {
    auto web = WebView::make(makeRect(0, 0, 320, 400));
    auto d = ns::make<PageDelegate>();
    web->setDelegate(d.get());
    web->loadHTMLString("<p>See <a href=\"KORVEL_7.html\">card seven</a></p>",
                        ns::URL::URLWithString("file:///b/html/KORVEL_1.html"));
    d->asked.clear();
    d->allowLinks = false;
    EXPECT_FALSE(web->followLink("card seven"));
    ASSERT_EQ(d->asked.size(), 1u);
    EXPECT_EQ(d->asked[0], "link file:///b/html/KORVEL_7.html");  // resolved against the base
    EXPECT_EQ(web->loadCount(), 1u);                                // nothing loaded
    EXPECT_FALSE(web->followLink("no such link"));
}

TEST_F(WebTest, FollowedLinksLoadFilesOrLeaveForTheSystem) {
    testsupport::TempDir tmp{"webviewtest"};
    const std::string& dir = tmp.path();
    std::ofstream(dir + "/two.html") << "<b>Second</b> page";
    auto web = WebView::make(makeRect(0, 0, 320, 400));
    auto d = ns::make<PageDelegate>();
    web->setDelegate(d.get());
    web->loadHTMLString("<a href='two.html'>next</a> <a href='mailto:someone@example.com'>mail</a> "
                        "<a href='missing.html'>gone</a>",
                        ns::URL::fileURLWithPath(dir + "/one.html"));
    EXPECT_TRUE(web->followLink("next"));
    EXPECT_EQ(web->pageText(), "Second page");
    EXPECT_TRUE(web->canGoBack());
    web->goBack();
    EXPECT_NE(web->html().find("mailto:"), std::string::npos);

    EXPECT_TRUE(web->followLink("mail"));
    ASSERT_EQ(Application::shared()->openedURLs().size(), 1u);
    EXPECT_EQ(Application::shared()->openedURLs()[0], "mailto:someone@example.com");
    EXPECT_NE(web->html().find("mailto:"), std::string::npos);  // the page stays

    d->events.clear();
    web->followLink("gone");
    EXPECT_EQ(d->events, (std::vector<std::string>{"start", "fail -1100"}));
}

TEST_F(WebTest, ReadableTextSkipsScriptsAndMarksLinksAndBlocks) {
    std::string html =
        "<html><head><title>T</title><style>p{}</style></head><body>"
        "<script>var x = '<p>not text</p>';</script>"
        "<!-- a comment <b>x</b> -->"
        "<div>One&nbsp;two&hellip;</div><ul><li>first</li><li>second</li></ul>"
        "<p>Caf&eacute; &#x263A; &bogus; &lt;tag&gt;</p><a href='x'>a <i>link</i></a><br>end";
    EXPECT_EQ(htmlToText(html), "One two\xE2\x80\xA6\n- first\n- second\nCaf\xC3\xA9 \xE2\x98\xBA &bogus; <tag>\n[a link]\nend");
    auto links = htmlLinks(html);
    ASSERT_EQ(links.size(), 1u);
    EXPECT_EQ(links[0].href, "x");
    EXPECT_EQ(links[0].text, "a link");
    // Unterminated markup neither crashes nor loops.
    EXPECT_EQ(htmlToText("<p>open <a href='x"), "open [");
    EXPECT_EQ(decodeEntities("&#1114112; &#xD800; &#65;"), "&#1114112; \xEF\xBF\xBD A");
}

}  // namespace
}  // namespace ui::test
