#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "net/json/FJArray.h"
#include "net/json/FJDictionary.h"
#include "net/json/JSONDecoder.h"
#include "platform/foundation/Foundation.h"
#include "testsupport/Checked.h"

using namespace json;
using ns::Ref;
using testsupport::must;

namespace {

Ref<ns::Object> parse(const std::string& text, bool mutableCollections) {
    JSONDecoder d;
    Ref<ns::Error> error;
    auto v = mutableCollections ? d.mutableObjectWithUTF8StringLengthError(text.data(), text.size(), &error)
                                : d.objectWithUTF8StringLengthError(text.data(), text.size(), &error);
    EXPECT_TRUE(v) << (error ? error->localizedDescription() : "");
    return v;
}

Ref<FJArray> array(const std::string& text, bool mutableCollections) {
    return Ref<FJArray>(must<FJArray>(parse(text, mutableCollections), text.c_str()));
}

Ref<FJDictionary> dictionary(const std::string& text, bool mutableCollections) {
    return Ref<FJDictionary>(must<FJDictionary>(parse(text, mutableCollections), "the decoded object"));
}

std::string members(int n, int from = 0) {
    std::string s = "{";
    for (int i = from; i < from + n; ++i) s += (i > from ? ",\"k" : "\"k") + std::to_string(i) + "\":" + std::to_string(i);
    return s + "}";
}

std::string text(ns::Object* o) { return std::string(must<ns::String>(o)->utf8()); }

std::string reason(const std::function<void()>& f) {
    try {
        f();
    } catch (const ns::Exception& e) {
        return e.name() + ": " + e.reason();
    }
    return "no exception";
}

}  // namespace

TEST(FastCollections, ClassesArePrivateToTheDecoder) {
    EXPECT_EQ(reason([] { FJArray::alloc(); }),
              "InvalidArgumentException: *** - [FJArray alloc]: The FJArray class is private to FastJSON and "
              "should not be used in this fashion.");
    EXPECT_EQ(reason([] { FJDictionary::alloc(); }),
              "InvalidArgumentException: *** - [FJDictionary alloc]: The FJDictionary class is private to FastJSON "
              "and should not be used in this fashion.");
}

TEST(FastCollections, ImmutableArrayRefusesChangesAndCopiesToItself) {
    auto a = array("[1,2,3]", false);
    EXPECT_EQ(a->mutations(), 0u);
    EXPECT_EQ(reason([&] { a->insertObjectAtIndex(ns::num(1), 0); }),
              "InternalInconsistencyException: *** -[FJArray insertObjectAtIndex]: mutating method sent to "
              "immutable object");
    EXPECT_THROW(a->removeObjectAtIndex(0), ns::Exception);
    EXPECT_THROW(a->replaceObjectAtIndex(0, ns::num(1)), ns::Exception);
    EXPECT_EQ(a->copy().get(), a.get());
    auto m = a->mutableCopy();
    m->addObject(ns::num(4));
    EXPECT_EQ(m->count(), 4u);
    EXPECT_EQ(reason([&] { a->objectAtIndex(3); }),
              "RangeException: *** -[FJArray objectAtIndex]: index (3) beyond bounds (3)");
}

TEST(FastCollections, MutableArrayGrowsBySixteenAndChecksBounds) {
    auto a = array("[1,2,3]", true);
    EXPECT_EQ(a->capacity(), 3u);
    uint64_t before = a->mutations();
    a->insertObjectAtIndex(ns::str("x"), 3);  // at count: appends
    EXPECT_EQ(a->capacity(), 19u);
    EXPECT_EQ(a->count(), 4u);
    EXPECT_GT(a->mutations(), before);
    EXPECT_EQ(must<ns::String>(a->objectAtIndex(3))->utf8(), "x");
    EXPECT_EQ(reason([&] { a->insertObjectAtIndex(ns::num(9), 5); }),
              "RangeException: *** -[FJArray insertObjectAtIndex]: index (5) beyond bounds (5)");
    EXPECT_EQ(reason([&] { a->insertObjectAtIndex(nullptr, 0); }),
              "InvalidArgumentException: *** -[FJArray insertObjectAtIndex]: attempt to insert nil");
    a->insertObjectAtIndex(ns::num(0), 0);
    EXPECT_EQ(must<ns::Number>(a->objectAtIndex(0))->intValue(), 0);
    EXPECT_EQ(must<ns::Number>(a->objectAtIndex(1))->intValue(), 1);
    a->removeObjectAtIndex(1);
    EXPECT_EQ(a->count(), 4u);
    EXPECT_EQ(must<ns::Number>(a->objectAtIndex(1))->intValue(), 2);
    a->replaceObjectAtIndex(1, ns::str("r"));
    EXPECT_EQ(must<ns::String>(a->objectAtIndex(1))->utf8(), "r");
    EXPECT_THROW(a->removeObjectAtIndex(4), ns::Exception);
    for (int i = 0; i < 40; ++i) a->addObject(ns::num(i));
    EXPECT_EQ(a->count(), 44u);
    // Every element equal to the one given goes, next to each other or not,
    // at both ends, whatever object holds the value (the caller's own is not
    // the array's), in the slots made with the array and after it grew.
    struct Removal {
        const char* name;
        std::string doc;
        bool grow;
        std::string left;
    };
    for (const Removal& r : std::initializer_list<Removal>{
             {"neighbours at both ends", R"([1,1,2,1,1,"1",1.5,1])", false, "2 \"1\" 1.5"},
             {"all of them", "[1,1,1]", false, "" },
             {"none of them", "[2,3]", false, "2 3"},
             {"after growing", "[1,2]", true, "2 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20"},
         }) {
        auto g = array(r.doc, true);
        if (r.grow) {
            for (int i = 1; i <= 20; ++i) {
                g->addObject(ns::num(1));
                g->addObject(ns::num(i));
            }
        }
        g->removeObject(*ns::Number::numberWithLongLong(1));
        std::string left;
        for (size_t i = 0; i < g->count(); ++i) {
            ns::Object* o = g->objectAtIndex(i);
            left += (i ? " " : "") + (ns::as<ns::String>(o) ? "\"" + text(o) + "\"" : o->description());
        }
        EXPECT_EQ(left, r.left) << r.name;
    }
    auto frozen = a->copy();
    EXPECT_NE(frozen.get(), a.get());
    EXPECT_TRUE(frozen->isEqual(*a));
    a->removeAllObjects();
    EXPECT_EQ(a->count(), 0u);
    // An empty changeable array grows out of its block twice.
    auto e = array("[]", true);
    for (int i = 0; i < 40; ++i) e->insertObjectAtIndex(ns::num(i), 0);
    EXPECT_EQ(e->capacity(), 48u);
    for (int i = 0; i < 40; ++i) ASSERT_EQ(must<ns::Number>(e->objectAtIndex(i))->intValue(), 39 - i);
}

TEST(FastCollections, ArrayRangeCopyAndEnumeration) {
    auto a = array("[10,11,12,13,14]", false);
    ns::Object* out[3];
    a->getObjectsRange(out, {1, 3});
    EXPECT_EQ(out[0], a->objectAtIndex(1));
    EXPECT_EQ(out[2], a->objectAtIndex(3));
    EXPECT_EQ(reason([&] { a->getObjectsRange(out, {4, 3}); }),
              "RangeException: *** -[FJArray getObjectsRange]: index (7) beyond bounds (5)");
    EXPECT_EQ(reason([&] { a->getObjectsRange(nullptr, {0, 2}); }),
              "RangeException: *** -[FJArray getObjectsRange]: pointer to objects array is NULL but range length "
              "is 2");
    // Every call is counted, so an enumeration that never ends fails here
    // instead of hanging the test.
    FJFastEnumerationState state;
    ns::Object* buf[2];
    size_t total = 0, n, calls = 0;
    std::vector<ns::Object*> handed;
    while (calls++ < 10 && (n = a->countByEnumeratingWithStateObjectsCount(&state, buf, 2)) > 0) {
        total += n;
        handed.insert(handed.end(), buf, buf + n);
    }
    EXPECT_EQ(calls, 4u);  // 2 + 2 + 1, then the 0 that ends it
    EXPECT_EQ(total, 5u);
    ASSERT_EQ(handed.size(), 5u);
    for (size_t i = 0; i < 5; ++i) EXPECT_EQ(handed[i], a->objectAtIndex(i)) << i;
    ASSERT_NE(state.mutationsPtr, nullptr);
    EXPECT_EQ(*state.mutationsPtr, 0u);
}

TEST(FastCollections, DictionaryCapacityFollowsTheTable) {
    EXPECT_EQ(FJDictionary::capacityForCount(0), 0u);
    EXPECT_EQ(FJDictionary::capacityForCount(1), 3u);
    EXPECT_EQ(FJDictionary::capacityForCount(10), 13u);
    EXPECT_EQ(FJDictionary::capacityForCount(11), 23u);
    EXPECT_EQ(FJDictionary::capacityForCount(355569361), 472907251u);
    EXPECT_EQ(FJDictionary::capacityForCount(355569362), 0u);  // beyond the largest table
    // Each capacity is a prime of at least floor(1.33 * count) slots for
    // the counts it takes, which start where the one before no longer has
    // enough: 39 steps through the table, each edge found and checked.
    auto prime = [](size_t n) {
        for (size_t d = 2; d * d <= n; ++d)
            if (n % d == 0) return false;
        return n > 1;
    };
    auto slotsFor = [](size_t count) { return static_cast<size_t>(static_cast<double>(count) * 1.33); };
    size_t steps = 0, previous = 0;
    for (size_t count = 1, capacity; steps < 60 && (capacity = FJDictionary::capacityForCount(count)) != 0; ++steps) {
        EXPECT_TRUE(prime(capacity)) << capacity;
        EXPECT_LT(previous, slotsFor(count)) << count;
        size_t last = std::max(count, static_cast<size_t>(static_cast<double>(capacity) / 1.33) - 2);
        // Bounded, so a table that never moves on fails instead of hanging.
        for (size_t guard = 0; guard < 1000 && FJDictionary::capacityForCount(last + 1) == capacity; ++guard) ++last;
        EXPECT_EQ(FJDictionary::capacityForCount(last), capacity) << last;
        EXPECT_GE(capacity, slotsFor(last)) << last;
        previous = capacity;
        count = last + 1;
    }
    EXPECT_EQ(steps, 39u);
    auto d = dictionary(members(10), true);
    EXPECT_EQ(d->capacity(), 13u);
    d->setObject(ns::num(10), "k10");
    EXPECT_EQ(d->capacity(), 23u);
    EXPECT_EQ(d->count(), 11u);
    for (int i = 0; i <= 10; ++i)
        EXPECT_EQ(must<ns::Number>(d->objectForKey("k" + std::to_string(i)))->intValue(), i);
    // Grown again, from one heap table to the next.
    for (int i = 11; i < 40; ++i) d->setObject(ns::num(i), "k" + std::to_string(i));
    EXPECT_EQ(d->capacity(), 71u);
    for (int i = 0; i < 40; ++i)
        ASSERT_EQ(must<ns::Number>(d->objectForKey("k" + std::to_string(i)))->intValue(), i);
    // From no table to three slots (tags kept in the header), then out of
    // them into a heap table; a full three-slot table still ends a search.
    auto s = dictionary("{}", true);
    for (int i = 0; i < 6; ++i) {
        s->setObject(ns::num(i), "s" + std::to_string(i));
        EXPECT_EQ(s->capacity(), i < 3 ? 3u : 7u) << i;
        for (int j = 0; j <= i; ++j)
            ASSERT_EQ(must<ns::Number>(s->objectForKey("s" + std::to_string(j)))->intValue(), j) << i;
        EXPECT_EQ(s->objectForKey("absent"), nullptr);
    }
    auto full = dictionary(members(3), false);
    EXPECT_EQ(full->capacity(), 3u);
    EXPECT_EQ(full->objectForKey("absent"), nullptr);
    EXPECT_EQ(must<ns::Number>(full->objectForKey("k2"))->intValue(), 2);
}

TEST(FastCollections, DictionaryReplaceRemoveAndReachability) {
    auto d = dictionary(members(60), true);
    d->setObject(ns::str("new"), "k5");
    EXPECT_EQ(d->count(), 60u);
    EXPECT_EQ(must<ns::String>(d->objectForKey("k5"))->utf8(), "new");
    // Remove every third key; all others stay reachable, also past removed slots.
    for (int i = 0; i < 60; i += 3) d->removeObjectForKey("k" + std::to_string(i));
    EXPECT_EQ(d->count(), 40u);
    for (int i = 0; i < 60; ++i) {
        ns::Object* v = d->objectForKey("k" + std::to_string(i));
        if (i % 3 == 0) EXPECT_EQ(v, nullptr) << i;
        else EXPECT_NE(v, nullptr) << i;
    }
    d->removeObjectForKey("absent");
    EXPECT_EQ(d->count(), 40u);
    // Keys that collide on their start slot (same hash modulo the capacity).
    auto c = dictionary("{}", true);
    for (int i = 0; i < 200; ++i) c->setObject(ns::num(i), "c" + std::to_string(i));
    for (int i = 0; i < 200; i += 2) c->removeObjectForKey("c" + std::to_string(i));
    for (int i = 1; i < 200; i += 2) ASSERT_NE(c->objectForKey("c" + std::to_string(i)), nullptr) << i;
    EXPECT_EQ(c->count(), 100u);
    // Entries keep the order they were first set in, through replacements
    // and removals (tables of three slots, of one-byte and two-byte places).
    c->setObject(ns::str("again"), "c7");
    for (size_t i = 0; i < c->count(); ++i) ASSERT_EQ(text(c->keyAtIndex(i)), "c" + std::to_string(2 * i + 1)) << i;
    EXPECT_EQ(text(c->valueAtIndex(3)), "again");
    for (int i = 0; i < 60; ++i) {
        if (i % 3 == 0) continue;
        size_t at = size_t(i - i / 3 - 1);
        ASSERT_EQ(text(d->keyAtIndex(at)), "k" + std::to_string(i)) << i;
    }
    auto three = dictionary(R"({"a":1,"b":2,"c":3})", true);
    three->removeObjectForKey("a");
    three->setObject(ns::num(4), "d");
    EXPECT_EQ(text(three->keyAtIndex(0)) + text(three->keyAtIndex(1)) + text(three->keyAtIndex(2)), "bcd");
    EXPECT_EQ(three->objectForKey("a"), nullptr);
    // Keys are compared by their text, not by the object: another object of
    // equal text (made apart, or changeable) finds, replaces in place and
    // removes the entry, in tables of each kind (keys in the header, one-byte
    // and two-byte places), immutable ones alike.
    for (int size : {1, 3, 25, 300}) {
        for (bool changeable : {false, true}) {
            const std::string row = std::to_string(size) + (changeable ? " changeable" : " immutable");
            auto e = dictionary(members(size), changeable);
            const size_t at = size_t(size / 2);
            const std::string key = "k" + std::to_string(at);
            auto apart = ns::String::make(key);
            auto changing = ns::MutableString::make(key);
            ASSERT_NE(apart.get(), e->keyAtIndex(at)) << row;
            EXPECT_EQ(e->objectForKey(*apart), e->valueAtIndex(at)) << row;
            EXPECT_EQ(e->objectForKey(*changing), e->valueAtIndex(at)) << row;
            if (!changeable) continue;
            e->setObjectForKey(ns::str("apart"), apart);
            e->setObjectForKey(ns::str("changing"), changing);
            ASSERT_EQ(e->count(), size_t(size)) << row;
            EXPECT_EQ(text(e->keyAtIndex(at)), key) << row;
            EXPECT_EQ(text(e->valueAtIndex(at)), "changing") << row;
            e->removeObjectForKey(*ns::String::make(key));
            ASSERT_EQ(e->count(), size_t(size - 1)) << row;
            EXPECT_EQ(e->objectForKey(*apart), nullptr) << row;
            for (int i = 0; i < size; ++i) {
                if (size_t(i) == at) continue;
                const size_t place = size_t(i) < at ? size_t(i) : size_t(i) - 1;
                ASSERT_EQ(text(e->keyAtIndex(place)), "k" + std::to_string(i)) << row;
                ASSERT_EQ(must<ns::Number>(e->objectForKey(*ns::String::make("k" + std::to_string(i))))->intValue(), i)
                    << row;
            }
        }
    }
    EXPECT_EQ(reason([&] { c->setObjectForKey(ns::num(1), nullptr); }),
              "InvalidArgumentException: *** -[FJDictionary setObjectForKey]: attempt to insert nil key");
    EXPECT_EQ(reason([&] { c->setObjectForKey(nullptr, ns::str("k")); }),
              "InvalidArgumentException: *** -[FJDictionary setObjectForKey]: attempt to insert nil value (key: k)");
    c->removeAllObjects();
    EXPECT_EQ(c->count(), 0u);
    EXPECT_EQ(c->objectForKey("c1"), nullptr);
}

TEST(FastCollections, DictionaryCopiesChangeableKeys) {
    auto d = dictionary("{}", true);
    auto key = ns::MutableString::make("k");
    d->setObjectForKey(ns::num(1), key);
    key->appendString("2");
    EXPECT_NE(d->objectForKey("k"), nullptr);
    EXPECT_EQ(d->objectForKey("k2"), nullptr);
}

TEST(FastCollections, ImmutableDictionaryRefusesChanges) {
    auto d = dictionary(members(3), false);
    EXPECT_EQ(reason([&] { d->setObject(ns::num(1), "x"); }),
              "InternalInconsistencyException: *** -[FJDictionary setObjectForKey]: mutating method sent to "
              "immutable object");
    EXPECT_THROW(d->removeObjectForKey("k1"), ns::Exception);
    EXPECT_EQ(d->copy().get(), d.get());
    auto m = d->mutableCopy();
    m->setObject(ns::num(1), "x");
    EXPECT_EQ(m->count(), 4u);
    EXPECT_TRUE(d->isEqual(*dictionary(members(3), true)));
}

TEST(FastCollections, DictionaryWalksAndEnumerators) {
    // Iteration follows the order of the text, also for the wider places of
    // large tables.
    for (int size : {3, 25, 300, 70000}) {
        auto big = dictionary(members(size), false);
        ASSERT_EQ(big->count(), size_t(size));
        for (int i = 0; i < size; ++i) ASSERT_EQ(text(big->keyAtIndex(size_t(i))), "k" + std::to_string(i)) << size;
        EXPECT_EQ(must<ns::Number>(big->objectForKey("k" + std::to_string(size - 1)))->intValue(), size - 1);
    }
    auto d = dictionary(members(25), false);
    std::set<std::string> seen;
    for (size_t i = 0; i < d->count(); ++i) {
        auto* k = must<ns::String>(d->keyAtIndex(i));
        seen.insert(std::string(k->utf8()));
        EXPECT_EQ(d->valueAtIndex(i), d->objectForKey(*k));
    }
    EXPECT_EQ(seen.size(), 25u);
    // Random access agrees with the walk.
    EXPECT_EQ(d->keyAtIndex(7), d->allKeys()->objectAtIndex(7));
    EXPECT_THROW(d->keyAtIndex(25), ns::Exception);

    std::vector<ns::Object*> keys(25), objects(25);
    d->getObjectsAndKeys(objects.data(), keys.data());
    EXPECT_EQ(keys[0], d->keyAtIndex(0));
    EXPECT_EQ(objects[24], d->valueAtIndex(24));

    auto e = d->keyEnumerator();
    EXPECT_EQ(e->allObjects()->count(), 25u);
    auto e2 = d->keyEnumerator();
    ns::Object* firstKey = e2->nextObject();
    EXPECT_EQ(firstKey, d->keyAtIndex(0));
    auto rest = e2->allObjects();
    EXPECT_EQ(rest->count(), 24u);
    EXPECT_EQ(e2->nextObject(), nullptr);
    EXPECT_EQ(FJDictionaryEnumerator::initWithFJDictionary(nullptr), nullptr);

    FJFastEnumerationState state;
    ns::Object* buf[4];
    size_t total = 0, n, calls = 0;
    std::vector<ns::Object*> handed;
    while (calls++ < 20 && (n = d->countByEnumeratingWithStateObjectsCount(&state, buf, 4)) > 0) {
        total += n;
        handed.insert(handed.end(), buf, buf + n);
    }
    EXPECT_EQ(calls, 8u);  // six of four, one of one, then the 0 that ends it
    EXPECT_EQ(total, 25u);
    ASSERT_EQ(handed.size(), 25u);
    for (size_t i = 0; i < 25; ++i) EXPECT_EQ(handed[i], d->keyAtIndex(i)) << i;
    ASSERT_NE(state.mutationsPtr, nullptr);
    EXPECT_EQ(*state.mutationsPtr, 0u);
}

// Keyed walks remember their place in the header (tables of 4 to 65,535
// slots), after it (larger or changeable tables) or not at all (three
// slots, whose tags the header keeps). Whatever the order of the calls and
// however many threads read at once, each index answers its entry in slot
// order.
TEST(FastCollections, DictionaryKeyedWalksFromSeveralThreads) {
    for (bool changeable : {false, true}) {
        for (int size : {1, 2, 3, 25, 50000}) {
            auto d = dictionary(members(size), changeable);
            ASSERT_EQ(d->count(), size_t(size));
            std::vector<ns::Object*> keys(size), objects(size);
            d->getObjectsAndKeys(objects.data(), keys.data());
            auto walk = [&](int thread) {
                size_t wrong = 0;
                for (int round = 0; round < 3; ++round) {
                    for (int i = 0; i < size; ++i) {
                        wrong += d->keyAtIndex(size_t(i)) != keys[size_t(i)];
                        wrong += d->valueAtIndex(size_t(i)) != objects[size_t(i)];
                    }
                    // Backwards, and jumps, where the table is small enough
                    // for a search from the start each time.
                    const int jumps = size > 100 ? 50 : size;
                    for (int i = 0; i < jumps; ++i) {
                        size_t at = size_t((i * 7 + thread) % size), back = size_t(size - 1 - i % size);
                        wrong += d->valueAtIndex(at) != objects[at];
                        wrong += d->keyAtIndex(back) != keys[back];
                    }
                }
                return wrong;
            };
            std::vector<size_t> wrong(4);
            std::vector<std::thread> readers;
            for (int t = 0; t < 4; ++t) readers.emplace_back([&, t] { wrong[size_t(t)] = walk(t); });
            for (auto& r : readers) r.join();
            for (size_t w : wrong) EXPECT_EQ(w, 0u) << size << (changeable ? " changeable" : "");
            EXPECT_THROW(d->valueAtIndex(size_t(size)), ns::Exception);
            // A change forgets the remembered place.
            if (changeable && size > 1) {
                d->removeObjectForKey(*keys[0]);
                d->getObjectsAndKeys(objects.data(), keys.data());
                for (int i = 0; i + 1 < size; ++i) ASSERT_EQ(d->keyAtIndex(size_t(i)), keys[size_t(i)]) << size;
                EXPECT_THROW(d->keyAtIndex(size_t(size - 1)), ns::Exception);
            }
        }
    }
}

TEST(FastCollections, EmptyAndFullSmallObjectsFindNoAbsentKey) {
    auto d = dictionary("{}", false);
    EXPECT_EQ(d->capacity(), 0u);
    EXPECT_EQ(d->objectForKey("a"), nullptr);
    EXPECT_EQ(d->keyEnumerator()->nextObject(), nullptr);
    EXPECT_EQ(d->allKeys()->count(), 0u);

    // Tables of up to three slots keep their tags in the header, beside other
    // bytes: a lookup reads the tags of its entries only. Thousands of absent
    // keys (every tag value many times over) find nothing in full ones.
    for (const char* text : {R"({"a":1})", R"({"a":1,"b":2})", R"({"a":1,"b":2,"c":3})"}) {
        for (bool changeable : {false, true}) {
            auto full = dictionary(text, changeable);
            ASSERT_TRUE(full);
            for (int i = 0; i < 4000; ++i)
                ASSERT_EQ(full->objectForKey("absent" + std::to_string(i)), nullptr) << text << " " << i;
            EXPECT_NE(full->objectForKey("a"), nullptr) << text;
        }
    }
}
