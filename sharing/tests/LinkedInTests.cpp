// The LinkedIn sharer against the fake services, which check every OAuth
// signature with their own code: request token, authorise page (driven
// through the web view), access token with callback and verifier, the text
// form, and the XML share.
#include <gtest/gtest.h>

#include "platform/ui/Driver.h"
#include "sharing/sharers/linkedin/SHRLinkedIn.h"
#include "sharing/tests/FakeServices.h"

namespace sharing::test {
namespace {

class LinkedInTest : public FakeServicesTest {
protected:
    void SetUp() override {
        FakeServicesTest::SetUp();
        endpoints.point({SHRLinkedIn::kService, SHRLinkedIn::kWebService, SHRLinkedIn::kShareService},
                        services.base());
        services.setReplies(R"({"/uas/oauth/requestToken": [{"body": "oauth_token=reqtok&oauth_token_secret=reqsecret"}],
                                "/uas/oauth/accessToken": [{"body": "oauth_token=acctok&oauth_token_secret=accsecret"}],
                                "/v1/people/~/shares": [{"status": 201}]})");
    }
    ns::Ref<SHRLinkedIn> configured() {
        auto s = ns::make<SHRLinkedIn>();
        s->setConsumerKey("lkey");
        s->setSecretKey("lsecret");
        s->setAuthorizeCallbackURL(ns::URL::URLWithString("http://callback.example/li"));
        return s;
    }
    ns::Ref<ns::Dictionary> record(const std::string& path) {
        auto l = services.log();
        EXPECT_TRUE(l) << "the fake's log does not decode";
        for (size_t i = l ? l->count() : 0; i-- > 0;) {
            auto* d = ns::as<ns::Dictionary>(l->objectAtIndex(i));
            if (field(d, "path") == path) return ns::Ref<ns::Dictionary>(d);
        }
        return nullptr;
    }
    template <class T> T* top() {
        auto* nav = ns::as<ui::NavigationController>(SHR::currentHelper()->currentView());
        return nav ? ns::as<T>(nav->topViewController()) : nullptr;
    }
};

TEST_F(LinkedInTest, AuthoriseWithCallbackAndVerifierThenShareXML) {
    NotificationRecorder rec;
    auto sharer = configured();
    sharer->setItem(SHRItem::URL(ns::URL::URLWithString("http://example.org/?a=1&b=%222%22"), ns::str("Deck")));
    sharer->share();
    ASSERT_TRUE(runUntil([&] { return top<SHROAuthView>() != nullptr; }));
    auto* view = top<SHROAuthView>();
    ASSERT_TRUE(view->webView()->request());
    ASSERT_TRUE(view->webView()->request()->URL());
    std::string authURL = view->webView()->request()->URL()->absoluteText();
    EXPECT_EQ(authURL, services.base() + "/uas/oauth/authorize?oauth_token=reqtok");
    view->webView()->loadHTMLString(
        "<a href=\"http://callback.example/li?oauth_token=reqtok&oauth_verifier=v%2B1\">Allow</a>",
        ns::URL::URLWithString(authURL));
    ui::Driver driver;
    EXPECT_FALSE(driver.followLink("Allow"));  // caught by the view
    ASSERT_TRUE(runUntil([&] { return top<SHRFormControllerLargeTextField>() != nullptr; }));
    auto access = record("/uas/oauth/accessToken");
    ASSERT_TRUE(access);
    auto* oauth = access->dictionaryForKey("oauth");
    ASSERT_TRUE(oauth);
    EXPECT_EQ(field(oauth, "ok"), "1") << field(oauth, "why");
    EXPECT_EQ(field(oauth->dictionaryForKey("params"), "oauth_callback"), "http://callback.example/li");
    EXPECT_EQ(field(oauth->dictionaryForKey("params"), "oauth_verifier"), "v%2B1");
    EXPECT_EQ(field(oauth->dictionaryForKey("params"), "oauth_token"), "reqtok");
    EXPECT_EQ(ns::describe(oauth->arrayForKey("order")),
              ns::describe(ns::Array::make({ns::str("realm"), ns::str("oauth_callback"), ns::str(kConsumerKeyParameter),
                                            ns::str("oauth_token"), ns::str("oauth_signature_method"),
                                            ns::str("oauth_signature"), ns::str("oauth_timestamp"),
                                            ns::str("oauth_nonce"), ns::str("oauth_version"),
                                            ns::str("oauth_verifier")}).get()));
    EXPECT_EQ(field(record("/uas/oauth/requestToken")->dictionaryForKey("oauth"), "ok"), "1");
    // The form holds the title; the edited text becomes the title.
    auto* form = top<SHRFormControllerLargeTextField>();
    ASSERT_TRUE(form);
    EXPECT_EQ(form->text(), "Deck");
    EXPECT_TRUE(form->hasLink());
    EXPECT_EQ(form->maxTextLength(), 700u);
    // 700 characters (of two bytes each) may go, one more may not.
    for (size_t n : {700u, 701u}) {
        std::string text;
        for (size_t i = 0; i < n; ++i) text += "\xC3\xA9";
        form->setText(text);
        ASSERT_TRUE(form->counter());
        EXPECT_EQ(form->counter()->text(), n == 700 ? "0" : "-1");
        ASSERT_TRUE(form->navigationItem()->rightBarButtonItem());
        EXPECT_EQ(form->navigationItem()->rightBarButtonItem()->isEnabled(), n == 700);
    }
    form->setText("Tom & \"Jerry\" <3");
    form->save();
    ASSERT_TRUE(runUntil([&] { return !rec.names.empty() && rec.names.back() == "SHRSendDidFinish"; }))
        << ::testing::PrintToString(rec.names) << services.call("/__log").substr(0, 3000);
    auto share = record("/v1/people/~/shares");
    ASSERT_TRUE(share);
    EXPECT_EQ(field(share, "method"), "POST");
    EXPECT_EQ(field(share->dictionaryForKey("oauth"), "ok"), "1") << field(share->dictionaryForKey("oauth"), "why");
    ASSERT_TRUE(share->dictionaryForKey("oauth"));
    EXPECT_EQ(field(share->dictionaryForKey("oauth")->dictionaryForKey("params"), "oauth_token"), "acctok");
    EXPECT_EQ(field(share->dictionaryForKey("headers"), "content-type"), "text/xml;charset=UTF-8");
    EXPECT_EQ(field(share, "raw"),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?><share><comment>Tom &amp; &quot;Jerry&quot; &lt;3</comment>"
              "<content><submitted-url>http://example.org/?a=1&amp;b=%222%22</submitted-url></content>"
              "<visibility><code>anyone</code></visibility></share>");
}

TEST_F(LinkedInTest, TextShareVisibilityAndReplies) {
    services.setReplies(R"({"/v1/people/~/shares": [{"status": 201}, {"status": 400}]})");
    auto sharer = configured();
    sharer->setAccessToken(ns::make<OAToken>("acctok", "accsecret"));
    sharer->isAuthorized();
    auto item = SHRItem::text(ns::str("hello"));
    item->setCustomValueForKey(ns::str("connections-only"), "visibility.code");
    sharer->setItem(item);
    NotificationRecorder rec;
    ASSERT_TRUE(sharer->send());
    ASSERT_TRUE(runUntil([&] { return rec.names.size() >= 2; }));
    EXPECT_EQ(rec.names.back(), "SHRSendDidFinish");
    auto share = record("/v1/people/~/shares");
    EXPECT_EQ(field(share->dictionaryForKey("oauth"), "ok"), "1");
    EXPECT_EQ(field(share, "raw"),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?><share><comment>hello</comment>"
              "<visibility><code>connections-only</code></visibility></share>");
    sharer->setShareDelegate(nullptr);
    ASSERT_TRUE(sharer->send());
    ASSERT_TRUE(runUntil([&] { return rec.names.size() >= 4; }));
    EXPECT_EQ(rec.names.back(), "SHRSendDidFailWithError");
    ASSERT_TRUE(sharer->lastError());
    EXPECT_EQ(sharer->lastError()->localizedDescription(), "Why it failed");
    // A URL item needs a title; images are not sent.
    sharer->setItem(SHRItem::URL(ns::URL::URLWithString("http://example.org/")));
    EXPECT_FALSE(sharer->validateItem());
    EXPECT_FALSE(sharer->send());

    // The form each kind of item is edited in: a text's text, a link's
    // title (with the link), nothing for an image.
    struct Shown {
        const char* name;
        ns::Ref<SHRItem> item;
        bool form;
        const char* text;
        bool link;
    } shown[] = {
        {"text", SHRItem::text(ns::str("a text")), true, "a text", false},
        {"link", SHRItem::URL(ns::URL::URLWithString("http://example.org/"), ns::str("A title")), true, "A title", true},
        {"image", SHRItem::image(ui::Image::make("pic", {4, 4}), ns::str("A caption")), false, "", false},
    };
    for (const auto& r : shown) {
        auto s = configured();
        s->setItem(r.item);
        s->show();
        auto* form = ns::as<SHRFormControllerLargeTextField>(s->topViewController());
        EXPECT_EQ(form != nullptr, r.form) << r.name;
        if (!form) continue;
        EXPECT_EQ(form->text(), r.text) << r.name;
        EXPECT_EQ(form->hasLink(), r.link) << r.name;
        SHR::currentHelper()->hideCurrentViewControllerAnimated(false);
        SHR::currentHelper()->viewWasDismissed();
    }
}

// Text holding characters that XML 1.0 cannot carry (control characters
// other than tab, line feed and carriage return; U+FFFE, U+FFFF) still
// makes a document an XML parser reads: those characters are dropped, the
// rest arrives as typed.
TEST_F(LinkedInTest, CharactersXMLCannotCarryAreDroppedFromTheShare) {
    struct Row {
        const char* name;
        std::string text, comment;  // typed; as the service's parser reads it
    } rows[] = {
        {"C0 controls", std::string("a\x01" "b\x08" "c\x0B" "d\x0C" "e\x1B" "f\x1F" "g"), "abcdefg"},
        {"NUL", std::string("nul\0here", 8), "nulhere"},
        {"kept whitespace", "tab\there\nline", "tab\there\nline"},
        {"with markup", "Q&A <\x02\"x\">", "Q&A <\"x\">"},
        {"non-characters", "one\xEF\xBF\xBE" "two\xEF\xBF\xBF" "three\xEF\xBF\xBD", "onetwothree\xEF\xBF\xBD"},
        {"DEL and C1 kept", "\x7F\xC2\x85\xC3\xA9", "\x7F\xC2\x85\xC3\xA9"},
        {"only controls", "\x01\x02\x03", ""},
    };
    auto sharer = configured();
    sharer->setAccessToken(ns::make<OAToken>("acctok", "accsecret"));
    sharer->isAuthorized();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        for (bool link : {false, true}) {
            SCOPED_TRACE(link ? "link" : "text");
            NotificationRecorder rec;
            sharer->setItem(link ? SHRItem::URL(ns::URL::URLWithString("http://example.org/c?a=1&b=2"), ns::str(row.text))
                                 : SHRItem::text(ns::str(row.text)));
            ASSERT_TRUE(sharer->send());
            ASSERT_TRUE(runUntil([&] { return rec.names.size() >= 2; }));
            EXPECT_EQ(rec.names.back(), "SHRSendDidFinish");
            auto share = record("/v1/people/~/shares");
            ASSERT_TRUE(share);
            auto* xml = share->dictionaryForKey("xml");
            ASSERT_TRUE(xml);
            EXPECT_EQ(field(xml, "ok"), "1") << field(xml, "why");
            EXPECT_EQ(field(xml, "comment"), row.comment);
            EXPECT_EQ(field(xml, "url"), link ? "http://example.org/c?a=1&b=2" : "");
        }
    }
}

TEST_F(LinkedInTest, EmptyCallbackIsLeftOut) {
    auto consumer = ns::make<OAConsumer>("lkey", "lsecret");
    auto url = ns::URL::URLWithString("http://api.example/uas/oauth/accessToken");
    auto without = SHRLinkedInOAMutableURLRequest::make(url, consumer, nullptr, nullptr, nullptr, "", "n1", "100");
    without->setHTTPMethod("POST");
    without->prepare();
    EXPECT_EQ(without->_signatureBaseString().find("oauth_callback"), std::string::npos);
    EXPECT_EQ(without->valueForHTTPHeaderField("Authorization")->find("oauth_callback"), std::string::npos);
    auto with = SHRLinkedInOAMutableURLRequest::make(url, consumer, nullptr, nullptr, nullptr, "http://cb.example/x",
                                                     "n1", "100");
    with->setHTTPMethod("POST");
    with->prepare();
    EXPECT_EQ(with->_signatureBaseString(),
              "POST&http%3A%2F%2Fapi.example%2Fuas%2Foauth%2FaccessToken&oauth_callback%3Dhttp%253A%252F%252Fcb."
              "example%252Fx%26oauth_"
              "consumer_key%3Dlkey%26oauth_nonce%3Dn1%26oauth_signature_method%3DHMAC-SHA1%26"
              "oauth_timestamp%3D100%26oauth_version%3D1.0");
    EXPECT_EQ(with->valueForHTTPHeaderField("Authorization")
                  ->rfind("OAuth realm=\"\", oauth_callback=\"http%3A%2F%2Fcb.example%2Fx\", oauth_"
                          "consumer_key=\"lkey\", ",
                          0),
              0u);
}

}  // namespace
}  // namespace sharing::test
