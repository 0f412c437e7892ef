#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <stdexcept>
#include <thread>
#include <utility>
#include <string>
#include <vector>

#include "net/json/FJCategories.h"
#include "net/json/JsonCategories.h"
#include "net/json/JsonParser.h"
#include "net/json/JsonStreamWriter.h"
#include "net/json/JsonWriter.h"
#include "net/json/tests/StreamTestUtil.h"
#include "platform/foundation/Foundation.h"
#include "testsupport/Checked.h"
#include "testsupport/ChildProcess.h"

using json::test::dump;
using ns::Ref;
using testsupport::must;

namespace {

struct Written {
    std::string text;
    std::string error;
    bool ok() const { return error.empty(); }
};

Written write(const ns::Object* value, bool sortKeys = false, bool humanReadable = false, uint64_t maxDepth = 32) {
    auto w = ns::make<json::JsonWriter>();
    w->setSortKeys(sortKeys);
    w->setHumanReadable(humanReadable);
    w->setMaxDepth(maxDepth);
    Ref<ns::String> s = w->stringWithObject(value);
    if (s) EXPECT_TRUE(w->error().empty());
    else EXPECT_FALSE(w->error().empty());
    return {s ? std::string(s->utf8()) : "", w->error()};
}
template <class T>
Written write(const Ref<T>& v, bool sortKeys = false, bool humanReadable = false, uint64_t maxDepth = 32) {
    return write(v.get(), sortKeys, humanReadable, maxDepth);
}

Ref<ns::Array> arr(std::initializer_list<Ref<ns::Object>> items) { return ns::Array::make(items); }

Ref<ns::Object> nestedArrays(size_t depth) {
    Ref<ns::Object> v = ns::Array::make();
    for (size_t i = 1; i < depth; ++i) v = ns::Array::make({v});
    return v;
}

class Proxy final : public ns::Object, public json::JsonProxy {
public:
    explicit Proxy(Ref<ns::Object> target) : target_(std::move(target)) {}
    const char* className() const override { return "Proxy"; }
    Ref<ns::Object> proxyForJson() const override { return target_ ? target_ : ns::keepAlive(const_cast<Proxy*>(this)); }

private:
    Ref<ns::Object> target_;
};

TEST(StreamWriterErrors, UnsupportedValuesAndKeys) {
    for (Ref<ns::Object> top : {Ref<ns::Object>(ns::str("s")), Ref<ns::Object>(ns::num(1)),
                                Ref<ns::Object>(ns::Null::null()), Ref<ns::Object>(ns::Data::make("x")),
                                Ref<ns::Object>()}) {
        EXPECT_EQ(write(top).error, "Not valid type for JSON") << dump(top);
    }
    EXPECT_EQ(write(arr({ns::num(1), ns::Data::make("x")})).error, "JSON serialisation not supported for Data");
    EXPECT_EQ(write(ns::Dictionary::make({{"d", ns::Date::dateWithTimeIntervalSinceReferenceDate(0)}})).error,
              "JSON serialisation not supported for Date");

    auto numberKey = ns::Dictionary::make({{ns::str("a"), ns::num(1)}, {ns::num(7), ns::num(2)}});
    EXPECT_EQ(write(numberKey).error, "JSON object key must be string: 7");
    EXPECT_EQ(write(numberKey, true).error, "JSON object key must be string: 7");

    // The error object and the logging entry point.
    auto w = ns::make<json::JsonWriter>();
    Ref<ns::Error> error;
    EXPECT_FALSE(w->stringWithObjectError(ns::str("x").get(), &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), "org.tellvarin.JsonWriter.ErrorDomain");
    EXPECT_EQ(error->code(), 0);
    EXPECT_EQ(error->localizedDescription(), "Not valid type for JSON");
    EXPECT_TRUE(w->stringWithObjectError(arr({}).get(), &error));  // error cleared on success
    EXPECT_TRUE(w->error().empty());

    std::vector<std::string> lines;
    json::setJsonLogHandler([&](const std::string& l) { lines.push_back(l); });
    EXPECT_EQ(must<ns::String>(json::JSONRepresentation(arr({ns::str("a"), ns::boolean(true)})))->utf8(), "[\"a\",true]");
    EXPECT_FALSE(json::JSONRepresentation(ns::num(3)));
    json::setJsonLogHandler(nullptr);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "-JSONRepresentation failed. Error is: Not valid type for JSON");
}

TEST(StreamWriterErrors, NonFiniteNumbersAreRefused) {
    const double inf = std::numeric_limits<double>::infinity();
    struct Case { Ref<ns::Object> n; const char* error; };
    const std::vector<Case> cases = {
        {ns::Number::numberWithDouble(inf), "+Infinity is not a valid number in JSON"},
        {ns::Number::numberWithDouble(-inf), "-Infinity is not a valid number in JSON"},
        {ns::Number::numberWithDouble(std::nan("")), "NaN is not a valid number in JSON"},
        {ns::Number::numberWithFloat(static_cast<float>(inf)), "+Infinity is not a valid number in JSON"},
        {ns::DecimalNumber::decimalNumberWithString("NaN"), "NaN is not a valid number in JSON"},
        {ns::DecimalNumber::decimalNumberWithString("-inf"), "-Infinity is not a valid number in JSON"},
    };
    for (const auto& c : cases) EXPECT_EQ(write(arr({c.n})).error, c.error) << dump(c.n);
}

TEST(StreamWriterErrors, DepthLimitAndCycles) {
    EXPECT_TRUE(write(nestedArrays(32)).ok());
    EXPECT_EQ(write(nestedArrays(33)).error, "Nested too deep");
    EXPECT_EQ(write(nestedArrays(3), false, false, 2).error, "Nested too deep");
    // A writer with nothing set: 32 levels, compact, keys in their order.
    auto fresh = ns::make<json::JsonWriter>();
    EXPECT_TRUE(fresh->stringWithObject(nestedArrays(32).get()));
    EXPECT_FALSE(fresh->stringWithObject(nestedArrays(33).get()));
    EXPECT_EQ(fresh->error(), "Nested too deep");
    auto text = fresh->stringWithObject(ns::Dictionary::make({{"b", arr({ns::num(1)})}, {"a", ns::num(2)}}).get());
    ASSERT_TRUE(text);
    EXPECT_EQ(text->utf8(), "{\"b\":[1],\"a\":2}");
    // Without a limit of the caller's, trees stop at 1024 levels.
    EXPECT_TRUE(write(nestedArrays(1024), false, false, 0).ok());
    EXPECT_EQ(write(nestedArrays(1025), false, false, 0).error, "Nested too deep");

    // A tree that contains itself ends in the error, not in a stack overflow,
    // even with the caller's limit lifted.
    auto cyclic = ns::MutableArray::make();
    cyclic->addObject(cyclic);
    EXPECT_EQ(write(cyclic, false, false, 0).error, "Nested too deep");
    EXPECT_EQ(write(cyclic).error, "Nested too deep");
    cyclic->removeAllObjects();

    // A proxy that answers itself is refused rather than followed forever.
    auto self = ns::make<Proxy>(nullptr);
    EXPECT_EQ(write(arr({self})).error, "JSON serialisation not supported for Proxy");
    EXPECT_EQ(write(self).error, "Not valid type for JSON");
    // A chain of 16 proxies is followed; one more is refused.
    auto chain = [](int proxies) {
        Ref<ns::Object> v = ns::str("end");
        for (int i = 0; i < proxies; ++i) v = ns::make<Proxy>(v);
        return write(arr({v}));
    };
    EXPECT_EQ(chain(16).text, "[\"end\"]");
    EXPECT_EQ(chain(17).error, "JSON serialisation not supported for Proxy");
    // The same limit for the value handed to the writer itself.
    auto topChain = [](int proxies) {
        Ref<ns::Object> v = arr({ns::str("end")});
        for (int i = 0; i < proxies; ++i) v = ns::make<Proxy>(v);
        return write(v);
    };
    EXPECT_EQ(topChain(16).text, "[\"end\"]");
    EXPECT_EQ(topChain(17).error, "Not valid type for JSON");
}

// Collects what it is handed, piece by piece, without data of its own.
class PieceCollector final : public json::JsonStreamWriterDelegate {
public:
    std::string text;
    int pieces = 0;
    size_t largest = 0;
    void writerAppendBytesLength(json::JsonStreamWriter*, const void* bytes, size_t length) override {
        text.append(static_cast<const char*>(bytes), length);
        ++pieces;
        largest = std::max(largest, length);
    }
};

TEST(StreamWriterStream, StateErrorsOnTheStreamWriter) {
    auto acc = ns::make<json::JsonStreamWriterAccumulator>();
    auto w = ns::make<json::JsonStreamWriter>();
    w->setDelegate(acc);
    EXPECT_FALSE(w->writeArrayClose());
    EXPECT_EQ(w->error(), "Unexpected array close");
    ASSERT_TRUE(w->writeObjectOpen());
    EXPECT_FALSE(w->writeNumber(ns::num(1).get()));
    EXPECT_EQ(w->error(), "JSON object key must be string");
    EXPECT_FALSE(w->writeArrayOpen());
    EXPECT_EQ(w->error(), "JSON object key must be string");
    EXPECT_FALSE(w->writeArrayClose());
    EXPECT_EQ(w->error(), "JSON object key must be string");
    ASSERT_TRUE(w->writeString(ns::str("k").get()));
    EXPECT_FALSE(w->writeObjectClose());  // a key without its value
    EXPECT_EQ(w->error(), "Unexpected object close");
    ASSERT_TRUE(w->writeArrayOpen());
    ASSERT_TRUE(w->writeNull());
    ASSERT_TRUE(w->writeBool(false));
    EXPECT_FALSE(w->writeObjectClose());
    EXPECT_EQ(w->error(), "Unexpected object close");
    ASSERT_TRUE(w->writeArrayClose());
    ASSERT_TRUE(w->writeObjectClose());
    EXPECT_EQ(acc->data()->view(), "{\"k\":[null,false]}");

    // After the top-level container every write fails.
    EXPECT_FALSE(w->writeArrayOpen());
    EXPECT_EQ(w->error(), "Stream is closed");
    w->setError("");
    EXPECT_FALSE(w->writeString(ns::str("x").get()));
    EXPECT_EQ(w->error(), "Stream is closed");
    EXPECT_FALSE(w->writeObject(ns::Dictionary::make().get()));
    EXPECT_EQ(w->error(), "Stream is closed");
    // Every kind of write, closing ones too, fails the same way and adds nothing.
    const std::pair<const char*, std::function<bool()>> writes[] = {
        {"array close", [&] { return w->writeArrayClose(); }},
        {"object close", [&] { return w->writeObjectClose(); }},
        {"object open", [&] { return w->writeObjectOpen(); }},
        {"null", [&] { return w->writeNull(); }},
        {"bool", [&] { return w->writeBool(true); }},
        {"number", [&] { return w->writeNumber(ns::num(1).get()); }},
        {"array", [&] { return w->writeArray(arr({}).get()); }},
    };
    for (const auto& [name, write] : writes) {
        w->setError("");
        EXPECT_FALSE(write()) << name;
        EXPECT_EQ(w->error(), "Stream is closed") << name;
    }
    EXPECT_EQ(acc->data()->view(), "{\"k\":[null,false]}");

    // Without a delegate every write goes through the grammar and its bytes
    // are dropped; a delegate set later gets what is written from then on.
    auto quiet = ns::make<json::JsonStreamWriter>();
    EXPECT_TRUE(quiet->writeArrayOpen());
    EXPECT_TRUE(quiet->writeArray(arr({ns::num(1), ns::str("s")}).get()));
    EXPECT_TRUE(quiet->writeString(ns::str("t\n").get()));
    EXPECT_TRUE(quiet->appendBytesLength("x", 1));
    auto later = ns::make<PieceCollector>();
    quiet->setDelegate(later);
    EXPECT_TRUE(quiet->writeNull());
    EXPECT_TRUE(quiet->writeArrayClose());
    EXPECT_EQ(later->text, ",null]");
    EXPECT_EQ(later->pieces, 2);  // one piece a call

    EXPECT_EQ(json::JsonStreamWriterState::sharedInstance(), nullptr);
    EXPECT_EQ(json::JsonStreamWriterStateArrayValue::sharedInstance(),
              json::JsonStreamWriterStateArrayValue::sharedInstance());
}

TEST(StreamWriterOutput, StringEscapes) {
    std::string raw = "line\nfeed\ttab \"quote\" back\\slash \x01 \x0b \x1f \x7f / \b\f\r \xC3\xA9\xF0\x9F\x98\x80";
    raw.push_back('\0');
    Written w = write(arr({ns::String::make(raw), ns::str("")}));
    ASSERT_TRUE(w.ok()) << w.error;
    EXPECT_EQ(w.text,
              "[\"line\\nfeed\\ttab \\\"quote\\\" back\\\\slash \\u0001 \\u000b \\u001f \x7f / \\b\\f\\r "
              "\xC3\xA9\xF0\x9F\x98\x80\\u0000\",\"\"]");
    // The cache answers the same bytes the second time.
    EXPECT_EQ(write(arr({ns::String::make(raw), ns::str("")})).text, w.text);
    // And the text reads back unchanged.
    auto p = ns::make<json::JsonParser>();
    auto back = p->objectWithString(ns::String::make(w.text).get());
    ASSERT_TRUE(back) << p->error();
    EXPECT_EQ(ns::as<ns::Array>(back.get())->objectAtIndexAs<ns::String>(0)->utf8(), raw);

    // Short texts, as values and as keys: a byte to escape is found at every
    // place of texts of 1 to 20 bytes (read a word or two at a time), and
    // the bytes next to those that need it are copied as they are.
    const std::pair<char, std::string> escaped[] = {{'"', "\\\""}, {'\\', "\\\\"}, {'\x01', "\\u0001"}, {'\x1f', "\\u001f"}};
    for (size_t n = 1; n <= 20; ++n) {
        for (size_t at = 0; at < n; ++at) {
            for (const auto& [c, escape] : escaped) {
                std::string t(n, 'k');
                t[at] = c;
                std::string quoted = "\"" + t.substr(0, at) + escape + t.substr(at + 1) + "\"";
                EXPECT_EQ(write(arr({ns::String::make(t)})).text, "[" + quoted + "]") << n << " " << at;
                EXPECT_EQ(write(ns::Dictionary::make({{ns::String::make(t), ns::num(1)}})).text, "{" + quoted + ":1}");
            }
            for (char c : {' ', '!', '#', '[', ']', '\x7f', '/'}) {
                std::string t(n, 'k');
                t[at] = c;
                EXPECT_EQ(write(arr({ns::String::make(t)})).text, "[\"" + t + "\"]") << n << " " << at;
            }
        }
    }
}

// More distinct texts to escape than the writers' shared cache keeps (it is
// emptied when full), twice over, and texts of 256 and 257 bytes (the
// longest it keeps, and one past), each written twice: every one comes out
// with its own escapes, whatever the cache held.
TEST(StreamWriterOutput, EscapedTextsBeyondWhatTheCacheKeeps) {
    std::vector<Ref<ns::Object>> texts;
    std::string expected = "[";
    auto add = [&](const std::string& text, const std::string& written) {
        texts.push_back(ns::String::make(text));
        expected += (texts.size() > 1 ? "," : "") + written;
    };
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 5000; ++i) {
            const std::string n = std::to_string(i);
            add("q\"" + n + "\n", "\"q\\\"" + n + "\\n\"");
        }
        for (size_t length : {255u, 256u, 257u}) {
            const std::string body(length - 1, 'x');
            add(body + "\t", "\"" + body + "\\t\"");
            add("\\" + body, "\"\\\\" + body + "\"");
        }
    }
    const Written w = write(ns::Array::make(texts));
    ASSERT_TRUE(w.ok()) << w.error;
    EXPECT_TRUE(w.text == expected + "]") << "the texts differ from byte " << [&] {
        size_t i = 0;
        while (i < w.text.size() && i < expected.size() && w.text[i] == expected[i]) ++i;
        return i;
    }();
}

// Numbers of many classes, N for the class's value.
template <int N>
class NumberOfClass final : public ns::Number {
public:
    NumberOfClass() : ns::Number(ns::NumberType::Int, int64_t{N}) {}
};
template <int... N>
std::vector<Ref<ns::Object>> numbersOfClasses(std::integer_sequence<int, N...>) {
    return {ns::make<NumberOfClass<N>>()...};
}

TEST(StreamWriterOutput, NumberFormats) {
    // More classes than the writer remembers, twice over: each is still told apart.
    std::vector<Ref<ns::Object>> many = numbersOfClasses(std::make_integer_sequence<int, 70>());
    const std::vector<Ref<ns::Object>> once = many;
    many.insert(many.end(), once.begin(), once.end());
    std::string manyText = "[";
    for (size_t i = 0; i < many.size(); ++i) manyText += (i ? "," : "") + std::to_string(i % 70);
    EXPECT_EQ(write(ns::Array::make(many)).text, manyText + "]");

    Written w = write(arr({
        ns::boolean(true), ns::boolean(false),
        ns::Number::makeUnsigned(ns::NumberType::Bool, 1), ns::Number::makeUnsigned(ns::NumberType::Bool, 0),
        ns::Number::numberWithUnsignedLongLong(18446744073709551615ull),
        ns::Number::numberWithUnsignedLongLong(9223372036854775808ull),
        ns::Number::numberWithLongLong(std::numeric_limits<long long>::min()),
        ns::Number::numberWithInt(-5), ns::Number::numberWithChar(-3), ns::Number::make(ns::NumberType::UnsignedChar, 200),
        ns::Number::numberWithDouble(0.1), ns::Number::numberWithDouble(1.5), ns::Number::numberWithDouble(1e300),
        ns::Number::numberWithDouble(-0.0), ns::Number::numberWithFloat(0.5f), ns::Number::numberWithDouble(3.0),
        ns::DecimalNumber::decimalNumberWithString("1.50"), ns::DecimalNumber::decimalNumberWithString("1E70000"),
        ns::DecimalNumber::decimalNumberWithString("-0.0"), ns::DecimalNumber::decimalNumberWithString(".5"),
        ns::Number::numberWithDouble(1e21), ns::Number::numberWithDouble(1e-5), ns::Number::numberWithDouble(5e-324),
        ns::Number::numberWithDouble(1e16), ns::Number::numberWithDouble(0.0001),
    }));
    ASSERT_TRUE(w.ok()) << w.error;
    EXPECT_EQ(w.text,
              "[true,false,true,false,18446744073709551615,9223372036854775808,-9223372036854775808,-5,-3,200,"
              "0.10000000000000001,1.5,1.0000000000000001e+300,-0,0.5,3,1.50,1E70000,-0.0,0.5,"
              "1e+21,1.0000000000000001e-05,4.9406564584124654e-324,10000000000000000,0.0001]");
}


// Asks the accumulator how many bytes it holds when the writer asks for the
// proxy's value, or throws.
class Probe final : public ns::Object, public json::JsonProxy {
public:
    Ref<json::JsonStreamWriterAccumulator> accumulator;
    mutable std::vector<size_t> seen;
    bool throws = false;
    Ref<ns::Object> proxyForJson() const override {
        if (throws) throw std::runtime_error("probe");
        seen.push_back(accumulator->data()->length());
        return ns::str("probe");
    }
};

TEST(StreamWriterOutput, TreesReachEveryDelegateAlike) {
    // Far more than one piece or one step of the output's growth: strings
    // short and long, keys, integers, doubles, empty containers.
    auto items = ns::MutableArray::make();
    std::string expected = "[";
    for (int i = 0; i < 6000; ++i) {
        std::string s = std::string(size_t(i % 40), 'a' + char(i % 26)) + (i % 7 ? "" : "\n");
        items->addObject(ns::Dictionary::make({{"id", ns::num(i * 100003)},
                                               {"name", ns::String::make(s)},
                                               {"x", ns::Number::numberWithDouble(i + 0.5)},
                                               {"e", arr({})}}));
        std::string quoted = "\"" + s.substr(0, s.size() - (i % 7 ? 0 : 1)) + (i % 7 ? "" : "\\n") + "\"";
        expected += std::string(i ? "," : "") + "{\"id\":" + std::to_string(i * 100003) + ",\"name\":" + quoted +
                    ",\"x\":" + std::to_string(i) + ".5,\"e\":[]}";
    }
    expected += "]";
    ASSERT_GT(expected.size(), 300u * 1024);
    EXPECT_EQ(write(items).text, expected);  // straight into the accumulator's data

    // In pieces of about 64 KiB (one entry more at most), also when the
    // tree is all dictionaries written with sorted keys.
    auto pieces = ns::make<PieceCollector>();
    auto w = ns::make<json::JsonStreamWriter>();
    w->setDelegate(pieces);
    ASSERT_TRUE(w->writeArray(items.get()));
    EXPECT_EQ(pieces->text, expected);
    EXPECT_GT(pieces->pieces, 4);
    EXPECT_LE(pieces->largest, 64u * 1024 + 200);
    auto byKey = ns::MutableDictionary::make();
    for (size_t i = 0; i < items->count(); ++i) byKey->setObject(items->objectAtIndex(i), "row" + std::to_string(i));
    auto sorted = ns::make<PieceCollector>();
    w = ns::make<json::JsonStreamWriter>();
    w->setDelegate(sorted);
    w->setSortKeys(true);
    ASSERT_TRUE(w->writeObject(byKey.get()));
    auto parser = ns::make<json::JsonParser>();
    auto back = parser->objectWithString(ns::String::make(sorted->text).get());
    ASSERT_TRUE(back) << parser->error();
    EXPECT_TRUE(back->isEqual(*byKey));
    EXPECT_GT(sorted->pieces, 4);
    EXPECT_LE(sorted->largest, 64u * 1024 + 200);

    // A proxy finds every byte written before it in the accumulator's data,
    // and what it is written as follows them.
    auto probe = ns::make<Probe>();
    probe->accumulator = ns::make<json::JsonStreamWriterAccumulator>();
    items->insertObjectAtIndex(probe, 3000);
    items->addObject(probe);
    w = ns::make<json::JsonStreamWriter>();
    w->setDelegate(probe->accumulator);
    ASSERT_TRUE(w->writeArray(items.get()));
    std::string_view all = probe->accumulator->data()->view();
    ASSERT_EQ(probe->seen.size(), 2u);
    EXPECT_EQ(all.substr(probe->seen[0], 8), ",\"probe\"");
    EXPECT_EQ(all.substr(probe->seen[1]), ",\"probe\"]");
    EXPECT_EQ(all.substr(0, probe->seen[0]), std::string_view(expected).substr(0, probe->seen[0]));

    // A proxy that throws leaves the bytes before it with the delegate and
    // the writer writing single values to the delegate again.
    auto thrower = ns::make<Probe>();
    thrower->throws = true;
    auto acc = ns::make<json::JsonStreamWriterAccumulator>();
    w = ns::make<json::JsonStreamWriter>();
    w->setDelegate(acc);
    EXPECT_THROW(w->writeArray(arr({ns::num(1), ns::str("two"), thrower}).get()), std::runtime_error);
    EXPECT_EQ(acc->data()->view(), "[1,\"two\"");
    EXPECT_TRUE(w->writeArrayClose());
    EXPECT_EQ(acc->data()->view(), "[1,\"two\"]");
    items->removeAllObjects();
}

// A delegate without data of its own is handed a tree's bytes while the tree
// is being written: the first time, it changes every container of the tree
// (emptied, so that each entry is freed; or grown, so that the entries
// move). What it changes is written as it is when each container is read
// on, nothing freed is read (the sanitizer builds would report it), and the
// text is JSON, in every layout. As written, the writer handed the pieces on
// in the middle of a value, kept the entries' places and the value across
// that call, and read freed entries.
TEST(StreamWriterOutput, ADelegateThatChangesTheTreeFreesNothingInUse) {
    class Meddler final : public json::JsonStreamWriterDelegate {
    public:
        std::string text;
        std::function<void()> onFirstPiece;
        void writerAppendBytesLength(json::JsonStreamWriter*, const void* bytes, size_t length) override {
            text.append(static_cast<const char*>(bytes), length);
            if (auto change = std::move(onFirstPiece)) change();
        }
    };
    for (bool grow : {false, true}) {
        for (int layout = 0; layout < 3; ++layout) {
            const std::string row = std::string(grow ? "grown" : "emptied") +
                                    (layout == 0 ? ", compact" : layout == 1 ? ", sorted keys" : ", human readable");
            // Each entry is held by the tree alone.
            std::vector<Ref<ns::MutableArray>> arrays;
            std::vector<Ref<ns::MutableDictionary>> dicts;
            auto top = ns::MutableArray::make();
            arrays.push_back(top);
            for (int i = 0; i < 1500; ++i) {
                auto list = ns::MutableArray::make();
                for (int j = 0; j < 4; ++j) list->addObject(ns::String::make(std::string(20, char('a' + j)) + "\t"));
                auto d = ns::MutableDictionary::make();
                d->setObject(ns::num(i), "id");
                d->setObject(ns::String::make(std::string(30, 'n') + std::to_string(i)), "name");
                d->setObject(list, "list");
                d->setObject(ns::DecimalNumber::decimalNumberWithString("1.25"), "d");
                top->addObject(d);
                arrays.push_back(list);
                dicts.push_back(d);
            }
            auto meddler = ns::make<Meddler>();
            meddler->onFirstPiece = [&] {
                for (auto& a : arrays) {
                    if (grow) a->addObject(ns::String::make("added"));
                    else a->removeAllObjects();
                }
                for (auto& d : dicts) {
                    if (grow) d->setObject(ns::String::make("added"), "zz");
                    else d->removeAllObjects();
                }
                arrays.clear();
                dicts.clear();
            };
            auto w = ns::make<json::JsonStreamWriter>();
            w->setDelegate(meddler);
            w->setSortKeys(layout == 1);
            w->setHumanReadable(layout == 2);
            EXPECT_TRUE(w->writeArray(top.get())) << row << ": " << w->error();
            EXPECT_FALSE(meddler->onFirstPiece) << row << ": no piece was handed on during the tree";
            auto p = ns::make<json::JsonParser>();
            EXPECT_TRUE(p->objectWithString(ns::String::make(meddler->text).get())) << row << ": " << p->error();
            EXPECT_EQ(meddler->text.find("added") != std::string::npos, grow) << row;
            top->removeAllObjects();
        }
    }
}

TEST(StreamWriterOutput, ValuesThatMeetTheEndOfTheRoom) {
    // Rows of one kind of value that has to ask for room of its own (long
    // integers and doubles, strings too long to be copied at once), shifted
    // by a leading string of every length up to one row step, so that some
    // value meets the end of a piece and of the output data's room at each
    // byte it can: every delegate gets exactly the text.
    char dbl[32];
    std::snprintf(dbl, sizeof dbl, "%.17g", -1.2345678901234567e-100);
    const std::string longText(40, 'q');
    struct Row {
        const char* name;
        Ref<ns::Object> value;
        std::string text;
    } rows[] = {
        {"twenty-byte integer", ns::num(-1000000000000000007LL), "-1000000000000000007"},
        {"double", ns::Number::numberWithDouble(-1.2345678901234567e-100), dbl},
        {"forty-byte string", ns::String::make(longText), "\"" + longText + "\""},
    };
    for (const Row& row : rows) {
        const size_t step = row.text.size() + 1;
        for (size_t pad = 0; pad < step; ++pad) {
            SCOPED_TRACE(std::string(row.name) + ", shifted by " + std::to_string(pad));
            auto items = ns::MutableArray::make();
            items->addObject(ns::String::make(std::string(pad, 'p')));
            std::string expected = "[\"" + std::string(pad, 'p') + "\"";
            while (expected.size() < 140 * 1024) {
                items->addObject(row.value);
                expected += "," + row.text;
            }
            expected += "]";
            auto pieces = ns::make<PieceCollector>();
            auto w = ns::make<json::JsonStreamWriter>();
            w->setDelegate(pieces);
            ASSERT_TRUE(w->writeArray(items.get()));
            const bool intoData = write(items).text == expected, inPieces = pieces->text == expected;
            if (!intoData || !inPieces) {
                ADD_FAILURE() << "text differs: written into the data " << !intoData << ", in pieces " << !inPieces;
                break;
            }
        }
    }
}

// Two long texts compared: where they part, not the whole of each.
testing::AssertionResult sameText(const std::string& got, const std::string& expected) {
    if (got == expected) return testing::AssertionSuccess();
    size_t at = 0;
    while (at < got.size() && at < expected.size() && got[at] == expected[at]) ++at;
    const size_t from = at > 40 ? at - 40 : 0;
    return testing::AssertionFailure() << "the texts (" << got.size() << " and " << expected.size()
                                       << " bytes) part at byte " << at << ": got \"" << got.substr(from, 120)
                                       << "\", expected \"" << expected.substr(from, 120) << "\"";
}

// Twenty thousand short strings: a tree of four pieces.
Ref<ns::MutableArray> fourPieces() {
    auto items = ns::MutableArray::make();
    for (int i = 0; i < 20000; ++i) items->addObject(ns::String::make("item " + std::to_string(i)));
    return items;
}

// One entry far larger than a piece (a string of 200 KiB, and an array of
// such strings) reaches a delegate without data of its own whole and in
// order, between two shorter entries, in every layout.
TEST(StreamWriterOutput, AnEntryLargerThanAPieceReachesThePieceDelegateWhole) {
    const std::string big(200 * 1024, 'b');
    const auto tree = arr({ns::str("before"), ns::String::make(big), arr({ns::String::make(big), ns::String::make(big)}),
                           ns::str("after")});
    for (bool human : {false, true}) {
        SCOPED_TRACE(human ? "human readable" : "compact");
        auto pieces = ns::make<PieceCollector>();
        auto w = ns::make<json::JsonStreamWriter>();
        w->setDelegate(pieces);
        w->setHumanReadable(human);
        ASSERT_TRUE(w->writeArray(tree.get())) << w->error();
        EXPECT_TRUE(sameText(pieces->text, write(tree, false, human).text));
        EXPECT_GE(pieces->pieces, 2);
        EXPECT_GT(pieces->largest, big.size());  // the entry went in one piece, not cut
    }
}

// A delegate that throws, on a whole tree's first, middle or last piece or
// on a single write, makes the write call end with its exception: the
// process goes on, the delegate is handed nothing more of that write, and
// the writer takes writes again. As written, the last piece of a tree was
// handed over inside a destructor, and a throw there ended the process
// (terminate). Runs in a child process: any abnormal end fails the test.
TEST(StreamWriterDelegate, AThrowOnAnyPieceLeavesTheWriteCall) {
    class Thrower final : public json::JsonStreamWriterDelegate {
    public:
        std::string text;
        int pieces = 0;
        int throwOn = 1;  // the piece that throws, counted from 1; 0: asked for its data
        void writerAppendBytesLength(json::JsonStreamWriter*, const void* bytes, size_t length) override {
            if (++pieces == throwOn) throw std::runtime_error("delegate");
            text.append(static_cast<const char*>(bytes), length);
        }
        ns::MutableData* writerOutputData(json::JsonStreamWriter*) override {
            if (throwOn == 0) throw std::runtime_error("delegate");
            return nullptr;
        }
    };
    const auto items = fourPieces();
    const std::string whole = write(items).text;
    {
        auto pieces = ns::make<PieceCollector>();
        auto w = ns::make<json::JsonStreamWriter>();
        w->setDelegate(pieces);
        ASSERT_TRUE(w->writeArray(items.get()));
        ASSERT_EQ(pieces->pieces, 4);
    }
    const std::string failure = testsupport::failureInChildProcess([&]() -> std::string {
        std::string failed;
        struct Row {
            const char* name;
            int throwOn;
            std::function<bool(json::JsonStreamWriter&)> write;
        } rows[] = {
            {"a small tree's only piece", 1, [](json::JsonStreamWriter& w) { return w.writeArray(arr({ns::num(1)}).get()); }},
            {"a large tree's first piece", 1, [&](json::JsonStreamWriter& w) { return w.writeArray(items.get()); }},
            {"a large tree's second piece", 2, [&](json::JsonStreamWriter& w) { return w.writeArray(items.get()); }},
            {"a large tree's last piece", 4, [&](json::JsonStreamWriter& w) { return w.writeArray(items.get()); }},
            {"a sorted tree's last piece", 1,
             [](json::JsonStreamWriter& w) {
                 w.setSortKeys(true);
                 return w.writeObject(ns::Dictionary::make({{"b", ns::num(2)}, {"a", ns::num(1)}}).get());
             }},
            {"a single write", 1, [](json::JsonStreamWriter& w) { return w.writeArrayOpen(); }},
            {"a delegate asked for its data", 0, [](json::JsonStreamWriter& w) { return w.writeArrayOpen(); }},
        };
        for (const Row& row : rows) {
            auto thrower = ns::make<Thrower>();
            thrower->throwOn = row.throwOn;
            auto w = ns::make<json::JsonStreamWriter>();
            w->setDelegate(thrower);
            std::string caught;
            try {
                row.write(*w);
            } catch (const std::runtime_error& e) {
                caught = e.what();
            }
            if (caught != "delegate") failed += std::string(row.name) + ": no exception left the call; ";
            if (thrower->pieces != row.throwOn) failed += std::string(row.name) + ": handed more after the throw; ";
            // The writer takes writes again (on another delegate): no call
            // is left running.
            auto acc = ns::make<json::JsonStreamWriterAccumulator>();
            w->setDelegate(acc);
            w->setError("");
            const bool wrote = w->writeNull();
            if (w->error() == "Writer is busy: a write from inside its own delegate or proxy")
                failed += std::string(row.name) + ": the writer stayed busy; ";
            else if (wrote != (acc->data()->view() == "null") && !(wrote && acc->data()->view() == ",null"))
                failed += std::string(row.name) + ": answered " + (wrote ? "true" : "false") + " and wrote " +
                          std::string(acc->data()->view()) + "; ";
        }
        // The pieces before the throw are whole: the first of the large tree's.
        auto thrower = ns::make<Thrower>();
        thrower->throwOn = 2;
        auto w = ns::make<json::JsonStreamWriter>();
        w->setDelegate(thrower);
        try {
            w->writeArray(items.get());
        } catch (const std::runtime_error&) {
        }
        if (thrower->text.empty() || whole.compare(0, thrower->text.size(), thrower->text) != 0)
            failed += "the piece before the throw is not the text's start; ";
        return failed;
    });
    EXPECT_EQ(failure, "");
}

// A delegate that writes through its own writer: in the middle of a tree
// the write is refused with an error (the piece being handed on is not
// touched, whatever the length of what it tries to write); once the write
// that called the delegate is done (a single write, or a tree's last
// piece) the new write follows it in order. No write answers true with its
// bytes missing, and the text is JSON in every layout. As written, a long
// string written there made the writer use a freed piece buffer, a short
// one answered true and was dropped, and human-readable single writes came
// out as text that was not JSON.
TEST(StreamWriterDelegate, WritesFromInsideTheDelegateAreRefusedOrInOrder) {
    class Writer final : public json::JsonStreamWriterDelegate {
    public:
        std::string text;
        int pieces = 0;
        // Run on every piece, with the piece's number (from 1).
        std::function<void(json::JsonStreamWriter*, int)> onPiece;
        void writerAppendBytesLength(json::JsonStreamWriter* w, const void* bytes, size_t length) override {
            text.append(static_cast<const char*>(bytes), length);
            if (onPiece) onPiece(w, ++pieces);
        }
    };
    const auto items = fourPieces();
    const std::string whole = write(items).text;
    const std::string longText(100 * 1024, 'L');
    for (bool human : {false, true}) {
        for (bool longString : {false, true}) {
            const std::string row = std::string(human ? "human readable" : "compact") + (longString ? ", long" : ", short");
            SCOPED_TRACE(row);
            const auto inner = ns::String::make(longString ? longText : std::string("inner"));
            // In the middle of a tree: refused, and the tree is written whole.
            auto d = ns::make<Writer>();
            std::vector<std::pair<bool, std::string>> answers;
            d->onPiece = [&](json::JsonStreamWriter* w, int piece) {
                if (piece != 1) return;
                answers.emplace_back(w->writeString(inner.get()), w->error());
                answers.emplace_back(w->writeArrayOpen(), w->error());
                answers.emplace_back(w->appendBytesLength("xx", 2), w->error());
            };
            auto w = ns::make<json::JsonStreamWriter>();
            w->setDelegate(d);
            w->setHumanReadable(human);
            ASSERT_TRUE(w->writeArray(items.get())) << w->error();
            EXPECT_TRUE(sameText(d->text, write(items, false, human).text));
            ASSERT_EQ(answers.size(), 3u);
            for (const auto& [answered, error] : answers) {
                EXPECT_FALSE(answered);
                EXPECT_EQ(error, "Writer is busy: a write from inside its own delegate or proxy");
            }

            // Single writes whose delegate writes again once each is done:
            // the inner values follow in order, each answered true.
            d = ns::make<Writer>();
            w = ns::make<json::JsonStreamWriter>();
            w->setDelegate(d);
            w->setHumanReadable(human);
            int inners = 0;
            bool writing = false;  // the inner write's own bytes are not answered
            d->onPiece = [&](json::JsonStreamWriter* w, int) {
                if (writing || w->stateStack().size() != 1 ||
                    w->state() == json::JsonStreamWriterStateArrayStart::sharedInstance())
                    return;
                ++inners;
                writing = true;
                EXPECT_TRUE(w->writeString(inner.get())) << w->error();
                writing = false;
            };
            ASSERT_TRUE(w->writeArrayOpen());
            ASSERT_TRUE(w->writeNumber(ns::num(1).get()));
            ASSERT_TRUE(w->writeObject(ns::Dictionary::make({{"k", ns::num(2)}}).get()));
            ASSERT_TRUE(w->writeArray(items.get()));
            ASSERT_TRUE(w->writeArrayClose());
            EXPECT_EQ(inners, 3);
            auto expected = arr({ns::num(1), inner, ns::Dictionary::make({{"k", ns::num(2)}}), inner, items, inner});
            EXPECT_TRUE(sameText(d->text, write(expected, false, human).text));
        }
    }
}

// A delegate (or a proxy) that lets the writer go in the middle of a write
// does not free it there: the writer lives to the end of the call, and
// goes then. As written, it was freed in the middle of the call and the
// call went on reading it. Each row runs in a child process.
TEST(StreamWriterDelegate, AWriterLetGoInsideItsCallLivesToItsEnd) {
    class LetGo final : public json::JsonStreamWriterDelegate {
    public:
        std::string text;
        Ref<json::JsonStreamWriter> writer;
        ns::Weak<json::JsonStreamWriter> watched;
        int pieces = 0;
        int letGoOn = 1;
        bool aliveAfterLetGo = false;
        void writerAppendBytesLength(json::JsonStreamWriter*, const void* bytes, size_t length) override {
            text.append(static_cast<const char*>(bytes), length);
            if (++pieces != letGoOn) return;
            writer = nullptr;
            aliveAfterLetGo = !watched.expired();
        }
    };
    const auto items = fourPieces();
    const struct {
        const char* name;
        int letGoOn;
        std::function<bool(json::JsonStreamWriter*)> write;
        std::string expected;
    } rows[] = {
        {"a tree's first piece", 1, [&](json::JsonStreamWriter* w) { return w->writeArray(items.get()); }, write(items).text},
        {"a tree's last piece", 4, [&](json::JsonStreamWriter* w) { return w->writeArray(items.get()); }, write(items).text},
        {"a single write", 1, [](json::JsonStreamWriter* w) { return w->writeArrayOpen(); }, "["},
        {"the bytes handed on", 1, [](json::JsonStreamWriter* w) { return w->appendBytesLength("[]", 2); }, "[]"},
    };
    for (const auto& row : rows) {
        const std::string failure = testsupport::failureInChildProcess([&]() -> std::string {
            auto d = ns::make<LetGo>();
            d->letGoOn = row.letGoOn;
            d->writer = ns::make<json::JsonStreamWriter>();
            d->watched = d->writer;
            d->writer->setDelegate(d);
            json::JsonStreamWriter* raw = d->writer.get();
            std::string failed;
            if (!row.write(raw)) failed += "the write failed; ";
            if (!d->aliveAfterLetGo) failed += "the writer was freed inside its call; ";
            if (!d->watched.expired()) failed += "the writer outlived its call; ";
            if (d->text != row.expected) failed += "wrote " + d->text.substr(0, 100);
            return failed;
        });
        EXPECT_EQ(failure, "") << row.name;
    }
}

TEST(StreamWriterOutput, SortedKeys) {
    auto inner = ns::Dictionary::make({{"z", ns::num(1)}, {"m", ns::num(2)}});
    auto d = ns::Dictionary::make({{"b", ns::num(1)},
                                   {"\xC3\xA9", ns::num(2)},
                                   {"a", inner},
                                   {"Z", ns::num(3)},
                                   {"aa", ns::num(4)},
                                   {"", ns::num(5)}});
    EXPECT_EQ(write(d).text, "{\"b\":1,\"\xC3\xA9\":2,\"a\":{\"z\":1,\"m\":2},\"Z\":3,\"aa\":4,\"\":5}");
    EXPECT_EQ(write(d, true).text, "{\"\":5,\"Z\":3,\"a\":{\"m\":2,\"z\":1},\"aa\":4,\"b\":1,\"\xC3\xA9\":2}");
    // Code point order is the order of the UTF-8 bytes: U+FFFD before a
    // character beyond U+FFFF (which UTF-16 units would put first), for the
    // fast decoder's dictionaries as for the standard ones.
    auto wide = ns::Dictionary::make({{"\xF0\x9F\x98\x80", ns::num(3)}, {"\x7f", ns::num(1)}, {"\xEF\xBF\xBD", ns::num(2)}});
    const std::string wideSorted = "{\"\x7f\":1,\"\xEF\xBF\xBD\":2,\"\xF0\x9F\x98\x80\":3}";
    EXPECT_EQ(write(wide, true).text, wideSorted);
    auto decoded = json::objectFromJSONString(*ns::String::make(write(wide).text));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(write(decoded, true).text, wideSorted);
}

TEST(StreamWriterOutput, HumanReadableLayout) {
    auto d = ns::Dictionary::make({{"a", arr({ns::num(1), ns::num(2)})}});
    EXPECT_EQ(write(d).text, "{\"a\":[1,2]}");
    EXPECT_EQ(write(d, false, true).text, "{\n  \"a\": [\n    1,\n    2\n  ]\n}");

    EXPECT_EQ(write(arr({}), false, true).text, "[\n]");
    EXPECT_EQ(write(ns::Dictionary::make(), false, true).text, "{\n}");
    auto empties = ns::Dictionary::make({{"x", arr({})}, {"y", ns::Dictionary::make()}});
    EXPECT_EQ(write(empties, false, true).text, "{\n  \"x\": [\n  ],\n  \"y\": {\n  }\n}");

    auto mixed = ns::Dictionary::make({{"b", ns::Null::null()},
                                       {"a", arr({ns::Dictionary::make({{"k", ns::str("v")}}), ns::boolean(true)})}});
    EXPECT_EQ(write(mixed, true, true).text,
              "{\n  \"a\": [\n    {\n      \"k\": \"v\"\n    },\n    true\n  ],\n  \"b\": null\n}");
}

TEST(StreamWriterOutput, ProxiesAndParsedTreesRoundTrip) {
    auto proxied = ns::make<Proxy>(ns::Dictionary::make({{"p", ns::num(1)}}));
    EXPECT_EQ(write(arr({proxied, ns::make<Proxy>(ns::str("s"))})).text, "[{\"p\":1},\"s\"]");
    EXPECT_EQ(write(proxied).text, "{\"p\":1}");
    EXPECT_EQ(write(ns::make<Proxy>(proxied)).text, "{\"p\":1}");

    // A proxy that empties the tree it is written from: the containers being
    // read stay alive (the sanitizer builds would see a freed one).
    class Emptier final : public ns::Object, public json::JsonProxy {
    public:
        std::vector<Ref<ns::MutableArray>> lists;
        Ref<ns::Object> proxyForJson() const override {
            for (auto& l : lists) l->removeAllObjects();
            return ns::str("gone");
        }
    };
    auto emptier = ns::make<Emptier>();
    auto inner = ns::MutableArray::make();
    inner->addObject(emptier);
    inner->addObject(ns::num(2));
    auto outer = ns::MutableArray::make();
    outer->addObject(inner);
    outer->addObject(ns::num(3));
    emptier->lists = {outer, inner};
    emptier = nullptr;
    inner = nullptr;
    EXPECT_EQ(write(outer).text, "[[\"gone\"]]");
    outer->removeAllObjects();

    // A proxy that grows the containers being written, so that their
    // entries move: the entries after it are read where they are now.
    class Grower final : public ns::Object, public json::JsonProxy {
    public:
        Ref<ns::MutableArray> list;
        Ref<ns::MutableDictionary> dict;
        Ref<ns::Object> proxyForJson() const override {
            for (int i = 0; i < 100; ++i) {
                list->addObject(ns::num(i));
                dict->setObject(ns::num(i), "k" + std::to_string(i));
            }
            return ns::str("grew");
        }
    };
    auto grower = ns::make<Grower>();
    grower->list = ns::MutableArray::make();
    grower->dict = ns::MutableDictionary::make();
    grower->list->addObject(grower);
    grower->list->addObject(ns::num(-1));
    grower->dict->setObject(grower->list, "a");
    grower->dict->setObject(ns::num(-2), "z");
    std::string grown = "{\"a\":[\"grew\",-1", grownKeys = "\"z\":-2";
    for (int i = 0; i < 100; ++i) {
        grown += "," + std::to_string(i);
        grownKeys += ",\"k" + std::to_string(i) + "\":" + std::to_string(i);
    }
    EXPECT_EQ(write(grower->dict).text, grown + "]," + grownKeys + "}");
    grower->list->removeAllObjects();  // the proxy and its array held each other

    const char* doc =
        "{\"n\":[0,-1,18,1.25,-0.0,1e400,12345678901234567890],\"s\":\"\\u00e9\\ud83d\\ude00\\t\",\"t\":true,"
        "\"f\":false,\"z\":null,\"e\":{},\"a\":[[]]}";
    auto p = ns::make<json::JsonParser>();
    auto tree = p->objectWithString(ns::str(doc).get());
    ASSERT_TRUE(tree) << p->error();
    Written w = write(tree);
    EXPECT_EQ(w.text,
              "{\"n\":[0,-1,18,1.25,-0.0,1e400,12345678901234567890],\"s\":\"\xC3\xA9\xF0\x9F\x98\x80\\t\",\"t\":true,"
              "\"f\":false,\"z\":null,\"e\":{},\"a\":[[]]}");
    for (bool sorted : {false, true}) {
        for (bool human : {false, true}) {
            auto again = p->objectWithString(ns::String::make(write(tree, sorted, human).text).get());
            ASSERT_TRUE(again) << p->error();
            EXPECT_TRUE(again->isEqual(*tree)) << dump(again);
        }
    }
}

TEST(StreamWriterOutput, WritersOnSeveralThreadsShareTheStringCache) {
    // Texts that are cached, and one too long to be cached.
    auto tree = ns::Dictionary::make({{"key\n", arr({ns::str("v\t1"), ns::str("\x01"), ns::String::make(std::string(300, 'x'))})}});
    const std::string expected = write(tree).text;
    std::vector<std::thread> threads;
    std::vector<int> mismatches(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                auto w = ns::make<json::JsonWriter>();
                auto s = w->stringWithObject(tree.get());
                if (!s || s->utf8() != expected) ++mismatches[t];
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(mismatches, (std::vector<int>{0, 0, 0, 0}));
    EXPECT_EQ(expected, "{\"key\\n\":[\"v\\t1\",\"\\u0001\",\"" + std::string(300, 'x') + "\"]}");
}

}  // namespace
