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
