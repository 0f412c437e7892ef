// The user store end to end: our client over the HTTP transport, a loopback
// HTTP server that the test starts, and our dispatcher with an in-memory
// handler behind it. Canned replies cover what a real service may send but
// the dispatcher never writes (both exception fields, type-3 replies, ...).
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <mutex>

#include <thrift/TApplicationException.h>
#include <thrift/transport/TBufferTransports.h>

#include "testsupport/LoopbackServer.h"
#include "evernote/tests/TestSupport.h"
#include "testsupport/Checked.h"
#include "evernote/transport/THTTPClient.h"
#include "evernote/types/EDAMConstants.h"
#include "evernote/types/EDAMExceptions.h"
#include "evernote/types/Wire.h"
#include "evernote/userstore/EDAMUserStoreClient.h"
#include "evernote/userstore/EDAMUserStoreProcessor.h"

namespace evernote {
namespace {

using testsupport::must;
using testsupport::present;

using apache::thrift::TApplicationException;
using apache::thrift::transport::TMemoryBuffer;
using namespace apache::thrift::protocol;
using test::bytes;
using testsupport::Request;
using testsupport::Server;

// A string as the binary protocol writes it: i32 byte count, then the bytes.
std::string sized(const std::string& s) {
    test::Wire w;
    w.protocol->writeString(s);
    return w.contents();
}

// An in-memory user store: one account, tokens by user name.
class MemoryUserStore : public EDAMUserStore {
public:
    MemoryUserStore() {
        user_ = ns::make<EDAMUser>();
        user_->setId(17);
        user_->setUsername(ns::str("carla"));
        user_->setShardId(ns::str("s42"));
        user_->setPrivilege(1);
        auto attributes = ns::make<EDAMUserAttributes>();
        attributes->setRecentMailedAddresses(ns::Array::make({ns::str("a@b.cd"), ns::str("e@f.gh")}));
        user_->setAttributes(attributes);
    }

    bool checkVersion(const ns::Ref<ns::String>& clientName, int16_t major, int16_t minor) override {
        lastClientName = clientName ? clientName->utf8() : "(nil)";
        return major == EDAMUserStoreConstants::EDAM_VERSION_MAJOR() &&
               minor >= EDAMUserStoreConstants::EDAM_VERSION_MINOR();
    }

    ns::Ref<EDAMAuthenticationResult> authenticate(const ns::Ref<ns::String>& username,
                                                   const ns::Ref<ns::String>& password,
                                                   const ns::Ref<ns::String>& consumerKey,
                                                   const ns::Ref<ns::String>& consumerSecret) override {
        if (!consumerKey || !consumerSecret || consumerSecret->utf8() != "secret")
            throw EDAMSystemException(4, ns::str("consumer not recognised"));
        if (!username || username->utf8() != "carla")
            throw EDAMUserException(2, ns::str("username"));
        if (!password || password->utf8() != "pa55word")
            throw EDAMUserException(8, ns::str("password"));
        return result("T:carla");
    }

    ns::Ref<EDAMAuthenticationResult> refreshAuthentication(const ns::Ref<ns::String>& token) override {
        checkToken(token);
        return result("T:carla:2");
    }

    ns::Ref<EDAMUser> getUser(const ns::Ref<ns::String>& token) override {
        if (token && token->utf8() == "nil-user") return nullptr;
        checkToken(token);
        return user_;
    }

    ns::Ref<EDAMPublicUserInfo> getPublicUserInfo(const ns::Ref<ns::String>& username) override {
        if (!username) throw EDAMUserException(5, ns::str("username"));
        if (username->utf8() == "down") throw EDAMSystemException(4, ns::str("maintenance"));
        if (username->utf8() != "carla") throw EDAMNotFoundException(ns::str("User.username"), username);
        return ns::make<EDAMPublicUserInfo>(17, ns::str("s42"), 1, username);
    }

    std::string lastClientName;

private:
    void checkToken(const ns::Ref<ns::String>& token) {
        if (!token) throw EDAMUserException(5, ns::str("authenticationToken"));
        if (token->utf8().rfind("T:carla", 0) != 0) throw EDAMUserException(9, ns::str("authenticationToken"));
    }
    ns::Ref<EDAMAuthenticationResult> result(const char* token) {
        return ns::make<EDAMAuthenticationResult>(1300000000000LL, ns::str(token), 1300003600000LL, user_,
                                                  nullptr);
    }
    ns::Ref<EDAMUser> user_;
};

// The host around the dispatcher: one message per HTTP request. Service
// exceptions that the handler raises reach the peer as the method's result
// record with the exception's field set, which the dispatcher itself never does.
class UserStoreHost {
public:
    explicit UserStoreHost(std::shared_ptr<EDAMUserStore> handler)
        : processor_(ns::make<EDAMUserStoreProcessor>(std::move(handler))) {}

    std::string serve(const std::string& call) {
        auto in = test::reading(call);
        test::Wire out;
        try {
            processor_->processOnInputProtocolOutputProtocol(*in, *out.protocol);
            return out.contents();
        } catch (const ns::Exception& e) {
            auto header = test::callHeader(call);
            ns::Ref<Record> result = resultCarrying(header.name, e);
            if (!result) throw;
            test::Wire reply;
            reply.protocol->writeMessageBegin(header.name, T_REPLY, header.seqid);
            result->write(*reply.protocol);
            reply.protocol->writeMessageEnd();
            return reply.contents();
        }
    }

private:
    template <class Result>
    static ns::Ref<Record> withException(const ns::Exception& e) {
        auto result = ns::make<Result>();
        if (auto* u = dynamic_cast<const EDAMUserException*>(&e)) result->setUserException(ns::make<EDAMUserException>(*u));
        else if (auto* s = dynamic_cast<const EDAMSystemException*>(&e)) result->setSystemException(ns::make<EDAMSystemException>(*s));
        else return nullptr;
        return result;
    }

    static ns::Ref<Record> resultCarrying(const std::string& method, const ns::Exception& e) {
        if (method == "authenticate") return withException<EDAMAuthenticate_result>(e);
        if (method == "refreshAuthentication") return withException<EDAMRefreshAuthentication_result>(e);
        if (method == "getUser") return withException<EDAMGetUser_result>(e);
        if (method == "getPublicUserInfo") {
            auto result = ns::make<EDAMGetPublicUserInfo_result>();
            if (auto* n = dynamic_cast<const EDAMNotFoundException*>(&e)) result->setNotFoundException(ns::make<EDAMNotFoundException>(*n));
            else if (auto* s = dynamic_cast<const EDAMSystemException*>(&e)) result->setSystemException(ns::make<EDAMSystemException>(*s));
            else if (auto* u = dynamic_cast<const EDAMUserException*>(&e)) result->setUserException(ns::make<EDAMUserException>(*u));
            return result;
        }
        return nullptr;
    }

    ns::Ref<EDAMUserStoreProcessor> processor_;
};

struct Service {
    std::shared_ptr<MemoryUserStore> store = std::make_shared<MemoryUserStore>();
    UserStoreHost host{store};
    Server server{[this](const Request& r) -> std::optional<std::string> {
        return Server::reply(200, host.serve(r.body));
    }};

    ns::Ref<EDAMUserStoreClient> client() {
        auto transport = std::make_shared<THTTPClient>(server.url("/edam/user"));
        auto protocol = std::make_shared<BinaryProtocol>(transport);
        return ns::make<EDAMUserStoreClient>(protocol);
    }
};

TEST(EDAMUserStoreLoopback, TheSharersRoad) {
    Service service;
    auto client = service.client();
    EXPECT_TRUE(client->checkVersion(ns::str("deck/1.0"), EDAMUserStoreConstants::EDAM_VERSION_MAJOR(),
                                     EDAMUserStoreConstants::EDAM_VERSION_MINOR()));
    EXPECT_EQ(service.store->lastClientName, "deck/1.0");
    EXPECT_FALSE(client->checkVersion(nullptr, 1, 15));
    EXPECT_EQ(service.store->lastClientName, "(nil)");

    auto result =
        present(client->authenticate(ns::str("carla"), ns::str("pa55word"), ns::str("key"), ns::str("secret")));
    ASSERT_TRUE(result);
    ASSERT_TRUE(result->userIsSet());
    ASSERT_TRUE(result->authenticationTokenIsSet());
    EXPECT_EQ(present(result->authenticationToken())->utf8(), "T:carla");
    EXPECT_EQ(present(present(result->user())->shardId())->utf8(), "s42");
    EXPECT_EQ(present(present(present(result->user())->attributes())->recentMailedAddresses())->count(), 2u);
    EXPECT_EQ(result->expiration(), 1300003600000LL);
    EXPECT_FALSE(result->publicUserInfoIsSet());

    auto refreshed = present(client->refreshAuthentication(result->authenticationToken()));
    EXPECT_EQ(present(refreshed->authenticationToken())->utf8(), "T:carla:2");
    EXPECT_EQ(client->getUser(result->authenticationToken())->id(), 17);
    auto info = present(client->getPublicUserInfo(ns::str("carla")));
    EXPECT_EQ(info->description(), "PublicUserInfo(userId:17,shardId:\"s42\",privilege:1,username:\"carla\")");

    // Each call was one POST with a call message of sequence id 0.
    auto requests = service.server.requests();
    ASSERT_EQ(requests.size(), 6u);
    EXPECT_EQ(requests[0].body.substr(0, 21), bytes("0000000c 'checkVersion' 01 00000000"));
    EXPECT_EQ(requests[1].body, bytes("0000000c 'checkVersion' 01 00000000 | 06 0002 0001 06 0003 000f 00"));
}

TEST(EDAMUserStoreLoopback, ServiceExceptionsReachTheCaller) {
    Service service;
    auto client = service.client();
    try {
        client->authenticate(ns::str("carla"), ns::str("wrong"), ns::str("key"), ns::str("secret"));
        FAIL();
    } catch (const EDAMUserException& e) {
        EXPECT_EQ(e.errorCode(), 8);
        EXPECT_EQ(present(e.parameter())->utf8(), "password");
        EXPECT_EQ(e.name(), "EDAMUserException");
        EXPECT_EQ(e.reason(), "unknown");
    }
    try {
        client->authenticate(ns::str("carla"), ns::str("pa55word"), ns::str("key"), ns::str("guess"));
        FAIL();
    } catch (const EDAMSystemException& e) {
        EXPECT_EQ(e.errorCode(), 4);
        EXPECT_EQ(present(e.message())->utf8(), "consumer not recognised");
    }
    EXPECT_THROW(client->getUser(ns::str("T:bob")), EDAMUserException);
    EXPECT_THROW(client->refreshAuthentication(nullptr), EDAMUserException);
    try {
        client->getPublicUserInfo(ns::str("dana"));
        FAIL();
    } catch (const EDAMNotFoundException& e) {
        EXPECT_EQ(e.description(), "EDAMNotFoundException(identifier:\"User.username\",key:\"dana\")");
    }
    EXPECT_THROW(client->getPublicUserInfo(ns::str("down")), EDAMSystemException);
    EXPECT_THROW(client->getPublicUserInfo(nullptr), EDAMUserException);

    // A handler answering nil: an empty result struct, the client's missing result.
    try {
        client->getUser(ns::str("nil-user"));
        FAIL();
    } catch (const TApplicationException& e) {
        EXPECT_EQ(e.getType(), TApplicationException::MISSING_RESULT);
        EXPECT_STREQ(e.what(), "getUser failed: unknown result");
        EXPECT_STREQ(wire::applicationExceptionName(e), "Missing result");
    }
    // The client carries on after each failure.
    EXPECT_TRUE(client->checkVersion(ns::str("again"), 1, 16));
}

TEST(EDAMUserStoreLoopback, UnknownMethodsAreAnsweredOnTheWire) {
    Service service;
    auto transport = std::make_shared<THTTPClient>(service.server.url());
    BinaryProtocol protocol(transport);
    protocol.writeMessageBegin("CheckVersion", T_CALL, 7);
    protocol.writeStructBegin("CheckVersion_args");
    protocol.writeFieldBegin("x", T_STRING, 1);
    protocol.writeString(std::string("ignored"));
    protocol.writeFieldEnd();
    protocol.writeFieldStop();
    protocol.writeStructEnd();
    protocol.writeMessageEnd();
    transport->flush();
    std::string reply(transport->bytesRemaining(), '\0');
    transport->readAll(reinterpret_cast<uint8_t*>(reply.data()), reply.size());
    std::string message = "Invalid method name: 'CheckVersion'";
    EXPECT_EQ(reply, bytes("0000000c 'CheckVersion' 03 00000007 | 0b 0001") + sized(message) +
                         bytes("08 0002 00000001 00"));
    try {
        wire::readReplyBegin(*test::reading(reply));
        FAIL();
    } catch (const TApplicationException& e) {
        EXPECT_EQ(e.getType(), TApplicationException::UNKNOWN_METHOD);
        EXPECT_EQ(std::string(e.what()), message);
        EXPECT_STREQ(wire::applicationExceptionName(e), "Unknown method");
    }
}

// Replies a real service may send, to a user store client.
struct Canned : test::CannedReplies {
    ns::Ref<EDAMUserStoreClient> client() {
        auto transport = std::make_shared<THTTPClient>(url());
        return ns::make<EDAMUserStoreClient>(std::make_shared<BinaryProtocol>(transport));
    }
};

TEST(EDAMUserStoreLoopback, RepliesAsTheServiceMaySendThem) {
    Canned canned;
    auto client = canned.client();

    // Another method's name and sequence id 42 are accepted.
    canned.setReply(bytes("80010002 00000007 'getUser' 0000002a | 02 0000 01 00"));
    EXPECT_TRUE(client->checkVersion(ns::str("c"), 1, 16));

    // Success and an exception: the success wins.
    canned.setReply(bytes("00000007 'getUser' 02 00000000 | 0c 0000 0b 000e 00000002 's7' 00 |"
                         "0c 0001 08 0001 00000008 00 | 00"));
    EXPECT_EQ(present(client->getUser(ns::str("t"))->shardId())->utf8(), "s7");

    // getPublicUserInfo tests not-found, system, then user.
    canned.setReply(bytes("00000011 'getPublicUserInfo' 02 00000000 |"
                         "0c 0003 08 0001 00000003 00 | 0c 0002 08 0001 00000001 00 | 00"));
    try {
        client->getPublicUserInfo(ns::str("u"));
        FAIL();
    } catch (const EDAMSystemException& e) {
        EXPECT_EQ(e.errorCode(), 1);
    }
    // authenticate tests user before system.
    canned.setReply(bytes("0000000c 'authenticate' 02 00000000 |"
                         "0c 0002 08 0001 00000001 00 | 0c 0001 08 0001 00000002 00 | 00"));
    try {
        client->authenticate(ns::str("a"), ns::str("b"), ns::str("c"), ns::str("d"));
        FAIL();
    } catch (const EDAMUserException& e) {
        EXPECT_EQ(e.errorCode(), 2);
    }

    // A type-3 reply is the server's application exception.
    canned.setReply(bytes("0000000c 'checkVersion' 03 00000000 | 0b 0001 00000004 'gone' 08 0002 00000001 | 00"));
    try {
        client->checkVersion(ns::str("c"), 1, 16);
        FAIL();
    } catch (const TApplicationException& e) {
        EXPECT_EQ(e.getType(), TApplicationException::UNKNOWN_METHOD);
        EXPECT_STREQ(e.what(), "gone");
    }

    // Nothing in the result: the method's "unknown result".
    canned.setReply(bytes("0000000c 'checkVersion' 02 00000000 00"));
    try {
        client->checkVersion(ns::str("c"), 1, 16);
        FAIL();
    } catch (const TApplicationException& e) {
        EXPECT_EQ(e.getType(), TApplicationException::MISSING_RESULT);
        EXPECT_STREQ(e.what(), "checkVersion failed: unknown result");
    }
    for (auto [method, call] : std::map<std::string, std::function<void()>>{
             {"authenticate", [&] { client->authenticate(nullptr, nullptr, nullptr, nullptr); }},
             {"refreshAuthentication", [&] { client->refreshAuthentication(nullptr); }},
             {"getPublicUserInfo", [&] { client->getPublicUserInfo(nullptr); }}}) {
        try {
            call();
            FAIL() << method;
        } catch (const TApplicationException& e) {
            EXPECT_EQ(std::string(e.what()), method + " failed: unknown result");
        }
    }

    // A malformed reply fails in the protocol; the client is usable afterwards.
    canned.setReply(bytes("7f000000 'x'"));
    EXPECT_THROW(client->getUser(ns::str("t")), apache::thrift::TException);
    canned.setReply(bytes("0000000c 'checkVersion' 02 00000000 02 0000 01 00"));
    EXPECT_TRUE(client->checkVersion(ns::str("c"), 1, 16));
}

// The dispatcher on memory buffers, message by message.
// The dispatcher's answer as a peer receives it: written through a buffered
// transport, whose bytes go out only when the dispatcher flushes them.
std::string dispatch(EDAMUserStoreProcessor& processor, const std::string& call) {
    auto sent = std::make_shared<TMemoryBuffer>();
    BinaryProtocol out(std::make_shared<test::TBufferedTransport>(sent));
    EXPECT_TRUE(processor.processOnInputProtocolOutputProtocol(*test::reading(call), out));
    return sent->getBufferAsString();
}

TEST(EDAMUserStoreProcessor, RepliesCarryTheCallsSequenceId) {
    auto store = std::make_shared<MemoryUserStore>();
    auto processor = ns::make<EDAMUserStoreProcessor>(store);
    EXPECT_EQ(processor->service(), store);

    // A known method sent as type 4 (oneway) is answered with a type-2 reply.
    EXPECT_EQ(dispatch(*processor, bytes("0000000c 'checkVersion' 04 00000009 | 06 0002 0001 06 0003 0001 00")),
              bytes("0000000c 'checkVersion' 02 00000009 | 02 0000 00 00"));
    EXPECT_EQ(dispatch(*processor, bytes("80010001 00000007 'getUser' 00000063 | 0b 0001 00000008 'nil-user' 00")),
              bytes("00000007 'getUser' 02 00000063 00"));
    EXPECT_EQ(dispatch(*processor, bytes("00000004 'nope' 01 00000007 | 0c 0001 0f 0002 0b 00000001 00000000 00 00")),
              bytes("00000004 'nope' 03 00000007 | 0b 0001") + sized("Invalid method name: 'nope'") +
                  bytes("08 0002 00000001 00"));

    // A raising handler: the exception propagates, nothing is written.
    test::Wire out;
    EXPECT_THROW(processor->processOnInputProtocolOutputProtocol(
                     *test::reading(bytes("00000007 'getUser' 01 00000001 | 0b 0001 00000003 'bob' 00")),
                     *out.protocol),
                 EDAMUserException);
    EXPECT_EQ(out.contents(), "");
}

}  // namespace
}  // namespace evernote
