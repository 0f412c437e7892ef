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

    // Hrefs with the characters that mean something in a URL or in HTML:
    // entities are undone, escapes are kept until the file is opened.
    std::ofstream(dir + "/a b&c #1.html") << "reserved name";
    std::ofstream(dir + "/caf\xC3\xA9.html") << "accented name";
    web->loadHTMLString("<a href='a%20b&amp;c%20%231.html'>spaces</a> <a href=\"caf%C3%A9.html?x=1&amp;y=%26#top\">caf</a> "
                        "<a href='mailto:a@example.com?subject=A%20%26%20B&amp;body=%3D'>ask</a>",
                        ns::URL::fileURLWithPath(dir + "/one.html"));
    EXPECT_TRUE(web->followLink("spaces"));
    EXPECT_EQ(web->pageText(), "reserved name");
    web->goBack();
    EXPECT_TRUE(web->followLink("caf"));
    EXPECT_EQ(web->pageText(), "accented name");
    web->goBack();
    EXPECT_TRUE(web->followLink("ask"));
    EXPECT_EQ(Application::shared()->openedURLs().back(), "mailto:a@example.com?subject=A%20%26%20B&body=%3D");

    // A page is read up to its size limit, whether given or read from a file.
    struct Page {
        const char* name;
        size_t bytes;
        bool fromFile;
        const char* ends;
    } pages[] = {
        {"given, at the limit", WebView::kMaxPageBytes, false, "finish"},
        {"given, one byte past", WebView::kMaxPageBytes + 1, false, "fail -1103"},
        {"a file at the limit", WebView::kMaxPageBytes, true, "finish"},
        {"a file one byte past", WebView::kMaxPageBytes + 1, true, "fail -1100"},
    };
    for (const Page& p : pages) {
        auto page = WebView::make(makeRect(0, 0, 320, 400));
        auto pd = ns::make<PageDelegate>();
        page->setDelegate(pd.get());
        std::string html(p.bytes, 'x');
        if (p.fromFile) {
            std::ofstream(dir + "/big.html", std::ios::binary | std::ios::trunc) << html;
            page->loadRequest(URLRequest::requestWithURL(ns::URL::fileURLWithPath(dir + "/big.html")));
        } else {
            page->loadHTMLString(html, nullptr);
        }
        EXPECT_EQ(pd->events, (std::vector<std::string>{"start", p.ends})) << p.name;
        EXPECT_EQ(page->html().size(), std::string(p.ends) == "finish" ? p.bytes : 0u) << p.name;
    }
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

TEST_F(WebTest, EntitiesTagsAndFontSizesAreReadByTheirRules) {
    struct Text {
        const char* name;
        std::string in, out;
    };
    const Text entities[] = {
        {"named", "&amp;&lt;&gt;&quot;&apos;", "&<>\"'"},
        {"names keep their case", "&AMP; &Eacute;", "&AMP; \xC3\x89"},
        {"no-break space as a space", "a&nbsp;b", "a b"},
        {"decimal", "&#65;", "A"},
        {"hexadecimal either case", "&#x41;&#X42;&#xfF;", "AB\xC3\xBF"},
        {"no digits", "&#; &#x;", "&#; &#x;"},
        {"a letter among decimal digits", "&#12a;", "&#12a;"},
        {"no semicolon", "&gt and", "&gt and"},
        {"the last code point", "&#1114111;&#x10FFFF;", "\xF4\x8F\xBF\xBF\xF4\x8F\xBF\xBF"},
        {"one past it", "&#x110000;", "&#x110000;"},
        {"nul", "&#0;", "\xEF\xBF\xBD"},
        {"surrogates", "&#xD800;&#xDFFF;", "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"beside the surrogates", "&#xD7FF;&#xE000;", "\xED\x9F\xBF\xEE\x80\x80"},
        {"twelve bytes from & to ;", "&#0000000065;", "A"},
        {"thirteen", "&#00000000065;", "&#00000000065;"},
    };
    for (const Text& t : entities) EXPECT_EQ(decodeEntities(t.in), t.out) << t.name;
    const Text pages[] = {
        {"tags in capitals", "<P>a</P><BR>b<Li>c", "a\nb\n- c"},
        {"an image's words", "<p>x<img src='l.png' alt='Logo'>y<IMG ALT=\"\">z</p>", "x(Logo)yz"},
        {"table cells", "<table><tr><td>a</td><th>b</th></tr><tr><td>c</td></tr></table>", "a b\nc"},
        {"scripts in capitals", "<SCRIPT>x</script>y<Style>p{}</STYLE>z", "yz"},
        {"an unclosed script", "a<script>b", "a"},
        {"an unclosed comment", "a<!-- b", "a"},
        {"blanks", " a \t\r b \n\n c ", "a b\nc"},
        {"entities in text", "caf&eacute; &mdash; 5&euro;", "caf\xC3\xA9 \xE2\x80\x94 5\xE2\x82\xAC"},
    };
    for (const Text& t : pages) EXPECT_EQ(htmlToText(t.in), t.out) << t.name;
    auto links = htmlLinks("<A HREF=\"a.html\">one\n two</a><a name='x'>no href</a><a href=b&amp;c.html>B</A>");
    ASSERT_EQ(links.size(), 2u);
    EXPECT_EQ(links[0].href, "a.html");
    EXPECT_EQ(links[0].text, "one two");
    EXPECT_EQ(links[1].href, "b&c.html");
    EXPECT_EQ(links[1].text, "B");
    // A link whose tag is never closed ends with the text.
    links = htmlLinks("see <a href='x.html");
    ASSERT_EQ(links.size(), 1u);
    EXPECT_EQ(links[0].href, "x.html");
    EXPECT_EQ(links[0].text, "");
    EXPECT_EQ(bodyTagFontSize("<body style='font-size:12px'"), 12);
    struct Size {
        const char* name;
        std::string in;
        double px;
    };
    const Size bodies[] = {
        {"quoted", "<body style='font-size: 14px'>", 14},
        {"capitals and a fraction", "<BODY STYLE=\"FONT-SIZE:13.5PX\">", 13.5},
        {"among other rules", "<p style='font-size:9px'><body style=\"color:red; font-size : 16px\">", 16},
        {"unquoted", "<body style=font-size:12px>", 12},
        {"without px", "<body style='font-size:14'>", 0},
        {"without a colon", "<body style='font-size 14px'>", 0},
        {"no style", "<body>", 0},
        {"no body", "<p style='font-size:9px'>x</p>", 0},
        {"two points", "<body style='font-size:1.2.3px'>", 0},
        {"a point alone", "<body style='font-size:.px'>", 0},
        {"a point first", "<body style='font-size:.5px'>", 0.5},
        {"past the largest number", "<body style='font-size:" + std::string(400, '9') + "px'>", 0},
    };
    for (const Size& b : bodies) EXPECT_EQ(bodyTagFontSize(b.in), b.px) << b.name;
    const Size scripts[] = {
        {"body's style", "document.body.style.fontSize = '15px';", 15},
        {"by tag name, double quotes", "document.getElementsByTagName(\"body\")[0].style.fontSize=\"17px\"", 17},
        {"unquoted", "document.body.style.fontSize=11px", 11},
        {"without px", "document.body.style.fontSize=18", 0},
        {"another property", "document.body.style.color='red'", 0},
        {"two points", "document.body.style.fontSize='1.2.3px'", 0},
    };
    for (const Size& s : scripts) EXPECT_EQ(scriptBodyFontSize(s.in), s.px) << s.name;
}

}  // namespace
}  // namespace ui::test
