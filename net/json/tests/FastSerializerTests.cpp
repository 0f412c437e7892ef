#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "net/json/FJCategories.h"
#include "net/json/FJSerializer.h"
#include "platform/foundation/Foundation.h"
#include "testsupport/Checked.h"
#include "testsupport/ChildProcess.h"

using namespace json;
using ns::Ref;
using testsupport::must;

namespace {

std::string write(const Ref<ns::Object>& o, uint64_t options = 0, Ref<ns::Error>* error = nullptr) {
    auto s = FJSerializer::serializeObjectOptionsEncodeOptionBlockDelegateSelectorError(
        o.get(), options, FJEncodeAsString, nullptr, nullptr, nullptr, error);
    return s ? std::string(must<ns::String>(s.get())->utf8()) : std::string("<nil>");
}

std::string failure(const Ref<ns::Object>& o, uint64_t options = 0, uint64_t encode = FJEncodeAsString) {
    Ref<ns::Error> error;
    auto s = FJSerializer::serializeObjectOptionsEncodeOptionBlockDelegateSelectorError(o.get(), options, encode,
                                                                                        nullptr, nullptr, nullptr,
                                                                                        &error);
    EXPECT_FALSE(s);
    if (!error) return "<no error>";
    EXPECT_EQ(error->domain(), "FJErrorDomain");
    EXPECT_EQ(error->code(), -1);
    EXPECT_EQ(error->userInfo()->count(), 1u);
    return error->localizedDescription();
}

Ref<ns::Object> arr(std::initializer_list<Ref<ns::Object>> items) { return ns::Array::make(items); }

// An object of a class the writer does not know.
class Widget : public ns::Object {
public:
    const char* className() const override { return "Widget"; }
};

class Formatter : public FJSerializerDelegate {
public:
    FJFormatterBlock implementationForSelector(const char* selector) override {
        if (std::string(selector) != "formatWidget:") return {};
        return [this](ns::Object* o) -> Ref<ns::Object> {
            ++calls;
            return ns::str(std::string("widget:") + o->className());
        };
    }
    int calls = 0;
};

std::string reason(const std::function<void()>& f) {
    try {
        f();
    } catch (const ns::Exception& e) {
        return e.name() + ": " + e.reason();
    }
    return "no exception";
}

}  // namespace

TEST(FastSerializer, CompactValues) {
    auto d = ns::Dictionary::make({{"a", ns::num(1)}, {"b", arr({ns::Null::null(), ns::Number::numberWithBool(true),
                                                                 ns::Number::numberWithBool(false), ns::str("x")})}});
    EXPECT_EQ(write(d), R"({"a":1,"b":[null,true,false,"x"]})");
    EXPECT_EQ(write(arr({})), "[]");
    EXPECT_EQ(write(ns::Dictionary::make()), "{}");
}

TEST(FastSerializer, PrettyLayoutSortsKeys) {
    auto d = ns::Dictionary::make({{"b", ns::num(2)}, {"a", arr({ns::num(1), ns::num(2)})}, {"e", arr({})}});
    EXPECT_EQ(write(d, FJSerializeFlagPretty),
              "{\n  \"a\": [\n    1,\n    2\n  ],\n  \"b\": 2,\n  \"e\": [\n    \n  ]\n}");
    EXPECT_EQ(write(arr({}), FJSerializeFlagPretty), "[\n  \n]");
    // Keys sort by their bytes, so by code point, in the decoder's own
    // dictionaries as in any other: a prefix first, capitals before small
    // letters, U+FFFD before a character beyond U+FFFF.
    const std::string sorted =
        "{\n  \"\": 1,\n  \"Z\": 2,\n  \"a\": 3,\n  \"aa\": 4,\n  \"\x7f\": 5,\n  \"\xC3\xA9\": 6,\n"
        "  \"\xEF\xBF\xBD\": 7,\n  \"\xF0\x9F\x98\x80\": 8\n}";
    auto shuffled = ns::Dictionary::make({{"\xF0\x9F\x98\x80", ns::num(8)}, {"aa", ns::num(4)}, {"\xEF\xBF\xBD", ns::num(7)},
                                          {"", ns::num(1)}, {"\xC3\xA9", ns::num(6)}, {"Z", ns::num(2)},
                                          {"\x7f", ns::num(5)}, {"a", ns::num(3)}});
    EXPECT_EQ(write(shuffled, FJSerializeFlagPretty), sorted);
    const std::string compact = write(shuffled);
    for (bool changeable : {false, true}) {
        auto decoded = changeable ? mutableObjectFromJSONString(*ns::String::make(compact))
                                  : objectFromJSONString(*ns::String::make(compact));
        ASSERT_TRUE(decoded) << compact;
        EXPECT_EQ(write(decoded), compact) << "the order of the text, kept";
        EXPECT_EQ(write(decoded, FJSerializeFlagPretty), sorted) << (changeable ? "changeable" : "immutable");
    }
}

TEST(FastSerializer, StringEscapes) {
    EXPECT_EQ(write(arr({ns::str("\t\"/\\\b\f\n\r\x01\x1f")})), "[\"\\t\\\"/\\\\\\b\\f\\n\\r\\u0001\\u001f\"]");
    EXPECT_EQ(write(arr({ns::str("a/b")}), FJSerializeFlagEscapeSlash), "[\"a\\/b\"]");
    EXPECT_EQ(write(arr({ns::str("\xC3\xA9")})), "[\"\xC3\xA9\"]");
    EXPECT_EQ(write(arr({ns::str("\xC3\xA9")}), FJSerializeFlagEscapeUnicode), "[\"\\u00e9\"]");
    EXPECT_EQ(write(arr({ns::str("x\xF0\x9F\x98\x80y")}), FJSerializeFlagEscapeUnicode), "[\"x\\ud83d\\ude00y\"]");
    EXPECT_EQ(failure(arr({ns::str("\xEF\xBF\xBF")}), FJSerializeFlagEscapeUnicode), "Error converting UTF8.");
    // Text that is not UTF-8 is refused instead of written as broken JSON:
    // each byte of a sequence is checked, at the edges of every range.
    for (const char* bad : {"a\xC3", "\xC3\x41", "\xC1\x81", "\xE0\x9F\xBF", "\xE2\x41\x80", "\xE2\x82\x41",
                            "\xED\xA0\x80", "\xF0\x8F\xBF\xBF", "\xF1\x41\x80\x80", "\xF1\x80\x41\x80",
                            "\xF1\x80\x80\x41", "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\x80"}) {
        EXPECT_EQ(failure(arr({ns::String::make(bad)})),
                  "An error occurred converting the contents of a NSString to UTF8.")
            << bad;
    }
    for (const char* good : {"\xC2\x80", "\xDF\xBF", "\xE0\xA0\x80", "\xED\x9F\xBF", "\xEE\x80\x80",
                             "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF"})
        EXPECT_EQ(write(arr({ns::String::make(good)})), std::string("[\"") + good + "\"]") << good;
    // Each ASCII byte alone, NUL included: the controls and the two marks
    // escaped (short forms where JSON has them), everything else as it is.
    for (int c = 0; c < 0x80; ++c) {
        static const char* const kShort[] = {"\\b", "\\t", "\\n", "", "\\f", "\\r"};
        char expected[8] = {char(c), 0};
        if (c >= 0x08 && c <= 0x0D && c != 0x0B) std::snprintf(expected, sizeof expected, "%s", kShort[c - 8]);
        else if (c < 0x20) std::snprintf(expected, sizeof expected, "\\u%04x", c);
        else if (c == '"' || c == '\\') std::snprintf(expected, sizeof expected, "\\%c", c);
        EXPECT_EQ(write(arr({ns::String::make(std::string(1, char(c)))})), std::string("[\"") + expected + "\"]")
            << "byte " << c;
    }
    // Many control characters: six output bytes each.
    std::string controls(5000, '\x01');
    std::string expect = "[\"";
    for (int i = 0; i < 5000; ++i) expect += "\\u0001";
    EXPECT_EQ(write(arr({ns::str(controls)})), expect + "\"]");
}

TEST(FastSerializer, Numbers) {
    EXPECT_EQ(write(arr({ns::Number::numberWithDouble(0.1)})), "[0.10000000000000001]");
    EXPECT_EQ(write(arr({ns::Number::numberWithLongLong(INT64_MIN)})), "[-9223372036854775808]");
    EXPECT_EQ(write(arr({ns::Number::numberWithUnsignedLongLong(UINT64_MAX)})), "[18446744073709551615]");
    EXPECT_EQ(write(arr({ns::Number::numberWithInt(-7), ns::Number::numberWithChar(3),
                         ns::Number::numberWithFloat(0.5f), ns::Number::numberWithDouble(1e300)})),
              "[-7,3,0.5,1.0000000000000001e+300]");
    // A boolean is true or false whatever object holds it: the shared ones
    // and any other number of the boolean type.
    EXPECT_EQ(write(arr({ns::Number::numberWithBool(true), ns::Number::numberWithBool(false),
                         ns::Number::makeUnsigned(ns::NumberType::Bool, 1),
                         ns::Number::makeUnsigned(ns::NumberType::Bool, 0)})),
              "[true,false,true,false]");
    const char* finite = "Floating point values must be finite.  JSON does not support NaN or Infinity.";
    EXPECT_EQ(failure(arr({ns::Number::numberWithDouble(std::nan(""))})), finite);
    EXPECT_EQ(failure(arr({ns::Number::numberWithDouble(-INFINITY)})), finite);
}

TEST(FastSerializer, KeysMustBeStrings) {
    auto d = ns::Dictionary::make(std::vector<ns::Dictionary::Entry>{{ns::num(1), ns::num(2)}});
    EXPECT_EQ(failure(d), "Key must be a string object.");
    EXPECT_EQ(failure(d, FJSerializeFlagPretty), "Key must be a string object.");
}

TEST(FastSerializer, TopLevelRulesAndResultKinds) {
    EXPECT_EQ(failure(ns::str("x"), 0, FJEncodeAsData | FJEncodeRequireCollection),
              "Unable to serialize object class String, expected a NSArray or NSDictionary.");
    EXPECT_EQ(failure(arr({}), 0, FJEncodeAsData | FJEncodeRequireString),
              "Unable to serialize object class Array, expected a NSString.");
    EXPECT_EQ(failure(arr({}), 0, 3), "Unknown encode as type.");
    auto data = JSONData(*ns::Array::make({ns::num(1)}));
    ASSERT_TRUE(data);
    EXPECT_EQ(data->view(), "[1]");
    EXPECT_EQ(must<ns::String>(JSONString(*ns::str("a\"b")))->utf8(), "\"a\\\"b\"");
    EXPECT_EQ(must<ns::Data>(JSONData(*ns::str("q")))->view(), "\"q\"");
    EXPECT_EQ(must<ns::String>(JSONStringWithOptionsIncludeQuotesError(*ns::str("a/b"), FJSerializeFlagEscapeSlash,
                                                                        false, nullptr))
                  ->utf8(),
              "a\\/b");
    EXPECT_EQ(must<ns::Data>(JSONDataWithOptionsIncludeQuotesError(*ns::str("x"), 0, false, nullptr))->view(), "x");
    auto dict = ns::Dictionary::make({{"k", ns::str("v")}});
    EXPECT_EQ(must<ns::String>(JSONString(*dict))->utf8(), R"({"k":"v"})");
    EXPECT_EQ(must<ns::Data>(JSONDataWithOptionsError(*dict, FJSerializeFlagPretty, nullptr))->view(),
              "{\n  \"k\": \"v\"\n}");
}

TEST(FastSerializer, UnsupportedObjectsGoThroughTheFormatters) {
    auto doc = ns::Array::make({ns::make<Widget>()});
    Ref<ns::Error> error;
    EXPECT_FALSE(JSONStringWithOptionsError(*doc, 0, &error));
    EXPECT_EQ(must<ns::Error>(error)->localizedDescription(), "Unable to serialize object class Widget.");

    auto s = JSONStringWithOptionsSerializeUnsupportedClassesUsingBlockError(
        *doc, 0, [](ns::Object*) -> Ref<ns::Object> { return ns::str("w"); }, nullptr);
    EXPECT_EQ(must<ns::String>(s)->utf8(), R"(["w"])");
    error = nullptr;
    EXPECT_FALSE(JSONDataWithOptionsSerializeUnsupportedClassesUsingBlockError(
        *doc, 0, [](ns::Object*) -> Ref<ns::Object> { return ns::make<Widget>(); }, &error));
    EXPECT_EQ(must<ns::Error>(error)->localizedDescription(),
              "Unable to serialize object class Widget that was returned by the unsupported class formatter.  "
              "Original object class was Widget.");

    Formatter f;
    auto byDelegate = JSONStringWithOptionsSerializeUnsupportedClassesUsingDelegateSelectorError(
        *doc, 0, &f, "formatWidget:", nullptr);
    EXPECT_EQ(must<ns::String>(byDelegate)->utf8(), R"(["widget:Widget"])");
    // The block comes first; the delegate answers when the block gives nothing.
    auto both = FJSerializer::serializeObjectOptionsEncodeOptionBlockDelegateSelectorError(
        doc.get(), 0, FJEncodeAsString, [](ns::Object*) -> Ref<ns::Object> { return nullptr; }, &f,
        "formatWidget:", nullptr);
    EXPECT_EQ(must<ns::String>(both.get())->utf8(), R"(["widget:Widget"])");

    EXPECT_EQ(reason([&] { JSONDataWithOptionsSerializeUnsupportedClassesUsingDelegateSelectorError(*doc, 0, &f,
                                                                                                    nullptr, nullptr); }),
              "InvalidArgumentException: The delegate argument is not NULL, but the selector argument is NULL.");
    EXPECT_EQ(reason([&] { JSONDataWithOptionsSerializeUnsupportedClassesUsingDelegateSelectorError(
                               *doc, 0, &f, "other:", nullptr); }),
              "InvalidArgumentException: The serializeUnsupportedClassesUsingDelegate: delegate does not respond "
              "to the selector argument.");
}

// A formatter block that uses its own serializer again (serializes with it,
// frees its state, lets it go) does not pull the outer call's state from
// under it: a nested call gets state of its own and the right text, a
// release of the state waits for the call's end, and the serializer lives
// to the end of the call. Before and after a widget, text long enough to
// take the output off the stack. As written, the nested call freed the outer
// call's state while it was in use (a crash in a release build). Each row
// runs in a child process: a crash or a sanitizer's report fails it.
TEST(FastSerializer, AFormatterThatUsesItsOwnSerializerAgain) {
    const std::string longText(6000, 'l');
    auto doc = ns::Array::make({ns::String::make(longText), ns::make<Widget>(), ns::str("x"), ns::make<Widget>(),
                                ns::String::make(longText)});
    const auto inner = ns::Dictionary::make({{"k", arr({ns::num(1), ns::make<Widget>()})}});
    const struct {
        const char* name;
        // What the block does with its serializer (held by `held` alone).
        std::function<Ref<ns::Object>(Ref<FJSerializer>& held, const ns::Weak<FJSerializer>& watched)> act;
        std::string replacement;  // the string the widgets are written as
    } rows[] = {
        {"serializes again",
         [&](Ref<FJSerializer>& held, const ns::Weak<FJSerializer>&) -> Ref<ns::Object> {
             Ref<ns::Error> error;
             auto text = held->serializeObject(inner.get(), 0, FJEncodeAsString,
                                               [](ns::Object*) -> Ref<ns::Object> { return ns::str("w"); }, nullptr,
                                               nullptr, &error);
             if (!text) return ns::str("nested failed");
             return text;
         },
         R"({"k":[1,"w"]})"},
        {"frees its state",
         [](Ref<FJSerializer>& held, const ns::Weak<FJSerializer>&) -> Ref<ns::Object> {
             held->releaseState();
             return ns::str("freed");
         },
         "freed"},
        {"lets it go",
         [](Ref<FJSerializer>& held, const ns::Weak<FJSerializer>& watched) -> Ref<ns::Object> {
             held = nullptr;
             return ns::str(watched.expired() ? "gone" : "alive");
         },
         "alive"},
    };
    for (const auto& row : rows) {
        const std::string failure = testsupport::failureInChildProcess([&]() -> std::string {
            Ref<FJSerializer> held = ns::make<FJSerializer>();
            FJSerializer* raw = held.get();
            ns::Weak<FJSerializer> watched(held);
            Ref<ns::Error> error;
            auto text = raw->serializeObject(
                doc.get(), 0, FJEncodeAsString, [&](ns::Object*) { return row.act(held, watched); }, nullptr, nullptr, &error);
            if (!text) return "failed: " + (error ? error->localizedDescription() : std::string("no error"));
            const std::string expected = write(ns::Array::make({ns::String::make(longText), ns::String::make(row.replacement),
                                                                ns::str("x"), ns::String::make(row.replacement),
                                                                ns::String::make(longText)}));
            const std::string got(must<ns::String>(text)->utf8());
            if (got != expected) return "wrote " + got.substr(longText.size() + 3, 200);
            if (!held && !watched.expired()) return "the serializer outlived its call";
            held = nullptr;
            if (!watched.expired()) return "the serializer was kept after its call";
            return "";
        });
        EXPECT_EQ(failure, "") << row.name;
    }
}

TEST(FastSerializer, FreshReplacementsAreNeverMistakenForEachOther) {
    // Each call of the block makes a new string; all must be written as made.
    std::vector<Ref<ns::Object>> items;
    for (int i = 0; i < 2000; ++i) items.push_back(ns::make<Widget>());
    auto doc = ns::Array::make(items);
    int n = 0;
    auto s = JSONStringWithOptionsSerializeUnsupportedClassesUsingBlockError(
        *doc, 0, [&](ns::Object*) -> Ref<ns::Object> { return ns::str(std::to_string(n++)); }, nullptr);
    ASSERT_TRUE(s);
    std::string expect = "[";
    for (int i = 0; i < 2000; ++i) expect += (i ? ",\"" : "\"") + std::to_string(i) + "\"";
    EXPECT_EQ(s->utf8(), expect + "]");
}

TEST(FastSerializer, RepeatedObjectsAndLargeOutput) {
    auto key = ns::str("repeated-key");
    std::vector<Ref<ns::Object>> rows;
    for (int i = 0; i < 20000; ++i)
        rows.push_back(ns::Dictionary::make(std::vector<ns::Dictionary::Entry>{{key, ns::num(i)}}));
    auto out = JSONString(*ns::Array::make(rows));
    ASSERT_TRUE(out);
    std::string expect = "[";
    for (int i = 0; i < 20000; ++i) expect += (i ? ",{\"repeated-key\":" : "{\"repeated-key\":") + std::to_string(i) + "}";
    EXPECT_EQ(out->utf8(), expect + "]");
    auto data = JSONData(*ns::Array::make(rows));
    ASSERT_TRUE(data);
    EXPECT_EQ(data->view(), expect + "]");
}

TEST(FastSerializer, DepthAndCyclesAreBounded) {
    auto m = ns::MutableArray::make();
    m->addObject(m);  // a cycle
    EXPECT_EQ(failure(m), "Arrays and dictionaries are nested more than 512 levels deep.");
    m->removeAllObjects();
    Ref<ns::Object> deep = ns::Array::make();
    for (size_t i = 1; i < FJMaxSerializeDepth; ++i) deep = ns::Array::make({deep});
    EXPECT_NE(write(deep), "<nil>");
    EXPECT_EQ(failure(arr({deep})), "Arrays and dictionaries are nested more than 512 levels deep.");
}

// A formatter that changes the array or dictionary being written (or one
// that holds it): the write raises GenericException once that container is
// done, as a change during an enumeration does, whatever the change, the
// container's class and the layout, and reads nothing the change freed
// meanwhile (the sanitizer builds would report it). As written, the fast
// dictionary's entries were read where they had been: a removal in the
// formatter read freed memory.
TEST(FastSerializer, ContainersChangedByAFormatterRaise) {
    // Every row's container holds a widget first (itself or in an array),
    // then entries that only it holds, so that a change frees them before
    // they are written; the formatter changes that container.
    auto dictionary = [](bool fast) -> Ref<ns::Object> {
        Ref<ns::MutableDictionary> d;
        if (fast) d = ns::Ref(must<ns::MutableDictionary>(mutableObjectFromJSONString(*ns::str(R"({"a":0})")).get()));
        else d = ns::MutableDictionary::make();
        d->setObject(ns::make<Widget>(), "a");
        for (int i = 0; i < 12; ++i) d->setObject(ns::String::make("value " + std::to_string(i)), "k" + std::to_string(i));
        return d;
    };
    auto array = [](bool fast) -> Ref<ns::Object> {
        Ref<ns::MutableArray> a;
        if (fast) a = ns::Ref(must<ns::MutableArray>(mutableObjectFromJSONString(*ns::str("[0]")).get()));
        else a = ns::MutableArray::make();
        if (fast) a->replaceObjectAtIndex(0, ns::make<Widget>());
        else a->addObject(ns::make<Widget>());
        for (int i = 0; i < 12; ++i) a->addObject(ns::String::make("value " + std::to_string(i)));
        return a;
    };
    const struct {
        const char* name;
        std::function<Ref<ns::Object>()> make;
    } containers[] = {
        {"standard dictionary", [&] { return dictionary(false); }},
        {"fast dictionary", [&] { return dictionary(true); }},
        {"standard array", [&] { return array(false); }},
        {"fast array", [&] { return array(true); }},
        {"standard dictionary, the widget in an inner array", [&] {
             auto d = ns::MutableDictionary::make();
             auto inner = ns::MutableArray::make();
             inner->addObject(ns::make<Widget>());
             d->setObject(inner, "a");
             for (int i = 0; i < 12; ++i) d->setObject(ns::String::make("value " + std::to_string(i)), "k" + std::to_string(i));
             return Ref<ns::Object>(d);
         }},
        {"fast dictionary, the widget in an inner array", [&] {
             auto parsed = mutableObjectFromJSONString(*ns::str(R"({"a":[0]})"));
             auto* d = must<ns::MutableDictionary>(parsed.get());
             must<ns::MutableArray>(d->objectForKey("a"))->replaceObjectAtIndex(0, ns::make<Widget>());
             for (int i = 0; i < 12; ++i) d->setObject(ns::String::make("value " + std::to_string(i)), "k" + std::to_string(i));
             return parsed;
         }},
        {"standard array, widgets in two inner arrays", [&] {
             auto a = ns::MutableArray::make();
             for (const char* after : {"x", "y"}) {
                 auto inner = ns::MutableArray::make();
                 inner->addObject(ns::make<Widget>());
                 inner->addObject(ns::String::make(after));
                 a->addObject(inner);
             }
             for (int i = 0; i < 12; ++i) a->addObject(ns::String::make("value " + std::to_string(i)));
             return Ref<ns::Object>(a);
         }},
    };
    // The same tree with "w" in place of each widget, written without a
    // formatter: what a formatter that changes nothing must give.
    std::function<void(ns::Object*)> replaceWidgets = [&](ns::Object* o) {
        if (auto* a = ns::as<ns::MutableArray>(o)) {
            for (size_t i = 0; i < a->count(); ++i) {
                if (dynamic_cast<Widget*>(a->objectAtIndex(i))) a->replaceObjectAtIndex(i, ns::str("w"));
                else replaceWidgets(a->objectAtIndex(i));
            }
        } else if (auto* d = ns::as<ns::MutableDictionary>(o)) {
            for (size_t i = 0; i < d->count(); ++i) {
                if (dynamic_cast<Widget*>(d->valueAtIndex(i)))
                    d->setObjectForKey(ns::str("w"), Ref<ns::Object>(d->keyAtIndex(i)));
                else replaceWidgets(d->valueAtIndex(i));
            }
        }
    };
    struct Change {
        const char* name;
        std::function<void(ns::Object*)> apply;
    } changes[] = {
        {"nothing changed", nullptr},
        {"all entries removed", [](ns::Object* c) {
             if (auto* d = ns::as<ns::MutableDictionary>(c)) d->removeAllObjects();
             else must<ns::MutableArray>(c)->removeAllObjects();
         }},
        {"one entry removed", [](ns::Object* c) {
             if (auto* d = ns::as<ns::MutableDictionary>(c)) d->removeObjectForKey("k0");
             else must<ns::MutableArray>(c)->removeObjectAtIndex(1);
         }},
        {"entries added", [](ns::Object* c) {
             for (int i = 0; i < 40; ++i) {
                 if (auto* d = ns::as<ns::MutableDictionary>(c)) d->setObject(ns::num(i), "added" + std::to_string(i));
                 else must<ns::MutableArray>(c)->addObject(ns::num(i));
             }
         }},
        {"values replaced", [](ns::Object* c) {
             for (int i = 0; i < 12; ++i) {
                 if (auto* d = ns::as<ns::MutableDictionary>(c)) d->setObject(ns::str("new"), "k" + std::to_string(i));
                 else must<ns::MutableArray>(c)->replaceObjectAtIndex(size_t(i) + 1, ns::str("new"));
             }
         }},
        {"the last value replaced", [](ns::Object* c) {
             if (auto* d = ns::as<ns::MutableDictionary>(c)) d->setObject(ns::str("new"), "k11");
             else must<ns::MutableArray>(c)->replaceObjectAtIndex(must<ns::MutableArray>(c)->count() - 1, ns::str("new"));
         }},
    };
    for (const auto& container : containers) {
        for (const Change& change : changes) {
            for (uint64_t options : {uint64_t{0}, uint64_t{FJSerializeFlagPretty}}) {
                const std::string row = std::string(change.name) + ", " + container.name +
                                        (options ? ", pretty" : ", compact");
                const Ref<ns::Object> top = container.make();
                ns::Object* target = top.get();
                bool once = false;
                FJFormatterBlock formatter = [&](ns::Object*) -> Ref<ns::Object> {
                    if (!once && change.apply) change.apply(target);
                    once = true;
                    return ns::str("w");
                };
                if (!change.apply) {
                    const Ref<ns::Object> plain = container.make();
                    replaceWidgets(plain.get());
                    auto s = FJSerializer::serializeObjectOptionsEncodeOptionBlockDelegateSelectorError(
                        top.get(), options, FJEncodeAsString, formatter, nullptr, nullptr, nullptr);
                    ASSERT_TRUE(s) << row;
                    EXPECT_EQ(must<ns::String>(s.get())->utf8(), write(plain, options)) << row;
                    continue;
                }
                EXPECT_EQ(reason([&] {
                              FJSerializer::serializeObjectOptionsEncodeOptionBlockDelegateSelectorError(
                                  top.get(), options, FJEncodeAsString, formatter, nullptr, nullptr, nullptr);
                          }),
                          std::string("GenericException: *** Collection <") + target->className() +
                              "> was mutated while being enumerated.")
                    << row;
                EXPECT_TRUE(once) << row;
            }
        }
    }

    // A container changed after it was written, or before it is reached,
    // raises nothing: what it held when it was written is written. An
    // object freed by the formatter may leave its address to the
    // replacement; the replacement is written as itself, not as the text
    // the freed object had at that address.
    for (uint64_t options : {uint64_t{0}, uint64_t{FJSerializeFlagPretty}}) {
        auto done = ns::MutableArray::make();
        done->addObject(ns::String::make("aaaa"));
        auto later = ns::MutableArray::make();
        later->addObject(ns::String::make("cccc"));
        auto top = arr({done, ns::make<Widget>(), later});
        auto s = JSONStringWithOptionsSerializeUnsupportedClassesUsingBlockError(
            *must<ns::Array>(top), options,
            [&](ns::Object*) -> Ref<ns::Object> {
                done->removeAllObjects();  // "aaaa" is freed
                later->replaceObjectAtIndex(0, ns::String::make("dddd"));
                return ns::String::make("bbbb");
            },
            nullptr);
        ASSERT_TRUE(s);
        EXPECT_EQ(s->utf8(), options ? "[\n  [\n    \"aaaa\"\n  ],\n  \"bbbb\",\n  [\n    \"dddd\"\n  ]\n]"
                                     : R"([["aaaa"],"bbbb",["dddd"]])");
    }
}
