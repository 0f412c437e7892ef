// The Evernote sharer end to end: a loopback HTTP server hosts our own user
// store and note store dispatchers with in-memory handlers (the note store is
// the Evernote tests' MemoryNoteStore), so every call crosses the real Thrift
// wire. The tests look at what the services received: the version check, the
// login, the chosen notebook and the note with its ENML and resources.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include <thrift/TApplicationException.h>

#include "evernote/notestore/EDAMNoteStoreProcessor.h"
#include "evernote/tests/MemoryNoteStore.h"
#include "evernote/tests/TestSupport.h"
#include "evernote/types/EDAMAccount.h"
#include "evernote/types/EDAMConstants.h"
#include "evernote/types/EDAMExceptions.h"
#include "evernote/types/Wire.h"
#include "evernote/userstore/EDAMUserStoreProcessor.h"
#include "evernote/userstore/EDAMUserStoreTypes.h"
#include "platform/security/Digest.h"
#include "platform/ui/Driver.h"
#include "sharing/core/ImageCoding.h"
#include "sharing/sharers/evernote/SHREvernote.h"
#include "sharing/tests/SharerTestSupport.h"
#include "sharing/ui/SHRActivityIndicator.h"
#include "sharing/ui/SHRFormController.h"
#include "testsupport/FullDisk.h"

namespace sharing::test {
namespace {

using namespace evernote;
using apache::thrift::protocol::T_REPLY;
using apache::thrift::protocol::T_STRUCT;
using apache::thrift::protocol::TMessageType;

class TestUserStore : public EDAMUserStore {
public:
    std::atomic<bool> refuseVersion{false};
    std::mutex m;
    std::string clientName;
    int16_t major = 0, minor = 0;
    std::vector<std::string> logins;  // "user/password/key/secret"
    // With hold set, a login is answered only once released (or after
    // 30 s): the test acts while it is on its way.
    std::atomic<bool> hold{false};
    std::atomic<int> held{0};
    void release() {
        std::lock_guard<std::mutex> g(holdMutex);
        released = true;
        holdDone.notify_all();
    }

    bool checkVersion(const ns::Ref<ns::String>& name, int16_t ma, int16_t mi) override {
        std::lock_guard<std::mutex> g(m);
        clientName = name ? name->utf8() : "(nil)";
        major = ma;
        minor = mi;
        return !refuseVersion && ma == 1 && mi >= 16;
    }
    ns::Ref<EDAMAuthenticationResult> authenticate(const ns::Ref<ns::String>& u, const ns::Ref<ns::String>& p,
                                                   const ns::Ref<ns::String>& k, const ns::Ref<ns::String>& s) override {
        {
            std::lock_guard<std::mutex> g(m);
            logins.push_back(ns::describe(u) + "/" + ns::describe(p) + "/" + ns::describe(k) + "/" + ns::describe(s));
        }
        if (hold) {
            ++held;
            std::unique_lock<std::mutex> l(holdMutex);
            holdDone.wait_for(l, std::chrono::seconds(30), [this] { return released; });
        }
        if (!k || k->utf8() != "deck-key" || !s || s->utf8() != "deck-secret")
            throw EDAMSystemException(4, ns::str("consumer"));
        if (!u || u->utf8() != "carla" || !p || p->utf8() != "pa55") throw EDAMUserException(2, ns::str("password"));
        auto user = ns::make<EDAMUser>();
        user->setShardId(ns::str("s42"));
        return ns::make<EDAMAuthenticationResult>(1, ns::str(evernote::test::MemoryNoteStore::kToken), 2, user, nullptr);
    }
    ns::Ref<EDAMAuthenticationResult> refreshAuthentication(const ns::Ref<ns::String>&) override { return nullptr; }
    ns::Ref<EDAMUser> getUser(const ns::Ref<ns::String>&) override { return nullptr; }
    ns::Ref<EDAMPublicUserInfo> getPublicUserInfo(const ns::Ref<ns::String>&) override { return nullptr; }

private:
    std::mutex holdMutex;
    std::condition_variable holdDone;
    bool released = false;
};

// The memory note store with a switch to make createNote fail.
class TestNoteStore : public evernote::test::MemoryNoteStore {
public:
    std::atomic<int> failCode{0};      // an EDAMUserException code
    std::atomic<bool> systemFailure{false};
    ns::Ref<EDAMNote> createNote(const ns::Ref<ns::String>& token, const ns::Ref<EDAMNote>& note) override {
        if (failCode) throw EDAMUserException(failCode, ns::str("Note.content"));
        if (systemFailure) throw EDAMSystemException(4, ns::str("down"));
        return MemoryNoteStore::createNote(token, note);
    }
};

// One message per request; a service exception the handler raises goes back
// in the result record's exception field (user 1, system 2, not found 3).
template <class Processor>
std::string serve(Processor& processor, const std::string& call) {
    evernote::test::Wire out;
    try {
        processor.processOnInputProtocolOutputProtocol(*evernote::test::reading(call), *out.protocol);
        return out.contents();
    } catch (const ns::Exception& e) {
        int16_t field = dynamic_cast<const EDAMUserException*>(&e) ? 1
                        : dynamic_cast<const EDAMSystemException*>(&e) ? 2 : 3;
        return evernote::test::exceptionReply(evernote::test::callHeader(call), field, dynamic_cast<const Record&>(e));
    }
}

ns::Ref<ns::Data> jpegOf(double w, double h) {
    return imageJPEGRepresentation(ui::Image::make("remote", {w, h}).get(), 0.8);
}

struct EvernoteService {
    std::shared_ptr<TestUserStore> users = std::make_shared<TestUserStore>();
    std::shared_ptr<TestNoteStore> notes = std::make_shared<TestNoteStore>();
    ns::Ref<EDAMUserStoreProcessor> userProcessor = ns::make<EDAMUserStoreProcessor>(users);
    ns::Ref<EDAMNoteStoreProcessor> noteProcessor = ns::make<EDAMNoteStoreProcessor>(notes);
    std::string remoteJPEG = std::string(jpegOf(64, 48)->view());
    Server server{[this](const Request& r) -> std::optional<std::string> {
        if (r.target == "/img/cat.jpg") return Server::reply(200, remoteJPEG, "Content-Type: image/jpeg\r\n");
        if (r.target.rfind("/img/sized/", 0) == 0) {  // the picture padded after its end to the size asked for
            std::string padded = remoteJPEG;
            padded.resize(std::stoul(r.target.substr(11)), '\0');
            return Server::reply(200, padded, "Content-Type: image/jpeg\r\n");
        }
        if (r.method != "POST" || r.header("Content-Type") != "application/x-thrift")
            return Server::reply(400, "");
        if (r.target == "/edam/user") return Server::reply(200, serve(*userProcessor, r.body));
        if (r.target == "/edam/note/s42") return Server::reply(200, serve(*noteProcessor, r.body));
        return Server::reply(404, "");
    }};
    std::string url(const std::string& path) const { return baseOf(server) + path; }
};

class EvernoteSharerTest : public SharingTest {
protected:
    void SetUp() override {
        SharingTest::SetUp();
        registerEvernoteSharer();
        endpoints.point(SHREvernote::kUserStoreService, service.url("/edam/user"));
        endpoints.point(SHREvernote::kNoteStoreService, service.url("/edam/note/"));
        SHREvernote::setConfiguration("deck-key", "deck-secret");
    }
    void TearDown() override {
        SHREvernote::setConfiguration("", "");
        SharingTest::TearDown();
    }
    void storeLogin(const char* password = "pa55") {
        SHR::setAuthValueForKeyForSharer(ns::str("carla").get(), "username", "SHREvernote");
        SHR::setAuthValueForKeyForSharer(ns::str(password).get(), "password", "SHREvernote");
    }
    bool waitFor(NotificationRecorder& rec, const std::string& name) {
        return runUntil([&] {
            for (auto& n : rec.names)
                if (n.rfind(name, 0) == 0) return true;
            return false;
        });
    }
    // Sends the item with the stored login; the note the store received.
    ns::Ref<EDAMNote> sendAndGetNote(const ns::Ref<SHRItem>& item) {
        auto s = ns::make<SHREvernote>();
        s->setItem(item);
        NotificationRecorder rec;
        EXPECT_TRUE(s->send());
        EXPECT_TRUE(waitFor(rec, SHRSendDidFinishNotification)) << ::testing::PrintToString(rec.names);
        return service.notes->notes.empty() ? nullptr : service.notes->notes.back();
    }
    EvernoteService service;
};

const std::string kHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><!DOCTYPE en-note SYSTEM \"http://xml.evernote.com/pub/enml2.dtd\">"
    "<en-note style=\"word-wrap: break-word; -webkit-nbsp-mode: space; -webkit-line-break: after-white-space;\">";

TEST_F(EvernoteSharerTest, LoginFormThenShareFormThenNote) {
    NotificationRecorder rec;
    auto item = SHRItem::URL(ns::URL::URLWithString("http://example.org/card?id=7"), ns::str("Tell me about you"));
    auto s = SHRSharer::shareItem<SHREvernote>(item);
    auto* login = ns::as<SHRFormController>(s->topViewController());
    ASSERT_TRUE(login);
    EXPECT_EQ(ns::describe(login->footerOfSection(0)), "Create a free account at evernote.com");

    auto logins = [&] {
        std::lock_guard<std::mutex> g(service.users->m);
        return service.users->logins.size();
    };
    // A wrong password: the service's user exception ends in "Login Error".
    // Login pressed again while the first login is on its way starts none.
    login->setValueForKey("username", "carla");
    login->setValueForKey("password", "nope");
    login->validateForm();
    login->validateForm();
    ASSERT_TRUE(runUntil([&] { return !alerts().empty(); }));
    runUntil([] { return false; }, 0.2);  // a second answer would be in by now
    EXPECT_EQ(alerts(), std::vector<std::string>{"Login Error|Your username and password did not match"});
    EXPECT_EQ(logins(), 1u);
    EXPECT_FALSE(SHR::getAuthValueForKeyForSharer("password", "SHREvernote"));
    EXPECT_TRUE(rec.names.empty());
    ui::Panel::resetShown();

    // Once answered, Login tries again (twice pressed, once sent).
    login->setValueForKey("password", "pa55");
    login->validateForm();
    login->validateForm();
    ASSERT_TRUE(waitFor(rec, SHRAuthDidFinishNotification));
    runUntil([] { return false; }, 0.2);
    EXPECT_EQ(rec.names, std::vector<std::string>{std::string(SHRAuthDidFinishNotification) + ":true"});
    EXPECT_EQ(logins(), 2u);
    EXPECT_EQ(ns::describe(SHR::getAuthValueForKeyForSharer("password", "SHREvernote")), "pa55");
    {
        std::lock_guard<std::mutex> g(service.users->m);
        EXPECT_EQ(service.users->clientName, "ShrareKit EDMA");
        EXPECT_EQ(service.users->major, 1);
        EXPECT_EQ(service.users->minor, 16);
        EXPECT_EQ(service.users->logins.back(), "carla/pa55/deck-key/deck-secret");
    }

    // The share form: title and tags; two blanks in a row give an empty tag.
    auto* form = ns::as<SHRFormController>(s->topViewController());
    ASSERT_TRUE(form && form != login);
    form->setValueForKey("tags", "work  cards");
    auto before = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch());
    form->validateForm();
    ASSERT_TRUE(waitFor(rec, SHRSendDidFinishNotification)) << ::testing::PrintToString(rec.names);

    ASSERT_EQ(service.notes->notes.size(), 1u);
    auto note = service.notes->notes[0];
    EXPECT_EQ(ns::describe(note->title()), "Tell me about you");
    EXPECT_EQ(ns::describe(note->content()),
              kHead + "<h1><a href=\"http://example.org/card?id=7\">Tell me about you</a></h1>"
                      "<p><a href=\"http://example.org/card?id=7\">http://example.org/card?id=7</a></p></en-note>");
    // The default notebook is the second one of the account.
    EXPECT_EQ(ns::describe(note->notebookGuid()), service.notes->notebooks[1]->guid()->utf8());
    std::vector<std::string> tags;
    for (ns::Object* t : *note->tagNames()) tags.push_back(ns::describe(t));
    EXPECT_EQ(tags, (std::vector<std::string>{"work", "", "cards"}));
    EXPECT_EQ(ns::describe(note->attributes()->sourceURL()), "http://example.org/card?id=7");
    EXPECT_EQ(note->created() % 1000, 0);
    EXPECT_GE(note->created() / 1000, before.count());
    EXPECT_EQ(service.notes->calls, (std::vector<std::string>{"listNotebooks", "createNote"}));
}

// Cancel on the login form while the login is on its way (the service
// answers only after the cancel) ends that login: the service's yes stores
// nothing, shows nothing, shares nothing and posts nothing after the cancel.
TEST_F(EvernoteSharerTest, CancelWhileTheLoginIsOnItsWayEndsThatLogin) {
    service.users->hold = true;
    NotificationRecorder rec;
    auto s = SHRSharer::shareItem<SHREvernote>(SHRItem::text(ns::str("hello")));
    auto* login = ns::as<SHRFormController>(s->topViewController());
    ASSERT_TRUE(login);
    login->setValueForKey("username", "carla");
    login->setValueForKey("password", "pa55");
    login->validateForm();
    ASSERT_TRUE(runUntil([&] { return service.users->held == 1; })) << "the login reached the service";
    auto* indicator = SHRActivityIndicator::currentIndicator();
    EXPECT_TRUE(indicator->isShown()) << "the login shows its activity";
    ns::Ref<SHRFormController>(login)->cancel();
    ASSERT_TRUE(runUntil([] { return SHR::currentHelper()->currentView() == nullptr; }));
    EXPECT_TRUE(runUntil([&] { return !indicator->isShown(); })) << "the login's activity indicator went";
    const auto afterCancel = rec.names;
    EXPECT_EQ(afterCancel, (std::vector<std::string>{std::string(SHRAuthDidFinishNotification) + ":false",
                                                     SHRSendDidCancelNotification}));
    // The login thread holds the sharer until its answer has been handled
    // on the main thread.
    ns::Weak<SHREvernote> weak(s.get());
    s = nullptr;
    service.users->release();
    ASSERT_TRUE(runUntil([&] {
        return weak.expired() || rec.names != afterCancel || SHR::currentHelper()->currentView() != nullptr;
    }));
    runUntil([] { return false; }, 0.2);
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(rec.names, afterCancel) << ::testing::PrintToString(rec.names);
    EXPECT_FALSE(SHR::getAuthValueForKeyForSharer("password", "SHREvernote")) << "nothing stored";
    EXPECT_TRUE(alerts().empty()) << ::testing::PrintToString(alerts());
    EXPECT_FALSE(SHR::currentHelper()->currentView()) << "no screen came back";
    EXPECT_TRUE(service.notes->notes.empty());
}

// Cancel is final on the login form and on the share form: the field that
// had the focus lets it go, and the return key on it, Login / Send and a
// save of the form start no login and no note; nothing is stored, and
// SendDidCancel is the only notification. No work started after the cancel
// holds the sharer once the caller lets it go.
TEST_F(EvernoteSharerTest, NothingACancelledFormHoldsIsStoredOrSent) {
    ui::Driver driver;
    auto logins = [&] {
        std::lock_guard<std::mutex> g(service.users->m);
        return service.users->logins.size();
    };
    auto* indicator = SHRActivityIndicator::currentIndicator();
    for (bool signedIn : {false, true}) {
        SCOPED_TRACE(signedIn ? "share form" : "login form");
        if (signedIn) storeLogin();
        NotificationRecorder rec;
        auto s = SHRSharer::shareItem<SHREvernote>(
            SHRItem::URL(ns::URL::URLWithString("http://example.org/card?id=7"), ns::str("Tell me about you")));
        ns::Ref<SHRFormController> form(ns::as<SHRFormController>(s->topViewController()));
        ASSERT_TRUE(form);
        ASSERT_EQ(form->rightButtonTitle() == "Login", !signedIn);
        ASSERT_TRUE(driver.typeText("", signedIn ? " again" : "carla")) << driver.lastError();
        ASSERT_TRUE(driver.typeText(signedIn ? "Tags" : "Password", signedIn ? "work" : "pa55")) << driver.lastError();
        ns::Ref<ui::TextField> field(dynamic_cast<ui::TextField*>(ui::Responder::currentFirstResponder()));
        ASSERT_TRUE(field);
        ASSERT_TRUE(driver.tapBarButton("Cancel")) << driver.lastError();
        EXPECT_EQ(rec.names, std::vector<std::string>{SHRSendDidCancelNotification});
        EXPECT_FALSE(field->isFirstResponder()) << "the focused field was let go";
        field->pressReturn();
        form->rightPressed(nullptr);
        form->validateForm();
        form->saveForm();
        EXPECT_FALSE(indicator->isShown()) << "no login started";
        EXPECT_EQ(rec.names, std::vector<std::string>{SHRSendDidCancelNotification});
        ns::Weak<SHREvernote> weak(s.get());
        s = nullptr;
        EXPECT_TRUE(weak.expired()) << "no login or note on its way holds the sharer";
        runUntil([] { return false; }, 0.2);  // a login or note on its way would be in by now
        EXPECT_EQ(logins(), 0u);
        EXPECT_TRUE(service.notes->notes.empty());
        EXPECT_EQ(ns::describe(SHR::getAuthValueForKeyForSharer("password", "SHREvernote")), signedIn ? "pa55" : "(null)");
        EXPECT_EQ(rec.names, std::vector<std::string>{SHRSendDidCancelNotification});
        EXPECT_TRUE(alerts().empty()) << ::testing::PrintToString(alerts());
    }
}

// A login the service accepts but the keychain cannot store (a full disk, a
// read-only home) is reported as failed: the "Login Error" alert, no note,
// and the login stored before stays whole.
TEST_F(EvernoteSharerTest, ALoginThatCannotBeSavedIsReportedAndNotUsed) {
    testsupport::FullDisk disk(ns::Paths::join(ns::Paths::libraryDirectory(), "Keychains"));
    for (auto failure : testsupport::FullDisk::kFailures) {
        SCOPED_TRACE(std::string(testsupport::FullDisk::describe(failure)) + " against " + disk.how());
        disk.restore();
        ASSERT_TRUE(SHR::setAuthValuesForSharer({{"username", ns::str("carla")}, {"password", ns::str("old")}},
                                                "SHREvernote"));
        if (!disk.arrange(failure)) continue;
        ui::Panel::resetShown();
        NotificationRecorder rec;
        auto s = ns::make<SHREvernote>();
        s->setItem(SHRItem::text(ns::str("hello")));
        s->setPendingAction(SHRPendingShare);
        s->authorizationFormShow();  // a new sign-in over the stored one
        auto* login = ns::as<SHRFormController>(s->topViewController());
        ASSERT_TRUE(login);
        login->setValueForKey("username", "carla");
        login->setValueForKey("password", "pa55");
        login->validateForm();
        ASSERT_TRUE(waitFor(rec, SHRAuthDidFinishNotification));
        {
            std::lock_guard<std::mutex> g(service.users->m);
            ASSERT_FALSE(service.users->logins.empty());
            EXPECT_EQ(service.users->logins.back(), "carla/pa55/deck-key/deck-secret") << "the service accepted it";
        }
        EXPECT_EQ(rec.names, std::vector<std::string>{std::string(SHRAuthDidFinishNotification) + ":false"});
        EXPECT_EQ(alerts(), std::vector<std::string>{
                                "Login Error|Your login to Evernote could not be saved. Please try again."});
        EXPECT_TRUE(service.notes->calls.empty());
        EXPECT_EQ(s->topViewController(), login) << "no share form after a login that was not kept";
        EXPECT_EQ(ns::describe(SHR::getAuthValueForKeyForSharer("password", "SHREvernote")), "old");
    }
}

TEST_F(EvernoteSharerTest, ImageFileAndTextContent) {
    storeLogin();
    // An image of 320 x 480 with a text: the JPEG resource and its sized tag.
    auto item = SHRItem::image(ui::Image::make("card", {320, 480}), ns::str("Card <1> & 2"));
    item->setText(ns::str("Say \"why\""));
    auto note = sendAndGetNote(item);
    ASSERT_TRUE(note);
    ASSERT_EQ(note->resources()->count(), 1u);
    auto* resource = ns::as<EDAMResource>(note->resources()->objectAtIndex(0));
    ASSERT_TRUE(resource && resource->data() && resource->data()->body());
    const ns::Data& body = *resource->data()->body();
    EXPECT_EQ(ns::describe(resource->mime()), "image/jpeg");
    EXPECT_EQ(resource->data()->size(), static_cast<int32_t>(body.length()));
    EXPECT_EQ(std::string(resource->data()->bodyHash()->view()), sec::md5(body.view()));
    EXPECT_EQ(std::string(resource->recognition()->body()->view()), std::string(body.view()));
    EXPECT_EQ(jpegQualityOf(body.view()), 60);
    ui::Size size;
    ASSERT_TRUE(ui::Image::readImageSize(body.view(), size));
    EXPECT_EQ(size.width, 320);
    std::string tag = "<en-media type=\"image/jpeg\" height=\"480\" width=\"320\" hash=\"" + sec::md5Hex(body.view()) + "\"/>";
    EXPECT_EQ(ns::describe(note->content()),
              kHead + "<h1>Card &lt;1&gt; &amp; 2</h1><p>Say &quot;why&quot;</p><p>" + tag + "</p></en-note>");

    // A file: its own MIME type, a tag without size; no title gives "Untitled".
    auto file = SHRItem::file(ns::Data::make("%PDF-1.4 tiny"), ns::str("a.pdf"), ns::str("application/pdf"), nullptr);
    note = sendAndGetNote(file);
    ASSERT_TRUE(note);
    EXPECT_EQ(ns::describe(note->title()), "Untitled");
    EXPECT_EQ(ns::describe(note->content()), kHead + "<p><en-media type=\"application/pdf\" hash=\"" +
                                           sec::md5Hex("%PDF-1.4 tiny") + "\"/></p></en-note>");
}

TEST_F(EvernoteSharerTest, PreparedNoteKeepsContentAndGetsRemoteImages) {
    storeLogin();
    std::string good = service.url("/img/cat.jpg"), bad = service.url("/img/missing.jpg");
    auto makeRemote = [](const std::string& url) {
        auto r = ns::make<EDAMResource>();
        r->setMime(ns::str("image/jpeg"));
        auto a = ns::make<EDAMResourceAttributes>();
        a->setSourceURL(ns::str(url));
        r->setAttributes(a);
        return r;
    };
    auto note = ns::make<EDAMNote>();
    note->setTitle(ns::str("Prepared"));
    note->setContent(ns::str("<en-note><img src=\"" + good + "\" /><img src=\"" + bad + "\" /></en-note>"));
    note->setResources(ns::Array::make({makeRemote(good), makeRemote(bad)}));
    auto item = ns::make<SHREvernoteItem>();
    item->setShareType(SHRShareTypeText);
    item->setText(ns::str("ignored: the note has content"));
    item->setNote(note);

    auto stored = sendAndGetNote(item);
    ASSERT_TRUE(stored);
    EXPECT_EQ(ns::describe(stored->title()), "Prepared");
    std::string tag = "<en-media type=\"image/jpeg\" height=\"48\" width=\"64\" hash=\"" +
                      sec::md5Hex(service.remoteJPEG) + "\"/>";
    EXPECT_EQ(ns::describe(stored->content()), "<en-note>" + tag + "<img src=\"" + bad + "\" /></en-note>");
    ASSERT_EQ(stored->resources()->count(), 2u);
    auto* fetched = ns::as<EDAMResource>(stored->resources()->objectAtIndex(0));
    ASSERT_TRUE(fetched);
    EXPECT_EQ(std::string(fetched->data()->body()->view()), service.remoteJPEG);
    auto* skipped = ns::as<EDAMResource>(stored->resources()->objectAtIndex(1));
    ASSERT_TRUE(skipped);
    EXPECT_FALSE(skipped->data() && skipped->data()->body());

    // An Evernote item without a prepared note, or whose note has no
    // resources, is sent as a new note of its text.
    for (bool withNote : {false, true}) {
        SCOPED_TRACE(withNote ? "a note without resources" : "no note");
        auto plain = ns::make<SHREvernoteItem>();
        plain->setShareType(SHRShareTypeText);
        plain->setText(ns::str("plain text"));
        if (withNote) {
            auto bare = ns::make<EDAMNote>();
            bare->setTitle(ns::str("Bare"));
            plain->setNote(bare);
        }
        auto sentPlain = sendAndGetNote(plain);
        ASSERT_TRUE(sentPlain);
        EXPECT_NE(ns::describe(sentPlain->content()).find("plain text"), std::string::npos);
        EXPECT_TRUE(!sentPlain->resources() || sentPlain->resources()->count() == 0);
    }

    // A remote picture of 32 MiB is fetched; one byte more is skipped.
    for (size_t size : {size_t(32) << 20, (size_t(32) << 20) + 1}) {
        SCOPED_TRACE(size);
        std::string url = service.url("/img/sized/" + std::to_string(size));
        auto big = ns::make<EDAMNote>();
        big->setTitle(ns::str("Big"));
        big->setContent(ns::str("<en-note/>"));
        big->setResources(ns::Array::make({makeRemote(url)}));
        auto bigItem = ns::make<SHREvernoteItem>();
        bigItem->setShareType(SHRShareTypeText);
        bigItem->setText(ns::str("ignored"));
        bigItem->setNote(big);
        auto sent = sendAndGetNote(bigItem);
        ASSERT_TRUE(sent);
        ASSERT_EQ(sent->resources()->count(), 1u);
        auto* r = ns::as<EDAMResource>(sent->resources()->objectAtIndex(0));
        ASSERT_TRUE(r);
        bool fetched = r->data() && r->data()->body();
        EXPECT_EQ(fetched, size == (size_t(32) << 20));
        if (fetched) EXPECT_EQ(r->data()->body()->length(), size);
    }
}

TEST_F(EvernoteSharerTest, SendFailures) {
    storeLogin();
    auto item = SHRItem::text(ns::str("hello"));
    auto run = [&](SHRSharer* s) {
        NotificationRecorder rec;
        s->setItem(item);
        EXPECT_TRUE(s->send());
        EXPECT_TRUE(waitFor(rec, SHRSendDidFailWithErrorNotification));
        return s->lastError() ? s->lastError()->localizedDescription() : std::string("(none)");
    };
    // Code 6 and an unknown code: the general message, no relogin.
    service.notes->failCode = 6;
    auto s = ns::make<SHREvernote>();
    s->setShareDelegate(nullptr);
    EXPECT_EQ(run(s.get()), "Evernote Error on Note.content: Unknown error from Evernote");
    service.notes->failCode = 7;
    EXPECT_EQ(run(s.get()), "Evernote Error on Note.content: Quota Reached");
    // Code 9 asks for a new login: the default delegate shows the login form.
    service.notes->failCode = 9;
    auto relogin = ns::make<SHREvernote>();
    EXPECT_EQ(run(relogin.get()), "Could not authenticate you. Please relogin.");
    EXPECT_TRUE(ns::as<SHRFormController>(relogin->topViewController()));
    ui::Panel::resetShown();
    // A system exception and a wrong stored password end the send too.
    service.notes->failCode = 0;
    service.notes->systemFailure = true;
    EXPECT_EQ(run(s.get()), "There was a problem sharing with Evernote");
    service.notes->systemFailure = false;
    storeLogin("stale");
    EXPECT_EQ(run(s.get()), "Evernote Error on password: Invalid format");
    // A refused version check: the "EDMA Error" alert, and the send fails.
    storeLogin();
    service.users->refuseVersion = true;
    EXPECT_EQ(run(s.get()), "There was a problem sharing with Evernote");
    ASSERT_FALSE(alerts().empty());
    EXPECT_EQ(alerts()[0], "EDMA Error|EDMA Version is too old.");
    EXPECT_TRUE(service.notes->notes.empty());
}

TEST_F(EvernoteSharerTest, RefusedVersionFailsTheLogin) {
    service.users->refuseVersion = true;
    auto s = SHRSharer::shareItem<SHREvernote>(SHRItem::text(ns::str("x")));
    auto* login = ns::as<SHRFormController>(s->topViewController());
    ASSERT_TRUE(login);
    login->setValueForKey("username", "carla");
    login->setValueForKey("password", "pa55");
    login->validateForm();
    ASSERT_TRUE(runUntil([&] { return alerts().size() == 2; }));
    EXPECT_EQ(alerts()[0], "EDMA Error|EDMA Version is too old.");
    EXPECT_EQ(alerts()[1], "Login Error|Your username and password did not match");
    std::lock_guard<std::mutex> g(service.users->m);
    EXPECT_TRUE(service.users->logins.empty());
}

TEST(EvernoteEnMedia, TagText) {
    auto r = ns::make<EDAMResource>();
    r->setMime(ns::str("image/png"));
    auto bytes = ns::Data::make("abc");
    r->setData(ns::make<EDAMData>(sec::md5Data(*bytes), 3, bytes));
    EXPECT_EQ(SHREvernote::enMediaTagWithResourceWidthHeight(*r, 10.4, 20.6),
              "<en-media type=\"image/png\" height=\"21\" width=\"10\" hash=\"900150983cd24fb0d6963f7d28e17f72\"/>");
    EXPECT_EQ(SHREvernote::enMediaTagWithResourceWidthHeight(*r, 10, 0),
              "<en-media type=\"image/png\" hash=\"900150983cd24fb0d6963f7d28e17f72\"/>");
    EXPECT_TRUE(SHREvernote::shouldReloginForErrorCode(8));
    EXPECT_FALSE(SHREvernote::shouldReloginForErrorCode(6));
}

}  // namespace
}  // namespace sharing::test
