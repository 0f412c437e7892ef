#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>

#include "platform/foundation/FileIO.h"
#include "platform/foundation/Foundation.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/tests/PlistTestData.h"
#include "testsupport/TempDir.h"

using namespace ns;
using testsupport::TempDir;

namespace {

Ref<Object> read(std::string_view doc, Ref<Error>* err = nullptr, PropertyListReadOptions o = {}) {
    return PropertyList::readFromData(doc, err, o);
}

std::string xml(const Object& o) {
    Ref<Error> err;
    auto out = PropertyList::dataFromPropertyList(o, PropertyListFormat::XML, &err);
    EXPECT_TRUE(out) << describe(err);
    return out ? *out : std::string();
}

std::string binary(const Object& o) {
    Ref<Error> err;
    auto out = PropertyList::dataFromPropertyList(o, PropertyListFormat::Binary, &err);
    EXPECT_TRUE(out) << describe(err);
    return out ? *out : std::string();
}

long errorCode(std::string_view doc, PropertyListReadOptions o = {}) {
    Ref<Error> err;
    Ref<Object> r = read(doc, &err, o);
    if (r) return 0;
    EXPECT_TRUE(err);
    if (!err) return -1;
    EXPECT_EQ(err->domain(), kPropertyListErrorDomain);
    return err->code();
}

}  // namespace

TEST(PropertyList, EveryKindRoundTripsThroughXMLAndBinary) {
    auto original = ns::testing::everyKindOfValue();
    for (auto format : {PropertyListFormat::XML, PropertyListFormat::Binary}) {
        std::string doc = format == PropertyListFormat::XML ? xml(*original) : binary(*original);
        Ref<Error> err;
        PropertyListFormat seen;
        Ref<Object> back = PropertyList::readFromData(doc, &err, {}, &seen);
        ASSERT_TRUE(back) << describe(err);
        EXPECT_EQ(seen, format);
        EXPECT_TRUE(back->isEqual(*original)) << back->description();
        auto* d = as<Dictionary>(back.get());
        ASSERT_TRUE(d);
        ASSERT_TRUE(d->numberForKey("uint64 max"));
        EXPECT_EQ(d->numberForKey("uint64 max")->unsignedLongLongValue(), UINT64_MAX);
        EXPECT_TRUE(d->numberForKey("uint64 max")->isUnsigned());
        ASSERT_TRUE(d->numberForKey("int64 min"));
        EXPECT_EQ(d->numberForKey("int64 min")->longLongValue(), INT64_MIN);
        ASSERT_TRUE(d->numberForKey("true"));
        EXPECT_TRUE(d->numberForKey("true")->isBool());
        ASSERT_TRUE(d->numberForKey("int"));
        EXPECT_FALSE(d->numberForKey("int")->isBool());
        ASSERT_TRUE(d->numberForKey("real"));
        EXPECT_TRUE(d->numberForKey("real")->isFloatingPoint());
        EXPECT_EQ(describe(d->stringForKey("whitespace")), "tab\tnewline\ncarriage\rreturn  ");
        // Key order is kept.
        EXPECT_EQ(describe(d->keyAtIndex(0)), "string");
    }
}

TEST(PropertyList, SpecialRealsAndControlCharactersRoundTrip) {
    auto d = Dictionary::make({{"nan", num(std::nan(""))},
                               {"inf", num(HUGE_VAL)},
                               {"-inf", num(-HUGE_VAL)},
                               {"ctl", str(std::string("a\x01" "b\x1f" "c\0d", 7))}});
    for (const std::string& doc : {xml(*d), binary(*d)}) {
        auto back = cast<Dictionary>(read(doc));
        ASSERT_TRUE(back);
        ASSERT_TRUE(back->numberForKey("nan"));
        EXPECT_TRUE(std::isnan(back->numberForKey("nan")->doubleValue()));
        ASSERT_TRUE(back->numberForKey("inf"));
        EXPECT_EQ(back->numberForKey("inf")->doubleValue(), HUGE_VAL);
        ASSERT_TRUE(back->numberForKey("-inf"));
        EXPECT_EQ(back->numberForKey("-inf")->doubleValue(), -HUGE_VAL);
        EXPECT_EQ(describe(back->stringForKey("ctl")), std::string("a\x01" "b\x1f" "c\0d", 7));
    }
}

TEST(PropertyList, XMLLayoutIsTheStandardOne) {
    auto d = Dictionary::make({{"Title", str("A & B")},
                               {"Children", Array::make({num(1), boolean(true)})},
                               {"empty", Array::make()},
                               {"when", Date::dateWithTimeIntervalSinceReferenceDate(0)},
                               {"pi", num(3.5)},
                               {"bytes", Data::make("hello")}});
    EXPECT_EQ(xml(*d),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<!DOCTYPE plist SYSTEM \"PropertyList-1.0.dtd\">\n"
              "<plist version=\"1.0\">\n"
              "<dict>\n"
              "\t<key>Title</key>\n"
              "\t<string>A &amp; B</string>\n"
              "\t<key>Children</key>\n"
              "\t<array>\n"
              "\t\t<integer>1</integer>\n"
              "\t\t<true/>\n"
              "\t</array>\n"
              "\t<key>empty</key>\n"
              "\t<array/>\n"
              "\t<key>when</key>\n"
              "\t<date>2001-01-01T00:00:00Z</date>\n"
              "\t<key>pi</key>\n"
              "\t<real>3.5</real>\n"
              "\t<key>bytes</key>\n"
              "\t<data>\n"
              "\taGVsbG8=\n"
              "\t</data>\n"
              "</dict>\n"
              "</plist>\n");
    // Long data wraps at 76 columns counting tabs as 8: 68 characters at one tab.
    std::string out = xml(*Dictionary::make({{"d", Data::make(std::string(200, 'x'))}}));
    size_t line = out.find("\t<data>\n") + 8;
    size_t eol = out.find('\n', line);
    EXPECT_EQ(eol - line, 1u + 68u);
}

TEST(PropertyList, ReadsWhatHandWrittenFilesContain) {
    const char* doc =
        "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
        "<!DOCTYPE plist PUBLIC \"-//Example//DTD PLIST 1.0//EN\" \"http://example.invalid/x.dtd\" [ <!ENTITY a 'b'> ]>\n"
        "<!-- a comment -->\n"
        "<plist version=\"1.0\">\n"
        "<dict>\n"
        "  <key>cdata</key><string><![CDATA[<b>&bold</b>]]> and &lt;more&gt; &#x41;&#66;</string>\n"
        "  <!-- between entries -->\n"
        "  <key>empty</key><string/>\n"
        "  <key>crlf</key><string>a\r\nb\rc</string>\n"
        "  <key>hex</key><integer> 0x1F </integer>\n"
        "  <key>plus</key><integer>+5</integer>\n"
        "  <key>real</key><real>1E3</real>\n"
        "  <key>t</key><true></true>\n"
        "  <key>day</key><date>2010-05-04</date>\n"
        "  <key>data</key><data>\n  aGVs\n  bG8=\n  </data>\n"
        "  <key>dup</key><string>first</string>\n"
        "  <key>dup</key><string>second</string>\n"
        "  <key></key><integer>0</integer>\n"
        "</dict>\n"
        "</plist>\n";
    Ref<Error> err;
    auto d = cast<Dictionary>(read(doc, &err));
    ASSERT_TRUE(d) << describe(err);
    EXPECT_EQ(describe(d->stringForKey("cdata")), "<b>&bold</b> and <more> AB");
    EXPECT_EQ(describe(d->stringForKey("empty")), "");
    EXPECT_EQ(describe(d->stringForKey("crlf")), "a\nb\nc");
    ASSERT_TRUE(d->numberForKey("hex"));
    EXPECT_EQ(d->numberForKey("hex")->intValue(), 31);
    ASSERT_TRUE(d->numberForKey("plus"));
    EXPECT_EQ(d->numberForKey("plus")->intValue(), 5);
    ASSERT_TRUE(d->numberForKey("real"));
    EXPECT_EQ(d->numberForKey("real")->doubleValue(), 1000.0);
    ASSERT_TRUE(d->numberForKey("t"));
    EXPECT_TRUE(d->numberForKey("t")->boolValue());
    ASSERT_TRUE(as<Date>(d->objectForKey("day")));
    EXPECT_EQ(as<Date>(d->objectForKey("day"))->iso8601(), "2010-05-04T00:00:00Z");
    ASSERT_TRUE(d->dataForKey("data"));
    EXPECT_EQ(d->dataForKey("data")->view(), "hello");
    EXPECT_EQ(describe(d->stringForKey("dup")), "second");
    EXPECT_TRUE(d->objectForKey(""));

    // A bare value without <plist> is accepted too.
    auto a = cast<Array>(read("<array><string>x</string></array>"));
    ASSERT_TRUE(a);
    EXPECT_EQ(a->count(), 1u);
}

TEST(PropertyList, MalformedXMLIsRefusedWithALineNumber) {
    const char* bad[] = {
        "",
        "   ",
        "<plist>",
        "<plist></plist>",
        "<plist/>",
        "<plist><dict></plist>",
        "<plist><dict><key>a</key></dict></plist>",
        "<plist><dict><string>a</string></dict></plist>",
        "<plist><key>a</key></plist>",
        "<plist><foo/></plist>",
        "<plist><string>a</strin></plist>",
        "<plist><string>a<b/></string></plist>",
        "<plist><string>&bogus;</string></plist>",
        "<plist><string>&#xD800;</string></plist>",
        "<plist><string>&#x110000;</string></plist>",
        "<plist><string>&amp</string></plist>",
        "<plist><integer></integer></plist>",
        "<plist><integer>12a</integer></plist>",
        "<plist><integer>18446744073709551616</integer></plist>",
        "<plist><integer>-9223372036854775809</integer></plist>",
        "<plist><integer>0x</integer></plist>",
        "<plist><real>1.5.2</real></plist>",
        "<plist><real/></plist>",
        "<plist><date>2024-02-30T00:00:00Z</date></plist>",
        "<plist><date>yesterday</date></plist>",
        "<plist><data>@@@@</data></plist>",
        "<plist><data>aGVsbG8=aGVs</data></plist>",
        "<plist><true>yes</true></plist>",
        "<plist><string>a</string><string>b</string></plist>",
        "<plist><string>a</string></plist> trailing",
        "<plist><plist/></plist>",
        "<plist><string>\xC3\x28</string></plist>",
        "<plist><string>\xED\xA0\x80</string></plist>",
        "<plist><!-- unterminated </plist>",
        "<!DOCTYPE plist",
        "<plist><dict><key>a</key><string x=\"1></string></dict></plist>",
        "<plist><string><![CDATA[abc</string></plist>",
    };
    for (const char* doc : bad) {
        Ref<Error> err;
        EXPECT_FALSE(read(doc, &err)) << doc;
        ASSERT_TRUE(err) << doc;
        EXPECT_EQ(err->code(), kPropertyListReadCorruptError) << doc;
        EXPECT_NE(err->localizedDescription().find("line "), std::string::npos) << err->localizedDescription();
    }
    Ref<Error> err;
    read("<plist>\n<dict>\n<key>a</key>\n<bogus/>\n</dict>\n</plist>", &err);
    ASSERT_TRUE(err);
    EXPECT_NE(err->localizedDescription().find("line 4"), std::string::npos) << err->localizedDescription();
}

TEST(PropertyList, DepthAndSizeLimits) {
    auto nested = [](size_t depth) {
        std::string s;
        for (size_t i = 0; i < depth; ++i) s += "<array>";
        for (size_t i = 0; i < depth; ++i) s += "</array>";
        return s;
    };
    EXPECT_EQ(errorCode(nested(512)), 0);
    EXPECT_EQ(errorCode(nested(513)), kPropertyListReadTooDeepError);
    const auto dicts = [](size_t depth) {
        std::string s;
        for (size_t i = 0; i < depth; ++i) s += "<dict><key>k</key>";
        s += "<true/>";
        for (size_t i = 0; i < depth; ++i) s += "</dict>";
        return s;
    };
    EXPECT_EQ(errorCode(dicts(512)), 0);
    EXPECT_EQ(errorCode(dicts(513)), kPropertyListReadTooDeepError);
    EXPECT_EQ(errorCode(nested(100000)), kPropertyListReadTooDeepError);
    PropertyListReadOptions small;
    small.maxBytes = 10;
    EXPECT_EQ(errorCode("<string>12345678901</string>", small), kPropertyListReadTooLargeError);
    small = {};
    small.maxObjects = 3;
    EXPECT_EQ(errorCode("<array><true/><true/></array>", small), 0);
    EXPECT_EQ(errorCode("<array><true/><true/><true/></array>", small), kPropertyListReadTooLargeError);

    // Writers refuse trees that no reader would take back: the default depth
    // is written and read in both formats, one more is refused.
    const auto arrays = [](size_t depth) {
        Ref<Object> deep = Array::make();
        for (size_t i = 1; i < depth; ++i) deep = Array::make({deep});
        return deep;
    };
    const size_t maxDepth = PropertyListReadOptions{}.maxDepth;
    Ref<Error> err;
    for (PropertyListFormat f : {PropertyListFormat::XML, PropertyListFormat::Binary}) {
        auto atLimit = PropertyList::dataFromPropertyList(*arrays(maxDepth), f, &err);
        ASSERT_TRUE(atLimit) << describe(err);
        EXPECT_EQ(errorCode(*atLimit), 0);
        EXPECT_FALSE(PropertyList::dataFromPropertyList(*arrays(maxDepth + 1), f, &err));
        EXPECT_FALSE(PropertyList::dataFromPropertyList(*arrays(600), f, &err));
    }
    // Each read limit at the document's own size and one below it, in both formats.
    const auto doc = Array::make({str("\xC3\xA9t\xC3\xA9"), Array::make({num(1), num(2)}), Dictionary::make({{"k", num(true)}})});
    for (const std::string& bytes : {xml(*doc), binary(*doc)}) {
        PropertyListReadOptions o;
        o.maxBytes = bytes.size();
        EXPECT_EQ(errorCode(bytes, o), 0);
        o.maxBytes = bytes.size() - 1;
        EXPECT_EQ(errorCode(bytes, o), kPropertyListReadTooLargeError);
        o = {};
        o.maxObjects = 7;  // the two arrays, the dictionary and the four values in them
        EXPECT_EQ(errorCode(bytes, o), 0);
        o.maxObjects = 6;
        EXPECT_EQ(errorCode(bytes, o), kPropertyListReadTooLargeError);
        o = {};
        o.maxDepth = 2;
        EXPECT_EQ(errorCode(bytes, o), 0);
        o.maxDepth = 1;
        EXPECT_EQ(errorCode(bytes, o), kPropertyListReadTooDeepError);
    }
}

TEST(PropertyList, WritersRefuseValuesThatAreNotPropertyLists) {
    Ref<Error> err;
    auto withNull = Array::make({str("a"), Null::null()});
    EXPECT_FALSE(PropertyList::dataFromPropertyList(*withNull, PropertyListFormat::XML, &err));
    ASSERT_TRUE(err);
    EXPECT_EQ(err->code(), kPropertyListWriteInvalidError);
    auto numberKey = Dictionary::make(std::vector<Dictionary::Entry>{{num(1), str("x")}});
    EXPECT_FALSE(PropertyList::dataFromPropertyList(*numberKey, PropertyListFormat::Binary, &err));
    EXPECT_FALSE(PropertyList::isValidPropertyList(*numberKey));
    EXPECT_FALSE(PropertyList::isValidPropertyList(*str(std::string("\xff", 1))));
    EXPECT_TRUE(PropertyList::isValidPropertyList(*ns::testing::everyKindOfValue()));
}

TEST(PropertyList, MutabilityOptions) {
    std::string doc = xml(*Dictionary::make({{"a", Array::make({str("s"), Data::make("d")})}}));
    auto frozen = read(doc);
    EXPECT_FALSE(isKind<MutableDictionary>(frozen));
    PropertyListReadOptions o;
    o.mutability = PropertyListMutability::MutableContainers;
    for (const std::string& d : {doc, binary(*frozen)}) {
        auto m = cast<MutableDictionary>(read(d, nullptr, o));
        ASSERT_TRUE(m);
        auto* a = as<MutableArray>(m->objectForKey("a"));
        ASSERT_TRUE(a);
        EXPECT_FALSE(as<MutableString>(a->objectAtIndex(0)));
        a->addObject(str("added"));
    }
    o.mutability = PropertyListMutability::MutableContainersAndLeaves;
    for (const std::string& d : {doc, binary(*frozen)}) {
        auto m = cast<MutableDictionary>(read(d, nullptr, o));
        ASSERT_TRUE(m);
        auto* a = as<MutableArray>(m->objectForKey("a"));
        ASSERT_TRUE(a);
        EXPECT_TRUE(as<MutableString>(a->objectAtIndex(0)));
        EXPECT_TRUE(as<MutableData>(a->objectAtIndex(1)));
    }
}

// --- binary documents built by hand ---------------------------------------

namespace {
// Assembles a binary property list from encoded objects.
std::string bplist(const std::vector<std::string>& objects, uint8_t refSize = 1, uint64_t top = 0,
                   int countDelta = 0, uint8_t offsetSize = 1) {
    std::string out = "bplist00";
    std::vector<uint64_t> offsets;
    for (auto& o : objects) {
        offsets.push_back(out.size());
        out += o;
    }
    uint64_t table = out.size();
    for (auto off : offsets)
        for (int i = offsetSize - 1; i >= 0; --i) out += static_cast<char>(i >= 8 ? 0 : (off >> (8 * i)) & 0xff);
    std::string trailer(32, '\0');
    trailer[6] = static_cast<char>(offsetSize);
    trailer[7] = static_cast<char>(refSize);
    uint64_t count = objects.size() + countDelta;
    for (int i = 0; i < 8; ++i) {
        trailer[8 + i] = static_cast<char>((count >> (56 - 8 * i)) & 0xff);
        trailer[16 + i] = static_cast<char>((top >> (56 - 8 * i)) & 0xff);
        trailer[24 + i] = static_cast<char>((table >> (56 - 8 * i)) & 0xff);
    }
    return out + trailer;
}
std::string bytes(std::initializer_list<int> b) {
    std::string s;
    for (int c : b) s += static_cast<char>(c);
    return s;
}
}  // namespace

TEST(PropertyList, BinaryReaderTakesSharedObjectsSetsAndUIDs) {
    // [ "ab", "ab" (same object), set{1}, UID 7, 16-byte 2^64-1 ]
    auto doc = bplist({bytes({0xA5, 1, 1, 2, 4, 5}), "\x52" "ab", bytes({0xC1, 3}), bytes({0x10, 1}),
                       bytes({0x80, 7}),
                       bytes({0x14, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff})});
    Ref<Error> err;
    auto a = cast<Array>(read(doc, &err));
    ASSERT_TRUE(a) << describe(err);
    ASSERT_EQ(a->count(), 5u);
    EXPECT_EQ(a->objectAtIndex(0), a->objectAtIndex(1));  // shared, not copied
    EXPECT_EQ(describe(a->objectAtIndex(0)), "ab");
    ASSERT_TRUE(as<Array>(a->objectAtIndex(2)));
    EXPECT_EQ(as<Array>(a->objectAtIndex(2))->count(), 1u);
    ASSERT_TRUE(as<Dictionary>(a->objectAtIndex(3)));
    ASSERT_TRUE(as<Dictionary>(a->objectAtIndex(3))->numberForKey("CF$UID"));
    EXPECT_EQ(as<Dictionary>(a->objectAtIndex(3))->numberForKey("CF$UID")->intValue(), 7);
    ASSERT_TRUE(as<Number>(a->objectAtIndex(4)));
    EXPECT_EQ(as<Number>(a->objectAtIndex(4))->unsignedLongLongValue(), UINT64_MAX);
    // UTF-16 strings, including a surrogate pair.
    auto s = cast<String>(read(bplist({bytes({0x63, 0, 'h', 0xD8, 0x3D, 0xDE, 0x00})})));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->utf8(), "h\xF0\x9F\x98\x80");
}

// An object referred to twice is read once and shared, unless the reader is
// asked for mutable leaves: each reference to a text or data then gets an
// object of its own, so changing one changes nothing else.
TEST(PropertyList, SharedLeavesAreSharedOnlyWhileNobodyMayChangeThem) {
    struct Leaf {
        const char* name;
        std::string object;
        bool changeable;
    } leaves[] = {
        {"data", "\x42xy", true},
        {"ASCII text", "\x52" "ab", true},
        {"UTF-16 text", bytes({0x61, 0, 'h'}), true},
        {"integer", bytes({0x10, 1}), false},
        {"real", bytes({0x23, 0x3f, 0xf0, 0, 0, 0, 0, 0, 0}), false},
    };
    const std::pair<const char*, PropertyListMutability> modes[] = {
        {"immutable", PropertyListMutability::Immutable},
        {"mutable containers", PropertyListMutability::MutableContainers},
        {"mutable leaves", PropertyListMutability::MutableContainersAndLeaves},
    };
    for (const auto& leaf : leaves) {
        for (const auto& [modeName, mode] : modes) {
            SCOPED_TRACE(::testing::Message() << leaf.name << ", " << modeName);
            PropertyListReadOptions o;
            o.mutability = mode;
            Ref<Error> err;
            auto a = cast<Array>(read(bplist({bytes({0xA2, 1, 1}), leaf.object}), &err, o));
            ASSERT_TRUE(a) << describe(err);
            ASSERT_EQ(a->count(), 2u);
            const bool own = leaf.changeable && mode == PropertyListMutability::MutableContainersAndLeaves;
            EXPECT_EQ(a->objectAtIndex(0) == a->objectAtIndex(1), !own);
            EXPECT_TRUE(a->objectAtIndex(0)->isEqual(*a->objectAtIndex(1)));
        }
    }
}

TEST(PropertyList, CorruptBinaryDocumentsAreRefused) {
    struct Case {
        const char* what;
        std::string doc;
    } cases[] = {
        {"cycle", bplist({bytes({0xA1, 0})})},
        {"indirect cycle", bplist({bytes({0xA1, 1}), bytes({0xD1, 2, 0}), "\x51k"})},
        {"reference past count", bplist({bytes({0xA1, 5})})},
        {"root past count", bplist({"\x09"}, 1, 3)},
        {"zero objects", bplist({"\x09"}, 1, 0, -1)},
        {"count larger than table", bplist({"\x09"}, 1, 0, 1000)},
        {"huge count", bplist({"\x09"}, 1, 0, 0x7fffffff)},
        {"bad ref size", bplist({"\x09"}, 0)},
        {"bad offset size", bplist({"\x09"}, 1, 0, 0, 9)},
        {"string past end", bplist({"\x5f\x13\x7f\xff\xff\xff\xff\xff\xff\xff" "abc"})},
        {"array count past end", bplist({bytes({0xAF, 0x12, 0x10, 0, 0, 0})})},
        {"dict key not string", bplist({bytes({0xD1, 1, 1}), "\x10\x01"})},
        {"bad int width", bplist({"\x15" + std::string(32, '\1')})},
        {"int beyond 64 bits", bplist({bytes({0x14, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0})})},
        {"bad real width", bplist({"\x21\x00\x00"})},
        {"null marker", bplist({"\x00"})},
        {"unknown marker", bplist({"\x70"})},
        {"non-ascii ascii string", bplist({"\x51\xff"})},
        {"lone surrogate", bplist({bytes({0x61, 0xD8, 0x00})})},
        {"malformed length", bplist({"\x5f\x50"})},
        {"wrong magic", "bplist01" + bplist({"\x09"}).substr(8)},
        {"too short", "bplist00"},
    };
    for (auto& c : cases) {
        Ref<Error> err;
        EXPECT_FALSE(read(c.doc, &err)) << c.what;
        ASSERT_TRUE(err) << c.what;
        EXPECT_EQ(err->domain(), kPropertyListErrorDomain) << c.what;
    }
    // Offsets that point into the offset table or the header.
    std::string doc = bplist({"\x09"});
    doc[doc.size() - 32 - 1] = static_cast<char>(doc.size() - 33);
    EXPECT_FALSE(read(doc));
    doc[doc.size() - 32 - 1] = 2;
    EXPECT_FALSE(read(doc));

    // Every truncation of a valid document fails cleanly.
    std::string good = binary(*ns::testing::everyKindOfValue());
    for (size_t n = 0; n < good.size(); ++n) EXPECT_FALSE(read(std::string_view(good).substr(0, n))) << n;
    // Every single-byte change either reads or fails cleanly (no crash).
    for (size_t i = 8; i < good.size(); i += 7) {
        std::string changed = good;
        changed[i] = static_cast<char>(changed[i] ^ 0x5a);
        read(changed);
    }
}

TEST(PropertyList, SharedContainersCannotBlowUpWhenCopiedForMutability) {
    // Object i is an array holding object i+1 twice: 2^40 nodes as a tree.
    std::vector<std::string> objects;
    for (int i = 0; i < 40; ++i) objects.push_back(bytes({0xA2, i + 1, i + 1}));
    objects.push_back("\x09");
    std::string doc = bplist(objects);
    EXPECT_TRUE(read(doc));  // immutable: shared, linear
    PropertyListReadOptions o;
    o.mutability = PropertyListMutability::MutableContainers;
    Ref<Error> err;
    EXPECT_FALSE(read(doc, &err, o));
    ASSERT_TRUE(err);
    EXPECT_EQ(err->code(), kPropertyListReadTooLargeError);
}

TEST(PropertyList, FileHelpers) {
    TempDir dir;
    auto cards = Array::make({Dictionary::make({{"title", str("one")}})});
    Ref<Error> err;
    ASSERT_TRUE(writeToFile(*cards, dir / "cards.plist", true, &err)) << describe(err);
    auto back = arrayWithContentsOfFile(dir / "cards.plist");
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->isEqual(*cards));
    auto m = mutableArrayWithContentsOfFile(dir / "cards.plist");
    ASSERT_TRUE(m);
    m->addObject(str("more"));
    EXPECT_FALSE(dictionaryWithContentsOfFile(dir / "cards.plist"));  // wrong kind
    EXPECT_FALSE(arrayWithContentsOfFile(dir / "missing.plist"));
    ASSERT_TRUE(writeFileAtomically(dir / "corrupt.plist", "<plist><array>"));
    EXPECT_FALSE(arrayWithContentsOfFile(dir / "corrupt.plist"));

    err = nullptr;
    EXPECT_FALSE(PropertyList::readFromFile(dir / "missing.plist", &err));
    ASSERT_TRUE(err);
    EXPECT_EQ(err->code(), kPropertyListReadFileError);
    auto* underlying = as<Error>(err->userInfo()->objectForKey(kUnderlyingErrorKey));
    ASSERT_TRUE(underlying);
    EXPECT_EQ(underlying->code(), ENOENT);
    err = nullptr;
    EXPECT_FALSE(PropertyList::readFromFile(dir / "corrupt.plist", &err));
    ASSERT_TRUE(err);
    EXPECT_NE(err->localizedDescription().find("corrupt.plist"), std::string::npos);

    // A value that cannot be written leaves the old file as it was.
    err = nullptr;
    EXPECT_FALSE(writeToFile(*Array::make({Null::null()}), dir / "cards.plist", true, &err));
    EXPECT_EQ(err->code(), kPropertyListWriteInvalidError);
    EXPECT_TRUE(arrayWithContentsOfFile(dir / "cards.plist")->isEqual(*cards));
    err = nullptr;
    EXPECT_FALSE(writeToFile(*cards, dir / "no/such/folder.plist", true, &err));
    EXPECT_EQ(err->code(), kPropertyListWriteFileError);
}
