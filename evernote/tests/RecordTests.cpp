// The record pattern on the wire: golden bytes, set and unset fields, set but
// nil, skipping, result records, descriptions, archives and constants.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <random>

#include <thrift/TApplicationException.h>
#include <thrift/protocol/TProtocolException.h>

#include "evernote/tests/EDAMRecordFixtures.h"
#include "evernote/tests/TestSupport.h"
#include "testsupport/Checked.h"
#include "evernote/types/EDAMAccount.h"
#include "evernote/types/EDAMConstants.h"
#include "evernote/types/EDAMExceptions.h"
#include "evernote/types/Wire.h"
#include "platform/foundation/Foundation.h"
#include "evernote/userstore/EDAMUserStore.h"
#include "evernote/userstore/EDAMUserStoreTypes.h"

namespace evernote {
namespace {

using testsupport::must;
using testsupport::present;

using test::bytes;
using test::decode;
using test::encode;
using test::hex;

TEST(EDAMRecord, FreshRecordsWriteOnlyTheStopByte) {
    EXPECT_EQ(hex(encode(*ns::make<EDAMUser>())), "00");
    EXPECT_EQ(hex(encode(*ns::make<EDAMUserException>())), "00");
    EXPECT_EQ(hex(encode(*ns::make<EDAMGetUser_result>())), "00");
    EXPECT_EQ(hex(encode(*ns::make<EDAMcheckVersion_args>())), "00");
}

TEST(EDAMRecord, GoldenBytesOfSetFields) {
    EDAMPublicUserInfo info(7, ns::str("s1"), -1, ns::str("\xc3\xa9l\xc3\xa8ve"));
    // i32 1; string 2 (byte count, not characters); i32 3 = -1; string 4.
    EXPECT_EQ(encode(info), bytes("08 0001 00000007 | 0b 0002 00000002 's1' | 08 0003 ffffffff |"
                                  "0b 0004 00000007 c3a9 'l' c3a8 've' | 00"));

    EDAMUserAttributes attributes;
    attributes.setDefaultLatitude(1.5);
    attributes.setPreactivation(true);
    attributes.setRecentMailedAddresses(ns::Array::make({ns::str("a@b.cd")}));
    attributes.setCustomerProfileId(-2);
    EXPECT_EQ(encode(attributes), bytes("04 0002 3ff8000000000000 | 02 0004 01 |"
                                        "0f 0007 0b 00000001 00000006 'a@b.cd' |"
                                        "0a 001b fffffffffffffffe | 00"));

    EDAMUser user;
    user.setActive(false);
    user.setAttributes(ns::make<EDAMUserAttributes>());
    EXPECT_EQ(encode(user), bytes("02 000d 00 | 0c 000f 00 | 00"));
}

TEST(EDAMRecord, SetButNilAndUnset) {
    // The designated initialiser marks every field set, nil ones included.
    EDAMUser user(1, nullptr, ns::str("e@x.org"), nullptr, nullptr, 3, 4, 5, 6, true, nullptr,
                  nullptr, nullptr);
    EXPECT_TRUE(user.usernameIsSet());
    EXPECT_FALSE(user.username());
    EXPECT_TRUE(user.attributesIsSet());
    // ...but write leaves out the fields without an object.
    EXPECT_EQ(encode(user), bytes("08 0001 00000001 | 0b 0003 00000007 'e@x.org' | 08 0007 00000003 |"
                                  "0a 0009 0000000000000004 | 0a 000a 0000000000000005 |"
                                  "0a 000b 0000000000000006 | 02 000d 01 | 00"));

    EDAMPublicUserInfo info;
    info.setShardId(nullptr);
    EXPECT_TRUE(info.shardIdIsSet());
    EXPECT_EQ(hex(encode(info)), "00");
    info.setShardId(ns::str("s9"));
    info.unsetShardId();
    EXPECT_FALSE(info.shardIdIsSet());
    EXPECT_FALSE(info.shardId());
    EXPECT_EQ(hex(encode(info)), "00");

    // Unsetting a number keeps its value for description, not for write.
    info.setUserId(42);
    info.unsetUserId();
    EXPECT_EQ(hex(encode(info)), "00");
    EXPECT_EQ(info.userId(), 42);
    EXPECT_EQ(info.description(), "PublicUserInfo(userId:42,shardId:\"(null)\",privilege:0,username:\"(null)\")");

    // An empty list is written as a list of strings with no elements, and
    // decodes as set to an empty array.
    EDAMUserAttributes attributes;
    attributes.setRecentMailedAddresses(ns::Array::make());
    EXPECT_EQ(encode(attributes), bytes("0f 0007 0b 00000000 00"));
    auto back = decode<EDAMUserAttributes>(encode(attributes));
    ASSERT_TRUE(back->recentMailedAddressesIsSet());
    EXPECT_EQ(present(back->recentMailedAddresses())->count(), 0u);
    attributes.setRecentMailedAddresses(nullptr);
    EXPECT_EQ(hex(encode(attributes)), "00");
}

TEST(EDAMRecord, DecodingSkipsUnknownAndMistypedFields) {
    // id 5 and 8 are not User fields; id 14 (shardId) arrives as an i32; a
    // nested UserAttributes carries an id it does not define (8) and an
    // unknown struct, and the outer record goes on after it.
    auto user = decode<EDAMUser>(bytes(
        "08 0005 00000009 | 0c 0008 08 0001 00000001 00 | 08 000e 00000001 |"
        "0c 000f  0b 0008 00000003 'xyz'  0c 0063 0f 0001 0b 00000001 00000001 'q' 00  "
        "         0b 0001 00000004 'home' 00 |"
        "0b 000e 00000002 's5' | 0f 000c 08 00000002 00000001 00000002 | 00"));
    EXPECT_EQ(present(user->shardId())->utf8(), "s5");
    ASSERT_TRUE(user->attributesIsSet());
    EXPECT_EQ(present(present(user->attributes())->defaultLocationName())->utf8(), "home");
    EXPECT_FALSE(present(user->attributes())->commentsIsSet());
    EXPECT_FALSE(user->idIsSet());

    auto fresh = decode<EDAMUser>(bytes("08 000e 00000001 00"));
    EXPECT_FALSE(fresh->shardIdIsSet());
    EXPECT_FALSE(fresh->shardId());

    // Accounting has no field 15; UserAttributes none at 10.
    auto accounting = decode<EDAMAccounting>(bytes("0a 000f 0000000000000001 | 0a 000e 0000000000000002 00"));
    EXPECT_EQ(accounting->updated(), 2);
    EXPECT_EQ(accounting->description().find("updated:2"), accounting->description().find("updated:"));

    // A field arriving twice keeps the later value.
    auto twice = decode<EDAMPublicUserInfo>(bytes("08 0001 00000001 08 0001 00000002 00"));
    EXPECT_EQ(twice->userId(), 2);

    // An unknown field of each wire type is skipped whole, from memory and
    // from a stream, and the field after it is read.
    const std::pair<const char*, const char*> unknown[] = {
        {"bool", "02 0063 01"},
        {"byte", "03 0063 ff"},
        {"double", "04 0063 3ff0000000000000"},
        {"i16", "06 0063 8000"},
        {"i32", "08 0063 7fffffff"},
        {"i64", "0a 0063 8000000000000000"},
        {"string", "0b 0063 00000003 'abc'"},
        {"struct", "0c 0063 08 0001 00000005 0f 0002 0b 00000001 00000001 'x' 00"},
        {"map", "0d 0063 0b 08 00000002 00000001 'a' 00000001 00000001 'b' 00000002"},
        {"set", "0e 0063 06 00000003 0001 0002 0003"},
        {"list of maps", "0f 0063 0d 00000001 03 04 00000001 01 3ff0000000000000"},
        {"set of sets", "0e 0063 0e 00000002 02 00000001 01 02 00000000"},
        {"empty map", "0d 0063 0b 08 00000000"},
    };
    for (const auto& [type, field] : unknown) {
        const std::string input = bytes(field) + bytes("08 0001 00000007 00");
        for (auto in : {test::reading(input), test::streaming(input)}) {
            auto info = ns::make<EDAMPublicUserInfo>();
            info->read(*in);
            EXPECT_EQ(info->userId(), 7) << type;
            EXPECT_FALSE(info->shardIdIsSet() || info->privilegeIsSet() || info->usernameIsSet()) << type;
        }
    }
}

TEST(EDAMRecord, BoolIsTrueOnlyForOne) {
    EXPECT_FALSE(decode<EDAMUser>(bytes("02 000d 02 00"))->active());
    EXPECT_TRUE(decode<EDAMUser>(bytes("02 000d 02 00"))->activeIsSet());
    EXPECT_TRUE(decode<EDAMUser>(bytes("02 000d 01 00"))->active());
}

TEST(EDAMRecord, ContainerCountsAtOrBelowZeroDecodeEmpty) {
    auto a = decode<EDAMUserAttributes>(bytes("0f 0005 0b ffffffff 00"));
    ASSERT_TRUE(a->viewedPromotionsIsSet());
    EXPECT_EQ(present(a->viewedPromotions())->count(), 0u);
    auto b = decode<EDAMUserAttributes>(bytes("0f 0005 0b 00000000 00"));
    ASSERT_TRUE(b->viewedPromotionsIsSet());
    EXPECT_EQ(present(b->viewedPromotions())->count(), 0u);
}

TEST(EDAMRecord, InvalidUTF8StringIsSetButNil) {
    auto info = decode<EDAMPublicUserInfo>(bytes("0b 0002 00000002 ff fe 00"));
    EXPECT_TRUE(info->shardIdIsSet());
    EXPECT_FALSE(info->shardId());
    // In a list an element cannot be nil: decoding fails instead.
    EXPECT_THROW(decode<EDAMUserAttributes>(bytes("0f 0005 0b 00000001 00000001 ff 00")),
                 apache::thrift::protocol::TProtocolException);

    // Plain ASCII is checked in blocks: a stray byte, or a character of two,
    // three or four bytes, is found wherever it sits in a long text.
    auto shard = [](const std::string& text) {
        uint32_t n = __builtin_bswap32(static_cast<uint32_t>(text.size()));
        std::string wire = bytes("0b 0002") + std::string(reinterpret_cast<const char*>(&n), 4) + text + bytes("00");
        return decode<EDAMPublicUserInfo>(wire)->shardId();
    };
    const struct {
        const char* name;
        const char* insert;
        bool valid;
    } inserts[] = {
        {"stray continuation byte", "\x80", false},
        {"byte ff", "\xff", false},
        {"lead byte without its continuation", "\xc3", false},
        {"overlong slash", "\xc0\xaf", false},
        {"e acute", "\xc3\xa9", true},
        {"euro sign", "\xe2\x82\xac", true},
        {"emoji", "\xf0\x9f\x98\x80", true},
    };
    for (size_t length : {8u, 64u, 130u}) {
        for (const auto& [name, insert, valid] : inserts) {
            for (size_t at = 0; at + std::strlen(insert) <= length; ++at) {
                std::string text(length, 'a');
                text.replace(at, std::strlen(insert), insert);
                auto read = shard(text);
                EXPECT_EQ(static_cast<bool>(read), valid) << name << " at " << at << " of " << length;
                if (read && valid) {
                    EXPECT_EQ(read->utf8(), text) << name << " at " << at;
                }
            }
        }
    }
}

TEST(EDAMRecord, DecodedObjectsAreFreedWithTheRecord) {
    // Every object a decode makes belongs to the record alone: letting the
    // record go frees them all (the reader's first reference is the only one).
    EDAMUser user;
    user.setShardId(ns::str("s1"));
    auto attributes = ns::make<EDAMUserAttributes>();
    attributes->setViewedPromotions(ns::Array::make({ns::str("p1"), ns::str("p2")}));
    user.setAttributes(attributes);
    const std::string wire = encode(user);
    for (auto in : {test::reading(wire), test::streaming(wire)}) {
        auto back = ns::make<EDAMUser>();
        back->read(*in);
        ns::Weak<EDAMUser> weakUser(back);
        ns::Weak<ns::String> shard(back->shardId());
        ns::Weak<EDAMUserAttributes> nested(back->attributes());
        ASSERT_TRUE(present(back->attributes())->viewedPromotions());
        ns::Weak<ns::Array> list(present(back->attributes())->viewedPromotions());
        ns::Weak<ns::Object> element(must<ns::String>(present(present(back->attributes())->viewedPromotions())->objectAtIndex(0)));
        EXPECT_FALSE(shard.expired() || nested.expired() || list.expired() || element.expired());
        back = nullptr;
        EXPECT_TRUE(weakUser.expired());
        EXPECT_TRUE(shard.expired());
        EXPECT_TRUE(nested.expired());
        EXPECT_TRUE(list.expired());
        EXPECT_TRUE(element.expired());
    }
}

TEST(EDAMRecord, ListElementsOfTheWrongClassFailToWrite) {
    EDAMUserAttributes attributes;
    attributes.setViewedPromotions(ns::Array::make({ns::str("promo"), ns::num(3)}));
    EXPECT_THROW(encode(attributes), apache::thrift::protocol::TProtocolException);
    // Nothing of the failed record reaches the output.
    test::Wire w;
    EDAMPublicUserInfo(7, ns::str("s1"), 1, ns::str("u")).write(*w.protocol);
    std::string before = w.contents();
    EXPECT_THROW(attributes.write(*w.protocol), apache::thrift::protocol::TProtocolException);
    EXPECT_EQ(w.contents(), before);
}

TEST(EDAMRecord, StringsKeepEveryByte) {
    EDAMPublicUserInfo info;
    info.setUsername(ns::String::make(std::string("a\0b", 3)));
    EXPECT_EQ(encode(info), bytes("0b 0004 00000003 61 00 62 00"));
    EXPECT_EQ(decode<EDAMPublicUserInfo>(encode(info))->username()->utf8(), std::string("a\0b", 3));
}

TEST(EDAMRecord, EveryRecordRoundTripsWithRandomFields) {
    for (const auto& kind : fixtures::allRecordKinds()) {
        for (unsigned seed = 1; seed <= 40; ++seed) {
            auto record = kind.make();
            test::fillRecord(*record, seed * 7919u);
            std::string wire = encode(*record);
            auto back = kind.make();
            back->read(*test::reading(wire));
            ASSERT_TRUE(back->isEqual(*record))
                << kind.className << " seed " << seed << "\n  wrote " << record->description()
                << "\n  read  " << back->description();
            // Writing the decoded record gives the same bytes.
            ASSERT_EQ(encode(*back), wire) << kind.className;
            // The same through a transport that lends no memory: the bytes
            // pulled a few at a time, and written out in pieces.
            auto streamed = kind.make();
            streamed->read(*test::streaming(wire));
            ASSERT_TRUE(streamed->isEqual(*record)) << kind.className << " seed " << seed;
            ASSERT_EQ(test::encodeStreaming(*record), wire) << kind.className;
        }
    }
}

TEST(EDAMRecord, EqualityFieldByField) {
    // Same flags and equal values in every set field; a double that is not a
    // number equals itself, so a decoded copy equals its original.
    auto base = [] {
        auto a = ns::make<EDAMUserAttributes>();
        a->setDefaultLatitude(std::nan(""));
        a->setComments(ns::str("c"));
        a->setMaxReferrals(3);
        return a;
    };
    auto original = base();
    EXPECT_TRUE(original->isEqual(*base()));
    EXPECT_TRUE(decode<EDAMUserAttributes>(encode(*original))->isEqual(*original));
    const struct {
        const char* name;
        std::function<void(EDAMUserAttributes&)> change;
    } changes[] = {
        {"latitude a number", [](EDAMUserAttributes& a) { a.setDefaultLatitude(0); }},
        {"latitude unset", [](EDAMUserAttributes& a) { a.unsetDefaultLatitude(); }},
        {"longitude set to 0", [](EDAMUserAttributes& a) { a.setDefaultLongitude(0); }},
        {"other comments", [](EDAMUserAttributes& a) { a.setComments(ns::str("d")); }},
        {"comments nil", [](EDAMUserAttributes& a) { a.setComments(nullptr); }},
        {"comments unset", [](EDAMUserAttributes& a) { a.unsetComments(); }},
        {"other referrals", [](EDAMUserAttributes& a) { a.setMaxReferrals(4); }},
        {"referrals unset", [](EDAMUserAttributes& a) { a.unsetMaxReferrals(); }},
        {"count set to 0", [](EDAMUserAttributes& a) { a.setReferralCount(0); }},
    };
    for (const auto& row : changes) {
        auto changed = base();
        row.change(*changed);
        EXPECT_FALSE(changed->isEqual(*original)) << row.name;
        EXPECT_FALSE(original->isEqual(*changed)) << row.name;
    }
    // Unset fields compare equal whatever value they kept.
    auto a = base();
    auto b = base();
    a->setReferralCount(1);
    a->unsetReferralCount();
    EXPECT_TRUE(a->isEqual(*b));
}

TEST(EDAMRecord, KeyedArchivesKeepSetFieldsUnderTheirNames) {
    test::expectArchiveRoundTrip<EDAMUser>(30);
    test::expectArchiveRoundTrip<EDAMUserAttributes>(30);
    test::expectArchiveRoundTrip<EDAMAccounting>(30);
    test::expectArchiveRoundTrip<EDAMAuthenticationResult>(30);
    test::expectArchiveRoundTrip<EDAMUserException>(10);

    EDAMUser user;
    user.setPrivilege(-1);
    user.setShardId(nullptr);
    user.setActive(true);
    KeyedArchive archive;
    user.encodeWithCoder(archive);
    auto contents = archive.contents();
    EXPECT_EQ(contents->count(), 3u);
    // Enumerations archive with the plain integer operation, booleans as bools.
    EXPECT_EQ(must<ns::Number>(contents->numberForKey("privilege"))->type(), ns::NumberType::Int);
    EXPECT_EQ(must<ns::Number>(contents->numberForKey("privilege"))->intValue(), -1);
    EXPECT_TRUE(must<ns::Number>(contents->numberForKey("active"))->isBool());
    EDAMUser back(static_cast<const Coder&>(archive));
    EXPECT_TRUE(back.shardIdIsSet());
    EXPECT_FALSE(back.shardId());
    EXPECT_EQ(back.privilege(), -1);
    EXPECT_FALSE(back.idIsSet());

    EDAMUserException e(8, ns::str("password"));
    KeyedArchive ea;
    e.encodeWithCoder(ea);
    EXPECT_EQ(must<ns::String>(present(ea.contents())->stringForKey(kExceptionNameKey))->utf8(), "EDAMUserException");
    EXPECT_EQ(must<ns::String>(present(ea.contents())->stringForKey(kExceptionReasonKey))->utf8(), "unknown");
}

TEST(EDAMRecord, Descriptions) {
    EDAMAuthenticationResult fresh;
    EXPECT_EQ(fresh.description(),
              "AuthenticationResult(currentTime:0,authenticationToken:\"(null)\",expiration:0,"
              "user:(null),publicUserInfo:(null))");
    EXPECT_EQ(EDAMCheckVersion_result(true).description(), "CheckVersion_result(success:1)");
    EXPECT_EQ(EDAMcheckVersion_args(ns::str("deck"), 1, 16).description(),
              "checkVersion_args(clientName:\"deck\",edamVersionMajor:1,edamVersionMinor:16)");

    EDAMAuthenticationResult result(1300000000000LL, ns::str("S=s1:U=1"), -5,
                                    ns::make<EDAMUser>(), nullptr);
    EXPECT_EQ(result.description(),
              "AuthenticationResult(currentTime:1300000000000,authenticationToken:\"S=s1:U=1\","
              "expiration:-5,user:" + ns::make<EDAMUser>()->description() + ",publicUserInfo:(null))");

    EDAMUserAttributes attributes;
    attributes.setDefaultLatitude(37.5);
    attributes.setPreactivation(true);
    std::string d = attributes.description();
    EXPECT_EQ(d.rfind("UserAttributes(defaultLocationName:\"(null)\",defaultLatitude:37.500000,"
                      "defaultLongitude:0.000000,preactivation:1,viewedPromotions:(null),", 0), 0u)
        << d;
    EXPECT_NE(d.find(",refererCode:\"(null)\","), std::string::npos);
    EXPECT_EQ(d.back(), ')');

    EDAMUser user;
    user.setPrivilege(-1);
    EXPECT_NE(user.description().find(",privilege:-1,"), std::string::npos);
    EXPECT_EQ(user.description().rfind("User(id:0,username:\"(null)\",", 0), 0u);
}

TEST(EDAMException, NameReasonAndFields) {
    auto e = decode<EDAMUserException>(bytes("08 0001 00000008 00"));
    EXPECT_TRUE(e->errorCodeIsSet());
    EXPECT_FALSE(e->parameterIsSet());
    EXPECT_FALSE(e->parameter());
    EXPECT_EQ(e->name(), "EDAMUserException");
    EXPECT_EQ(e->reason(), "unknown");
    EXPECT_EQ(e->description(), "EDAMUserException(errorCode:8,parameter:\"(null)\")");

    EDAMUserException made(5, nullptr);
    EXPECT_EQ(encode(made), bytes("08 0001 00000005 00"));
    EXPECT_EQ(made.name(), "EDAMUserException");

    for (int code : {0, 99, -7}) {
        auto d = decode<EDAMSystemException>(encode(EDAMSystemException(code, ns::str("m"))));
        EXPECT_EQ(d->errorCode(), code);
        EXPECT_EQ(d->description(), "EDAMSystemException(errorCode:" + std::to_string(code) +
                                        ",message:\"m\")");
        EXPECT_EQ(d->name(), "EDAMSystemException");
    }
    EXPECT_EQ(EDAMNotFoundException().description(),
              "EDAMNotFoundException(identifier:\"(null)\",key:\"(null)\")");
    EXPECT_EQ(EDAMNotFoundException().name(), "EDAMNotFoundException");

    // errorCode is taken only as an i32, the parameter only as a string.
    auto mistyped = decode<EDAMUserException>(bytes("0b 0001 00000001 'x' 08 0002 00000001 00"));
    EXPECT_FALSE(mistyped->errorCodeIsSet());
    EXPECT_FALSE(mistyped->parameterIsSet());

    // Thrown copies carry the fields.
    try {
        throw EDAMUserException(*decode<EDAMUserException>(encode(EDAMUserException(3, ns::str("p")))));
    } catch (const ns::Exception& caught) {
        auto& user = dynamic_cast<const EDAMUserException&>(caught);
        EXPECT_EQ(user.errorCode(), 3);
        EXPECT_EQ(present(user.parameter())->utf8(), "p");
        EXPECT_EQ(caught.reason(), "unknown");
    }
}

TEST(EDAMResultRecord, WritesOnlyTheFirstSetField) {
    EDAMAuthenticate_result both(ns::make<EDAMAuthenticationResult>(),
                                 ns::make<EDAMUserException>(1, nullptr), nullptr);
    EXPECT_EQ(encode(both), bytes("0c 0000 00 00"));
    // First set field holds nothing: an empty struct, the later ones ignored.
    EDAMAuthenticate_result nilSuccess(nullptr, ns::make<EDAMUserException>(1, nullptr), nullptr);
    EXPECT_EQ(hex(encode(nilSuccess)), "00");
    EDAMAuthenticate_result onlyException;
    onlyException.setSystemException(ns::make<EDAMSystemException>(4, ns::str("down")));
    EXPECT_EQ(encode(onlyException), bytes("0c 0002 08 0001 00000004 0b 0002 00000004 'down' 00 00"));

    EXPECT_EQ(encode(EDAMCheckVersion_result(true)), bytes("02 0000 01 00"));
    EXPECT_EQ(encode(EDAMCheckVersion_result(false)), bytes("02 0000 00 00"));
    auto no = decode<EDAMCheckVersion_result>(bytes("02 0000 00 00"));
    EXPECT_TRUE(no->successIsSet());
    EXPECT_FALSE(no->success());

    // success as a struct is taken; as a string it is skipped.
    auto ok = decode<EDAMAuthenticate_result>(bytes("0c 0000 0b 0002 00000001 't' 00 00"));
    ASSERT_TRUE(ok->successIsSet());
    EXPECT_EQ(present(present(ok->success())->authenticationToken())->utf8(), "t");
    auto skipped = decode<EDAMAuthenticate_result>(bytes("0b 0000 00000001 't' 00"));
    EXPECT_FALSE(skipped->successIsSet());

    // getPublicUserInfo lists not-found, system, user at ids 1, 2, 3.
    EDAMGetPublicUserInfo_result pub;
    pub.setUserException(ns::make<EDAMUserException>());
    EXPECT_EQ(encode(pub), bytes("0c 0003 00 00"));
}

TEST(EDAMArgsRecord, FieldsAndGoldenBytes) {
    EXPECT_EQ(hex(encode(EDAMgetPublicUserInfo_args())), "00");
    EXPECT_EQ(encode(EDAMgetPublicUserInfo_args(ns::str("bob"))), bytes("0b 0001 00000003 'bob' 00"));
    EXPECT_EQ(encode(EDAMcheckVersion_args(nullptr, 1, 16)),
              bytes("06 0002 0001 06 0003 0010 00"));
    EXPECT_EQ(std::string(EDAMcheckVersion_args().structName()), "checkVersion_args");
    EXPECT_EQ(std::string(EDAMCheckVersion_result().structName()), "CheckVersion_result");
    EXPECT_EQ(std::string(EDAMGetPublicUserInfo_result().className()), "EDAMGetPublicUserInfo_result");
}

TEST(EDAMApplicationException, NamesByType) {
    EXPECT_STREQ(wire::applicationExceptionName(1), "Unknown method");
    EXPECT_STREQ(wire::applicationExceptionName(2), "Invalid message type");
    EXPECT_STREQ(wire::applicationExceptionName(3), "Wrong method name");
    EXPECT_STREQ(wire::applicationExceptionName(4), "Bad sequence ID");
    EXPECT_STREQ(wire::applicationExceptionName(5), "Missing result");
    EXPECT_STREQ(wire::applicationExceptionName(0), "Unknown");
    EXPECT_STREQ(wire::applicationExceptionName(77), "Unknown");

    test::Wire w;
    std::string message = "m";
    wire::writeApplicationException(*w.protocol, 5, &message);
    EXPECT_EQ(w.contents(), bytes("0b 0001 00000001 'm' 08 0002 00000005 00"));
    test::Wire none;
    wire::writeApplicationException(*none.protocol, 1, nullptr);
    EXPECT_EQ(none.contents(), bytes("08 0002 00000001 00"));
}

TEST(EDAMConstants, Values) {
    EXPECT_EQ(EDAMUserStoreConstants::EDAM_VERSION_MAJOR(), 1);
    EXPECT_EQ(EDAMUserStoreConstants::EDAM_VERSION_MINOR(), 16);

    // The service's limits: a wrong one lets a caller send what the service
    // refuses, or refuse what it takes.
    using L = EDAMLimitsConstants;
    struct Limit {
        const char* name;
        int32_t value;
        int32_t expected;
    };
    const Limit limits[] = {
        {"ATTRIBUTE_LEN_MIN", L::EDAM_ATTRIBUTE_LEN_MIN(), 1},
        {"ATTRIBUTE_LEN_MAX", L::EDAM_ATTRIBUTE_LEN_MAX(), 4096},
        {"ATTRIBUTE_LIST_MAX", L::EDAM_ATTRIBUTE_LIST_MAX(), 100},
        {"GUID_LEN_MIN", L::EDAM_GUID_LEN_MIN(), 36},
        {"GUID_LEN_MAX", L::EDAM_GUID_LEN_MAX(), 36},
        {"EMAIL_LEN_MIN", L::EDAM_EMAIL_LEN_MIN(), 6},
        {"EMAIL_LEN_MAX", L::EDAM_EMAIL_LEN_MAX(), 255},
        {"TIMEZONE_LEN_MIN", L::EDAM_TIMEZONE_LEN_MIN(), 1},
        {"TIMEZONE_LEN_MAX", L::EDAM_TIMEZONE_LEN_MAX(), 32},
        {"MIME_LEN_MIN", L::EDAM_MIME_LEN_MIN(), 3},
        {"MIME_LEN_MAX", L::EDAM_MIME_LEN_MAX(), 255},
        {"SEARCH_QUERY_LEN_MIN", L::EDAM_SEARCH_QUERY_LEN_MIN(), 0},
        {"SEARCH_QUERY_LEN_MAX", L::EDAM_SEARCH_QUERY_LEN_MAX(), 1024},
        {"HASH_LEN", L::EDAM_HASH_LEN(), 16},
        {"USER_USERNAME_LEN_MIN", L::EDAM_USER_USERNAME_LEN_MIN(), 1},
        {"USER_USERNAME_LEN_MAX", L::EDAM_USER_USERNAME_LEN_MAX(), 64},
        {"USER_NAME_LEN_MIN", L::EDAM_USER_NAME_LEN_MIN(), 1},
        {"USER_NAME_LEN_MAX", L::EDAM_USER_NAME_LEN_MAX(), 255},
        {"TAG_NAME_LEN_MIN", L::EDAM_TAG_NAME_LEN_MIN(), 1},
        {"TAG_NAME_LEN_MAX", L::EDAM_TAG_NAME_LEN_MAX(), 100},
        {"NOTE_TITLE_LEN_MIN", L::EDAM_NOTE_TITLE_LEN_MIN(), 1},
        {"NOTE_TITLE_LEN_MAX", L::EDAM_NOTE_TITLE_LEN_MAX(), 255},
        {"NOTE_CONTENT_LEN_MIN", L::EDAM_NOTE_CONTENT_LEN_MIN(), 0},
        {"NOTE_CONTENT_LEN_MAX", L::EDAM_NOTE_CONTENT_LEN_MAX(), 5 * 1048576},
        {"NOTEBOOK_NAME_LEN_MIN", L::EDAM_NOTEBOOK_NAME_LEN_MIN(), 1},
        {"NOTEBOOK_NAME_LEN_MAX", L::EDAM_NOTEBOOK_NAME_LEN_MAX(), 100},
        {"NOTEBOOK_STACK_LEN_MIN", L::EDAM_NOTEBOOK_STACK_LEN_MIN(), 1},
        {"NOTEBOOK_STACK_LEN_MAX", L::EDAM_NOTEBOOK_STACK_LEN_MAX(), 100},
        {"PUBLISHING_URI_LEN_MIN", L::EDAM_PUBLISHING_URI_LEN_MIN(), 1},
        {"PUBLISHING_URI_LEN_MAX", L::EDAM_PUBLISHING_URI_LEN_MAX(), 255},
        {"PUBLISHING_DESCRIPTION_LEN_MIN", L::EDAM_PUBLISHING_DESCRIPTION_LEN_MIN(), 1},
        {"PUBLISHING_DESCRIPTION_LEN_MAX", L::EDAM_PUBLISHING_DESCRIPTION_LEN_MAX(), 200},
        {"SAVED_SEARCH_NAME_LEN_MIN", L::EDAM_SAVED_SEARCH_NAME_LEN_MIN(), 1},
        {"SAVED_SEARCH_NAME_LEN_MAX", L::EDAM_SAVED_SEARCH_NAME_LEN_MAX(), 100},
        {"USER_PASSWORD_LEN_MIN", L::EDAM_USER_PASSWORD_LEN_MIN(), 6},
        {"USER_PASSWORD_LEN_MAX", L::EDAM_USER_PASSWORD_LEN_MAX(), 64},
        {"NOTE_TAGS_MAX", L::EDAM_NOTE_TAGS_MAX(), 100},
        {"NOTE_RESOURCES_MAX", L::EDAM_NOTE_RESOURCES_MAX(), 1000},
        {"USER_TAGS_MAX", L::EDAM_USER_TAGS_MAX(), 100000},
        {"USER_SAVED_SEARCHES_MAX", L::EDAM_USER_SAVED_SEARCHES_MAX(), 100},
        {"USER_NOTES_MAX", L::EDAM_USER_NOTES_MAX(), 100000},
        {"USER_NOTEBOOKS_MAX", L::EDAM_USER_NOTEBOOKS_MAX(), 100},
        {"USER_RECENT_MAILED_ADDRESSES_MAX", L::EDAM_USER_RECENT_MAILED_ADDRESSES_MAX(), 10},
        {"USER_MAIL_LIMIT_DAILY_FREE", L::EDAM_USER_MAIL_LIMIT_DAILY_FREE(), 50},
        {"USER_MAIL_LIMIT_DAILY_PREMIUM", L::EDAM_USER_MAIL_LIMIT_DAILY_PREMIUM(), 200},
        {"NOTE_SIZE_MAX_FREE", L::EDAM_NOTE_SIZE_MAX_FREE(), 25 * 1048576},
        {"NOTE_SIZE_MAX_PREMIUM", L::EDAM_NOTE_SIZE_MAX_PREMIUM(), 50 * 1048576},
        {"RESOURCE_SIZE_MAX_FREE", L::EDAM_RESOURCE_SIZE_MAX_FREE(), 25 * 1048576},
        {"RESOURCE_SIZE_MAX_PREMIUM", L::EDAM_RESOURCE_SIZE_MAX_PREMIUM(), 50 * 1048576},
        {"USER_LINKED_NOTEBOOK_MAX", L::EDAM_USER_LINKED_NOTEBOOK_MAX(), 100},
        {"NOTEBOOK_SHARED_NOTEBOOK_MAX", L::EDAM_NOTEBOOK_SHARED_NOTEBOOK_MAX(), 100},
    };
    for (const auto& limit : limits) EXPECT_EQ(limit.value, limit.expected) << limit.name;

    struct Text {
        const char* name;
        const char* value;
        const char* expected;
    };
    const Text texts[] = {
        {"NOTE_SOURCE_WEB_CLIP", EDAMTypesConstants::EDAM_NOTE_SOURCE_WEB_CLIP(), "web.clip"},
        {"NOTE_SOURCE_MAIL_CLIP", EDAMTypesConstants::EDAM_NOTE_SOURCE_MAIL_CLIP(), "mail.clip"},
        {"NOTE_SOURCE_MAIL_SMTP_GATEWAY", EDAMTypesConstants::EDAM_NOTE_SOURCE_MAIL_SMTP_GATEWAY(), "mail.smtp"},
        {"MIME_TYPE_GIF", L::EDAM_MIME_TYPE_GIF(), "image/gif"},
        {"MIME_TYPE_JPEG", L::EDAM_MIME_TYPE_JPEG(), "image/jpeg"},
        {"MIME_TYPE_PNG", L::EDAM_MIME_TYPE_PNG(), "image/png"},
        {"MIME_TYPE_WAV", L::EDAM_MIME_TYPE_WAV(), "audio/wav"},
        {"MIME_TYPE_MP3", L::EDAM_MIME_TYPE_MP3(), "audio/mpeg"},
        {"MIME_TYPE_AMR", L::EDAM_MIME_TYPE_AMR(), "audio/amr"},
        {"MIME_TYPE_INK", L::EDAM_MIME_TYPE_INK(), "application/vnd.evernote.ink"},
        {"MIME_TYPE_PDF", L::EDAM_MIME_TYPE_PDF(), "application/pdf"},
        {"MIME_TYPE_DEFAULT", L::EDAM_MIME_TYPE_DEFAULT(), "application/octet-stream"},
        {"COMMERCE_SERVICE_GOOGLE", L::EDAM_COMMERCE_SERVICE_GOOGLE(), "Google"},
        {"COMMERCE_SERVICE_PAYPAL", L::EDAM_COMMERCE_SERVICE_PAYPAL(), "Paypal"},
        {"COMMERCE_SERVICE_GIFT", L::EDAM_COMMERCE_SERVICE_GIFT(), "Gift"},
        {"COMMERCE_SERVICE_TRIALPAY", L::EDAM_COMMERCE_SERVICE_TRIALPAY(), "TrialPay"},
    };
    for (const auto& text : texts) EXPECT_STREQ(text.value, text.expected) << text.name;
    EXPECT_STREQ(EDAMLimitsConstants::EDAM_NOTEBOOK_STACK_REGEX(),
                 EDAMLimitsConstants::EDAM_NOTEBOOK_NAME_REGEX());
    EXPECT_STREQ(EDAMLimitsConstants::EDAM_SAVED_SEARCH_NAME_REGEX(),
                 EDAMLimitsConstants::EDAM_NOTEBOOK_NAME_REGEX());
    EXPECT_STREQ(EDAMLimitsConstants::EDAM_USER_PASSWORD_REGEX(),
                 "^[A-Za-z0-9!#$%&'()*+,./:;<=>?@^_`{|}~\\[\\]\\\\-]{6,64}$");
    EXPECT_EQ(std::string(EDAMLimitsConstants::EDAM_EMAIL_REGEX()),
              std::string(EDAMLimitsConstants::EDAM_EMAIL_LOCAL_REGEX()).substr(
                  0, std::string(EDAMLimitsConstants::EDAM_EMAIL_LOCAL_REGEX()).size() - 1) +
                  "@" + std::string(EDAMLimitsConstants::EDAM_EMAIL_DOMAIN_REGEX()).substr(1));

    StringSet* mime = EDAMLimitsConstants::EDAM_MIME_TYPES();
    EXPECT_EQ(mime, EDAMLimitsConstants::EDAM_MIME_TYPES());
    EXPECT_EQ(mime->count(), 8u);
    EXPECT_TRUE(mime->containsObject("audio/mpeg"));
    EXPECT_FALSE(mime->containsObject("application/octet-stream"));
    EXPECT_TRUE(EDAMLimitsConstants::EDAM_PUBLISHING_URI_PROHIBITED()->containsObject(".."));
    EXPECT_EQ(EDAMLimitsConstants::EDAM_PUBLISHING_URI_PROHIBITED()->count(), 1u);
    // Descriptions list the members sorted, between "{(" and ")}".
    EXPECT_EQ(mime->description(),
              "{(application/pdf, application/vnd.evernote.ink, audio/amr, audio/mpeg, audio/wav, "
              "image/gif, image/jpeg, image/png)}");
    EXPECT_EQ(EDAMLimitsConstants::EDAM_PUBLISHING_URI_PROHIBITED()->description(), "{(..)}");
    EXPECT_EQ(StringSet({}).description(), "{()}");
    // A caller may hold the shared sets and let them go: they live on, and
    // holding them counts nothing (they are never released).
    for (StringSet* shared : {EDAMLimitsConstants::EDAM_MIME_TYPES(),
                              EDAMLimitsConstants::EDAM_PUBLISHING_URI_PROHIBITED()}) {
        const uint32_t count = shared->retainCount();
        for (int round = 0; round < 2; ++round) {
            ns::Ref<StringSet> held(shared);
            EXPECT_EQ(held->retainCount(), count) << shared->description();
        }
    }
    EXPECT_EQ(EDAMLimitsConstants::EDAM_MIME_TYPES()->description(), mime->description());
    EXPECT_EQ(EDAMLimitsConstants::EDAM_PUBLISHING_URI_PROHIBITED()->description(), "{(..)}");
}

}  // namespace
}  // namespace evernote
