#include <gtest/gtest.h>

#include "platform/foundation/Foundation.h"

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
