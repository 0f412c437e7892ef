#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "platform/foundation/DecimalDigits.h"
#include "platform/foundation/DoubleFormat.h"
#include "platform/foundation/Foundation.h"
#include "platform/foundation/Delegate.h"

using namespace ns;

namespace {
struct Probe : Object {
    explicit Probe(int* alive) : alive(alive) { ++*alive; }
    ~Probe() override { --*alive; }
    int* alive;
};
}  // namespace

TEST(Object, StrongReferencesFreeOnLastRelease) {
    int alive = 0;
    {
        Ref<Probe> a = make<Probe>(&alive);
        Ref<Probe> b = a;
        EXPECT_EQ(a->retainCount(), 2u);
        a = nullptr;
        EXPECT_EQ(alive, 1);
    }
    EXPECT_EQ(alive, 0);

    // References dropped on several threads at once: the object goes exactly
    // once, after every thread's writes (the destructor reads them all; the
    // thread sanitizer sees an unordered one).
    struct Tally : Object {
        explicit Tally(int* sum) : sum(sum) {}
        ~Tally() override { for (int v : slots) *sum += v; }
        int* sum;
        int slots[4] = {};
    };
    for (int round = 0; round < 200; ++round) {
        int sum = 0;
        auto tally = make<Tally>(&sum);
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([mine = tally, t]() mutable {
                mine->slots[t] = t + 1;
                mine = nullptr;
            });
        tally = nullptr;
        for (auto& t : threads) t.join();
        EXPECT_EQ(sum, 10);
    }
}

TEST(Object, WeakReadsNilAfterDestruction) {
    int alive = 0;
    Weak<Probe> w;
    {
        auto p = make<Probe>(&alive);
        w = p;
        EXPECT_EQ(w.lock().get(), p.get());
    }
    EXPECT_EQ(alive, 0);
    EXPECT_FALSE(w.lock());
    EXPECT_TRUE(w.expired());
}

TEST(Object, WeakUpgradeRacesWithLastReleaseSafely) {
    // Many threads upgrade weak links while the owner drops the last strong
    // reference; every upgrade either gets a live object or nil.
    for (int round = 0; round < 200; ++round) {
        int alive = 0;
        auto p = make<Probe>(&alive);
        Weak<Probe> w(p);
        std::vector<std::thread> threads;
        for (int t = 0; t < 3; ++t)
            threads.emplace_back([w] {
                for (int i = 0; i < 50; ++i)
                    if (auto s = w.lock()) { EXPECT_NE(s->alive, nullptr); }
            });
        p = nullptr;
        for (auto& t : threads) t.join();
        EXPECT_FALSE(w.lock());
    }
}

TEST(Object, SingletonsAreShared) {
    EXPECT_EQ(Number::numberWithBool(true).get(), Number::numberWithBool(true).get());
    // A boolean made from a number is true for any value but 0, and is the
    // shared true or false.
    for (int64_t v : {int64_t(0), int64_t(1), int64_t(2), int64_t(-1), INT64_MIN}) {
        auto b = Number::make(NumberType::Bool, v);
        EXPECT_TRUE(b->isBool()) << v;
        EXPECT_EQ(b->boolValue(), v != 0) << v;
        EXPECT_EQ(b.get(), Number::numberWithBool(v != 0).get()) << v;
    }
    EXPECT_NE(Number::numberWithBool(true).get(), Number::numberWithBool(false).get());
    EXPECT_EQ(Null::null().get(), Null::shared());
    EXPECT_TRUE(isNull(Null::null().get()));
}

TEST(Number, KeepsTypeAndComparesAcrossTypes) {
    auto b = Number::numberWithBool(true);
    auto i = Number::numberWithInt(1);
    auto d = Number::numberWithDouble(1.0);
    EXPECT_EQ(b->objCType(), 'B');
    EXPECT_EQ(i->objCType(), 'i');
    EXPECT_TRUE(i->isEqual(*d));
    EXPECT_EQ(i->hash(), d->hash());
    auto big = Number::numberWithUnsignedLongLong(18446744073709551615ull);
    EXPECT_EQ(big->description(), "18446744073709551615");
    EXPECT_EQ(big->compare(*Number::numberWithLongLong(-1)), 1);
    EXPECT_EQ(Number::numberWithDouble(0.1)->description(), "0.1");
    auto dec = DecimalNumber::decimalNumberWithString("0.10000000000000000000001");
    EXPECT_EQ(dec->description(), "0.10000000000000000000001");
    EXPECT_DOUBLE_EQ(dec->doubleValue(), 0.1);
}

TEST(Number, WritersTextIsPrintfs) {
    // Integers: every digit count, both sides of each power of ten, the
    // ends of both ranges.
    std::vector<uint64_t> integers = {0, 1, 9, UINT64_MAX, uint64_t(INT64_MAX), uint64_t(INT64_MAX) + 1};
    for (uint64_t p = 10; p <= 10000000000000000000ull; p *= 10) {
        integers.insert(integers.end(), {p - 1, p, p + 1, p / 10 * 7 + 3});
        if (p > UINT64_MAX / 10) break;
    }
    std::mt19937_64 integerRng(11);
    for (int i = 0; i < 2000; ++i) integers.push_back(integerRng() >> (integerRng() % 64));
    for (uint64_t u : integers) {
        char ours[24], printfs[24];
        *formatUnsigned(u, ours) = '\0';
        std::snprintf(printfs, sizeof printfs, "%llu", static_cast<unsigned long long>(u));
        ASSERT_STREQ(ours, printfs);
        auto s = static_cast<int64_t>(u);
        *formatSigned(s, ours) = '\0';
        std::snprintf(printfs, sizeof printfs, "%lld", static_cast<long long>(s));
        ASSERT_STREQ(ours, printfs);
    }

    // The writers' "%.17g" text made without printf: the same bytes for
    // ties, powers of ten, carries into an 18th digit, every magnitude.
    std::mt19937_64 rng(7);
    std::vector<double> values = {0.1, 1.0, 1e16, 1e17, 9.9999999999999999e16, 123456789012345678.0, 1e21, 1e-5,
                                  1e-4, 0.00012345, 5e-324, 2.2250738585072014e-308, 1.7976931348623157e308,
                                  9007199254740993.0, 0.5, 2.5, 1e22, 1e23, 1e38, 1e39, 3.4e38, -0.0, -180.0, 123.456};
    for (int k = -40; k <= 40; ++k) {  // the decimal exponent changes here
        double power = std::pow(10.0, k);
        values.insert(values.end(), {power, std::nextafter(power, 0.0), std::nextafter(power, 1e300)});
    }
    for (int i = 0; i < 20000; ++i) {
        uint64_t bits = rng();
        double d;
        std::memcpy(&d, &bits, 8);
        if (std::isfinite(d)) values.push_back(d);
        values.push_back(std::uniform_real_distribution<double>(-180, 180)(rng));
        values.push_back(std::ldexp(static_cast<double>(rng() >> 11), static_cast<int>(rng() % 200) - 150));
        values.push_back(static_cast<double>(rng() % 100000) / std::pow(10.0, static_cast<int>(rng() % 30) - 10));
    }
    for (double v : values) {
        char ours[40], printfs[40];
        *formatDouble17(v, ours) = '\0';
        std::snprintf(printfs, sizeof printfs, "%.17g", v);
        ASSERT_STREQ(ours, printfs) << "bits of the value: " << std::hexfloat << v;
    }
}

TEST(Date, ReadsISO8601FieldsUpToTheirLastValue) {
    struct Row { const char* text; const char* iso; };  // nullptr: refused
    for (const Row& r : {Row{"2024-02-29T12:34:56Z", "2024-02-29T12:34:56Z"}, Row{"2024-02-29", "2024-02-29T00:00:00Z"},
                         Row{"2024-02-29T12:34:56", "2024-02-29T12:34:56Z"},
                         Row{"1999-12-31T23:59:59Z", "1999-12-31T23:59:59Z"},
                         Row{"2016-12-31T23:59:60Z", "2017-01-01T00:00:00Z"},  // a leap second
                         Row{"2024-12-31T24:00:00Z", nullptr}, Row{"2024-12-31T23:60:00Z", nullptr},
                         Row{"2024-12-31T23:59:61Z", nullptr}, Row{"2024-13-01", nullptr}, Row{"2024-00-01", nullptr},
                         Row{"2024-01-32", nullptr}, Row{"2024-01-00", nullptr}, Row{"2024-01-31", "2024-01-31T00:00:00Z"},
                         Row{"2024-12-01", "2024-12-01T00:00:00Z"}, Row{"2024-02-29T12:34:56+01", nullptr},
                         Row{"2024-02", nullptr}, Row{"\xC3\xA9t\xC3\xA9", nullptr}, Row{"", nullptr},
                         // The last day of each kind of month, and the day after it.
                         Row{"2024-04-30", "2024-04-30T00:00:00Z"}, Row{"2024-04-31", nullptr},
                         Row{"2023-02-28", "2023-02-28T00:00:00Z"}, Row{"2023-02-29", nullptr},
                         Row{"2024-02-30", nullptr}, Row{"2000-02-29", "2000-02-29T00:00:00Z"},
                         Row{"1900-02-29", nullptr}, Row{"2024-11-31", nullptr},
                         // The first value of each time field, and one below it.
                         Row{"2024-01-01T00:00:00Z", "2024-01-01T00:00:00Z"}, Row{"2024-01-01T-1:00:00Z", nullptr},
                         Row{"2024-01-01T00:-1:00Z", nullptr}, Row{"2024-01-01T00:00:-1Z", nullptr},
                         Row{"-001-01-01", nullptr}}) {
        auto d = Date::fromISO8601(r.text);
        if (!r.iso) {
            EXPECT_FALSE(d) << r.text;
            continue;
        }
        ASSERT_TRUE(d) << r.text;
        EXPECT_EQ(d->iso8601(), r.iso) << r.text;
    }
    // Every month's last day in a common and a leap year, and the day after.
    for (int year : {2023, 2024}) {
        const int last[] = {31, year == 2024 ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        for (int month = 1; month <= 12; ++month) {
            char text[16];
            std::snprintf(text, sizeof text, "%04d-%02d-%02d", year, month, last[month - 1]);
            auto lastDay = Date::fromISO8601(text);
            ASSERT_TRUE(lastDay) << text;
            EXPECT_EQ(lastDay->iso8601(), std::string(text) + "T00:00:00Z");
            std::snprintf(text, sizeof text, "%04d-%02d-%02d", year, month, last[month - 1] + 1);
            EXPECT_FALSE(Date::fromISO8601(text)) << text;
        }
    }
    auto d = Date::fromISO8601("2024-02-29T12:34:56Z");
    ASSERT_TRUE(d);
    EXPECT_DOUBLE_EQ(d->timeIntervalSince1970(), 1709210096.0);
    EXPECT_EQ(d->description(), "2024-02-29 12:34:56 +0000");
    EXPECT_TRUE(d->isEqual(*Date::dateWithTimeIntervalSince1970(1709210096.0)));
    EXPECT_FALSE(d->isEqual(*Date::dateWithTimeIntervalSince1970(1709210096.5)));
}

TEST(Error, DescribesDomainCodeAndUserInfo) {
    auto e = Error::withDescription("FJErrorDomain", -1, "Unexpected token.");
    EXPECT_EQ(e->localizedDescription(), "Unexpected token.");
    EXPECT_EQ(e->code(), -1);
    EXPECT_NE(e->description().find("Domain=FJErrorDomain Code=-1"), std::string::npos);
    auto bare = Error::make("X", 3);
    EXPECT_EQ(bare->userInfo()->count(), 0u);
}

TEST(Exception, CarriesNameReasonAndUserInfo) {
    try {
        throw Exception("ProgressHUDViewIsNillException", "The view used in the HUD is nil.",
                        Dictionary::make({{"k", str("v")}}));
    } catch (const Exception& e) {
        EXPECT_EQ(e.name(), "ProgressHUDViewIsNillException");
        EXPECT_EQ(e.reason(), "The view used in the HUD is nil.");
        ASSERT_TRUE(e.userInfo()->stringForKey("k"));
        EXPECT_TRUE(e.userInfo()->stringForKey("k")->isEqualToString("v"));
    }
}

TEST(Object, ValueObjectsStaySmall) {
    // Decoders make millions of these: the header is one pointer and one
    // count word, and the first small field shares the count's spare word.
    EXPECT_EQ(sizeof(Object), 16u);
    EXPECT_EQ(sizeof(Number), 24u);
    EXPECT_EQ(sizeof(String), 32u);
    // A string is one block: its text, short or long, follows the object.
    for (std::string text : {std::string(), std::string("id"), std::string(300, 'x')}) {
        Ref<String> s = String::make(text);
        EXPECT_EQ(s->c_str(), reinterpret_cast<const char*>(s.get()) + sizeof(String)) << text.size();
        EXPECT_EQ(s->c_str()[text.size()], '\0');
        EXPECT_EQ(s->utf8(), text);
    }
}

TEST(Object, WeakLinksOfManyObjectsAreIndependent) {
    int alive = 0;
    std::vector<Ref<Probe>> strong;
    std::vector<Weak<Probe>> weak;
    for (int i = 0; i < 100; ++i) {
        strong.push_back(make<Probe>(&alive));
        weak.emplace_back(strong.back());
    }
    for (int i = 0; i < 100; i += 2) strong[i] = nullptr;
    for (int i = 0; i < 100; ++i) EXPECT_EQ(static_cast<bool>(weak[i].lock()), i % 2 == 1) << i;
    EXPECT_EQ(alive, 50);
    EXPECT_EQ(strong[1]->retainCount(), 1u);
    // A new object at a freed address does not answer an old link.
    auto fresh = make<Probe>(&alive);
    for (int i = 0; i < 100; i += 2) EXPECT_FALSE(weak[i].pointsTo(fresh.get()));
}

namespace {
// A class whose own release() would hide the root's if references called it.
struct Hider : Object {
    explicit Hider(int* alive) : alive(alive) { ++*alive; }
    ~Hider() override { --*alive; }
    void release() { ++ownReleases; }
    int* alive;
    int ownReleases = 0;
};
}  // namespace

TEST(Object, ReferencesCountThroughTheRootClass) {
    int alive = 0;
    {
        Ref<Hider> h = make<Hider>(&alive);
        Ref<Hider> copy = h;
        EXPECT_EQ(h->retainCount(), 2u);
    }
    EXPECT_EQ(alive, 0);
}

namespace {
struct Listener {
    virtual ~Listener() = default;
    virtual int heard() = 0;
};
// Takes a hold on itself while constructed, as a setter called from a
// constructor does, and adopts a protocol outside the object hierarchy.
struct SelfHolder : Object, Listener {
    explicit SelfHolder(int* alive) : alive(alive) {
        ++*alive;
        heldInConstructor = static_cast<bool>(keepAlive(this));
    }
    ~SelfHolder() override { --*alive; }
    int heard() override { return 7; }
    int* alive;
    bool heldInConstructor = true;
};
struct NotAnObject : Listener {
    int heard() override { return 0; }
};
}  // namespace

TEST(Object, SelfRetainAndTheDelegateLinks) {
    int alive = 0;
    auto p = make<SelfHolder>(&alive);
    // A hold taken while constructing would free the object when let go.
    EXPECT_FALSE(p->heldInConstructor);
    ASSERT_EQ(alive, 1);
    Ref<SelfHolder> held = keepAlive(p.get());
    WeakDelegate<Listener> link(p.get());
    p = nullptr;
    EXPECT_EQ(alive, 1);  // the self-retain keeps it
    {
        auto locked = link.lock();
        ASSERT_TRUE(locked);
        held = nullptr;
        EXPECT_EQ(locked->heard(), 7);  // the lock keeps it through the call
        EXPECT_TRUE(link.pointsTo(locked.get()));
    }
    EXPECT_EQ(alive, 0);
    EXPECT_FALSE(link.lock());
    EXPECT_EQ(link.get(), nullptr);

    NotAnObject plain;
    EXPECT_THROW(link.set(&plain), Exception);
    EXPECT_NO_THROW(link.set(nullptr));

    // A strong link owns its adopter; a hold taken from it outlives a
    // replacement made during the call.
    StrongDelegate<Listener> owner(make<SelfHolder>(&alive).get());
    EXPECT_EQ(alive, 1);
    {
        auto held = owner.lock();
        owner = nullptr;
        EXPECT_EQ(alive, 1);
        EXPECT_EQ(held->heard(), 7);
    }
    EXPECT_EQ(alive, 0);
    EXPECT_FALSE(owner);
    EXPECT_THROW(owner.set(&plain), Exception);
}
