// The Tumblr sharer against the fake services: login, link and text posts
// as form bodies, photos as multipart bodies, and the reply rules.
#include <gtest/gtest.h>

#include "sharing/core/ImageCoding.h"
#include "sharing/sharers/tumblr/SHRTumblr.h"
#include "sharing/tests/FakeServices.h"
#include "sharing/ui/SHRFormController.h"

namespace sharing::test {
namespace {

class TumblrTest : public FakeServicesTest {
protected:
    void SetUp() override {
        FakeServicesTest::SetUp();
        endpoints.point(SHRTumblr::kService, services.base());
        SHR::setAuthValueForKeyForSharer(ns::str("me@example.org").get(), "email", "SHRTumblr");
        SHR::setAuthValueForKeyForSharer(ns::str("p&w").get(), "password", "SHRTumblr");
    }
    // Sends and waits for the end; the last notification.
    std::string sendAndWait(const ns::Ref<SHRTumblr>& sharer) {
        NotificationRecorder rec;
        EXPECT_TRUE(sharer->send());
        runUntil([&] { return rec.names.size() >= 2; });
        return rec.names.empty() ? "" : rec.names.back();
    }
};

TEST_F(TumblrTest, LinkPostFieldsInOrder) {
    auto sharer = ns::make<SHRTumblr>();
    auto item = SHRItem::URL(ns::URL::URLWithString("http://example.org/x?y=1"), ns::str("A & B"));
    item->setTags(ns::str("cards,study"));
    item->setCustomValueForKey(ns::str("my-slug"), "slug");
    item->setCustomValueForKey(ns::str("1"), "twitter");
    item->setCustomValueForKey(ns::str("1"), "private");
    sharer->setItem(item);
    EXPECT_EQ(sendAndWait(sharer), "SHRSendDidFinish");
    auto rec = services.last();
    EXPECT_EQ(field(rec, "path"), "/api/write");
    EXPECT_EQ(pairs(rec, "form"), (Pairs{{"email", "me@example.org"}, {"password", "p&w"}, {"generator", "Fenwarel App"},
                                         {"send-to-twitter", "auto"}, {"tags", "cards,study"}, {"slug", "my-slug"},
                                         {"private", "1"}, {"type", "link"}, {"url", "http://example.org/x?y=1"},
                                         {"name", "A & B"}}));
}

TEST_F(TumblrTest, TextPostSwitchesOffAndEscapedTags) {
    auto sharer = ns::make<SHRTumblr>();
    auto item = SHRItem::text(ns::str("body & soul"));
    // Tags and slug are escaped like the other values: "&" and "+" arrive whole.
    item->setTags(ns::str("Q&A,c++"));
    item->setCustomValueForKey(ns::str("a=b&c"), "slug");
    sharer->setItem(item);
    EXPECT_EQ(sendAndWait(sharer), "SHRSendDidFinish");
    EXPECT_EQ(pairs(services.last(), "form"),
              (Pairs{{"email", "me@example.org"}, {"password", "p&w"}, {"generator", "Fenwarel App"},
                     {"send-to-twitter", "no"}, {"tags", "Q&A,c++"}, {"slug", "a=b&c"}, {"private", "0"},
                     {"type", "regular"}, {"body", "body & soul"}}));
    // A URL item without a title sends no name.
    sharer->setItem(SHRItem::URL(ns::URL::URLWithString("http://example.org/")));
    EXPECT_EQ(sendAndWait(sharer), "SHRSendDidFinish");
    for (auto& [k, v] : pairs(services.last(), "form")) EXPECT_NE(k, "name");
}

TEST_F(TumblrTest, ReplyRules) {
    services.setReplies(R"({"/api/write": [{"status": 403}, {"status": 500}, {"status": 404}, {"status": 201}]})");
    auto sharer = ns::make<SHRTumblr>();
    sharer->setShareDelegate(nullptr);
    sharer->setItem(SHRItem::text(ns::str("x")));
    EXPECT_EQ(sendAndWait(sharer), "SHRSendDidFailWithError");
    ASSERT_TRUE(sharer->lastError());
    EXPECT_EQ(sharer->lastError()->localizedDescription(), "Invalid email or password.");
    EXPECT_EQ(sendAndWait(sharer), "SHRSendDidFailWithError");
    EXPECT_EQ(sharer->lastError()->localizedDescription(), "The service encountered an error. Please try again later.");
    EXPECT_EQ(sendAndWait(sharer), "SHRSendDidFailWithError");
    EXPECT_EQ(sharer->lastError()->localizedDescription(), "There was an error sending your post to Tumblr.");
    EXPECT_EQ(sendAndWait(sharer), "SHRSendDidFinish");
}

TEST_F(TumblrTest, PhotoMultipartPartsAndStatus) {
    services.setReplies(R"({"/api/write": [{"status": 201}, {"status": 302}]})");
    auto image = ns::make<ui::Image>("card", ui::Size{40, 30});
    auto sharer = ns::make<SHRTumblr>();
    auto item = SHRItem::image(image, ns::str("ignored"));
    item->setTags(ns::str("t1"));
    item->setCustomValueForKey(ns::str("A caption"), "caption");
    item->setCustomValueForKey(ns::str("1"), "private");
    sharer->setItem(item);
    EXPECT_EQ(sendAndWait(sharer), "SHRSendDidFinish");
    auto rec = services.last();
    ASSERT_TRUE(rec);
    EXPECT_EQ(field(rec->dictionaryForKey("headers"), "content-type"), "multipart/form-data; boundary=0xKhTmLbOuNdArY");
    auto* mp = rec->dictionaryForKey("multipart");
    ASSERT_TRUE(mp);
    EXPECT_EQ(field(mp, "starts_crlf"), "1");
    EXPECT_EQ(field(mp, "closed"), "1");
    std::vector<std::string> heads, values;
    for (ns::Object* o : *mp->arrayForKey("parts")) {
        auto* p = ns::as<ns::Dictionary>(o);
        ASSERT_TRUE(p);
        std::string h;
        for (ns::Object* l : *p->arrayForKey("headers")) h += (h.empty() ? "" : "|") + ns::describe(l);
        heads.push_back(h);
        values.push_back(p->objectForKey("md5") ? "md5:" + field(p, "md5") : field(p, "value"));
    }
    auto name = [](const char* n) { return std::string("Content-Disposition: form-data; name=\"") + n + "\""; };
    EXPECT_EQ(heads, (std::vector<std::string>{name("email"), name("password"), name("type"), name("generator"),
                                               name("tags"), name("caption"), name("private"), name("twitter"),
                                               name("data") + "; filename=\"upload.jpg\"|Content-Transfer-Encoding: image/jpg"}));
    auto jpeg = imageJPEGRepresentation(image.get(), 0.9);
    EXPECT_EQ(values, (std::vector<std::string>{"me@example.org", "p&w", "photo", "Fenwarel App", "t1", "A caption", "1",
                                                "no", "md5:" + md5(*jpeg)}));
    // 302 is no success.
    EXPECT_EQ(sendAndWait(sharer), "SHRSendDidFailWithError");
    ASSERT_TRUE(sharer->lastError());
    EXPECT_EQ(sharer->lastError()->localizedDescription(), "There was an error sending your post to Tumblr.");
}

TEST_F(TumblrTest, LoginFormAndRefusal) {
    SHR::removeAuthValueForKeyForSharer("email", "SHRTumblr");
    SHR::removeAuthValueForKeyForSharer("password", "SHRTumblr");
    services.setReplies(R"({"/api/authenticate": [{"status": 403}]})");
    NotificationRecorder rec;
    auto sharer = ns::make<SHRTumblr>();
    sharer->setItem(SHRItem::text(ns::str("x")));
    sharer->share();
    auto shownForm = [] {
        auto* nav = ns::as<ui::NavigationController>(SHR::currentHelper()->currentView());
        return nav ? ns::as<SHRFormController>(nav->topViewController()) : nullptr;
    };
    ASSERT_TRUE(runUntil([&] { return shownForm() != nullptr; }));
    shownForm()->setValueForKey("email", "me@example.org");
    shownForm()->setValueForKey("password", "a b");
    shownForm()->validateForm();
    ASSERT_TRUE(runUntil([&] { return !rec.names.empty(); }));
    EXPECT_EQ(rec.names, (std::vector<std::string>{"SHRAuthDidFinish:false"}));
    EXPECT_EQ(alerts(), (std::vector<std::string>{"Login Error|Invalid email or password."}));
    EXPECT_EQ(pairs(services.last(), "form"), (Pairs{{"email", "me@example.org"}, {"password", "a b"}}));
    EXPECT_FALSE(SHR::getAuthValueForKeyForSharer("email", "SHRTumblr"));
}

}  // namespace
}  // namespace sharing::test
