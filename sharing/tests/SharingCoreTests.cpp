#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <random>

#include "platform/foundation/Exception.h"
#include "platform/foundation/FileIO.h"
#include "platform/foundation/PropertyList.h"
#include "platform/security/Keychain.h"
#include "sharing/core/ImageCoding.h"
#include "sharing/core/KeychainStore.h"
#include "sharing/core/SHRRequest.h"
#include "sharing/core/SHRStorableJSON.h"
#include "sharing/oauth/SHROAuthSharer.h"
#include "sharing/tests/SharingTestSupport.h"
#include "sharing/ui/SHRFormController.h"
#include "testsupport/ChildProcess.h"
#include "testsupport/FullDisk.h"

namespace sharing::test {
namespace {

// -- Share item ------------------------------------------------------------------

TEST(SHRItemTest, FreshItemAndCustomValues) {
    auto item = ns::make<SHRItem>();
    EXPECT_EQ(item->shareType(), SHRShareTypeUndefined);
    EXPECT_FALSE(item->custom());
    EXPECT_EQ(item->customValueForKey("status"), nullptr);
    item->setCustomValueForKey(nullptr, "status");
    ASSERT_TRUE(item->custom());
    EXPECT_EQ(item->custom()->count(), 0u);
    for (const char* v : {"0", "true", "yes"}) {
        item->setCustomValueForKey(ns::str(v), "k");
        EXPECT_FALSE(item->customBoolForSwitchKey("k")) << v;
    }
    EXPECT_FALSE(item->customBoolForSwitchKey("absent"));
    item->setCustomValueForKey(ns::str("1"), "k");
    EXPECT_TRUE(item->customBoolForSwitchKey("k"));
    item->setCustomValueForKey(nullptr, "k");
    EXPECT_EQ(item->customValueForKey("k"), nullptr);
}

TEST(SHRItemTest, DictionaryWithOnlyShareType) {
    auto d = ns::make<SHRItem>()->dictionaryRepresentation();
    ASSERT_EQ(d->count(), 1u);
    ASSERT_TRUE(d->numberForKey("shareType"));
    EXPECT_EQ(d->numberForKey("shareType")->intValue(), 0);

    // The type read back, as a number or as text; anything else, or no
    // dictionary at all, leaves it undefined.
    struct Case {
        const char* name;
        ns::Ref<ns::Object> value;
        SHRShareType type;
    } cases[] = {
        {"number", ns::num(3), SHRShareTypeImage},
        {"text", ns::str("2"), SHRShareTypeText},
        {"a date", ns::Date::dateWithTimeIntervalSinceReferenceDate(0), SHRShareTypeUndefined},
        {"absent", nullptr, SHRShareTypeUndefined},
    };
    for (const auto& c : cases) {
        auto dict = ns::MutableDictionary::make();
        if (c.value) dict->setObject(c.value, "shareType");
        dict->setObject(ns::str("t\xC3\xADtulo"), "title");
        auto item = SHRItem::itemFromDictionary(dict.get());
        EXPECT_EQ(item->shareType(), c.type) << c.name;
        EXPECT_EQ(ns::describe(item->title()), "t\xC3\xADtulo") << c.name;
    }
    auto none = SHRItem::itemFromDictionary(nullptr);
    EXPECT_EQ(none->shareType(), SHRShareTypeUndefined);
    EXPECT_FALSE(none->title());
    // An address whose escapes do not decode to text is left out.
    auto odd = SHRItem::URL(ns::URL::URLWithString("http://example.com/%FF"), ns::str("T"));
    ASSERT_TRUE(odd->URL());
    EXPECT_FALSE(odd->dictionaryRepresentation()->objectForKey("URL"));
}

TEST(SHRItemTest, DictionaryRoundTripKeepsEverythingButData) {
    auto item = SHRItem::file(ns::Data::make("file bytes"), ns::str("notes.txt"), ns::str("text/plain"), ns::str("Notes"));
    item->setURL(ns::URL::URLWithString("http://example.com/a%C3%A9b?q=1"));
    item->setText(ns::str("some text"));
    item->setTags(ns::str("a b"));
    item->setImage(ui::Image::make("icon.png", {57, 40}));
    item->setCustomValueForKey(ns::str("1"), "followMe");
    auto dict = item->dictionaryRepresentation();
    EXPECT_EQ(ns::describe(dict->stringForKey("URL")), "http://example.com/a\xC3\xA9" "b?q=1");
    ASSERT_TRUE(dict->dataForKey("image"));
    EXPECT_EQ(dict->dataForKey("image")->view().substr(0, 4), "\x89PNG");
    EXPECT_TRUE(dict->dataForKey("data"));
    // Through a property-list file, as the offline queue stores it.
    TempDir dir;
    ASSERT_TRUE(ns::writeToFile(*dict, dir / "item.plist", true));
    auto back = SHRItem::itemFromDictionary(ns::dictionaryWithContentsOfFile(dir / "item.plist").get());
    EXPECT_EQ(back->shareType(), SHRShareTypeFile);
    // The unescaped text with a non-ASCII letter is not a valid URL any more.
    EXPECT_FALSE(back->URL());
    EXPECT_EQ(ns::describe(back->title()), "Notes");
    EXPECT_EQ(ns::describe(back->text()), "some text");
    EXPECT_EQ(ns::describe(back->tags()), "a b");
    EXPECT_EQ(ns::describe(back->mimeType()), "text/plain");
    EXPECT_EQ(ns::describe(back->filename()), "notes.txt");
    EXPECT_FALSE(back->data());
    ASSERT_TRUE(back->image());
    EXPECT_EQ(back->image()->name(), "icon.png");
    EXPECT_EQ(back->image()->size().width, 57);
    EXPECT_EQ(back->image()->size().height, 40);
    EXPECT_TRUE(back->customBoolForSwitchKey("followMe"));
    // The custom dictionary read back is a mutable copy.
    back->setCustomValueForKey(ns::str("x"), "other");
    EXPECT_EQ(item->customValueForKey("other"), nullptr);

    auto plain = SHRItem::URL(ns::URL::URLWithString("http://example.com/x%2Fy"), ns::str("T"));
    auto again = SHRItem::itemFromDictionary(plain->dictionaryRepresentation().get());
    ASSERT_TRUE(again->URL());
    EXPECT_EQ(again->URL()->absoluteText(), "http://example.com/x/y");
    auto spaced = SHRItem::URL(ns::URL::URLWithString("http://example.com/a%20b"));
    EXPECT_FALSE(SHRItem::itemFromDictionary(spaced->dictionaryRepresentation().get())->URL());
}

TEST(SHRItemTest, TypeNamesAndDescription) {
    auto item = SHRItem::text(ns::str("hello"));
    EXPECT_EQ(item->shareTypeToString(4), "SHRShareTypeFile");
    EXPECT_THROW(item->shareTypeToString(5), ns::Exception);
    EXPECT_EQ(item->description(),
              "Share type: SHRShareTypeText\nURL:(null)\nImage:(null)\nTitle: (null)\nText: hello\nTags:(null)\nCustom fields:(null)");
}

TEST(ImageCodingTest, JpegKeepsNameSizeAndQuality) {
    auto image = ui::Image::make("card", {30, 20});
    auto jpeg = imageJPEGRepresentation(image.get(), 0.5);
    ASSERT_TRUE(jpeg);
    EXPECT_EQ(jpegQualityOf(jpeg->view()), 50);
    auto back = imageWithData(jpeg->view());
    ASSERT_TRUE(back);
    EXPECT_EQ(back->name(), "card");
    EXPECT_EQ(back->size().width, 30);
    EXPECT_FALSE(imageWithData("not an image"));
    EXPECT_FALSE(imagePNGRepresentation(ui::Image::make("huge", {1e9, 1}).get()));
    EXPECT_FALSE(imagePNGRepresentation(nullptr));
    EXPECT_FALSE(imageJPEGRepresentation(nullptr, 1));

    // The asked quality is clamped to 0-1 and written as 1 to 100.
    struct Quality {
        double asked;
        int written;
    } qualities[] = {{-1, 1}, {0, 1}, {0.004, 1}, {0.02, 2}, {0.994, 99}, {1, 100}, {2, 100}, {std::nan(""), 1}};
    for (const auto& q : qualities) {
        auto bytes = imageJPEGRepresentation(image.get(), q.asked);
        ASSERT_TRUE(bytes) << q.asked;
        EXPECT_EQ(jpegQualityOf(bytes->view()), q.written) << q.asked;
    }
    // No quality recorded: not a JPEG we wrote, or not a JPEG at all.
    auto png = imagePNGRepresentation(image.get());
    ASSERT_TRUE(png);
    EXPECT_EQ(jpegQualityOf(png->view()), -1);
    EXPECT_EQ(jpegQualityOf(""), -1);
}

// Sides are whole pixels (a fraction rounds up) from 1 to kMaxImageSide, in
// both encoders and in the decoder.
TEST(ImageCodingTest, SidesAtTheLimitAndOnePast) {
    struct Case {
        const char* name;
        double width, height;
        int storedWidth, storedHeight;  // 0: refused
    } cases[] = {
        {"one pixel", 1, 1, 1, 1},
        {"a fraction rounds up", 0.5, 2.2, 1, 3},
        {"width at the limit", kMaxImageSide, 1, 16384, 1},
        {"height at the limit", 1, kMaxImageSide, 1, 16384},
        {"width rounds up to the limit", kMaxImageSide - 0.5, 1, 16384, 1},
        {"width one past", kMaxImageSide + 1, 1, 0, 0},
        {"height one past", 1, kMaxImageSide + 1, 0, 0},
        {"width rounds up past the limit", kMaxImageSide + 0.5, 1, 0, 0},
        {"no width", 0, 1, 0, 0},
        {"no height", 1, 0, 0, 0},
        {"negative", -1, 1, 0, 0},
        {"not a number", std::nan(""), 1, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto image = ui::Image::make("side", {c.width, c.height});
        auto png = imagePNGRepresentation(image.get());
        auto jpeg = imageJPEGRepresentation(image.get(), 0.5);
        if (!c.storedWidth) {
            EXPECT_FALSE(png);
            EXPECT_FALSE(jpeg);
            continue;
        }
        ASSERT_TRUE(png);
        ASSERT_TRUE(jpeg);
        for (const auto& bytes : {png, jpeg}) {
            auto back = imageWithData(bytes->view());
            ASSERT_TRUE(back);
            EXPECT_EQ(back->name(), "side");
            EXPECT_EQ(back->size().width, c.storedWidth);
            EXPECT_EQ(back->size().height, c.storedHeight);
        }
    }

    // The decoder refuses a header that claims a side past the limit: the
    // width field of a PNG's IHDR, and of a JPEG's frame header.
    auto wide = imagePNGRepresentation(ui::Image::make("w", {kMaxImageSide, 2}).get());
    ASSERT_TRUE(wide);
    std::string bytes(wide->view());
    ASSERT_GE(bytes.size(), 24u);
    ASSERT_TRUE(imageWithData(bytes));
    bytes[19] = 0x01;  // 16384 (0x4000) becomes 16385
    EXPECT_FALSE(imageWithData(bytes));
    bytes[16] = bytes[17] = bytes[18] = bytes[19] = 0;  // no width
    EXPECT_FALSE(imageWithData(bytes));

    auto tall = imageJPEGRepresentation(ui::Image::make("t", {2, kMaxImageSide}).get(), 0.5);
    ASSERT_TRUE(tall);
    std::string jpeg(tall->view());
    size_t sof = jpeg.find("\xFF\xC0");
    ASSERT_NE(sof, std::string::npos);
    ASSERT_LT(sof + 6, jpeg.size());
    ASSERT_TRUE(imageWithData(jpeg));
    jpeg[sof + 6] = 0x01;  // height 16384 becomes 16385
    EXPECT_FALSE(imageWithData(jpeg));
}

// The name travels inside the file: whole when it fits, in any script; a JPEG
// comment holds 65000 bytes with its "name=" prefix, and a longer name is cut
// there, never inside a character.
TEST(ImageCodingTest, NamesTravelInsideTheFile) {
    const std::string accented = "Kärtchen ✓ 日本";
    const size_t room = 65000 - 5;  // the comment less "name="
    struct Case {
        const char* label;
        std::string name;
        std::string pngName, jpegName;
    } cases[] = {
        {"plain", "card", "card", "card"},
        {"non-ASCII", accented, accented, accented},
        {"empty", "", "image", "image"},
        {"JPEG comment full", std::string(room, 'n'), std::string(room, 'n'), std::string(room, 'n')},
        {"JPEG comment one past", std::string(room + 1, 'n'), std::string(room + 1, 'n'), std::string(room, 'n')},
        // "é" is two bytes; the cut would fall between them.
        {"cut before a character", std::string(room - 1, 'n') + "\xC3\xA9", std::string(room - 1, 'n') + "\xC3\xA9",
         std::string(room - 1, 'n')},
        {"cut after a character", std::string(room - 2, 'n') + "\xC3\xA9" + "x",
         std::string(room - 2, 'n') + "\xC3\xA9" + "x", std::string(room - 2, 'n') + "\xC3\xA9"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        auto image = ui::Image::make(c.name, {3, 2});
        auto png = imagePNGRepresentation(image.get());
        auto jpeg = imageJPEGRepresentation(image.get(), 0.7);
        ASSERT_TRUE(png);
        ASSERT_TRUE(jpeg);
        auto fromPNG = imageWithData(png->view());
        auto fromJPEG = imageWithData(jpeg->view());
        ASSERT_TRUE(fromPNG);
        ASSERT_TRUE(fromJPEG);
        EXPECT_EQ(fromPNG->name().size(), c.pngName.size());
        EXPECT_TRUE(fromPNG->name() == c.pngName);  // long: not printed
        EXPECT_EQ(fromJPEG->name().size(), c.jpegName.size());
        EXPECT_TRUE(fromJPEG->name() == c.jpegName);
        EXPECT_EQ(jpegQualityOf(jpeg->view()), 70);
    }

    // A PNG whose text chunk claims more bytes than there are is read up to
    // the header: the size stays, the name is the default.
    auto png = imagePNGRepresentation(ui::Image::make("card", {3, 2}).get());
    ASSERT_TRUE(png);
    std::string damaged(png->view());
    size_t text = damaged.find("tEXt");
    ASSERT_NE(text, std::string::npos);
    ASSERT_GE(text, 4u);
    damaged[text - 4] = '\x7F';
    auto back = imageWithData(damaged);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->name(), "image");
    EXPECT_EQ(back->size().width, 3);

    // Where the name is looked for in a PNG: the "Title" text chunk among
    // others, up to the end chunk, and in a file cut right after it.
    auto chunk = [](const std::string& type, const std::string& body) {
        std::string c;
        for (int shift : {24, 16, 8, 0}) c += static_cast<char>((body.size() >> shift) & 0xFF);
        return c + type + body + std::string(4, '\0');  // the CRC is not read
    };
    std::string good(png->view());
    size_t titleAt = text - 4;
    size_t titleEnd = titleAt + 12 + 10;  // "Title\0card"
    ASSERT_EQ(good.substr(titleAt + 8, 10), std::string("Title\0card", 10));
    auto blank = imagePNGRepresentation(ui::Image::make("", {3, 2}).get());
    ASSERT_TRUE(blank);
    struct PNGCase {
        const char* name;
        std::string bytes, expected;
    } pngCases[] = {
        {"another text chunk first",
         good.substr(0, titleAt) + chunk("tEXt", std::string("Author\0someone", 14)) + good.substr(titleAt), "card"},
        {"a keyword that only starts with Title",
         good.substr(0, titleAt) + chunk("tEXt", std::string("Titles\0other", 12)) + good.substr(titleAt), "card"},
        {"cut right after the title", good.substr(0, titleEnd), "card"},
        {"cut inside the title", good.substr(0, titleEnd - 1), "image"},
        {"a title after the end chunk", std::string(blank->view()) + chunk("tEXt", std::string("Title\0late", 10)),
         "image"},
    };
    for (const auto& c : pngCases) {
        auto image = imageWithData(c.bytes);
        ASSERT_TRUE(image) << c.name;
        EXPECT_EQ(image->name(), c.expected) << c.name;
    }

    // In a JPEG: the comments before the frame, past an empty one, and the
    // quality in a file cut right after its comment.
    auto jpeg = imageJPEGRepresentation(ui::Image::make("card", {3, 2}).get(), 0.7);
    ASSERT_TRUE(jpeg);
    std::string j(jpeg->view());
    std::string emptyFirst = j.substr(0, 2) + std::string("\xFF\xFE\x00\x02", 4) + j.substr(2);
    auto fromEmptyFirst = imageWithData(emptyFirst);
    ASSERT_TRUE(fromEmptyFirst);
    EXPECT_EQ(fromEmptyFirst->name(), "card");
    EXPECT_EQ(jpegQualityOf(emptyFirst), 70);
    size_t quality = j.find("quality=70");
    ASSERT_NE(quality, std::string::npos);
    ASSERT_GE(quality, 4u);
    size_t qualityEnd = quality - 2 + ((static_cast<unsigned char>(j[quality - 2]) << 8) |
                                       static_cast<unsigned char>(j[quality - 1]));
    EXPECT_EQ(jpegQualityOf(j.substr(0, qualityEnd)), 70);
    EXPECT_EQ(jpegQualityOf(j.substr(0, qualityEnd - 1)), -1);
}

// -- Sharing centre ----------------------------------------------------------------

class CentreTest : public SharingTest {};

// Each type's favourites before anything was stored, read on their own; a
// push keeps at most three, the newest first.
TEST_F(CentreTest, FavouritesOfEachTypeByDefaultAndTheirLimit) {
    struct Case {
        int type;
        std::vector<std::string> defaults;
        const char* pushed;
        std::vector<std::string> afterPush;
    } cases[] = {
        {SHRShareTypeUndefined, {}, "SHRCopy", {"SHRCopy"}},
        {SHRShareTypeURL, {"SHRTwitter", "SHRFacebook"}, "SHRCopy", {"SHRCopy", "SHRTwitter", "SHRFacebook"}},
        {SHRShareTypeText, {"SHRMail", "SHRTwitter", "SHRFacebook"}, "SHRCopy", {"SHRCopy", "SHRMail", "SHRTwitter"}},
        {SHRShareTypeImage, {"SHRMail", "SHRFacebook"}, "SHRFacebook", {"SHRFacebook", "SHRMail"}},
        {SHRShareTypeFile, {"SHRMail"}, "SHRCopy", {"SHRCopy", "SHRMail"}},
        {SHRShareTypeUserInfo, {}, "SHRTwitter", {"SHRTwitter"}},
    };
    auto names = [](const ns::Array* list) {
        std::vector<std::string> out;
        if (list)
            for (ns::Object* o : *list) out.push_back(ns::describe(o));
        return out;
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        auto defaults = ns::UserDefaults::standardUserDefaults();
        std::string key = "SHR_FAVS_" + std::to_string(c.type);
        ASSERT_FALSE(defaults->objectForKey(key));
        EXPECT_EQ(names(SHR::favoriteSharersForType(c.type).get()), c.defaults);
        EXPECT_EQ(names(defaults->arrayForKey(key).get()), c.defaults);  // stored once read
        defaults->removeObjectForKey(key);
        SHR::pushOnFavoritesForType(c.pushed, c.type);
        EXPECT_EQ(names(SHR::favoriteSharersForType(c.type).get()), c.afterPush);
        EXPECT_EQ(names(defaults->arrayForKey(key).get()), c.afterPush);
        defaults->removeObjectForKey(key);
    }

    // Pushes onto stored lists: the limit is kept by dropping the oldest
    // entry and only it; a sharer already listed (as a string object of its
    // own, as the defaults read it back) moves to the front, every copy of it.
    struct Stored {
        const char* name;
        std::vector<std::string> stored;
        const char* pushed;
        std::vector<std::string> afterPush;
    } stored[] = {
        {"full list, a new sharer", {"A", "B", "C"}, "D", {"D", "A", "B"}},
        {"full list, its last entry", {"A", "B", "C"}, "C", {"C", "A", "B"}},
        {"full list, its first entry", {"A", "B", "C"}, "A", {"A", "B", "C"}},
        {"two short of full", {"A"}, "B", {"B", "A"}},
        {"a copy beside another", {"A", "A", "B"}, "A", {"A", "B"}},
        {"copies apart", {"B", "A", "C", "A"}, "A", {"A", "B", "C"}},
        {"longer than the limit", {"A", "B", "C", "D", "E"}, "F", {"F", "A", "B"}},
    };
    for (const auto& c : stored) {
        SCOPED_TRACE(c.name);
        auto defaults = ns::UserDefaults::standardUserDefaults();
        auto list = ns::MutableArray::make();
        for (const auto& n : c.stored) list->addObject(ns::str(n));
        defaults->setObjectForKey(list, "SHR_FAVS_2");
        SHR::pushOnFavoritesForType(c.pushed, SHRShareTypeText);
        EXPECT_EQ(names(defaults->arrayForKey("SHR_FAVS_2").get()), c.afterPush);
    }
}

TEST_F(CentreTest, FavouritesDefaultsExclusionsAndPush) {
    auto image = SHR::favoriteSharersForType(3);
    ASSERT_EQ(image->count(), 2u);
    EXPECT_EQ(ns::describe(image->objectAtIndex(0)), "SHRMail");
    EXPECT_EQ(ns::describe(image->objectAtIndex(1)), "SHRFacebook");
    EXPECT_TRUE(ns::UserDefaults::standardUserDefaults()->arrayForKey("SHR_FAVS_3"));
    EXPECT_EQ(SHR::favoriteSharersForType(5)->count(), 0u);
    EXPECT_TRUE(ns::UserDefaults::standardUserDefaults()->arrayForKey("SHR_FAVS_5"));

    SHR::pushOnFavoritesForType("SHRTwitter", 2);
    auto text = SHR::favoriteSharersForType(2);
    ASSERT_EQ(text->count(), 3u);
    EXPECT_EQ(ns::describe(text->objectAtIndex(0)), "SHRTwitter");
    EXPECT_EQ(ns::describe(text->objectAtIndex(1)), "SHRMail");
    EXPECT_EQ(ns::describe(text->objectAtIndex(2)), "SHRFacebook");
    SHR::pushOnFavoritesForType("SHRCopy", 2);
    text = SHR::favoriteSharersForType(2);
    ASSERT_EQ(text->count(), 3u);
    EXPECT_EQ(ns::describe(text->objectAtIndex(0)), "SHRCopy");
    EXPECT_EQ(ns::describe(text->objectAtIndex(2)), "SHRMail");

    ns::UserDefaults::standardUserDefaults()->setObjectForKey(
        ns::Dictionary::make({{"SHRFacebook", ns::boolean(true)}}), "SHRExcluded");
    auto url = SHR::favoriteSharersForType(1);
    ASSERT_EQ(url->count(), 1u);
    EXPECT_EQ(ns::describe(url->objectAtIndex(0)), "SHRTwitter");
    ASSERT_TRUE(ns::UserDefaults::standardUserDefaults()->arrayForKey("SHR_FAVS_1"));
    EXPECT_EQ(ns::UserDefaults::standardUserDefaults()->arrayForKey("SHR_FAVS_1")->count(), 1u);
}

TEST_F(CentreTest, KeychainStorage) {
    ns::Ref<ns::Error> error;
    EXPECT_FALSE(KeychainStore::setPassword(ns::str("x").get(), ns::str("svc").get(), nullptr, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), "com.pelvardin.keychain");
    EXPECT_EQ(error->code(), -1001);
    // Each missing argument of each call is refused with that code.
    auto s = ns::str("svc"), a = ns::str("acct"), p = ns::str("pw");
    struct Missing {
        const char* name;
        std::function<bool(ns::Ref<ns::Error>*)> call;
    } missing[] = {
        {"set: password", [&](auto* e) { return KeychainStore::setPassword(nullptr, s.get(), a.get(), e); }},
        {"set: service", [&](auto* e) { return KeychainStore::setPassword(p.get(), nullptr, a.get(), e); }},
        {"set: account", [&](auto* e) { return KeychainStore::setPassword(p.get(), s.get(), nullptr, e); }},
        {"read: service",
         [&](auto* e) { return KeychainStore::passwordForService(nullptr, a.get(), e) != nullptr; }},
        {"read: account",
         [&](auto* e) { return KeychainStore::passwordForService(s.get(), nullptr, e) != nullptr; }},
        {"delete: service", [&](auto* e) { return KeychainStore::deletePasswordForService(nullptr, a.get(), e); }},
        {"delete: account", [&](auto* e) { return KeychainStore::deletePasswordForService(s.get(), nullptr, e); }},
    };
    for (const auto& m : missing) {
        ns::Ref<ns::Error> e;
        EXPECT_FALSE(m.call(&e)) << m.name;
        ASSERT_TRUE(e) << m.name;
        EXPECT_EQ(e->code(), kKeychainMissingArgument) << m.name;
        EXPECT_FALSE(m.call(nullptr)) << m.name << " (no error wanted)";
    }
    EXPECT_FALSE(KeychainStore::passwordForService(s.get(), a.get()));
    error = nullptr;
    EXPECT_FALSE(KeychainStore::deletePasswordForService(s.get(), a.get(), &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), -25300);
    error = nullptr;
    EXPECT_FALSE(KeychainStore::passwordForService(ns::str("none").get(), ns::str("acct").get(), &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), -25300);

    SHR::setAuthValueForKeyForSharer(ns::str("k\xC3\xA9y").get(), "accessKey", "SHRTwitter");
    EXPECT_EQ(ns::describe(SHR::getAuthValueForKeyForSharer("accessKey", "SHRTwitter")), "k\xC3\xA9y");
    std::string secret;
    sec::Keychain kc(sec::Keychain::defaultPath());
    EXPECT_EQ(kc.findGenericPassword("SHR_AUTH_SHRTwitter", "accessKey", &secret), sec::kStatusSuccess);
    EXPECT_EQ(secret, "k\xC3\xA9y");
    SHR::setAuthValueForKeyForSharer(ns::str("second").get(), "accessKey", "SHRTwitter");
    EXPECT_EQ(ns::describe(SHR::getAuthValueForKeyForSharer("accessKey", "SHRTwitter")), "second");
    struct stat st{};
    ASSERT_EQ(stat(sec::Keychain::defaultPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    auto accounts = KeychainStore::accountsForService(ns::str("SHR_AUTH_SHRTwitter").get());
    ASSERT_TRUE(accounts);
    EXPECT_EQ(accounts->count(), 1u);
    KeychainStore::setPassword(p.get(), ns::str("other").get(), a.get());
    auto every = KeychainStore::accountsForService(nullptr);  // no service: all of them
    ASSERT_TRUE(every);
    EXPECT_EQ(every->count(), 2u);
    error = nullptr;
    EXPECT_FALSE(KeychainStore::accountsForService(ns::str("SHR_AUTH_none").get(), &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), -25300);
    SHR::removeAuthValueForKeyForSharer("accessKey", "SHRTwitter");
    EXPECT_FALSE(SHR::getAuthValueForKeyForSharer("accessKey", "SHRTwitter"));

    // The keychain's limits, at and one past: a refused value is reported and
    // the value stored before it is kept.
    struct Case {
        size_t secretBytes, accountBytes;
        bool stored;
    } cases[] = {
        {sec::kMaxSecretLength, 4, true},
        {sec::kMaxSecretLength + 1, 4, false},
        {1, sec::kMaxKeyLength, true},
        {1, sec::kMaxKeyLength + 1, false},
    };
    auto svc = ns::str("svc");
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.secretBytes) + "/" + std::to_string(c.accountBytes));
        auto account = ns::str(std::string(c.accountBytes, 'a'));
        bool accountFits = c.accountBytes <= sec::kMaxKeyLength;
        EXPECT_EQ(KeychainStore::setPassword(ns::str("old").get(), svc.get(), account.get()), accountFits);
        error = nullptr;
        EXPECT_EQ(KeychainStore::setPassword(ns::str(std::string(c.secretBytes, 's')).get(), svc.get(), account.get(),
                                             &error),
                  c.stored);
        auto now = KeychainStore::passwordForService(svc.get(), account.get());
        if (c.stored) {
            EXPECT_FALSE(error);
            ASSERT_TRUE(now);
            EXPECT_EQ(now->length(), c.secretBytes);
            continue;
        }
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code(), sec::kStatusParam);
        if (accountFits) {
            ASSERT_TRUE(now);
            EXPECT_EQ(ns::describe(now), "old");
        }
    }
}

// A token kept in the user defaults by provider and prefix comes back whole,
// whatever characters its parts and their names hold; half a token is none.
TEST_F(CentreTest, OAuthTokensInTheUserDefaultsComeBackWhole) {
    struct Case {
        const char* name;
        const char* key;
        const char* secret;
        const char* provider;
        const char* prefix;
    } cases[] = {
        {"plain", "key", "secret", "Provider", "deck"},
        {"reserved characters", "k+y&=/?#%25 <k>", "s\"e'c&r<e>t ]]>", "Pro & <vider>", "de%ck"},
        {"outside ASCII", "k\xC3\xA9y", "s\xF0\x9F\x83\x8F", "Provid\xC3\xA9r", "d\xC3\xA9" "ck"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(OAToken::initWithUserDefaultsUsingServiceProviderName(c.provider, c.prefix));
        auto token = ns::make<OAToken>(c.key, c.secret);
        token->storeInUserDefaultsWithServiceProviderName(c.provider, c.prefix);
        ns::UserDefaults::resetStandardUserDefaults();  // read back from the file
        auto back = OAToken::initWithUserDefaultsUsingServiceProviderName(c.provider, c.prefix);
        ASSERT_TRUE(back);
        EXPECT_EQ(back->keyText(), c.key);
        EXPECT_EQ(back->secretText(), c.secret);
        EXPECT_FALSE(OAToken::initWithUserDefaultsUsingServiceProviderName(c.provider, "other"));
        // Without its secret the key alone is no token.
        ns::UserDefaults::standardUserDefaults()->removeObjectForKey(
            ns::format("OAUTH_%@_%@_SECRET", c.prefix, c.provider));
        EXPECT_FALSE(OAToken::initWithUserDefaultsUsingServiceProviderName(c.provider, c.prefix));
    }
}

// Values of the user defaults that belong together (a token and its expiry)
// are saved together or not at all: when the defaults' folder is full or
// read-only, or a value is not a property list, the values held before stay,
// in memory and in the file; values that do not change need no save.
TEST_F(CentreTest, DefaultsValuesAreSavedTogetherOrPutBack) {
    FullPreferences disk;
    auto read = [](bool fromDisk) {
        if (fromDisk) ns::UserDefaults::resetStandardUserDefaults();
        auto d = ns::UserDefaults::standardUserDefaults();
        auto text = [&](const char* key) { return d->objectForKey(key) ? ns::describe(d->objectForKey(key)) : "-"; };
        return text("a") + "," + text("b");
    };
    ASSERT_TRUE(SHR::setDefaultsValues({{"a", ns::str("1")}, {"b", ns::str("2")}}));
    EXPECT_EQ(read(true), "1,2");
    EXPECT_FALSE(SHR::setDefaultsValues({{"a", ns::str("3")}, {"b", ns::URL::URLWithString("http://x.y/")}}));
    EXPECT_EQ(read(false), "1,2");
    EXPECT_EQ(read(true), "1,2");
    for (auto failure : testsupport::FullDisk::kFailures) {
        SCOPED_TRACE(std::string(testsupport::FullDisk::describe(failure)) + " against " + disk.how());
        disk.restore();
        if (!disk.arrange(failure)) continue;
        EXPECT_TRUE(SHR::setDefaultsValues({{"a", ns::str("1")}, {"b", ns::str("2")}, {"c", nullptr}}))
            << "nothing changes, nothing to save";
        EXPECT_FALSE(SHR::setDefaultsValues({{"a", ns::str("3")}, {"b", nullptr}}));
        EXPECT_EQ(read(false), "1,2");
        disk.restore();
        EXPECT_EQ(read(true), "1,2");
    }
    EXPECT_TRUE(SHR::setDefaultsValues({{"a", ns::str("3")}, {"b", nullptr}}));
    EXPECT_EQ(read(true), "3,-");
}

// An OAuth sharer without a service behind it: only its token storage and
// the end of its access step are used.
class TokenSharer : public SHROAuthSharer {
public:
    const char* className() const override { return "TokenSharer"; }
    std::string sharerTitle() const override { return "Token Service"; }
};

// A login is stored whole: a process killed at any moment while it stores
// tokens leaves one token, never the key of one beside the secret or the
// session handle of another (a token without handle leaves none).
TEST_F(CentreTest, ALoginIsStoredWholeWhateverTheMomentOfAKill) {
    std::mt19937 rng(22);
    for (int round = 0; round < 40; ++round) {
        pid_t child = testsupport::startChildAndWaitUntilReady([&](const std::function<void()>& ready) {
            auto sharer = ns::make<TokenSharer>();
            for (unsigned i = 0;; ++i) {
                std::string n = std::to_string(round) + "." + std::to_string(i);
                auto token = ns::make<OAToken>("key-" + n, "secret-" + n);
                if (i % 2) token->setSessionHandle(ns::str("handle-" + n));
                sharer->setAccessToken(token);
                if (!sharer->storeAccessToken()) ::_exit(3);
                ready();
            }
        });
        ASSERT_GT(child, 0) << "round " << round;
        ::usleep(std::uniform_int_distribution<unsigned>(0, 20000)(rng));
        ASSERT_EQ(testsupport::killChild(child), "") << "round " << round;
        auto key = SHR::getAuthValueForKeyForSharer("accessKey", "TokenSharer");
        auto secret = SHR::getAuthValueForKeyForSharer("accessSecret", "TokenSharer");
        auto handle = SHR::getAuthValueForKeyForSharer("sessionHandle", "TokenSharer");
        ASSERT_TRUE(key && secret) << "round " << round;
        std::string n = ns::describe(key).substr(4);
        EXPECT_EQ(ns::describe(secret), "secret-" + n) << "round " << round;
        bool withHandle = (std::stoul(n.substr(n.find('.') + 1)) % 2) == 1;
        EXPECT_EQ(handle ? ns::describe(handle) : std::string("none"), withHandle ? "handle-" + n : "none")
            << "round " << round;
    }
    // A token without key or secret is not stored; the stored one stays.
    std::string kept = ns::describe(SHR::getAuthValueForKeyForSharer("accessKey", "TokenSharer"));
    auto noKey = ns::make<OAToken>("k", "s");
    noKey->setKey(nullptr);
    auto noSecret = ns::make<OAToken>("k", "s");
    noSecret->setSecret(nullptr);
    struct Refused {
        const char* name;
        ns::Ref<OAToken> token;
    } refused[] = {{"no token", nullptr},
                   {"nil key", noKey},
                   {"nil secret", noSecret},
                   {"empty key", ns::make<OAToken>("", "s")},
                   {"empty secret", ns::make<OAToken>("k", "")}};
    for (const auto& r : refused) {
        auto sharer = ns::make<TokenSharer>();
        sharer->setAccessToken(r.token);
        EXPECT_FALSE(sharer->storeAccessToken()) << r.name;
        EXPECT_EQ(ns::describe(SHR::getAuthValueForKeyForSharer("accessKey", "TokenSharer")), kept) << r.name;
    }
    // Logging out takes the three values together too.
    ns::make<TokenSharer>()->logout();
    EXPECT_TRUE(KeychainStore::accountsForService(ns::str("SHR_AUTH_TokenSharer").get()) == nullptr);
}

// The first use of the queue folder in a process deletes the data files no
// entry names, and nothing else: not the list, hidden files, folders, links
// (nor what they point at), nor anything while the list cannot be read.
TEST_F(CentreTest, OfflineQueueFirstUseClearsOnlyUnlistedDataFiles) {
    std::string folder = ns::Paths::join(ns::Paths::cachesDirectory(), kSHROfflineQueueFolder);
    std::string list = ns::Paths::join(folder, kSHROfflineQueueListName);
    std::string outside = ns::Paths::join(ns::Paths::cachesDirectory(), "target");
    auto entry = [](const char* uid) {
        return ns::Dictionary::make({{"item", SHRItem::text(ns::str("t"))->dictionaryRepresentation()},
                                     {"sharer", ns::str("QueueSharer")},
                                     {"uid", ns::str(uid)}});
    };
    // The folder is made for the owner alone.
    EXPECT_EQ(SHR::offlineQueuePath(), folder);
    struct stat st{};
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    struct Case {
        const char* name;
        const char* listText;  // nullptr: a list of the entries below; "": no list
        std::vector<std::string> kept, removed;
    } cases[] = {
        {"a readable list",
         nullptr,
         {"Listed-1", "Listéd-2", ".hidden", "SHROfflineQueue.plist.old", "folder", "link"},
         {"Unlisted-1", "x.y", "Ünlisted"}},
        {"no list: every data file goes", "", {".hidden", "folder", "link"}, {"Listed-1", "Listéd-2", "x.y"}},
        {"a list that is not a list", "<plist version=\"1.0\"><dict/></plist>", {"Listed-1", "Unlisted-1", "x.y"}, {}},
        {"a damaged list", "damaged", {"Listed-1", "Unlisted-1", "x.y"}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder + "/folder");
        ASSERT_TRUE(ns::writeFileAtomically(outside, "outside"));
        std::filesystem::create_symlink(outside, folder + "/link");
        for (const auto& name : c.kept) {
            if (name == "folder" || name == "link") continue;
            ASSERT_TRUE(ns::writeFileAtomically(folder + "/" + name, "k"));
        }
        for (const auto& name : c.removed) ASSERT_TRUE(ns::writeFileAtomically(folder + "/" + name, "r"));
        if (!c.listText) {
            auto entries = ns::Array::make({entry("Listed-1"), ns::str("not an entry"), entry("Listéd-2"),
                                            ns::Dictionary::make({{"sharer", ns::str("QueueSharer")}})});
            ASSERT_TRUE(ns::PropertyList::writeToFile(*entries, list, true));
        } else if (*c.listText) {
            ASSERT_TRUE(ns::writeFileAtomically(list, c.listText));
        }
        SHR::reset();
        EXPECT_EQ(SHR::offlineQueuePath(), folder);
        for (const auto& name : c.kept)
            EXPECT_TRUE(std::filesystem::exists(std::filesystem::symlink_status(folder + "/" + name))) << name;
        for (const auto& name : c.removed) EXPECT_FALSE(std::filesystem::exists(folder + "/" + name)) << name;
        EXPECT_EQ(ns::readFile(outside).value_or(""), "outside");
        if (!c.listText) {
            EXPECT_TRUE(std::filesystem::exists(list));
        }
        // Only the first use in a process looks.
        ASSERT_TRUE(ns::writeFileAtomically(folder + "/Later", "r"));
        SHR::offlineQueuePath();
        EXPECT_TRUE(std::filesystem::exists(folder + "/Later"));
    }
}

TEST(SharingTextTest, EncodingHelpers) {
    EXPECT_EQ(SHREncode(ns::str("a &amp; b&c d").get()), "a%20%26%20b%26c%20d");
    EXPECT_EQ(SHREncode(static_cast<const ns::String*>(nullptr)), "");
    // Every reserved character is escaped, so "+" and "=" do not turn into
    // a blank or a second pair when the body is read back.
    EXPECT_EQ(SHREncode(ns::str("c++ = 1?#/@:%~").get()), "c%2B%2B%20%3D%201%3F%23%2F%40%3A%25~");
    // Credentials go exactly as typed: no entity is rewritten.
    EXPECT_EQ(SHREncodeCredential(ns::str("a&amp;b+\xC3\xBC").get()), "a%26amp%3Bb%2B%C3%BC");
    EXPECT_EQ(SHREncodeCredential(nullptr), "");
    EXPECT_EQ(SHREncodeURL(nullptr), "");
    EXPECT_EQ(SHREncodeURL(ns::URL::URLWithString("http://a.b/c?d=e&f=%20").get()),
              "http%3A%2F%2Fa.b%2Fc%3Fd%3De%26f%3D%2520");
    // Text inside an XML or a JSON body: only what the format needs is
    // escaped; other bytes, UTF-8 included, pass as they are.
    struct Escape {
        const char* name;
        std::string text, xml, json;
    } escapes[] = {
        {"markup", "<a href=\"x\">&amp;</a>", "&lt;a href=&quot;x&quot;&gt;&amp;amp;&lt;/a&gt;",
         "<a href=\\\"x\\\">&amp;</a>"},
        {"backslash and quote", "\\'\"", "\\'&quot;", "\\\\'\\\""},
        // XML has no way to carry most control characters: they are dropped
        // there (tab, line feed, carriage return and DEL stay).
        {"control characters", std::string("\x01\n\x1F\x20\x7F", 5), std::string("\n\x20\x7F", 3),
         std::string("\\u0001\\u000a\\u001f\x20\x7F", 20)},
        {"tab and carriage return", "\t\r\x08\x0B\x0C\x0E", "\t\r", "\\u0009\\u000d\\u0008\\u000b\\u000c\\u000e"},
        {"NUL", std::string("a\0b", 3), "ab", "a\\u0000b"},
        // U+FFFE and U+FFFF are not XML characters either; their neighbours
        // U+FFFD and U+FFFC, and U+10FFFF, are.
        {"non-characters", "a\xEF\xBF\xBE\xEF\xBF\xBF" "b\xEF\xBF\xBD\xEF\xBF\xBC\xF4\x8F\xBF\xBF",
         "ab\xEF\xBF\xBD\xEF\xBF\xBC\xF4\x8F\xBF\xBF",
         "a\xEF\xBF\xBE\xEF\xBF\xBF" "b\xEF\xBF\xBD\xEF\xBF\xBC\xF4\x8F\xBF\xBF"},
        {"cut at the end", "a\xEF\xBF", "a\xEF\xBF", "a\xEF\xBF"},
        {"non-ASCII", "K\xC3\xA4rtchen \xE2\x9C\x93", "K\xC3\xA4rtchen \xE2\x9C\x93", "K\xC3\xA4rtchen \xE2\x9C\x93"},
        {"empty", "", "", ""},
    };
    for (const auto& e : escapes) {
        EXPECT_EQ(SHRXMLEscaped(e.text), e.xml) << e.name;
        EXPECT_EQ(SHRJSONEscaped(e.text), e.json) << e.name;
    }
    EXPECT_EQ(SHRLocalizedString("Send to %@", "Twitter"), "Send to Twitter");
    auto e = SHR::error("%@ failed", "x");
    EXPECT_EQ(e->domain(), "sharing");
    EXPECT_EQ(e->code(), 1);
    EXPECT_EQ(e->localizedDescription(), "x failed");
    EXPECT_EQ(md5(*ns::Data::make("")), "d41d8cd98f00b204e9800998ecf8427e");
}

// JSON account information made storable: every null (nested in objects and
// arrays) becomes empty text and the copy is a property list; nesting is
// kept to 64 levels, and what lies deeper is empty text.
TEST(SharingTextTest, JSONAccountInformationBecomesStorable) {
    auto nested = [](bool objects, int levels) {
        ns::Ref<ns::Object> v = ns::str("x");
        for (int i = 0; i < levels; ++i)
            v = objects ? ns::Ref<ns::Object>(ns::Dictionary::make({{"a", v}})) : ns::Ref<ns::Object>(ns::Array::make({v}));
        return v;
    };
    // The innermost value of a chain of dictionaries ("a") or arrays.
    auto innermost = [](ns::Object* v) {
        for (;;) {
            if (auto* d = ns::as<ns::Dictionary>(v)) v = d->objectForKey("a");
            else if (auto* a = ns::as<ns::Array>(v)) v = a->count() ? a->objectAtIndex(0) : nullptr;
            else return ns::describe(v);
        }
    };
    struct Row {
        const char* what;
        ns::Ref<ns::Object> value;
        std::string deepest;
    } rows[] = {
        {"objects 64 deep", nested(true, 64), "x"},
        {"objects 65 deep", nested(true, 65), ""},
        {"arrays 64 deep", nested(false, 64), "x"},
        {"arrays 65 deep", nested(false, 65), ""},
        {"a null in an object", ns::Dictionary::make({{"a", ns::Null::null()}}), ""},
        {"a null in an array", ns::Array::make({ns::Null::null()}), ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        auto copy = SHRStorableJSONCopy(row.value.get());
        ASSERT_TRUE(copy);
        EXPECT_TRUE(ns::PropertyList::isValidPropertyList(*copy));
        EXPECT_EQ(innermost(copy.get()), row.deepest);
    }
}

TEST_F(CentreTest, SecondScreenWaitsForTheFirstToGo) {
    auto first = ns::make<ui::ViewController>();
    auto second = ns::make<ui::ViewController>();
    SHR* shr = SHR::currentHelper();
    shr->showViewController(first);
    ASSERT_TRUE(root->presentedViewController());
    auto* wrapper = ns::as<ui::NavigationController>(root->presentedViewController());
    ASSERT_TRUE(wrapper);
    EXPECT_EQ(wrapper->topViewController(), first.get());
    EXPECT_EQ(wrapper->modalPresentationStyle(), ui::ModalPresentationStyle::FormSheet);

    shr->showViewController(second);
    EXPECT_FALSE(root->presentedViewController());  // the first was dismissed
    EXPECT_EQ(shr->pendingView(), second.get());
    shr->viewWasDismissed();  // what the first screen reports when it is gone
    EXPECT_FALSE(root->presentedViewController());
    clock->advance(0.019);
    EXPECT_FALSE(root->presentedViewController());
    clock->advance(0.002);
    ASSERT_TRUE(root->presentedViewController());
    ASSERT_TRUE(ns::as<ui::NavigationController>(root->presentedViewController()));
    EXPECT_EQ(ns::as<ui::NavigationController>(root->presentedViewController())->topViewController(), second.get());

    // The end of a hide is told on a later turn of the loop, once the
    // screen is gone.
    std::vector<std::string> told;
    auto token = ns::NotificationCenter::defaultCenter()->addObserver(
        SHRHideCurrentViewFinishedNotification, nullptr,
        [&](const ns::Notification&) { told.push_back(root->presentedViewController() ? "shown" : "gone"); });
    shr->hideCurrentViewControllerAnimated(true);
    EXPECT_TRUE(told.empty());
    clock->advance(1);
    EXPECT_EQ(told, (std::vector<std::string>{"gone"}));
    token.reset();
    shr->viewWasDismissed();
    shr->showViewController(second);
    ASSERT_TRUE(root->presentedViewController());

    // A hide while a dismissal runs does nothing.
    shr->setIsDismissingView(true);
    shr->hideCurrentViewControllerAnimated(false);
    EXPECT_TRUE(root->presentedViewController());
    shr->setIsDismissingView(false);
    shr->hideCurrentViewControllerAnimated(false);
    EXPECT_FALSE(root->presentedViewController());
}

// -- Sharer life cycle ----------------------------------------------------------------

// Records the delegate calls, in order.
struct RecordingDelegate : ns::Object, SHRSharerDelegate {
    std::vector<std::string> calls;
    bool answersAuth = true;
    void sharerStartedSending(SHRSharer*) override { calls.push_back("started"); }
    void sharerFinishedSending(SHRSharer*) override { calls.push_back("finished"); }
    void sharerFailedWithErrorShouldRelogin(SHRSharer*, ns::Error* e, bool relogin) override {
        calls.push_back(std::string("failed:") + (e ? e->localizedDescription() : "nil") + (relogin ? ":relogin" : ""));
    }
    void sharerCancelledSending(SHRSharer*) override { calls.push_back("cancelled"); }
    void sharerAuthDidFinishSuccess(SHRSharer*, bool ok) override { calls.push_back(ok ? "auth:true" : "auth:false"); }
};

// A sharer that needs no login and no network; its send succeeds at once
// unless told otherwise.
class NoteSharer : public SHRSharer {
public:
    const char* className() const override { return "NoteSharer"; }
    std::string sharerTitle() const override { return "Notes"; }
    bool canShareURL() const override { return true; }
    bool canShareText() const override { return true; }
    bool requiresAuthentication() const override { return false; }
    bool shareRequiresInternetConnection() const override { return false; }
    bool send() override {
        ++sends;
        if (!validateItem() || refuse) return false;
        sendDidStart();
        sendDidFinish();
        return true;
    }
    int sends = 0;
    bool refuse = false;
};

// A sharer with the base login form and a network need.
class LoginSharer : public SHRSharer {
public:
    const char* className() const override { return "LoginSharer"; }
    std::string sharerTitle() const override { return "Login Service"; }
    bool canShareText() const override { return true; }
    bool canShareOffline() const override { return false; }
    bool send() override {
        sendDidStart();
        sendDidFailShouldRelogin();
        return true;
    }
};

class LifeCycleTest : public SharingTest {};

TEST_F(LifeCycleTest, NotificationsThenDelegateInOrder) {
    NotificationRecorder rec;
    auto sharer = ns::make<NoteSharer>();
    auto d = ns::make<RecordingDelegate>();
    sharer->setShareDelegate(d.get());
    sharer->setItem(SHRItem::text(ns::str("hi")));
    sharer->setShouldAutoShare(true);
    sharer->share();
    EXPECT_EQ(sharer->sends, 1);
    ASSERT_EQ(rec.names.size(), 2u);
    EXPECT_EQ(rec.names[0], "SHRSendDidStartNotification");
    EXPECT_EQ(rec.names[1], "SHRSendDidFinish");
    EXPECT_EQ(d->calls, (std::vector<std::string>{"started", "finished"}));
    EXPECT_TRUE(ns::UserDefaults::standardUserDefaults()->boolForKey("NoteSharer_shouldAutoShare"));

    sharer->authDidFinish(false);
    EXPECT_EQ(rec.names.back(), "SHRAuthDidFinish:false");
    sharer->sendDidCancel();
    EXPECT_EQ(rec.names.back(), "SHRSendDidCancel");
    EXPECT_EQ(d->calls.back(), "cancelled");
    // The optional operation's absence changes nothing but the call.
    sharer->setShareDelegate(nullptr);
    sharer->authDidFinish(true);
    EXPECT_EQ(rec.names.back(), "SHRAuthDidFinish:true");
}

// A sharer that can share one type only.
class OneTypeSharer : public SHRSharer {
public:
    explicit OneTypeSharer(int type) : type_(type) {}
    const char* className() const override { return "OneTypeSharer"; }
    bool canShareURL() const override { return type_ == SHRShareTypeURL; }
    bool canShareText() const override { return type_ == SHRShareTypeText; }
    bool canShareImage() const override { return type_ == SHRShareTypeImage; }
    bool canShareFile() const override { return type_ == SHRShareTypeFile; }
    bool canGetUserInfo() const override { return type_ == SHRShareTypeUserInfo; }

private:
    int type_;
};

// Each type asks its own capability; an item is valid when it carries what
// its type shares (user information: when the sharer can fetch it).
TEST_F(LifeCycleTest, EachTypeHasItsCapabilityAndItsContent) {
    for (int able = 0; able <= 6; ++able) {
        auto sharer = ns::make<OneTypeSharer>(able);
        for (int asked = -1; asked <= 6; ++asked)
            EXPECT_EQ(sharer->canShareType(asked), asked == able && able >= 1 && able <= 5)
                << "able " << able << ", asked " << asked;
    }
    struct Case {
        const char* name;
        ns::Ref<SHRItem> item;
        bool valid;
    } cases[] = {
        {"URL", SHRItem::URL(ns::URL::URLWithString("http://a.example/")), true},
        {"URL without one", SHRItem::URL(nullptr, ns::str("title")), false},
        {"text", SHRItem::text(ns::str("\xC3\xA9")), true},
        {"text without one", SHRItem::text(nullptr), false},
        {"image", SHRItem::image(ui::Image::make("i", {1, 1})), true},
        {"image without one", SHRItem::image(nullptr, ns::str("title")), false},
        {"file", SHRItem::file(ns::Data::make(""), nullptr, nullptr, nullptr), true},
        {"file without bytes", SHRItem::file(nullptr, ns::str("f"), nullptr, nullptr), false},
        {"undefined", ns::make<SHRItem>(), false},
    };
    for (const auto& c : cases) {
        auto sharer = ns::make<OneTypeSharer>(c.item->shareType());
        sharer->setItem(c.item);
        EXPECT_EQ(sharer->validateItem(), c.valid) << c.name;
    }
    for (int able : {SHRShareTypeUserInfo, SHRShareTypeText}) {
        auto sharer = ns::make<OneTypeSharer>(able);
        auto item = ns::make<SHRItem>();
        item->setShareType(SHRShareTypeUserInfo);
        sharer->setItem(item);
        EXPECT_EQ(sharer->validateItem(), able == SHRShareTypeUserInfo) << able;
    }
}

TEST_F(LifeCycleTest, CapabilitiesAndAuthorisation) {
    auto note = ns::make<NoteSharer>();
    // Defaults, each on its own: no auto share, not quiet, nothing pending.
    EXPECT_FALSE(note->shouldAutoShare());
    EXPECT_FALSE(note->quiet());
    EXPECT_EQ(note->pendingAction(), SHRPendingNone);
    EXPECT_EQ(note->sharerId(), "NoteSharer");
    EXPECT_TRUE(note->canShareType(1));
    EXPECT_FALSE(note->canShareType(0));
    EXPECT_FALSE(note->canShareType(6));
    EXPECT_TRUE(note->isAuthorized());  // no keychain lookup needed

    auto login = ns::make<LoginSharer>();
    EXPECT_FALSE(login->isAuthorized());
    SHR::setAuthValueForKeyForSharer(ns::str("pw").get(), "password", "LoginSharer");
    EXPECT_TRUE(login->isAuthorized());  // the second field alone is enough
    login->logout();
    EXPECT_FALSE(login->isAuthorized());
}

TEST_F(LifeCycleTest, ShareFormWhenAutoShareSendFails) {
    auto sharer = ns::make<NoteSharer>();
    sharer->refuse = true;
    sharer->setItem(SHRItem::URL(ns::URL::URLWithString("http://example.com/p?q=%20"), ns::str("Page")));
    sharer->setShouldAutoShare(true);
    sharer->share();
    EXPECT_EQ(sharer->sends, 1);
    ASSERT_EQ(root->presentedViewController(), sharer.get());
    auto* form = ns::as<SHRFormController>(sharer->topViewController());
    ASSERT_TRUE(form);
    EXPECT_EQ(form->rightButtonTitle(), "Send to Notes");
    EXPECT_EQ(ns::describe(form->footerOfSection(0)), "http://example.com/p?q=%20");
    ASSERT_EQ(form->numberOfSections(), 2u);
    EXPECT_EQ(ns::describe(form->footerOfSection(1)), "Enable auto share to skip this step in the future.");
    EXPECT_EQ(ns::describe(form->formValuesForSection(1)->stringForKey("autoShare")), "1");
    EXPECT_EQ(ns::describe(form->formValues()->stringForKey("title")), "Page");
}

TEST_F(LifeCycleTest, ShareFormSavesTitleCustomValuesAndAutoShare) {
    // A sharer whose form has a custom field.
    class StatusSharer : public NoteSharer {
    public:
        const char* className() const override { return "StatusSharer"; }
        ns::Ref<ns::Array> shareFormFieldsForType(int) override {
            return ns::Array::make({SHRFormFieldSettings::label("Title", "title", 0, ns::str("t")),
                                    SHRFormFieldSettings::label("Status", "status", 0, nullptr)});
        }
    };
    auto sharer = ns::make<StatusSharer>();
    sharer->setItem(SHRItem::text(ns::str("body")));
    sharer->share();
    EXPECT_EQ(sharer->sends, 0);
    auto* form = ns::as<SHRFormController>(sharer->topViewController());
    ASSERT_TRUE(form);
    ui::Driver driver;
    ASSERT_TRUE(driver.typeText("Status", "on my way")) << driver.lastError();
    form->setValueForKey("autoShare", "1");
    ASSERT_TRUE(driver.tapBarButton("Send to Notes")) << driver.lastError();
    EXPECT_EQ(sharer->sends, 1);
    EXPECT_EQ(ns::describe(sharer->item()->title()), "t");
    EXPECT_EQ(ns::describe(sharer->item()->text()), "body");
    EXPECT_EQ(ns::describe(sharer->item()->customValueForKey("status")), "on my way");
    EXPECT_TRUE(sharer->shouldAutoShare());
    EXPECT_FALSE(root->presentedViewController());
}

TEST_F(LifeCycleTest, FormsKeepTheirSharerWhileTheyCloseItsScreen) {
    // The sharer's screen is its only owner; closing the screen from the
    // form must not free the sharer before it hears of the cancel.
    NotificationRecorder rec;
    ns::Weak<LoginSharer> weak;
    {
        auto sharer = ns::make<LoginSharer>();
        sharer->setItem(SHRItem::text(ns::str("hello")));
        sharer->share();
        weak = sharer;
    }
    auto* form = ns::as<SHRFormController>(ns::as<ui::NavigationController>(root->presentedViewController())
                                               ->topViewController());
    ASSERT_TRUE(form);
    form->cancel();
    EXPECT_EQ(rec.names, (std::vector<std::string>{"SHRSendDidCancel"}));
    EXPECT_FALSE(root->presentedViewController());
    EXPECT_TRUE(weak.expired());
}

TEST_F(LifeCycleTest, EntryPointsAndFavourites) {
    auto s = SHRSharer::shareURL<NoteSharer>(ns::URL::URLWithString("http://x.y/"), ns::str("X"));
    EXPECT_EQ(ns::describe(SHR::favoriteSharersForType(1)->objectAtIndex(0)), "SHRTwitter");
    SHRSharer::shareItem<NoteSharer>(s->item());
    EXPECT_EQ(ns::describe(SHR::favoriteSharersForType(1)->objectAtIndex(0)), "NoteSharer");
}

TEST_F(LifeCycleTest, LoginFormThenReloginFailureShowsAlertAndLoginAgain) {
    NotificationRecorder rec;
    auto sharer = ns::make<LoginSharer>();
    sharer->setItem(SHRItem::text(ns::str("hello")));
    sharer->share();
    EXPECT_EQ(sharer->pendingAction(), SHRPendingShare);
    auto* form = ns::as<SHRFormController>(sharer->topViewController());
    ASSERT_TRUE(form);
    EXPECT_EQ(form->title(), "Login");
    ui::Driver driver;
    ASSERT_TRUE(driver.typeText("Username", "ann")) << driver.lastError();
    ASSERT_TRUE(driver.typeText("Password", "secret")) << driver.lastError();
    // The base validation does nothing; the subclass would check and save.
    form->saveForm();
    EXPECT_EQ(ns::describe(SHR::getAuthValueForKeyForSharer("username", "LoginSharer")), "ann");
    EXPECT_EQ(ns::describe(SHR::getAuthValueForKeyForSharer("password", "LoginSharer")), "secret");
    // share() ran again: authorised now, no share form fields for text, so it
    // sent and failed asking for a new login.
    EXPECT_EQ(rec.names, (std::vector<std::string>{"SHRSendDidStartNotification", "SHRSendDidFailWithError"}));
    ASSERT_EQ(alerts().size(), 1u);
    EXPECT_EQ(alerts()[0], "Error|Could not authenticate you. Please relogin.");
    clock->advance(1);
    auto* again = ns::as<SHRFormController>(sharer->topViewController());
    ASSERT_TRUE(again);
    EXPECT_EQ(again->title(), "Login");
}

// A login the keychain cannot store (a full disk, a read-only home) is
// reported, the sharer does not go on as signed in, and the login stored
// before stays whole: through the login form and through the OAuth access
// step.
TEST_F(LifeCycleTest, ALoginThatCannotBeSavedIsReportedAndNotUsed) {
    // Checks the form's values as a service would, then saves them.
    class FormLoginSharer : public LoginSharer {
    public:
        void authorizationFormValidate(SHRFormController* form) override {
            setPendingForm(ns::Ref<SHRFormController>(form));
            finishFormLogin(true, "");
        }
    };
    std::string folder = ns::Paths::join(ns::Paths::libraryDirectory(), "Keychains");
    testsupport::FullDisk disk(folder);
    for (auto failure : testsupport::FullDisk::kFailures) {
        SCOPED_TRACE(std::string(testsupport::FullDisk::describe(failure)) + " against " + disk.how());
        disk.restore();
        ASSERT_TRUE(SHR::setAuthValuesForSharer({{"username", ns::str("ann")}, {"password", ns::str("old")}},
                                                "LoginSharer"));
        auto old = ns::make<OAToken>("old-key", "old-secret");
        old->setSessionHandle(ns::str("old-handle"));
        auto tokens = ns::make<TokenSharer>();
        tokens->setAccessToken(old);
        ASSERT_TRUE(tokens->storeAccessToken());
        if (!disk.arrange(failure)) continue;
        EXPECT_FALSE(SHR::setAuthValueForKeyForSharer(ns::str("x").get(), "username", "LoginSharer"));
        ui::Panel::resetShown();
        NotificationRecorder rec;
        auto sharer = ns::make<FormLoginSharer>();
        sharer->setItem(SHRItem::text(ns::str("hello")));
        sharer->authorizationFormShow();
        ui::Driver driver;
        ASSERT_TRUE(driver.typeText("Username", "bob")) << driver.lastError();
        ASSERT_TRUE(driver.typeText("Password", "new")) << driver.lastError();
        ASSERT_TRUE(driver.tapBarButton("Login")) << driver.lastError();
        EXPECT_EQ(alerts(), std::vector<std::string>{
                                "Login Error|Your login to Login Service could not be saved. Please try again."});
        EXPECT_EQ(rec.names, std::vector<std::string>{"SHRAuthDidFinish:false"});  // nothing sent
        EXPECT_EQ(ns::describe(SHR::getAuthValueForKeyForSharer("username", "LoginSharer")), "ann");
        EXPECT_EQ(ns::describe(SHR::getAuthValueForKeyForSharer("password", "LoginSharer")), "old");

        // The OAuth access step: a token the keychain refuses is not kept.
        ui::Panel::resetShown();
        rec.names.clear();
        auto oauth = ns::make<TokenSharer>();
        oauth->setItem(SHRItem::text(ns::str("hello")));
        oauth->setPendingAction(SHRPendingShare);
        auto ticket = ns::make<OAServiceTicket>(nullptr, nullptr, nullptr, true);
        oauth->tokenAccessTicketDidFinishWithData(
            ticket.get(), ns::Data::make("oauth_token=new-key&oauth_token_secret=new-secret").get());
        EXPECT_EQ(alerts(), std::vector<std::string>{
                                "Login Error|Your login to Token Service could not be saved. Please try again."});
        EXPECT_EQ(rec.names, std::vector<std::string>{"SHRAuthDidFinish:false"});
        EXPECT_FALSE(oauth->accessToken());
        auto restored = ns::make<TokenSharer>();
        ASSERT_TRUE(restored->isAuthorized());
        EXPECT_EQ(restored->accessToken()->keyText(), "old-key");
        EXPECT_EQ(restored->accessToken()->secretText(), "old-secret");
        EXPECT_EQ(ns::describe(restored->accessToken()->sessionHandle()), "old-handle");
    }
}

TEST_F(LifeCycleTest, OfflineRefusalAndQuietSharers) {
    setOnline(false);
    NotificationRecorder rec;
    auto sharer = ns::make<LoginSharer>();
    sharer->setItem(SHRItem::text(ns::str("hello")));
    sharer->share();
    ASSERT_EQ(alerts().size(), 1u);
    EXPECT_EQ(alerts()[0], "Offline|You must be online to login to Login Service");
    EXPECT_EQ(sharer->pendingAction(), SHRPendingShare);
    ui::Panel::resetShown();
    SHR::setAuthValueForKeyForSharer(ns::str("ann").get(), "username", "LoginSharer");
    EXPECT_TRUE(sharer->tryToSend());
    EXPECT_EQ(alerts()[0], "Offline|You must be online in order to share with Login Service");
    ui::Panel::resetShown();
    sharer->setQuiet(true);
    EXPECT_FALSE(sharer->tryToSend());
    EXPECT_TRUE(alerts().empty());
    EXPECT_TRUE(rec.names.empty());
}

}  // namespace
}  // namespace sharing::test
