#include <gtest/gtest.h>

#include <limits>

#include "platform/foundation/Foundation.h"
#include "platform/foundation/KeyedArchive.h"
#include "platform/foundation/PropertyList.h"

using namespace ns;

namespace {

// A record shaped like the service records: fields with is-set flags.
class Note : public Object, public Coding {
public:
    const char* className() const override { return "TestNote"; }
    Ref<String> title;
    bool titleIsSet = false;
    int32_t length = 0;
    bool lengthIsSet = false;
    int64_t created = 0;
    bool createdIsSet = false;
    bool active = false;
    double score = 0;
    Ref<Array> tags;
    Ref<Note> parent;
    Ref<Object> anything;

    void encodeWithCoder(Coder& c) const override {
        if (titleIsSet) c.encodeObject(title, "title");  // written even when nil
        if (lengthIsSet) c.encodeInt32(length, "length");
        if (createdIsSet) c.encodeInt64(created, "created");
        c.encodeBool(active, "active");
        c.encodeDouble(score, "score");
        if (tags) c.encodeObject(tags, "tags");
        if (parent) c.encodeObject(parent, "parent");
        if (anything) c.encodeObject(anything, "anything");
    }
    bool initWithCoder(Coder& c) override {
        if (c.containsValueForKey("title")) {
            title = c.decodeObjectOfClassForKey<String>("title");
            titleIsSet = true;
        }
        if (c.containsValueForKey("length")) {
            length = c.decodeInt32ForKey("length");
            lengthIsSet = true;
        }
        if (c.containsValueForKey("created")) {
            created = c.decodeInt64ForKey("created");
            createdIsSet = true;
        }
        active = c.decodeBoolForKey("active");
        score = c.decodeDoubleForKey("score");
        tags = c.decodeObjectOfClassForKey<Array>("tags");
        parent = c.decodeObjectOfClassForKey<Note>("parent");
        anything = c.decodeObjectForKey("anything");
        return true;
    }
};

struct Registered {
    Registered() { ClassRegistry::registerClass<Note>("TestNote"); }
} registered;

}  // namespace

TEST(KeyedArchive, RecordsRoundTripWithTheirSetFields) {
    auto parent = make<Note>();
    parent->created = std::numeric_limits<int64_t>::min();
    parent->createdIsSet = true;
    auto note = make<Note>();
    note->titleIsSet = true;  // set, but holding nil
    note->length = -5;
    note->lengthIsSet = true;
    note->active = true;
    note->score = 0.125;
    note->tags = Array::make({str("a"), num(2), Dictionary::make({{"k", Null::null()}})});
    note->parent = parent;
    note->anything = Data::make("bytes");

    Ref<Error> err;
    auto bytes = KeyedArchiver::archivedDataWithRootObject(*note, &err);
    ASSERT_TRUE(bytes) << describe(err);
    auto back = cast<Note>(KeyedUnarchiver::unarchiveObjectWithData(*bytes, &err));
    ASSERT_TRUE(back) << describe(err);
    EXPECT_TRUE(back->titleIsSet);
    EXPECT_FALSE(back->title);
    EXPECT_EQ(back->length, -5);
    EXPECT_FALSE(back->createdIsSet);
    EXPECT_TRUE(back->active);
    EXPECT_EQ(back->score, 0.125);
    EXPECT_TRUE(back->tags->isEqual(*note->tags));
    ASSERT_TRUE(back->parent);
    EXPECT_EQ(back->parent->created, std::numeric_limits<int64_t>::min());
    EXPECT_FALSE(back->parent->lengthIsSet);
    EXPECT_EQ(describe(back->anything), "<62797465 73>");
}

TEST(KeyedArchive, BadArchivesFailWithAnError) {
    auto note = make<Note>();
    note->title = str("t");
    note->titleIsSet = true;
    auto bytes = *KeyedArchiver::archivedDataWithRootObject(*note);
    auto doc = cast<Dictionary>(PropertyList::readFromData(bytes));
    ASSERT_TRUE(doc);

    ASSERT_TRUE(doc->dictionaryForKey("$root"));
    ASSERT_TRUE(doc->dictionaryForKey("$root")->dictionaryForKey("$fields"));
    auto tamper = [&](const char* field, Ref<Object> value, const char* cls = "TestNote") {
        auto fields = doc->dictionaryForKey("$root")->dictionaryForKey("$fields")->mutableCopy();
        fields->setObject(value, field);
        auto root = Dictionary::make({{"$class", str(cls)}, {"$fields", fields}});
        auto archive = doc->mutableCopy();
        archive->setObject(root, "$root");
        return *PropertyList::dataFromPropertyList(*archive, PropertyListFormat::Binary);
    };
    struct Case {
        const char* what;
        std::string bytes;
        long code;
    } cases[] = {
        {"title of the wrong class", tamper("title", num(1)), kKeyedArchiveCorruptError},
        {"int32 out of range", tamper("length", num(1LL << 40)), kKeyedArchiveCorruptError},
        {"int from a real", tamper("created", num(1.5)), kKeyedArchiveCorruptError},
        {"bool from a string", tamper("active", str("yes")), kKeyedArchiveCorruptError},
        {"unknown class", tamper("title", str("t"), "NoSuchClass"), kKeyedArchiveUnknownClassError},
        {"untagged dictionary", tamper("anything", Dictionary::make({{"x", num(1)}})), kKeyedArchiveCorruptError},
        {"not an archive", *PropertyList::dataFromPropertyList(*Array::make(), PropertyListFormat::XML),
         kKeyedArchiveCorruptError},
    };
    for (auto& c : cases) {
        Ref<Error> err;
        EXPECT_FALSE(KeyedUnarchiver::unarchiveObjectWithData(c.bytes, &err)) << c.what;
        ASSERT_TRUE(err) << c.what;
        EXPECT_EQ(err->domain(), kKeyedArchiveErrorDomain) << c.what;
        EXPECT_EQ(err->code(), c.code) << c.what << ": " << err->localizedDescription();
    }
    Ref<Error> err;
    EXPECT_FALSE(KeyedUnarchiver::unarchiveObjectWithData("garbage", &err));
    EXPECT_EQ(err->domain(), kPropertyListErrorDomain);
}

TEST(KeyedArchive, RefusesObjectsItCannotStoreAndCycles) {
    struct Opaque : Object {};
    Ref<Error> err;
    auto note = make<Note>();
    note->anything = make<Opaque>();
    EXPECT_FALSE(KeyedArchiver::archivedDataWithRootObject(*note, &err));
    EXPECT_EQ(err->code(), kKeyedArchiveInvalidObjectError);

    auto loop = MutableArray::make();
    loop->addObject(str("x"));
    loop->addObject(loop);
    err = nullptr;
    EXPECT_FALSE(KeyedArchiver::archivedDataWithRootObject(*loop, &err));
    ASSERT_TRUE(err);
    loop->removeAllObjects();  // break the cycle so the test frees it

    struct Misuse : Object, Coding {
        void encodeWithCoder(Coder& c) const override { c.decodeBoolForKey("x"); }
        bool initWithCoder(Coder&) override { return true; }
    };
    EXPECT_THROW(KeyedArchiver::archivedDataWithRootObject(*make<Misuse>()), Exception);
}
