// The note store end to end: our client over the HTTP transport, a loopback
// HTTP server that the test starts, our dispatcher and the in-memory note
// store behind it. Canned replies cover what a service may send but our
// dispatcher never writes (several exception fields, undeclared ids, type-3
// replies); the client's calls and the dispatcher's replies are also checked
// byte for byte on memory buffers.
#include <gtest/gtest.h>

#include <functional>
#include <mutex>

#include <thrift/TApplicationException.h>

#include "evernote/notestore/EDAMNoteStoreClient.h"
#include "evernote/notestore/EDAMNoteStoreProcessor.h"
#include "evernote/notestore/EDAMNoteStoreTypes.h"
#include "testsupport/LoopbackServer.h"
#include "evernote/tests/MemoryNoteStore.h"
#include "evernote/tests/TestSupport.h"
#include "testsupport/Checked.h"
#include "evernote/transport/THTTPClient.h"
#include "evernote/types/EDAMExceptions.h"
#include "evernote/types/EDAMTypes.h"
#include "evernote/types/Wire.h"
#include "platform/foundation/Foundation.h"

namespace evernote {
namespace {

using apache::thrift::TApplicationException;
using namespace apache::thrift::protocol;
using test::bytes;
using testsupport::must;
using testsupport::present;
using testsupport::Request;
using testsupport::Server;
using test::MemoryNoteStore;
using Client = EDAMNoteStoreClient;

ns::Ref<ns::String> token() { return ns::str(MemoryNoteStore::kToken); }
ns::Ref<ns::Data> data(const std::string& s) { return ns::Data::make(s); }
std::string str(const ns::Ref<ns::String>& s) { return s ? std::string(s->utf8()) : "(nil)"; }

std::string messageHeader(const std::string& name, TMessageType type, int32_t seqid = 0) {
    test::Wire w;
    w.protocol->writeMessageBegin(name, type, seqid);
    return w.contents();
}

std::string sized(const std::string& s) {
    test::Wire w;
    w.protocol->writeString(s);
    return w.contents();
}

// The declared exceptions of every method, by id: u user, s system, n not found.
struct MethodCase {
    const char* name;
    const char* exceptions;
    bool isVoid;
    std::function<void(Client&)> callWithNothing;  // nil objects, zero numbers
};

const std::vector<MethodCase>& allMethods() {
    static const std::vector<MethodCase> methods = {
        {"getSyncState", "us", false, [](Client& c) { c.getSyncState(nullptr); }},
        {"getSyncChunk", "us", false, [](Client& c) { c.getSyncChunk(nullptr, 0, 0, false); }},
        {"listNotebooks", "us", false, [](Client& c) { c.listNotebooks(nullptr); }},
        {"getNotebook", "usn", false, [](Client& c) { c.getNotebook(nullptr, nullptr); }},
        {"getDefaultNotebook", "us", false, [](Client& c) { c.getDefaultNotebook(nullptr); }},
        {"createNotebook", "us", false, [](Client& c) { c.createNotebook(nullptr, nullptr); }},
        {"updateNotebook", "usn", false, [](Client& c) { c.updateNotebook(nullptr, nullptr); }},
        {"expungeNotebook", "usn", false, [](Client& c) { c.expungeNotebook(nullptr, nullptr); }},
        {"listTags", "us", false, [](Client& c) { c.listTags(nullptr); }},
        {"listTagsByNotebook", "usn", false, [](Client& c) { c.listTagsByNotebook(nullptr, nullptr); }},
        {"getTag", "usn", false, [](Client& c) { c.getTag(nullptr, nullptr); }},
        {"createTag", "usn", false, [](Client& c) { c.createTag(nullptr, nullptr); }},
        {"updateTag", "usn", false, [](Client& c) { c.updateTag(nullptr, nullptr); }},
        {"untagAll", "usn", true, [](Client& c) { c.untagAll(nullptr, nullptr); }},
        {"expungeTag", "usn", false, [](Client& c) { c.expungeTag(nullptr, nullptr); }},
        {"listSearches", "us", false, [](Client& c) { c.listSearches(nullptr); }},
        {"getSearch", "usn", false, [](Client& c) { c.getSearch(nullptr, nullptr); }},
        {"createSearch", "us", false, [](Client& c) { c.createSearch(nullptr, nullptr); }},
        {"updateSearch", "usn", false, [](Client& c) { c.updateSearch(nullptr, nullptr); }},
        {"expungeSearch", "usn", false, [](Client& c) { c.expungeSearch(nullptr, nullptr); }},
        {"findNotes", "usn", false, [](Client& c) { c.findNotes(nullptr, nullptr, 0, 0); }},
        {"findNoteCounts", "usn", false, [](Client& c) { c.findNoteCounts(nullptr, nullptr, false); }},
        {"getNote", "usn", false, [](Client& c) { c.getNote(nullptr, nullptr, false, false, false, false); }},
        {"getNoteContent", "usn", false, [](Client& c) { c.getNoteContent(nullptr, nullptr); }},
        {"getNoteSearchText", "usn", false, [](Client& c) { c.getNoteSearchText(nullptr, nullptr); }},
        {"getNoteTagNames", "usn", false, [](Client& c) { c.getNoteTagNames(nullptr, nullptr); }},
        {"createNote", "usn", false, [](Client& c) { c.createNote(nullptr, nullptr); }},
        {"updateNote", "usn", false, [](Client& c) { c.updateNote(nullptr, nullptr); }},
        {"deleteNote", "usn", false, [](Client& c) { c.deleteNote(nullptr, nullptr); }},
        {"expungeNote", "usn", false, [](Client& c) { c.expungeNote(nullptr, nullptr); }},
        {"expungeNotes", "usn", false, [](Client& c) { c.expungeNotes(nullptr, nullptr); }},
        {"expungeInactiveNotes", "us", false, [](Client& c) { c.expungeInactiveNotes(nullptr); }},
        {"copyNote", "usn", false, [](Client& c) { c.copyNote(nullptr, nullptr, nullptr); }},
        {"listNoteVersions", "usn", false, [](Client& c) { c.listNoteVersions(nullptr, nullptr); }},
        {"getNoteVersion", "usn", false, [](Client& c) { c.getNoteVersion(nullptr, nullptr, 0, false, false, false); }},
        {"getResource", "usn", false, [](Client& c) { c.getResource(nullptr, nullptr, false, false, false, false); }},
        {"updateResource", "usn", false, [](Client& c) { c.updateResource(nullptr, nullptr); }},
        {"getResourceData", "usn", false, [](Client& c) { c.getResourceData(nullptr, nullptr); }},
        {"getResourceByHash", "usn", false,
         [](Client& c) { c.getResourceByHash(nullptr, nullptr, nullptr, false, false, false); }},
        {"getResourceRecognition", "usn", false, [](Client& c) { c.getResourceRecognition(nullptr, nullptr); }},
        {"getResourceAlternateData", "usn", false, [](Client& c) { c.getResourceAlternateData(nullptr, nullptr); }},
        {"getResourceAttributes", "usn", false, [](Client& c) { c.getResourceAttributes(nullptr, nullptr); }},
        {"getAccountSize", "us", false, [](Client& c) { c.getAccountSize(nullptr); }},
        {"getAds", "us", false, [](Client& c) { c.getAds(nullptr, nullptr); }},
        {"getRandomAd", "us", false, [](Client& c) { c.getRandomAd(nullptr, nullptr); }},
        {"getPublicNotebook", "sn", false, [](Client& c) { c.getPublicNotebook(0, nullptr); }},
        {"createSharedNotebook", "uns", false, [](Client& c) { c.createSharedNotebook(nullptr, nullptr); }},
        {"listSharedNotebooks", "uns", false, [](Client& c) { c.listSharedNotebooks(nullptr); }},
        {"expungeSharedNotebooks", "uns", false, [](Client& c) { c.expungeSharedNotebooks(nullptr, nullptr); }},
        {"createLinkedNotebook", "uns", false, [](Client& c) { c.createLinkedNotebook(nullptr, nullptr); }},
        {"updateLinkedNotebook", "uns", false, [](Client& c) { c.updateLinkedNotebook(nullptr, nullptr); }},
        {"listLinkedNotebooks", "uns", false, [](Client& c) { c.listLinkedNotebooks(nullptr); }},
        {"expungeLinkedNotebook", "uns", false, [](Client& c) { c.expungeLinkedNotebook(nullptr, 0); }},
        {"authenticateToSharedNotebook", "uns", false,
         [](Client& c) { c.authenticateToSharedNotebook(nullptr, nullptr); }},
        {"getSharedNotebookByAuth", "uns", false, [](Client& c) { c.getSharedNotebookByAuth(nullptr); }},
        {"emailNote", "uns", true, [](Client& c) { c.emailNote(nullptr, nullptr); }},
    };
    return methods;
}

const MethodCase& method(const std::string& name) {
    for (const auto& m : allMethods())
        if (name == m.name) return m;
    throw std::logic_error("no method " + name);
}

char kindOf(const ns::Exception& e) {
    if (dynamic_cast<const EDAMUserException*>(&e)) return 'u';
    if (dynamic_cast<const EDAMSystemException*>(&e)) return 's';
    if (dynamic_cast<const EDAMNotFoundException*>(&e)) return 'n';
    return '?';
}

// The host around the dispatcher: one message per HTTP request. A service
// exception that the handler raises and the method declares reaches the peer
// in the result struct at the exception's id (the dispatcher itself never
// does that); anything else becomes a type-3 reply.
class NoteStoreHost {
public:
    explicit NoteStoreHost(std::shared_ptr<EDAMNoteStore> handler)
        : processor_(ns::make<EDAMNoteStoreProcessor>(std::move(handler))) {}

    std::string serve(const std::string& call) {
        test::Wire out;
        try {
            processor_->processOnInputProtocolOutputProtocol(*test::reading(call), *out.protocol);
            return out.contents();
        } catch (const ns::Exception& e) {
            auto header = test::callHeader(call);
            auto at = std::string(method(header.name).exceptions).find(kindOf(e));
            if (at != std::string::npos)
                return test::exceptionReply(header, static_cast<int16_t>(at + 1), dynamic_cast<const Record&>(e));
            test::Wire reply;
            reply.protocol->writeMessageBegin(header.name, T_EXCEPTION, header.seqid);
            std::string message = "unexpected " + std::string(e.name());
            wire::writeApplicationException(*reply.protocol, TApplicationException::INTERNAL_ERROR, &message);
            reply.protocol->writeMessageEnd();
            return reply.contents();
        }
    }

private:
    ns::Ref<EDAMNoteStoreProcessor> processor_;
};

struct Service {
    std::shared_ptr<MemoryNoteStore> store = std::make_shared<MemoryNoteStore>();
    NoteStoreHost host{store};
    Server server{[this](const Request& r) -> std::optional<std::string> {
        return Server::reply(200, host.serve(r.body));
    }};
    ns::Ref<Client> client = ns::make<Client>(
        std::make_shared<BinaryProtocol>(std::make_shared<THTTPClient>(server.url("/shard/s1/notestore"))));
};

ns::Ref<EDAMResource> image(const std::string& body, const char* mime, const char* hash) {
    auto resource = ns::make<EDAMResource>();
    resource->setData(ns::make<EDAMData>(data(hash), static_cast<int32_t>(body.size()), data(body)));
    resource->setMime(ns::str(mime));
    auto attributes = ns::make<EDAMResourceAttributes>();
    attributes->setFileName(ns::str("card.png"));
    resource->setAttributes(attributes);
    return resource;
}

// A note as the Evernote sharer fills it.
ns::Ref<EDAMNote> sharedNote(const ns::Ref<ns::String>& notebookGuid) {
    auto note = ns::make<EDAMNote>();
    note->setTitle(ns::str("Card 12"));
    note->setContent(ns::str("<?xml version=\"1.0\"?><en-note>Front<br/>Back</en-note>"));
    note->setCreated(1300000123456LL);
    note->setNotebookGuid(notebookGuid);
    note->setTagNames(ns::Array::make({ns::str("deck"), ns::str("cards")}));
    auto attributes = ns::make<EDAMNoteAttributes>();
    attributes->setSourceURL(ns::str("http://cards.example/12"));
    note->setAttributes(attributes);
    note->setResources(ns::Array::make({image(std::string("\x89PNG\r\n\x1a\n\0\0", 10), "image/png", "hash-one-16bytes"),
                                        image("\xff\xd8\xff\xe0 jpeg", "image/jpeg", "hash-two-16bytes")}));
    return note;
}

template <class E, class F>
E expectThrow(F&& call) {
    try {
        call();
    } catch (const E& e) {
        return E(e);
    }
    ADD_FAILURE() << "expected " << typeid(E).name();
    return E();
}

TEST(EDAMNoteStoreLoopback, TheSharersRoad) {
    Service service;
    auto& client = *service.client;

    // The first notebook whose defaultNotebook flag is set.
    auto notebooks = present(client.listNotebooks(token()));
    ASSERT_EQ(notebooks->count(), 2u);
    ns::Ref<EDAMNotebook> defaultNotebook;
    for (ns::Object* o : *notebooks) {
        auto* n = dynamic_cast<EDAMNotebook*>(o);
        if (n && n->defaultNotebook()) {
            defaultNotebook = ns::Ref<EDAMNotebook>(n);
            break;
        }
    }
    ASSERT_TRUE(defaultNotebook);
    EXPECT_EQ(str(defaultNotebook->name()), "Inbox");

    // A note that cannot be written (a tag that is not text) fails before
    // anything is sent, and leaves nothing behind for the next call.
    auto broken = sharedNote(defaultNotebook->guid());
    broken->setTagNames(ns::Array::make({ns::str("deck"), ns::num(7)}));
    EXPECT_THROW(client.createNote(token(), broken), apache::thrift::protocol::TProtocolException);

    auto note = sharedNote(defaultNotebook->guid());
    auto created = present(client.createNote(token(), note));
    ASSERT_TRUE(created->guidIsSet());
    EXPECT_EQ(str(created->notebookGuid()), str(defaultNotebook->guid()));
    EXPECT_EQ(created->created(), 1300000123456LL);
    EXPECT_EQ(present(created->tagGuids())->count(), 2u);
    ASSERT_EQ(present(created->resources())->count(), 2u);
    auto* first = must<EDAMResource>(present(created->resources())->objectAtIndex(0));
    EXPECT_EQ(str(first->noteGuid()), str(created->guid()));
    EXPECT_EQ(std::string(present(present(first->data())->bodyHash())->view()), "hash-one-16bytes");
    EXPECT_FALSE(present(first->data())->bodyIsSet());  // bodies are not sent back

    // The service holds every byte of both images and the two new tags.
    ASSERT_EQ(service.store->notes.size(), 1u);
    auto& stored = service.store->notes[0];
    auto* image = must<EDAMResource>(present(stored->resources())->objectAtIndex(0));
    EXPECT_EQ(std::string(present(present(image->data())->body())->view()), std::string("\x89PNG\r\n\x1a\n\0\0", 10));
    EXPECT_EQ(str(present(stored->attributes())->sourceURL()), "http://cards.example/12");
    EXPECT_EQ(service.store->tags.size(), 2u);

    // Each call was one POST of a call message with sequence id 0; the
    // createNote body equals the argument record written by itself.
    auto requests = service.server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].target, "/shard/s1/notestore");
    EXPECT_EQ(requests[0].header("Content-Type"), "application/x-thrift");
    EXPECT_EQ(requests[0].body, messageHeader("listNotebooks", T_CALL) + bytes("0b 0001") + sized(MemoryNoteStore::kToken) +
                                    bytes("00"));
    EXPECT_EQ(requests[1].body, messageHeader("createNote", T_CALL) + test::encode(EDAMcreateNote_args(token(), note)));
    EXPECT_EQ(requests[1].body.substr(0, 19), bytes("0000000a 'createNote' 01 00000000"));
}

TEST(EDAMNoteStoreLoopback, SyncStateAndChunks) {
    Service service;
    auto& client = *service.client;
    auto state = present(client.getSyncState(token()));
    EXPECT_EQ(state->updateCount(), 2);
    EXPECT_EQ(state->uploaded(), 0);

    auto tag = present(client.createTag(token(), ns::make<EDAMTag>(nullptr, ns::str("deck"), nullptr, 0)));
    client.createSearch(token(), ns::make<EDAMSavedSearch>(nullptr, ns::str("decks"), ns::str("tag:deck"), 1, 0));
    auto note = present(client.createNote(token(), ns::make<EDAMNote>(nullptr, ns::str("n"), ns::str("<en-note/>"), nullptr,
                                                                      0, 0, 0, 0, true, 0, nullptr, nullptr, nullptr,
                                                                      nullptr, nullptr)));

    auto chunk = present(client.getSyncChunk(token(), 0, 100, false));
    EXPECT_EQ(chunk->updateCount(), 5);
    EXPECT_EQ(chunk->chunkHighUSN(), 5);
    EXPECT_EQ(present(chunk->notebooks())->count(), 2u);
    EXPECT_EQ(present(chunk->tags())->count(), 1u);
    EXPECT_EQ(present(chunk->searches())->count(), 1u);
    EXPECT_EQ(present(chunk->notes())->count(), 1u);
    EXPECT_FALSE(chunk->resourcesIsSet());
    EXPECT_FALSE(chunk->expungedNotesIsSet());

    // Only what changed after the given number, at most maxEntries of it.
    auto later = present(client.getSyncChunk(token(), 3, 1, false));
    EXPECT_EQ(later->chunkHighUSN(), 4);
    EXPECT_FALSE(later->notebooksIsSet());
    EXPECT_EQ(present(later->searches())->count(), 1u);

    client.expungeNote(token(), note->guid());
    auto expunged = present(client.getSyncChunk(token(), 5, 10, false));
    ASSERT_TRUE(expunged->expungedNotesIsSet());
    EXPECT_EQ(present(expunged->expungedNotes())->objectAtIndex(0)->description(), str(note->guid()));
    EXPECT_FALSE(client.getSyncChunk(token(), 5, 10, true)->expungedNotesIsSet());
    EXPECT_EQ(expectThrow<EDAMUserException>([&] { client.getSyncChunk(token(), 0, 0, false); }).errorCode(), 2);
    EXPECT_EQ(str(tag->name()), "deck");
}

TEST(EDAMNoteStoreLoopback, Notebooks) {
    Service service;
    auto& client = *service.client;
    auto inbox = present(client.getDefaultNotebook(token()));
    EXPECT_EQ(str(inbox->name()), "Inbox");
    EXPECT_TRUE(client.getNotebook(token(), inbox->guid())->isEqual(*inbox));
    auto missing = expectThrow<EDAMNotFoundException>([&] { client.getNotebook(token(), ns::str("nb-99")); });
    EXPECT_EQ(str(missing.identifier()), "Notebook.guid");
    EXPECT_EQ(str(missing.key()), "nb-99");

    auto made = ns::make<EDAMNotebook>();
    made->setName(ns::str("Travel"));
    made->setDefaultNotebook(true);
    made->setPublishing(ns::make<EDAMPublishing>(ns::str("travel"), 1, true, ns::str("Where I went")));
    auto travel = present(client.createNotebook(token(), made));
    EXPECT_EQ(str(travel->guid()), "nb-3");
    EXPECT_EQ(travel->updateSequenceNum(), 3);
    EXPECT_EQ(str(present(travel->publishing())->publicDescription()), "Where I went");
    EXPECT_EQ(str(client.getDefaultNotebook(token())->guid()), "nb-3");
    EXPECT_EQ(expectThrow<EDAMUserException>([&] { client.createNotebook(token(), made); }).errorCode(), 10);
    EXPECT_EQ(str(expectThrow<EDAMUserException>([&] { client.createNotebook(token(), nullptr); }).parameter()),
              "Notebook");

    travel->setName(ns::str("Trips"));
    travel->setPublished(true);
    EXPECT_EQ(client.updateNotebook(token(), travel), 4);
    EXPECT_EQ(str(client.getNotebook(token(), travel->guid())->name()), "Trips");
    EXPECT_THROW(client.updateNotebook(token(), ns::make<EDAMNotebook>()), EDAMNotFoundException);

    // The public notebook is found by its owner's id and its URI, without a token.
    EXPECT_EQ(str(client.getPublicNotebook(1, ns::str("travel"))->name()), "Trips");
    EXPECT_EQ(str(expectThrow<EDAMNotFoundException>([&] { client.getPublicNotebook(2, ns::str("travel")); })
                      .identifier()),
              "User.id");

    EXPECT_EQ(expectThrow<EDAMUserException>([&] { client.expungeNotebook(token(), travel->guid()); }).errorCode(), 3);
    EXPECT_EQ(client.expungeNotebook(token(), inbox->guid()), 5);
    EXPECT_EQ(client.listNotebooks(token())->count(), 2u);
}

TEST(EDAMNoteStoreLoopback, TagsAndTheVoidUntagAll) {
    Service service;
    auto& client = *service.client;
    auto parent = present(client.createTag(token(), ns::make<EDAMTag>(nullptr, ns::str("deck"), nullptr, 0)));
    auto child = present(client.createTag(token(), ns::make<EDAMTag>(nullptr, ns::str("french"), parent->guid(), 0)));
    EXPECT_EQ(str(child->parentGuid()), str(parent->guid()));
    EXPECT_EQ(str(expectThrow<EDAMNotFoundException>([&] {
                      client.createTag(token(), ns::make<EDAMTag>(nullptr, ns::str("x"), ns::str("tag-99"), 0));
                  }).identifier()),
              "Tag.parentGuid");
    EXPECT_EQ(client.listTags(token())->count(), 2u);

    auto inbox = present(client.getDefaultNotebook(token()));
    auto note = ns::make<EDAMNote>();
    note->setTitle(ns::str("bonjour"));
    note->setTagGuids(ns::Array::make({child->guid()}));
    note = client.createNote(token(), note);
    auto byNotebook = present(client.listTagsByNotebook(token(), inbox->guid()));
    ASSERT_EQ(byNotebook->count(), 1u);
    EXPECT_EQ(str(must<EDAMTag>(byNotebook->objectAtIndex(0))->name()), "french");
    EXPECT_THROW(client.listTagsByNotebook(token(), ns::str("nb-99")), EDAMNotFoundException);

    child->setName(ns::str("francais"));
    int32_t usn = client.updateTag(token(), child);
    EXPECT_EQ(client.getTag(token(), child->guid())->updateSequenceNum(), usn);
    EXPECT_EQ(client.getNoteTagNames(token(), note->guid())->objectAtIndex(0)->description(), "francais");

    client.untagAll(token(), child->guid());  // void: returns normally
    EXPECT_EQ(client.getNoteTagNames(token(), note->guid())->count(), 0u);
    EXPECT_THROW(client.untagAll(token(), ns::str("tag-99")), EDAMNotFoundException);
    EXPECT_THROW(client.untagAll(ns::str("stale"), child->guid()), EDAMUserException);

    EXPECT_GT(client.expungeTag(token(), child->guid()), usn);
    EXPECT_THROW(client.getTag(token(), child->guid()), EDAMNotFoundException);
}

TEST(EDAMNoteStoreLoopback, SavedSearches) {
    Service service;
    auto& client = *service.client;
    auto search = present(client.createSearch(
        token(), ns::make<EDAMSavedSearch>(nullptr, ns::str("French"), ns::str("tag:french"), -1, 0)));
    EXPECT_EQ(search->format(), -1);
    EXPECT_EQ(client.listSearches(token())->count(), 1u);
    search->setQuery(ns::str("tag:francais"));
    EXPECT_EQ(client.updateSearch(token(), search), 4);
    EXPECT_EQ(str(client.getSearch(token(), search->guid())->query()), "tag:francais");
    EXPECT_EQ(str(expectThrow<EDAMUserException>([&] { client.createSearch(token(), ns::make<EDAMSavedSearch>()); })
                      .parameter()),
              "SavedSearch.query");
    EXPECT_EQ(client.expungeSearch(token(), search->guid()), 5);
    EXPECT_THROW(client.getSearch(token(), search->guid()), EDAMNotFoundException);
    EXPECT_EQ(client.listSearches(token())->count(), 0u);
}

TEST(EDAMNoteStoreLoopback, NotesFoundCountedReadUpdatedAndDeleted) {
    Service service;
    auto& client = *service.client;
    auto inbox = present(client.getDefaultNotebook(token()));
    auto card = present(client.createNote(token(), sharedNote(inbox->guid())));
    for (const char* title : {"Grocery list", "Card 13", "Card 14"}) {
        auto n = ns::make<EDAMNote>();
        n->setTitle(ns::str(title));
        n->setContent(ns::str("<en-note>plain</en-note>"));
        client.createNote(token(), n);
    }

    auto filter = ns::make<EDAMNoteFilter>();
    filter->setWords(ns::str("Card"));
    auto page = present(client.findNotes(token(), filter, 1, 1));
    EXPECT_EQ(page->totalNotes(), 3);
    EXPECT_EQ(page->startIndex(), 1);
    ASSERT_EQ(present(page->notes())->count(), 1u);
    EXPECT_EQ(str(must<EDAMNote>(present(page->notes())->objectAtIndex(0))->title()), "Card 13");
    EXPECT_EQ(present(page->searchedWords())->objectAtIndex(0)->description(), "Card");
    EXPECT_EQ(present(client.findNotes(token(), nullptr, 0, 10)->notes())->count(), 4u);
    // A handler with nothing to return: the empty result, the client's missing result.
    try {
        client.findNotes(token(), nullptr, 0, 0);
        FAIL();
    } catch (const TApplicationException& e) {
        EXPECT_EQ(e.getType(), TApplicationException::MISSING_RESULT);
        EXPECT_STREQ(e.what(), "findNotes failed: unknown result");
    }
    filter->setNotebookGuid(ns::str("nb-99"));
    EXPECT_THROW(client.findNotes(token(), filter, 0, 10), EDAMNotFoundException);

    auto full = present(client.getNote(token(), card->guid(), true, true, false, false));
    EXPECT_EQ(str(full->content()), "<?xml version=\"1.0\"?><en-note>Front<br/>Back</en-note>");
    auto* second = must<EDAMResource>(present(full->resources())->objectAtIndex(1));
    EXPECT_EQ(present(present(second->data())->body())->length(), 9u);
    auto bare = present(client.getNote(token(), card->guid(), false, false, false, false));
    EXPECT_FALSE(bare->contentIsSet());
    EXPECT_FALSE(present(must<EDAMResource>(present(bare->resources())->objectAtIndex(1))->data())->bodyIsSet());
    EXPECT_EQ(bare->contentLength(), full->contentLength());
    EXPECT_EQ(str(client.getNoteContent(token(), card->guid())), str(full->content()));
    EXPECT_EQ(str(client.getNoteSearchText(token(), card->guid())), "Card 12 Front Back");
    auto names = present(client.getNoteTagNames(token(), card->guid()));
    EXPECT_EQ(names->count(), 2u);

    card->setTitle(ns::str("Card 12, revised"));
    card->setResources(nullptr);
    card->unsetResources();
    auto updated = present(client.updateNote(token(), card));
    EXPECT_EQ(str(updated->title()), "Card 12, revised");
    EXPECT_EQ(present(updated->resources())->count(), 2u);
    EXPECT_GT(updated->updateSequenceNum(), card->updateSequenceNum());

    int32_t usn = client.deleteNote(token(), updated->guid());
    EXPECT_EQ(usn, client.getSyncState(token())->updateCount());
    EXPECT_FALSE(client.getNote(token(), updated->guid(), false, false, false, false)->active());
    auto counts = present(client.findNoteCounts(token(), nullptr, true));
    EXPECT_EQ(counts->trashCount(), 1);
    EXPECT_EQ(present(counts->notebookCounts())->numberForKey(str(inbox->guid()))->intValue(), 3);
    EXPECT_FALSE(client.findNoteCounts(token(), nullptr, false)->trashCountIsSet());
    auto trash = ns::make<EDAMNoteFilter>();
    trash->setInactive(true);
    EXPECT_EQ(client.findNotes(token(), trash, 0, 10)->totalNotes(), 1);
}

TEST(EDAMNoteStoreLoopback, RemovalCopiesVersionsAndResources) {
    Service service;
    auto& client = *service.client;
    auto notebooks = present(client.listNotebooks(token()));
    ns::Ref<EDAMNotebook> recipes(notebooks->objectAtIndexAs<EDAMNotebook>(0));
    auto note = present(client.createNote(token(), sharedNote(nullptr)));
    auto resourceGuid = must<EDAMResource>(present(note->resources())->objectAtIndex(0))->guid();

    auto copy = present(client.copyNote(token(), note->guid(), recipes->guid()));
    EXPECT_NE(str(copy->guid()), str(note->guid()));
    EXPECT_EQ(str(copy->notebookGuid()), str(recipes->guid()));
    EXPECT_NE(str(must<EDAMResource>(present(copy->resources())->objectAtIndex(0))->guid()), str(resourceGuid));
    EXPECT_THROW(client.copyNote(token(), note->guid(), ns::str("nb-99")), EDAMNotFoundException);

    EXPECT_EQ(client.listNoteVersions(token(), note->guid())->count(), 0u);
    int32_t firstUSN = note->updateSequenceNum();
    note->setTitle(ns::str("second"));
    note->unsetResources();
    client.updateNote(token(), note);
    auto versions = present(client.listNoteVersions(token(), note->guid()));
    ASSERT_EQ(versions->count(), 1u);
    auto* version = must<EDAMNoteVersionId>(versions->objectAtIndex(0));
    EXPECT_EQ(version->updateSequenceNum(), firstUSN);
    EXPECT_EQ(str(version->title()), "Card 12");
    auto old = present(client.getNoteVersion(token(), note->guid(), firstUSN, true, false, false));
    EXPECT_EQ(str(old->title()), "Card 12");
    EXPECT_TRUE(present(must<EDAMResource>(present(old->resources())->objectAtIndex(0))->data())->bodyIsSet());
    EXPECT_THROW(client.getNoteVersion(token(), note->guid(), 999, false, false, false), EDAMNotFoundException);

    auto resource = present(client.getResource(token(), resourceGuid, false, false, true, false));
    EXPECT_FALSE(present(resource->data())->bodyIsSet());
    EXPECT_EQ(str(present(resource->attributes())->fileName()), "card.png");
    EXPECT_FALSE(client.getResource(token(), resourceGuid, true, false, false, false)->attributesIsSet());
    resource->setMime(ns::str("image/gif"));
    EXPECT_GT(client.updateResource(token(), resource), firstUSN);
    EXPECT_EQ(str(client.getResource(token(), resourceGuid, false, false, false, false)->mime()), "image/gif");
    EXPECT_EQ(client.getResourceData(token(), resourceGuid)->length(), 10u);
    auto byHash =
        present(client.getResourceByHash(token(), note->guid(), data("hash-two-16bytes"), true, false, false));
    EXPECT_EQ(str(byHash->mime()), "image/jpeg");
    EXPECT_EQ(std::string(present(present(byHash->data())->body())->view()), "\xff\xd8\xff\xe0 jpeg");
    EXPECT_EQ(str(expectThrow<EDAMNotFoundException>([&] {
                      client.getResourceByHash(token(), note->guid(), nullptr, false, false, false);
                  }).identifier()),
              "Resource.bodyHash");
    EXPECT_THROW(client.getResourceRecognition(token(), resourceGuid), EDAMNotFoundException);
    try {
        client.getResourceAlternateData(token(), resourceGuid);
        FAIL();
    } catch (const TApplicationException& e) {
        EXPECT_STREQ(e.what(), "getResourceAlternateData failed: unknown result");
    }
    EXPECT_EQ(str(client.getResourceAttributes(token(), resourceGuid)->fileName()), "card.png");

    // Two notes with 10 + 9 image bytes and their content.
    int64_t contentBytes = static_cast<int64_t>(str(service.store->notes[0]->content()).size());
    EXPECT_EQ(client.getAccountSize(token()), 2 * (19 + contentBytes));

    int32_t usn = client.expungeNotes(token(), ns::Array::make());
    EXPECT_EQ(usn, client.getSyncState(token())->updateCount());
    EXPECT_THROW(client.expungeNotes(token(), ns::Array::make({copy->guid(), ns::str("note-99")})),
                 EDAMNotFoundException);
    EXPECT_EQ(service.store->notes.size(), 2u);  // nothing expunged by a failed call
    client.deleteNote(token(), copy->guid());
    client.expungeInactiveNotes(token());
    EXPECT_EQ(service.store->notes.size(), 1u);
    client.expungeNote(token(), note->guid());
    EXPECT_THROW(client.getNote(token(), note->guid(), false, false, false, false), EDAMNotFoundException);
    EXPECT_EQ(client.getAccountSize(token()), 0);
}

TEST(EDAMNoteStoreLoopback, AdsSharedAndLinkedNotebooksAndEmail) {
    Service service;
    auto& client = *service.client;

    auto parameters = ns::make<EDAMAdParameters>();
    parameters->setClientLanguage(ns::str("de"));
    parameters->setSupportHtml(true);
    parameters->setImpressions(ns::Array::make({ns::make<EDAMAdImpressions>(1, 3, 1300000000)}));
    auto properties = ns::MutableDictionary::make();
    properties->setObject(ns::str("tablet"), "idiom");
    parameters->setClientProperties(properties);
    auto ads = present(client.getAds(token(), parameters));
    ASSERT_EQ(ads->count(), 1u);
    auto* ad = must<EDAMAd>(ads->objectAtIndex(0));
    EXPECT_EQ(ad->id(), 2);
    EXPECT_EQ(ad->width(), 728);
    EXPECT_EQ(ad->displaySeconds(), 20);
    EXPECT_EQ(str(ad->advertiserName()), "Notizen GmbH");
    EXPECT_EQ(str(ad->html()), "<b>ad</b>");
    EXPECT_EQ(present(ad->image())->length(), 4u);
    auto random = present(client.getRandomAd(token(), ns::make<EDAMAdParameters>()));
    EXPECT_EQ(random->width(), 320);
    EXPECT_FALSE(random->htmlIsSet());
    EXPECT_THROW(client.getAds(token(), nullptr), EDAMUserException);

    auto inbox = present(client.getDefaultNotebook(token()));
    auto share = ns::make<EDAMSharedNotebook>();
    share->setNotebookGuid(inbox->guid());
    share->setEmail(ns::str("friend@example.org"));
    share->setRequireLogin(false);
    auto shared = present(client.createSharedNotebook(token(), share));
    EXPECT_EQ(shared->id(), 100);
    EXPECT_EQ(str(shared->shareKey()), "key-100");
    share->setNotebookGuid(ns::str("nb-99"));
    EXPECT_THROW(client.createSharedNotebook(token(), share), EDAMNotFoundException);
    EXPECT_EQ(client.listSharedNotebooks(token())->count(), 1u);

    // The share key comes first, the token second (here none).
    auto auth = present(client.authenticateToSharedNotebook(shared->shareKey(), nullptr));
    EXPECT_EQ(str(auth->authenticationToken()), "SN:key-100");
    EXPECT_FALSE(auth->userIsSet());
    EXPECT_EQ(str(client.getSharedNotebookByAuth(auth->authenticationToken())->email()), "friend@example.org");
    EXPECT_THROW(client.getSharedNotebookByAuth(token()), EDAMUserException);
    EXPECT_THROW(client.authenticateToSharedNotebook(ns::str("key-7"), token()), EDAMNotFoundException);

    EXPECT_THROW(client.expungeSharedNotebooks(token(), ns::Array::make({ns::Number::numberWithLongLong(7)})),
                 EDAMNotFoundException);
    client.expungeSharedNotebooks(token(), ns::Array::make({ns::Number::numberWithLongLong(shared->id())}));
    EXPECT_EQ(client.listSharedNotebooks(token())->count(), 0u);

    auto link = ns::make<EDAMLinkedNotebook>();
    link->setShareName(ns::str("Their recipes"));
    link->setShardId(ns::str("s7"));
    link->setShareKey(ns::str("k"));
    auto linked = present(client.createLinkedNotebook(token(), link));
    EXPECT_EQ(linked->id(), 500);
    linked->setShareName(ns::str("Recipes (Ana)"));
    EXPECT_EQ(str(client.updateLinkedNotebook(token(), linked)->shareName()), "Recipes (Ana)");
    EXPECT_EQ(str(must<EDAMLinkedNotebook>(client.listLinkedNotebooks(token())->objectAtIndex(0))->shardId()), "s7");
    EXPECT_THROW(client.createLinkedNotebook(token(), ns::make<EDAMLinkedNotebook>()), EDAMUserException);
    int32_t usn = client.expungeLinkedNotebook(token(), linked->id());
    EXPECT_EQ(usn, client.getSyncState(token())->updateCount());
    EXPECT_THROW(client.expungeLinkedNotebook(token(), linked->id()), EDAMNotFoundException);

    auto note = present(client.createNote(token(), sharedNote(nullptr)));
    auto email = ns::make<EDAMNoteEmailParameters>();
    email->setGuid(note->guid());
    email->setToAddresses(ns::Array::make({ns::str("ana@example.org")}));
    email->setSubject(ns::str("A card"));
    client.emailNote(token(), email);  // void: returns normally
    ASSERT_EQ(service.store->mailed.size(), 1u);
    EXPECT_EQ(str(service.store->mailed[0]->subject()), "A card");
    email->setToAddresses(ns::Array::make());
    EXPECT_THROW(client.emailNote(token(), email), EDAMUserException);
    email->setGuid(ns::str("note-99"));
    EXPECT_THROW(client.emailNote(token(), email), EDAMNotFoundException);
}

TEST(EDAMNoteStoreLoopback, RefusalsReachTheCallerAsExceptions) {
    Service service;
    auto& client = *service.client;
    auto stale = expectThrow<EDAMUserException>([&] { client.listNotebooks(ns::str("S=s1:U=1:old")); });
    EXPECT_EQ(stale.errorCode(), 9);
    EXPECT_EQ(str(stale.parameter()), "authenticationToken");
    EXPECT_EQ(expectThrow<EDAMUserException>([&] { client.createNote(nullptr, sharedNote(nullptr)); }).errorCode(), 5);
    auto down = expectThrow<EDAMSystemException>([&] { client.getSyncState(ns::str("maintenance")); });
    EXPECT_EQ(down.errorCode(), 4);
    EXPECT_EQ(str(down.message()), "down for maintenance");
    EXPECT_THROW(client.emailNote(ns::str("maintenance"), nullptr), EDAMSystemException);
    EXPECT_EQ(str(expectThrow<EDAMNotFoundException>([&] { client.getPublicNotebook(1, nullptr); }).identifier()),
              "Publishing.uri");
    // The client carries on after every failure.
    EXPECT_EQ(client.listNotebooks(token())->count(), 2u);
}

// Replies as a service may send them, to a note store client.
struct Canned : test::CannedReplies {
    ns::Ref<Client> client = ns::make<Client>(std::make_shared<BinaryProtocol>(std::make_shared<THTTPClient>(url())));
};

std::string exceptionStruct(char kind, int id) {
    test::Wire w;
    if (kind == 'u') EDAMUserException(10 + id, ns::str("u")).write(*w.protocol);
    if (kind == 's') EDAMSystemException(20 + id, ns::str("s")).write(*w.protocol);
    if (kind == 'n') EDAMNotFoundException(ns::str("n" + std::to_string(id)), nullptr).write(*w.protocol);
    return w.contents();
}

std::string field(int id, const std::string& structBytes) {
    test::Wire w;
    w.protocol->writeFieldBegin("f", T_STRUCT, static_cast<int16_t>(id));
    return w.contents() + structBytes;
}

TEST(EDAMNoteStoreLoopback, EveryMethodThrowsItsExceptionsInIdOrder) {
    Canned canned;
    for (const auto& m : allMethods()) {
        std::string kinds = m.exceptions;
        std::string header = messageHeader(m.name, T_REPLY, 9);
        // Exceptions at ids p+1 .. n, written highest id first: the lowest wins.
        for (size_t p = 0; p < kinds.size(); ++p) {
            std::string body;
            for (size_t id = kinds.size(); id > p; --id) body += field(static_cast<int>(id), exceptionStruct(kinds[id - 1], static_cast<int>(id)));
            canned.setReply(header + body + bytes("00"));
            try {
                m.callWithNothing(*canned.client);
                ADD_FAILURE() << m.name << " returned";
            } catch (const ns::Exception& e) {
                EXPECT_EQ(kindOf(e), kinds[p]) << m.name << " " << p;
                int expectedId = static_cast<int>(p) + 1;
                if (auto* u = dynamic_cast<const EDAMUserException*>(&e)) {
                    EXPECT_EQ(u->errorCode(), 10 + expectedId) << m.name;
                } else if (auto* s = dynamic_cast<const EDAMSystemException*>(&e)) {
                    EXPECT_EQ(s->errorCode(), 20 + expectedId) << m.name;
                } else if (auto* n = dynamic_cast<const EDAMNotFoundException*>(&e)) {
                    EXPECT_EQ(str(n->identifier()), "n" + std::to_string(expectedId)) << m.name;
                }
            }
        }
        // An exception at an id the method does not declare is skipped; so is
        // field 0 with a type that no return value has (a set of i32).
        for (const std::string& body : {field(static_cast<int>(kinds.size()) + 1, exceptionStruct('u', 9)),
                                        bytes("0e 0000 08 00000001 00000007"), std::string()}) {
            canned.setReply(header + body + bytes("00"));
            if (m.isVoid) {
                EXPECT_NO_THROW(m.callWithNothing(*canned.client)) << m.name;
                continue;
            }
            try {
                m.callWithNothing(*canned.client);
                ADD_FAILURE() << m.name << " returned";
            } catch (const TApplicationException& e) {
                EXPECT_EQ(e.getType(), TApplicationException::MISSING_RESULT);
                EXPECT_EQ(std::string(e.what()), std::string(m.name) + " failed: unknown result");
            }
        }
        // A type-3 reply is the server's application exception.
        canned.setReply(messageHeader(m.name, T_EXCEPTION) + bytes("0b 0001 00000004 'gone' 08 0002 00000003 00"));
        try {
            m.callWithNothing(*canned.client);
            ADD_FAILURE() << m.name;
        } catch (const TApplicationException& e) {
            EXPECT_EQ(e.getType(), TApplicationException::WRONG_METHOD_NAME);
            EXPECT_STREQ(e.what(), "gone");
        }
    }
    EXPECT_EQ(allMethods().size(), 56u);
    size_t declared = 0;
    for (const auto& m : allMethods()) declared += std::string(m.exceptions).size();
    EXPECT_EQ(declared, 155u);
    EXPECT_EQ(canned.server.requests().size(), 56u * 4 + declared);
}

TEST(EDAMNoteStoreLoopback, CannedSuccessValues) {
    Canned canned;
    auto& client = *canned.client;
    // Success and an exception: the success wins.
    canned.setReply(messageHeader("createSharedNotebook", T_REPLY) + bytes("0c 0000 0a 0001 000000000000002a 00") +
                    field(1, exceptionStruct('u', 1)) + bytes("00"));
    EXPECT_EQ(client.createSharedNotebook(nullptr, nullptr)->id(), 42);
    // Numbers count because their flag is set, 0 included.
    canned.setReply(messageHeader("expungeLinkedNotebook", T_REPLY) + bytes("08 0000 00000000 00"));
    EXPECT_EQ(client.expungeLinkedNotebook(nullptr, 1), 0);
    canned.setReply(messageHeader("getAccountSize", T_REPLY) + bytes("0a 0000 0000000000000000 00"));
    EXPECT_EQ(client.getAccountSize(nullptr), 0);
    canned.setReply(messageHeader("updateTag", T_REPLY) + bytes("08 0000 ffffffff 00"));
    EXPECT_EQ(client.updateTag(nullptr, nullptr), -1);
    // Empty lists are results, not failures.
    canned.setReply(messageHeader("listNotebooks", T_REPLY) + bytes("0f 0000 0c 00000000 00"));
    EXPECT_EQ(client.listNotebooks(nullptr)->count(), 0u);
    canned.setReply(messageHeader("getNoteTagNames", T_REPLY) + bytes("0f 0000 0b 00000000 00"));
    EXPECT_EQ(client.getNoteTagNames(nullptr, nullptr)->count(), 0u);
    // Field 0 with another wire type is skipped.
    canned.setReply(messageHeader("listNotebooks", T_REPLY) + bytes("0c 0000 00 00"));
    EXPECT_THROW(client.listNotebooks(nullptr), TApplicationException);
    canned.setReply(messageHeader("getResourceData", T_REPLY) + bytes("0c 0000 00 00"));
    EXPECT_THROW(client.getResourceData(nullptr, nullptr), TApplicationException);
    canned.setReply(messageHeader("getResourceData", T_REPLY) + bytes("0b 0000 00000003 'abc' 00"));
    EXPECT_EQ(std::string(client.getResourceData(nullptr, nullptr)->view()), "abc");
    // Only an exception field of the struct type is taken: a void method
    // whose field 3 arrives as a string returns normally.
    canned.setReply(messageHeader("untagAll", T_REPLY) + bytes("0b 0003 00000001 'x' 00"));
    EXPECT_NO_THROW(client.untagAll(nullptr, nullptr));
    canned.setReply(messageHeader("untagAll", T_REPLY) + field(3, exceptionStruct('n', 3)) + bytes("00"));
    EXPECT_THROW(client.untagAll(nullptr, nullptr), EDAMNotFoundException);
}

// ---- The client's calls and the dispatcher's replies on memory buffers ----------

struct MemoryClient {
    test::Wire out;
    ns::Ref<Client> client = ns::make<Client>(test::reading(""), out.protocol);
    std::string call(const std::string& name) { return out.contents().substr(messageHeader(name, T_CALL).size()); }
};

TEST(EDAMNoteStoreClient, WritesCallsAsTheArgumentRecordsDo) {
    auto t = token();
    std::string tokenField = bytes("0b 0001") + sized(MemoryNoteStore::kToken);
    {
        MemoryClient m;
        m.client->send_createNote(t, nullptr);
        EXPECT_EQ(m.call("createNote"), tokenField + bytes("00"));
        EXPECT_EQ(m.out.contents().substr(0, 19), bytes("0000000a 'createNote' 01 00000000"));
    }
    {
        MemoryClient m;
        m.client->send_createNote(nullptr, sharedNote(ns::str("nb-2")));
        EXPECT_EQ(m.call("createNote"), test::encode(EDAMcreateNote_args(nullptr, sharedNote(ns::str("nb-2")))));
    }
    {
        MemoryClient m;
        m.client->send_getSyncChunk(nullptr, 0, 0, false);
        EXPECT_EQ(m.call("getSyncChunk"), bytes("08 0002 00000000 08 0003 00000000 02 0004 00 00"));
    }
    {
        MemoryClient m;
        m.client->send_listNotebooks(nullptr);
        EXPECT_EQ(m.call("listNotebooks"), bytes("00"));
    }
    {
        MemoryClient m;
        m.client->send_getPublicNotebook(0, nullptr);
        EXPECT_EQ(m.call("getPublicNotebook"), bytes("08 0001 00000000 00"));
    }
    {
        MemoryClient m;
        m.client->send_expungeSharedNotebooks(t, ns::Array::make());
        EXPECT_EQ(m.call("expungeSharedNotebooks"), tokenField + bytes("0f 0002 0a 00000000 00"));
    }
    {
        MemoryClient m;
        m.client->send_expungeSharedNotebooks(nullptr, ns::Array::make({ns::Number::numberWithLongLong(1LL << 40)}));
        EXPECT_EQ(m.call("expungeSharedNotebooks"), bytes("0f 0002 0a 00000001 0000010000000000 00"));
    }
    {
        MemoryClient m;
        m.client->send_expungeNotes(t, nullptr);
        EXPECT_EQ(m.call("expungeNotes"), tokenField + bytes("00"));
    }
    {
        MemoryClient m;
        m.client->send_expungeNotes(nullptr, ns::Array::make());
        EXPECT_EQ(m.call("expungeNotes"), bytes("0f 0002 0b 00000000 00"));
    }
    {
        MemoryClient m;
        m.client->send_getResourceByHash(t, nullptr, nullptr, true, false, true);
        EXPECT_EQ(m.call("getResourceByHash"), tokenField + bytes("02 0004 01 02 0005 00 02 0006 01 00"));
    }
    {
        MemoryClient m;
        m.client->send_getResourceByHash(nullptr, ns::str("n"), data("\x01\x02"), false, false, false);
        EXPECT_EQ(m.call("getResourceByHash"), test::encode(EDAMgetResourceByHash_args(nullptr, ns::str("n"), data("\x01\x02"),
                                                                                      false, false, false)));
    }
    {
        MemoryClient m;
        m.client->send_getNoteVersion(t, nullptr, 0, false, false, false);
        EXPECT_EQ(m.call("getNoteVersion"), tokenField + bytes("08 0003 00000000 02 0004 00 02 0005 00 02 0006 00 00"));
    }
    {
        MemoryClient m;
        m.client->send_getNote(t, ns::str("g"), false, false, false, false);
        EXPECT_EQ(m.call("getNote"), test::encode(EDAMgetNote_args(t, ns::str("g"), false, false, false, false)));
    }
    {
        MemoryClient m;
        m.client->send_findNotes(t, nullptr, 0, 0);
        EXPECT_EQ(m.call("findNotes"), tokenField + bytes("08 0003 00000000 08 0004 00000000 00"));
    }
    {
        MemoryClient m;
        m.client->send_expungeLinkedNotebook(nullptr, 5);
        EXPECT_EQ(m.call("expungeLinkedNotebook"), bytes("0a 0002 0000000000000005 00"));
    }
    {
        MemoryClient m;
        m.client->send_authenticateToSharedNotebook(nullptr, t);
        EXPECT_EQ(m.call("authenticateToSharedNotebook"), bytes("0b 0002") + sized(MemoryNoteStore::kToken) + bytes("00"));
    }
    {
        MemoryClient m;
        m.client->send_updateResource(nullptr, nullptr);
        EXPECT_EQ(m.call("updateResource"), bytes("00"));
    }
}

std::string dispatch(EDAMNoteStoreProcessor& processor, const std::string& call) {
    test::Wire out;
    EXPECT_TRUE(processor.processOnInputProtocolOutputProtocol(*test::reading(call), *out.protocol));
    return out.contents();
}

TEST(EDAMNoteStoreProcessor, RepliesMessageByMessage) {
    auto store = std::make_shared<MemoryNoteStore>();
    auto processor = ns::make<EDAMNoteStoreProcessor>(store);
    EXPECT_EQ(processor->service(), store);
    std::string tokenField = bytes("0b 0001") + sized(MemoryNoteStore::kToken);

    // A void method: the handler runs, the reply is the empty result struct.
    store->createTag(token(), ns::make<EDAMTag>(nullptr, ns::str("t"), nullptr, 0));
    EXPECT_EQ(dispatch(*processor, messageHeader("untagAll", T_CALL, 12) + tokenField + bytes("0b 0002 00000005 'tag-3' 00")),
              messageHeader("untagAll", T_REPLY, 12) + bytes("00"));
    EXPECT_EQ(store->calls.back(), "untagAll");

    // A zero i64 is a result; a nil record is not.
    EXPECT_EQ(dispatch(*processor, messageHeader("getAccountSize", T_CALL, 3) + tokenField + bytes("00")),
              messageHeader("getAccountSize", T_REPLY, 3) + bytes("0a 0000 0000000000000000 00"));
    EXPECT_EQ(dispatch(*processor, messageHeader("findNotes", T_CALL, 4) + tokenField + bytes("00")),
              messageHeader("findNotes", T_REPLY, 4) + bytes("00"));
    // A known method sent as oneway is answered with a reply.
    std::string reply = dispatch(*processor, messageHeader("listNotebooks", T_ONEWAY, 5) + tokenField + bytes("00"));
    EXPECT_EQ(reply.substr(0, messageHeader("listNotebooks", T_REPLY, 5).size()), messageHeader("listNotebooks", T_REPLY, 5));
    auto result = test::decode<EDAMListNotebooks_result>(reply.substr(messageHeader("listNotebooks", T_REPLY, 5).size()));
    EXPECT_EQ(present(result->success())->count(), 2u);

    // getPublicNotebook passes userId then publicUri; authenticateToSharedNotebook
    // the share key before the token.
    store->notebooks[1]->setPublished(true);
    store->notebooks[1]->setPublishing(ns::make<EDAMPublishing>(ns::str("inbox"), 0, false, nullptr));
    reply = dispatch(*processor, messageHeader("getPublicNotebook", T_CALL, 6) + bytes("08 0001 00000001 0b 0002 00000005 'inbox' 00"));
    auto pub = test::decode<EDAMGetPublicNotebook_result>(reply.substr(messageHeader("getPublicNotebook", T_REPLY, 6).size()));
    EXPECT_EQ(str(present(pub->success())->name()), "Inbox");
    store->createSharedNotebook(token(), ns::make<EDAMSharedNotebook>(0, 0, ns::str("nb-1"), nullptr, false, false, 0,
                                                                      nullptr, nullptr));
    reply = dispatch(*processor, messageHeader("authenticateToSharedNotebook", T_CALL, 8) +
                                     bytes("0b 0001 00000007 'key-100' 0b 0002 00000001 'x' 00"));
    auto auth = test::decode<EDAMAuthenticateToSharedNotebook_result>(
        reply.substr(messageHeader("authenticateToSharedNotebook", T_REPLY, 8).size()));
    EXPECT_EQ(str(present(auth->success())->authenticationToken()), "SN:key-100");

    // Names are matched exactly.
    EXPECT_EQ(dispatch(*processor, messageHeader("GetSyncState", T_CALL, 7) + tokenField + bytes("00")),
              messageHeader("GetSyncState", T_EXCEPTION, 7) + bytes("0b 0001") +
                  sized("Invalid method name: 'GetSyncState'") + bytes("08 0002 00000001 00"));

    // A raising handler: the exception propagates, nothing is written.
    test::Wire out;
    EXPECT_THROW(processor->processOnInputProtocolOutputProtocol(
                     *test::reading(messageHeader("getTag", T_CALL, 1) + tokenField + bytes("0b 0002 00000001 'x' 00")),
                     *out.protocol),
                 EDAMNotFoundException);
    EXPECT_EQ(out.contents(), "");
}

}  // namespace
}  // namespace evernote
