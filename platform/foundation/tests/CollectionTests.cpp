#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "platform/foundation/CollectionDescription.h"
#include "platform/foundation/Foundation.h"
#include "testsupport/ChildProcess.h"

using namespace ns;

TEST(Array, MutatesAndRefusesNil) {
    auto a = MutableArray::make();
    a->addObject(str("a"));
    a->addObject(num(2));
    a->insertObjectAtIndex(str("z"), 0);
    EXPECT_EQ(a->count(), 3u);
    EXPECT_EQ(a->indexOfObject(*num(2)), 2u);
    EXPECT_THROW(a->addObject(nullptr), Exception);
    EXPECT_THROW(a->objectAtIndex(3), Exception);
    a->addObjectsFromArray(*a);
    EXPECT_EQ(a->count(), 6u);
    a->removeObject(*str("a"));
    EXPECT_EQ(a->count(), 4u);
    {
        // The object to remove may be held by the array alone, after equal neighbours:
        // all of them go, and nothing is compared with it once it is freed.
        auto b = MutableArray::make();
        for (const char* s : {"x", "y", "x", "x"}) b->addObject(str(s));
        b->removeObject(*b->objectAtIndex(3));
        ASSERT_EQ(b->count(), 1u);
        EXPECT_TRUE(b->objectAtIndex(0)->isEqual(*str("y")));
    }
    auto frozen = a->copy();
    EXPECT_EQ(dynamic_cast<MutableArray*>(frozen.get()), nullptr);
    EXPECT_TRUE(frozen->isEqual(*a));
    // The standard arrays show their elements in memory, in order.
    for (const Array* each : std::initializer_list<const Array*>{a.get(), frozen.get()}) {
        const Ref<Object>* in = each->objectsInMemory();
        ASSERT_NE(in, nullptr);
        for (size_t i = 0; i < each->count(); ++i) EXPECT_EQ(in[i].get(), each->objectAtIndex(i)) << i;
    }
}

TEST(Dictionary, KeepsInsertionOrderAcrossGrowthAndRemoval) {
    auto d = MutableDictionary::make();
    for (int i = 0; i < 100; ++i) d->setObject(num(i), "k" + std::to_string(i));
    d->setObject(str("again"), "k5");  // replacing keeps the place
    EXPECT_EQ(d->count(), 100u);
    EXPECT_EQ(static_cast<String*>(d->keyAtIndex(5))->utf8(), "k5");
    ASSERT_TRUE(d->stringForKey("k5"));
    EXPECT_TRUE(d->stringForKey("k5")->isEqualToString("again"));
    d->removeObjectForKey("k0");
    EXPECT_EQ(static_cast<String*>(d->keyAtIndex(0))->utf8(), "k1");
    for (int i = 1; i < 100; ++i) ASSERT_TRUE(d->objectForKey("k" + std::to_string(i))) << i;
    EXPECT_FALSE(d->objectForKey("k0"));
    // The standard dictionaries show their entries in memory, in order.
    Ref<Dictionary> frozen = d->copy();
    for (const Dictionary* each : std::initializer_list<const Dictionary*>{d.get(), frozen.get()}) {
        const Dictionary::Entry* in = each->entriesInMemory();
        ASSERT_NE(in, nullptr);
        for (size_t i = 0; i < each->count(); ++i) {
            EXPECT_EQ(in[i].first.get(), each->keyAtIndex(i)) << i;
            EXPECT_EQ(in[i].second.get(), each->valueAtIndex(i)) << i;
        }
    }
    // Non-string keys are found by value.
    d->setObjectForKey(str("one"), num(1));
    EXPECT_TRUE(d->objectForKey(*Number::numberWithDouble(1.0)));
}

TEST(Dictionary, ImmutableKindsAreDistinctAndEqualByValue) {
    auto d = Dictionary::make({{"Title", str("Deck")}, {"index", num(3)}});
    EXPECT_EQ(dynamic_cast<MutableDictionary*>(d.get()), nullptr);
    auto m = d->mutableCopy();
    EXPECT_TRUE(m->isEqual(*d));
    m->setObject(num(4), "index");
    EXPECT_FALSE(m->isEqual(*d));
    ASSERT_TRUE(d->numberForKey("index"));
    EXPECT_EQ(d->numberForKey("index")->intValue(), 3);
    EXPECT_EQ(d->stringForKey("index"), nullptr);
}

TEST(Collections, DescribeLikeTheLogFormat) {
    auto d = Dictionary::make({{"a b", Array::make({str("x"), num(1)})}});
    EXPECT_EQ(d->description(), "{\n    \"a b\" = (\n        x,\n        1\n    );\n}");
}

namespace {

// An element whose description does something first: changes or lets go of
// the collection being described.
class Meddler final : public Object {
public:
    Meddler(std::string text, std::function<void()> act) : text_(std::move(text)), act_(std::move(act)) {}
    std::string description() const override {
        if (act_) act_();
        return text_;
    }

private:
    std::string text_;
    std::function<void()> act_;
};

// An object of another class that describes a collection of its own, as
// part of its own text.
class Wrapper final : public Object {
public:
    Ref<MutableArray> inner = MutableArray::make();
    std::string description() const override { return "<" + inner->description() + ">"; }
};

}  // namespace

// An element's description may change the collection being described, or
// free it: the entries are held from the start, so the text has every entry
// the collection had then, and nothing freed is read. Each row runs in a
// child process: a crash or a sanitizer's report there fails it.
TEST(Collections, DescriptionHoldsItsEntriesWhileAnElementChangesThem) {
    struct Row {
        const char* name;
        std::function<std::string()> describe;  // the description it got
        std::string expected;
    };
    const std::string arrayText = "(\n    a,\n    meddled,\n    c\n)";
    const std::string dictionaryText = "{\n    k1 = a;\n    k2 = meddled;\n    k3 = c;\n}";
    // (a, meddled, c), held by `holder` alone, whose middle element runs
    // `act` on the holder when it is described.
    auto array = [](std::function<void(Ref<MutableArray>&)> act) {
        static Ref<MutableArray> holder;
        holder = MutableArray::make();
        holder->addObject(str("a"));
        holder->addObject(make<Meddler>("meddled", [act] { act(holder); }));
        holder->addObject(str("c"));
        MutableArray* raw = holder.get();
        return raw->description();
    };
    // {k1 = a; k2 = meddled; k3 = c;}, the meddling element the value of k2
    // or its key, which empties the dictionary when it is described.
    auto dictionary = [](bool meddlingKey) {
        auto d = MutableDictionary::make();
        MutableDictionary* raw = d.get();
        auto meddler = make<Meddler>(meddlingKey ? "k2" : "meddled", [raw] { raw->removeAllObjects(); });
        d->setObject(str("a"), "k1");
        if (meddlingKey) d->setObjectForKey(str("meddled"), meddler);
        else d->setObject(meddler, "k2");
        d->setObject(str("c"), "k3");
        return d->description();
    };
    const Row rows[] = {
        {"an element that empties its array",
         [&] { return array([](Ref<MutableArray>& a) { a->removeAllObjects(); }); }, arrayText},
        {"an element that adds to its array",
         [&] { return array([](Ref<MutableArray>& a) { for (int i = 0; i < 100; ++i) a->addObject(str("more")); }); },
         arrayText},
        {"an element that lets its array go", [&] { return array([](Ref<MutableArray>& a) { a = nullptr; }); },
         arrayText},
        {"a value that empties its dictionary", [&] { return dictionary(false); }, dictionaryText},
        {"a key that empties its dictionary", [&] { return dictionary(true); }, dictionaryText},
        {"an element of an inner array that lets the outer one go",
         [] {
             static Ref<MutableArray> holder;
             holder = MutableArray::make();
             auto inner = MutableArray::make();
             inner->addObject(make<Meddler>("meddled", [] { holder = nullptr; }));
             inner->addObject(str("c"));
             holder->addObject(inner);
             inner = nullptr;
             holder->addObject(str("after"));
             MutableArray* raw = holder.get();
             return raw->description();
         },
         "(\n    (\n        meddled,\n        c\n    ),\n    after\n)"},
    };
    for (const Row& row : rows) {
        const std::string failure = testsupport::failureInChildProcess([&row]() -> std::string {
            std::string got = row.describe();
            return got == row.expected ? "" : "described as:\n" + got;
        });
        EXPECT_EQ(failure, "") << row.name;
    }
}

// Past kDescriptionDepthLimit collections (counted across the
// descriptions one description calls), a collection is written as its
// count alone: a deep tree, or one that holds itself, is described on a
// bounded stack and in bounded text. Runs in a child process: a stack
// overflow there fails the test.
TEST(Collections, DeepTreesAreWrittenInShortFormPastTheLimit) {
    // The limit itself: the 64th level in full, the 65th in short form.
    // `levels` arrays around "leaf", or dictionaries, or the two by turns.
    enum Kind { Arrays, Dictionaries, ByTurns };
    auto nest = [](int levels, Kind kind) {
        Ref<Object> top = str("leaf");
        for (int i = 0; i < levels; ++i) {
            if (kind == Dictionaries || (kind == ByTurns && i % 2)) top = Dictionary::make({{"k", top}});
            else top = Array::make({top});
        }
        return top;
    };
    auto lines = [](const std::string& text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); };
    {
        std::string full = nest(kDescriptionDepthLimit, Arrays)->description();
        EXPECT_EQ(full.find("(1 element)"), std::string::npos);
        EXPECT_NE(full.find(std::string(static_cast<size_t>(kDescriptionDepthLimit) * 4, ' ') + "leaf\n"), std::string::npos);
        std::string cut = nest(kDescriptionDepthLimit + 1, Arrays)->description();
        EXPECT_EQ(cut.find("leaf"), std::string::npos);
        EXPECT_NE(cut.find(std::string(static_cast<size_t>(kDescriptionDepthLimit) * 4, ' ') + "(1 element)\n"),
                  std::string::npos)
            << cut;
        EXPECT_EQ(lines(cut), lines(full));
        std::string dict = nest(kDescriptionDepthLimit + 1, Dictionaries)->description();
        EXPECT_NE(dict.find("k = {1 entry};"), std::string::npos) << dict;
        EXPECT_EQ(Array::make({Array::make({str("x"), str("y")}), Dictionary::make()})->description(),
                  "(\n    (\n        x,\n        y\n    ),\n    {\n    }\n)");
    }
    const std::string failure = testsupport::failureInChildProcess([&]() -> std::string {
        // Half a million levels of arrays and dictionaries by turns.
        const int deep = 500000;
        std::string text = nest(deep, ByTurns)->description();
        if (text.find("leaf") != std::string::npos) return "the leaf was written";
        if (text.size() > 64 * 1024) return "the text has " + std::to_string(text.size()) + " bytes";
        // A chain through objects of another class that describe their own
        // collections: each starts at indent 0, and the depth still counts.
        auto first = make<Wrapper>();
        Wrapper* last = first.get();
        for (int i = 0; i < deep; ++i) {
            auto next = make<Wrapper>();
            last->inner->addObject(next);
            last = next.get();
        }
        last->inner->addObject(str("leaf"));
        text = first->description();
        if (text.find("leaf") != std::string::npos) return "the wrapped leaf was written";
        if (text.find("(1 element)") == std::string::npos) return "no short form in the wrapped chain";
        // Let the chain go from its top, one link at a time.
        for (Ref<Wrapper> at = first; at;) {
            Ref<Wrapper> next;
            if (at->inner->count() > 0) next = Ref<Wrapper>(dynamic_cast<Wrapper*>(at->inner->objectAtIndex(0)));
            at->inner->removeAllObjects();
            at = next;
        }
        // An array that holds itself.
        auto self = MutableArray::make();
        self->addObject(str("x"));
        self->addObject(self);
        text = self->description();
        self->removeAllObjects();
        if (text.find("(2 elements)") == std::string::npos) return "the array holding itself: " + text.substr(0, 200);
        return "";
    });
    EXPECT_EQ(failure, "");
}

// A collection that holds itself, once or many times, directly or through
// other collections or objects of other classes, is written in short form
// where it is met again inside its own description: bounded text, in
// bounded time. So is every collection met once the text of one
// description has passed kDescriptionTextBudget (arrays that hold each
// other all around make more paths than any depth limit can bound). As
// written, an array that held itself twice was described without end.
// Each row runs in a child process that fails past a minute.
TEST(Collections, CollectionsThatHoldThemselvesAreDescribedInBoundedText) {
    struct Row {
        const char* name;
        std::function<std::string()> describe;  // the text, with the cycles broken afterwards
        std::string expected;                   // the text, or empty where only its size is checked
    };
    const Row rows[] = {
        {"an array that holds itself twice",
         [] {
             auto a = MutableArray::make();
             a->addObject(str("x"));
             a->addObject(a);
             a->addObject(a);
             std::string text = a->description();
             a->removeAllObjects();
             return text;
         },
         "(\n    x,\n    (3 elements),\n    (3 elements)\n)"},
        {"a dictionary that holds itself as two values",
         [] {
             auto d = MutableDictionary::make();
             d->setObject(d, "a");
             d->setObject(d, "b");
             std::string text = d->description();
             d->removeAllObjects();
             return text;
         },
         "{\n    a = {2 entries};\n    b = {2 entries};\n}"},
        {"two arrays that hold each other twice",
         [] {
             auto a = MutableArray::make(), b = MutableArray::make();
             for (int i = 0; i < 2; ++i) a->addObject(b), b->addObject(a);
             std::string text = a->description();
             a->removeAllObjects();
             b->removeAllObjects();
             return text;
         },
         "(\n    (\n        (2 elements),\n        (2 elements)\n    ),\n    (\n        (2 elements),\n"
         "        (2 elements)\n    )\n)"},
        {"an array held again through an object of another class",
         [] {
             auto a = MutableArray::make();
             auto w = make<Wrapper>();
             w->inner->addObject(a);
             w->inner->addObject(a);
             a->addObject(w);
             std::string text = a->description();
             a->removeAllObjects();
             return text;
         },
         "(\n    <(\n    (1 element),\n    (1 element)\n)>\n)"},
        {"twelve arrays that each hold all twelve",
         [] {
             std::vector<Ref<MutableArray>> all;
             for (int i = 0; i < 12; ++i) all.push_back(MutableArray::make());
             for (auto& a : all)
                 for (auto& b : all) a->addObject(b);
             std::string text = all[0]->description();
             for (auto& a : all) a->removeAllObjects();
             return text;
         },
         ""},
        {"forty levels that each hold the next twice",
         [] {
             Ref<Object> top = str("leaf");
             for (int i = 0; i < 40; ++i) top = Array::make({top, top});
             return top->description();
         },
         ""},
        {"one string longer than the whole budget",
         [] { return Array::make({String::make(std::string(kDescriptionTextBudget + 1, 'x'))})->description(); },
         "(\n    " + std::string(kDescriptionTextBudget + 1, 'x') + "\n)"},
        // The budget to the byte: a string, its line's indent and ",\n",
        // then a collection met with the text one byte short of the budget
        // (written in full) and at the budget (its count alone).
        {"a collection met one byte short of the budget",
         [] {
             return Array::make({String::make(std::string(kDescriptionTextBudget - 7, 'x')),
                                 Array::make({str("y")})})
                 ->description();
         },
         "(\n    " + std::string(kDescriptionTextBudget - 7, 'x') + ",\n    (\n        y\n    )\n)"},
        {"a collection met at the budget",
         [] {
             return Array::make({String::make(std::string(kDescriptionTextBudget - 6, 'x')),
                                 Array::make({str("y")})})
                 ->description();
         },
         "(\n    " + std::string(kDescriptionTextBudget - 6, 'x') + ",\n    (1 element)\n)"},
        {"forty levels of dictionaries that hold the next under two keys",
         [] {
             Ref<Object> top = str("leaf");
             for (int i = 0; i < 40; ++i) top = Dictionary::make({{"a", top}, {"b", top}});
             return top->description();
         },
         ""},
    };
    // Every description starts with the whole budget, whatever the one
    // before it on the same thread spent: small collections and an error's
    // UserInfo described afterwards are written in full.
    const auto laterDescriptions = []() -> std::string {
        const std::string small = Array::make({str("a"), Dictionary::make({{"k", str("v")}})})->description();
        if (small != "(\n    a,\n    {\n        k = v;\n    }\n)") return "a later array described as:\n" + small;
        const std::string dict = Dictionary::make({{"k", Array::make({str("v")})}})->description();
        if (dict != "{\n    k = (\n        v\n    );\n}") return "a later dictionary described as:\n" + dict;
        const std::string error = Error::make("Domain", 7, Dictionary::make({{"k", str("v")}}))->description();
        if (error.find(" UserInfo={\n    k = v;\n}") == std::string::npos) return "a later error described as:\n" + error;
        return "";
    };
    for (const Row& row : rows) {
        const std::string failure = testsupport::failureInChildProcess(
            [&row, &laterDescriptions]() -> std::string {
                const std::string got = row.describe();
                if (const std::string later = laterDescriptions(); !later.empty()) return later;
                if (!row.expected.empty()) return got == row.expected ? "" : "described as:\n" + got;
                // Cut where the budget ran out: past it by no more than the
                // rest of the collections then open.
                if (got.size() < kDescriptionTextBudget || got.size() > kDescriptionTextBudget + 16 * 1024)
                    return "the text has " + std::to_string(got.size()) + " bytes";
                if (got.find("elements)") == std::string::npos && got.find("entries}") == std::string::npos)
                    return "no short form";
                return "";
            },
            60000);
        EXPECT_EQ(failure, "") << row.name;
    }
}

// removeObject takes out every equal element wherever it stands: neighbours,
// the ends, the whole array; equal means isEqual, not the same object.
TEST(Array, RemoveObjectTakesEveryEqualElement) {
    struct Row {
        const char* name;
        std::vector<const char*> before;
        std::vector<const char*> after;
    } rows[] = {
        {"two neighbours", {"a", "x", "x", "b"}, {"a", "b"}},
        {"three neighbours at the start", {"x", "x", "x", "b"}, {"b"}},
        {"neighbours at the end", {"a", "x", "x"}, {"a"}},
        {"apart", {"x", "a", "x", "b", "x"}, {"a", "b"}},
        {"all", {"x", "x"}, {}},
        {"none", {"a", "b"}, {"a", "b"}},
        {"empty", {}, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto a = MutableArray::make();
        for (const char* s : row.before) a->addObject(String::make(std::string(s)));  // distinct objects
        auto x = MutableString::make("x");
        a->removeObject(*x);
        std::vector<std::string> left;
        for (Object* o : *a) left.push_back(describe(o));
        EXPECT_EQ(left, std::vector<std::string>(row.after.begin(), row.after.end()));
    }
}

// Keys are found by value: a key held by another object that is equal finds,
// replaces and removes the entry, in a small table and in an indexed one
// (past eight entries), and before and after a removal.
TEST(Dictionary, EqualKeysHeldByOtherObjectsAreOneKey) {
    for (size_t size : {1u, 7u, 8u, 9u, 16u, 17u, 100u}) {
        SCOPED_TRACE(::testing::Message() << size << " entries");
        auto d = MutableDictionary::make();
        for (size_t i = 0; i < size; ++i) d->setObjectForKey(num(static_cast<long long>(i)), String::make("k" + std::to_string(i)));
        const std::string last = "k" + std::to_string(size - 1);
        auto other = MutableString::make(last);  // equal text in another object (and class)
        ASSERT_NE(d->objectForKey(*other), nullptr);
        d->setObjectForKey(str("replaced"), other);
        EXPECT_EQ(d->count(), size);
        EXPECT_EQ(describe(d->objectForKey(last)), "replaced");
        EXPECT_EQ(describe(d->keyAtIndex(size - 1)), last);  // keeps its place
        // Numbers: 2 and 2.0 are one key.
        d->setObjectForKey(str("two"), num(2));
        d->setObjectForKey(str("two again"), Number::numberWithDouble(2.0));
        EXPECT_EQ(d->count(), size + 1);
        EXPECT_EQ(describe(d->objectForKey(*num(2))), "two again");
        // Removing by an equal key takes the one entry and leaves the others.
        d->removeObjectForKey(*String::make("k0"));
        EXPECT_EQ(d->count(), size);
        EXPECT_EQ(d->objectForKey("k0"), nullptr);
        for (size_t i = 1; i < size; ++i) EXPECT_NE(d->objectForKey("k" + std::to_string(i)), nullptr) << i;
        d->removeObjectForKey(*Number::numberWithDouble(2.0));
        EXPECT_EQ(d->objectForKey(*num(2)), nullptr);
        EXPECT_EQ(d->count(), size - 1);
        // Set again after the removals: one entry each.
        d->setObjectForKey(str("back"), String::make("k0"));
        d->setObjectForKey(str("back again"), MutableString::make("k0"));
        EXPECT_EQ(d->count(), size);
        EXPECT_EQ(describe(d->objectForKey("k0")), "back again");
    }
}
