// Round trips between the streaming codec and the fast codec over generated
// documents: what one codec writes, the other reads back to an equivalent
// tree, in both directions and in every output layout of both writers.
#include <gtest/gtest.h>

#include <string>

#include "net/json/FJCategories.h"
#include "net/json/FJValuePool.h"
#include "net/json/JSONDecoder.h"
#include "net/json/JsonParser.h"
#include "net/json/JsonWriter.h"
#include "net/json/tests/GeneratedTrees.h"
#include "net/json/tests/StreamTestUtil.h"
#include "platform/foundation/Foundation.h"

using json::test::equivalent;
using json::test::Generator;
using ns::Ref;

namespace {

// ---- The two codecs ----

Ref<ns::String> streamWrite(const ns::Object* v, bool sortKeys, bool humanReadable) {
    auto w = ns::make<json::JsonWriter>();
    w->setSortKeys(sortKeys);
    w->setHumanReadable(humanReadable);
    auto s = w->stringWithObject(v);
    EXPECT_TRUE(s) << w->error();
    return s;
}

Ref<ns::Object> streamRead(const ns::String* text) {
    auto p = ns::make<json::JsonParser>();
    auto v = p->objectWithString(text);
    EXPECT_TRUE(v) << p->error() << " reading " << text->utf8();
    return v;
}

Ref<ns::String> fastWrite(const ns::Object* v, uint64_t options) {
    Ref<ns::Error> error;
    Ref<ns::String> s;
    if (auto* d = ns::as<ns::Dictionary>(v)) s = json::JSONStringWithOptionsError(*d, options, &error);
    else if (auto* a = ns::as<ns::Array>(v)) s = json::JSONStringWithOptionsError(*a, options, &error);
    EXPECT_TRUE(s) << (error ? error->localizedDescription() : "no error");
    return s;
}

Ref<ns::Object> fastRead(const ns::String* text) {
    Ref<ns::Error> error;
    auto v = json::objectFromJSONStringWithParseOptionsError(*text, 0, &error);
    EXPECT_TRUE(v) << (error ? error->localizedDescription() : "no error") << " reading " << text->utf8();
    return v;
}

constexpr int kDocuments = 150;

TEST(StreamRoundTrip, StreamWriterToFastDecoderAndBack) {
    Generator gen(20261207);
    for (int i = 0; i < kDocuments; ++i) {
        Ref<ns::Object> tree = gen.document();
        for (int mode = 0; mode < 4; ++mode) {
            Ref<ns::String> text = streamWrite(tree.get(), mode & 1, mode & 2);
            ASSERT_TRUE(text);
            Ref<ns::Object> fast = fastRead(text.get());
            ASSERT_TRUE(fast);
            ASSERT_TRUE(equivalent(tree.get(), fast.get())) << "document " << i << " mode " << mode;
            // The fast writer's output of that tree reads back in the stream parser.
            Ref<ns::String> again = fastWrite(fast.get(), (mode & 2) ? uint64_t(json::FJSerializeFlagPretty) : uint64_t(0));
            ASSERT_TRUE(again);
            Ref<ns::Object> stream = streamRead(again.get());
            ASSERT_TRUE(stream);
            ASSERT_TRUE(equivalent(tree.get(), stream.get())) << "document " << i << " mode " << mode;
        }
    }
}

TEST(StreamRoundTrip, FastSerializerToStreamParserAndBack) {
    Generator gen(7);
    const uint64_t options[] = {0, json::FJSerializeFlagPretty, json::FJSerializeFlagEscapeUnicode,
                                json::FJSerializeFlagEscapeSlash | json::FJSerializeFlagEscapeUnicode |
                                    json::FJSerializeFlagPretty};
    for (int i = 0; i < kDocuments; ++i) {
        Ref<ns::Object> tree = gen.document();
        for (uint64_t opt : options) {
            Ref<ns::String> text = fastWrite(tree.get(), opt);
            ASSERT_TRUE(text);
            Ref<ns::Object> stream = streamRead(text.get());
            ASSERT_TRUE(stream);
            ASSERT_TRUE(equivalent(tree.get(), stream.get())) << "document " << i << " options " << opt;
            // What the stream parser built (decimals included) the stream
            // writer writes so that the fast decoder reads the same tree.
            Ref<ns::String> again = streamWrite(stream.get(), opt & 1, opt & 2);
            ASSERT_TRUE(again);
            Ref<ns::Object> fast = fastRead(again.get());
            ASSERT_TRUE(fast);
            ASSERT_TRUE(equivalent(tree.get(), fast.get())) << "document " << i << " options " << opt;
        }
    }
}

TEST(StreamRoundTrip, BothDecodersAgreeOnTheSameText) {
    const char* texts[] = {
        "{\"a\":[1,-1,0,-0,1.5,-2.5e-3,1E2,9223372036854775807,-9223372036854775808,18446744073709551615],"
        "\"s\":\"\\u00e9\\ud83d\\ude00\\n\\t\\\"\\\\\\/\\u0001\",\"t\":true,\"f\":false,\"n\":null,\"e\":{},\"l\":[]}",
        " [ { \"k\" : [ [ ] , { } ] } , \"\xC3\xA9\xF0\x9F\x98\x80\" ] ",
    };
    for (const char* t : texts) {
        auto text = ns::str(t);
        auto stream = streamRead(text.get());
        auto fast = fastRead(text.get());
        ASSERT_TRUE(stream && fast);
        EXPECT_TRUE(equivalent(stream.get(), fast.get())) << t;
    }
}

TEST(StreamRoundTrip, BothDecodersPlaceValuesInBlocksFromTheSameSizeOn) {
    // A document of 128 KiB or more places its strings in blocks, each one
    // whose object and text fit the block's largest value; one byte less of
    // document, or of text, and they are plain strings.
    const size_t longest = json::FJValuePool::kLargestValue - sizeof(json::FJPooledString) - 1;
    for (size_t size : {json::FJValuePool::kPooledDocumentsFrom - 1, json::FJValuePool::kPooledDocumentsFrom}) {
        std::string doc = "[\"short\",\"" + std::string(longest, 'a') + "\",\"" + std::string(longest + 1, 'b') + "\"]";
        doc.resize(size, ' ');
        const bool large = size >= json::FJValuePool::kPooledDocumentsFrom;
        auto stream = streamRead(ns::String::make(doc).get());
        auto fast = fastRead(ns::String::make(doc).get());
        for (const Ref<ns::Object>& tree : {stream, fast}) {
            auto* a = ns::as<ns::Array>(tree.get());
            ASSERT_TRUE(a && a->count() == 3) << size;
            auto pooled = [&](size_t i) { return dynamic_cast<json::FJPooledString*>(a->objectAtIndex(i)) != nullptr; };
            EXPECT_EQ(pooled(0), large) << size;
            EXPECT_EQ(pooled(1), large) << size;
            EXPECT_FALSE(pooled(2)) << size;
            auto* fits = a->objectAtIndexAs<ns::String>(1);
            auto* over = a->objectAtIndexAs<ns::String>(2);
            ASSERT_TRUE(fits && over);
            EXPECT_EQ(fits->utf8(), std::string(longest, 'a'));
            EXPECT_EQ(over->utf8(), std::string(longest + 1, 'b'));
        }
    }
}

}  // namespace
