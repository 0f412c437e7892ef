// An independent check of the wire: code that Thrift's own compiler makes
// from tests/interop/EdamCheck.thrift (written from the same field tables)
// reads what our records, client and dispatcher write, and the other way
// round.
#include <gtest/gtest.h>

#include <thrift/protocol/TBinaryProtocol.h>
#include <thrift/transport/TBufferTransports.h>

#include "EdamCheck_types.h"
#include "NoteStore.h"
#include "UserStore.h"
#include "evernote/notestore/EDAMNoteStoreClient.h"
#include "evernote/notestore/EDAMNoteStoreProcessor.h"
#include "evernote/tests/MemoryNoteStore.h"
#include "evernote/tests/TestSupport.h"
#include "testsupport/Checked.h"
#include "evernote/transport/THTTPClient.h"
#include "evernote/types/EDAMAccount.h"
#include "evernote/types/EDAMExceptions.h"
#include "evernote/types/EDAMTypes.h"
#include "evernote/userstore/EDAMUserStoreClient.h"
#include "evernote/userstore/EDAMUserStoreProcessor.h"
#include "platform/foundation/Foundation.h"

namespace evernote {
namespace {

using testsupport::must;
using testsupport::present;

using apache::thrift::protocol::TBinaryProtocol;
using apache::thrift::transport::TMemoryBuffer;

std::shared_ptr<TMemoryBuffer> bufferWith(const std::string& bytes) {
    auto b = std::make_shared<TMemoryBuffer>();
    b->write(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<uint32_t>(bytes.size()));
    return b;
}

// Our bytes -> their record -> their bytes, which must be the same bytes;
// and their bytes read back by our record give an equal record.
template <class Ours, class Theirs>
void checkBothWays(unsigned seeds) {
    for (unsigned seed = 1; seed <= seeds; ++seed) {
        auto ours = ns::make<Ours>();
        test::fillRecord(*ours, seed * 104729u);
        std::string wire = test::encode(*ours);

        Theirs theirs;
        TBinaryProtocol in(bufferWith(wire));
        theirs.read(&in);
        auto out = std::make_shared<TMemoryBuffer>();
        TBinaryProtocol outProtocol(out);
        theirs.write(&outProtocol);
        ASSERT_EQ(test::hex(out->getBufferAsString()), test::hex(wire)) << ours->description();

        auto back = test::decode<Ours>(out->getBufferAsString());
        ASSERT_TRUE(back->isEqual(*ours)) << ours->description() << "\n" << back->description();
    }
}

TEST(EDAMInterop, RecordsReadEachOthersBytes) {
    checkBothWays<EDAMUser, edamcheck::User>(200);
    checkBothWays<EDAMUserAttributes, edamcheck::UserAttributes>(100);
    checkBothWays<EDAMAccounting, edamcheck::Accounting>(100);
    checkBothWays<EDAMPublicUserInfo, edamcheck::PublicUserInfo>(50);
    checkBothWays<EDAMAuthenticationResult, edamcheck::AuthenticationResult>(100);
    checkBothWays<EDAMUserException, edamcheck::EDAMUserException>(20);
    checkBothWays<EDAMSystemException, edamcheck::EDAMSystemException>(20);
    checkBothWays<EDAMNotFoundException, edamcheck::EDAMNotFoundException>(20);
}

TEST(EDAMInterop, TheirFieldsAsWeDecodeThem) {
    edamcheck::User user;
    user.__set_id(5);
    user.__set_shardId("s5");
    user.__set_active(true);
    edamcheck::UserAttributes attributes;
    attributes.__set_viewedPromotions({"one", "two"});
    attributes.__set_defaultLongitude(-122.25);
    user.__set_attributes(attributes);
    auto out = std::make_shared<TMemoryBuffer>();
    TBinaryProtocol p(out);
    user.write(&p);
    auto ours = test::decode<EDAMUser>(out->getBufferAsString());
    EXPECT_EQ(ours->id(), 5);
    EXPECT_EQ(present(ours->shardId())->utf8(), "s5");
    EXPECT_TRUE(ours->active());
    EXPECT_FALSE(ours->usernameIsSet());
    ASSERT_TRUE(ours->attributesIsSet());
    EXPECT_EQ(present(present(ours->attributes())->viewedPromotions())->count(), 2u);
    EXPECT_EQ(present(ours->attributes())->defaultLongitude(), -122.25);
}

// Their service handler, for our client.
class TheirStore : public edamcheck::UserStoreIf {
public:
    bool checkVersion(const std::string& name, int16_t major, int16_t minor) override {
        return name == "deck" && major == 1 && minor == 16;
    }
    void authenticate(edamcheck::AuthenticationResult& r, const std::string& username,
                      const std::string& password, const std::string&, const std::string&) override {
        if (password != "pw") {
            edamcheck::EDAMUserException e;
            e.__set_errorCode(8);
            e.__set_parameter("password");
            throw e;
        }
        r.__set_authenticationToken("token-" + username);
        edamcheck::User u;
        u.__set_shardId("s9");
        r.__set_user(u);
    }
    void refreshAuthentication(edamcheck::AuthenticationResult&, const std::string&) override {
        edamcheck::EDAMSystemException e;
        e.__set_errorCode(4);
        throw e;
    }
    void getUser(edamcheck::User& u, const std::string& token) override { u.__set_username(token); }
    void getPublicUserInfo(edamcheck::PublicUserInfo&, const std::string& username) override {
        edamcheck::EDAMNotFoundException e;
        e.__set_identifier("username");
        e.__set_key(username);
        throw e;
    }
};

// Hands the posted body to a processor instead of the network.
class ProcessorPoster : public HTTPPoster {
public:
    explicit ProcessorPoster(std::shared_ptr<apache::thrift::TProcessor> processor)
        : processor_(std::move(processor)) {}
    HTTPPostReply post(const std::string&, const std::vector<HTTPHeader>&, const ns::Data& body, double,
                       uint64_t) override {
        auto in = bufferWith(std::string(body.view()));
        auto out = std::make_shared<TMemoryBuffer>();
        processor_->process(std::make_shared<TBinaryProtocol>(in), std::make_shared<TBinaryProtocol>(out),
                            nullptr);
        HTTPPostReply reply;
        reply.status = 200;
        reply.body = ns::Data::make(out->getBufferAsString());
        return reply;
    }

private:
    std::shared_ptr<apache::thrift::TProcessor> processor_;
};

TEST(EDAMInterop, OurClientAgainstTheirDispatcher) {
    auto processor = std::make_shared<edamcheck::UserStoreProcessor>(std::make_shared<TheirStore>());
    auto transport = std::make_shared<THTTPClient>("http://unused.invalid/", "", 0,
                                                   std::make_unique<ProcessorPoster>(processor));
    auto client = ns::make<EDAMUserStoreClient>(std::make_shared<BinaryProtocol>(transport));

    EXPECT_TRUE(client->checkVersion(ns::str("deck"), 1, 16));
    EXPECT_FALSE(client->checkVersion(ns::str("deck"), 1, 15));
    auto result = present(client->authenticate(ns::str("carla"), ns::str("pw"), ns::str("k"), ns::str("s")));
    EXPECT_EQ(present(result->authenticationToken())->utf8(), "token-carla");
    EXPECT_EQ(present(present(result->user())->shardId())->utf8(), "s9");
    try {
        client->authenticate(ns::str("carla"), ns::str("no"), ns::str("k"), ns::str("s"));
        FAIL();
    } catch (const EDAMUserException& e) {
        EXPECT_EQ(e.errorCode(), 8);
        EXPECT_EQ(present(e.parameter())->utf8(), "password");
    }
    EXPECT_THROW(client->refreshAuthentication(ns::str("t")), EDAMSystemException);
    EXPECT_EQ(present(client->getUser(ns::str("me"))->username())->utf8(), "me");
    try {
        client->getPublicUserInfo(ns::str("dana"));
        FAIL();
    } catch (const EDAMNotFoundException& e) {
        EXPECT_EQ(present(e.key())->utf8(), "dana");
    }
}

// Our handler behind our dispatcher, for their client.
class OurStore : public EDAMUserStore {
public:
    bool checkVersion(const ns::Ref<ns::String>& name, int16_t major, int16_t minor) override {
        return name && name->utf8() == "theirs" && major == 1 && minor == 16;
    }
    ns::Ref<EDAMAuthenticationResult> authenticate(const ns::Ref<ns::String>& username, const ns::Ref<ns::String>&,
                                                   const ns::Ref<ns::String>&,
                                                   const ns::Ref<ns::String>&) override {
        auto r = ns::make<EDAMAuthenticationResult>();
        r->setAuthenticationToken(username);
        r->setCurrentTime(77);
        return r;
    }
    ns::Ref<EDAMAuthenticationResult> refreshAuthentication(const ns::Ref<ns::String>&) override { return nullptr; }
    ns::Ref<EDAMUser> getUser(const ns::Ref<ns::String>&) override {
        auto u = ns::make<EDAMUser>();
        u->setPrivilege(-1);
        return u;
    }
    ns::Ref<EDAMPublicUserInfo> getPublicUserInfo(const ns::Ref<ns::String>& username) override {
        return ns::make<EDAMPublicUserInfo>(3, ns::str("s3"), 1, username);
    }
};

TEST(EDAMInterop, TheirClientAgainstOurDispatcher) {
    auto processor = ns::make<EDAMUserStoreProcessor>(std::make_shared<OurStore>());
    // Their client writes the versioned header (strict write on); each call
    // is fed to our dispatcher and the reply handed back.
    auto toServer = std::make_shared<TMemoryBuffer>();
    auto toClient = std::make_shared<TMemoryBuffer>();
    auto clientOut = std::make_shared<TBinaryProtocol>(toServer);
    auto clientIn = std::make_shared<TBinaryProtocol>(toClient);
    edamcheck::UserStoreClient client(clientIn, clientOut);
    auto roundTrip = [&] {
        BinaryProtocol serverIn(toServer);
        BinaryProtocol serverOut(toClient);
        processor->processOnInputProtocolOutputProtocol(serverIn, serverOut);
    };

    client.send_checkVersion("theirs", 1, 16);
    roundTrip();
    EXPECT_TRUE(client.recv_checkVersion());

    client.send_authenticate("carla", "p", "k", "s");
    roundTrip();
    edamcheck::AuthenticationResult auth;
    client.recv_authenticate(auth);
    EXPECT_EQ(auth.authenticationToken, "carla");
    EXPECT_EQ(auth.currentTime, 77);
    EXPECT_FALSE(auth.__isset.user);

    client.send_getUser("t");
    roundTrip();
    edamcheck::User user;
    client.recv_getUser(user);
    EXPECT_EQ(user.privilege, -1);

    client.send_getPublicUserInfo("bob");
    roundTrip();
    edamcheck::PublicUserInfo info;
    client.recv_getPublicUserInfo(info);
    EXPECT_EQ(info.shardId, "s3");
    EXPECT_EQ(info.username, "bob");

    // Our dispatcher answers a nil result with an empty struct; their client
    // sees the missing result too.
    client.send_refreshAuthentication("t");
    roundTrip();
    edamcheck::AuthenticationResult none;
    EXPECT_THROW(client.recv_refreshAuthentication(none), apache::thrift::TApplicationException);
}

// ---- The note store ---------------------------------------------------------------

TEST(EDAMInterop, NoteStoreRecordsReadEachOthersBytes) {
    checkBothWays<EDAMNote, edamcheck::Note>(200);
    checkBothWays<EDAMNoteAttributes, edamcheck::NoteAttributes>(50);
    checkBothWays<EDAMResource, edamcheck::Resource>(100);
    checkBothWays<EDAMResourceAttributes, edamcheck::ResourceAttributes>(50);
    checkBothWays<EDAMData, edamcheck::Data>(50);
    checkBothWays<EDAMNotebook, edamcheck::Notebook>(100);
    checkBothWays<EDAMPublishing, edamcheck::Publishing>(50);
}

TEST(EDAMInterop, TheirNoteAsWeDecodeIt) {
    edamcheck::Note note;
    note.__set_title("Card");
    note.__set_contentHash(std::string("\0\x01\xff", 3));
    note.__set_created(1300000123456LL);
    note.__set_tagNames({"deck"});
    edamcheck::Resource resource;
    edamcheck::Data body;
    body.__set_body(std::string("\x89PNG", 4));
    body.__set_size(4);
    resource.__set_data(body);
    resource.__set_width(-2);
    resource.__set_mime("image/png");
    note.__set_resources({resource, resource});
    edamcheck::NoteAttributes attributes;
    attributes.__set_sourceURL("http://x.y/");
    attributes.__set_latitude(-33.5);
    note.__set_attributes(attributes);
    auto out = std::make_shared<TMemoryBuffer>();
    TBinaryProtocol p(out);
    note.write(&p);
    auto ours = test::decode<EDAMNote>(out->getBufferAsString());
    EXPECT_EQ(present(ours->title())->utf8(), "Card");
    EXPECT_EQ(std::string(present(ours->contentHash())->view()), std::string("\0\x01\xff", 3));
    EXPECT_EQ(ours->created(), 1300000123456LL);
    EXPECT_FALSE(ours->guidIsSet());
    ASSERT_EQ(present(ours->resources())->count(), 2u);
    auto* r = must<EDAMResource>(present(ours->resources())->objectAtIndex(1));
    EXPECT_EQ(r->width(), -2);
    EXPECT_EQ(present(r->data())->size(), 4);
    EXPECT_EQ(std::string(present(present(r->data())->body())->view()), std::string("\x89PNG", 4));
    EXPECT_FALSE(present(r->data())->bodyHashIsSet());
    EXPECT_EQ(present(present(ours->attributes())->sourceURL())->utf8(), "http://x.y/");
    EXPECT_EQ(present(ours->attributes())->latitude(), -33.5);
}

class TheirNoteStore : public edamcheck::NoteStoreIf {
public:
    void listNotebooks(std::vector<edamcheck::Notebook>& out, const std::string& token) override {
        if (token != "t") {
            edamcheck::EDAMUserException e;
            e.__set_errorCode(9);
            throw e;
        }
        edamcheck::Notebook a, b;
        a.__set_guid("nb-a");
        a.__set_defaultNotebook(false);
        b.__set_guid("nb-b");
        b.__set_defaultNotebook(true);
        edamcheck::Publishing publishing;
        publishing.__set_order(-7);
        b.__set_publishing(publishing);
        out = {a, b};
    }
    void createNote(edamcheck::Note& out, const std::string&, const edamcheck::Note& note) override {
        if (note.notebookGuid == "nb-gone") {
            edamcheck::EDAMNotFoundException e;
            e.__set_identifier("Note.notebookGuid");
            e.__set_key(note.notebookGuid);
            throw e;
        }
        if (!note.__isset.title) {
            edamcheck::EDAMUserException e;
            e.__set_errorCode(5);
            e.__set_parameter("Note.title");
            throw e;
        }
        out = note;
        out.__set_guid("their-note");
        for (auto& r : out.resources) r.__set_noteGuid("their-note");
    }
    void untagAll(const std::string&, const std::string& guid) override {
        if (guid == "missing") {
            edamcheck::EDAMNotFoundException e;
            e.__set_identifier("Tag.guid");
            throw e;
        }
        untagged = guid;
    }
    std::string untagged;
};

TEST(EDAMInterop, OurNoteStoreClientAgainstTheirDispatcher) {
    auto store = std::make_shared<TheirNoteStore>();
    auto processor = std::make_shared<edamcheck::NoteStoreProcessor>(store);
    auto transport = std::make_shared<THTTPClient>("http://unused.invalid/", "", 0,
                                                   std::make_unique<ProcessorPoster>(processor));
    auto client = ns::make<EDAMNoteStoreClient>(std::make_shared<BinaryProtocol>(transport));

    auto notebooks = present(client->listNotebooks(ns::str("t")));
    ASSERT_EQ(notebooks->count(), 2u);
    auto* b = must<EDAMNotebook>(notebooks->objectAtIndex(1));
    EXPECT_TRUE(b->defaultNotebook());
    EXPECT_EQ(present(b->publishing())->order(), -7);
    EXPECT_THROW(client->listNotebooks(ns::str("old")), EDAMUserException);

    auto note = ns::make<EDAMNote>();
    note->setTitle(ns::str("Card"));
    note->setNotebookGuid(ns::str("nb-b"));
    auto resource = ns::make<EDAMResource>();
    resource->setData(ns::make<EDAMData>(ns::Data::make("h"), 3, ns::Data::make("abc")));
    resource->setAttributes(ns::make<EDAMResourceAttributes>());
    note->setResources(ns::Array::make({resource}));
    auto created = present(client->createNote(ns::str("t"), note));
    EXPECT_EQ(present(created->guid())->utf8(), "their-note");
    auto* attachment = must<EDAMResource>(present(created->resources())->objectAtIndex(0));
    EXPECT_EQ(present(attachment->noteGuid())->utf8(), "their-note");
    EXPECT_EQ(std::string(present(present(attachment->data())->body())->view()), "abc");
    note->setNotebookGuid(ns::str("nb-gone"));
    EXPECT_THROW(client->createNote(ns::str("t"), note), EDAMNotFoundException);
    try {
        client->createNote(ns::str("t"), ns::make<EDAMNote>());
        FAIL();
    } catch (const EDAMUserException& e) {
        EXPECT_EQ(present(e.parameter())->utf8(), "Note.title");
    }

    client->untagAll(ns::str("t"), ns::str("tag-1"));
    EXPECT_EQ(store->untagged, "tag-1");
    EXPECT_THROW(client->untagAll(ns::str("t"), ns::str("missing")), EDAMNotFoundException);
}

TEST(EDAMInterop, TheirNoteStoreClientAgainstOurDispatcher) {
    auto store = std::make_shared<test::MemoryNoteStore>();
    auto processor = ns::make<EDAMNoteStoreProcessor>(store);
    auto toServer = std::make_shared<TMemoryBuffer>();
    auto toClient = std::make_shared<TMemoryBuffer>();
    edamcheck::NoteStoreClient client(std::make_shared<TBinaryProtocol>(toClient),
                                      std::make_shared<TBinaryProtocol>(toServer));
    auto roundTrip = [&] {
        BinaryProtocol serverIn(toServer);
        BinaryProtocol serverOut(toClient);
        processor->processOnInputProtocolOutputProtocol(serverIn, serverOut);
    };

    client.send_listNotebooks(test::MemoryNoteStore::kToken);
    roundTrip();
    std::vector<edamcheck::Notebook> notebooks;
    client.recv_listNotebooks(notebooks);
    ASSERT_EQ(notebooks.size(), 2u);
    EXPECT_EQ(notebooks[1].name, "Inbox");
    EXPECT_TRUE(notebooks[1].defaultNotebook);

    edamcheck::Note note;
    note.__set_title("From their client");
    note.__set_notebookGuid(notebooks[0].guid);
    edamcheck::Resource resource;
    edamcheck::Data body;
    body.__set_bodyHash("0123456789abcdef");
    body.__set_body("bytes");
    resource.__set_data(body);
    note.__set_resources({resource});
    client.send_createNote(test::MemoryNoteStore::kToken, note);
    roundTrip();
    edamcheck::Note created;
    client.recv_createNote(created);
    EXPECT_FALSE(created.guid.empty());
    EXPECT_EQ(created.notebookGuid, notebooks[0].guid);
    ASSERT_EQ(created.resources.size(), 1u);
    EXPECT_EQ(created.resources[0].noteGuid, created.guid);
    EXPECT_EQ(created.resources[0].data.bodyHash, "0123456789abcdef");
    ASSERT_EQ(store->notes.size(), 1u);
    EXPECT_EQ(std::string(store->notes[0]->resources()->objectAtIndexAs<EDAMResource>(0)->data()->body()->view()),
              "bytes");

    // A void method: our dispatcher's empty result struct is a normal return for them.
    store->tags.push_back(ns::make<EDAMTag>(ns::str("tag-x"), ns::str("x"), nullptr, 1));
    client.send_untagAll(test::MemoryNoteStore::kToken, "tag-x");
    roundTrip();
    EXPECT_NO_THROW(client.recv_untagAll());
    EXPECT_EQ(store->calls.back(), "untagAll");
}

}  // namespace
}  // namespace evernote
