// Documents written by one codec and read by the other come back equal.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "net/json/FJCategories.h"
#include "net/json/JSONDecoder.h"
#include "net/json/JsonParser.h"
#include "net/json/JsonWriter.h"
#include "platform/foundation/Foundation.h"
#include "testsupport/Checked.h"

using namespace json;
using ns::Ref;
using testsupport::must;

namespace {

class Generator {
public:
    explicit Generator(uint32_t seed) : rng_(seed) {}

    Ref<ns::Object> document() { return pick(2) ? array(0) : dictionary(0); }

private:
    int pick(int n) { return static_cast<int>(rng_() % static_cast<uint32_t>(n)); }

    std::string text() {
        std::string s;
        int n = pick(12);
        for (int i = 0; i < n; ++i) {
            switch (pick(8)) {
                case 0: s += "\"\\/"[pick(3)]; break;
                case 1: s += static_cast<char>(1 + pick(31)); break;
                case 2: ns::appendCodePoint(s, 0x80 + static_cast<char32_t>(pick(0x780))); break;
                case 3: {
                    char32_t cp = 0x800 + static_cast<char32_t>(pick(0xF7FF - 0x800));
                    if (cp >= 0xD800 && cp <= 0xDFFF) cp -= 0x1000;
                    if (cp >= 0xFDD0 && cp <= 0xFDEF) cp = 0x20AC;
                    ns::appendCodePoint(s, cp);
                    break;
                }
                case 4: ns::appendCodePoint(s, 0x1F600 + static_cast<char32_t>(pick(0x40))); break;
                default: s += static_cast<char>('a' + pick(26)); break;
            }
        }
        return s;
    }

    Ref<ns::Object> scalar() {
        switch (pick(7)) {
            case 0: return ns::str(text());
            case 1: return ns::Number::numberWithLongLong(static_cast<long long>(rng_()) * (pick(2) ? 1 : -1));
            case 2: return ns::Number::numberWithLongLong(static_cast<long long>(rng_() % 1000) - 500);
            case 3: {
                std::uniform_real_distribution<double> d(-1e6, 1e6);
                return ns::Number::numberWithDouble(d(rng_) * (pick(2) ? 1e-30 : 1));
            }
            case 4: return ns::Number::numberWithBool(pick(2));
            case 5: return ns::Null::null();
            default: return ns::str(text());
        }
    }

    Ref<ns::Object> value(int depth) {
        if (depth < 8) {
            int k = pick(6);
            if (k == 0) return array(depth + 1);
            if (k == 1) return dictionary(depth + 1);
        }
        return scalar();
    }

    Ref<ns::Object> array(int depth) {
        std::vector<Ref<ns::Object>> items;
        int n = pick(8);
        for (int i = 0; i < n; ++i) items.push_back(value(depth));
        return ns::Array::make(std::move(items));
    }

    Ref<ns::Object> dictionary(int depth) {
        std::vector<ns::Dictionary::Entry> entries;
        int n = pick(8);
        for (int i = 0; i < n; ++i) entries.emplace_back(ns::str(text()), value(depth));
        return ns::Dictionary::make(std::move(entries));
    }

    std::mt19937 rng_;
};

}  // namespace

TEST(FastRoundTrip, FastWriterToStreamingParser) {
    Generator g(1234);
    for (int i = 0; i < 300; ++i) {
        auto doc = g.document();
        for (uint64_t options : {uint64_t(0), uint64_t(FJSerializeFlagPretty | FJSerializeFlagEscapeUnicode |
                                                      FJSerializeFlagEscapeSlash)}) {
            Ref<ns::Error> error;
            auto data = FJSerializer::serializeObjectOptionsEncodeOptionBlockDelegateSelectorError(
                doc.get(), options, FJEncodeAsData, nullptr, nullptr, nullptr, &error);
            ASSERT_TRUE(data && !error);
            JsonParser parser;
            auto back = parser.objectWithData(static_cast<ns::Data*>(data.get()));
            ASSERT_TRUE(back) << parser.error() << "\n" << must<ns::Data>(data.get())->view();
            ASSERT_TRUE(back->isEqual(*doc)) << must<ns::Data>(data.get())->view();
        }
    }
}

TEST(FastRoundTrip, StreamingWriterToFastDecoder) {
    Generator g(98765);
    JSONDecoder decoder;
    for (int i = 0; i < 300; ++i) {
        auto doc = g.document();
        for (bool pretty : {false, true}) {
            JsonWriter writer;
            writer.setHumanReadable(pretty);
            auto data = writer.dataWithObject(doc.get());
            ASSERT_TRUE(data) << writer.error();
            Ref<ns::Error> error;
            auto back = decoder.objectWithDataError(data.get(), &error);
            ASSERT_TRUE(back && !error) << data->view();
            ASSERT_TRUE(back->isEqual(*doc)) << data->view();
            // The fast decoder's collections read the same as the streaming parser's.
            JsonParser parser;
            auto other = parser.objectWithData(data.get());
            ASSERT_TRUE(other && other->isEqual(*back));
        }
    }
}
