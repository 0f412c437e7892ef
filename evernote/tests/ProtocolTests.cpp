// Malformed input: every failure is an exception, never a crash or an
// allocation sized by an unchecked length.
#include <gtest/gtest.h>

#include <map>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <stdexcept>

#include <thrift/TApplicationException.h>
#include <thrift/protocol/TCompactProtocol.h>
#include <thrift/protocol/TProtocolException.h>
#include <thrift/transport/TBufferTransports.h>
#include <thrift/transport/TTransportException.h>
#include <thrift/transport/TVirtualTransport.h>

#include "evernote/notestore/EDAMNoteStore.h"
#include "evernote/tests/AllocationMeter.h"
#include "evernote/tests/EDAMRecordFixtures.h"
#include "evernote/tests/TestSupport.h"
#include "evernote/types/EDAMAccount.h"
#include "evernote/types/InPlaceTransport.h"
#include "evernote/types/Wire.h"
#include "evernote/userstore/EDAMUserStoreClient.h"
#include "evernote/userstore/EDAMUserStore.h"

namespace evernote {
namespace {

using apache::thrift::TException;
using apache::thrift::protocol::TProtocolException;
using apache::thrift::transport::TTransportException;
using test::bytes;

std::string protocolFailure(const std::string& input, bool strictRead = false) {
    auto buffer = std::make_shared<test::TMemoryBuffer>();
    buffer->write(reinterpret_cast<const uint8_t*>(input.data()), static_cast<uint32_t>(input.size()));
    BinaryProtocol protocol(buffer, strictRead);
    try {
        std::string name;
        TMessageType type;
        int32_t seqid;
        protocol.readMessageBegin(name, type, seqid);
    } catch (const TProtocolException& e) {
        return e.what();
    }
    return "";
}

TEST(EDAMProtocol, MessageHeaders) {
    // Written with strict write off: name, type, sequence id.
    test::Wire w;
    w.protocol->writeMessageBegin("getUser", apache::thrift::protocol::T_CALL, 0);
    EXPECT_EQ(w.contents(), bytes("00000007 'getUser' 01 00000000"));

    // Read: versioned and unversioned forms.
    for (const std::string& input : {bytes("80010002 00000003 'abc' 0000002a"),
                                     bytes("00000003 'abc' 02 0000002a")}) {
        std::string name;
        TMessageType type;
        int32_t seqid;
        test::reading(input)->readMessageBegin(name, type, seqid);
        EXPECT_EQ(name, "abc");
        EXPECT_EQ(type, apache::thrift::protocol::T_REPLY);
        EXPECT_EQ(seqid, 42);
    }
    // An unversioned header may carry an empty name; a type byte outside 1
    // to 4 reads as a call, in either form.
    const struct {
        const char* name;
        const char* input;
        const char* method;
        TMessageType type;
    } headers[] = {
        {"unversioned, empty name", "00000000 01 00000005", "", apache::thrift::protocol::T_CALL},
        {"versioned, empty name", "80010004 00000000 00000005", "", apache::thrift::protocol::T_ONEWAY},
        {"unversioned, type 0", "00000001 'a' 00 00000005", "a", apache::thrift::protocol::T_CALL},
        {"unversioned, type 4", "00000001 'a' 04 00000005", "a", apache::thrift::protocol::T_ONEWAY},
        {"unversioned, type 5", "00000001 'a' 05 00000005", "a", apache::thrift::protocol::T_CALL},
        {"versioned, type 0", "80010000 00000001 'a' 00000005", "a", apache::thrift::protocol::T_CALL},
        {"versioned, type 3", "80010003 00000001 'a' 00000005", "a", apache::thrift::protocol::T_EXCEPTION},
        {"versioned, type 5", "80010005 00000001 'a' 00000005", "a", apache::thrift::protocol::T_CALL},
    };
    for (const auto& row : headers) {
        std::string name = "?";
        TMessageType type = apache::thrift::protocol::T_REPLY;
        int32_t seqid = 0;
        auto in = test::reading(bytes(row.input));
        EXPECT_EQ(in->readMessageBegin(name, type, seqid), bytes(row.input).size()) << row.name;
        EXPECT_EQ(name, row.method) << row.name;
        EXPECT_EQ(type, row.type) << row.name;
        EXPECT_EQ(seqid, 5) << row.name;
    }
    EXPECT_EQ(protocolFailure(bytes("80020002 00000003 'abc' 00000000")), "Bad version in readMessageBegin");
    EXPECT_EQ(protocolFailure(bytes("ffff0001 00000000 00000000")), "Bad version in readMessageBegin");
    EXPECT_EQ(protocolFailure(bytes("00000003 'abc' 02 00000000"), true),
              "Missing version in readMessageBegin, old client?");

    // A call's header in the protocol's form: versioned with strict write
    // on, and written by Thrift's own binary protocol when the client is
    // given one (its default is strict write).
    auto strict = std::make_shared<test::TMemoryBuffer>();
    EDAMUserStoreClient(std::make_shared<BinaryProtocol>(strict, false, true)).send_getUser(ns::str("t"));
    auto thrifts = std::make_shared<test::TMemoryBuffer>();
    EDAMUserStoreClient(std::make_shared<apache::thrift::protocol::TBinaryProtocol>(thrifts)).send_getUser(ns::str("t"));
    for (const auto& buffer : {strict, thrifts})
        EXPECT_EQ(buffer->getBufferAsString(), bytes("80010001 00000007 'getUser' 00000000 0b 0001 00000001 't' 00"));

    // Records speak the binary protocol only; another protocol is refused,
    // not misread.
    apache::thrift::protocol::TCompactProtocol compact(std::make_shared<test::TMemoryBuffer>());
    try {
        EDAMUser().write(compact);
        ADD_FAILURE() << "written with the compact protocol";
    } catch (const TProtocolException& e) {
        EXPECT_EQ(e.getType(), TProtocolException::NOT_IMPLEMENTED);
    }
    EXPECT_THROW(EDAMUser().read(compact), TProtocolException);
}

TEST(EDAMProtocol, LengthsAndCountsAreChecked) {
    auto fails = [](const std::string& input) {
        try {
            test::decode<EDAMUser>(input);
        } catch (const TException&) {
            return true;
        }
        return false;
    };
    // Negative and huge string lengths (the second would be a 2 GiB buffer).
    EXPECT_TRUE(fails(bytes("0b 0002 ffffffff 00")));
    EXPECT_TRUE(fails(bytes("0b 0002 7fffffff 'abc' 00")));
    EXPECT_TRUE(fails(bytes("0b 0002 00000010 'abc'")));
    // Huge list and map counts, read or skipped.
    EXPECT_TRUE(fails(bytes("0c 000f 0f 0005 0b 7fffffff 00 00")));
    EXPECT_TRUE(fails(bytes("0f 0063 0c 7fffffff 00")));
    EXPECT_TRUE(fails(bytes("0d 0063 0b 0b 40000000 00")));
    EXPECT_TRUE(fails(bytes("0f 0063 0b 00000001 7fffffff 00")));
    // Unknown type codes.
    EXPECT_TRUE(fails(bytes("07 0063 00")));
    EXPECT_TRUE(fails(bytes("0f 0063 11 00000001 00 00")));
    EXPECT_TRUE(fails(bytes("0f 0063 7f 00000001 00 00")));
    EXPECT_TRUE(fails(bytes("0d 0063 0b 80 00000001 00000000 00 00")));
    // Every type code a byte can hold, as an unknown field with a value of
    // that type: the wire's codes are skipped, every other one is refused as
    // invalid, and the edges of each run of codes are among them.
    for (int code = 0; code < 256; ++code) {
        SCOPED_TRACE(testing::Message() << "type code " << code);
        static const std::map<int, const char*> kValues = {
            {0, ""},  // the stop byte: the record ends at once
            {2, "01"}, {3, "7f"}, {4, "3ff0000000000000"}, {6, "0001"}, {8, "00000001"},
            {10, "0000000000000001"}, {11, "00000001 'x'"}, {12, "00"}, {13, "0b 08 00000001 00000001 'k' 00000002"},
            {14, "08 00000001 00000003"}, {15, "0b 00000001 00000001 'y'"},
        };
        char head[8];
        std::snprintf(head, sizeof head, "%02x", code);
        auto value = kValues.find(code);
        const std::string input = code == 0 ? bytes("00")
                                            : bytes(std::string(head) + " 0063 " +
                                                    (value != kValues.end() ? value->second : "00") + " 00");
        if (value != kValues.end()) {
            EXPECT_FALSE(fails(input));
        } else {
            try {
                test::decode<EDAMUser>(input);
                ADD_FAILURE() << "decoded";
            } catch (const TProtocolException& e) {
                EXPECT_EQ(e.getType(), TProtocolException::INVALID_DATA);
            }
        }
    }
    // An empty list's element type is never used.
    EXPECT_FALSE(fails(bytes("0c 000f 0f 0005 7f 00000000 00 00")));
    // Truncated.
    EXPECT_TRUE(fails(bytes("08 0001 0000")));
    EXPECT_TRUE(fails(bytes("")));
    // A memory buffer that never had any memory holds no bytes at all.
    auto none = std::make_shared<test::TMemoryBuffer>(nullptr, 0u, test::TMemoryBuffer::OBSERVE);
    try {
        ns::make<EDAMUser>()->read(*std::make_shared<BinaryProtocol>(none));
        ADD_FAILURE() << "decoded from no memory";
    } catch (const TTransportException& e) {
        EXPECT_EQ(e.getType(), TTransportException::END_OF_FILE);
    }

    // An unknown field of each wire type one byte short of its value: the
    // skip fails at the end of the input instead of stepping past it.
    const std::pair<const char*, const char*> shortValues[] = {
        {"bool", "02 0063"},
        {"byte", "03 0063"},
        {"double", "04 0063 3ff00000000000"},
        {"i16", "06 0063 80"},
        {"i32", "08 0063 7fffff"},
        {"i64", "0a 0063 80000000000000"},
        {"string", "0b 0063 00000003 'ab'"},
        {"string length", "0b 0063 000000"},
        {"list of i32", "0f 0063 08 00000002 00000001 000000"},
        {"map of i16 to i64", "0d 0063 06 0a 00000001 0001 00000000000000"},
    };
    for (const auto& [type, field] : shortValues) {
        for (auto in : {test::reading(bytes(field)), test::streaming(bytes(field))}) {
            try {
                ns::make<EDAMPublicUserInfo>()->read(*in);
                ADD_FAILURE() << type << ": decoded";
            } catch (const TTransportException& e) {
                EXPECT_EQ(e.getType(), TTransportException::END_OF_FILE) << type;
            } catch (const TException& e) {
                ADD_FAILURE() << type << ": " << e.what();
            }
        }
    }

    // Containers whose elements fill the input to its last byte read: a
    // list element takes at least one byte, a map entry two.
    const std::pair<const char*, const char*> tight[] = {
        {"list of bytes", "0f 0063 03 00000003 010203 00"},
        {"set of bools", "0e 0063 02 00000002 0100 00"},
        {"map of bytes", "0d 0063 03 03 00000002 0102 0304 00"},
        {"list of strings", "0f 0005 0b 00000002 00000001 'a' 00000000 00"},
    };
    for (const auto& [name, input] : tight) {
        for (auto in : {test::reading(bytes(input)), test::streaming(bytes(input))}) {
            auto attributes = ns::make<EDAMUserAttributes>();
            EXPECT_NO_THROW(attributes->read(*in)) << name;
        }
    }
    // One element more than the bytes left could hold fails at the header,
    // before any element is read.
    for (const auto& [input, needed] : {std::pair<const char*, const char*>{"0f 0063 03 00000005 010203 00", "needs 5 bytes"},
                                        {"0d 0063 03 03 00000002 0102 03", "needs 4 bytes"},
                                        {"0d 0063 03 03 00000003 0102 0304 00", "needs 6 bytes"}}) {
        try {
            test::decode<EDAMUser>(bytes(input));
            ADD_FAILURE() << input << " decoded";
        } catch (const TTransportException& e) {
            EXPECT_EQ(e.getType(), TTransportException::END_OF_FILE) << input;
            EXPECT_NE(std::string(e.what()).find(std::string("a list, set or map ") + needed), std::string::npos)
                << input << ": " << e.what();
        }
    }

    // A length that passes the limits but not the bytes left fails before
    // anything is read or allocated for it, and says so.
    try {
        test::decode<EDAMUser>(bytes("0b 0002 03c00000 'abc' 00"));
        ADD_FAILURE() << "a 60 MiB string decoded from 3 bytes";
    } catch (const TTransportException& e) {
        EXPECT_EQ(e.getType(), TTransportException::END_OF_FILE);
        EXPECT_NE(std::string(e.what()).find("left in the input"), std::string::npos) << e.what();
    }
}

TEST(EDAMProtocol, StringAndContainerLimitsHoldExactly) {
    auto limited = [](const std::string& input) {
        auto buffer = std::make_shared<test::TMemoryBuffer>();
        buffer->write(reinterpret_cast<const uint8_t*>(input.data()), static_cast<uint32_t>(input.size()));
        auto user = ns::make<EDAMUserAttributes>();
        user->read(*std::make_shared<BinaryProtocol>(buffer, false, false, 5, 3));
        return user;
    };
    auto sizeLimit = [&](const std::string& input) {
        try {
            limited(input);
        } catch (const TProtocolException& e) {
            return e.getType() == TProtocolException::SIZE_LIMIT;
        }
        return false;
    };
    // Strings of exactly the limit read; one byte more fails.
    EXPECT_EQ(limited(bytes("0b 0001 00000005 'abcde' 00"))->defaultLocationName()->utf8(), "abcde");
    EXPECT_TRUE(sizeLimit(bytes("0b 0001 00000006 'abcdef' 00")));
    // Lists of exactly the limit read, read or skipped; one element more fails.
    EXPECT_EQ(limited(bytes("0f 0005 0b 00000003 00000001 'a' 00000001 'b' 00000001 'c' 00"))
                  ->viewedPromotions()->count(), 3u);
    EXPECT_TRUE(sizeLimit(bytes("0f 0005 0b 00000004 00000001 'a' 00000001 'b' 00000001 'c' 00000001 'd' 00")));
    EXPECT_FALSE(sizeLimit(bytes("0f 0063 03 00000003 01 02 03 00")));
    EXPECT_TRUE(sizeLimit(bytes("0f 0063 03 00000004 01 02 03 04 00")));
    // Maps count pairs against the same limit.
    EXPECT_FALSE(sizeLimit(bytes("0d 0063 03 03 00000003 0102 0304 0506 00")));
    EXPECT_TRUE(sizeLimit(bytes("0d 0063 03 03 00000004 0102 0304 0506 0708 00")));
}

TEST(EDAMProtocol, DefaultLimitsHoldAtTheirValue) {
    // The default limits, 64 MiB for a string and 16 Mi elements for a
    // container, are told apart without the bytes: a length at the limit
    // passes the limit and fails for want of input; one more is refused by
    // the limit. Our protocol and Thrift's own binary protocol alike.
    const struct {
        const char* name;
        const char* input;
        bool overLimit;
    } rows[] = {
        {"string at the limit", "0b 0001 04000000", false},
        {"string one past", "0b 0001 04000001", true},
        {"skipped string at the limit", "0b 0063 04000000", false},
        {"skipped string one past", "0b 0063 04000001", true},
        {"list at the limit", "0f 0005 0b 01000000", false},
        {"list one past", "0f 0005 0b 01000001", true},
        {"skipped list at the limit", "0f 0063 0b 01000000", false},
        {"skipped list one past", "0f 0063 0b 01000001", true},
        {"skipped map at the limit", "0d 0063 0b 0b 01000000", false},
        {"skipped map one past", "0d 0063 0b 0b 01000001", true},
    };
    for (const auto& row : rows) {
        const std::string input = bytes(row.input);
        auto buffer = std::make_shared<test::TMemoryBuffer>();
        buffer->write(reinterpret_cast<const uint8_t*>(input.data()), static_cast<uint32_t>(input.size()));
        std::shared_ptr<apache::thrift::protocol::TProtocol> protocols[] = {
            test::reading(input), std::make_shared<apache::thrift::protocol::TBinaryProtocol>(buffer)};
        for (const auto& in : protocols) {
            try {
                ns::make<EDAMUserAttributes>()->read(*in);
                ADD_FAILURE() << row.name << ": decoded";
            } catch (const TProtocolException& e) {
                EXPECT_TRUE(row.overLimit) << row.name << ": " << e.what();
                EXPECT_EQ(e.getType(), TProtocolException::SIZE_LIMIT) << row.name;
            } catch (const TTransportException& e) {
                EXPECT_FALSE(row.overLimit) << row.name << ": " << e.what();
                EXPECT_EQ(e.getType(), TTransportException::END_OF_FILE) << row.name;
            }
        }
    }
    // A protocol made with no limits (0) takes any length.
    auto buffer = std::make_shared<test::TMemoryBuffer>();
    const std::string huge = bytes("0b 0063 7fffffff");
    buffer->write(reinterpret_cast<const uint8_t*>(huge.data()), static_cast<uint32_t>(huge.size()));
    try {
        BinaryProtocol unlimited(buffer, false, false, 0, 0);
        ns::make<EDAMUser>()->read(unlimited);
        ADD_FAILURE() << "2 GiB string decoded from no bytes";
    } catch (const TTransportException& e) {
        EXPECT_EQ(e.getType(), TTransportException::END_OF_FILE);
    }
}

TEST(EDAMProtocol, DeepNestingFailsWithoutExhaustingTheStack) {
    // An unknown field nesting structs 100000 deep.
    std::string deep;
    for (int i = 0; i < 100000; ++i) deep += bytes("0c 0063");
    try {
        test::decode<EDAMUser>(deep);
        FAIL() << "deep nesting decoded";
    } catch (const TProtocolException& e) {
        EXPECT_EQ(e.getType(), TProtocolException::DEPTH_LIMIT);
    }
    // The record read takes the first of the 64 levels: an unknown field of
    // 63 nested structs is skipped, one of 64 fails; lists count alike.
    auto nestedStructs = [](int levels) {
        std::string in;
        for (int i = 0; i < levels; ++i) in += bytes("0c 0063");
        return in + std::string(levels + 1, '\0');
    };
    auto nestedLists = [](int levels) {
        std::string in = bytes("0f 0063");
        for (int i = 1; i < levels; ++i) in += bytes("0f 00000001");
        return in + bytes("03 00000000 00");
    };
    for (const auto& nested : {std::function<std::string(int)>(nestedStructs), std::function<std::string(int)>(nestedLists)}) {
        EXPECT_NO_THROW(test::decode<EDAMUser>(nested(WireReader::kMaxDepth - 1)));
        try {
            test::decode<EDAMUser>(nested(WireReader::kMaxDepth));
            ADD_FAILURE() << "64 levels under a record decoded";
        } catch (const TProtocolException& e) {
            EXPECT_EQ(e.getType(), TProtocolException::DEPTH_LIMIT);
        }
    }
    // Lists of lists, skipped.
    std::string lists;
    for (int i = 0; i < 100000; ++i) lists += bytes("0f 00000001");
    EXPECT_THROW(test::decode<EDAMUser>(bytes("0f 0063") + lists), TException);
    // Nested known records stay within the limit.
    EDAMUser user;
    user.setAttributes(ns::make<EDAMUserAttributes>());
    EXPECT_NO_THROW(test::decode<EDAMUser>(test::encode(user)));
}

TEST(EDAMProtocol, EveryTruncationOfAValidReplyFails) {
    auto result = ns::make<EDAMAuthenticationResult>();
    test::fillRecord(*result, 12345);
    auto user = ns::make<EDAMUser>();
    test::fillRecord(*user, 99);
    result->setUser(user);
    test::Wire w;
    w.protocol->writeMessageBegin("authenticate", apache::thrift::protocol::T_REPLY, 0);
    EDAMAuthenticate_result(result, nullptr, nullptr).write(*w.protocol);
    std::string reply = w.contents();
    for (size_t n = 0; n < reply.size(); ++n) {
        for (auto in : {test::reading(reply.substr(0, n)), test::streaming(reply.substr(0, n))}) {
            EXPECT_THROW(
                {
                    wire::readReplyBegin(*in);
                    ns::make<EDAMAuthenticate_result>()->read(*in);
                },
                TException)
                << n;
        }
    }
}

// A listNotebooks reply whose result holds `count` empty notebooks (one stop
// byte each): what a hostile or broken service can send to make a reader
// allocate a record per byte.
std::string emptyNotebooksReply(uint32_t count) {
    std::string reply = bytes("0000000d 'listNotebooks' 02 00000000 0f 0000 0c");
    uint32_t n = __builtin_bswap32(count);
    reply.append(reinterpret_cast<const char*>(&n), 4);
    reply.append(count, '\0');
    return reply + bytes("00");
}

void expectRefusedForMemory(BinaryProtocol& in) {
    try {
        wire::readReplyBegin(in);
        ns::make<EDAMListNotebooks_result>()->read(in);
        ADD_FAILURE() << "a reply of empty records decoded";
    } catch (const TProtocolException& e) {
        EXPECT_EQ(e.getType(), TProtocolException::SIZE_LIMIT);
        EXPECT_NE(std::string(e.what()).find("decoding would need more than"), std::string::npos) << e.what();
    }
}

TEST(EDAMProtocol, ReadingTakesAtMostASmallMultipleOfTheInput) {
    const uint32_t count = 16 * 1024 * 1024;
    const std::string reply = emptyNotebooksReply(count);
    {
        // The whole reply in memory: refused at the list header, before any
        // record is made.
        auto in = test::reading(reply);
        test::AllocationMeter meter;
        expectRefusedForMemory(*in);
        EXPECT_LT(meter.peak(), 64 * 1024);
    }
    {
        // From a stream, where the reader cannot see the end: refused as
        // soon as the elements that arrived could not pay for themselves.
        auto buffer = std::make_shared<test::TMemoryBuffer>();
        buffer->write(reinterpret_cast<const uint8_t*>(reply.data()), static_cast<uint32_t>(reply.size()));
        BinaryProtocol in(std::make_shared<apache::thrift::transport::TBufferedTransport>(buffer));
        test::AllocationMeter meter;
        expectRefusedForMemory(in);
        EXPECT_LT(meter.peak(), 3 * static_cast<long long>(reply.size()));
    }
    // What the reader charges is not less than what decoding really takes,
    // so the limit holds for real allocations too.
    for (const auto& kind : fixtures::allRecordKinds()) {
        for (unsigned seed = 1; seed <= 10; ++seed) {
            auto record = kind.make();
            test::fillRecord(*record, seed * 104729u);
            auto in = test::reading(test::encode(*record));
            auto back = kind.make();
            test::AllocationMeter meter;
            WireReader reader(*in);
            back->readFrom(reader);
            ASSERT_LE(meter.peak(), static_cast<long long>(reader.budget().spent()))
                << kind.className << " seed " << seed << " spent " << reader.budget().spent();
        }
    }
}

TEST(EDAMProtocol, BudgetHoldsAtItsLimit) {
    // 1 MiB plus 16 times the input may be charged, to the byte; input that
    // arrives later raises the limit by 16 times its size.
    auto refused = [](AllocationBudget& budget, size_t bytes) {
        try {
            budget.charge(bytes);
        } catch (const TProtocolException& e) {
            EXPECT_EQ(e.getType(), TProtocolException::SIZE_LIMIT);
            return true;
        }
        return false;
    };
    for (size_t input : {0u, 1u, 1000u}) {
        const size_t limit = 1024 * 1024 + 16 * input;
        AllocationBudget budget(input);
        EXPECT_EQ(budget.limit(), limit) << input;
        EXPECT_TRUE(refused(budget, limit + 1)) << input;
        EXPECT_EQ(budget.spent(), 0u) << input;
        EXPECT_FALSE(refused(budget, limit - 1)) << input;
        EXPECT_FALSE(refused(budget, 1)) << input;
        EXPECT_EQ(budget.spent(), limit) << input;
        EXPECT_TRUE(refused(budget, 1)) << input;
        budget.addInput(2);
        EXPECT_FALSE(refused(budget, 32)) << input;
        EXPECT_TRUE(refused(budget, 1)) << input;
    }
}

// Input that ends where readable memory ends: the page after it is
// inaccessible, so a read of even one byte past the input stops the test.
// Lent in place, as the HTTP transport lends its reply.
class GuardedInput : public apache::thrift::transport::TVirtualTransport<GuardedInput>,
                     public InPlaceTransport {
public:
    explicit GuardedInput(const std::string& bytes) {
        const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        size_ = (bytes.size() + page - 1) / page * page + page;
        void* map = mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (map == MAP_FAILED) throw std::runtime_error("mmap failed");
        base_ = static_cast<uint8_t*>(map);
        if (mprotect(base_ + size_ - page, page, PROT_NONE) != 0) throw std::runtime_error("mprotect failed");
        pos_ = end_ = base_ + size_ - page;
        pos_ -= bytes.size();
        if (!bytes.empty()) std::memcpy(pos_, bytes.data(), bytes.size());
    }
    ~GuardedInput() override { munmap(base_, size_); }

    uint32_t read(uint8_t* buf, uint32_t len) {
        uint32_t n = std::min<uint32_t>(len, static_cast<uint32_t>(end_ - pos_));
        if (n) std::memcpy(buf, pos_, n);
        pos_ += n;
        return n;
    }
    const uint8_t* unreadBytes(size_t& length) override {
        length = static_cast<size_t>(end_ - pos_);
        return pos_;
    }
    void consumeBytes(size_t length) override { pos_ += length; }
    apache::thrift::transport::TMemoryBuffer& outputBuffer() override { return output_; }

private:
    uint8_t* base_ = nullptr;
    size_t size_ = 0;
    uint8_t* pos_ = nullptr;
    uint8_t* end_ = nullptr;
    apache::thrift::transport::TMemoryBuffer output_;
};

TEST(EDAMProtocol, ReadingNeverTouchesABytePastTheInput) {
    // Texts of every length up to past the 64-byte blocks the text check
    // takes at a time, ASCII and not, as the last bytes of the input (the
    // record's stop byte missing), and every record cut after each of its
    // bytes.
    for (size_t length = 0; length <= 140; ++length) {
        for (const char* fill : {"a", "\xc3\xa9"}) {
            std::string text;
            while (text.size() + std::strlen(fill) <= length) text += fill;
            uint32_t n = __builtin_bswap32(static_cast<uint32_t>(text.size()));
            std::string input = bytes("0b 0002") + std::string(reinterpret_cast<const char*>(&n), 4) + text;
            BinaryProtocol in(std::make_shared<GuardedInput>(input));
            try {
                ns::make<EDAMPublicUserInfo>()->read(in);
                ADD_FAILURE() << "a record without its stop byte decoded, text of " << text.size();
            } catch (const TTransportException& e) {
                EXPECT_EQ(e.getType(), TTransportException::END_OF_FILE) << text.size();
            }
        }
    }
    for (const auto& kind : fixtures::allRecordKinds()) {
        auto record = kind.make();
        test::fillRecord(*record, 31337);
        const std::string wire = test::encode(*record);
        for (size_t cut = 0; cut <= wire.size(); ++cut) {
            BinaryProtocol in(std::make_shared<GuardedInput>(wire.substr(0, cut)));
            auto back = kind.make();
            if (cut == wire.size()) {
                back->read(in);
                EXPECT_TRUE(back->isEqual(*record)) << kind.className;
            } else {
                EXPECT_THROW(back->read(in), TException) << kind.className << " cut at " << cut;
            }
        }
    }
}

TEST(EDAMProtocol, RandomBytesNeverCrash) {
    std::mt19937 rng(2026);
    const auto& kinds = fixtures::allRecordKinds();
    for (int round = 0; round < 20000; ++round) {
        std::string input(rng() % 64, '\0');
        for (auto& c : input) {
            // Mostly small values so that field headers and lengths look plausible.
            unsigned r = rng();
            c = static_cast<char>(r % 3 ? r % 16 : r >> 8);
        }
        auto record = kinds[rng() % kinds.size()].make();
        try {
            record->read(*test::reading(input));
        } catch (const TException&) {
        }
    }
}

}  // namespace
}  // namespace evernote
