// The note-store records on the wire: golden bytes, set-but-nil fields,
// skipping of unknown and mistyped fields, maps, descriptions and archives of
// the tag, resource, note, notebook, sharing, ad, sync, query and e-mail
// records, and the argument and result records of the note-store methods.
#include <gtest/gtest.h>

#include "evernote/notestore/EDAMNoteStore.h"
#include "evernote/notestore/EDAMNoteStoreTypes.h"
#include "evernote/tests/TestSupport.h"
#include "testsupport/Checked.h"
#include "evernote/types/Coder.h"
#include "evernote/types/EDAMTypes.h"
#include "platform/foundation/Foundation.h"

namespace evernote {
namespace {

using testsupport::must;
using testsupport::present;

using test::bytes;
using test::decode;
using test::encode;
using test::hex;

ns::Ref<ns::Data> data(const std::string& s) { return ns::Data::make(s); }

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

TEST(EDAMNoteRecord, GoldenBytesAndSetButNil) {
    EDAMNote note;
    note.setTitle(ns::str("T"));
    note.setCreated(1000);
    EXPECT_EQ(encode(note), bytes("0b 0002 00000001 'T' | 0a 0006 00000000000003e8 | 00"));

    // A notebook guid set to nil is set, but not written; a reader leaves it unset.
    note.setNotebookGuid(nullptr);
    EXPECT_TRUE(note.notebookGuidIsSet());
    EXPECT_FALSE(decode<EDAMNote>(encode(note))->notebookGuidIsSet());

    // Lists of strings (type 11), of resources (type 12, each by its own
    // write) and the nested attributes; the content hash is binary.
    auto resource = ns::make<EDAMResource>();
    resource->setMime(ns::str("image/png"));
    resource->setData(ns::make<EDAMData>(data("\x01\x02"), 3, data("ab")));
    auto attributes = ns::make<EDAMNoteAttributes>();
    attributes->setSourceURL(ns::str("http://x.y/"));
    EDAMNote full;
    full.setContentHash(data(std::string("\0\xff", 2)));
    full.setTagNames(ns::Array::make({ns::str("a"), ns::str("bc")}));
    full.setResources(ns::Array::make({resource}));
    full.setAttributes(attributes);
    EXPECT_EQ(encode(full), bytes("0b 0004 00000002 00ff |"
                                  "0f 000d 0c 00000001  0c 0003 0b 0001 00000002 0102 08 0002 00000003"
                                  "                     0b 0003 00000002 'ab' 00"
                                  "                     0b 0004 00000009 'image/png' 00 |"
                                  "0c 000e 0b 000f 0000000b 'http://x.y/' 00 |"
                                  "0f 000f 0b 00000002 00000001 'a' 00000002 'bc' | 00"));
    auto back = decode<EDAMNote>(encode(full));
    EXPECT_TRUE(back->isEqual(full));
    EXPECT_EQ(present(back->resources())->count(), 1u);
}

TEST(EDAMNoteRecord, SkipsUnknownAndMistypedFields) {
    // NoteAttributes has no ids 2 to 9; id 5 of type 11 is skipped.
    auto attributes = decode<EDAMNoteAttributes>(bytes("0b 0005 00000002 'zz' | 0b 000d 00000002 'me' 00"));
    EXPECT_EQ(present(attributes->author())->utf8(), "me");
    EXPECT_FALSE(attributes->subjectDateIsSet());

    // Field 14 arriving as a string is skipped; an empty resource list is set.
    auto note = decode<EDAMNote>(bytes("0b 000e 00000001 'x' | 0f 000d 0c 00000000 | 08 0005 00000007 00"));
    EXPECT_FALSE(note->attributesIsSet());
    ASSERT_TRUE(note->resourcesIsSet());
    EXPECT_EQ(present(note->resources())->count(), 0u);
    EXPECT_EQ(note->contentLength(), 7);
    // The list header's element type is not compared: a tag list announced
    // as i32 still reads strings.
    auto tags = decode<EDAMNote>(bytes("0f 000c 08 00000001 00000001 'q' 00"));
    EXPECT_EQ(present(tags->tagGuids())->objectAtIndex(0)->description(), "q");
}

TEST(EDAMNoteRecord, Descriptions) {
    EDAMNoteAttributes attributes;
    attributes.setSubjectDate(5);
    attributes.setLatitude(1.5);
    attributes.setLongitude(2);
    attributes.setAltitude(0);
    std::string d = attributes.description();
    EXPECT_EQ(d.rfind("NoteAttributes(subjectDate:5,latitude:1.500000,longitude:2.000000,altitude:0.000000,author:", 0),
              0u);
    EXPECT_TRUE(endsWith(d, ",sourceApplication:\"(null)\")")) << d;

    std::string n = EDAMNote().description();
    EXPECT_EQ(n.rfind("Note(guid:\"(null)\",title:\"(null)\",content:\"(null)\",contentHash:\"(null)\","
                      "contentLength:0,created:0,updated:0,deleted:0,active:0,updateSequenceNum:0,",
                      0),
              0u);
    EXPECT_TRUE(endsWith(n, ",attributes:(null),tagNames:(null))")) << n;
}

TEST(EDAMResourceRecord, NestedDataAndAttributes) {
    auto resource = decode<EDAMResource>(bytes(
        "0c 0003 0b 0003 00000001 'a' 00 |"
        "0c 0009 0b 0003 00000001 'b' 0b 0063 00000001 'x' 00 |"   // Data has no field 99
        "08 000a 00000001 |"                                        // Resource has no field 10
        "0c 000d 08 0002 00000005 00 |"
        "0c 000b 0b 0001 00000004 'http' 00 |"
        "08 0005 00000001 | 06 0006 ffff 00"));
    ASSERT_TRUE(resource->dataIsSet() && resource->recognitionIsSet() && resource->alternateDataIsSet());
    EXPECT_NE(resource->data().get(), resource->recognition().get());
    EXPECT_EQ(present(present(resource->data())->body())->length(), 1u);
    EXPECT_EQ(std::string(present(present(resource->recognition())->body())->view()), "b");
    EXPECT_EQ(present(resource->alternateData())->size(), 5);
    EXPECT_FALSE(present(resource->alternateData())->bodyIsSet());
    EXPECT_EQ(present(present(resource->attributes())->sourceURL())->utf8(), "http");
    // Field 5 came as an i32 and was skipped; field 6 is the i16 -1.
    EXPECT_FALSE(resource->widthIsSet());
    EXPECT_EQ(resource->width(), 0);
    EXPECT_EQ(resource->height(), -1);

    EDAMResource narrow;
    narrow.setWidth(-1);
    EXPECT_EQ(encode(narrow), bytes("06 0005 ffff 00"));
    EXPECT_EQ(decode<EDAMResource>(encode(narrow))->width(), -1);
    EXPECT_NE(narrow.description().find(",width:-1,"), std::string::npos);
}

TEST(EDAMResourceRecord, DataAndTags) {
    EDAMData empty;
    empty.setBody(data(""));
    EXPECT_EQ(encode(empty), bytes("0b 0003 00000000 00"));
    auto back = decode<EDAMData>(encode(empty));
    EXPECT_TRUE(back->bodyIsSet());
    EXPECT_EQ(present(back->body())->length(), 0u);
    empty.setBody(nullptr);
    EXPECT_TRUE(empty.bodyIsSet());
    EXPECT_EQ(hex(encode(empty)), "00");

    // The size is carried as given, never compared with the body.
    EDAMData odd(data("hash"), 99, data("xyz"));
    EXPECT_EQ(encode(odd), bytes("0b 0001 00000004 'hash' 08 0002 00000063 0b 0003 00000003 'xyz' 00"));
    EXPECT_EQ(decode<EDAMData>(encode(odd))->size(), 99);

    EDAMTag tag;
    tag.setGuid(ns::str("g"));
    tag.setUpdateSequenceNum(3);
    EXPECT_EQ(encode(tag), bytes("0b 0001 00000001 'g' 08 0004 00000003 00"));
    EXPECT_FALSE(decode<EDAMTag>(encode(tag))->parentGuidIsSet());
    EXPECT_EQ(tag.description(), "Tag(guid:\"g\",name:\"(null)\",parentGuid:\"(null)\",updateSequenceNum:3)");
}

TEST(EDAMNotebookRecord, FieldsPublishingAndEnumerations) {
    auto notebook = decode<EDAMNotebook>(bytes("0b 0001 00000002 'nb' | 0b 0003 00000001 'x' | 02 0006 01 00"));
    EXPECT_TRUE(notebook->guidIsSet());
    EXPECT_TRUE(notebook->defaultNotebook());
    EXPECT_FALSE(notebook->nameIsSet());
    EXPECT_FALSE(notebook->updateSequenceNumIsSet());
    EXPECT_FALSE(ns::make<EDAMNotebook>()->defaultNotebook());

    EDAMNotebook published;
    published.setPublishing(nullptr);
    EXPECT_TRUE(published.publishingIsSet());
    EXPECT_EQ(hex(encode(published)), "00");
    published.setPublishing(ns::make<EDAMPublishing>(ns::str("u"), -3, true, nullptr));
    EXPECT_EQ(encode(published), bytes("0c 000a 0b 0001 00000001 'u' 08 0002 fffffffd 02 0003 01 00 00"));
    EXPECT_EQ(decode<EDAMNotebook>(encode(published))->publishing()->order(), -3);

    // Enumerations archive with the plain integer operation.
    EDAMPublishing ordered;
    ordered.setOrder(3);
    KeyedArchive archive;
    ordered.encodeWithCoder(archive);
    EXPECT_EQ(must<ns::Number>(present(archive.contents())->numberForKey("order"))->type(), ns::NumberType::Int);
    EDAMPublishing restored(static_cast<const Coder&>(archive));
    EXPECT_TRUE(restored.orderIsSet());
    EXPECT_EQ(restored.order(), 3);
    EDAMPublishing none(static_cast<const Coder&>(KeyedArchive()));
    EXPECT_FALSE(none.orderIsSet());

    auto search = decode<EDAMSavedSearch>(bytes("0a 0004 0000000000000001 | 08 0005 80000000 00"));
    EXPECT_FALSE(search->formatIsSet());
    EXPECT_EQ(search->updateSequenceNum(), INT32_MIN);

    EDAMLinkedNotebook linked;
    linked.setId(42);
    linked.setShareName(ns::str("Recipes"));
    EXPECT_EQ(linked.description().rfind("LinkedNotebook(id:42,shareName:\"Recipes\",username:", 0), 0u);
    EXPECT_EQ(EDAMSharedNotebook(7, -1, ns::str("g"), nullptr, true, false, 9, ns::str("k"), nullptr).description(),
              "SharedNotebook(id:7,userId:-1,notebookGuid:\"g\",email:\"(null)\",notebookModifiable:1,"
              "requireLogin:0,serviceCreated:9,shareKey:\"k\",username:\"(null)\")");
}

TEST(EDAMAdRecord, ShortFieldsImageAndArchive) {
    EDAMAd ad;
    ad.setWidth(300);
    ad.setHeight(250);
    EXPECT_EQ(encode(ad), bytes("06 0002 012c | 06 0003 00fa | 00"));

    auto skipped = decode<EDAMAd>(bytes("08 0007 0000000a | 04 0008 3ff0000000000000 | 0b 0009 00000002 ff00 00"));
    EXPECT_FALSE(skipped->displaySecondsIsSet());
    EXPECT_EQ(skipped->score(), 1.0);
    EXPECT_EQ(present(skipped->image())->length(), 2u);

    EDAMAd noImage;
    noImage.setImage(nullptr);
    EXPECT_TRUE(noImage.imageIsSet());
    EXPECT_EQ(hex(encode(noImage)), "00");

    EDAMAd narrow;
    narrow.setWidth(-1);
    KeyedArchive archive;
    narrow.encodeWithCoder(archive);
    EXPECT_EQ(must<ns::Number>(present(archive.contents())->numberForKey("width"))->type(), ns::NumberType::Int);
    EXPECT_EQ(must<ns::Number>(present(archive.contents())->numberForKey("width"))->intValue(), -1);
    auto wide = ns::MutableDictionary::make();
    wide->setObject(ns::Number::numberWithInt(65537), "width");
    EDAMAd truncated(static_cast<const Coder&>(KeyedArchive(wide)));
    EXPECT_TRUE(truncated.widthIsSet());
    EXPECT_EQ(truncated.width(), 1);

    EXPECT_EQ(EDAMAd().description().rfind("Ad(id:0,width:0,height:0,advertiserName:\"(null)\",", 0), 0u);
}

TEST(EDAMSyncRecord, ListsAndSkipping) {
    EDAMSyncChunk chunk(1, 2, 3, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                        ns::Array::make(), nullptr);
    EXPECT_TRUE(chunk.notesIsSet());
    EXPECT_EQ(encode(chunk), bytes("0a 0001 0000000000000001 08 0002 00000002 08 0003 00000003"
                                   "0f 000b 0b 00000000 00"));
    auto back = decode<EDAMSyncChunk>(encode(chunk));
    EXPECT_FALSE(back->notesIsSet());
    EXPECT_TRUE(back->expungedTagsIsSet());
    EXPECT_EQ(present(back->expungedTags())->count(), 0u);
    EXPECT_FALSE(back->expungedSearchesIsSet());
    EXPECT_FALSE(back->expungedSearches());

    auto state = decode<EDAMSyncState>(bytes("0a 0003 0000000000000005 | 0a 0004 0000000000000006 00"));
    EXPECT_FALSE(state->updateCountIsSet());
    EXPECT_EQ(state->uploaded(), 6);
}

TEST(EDAMQueryRecord, FiltersCountsAndVersions) {
    for (int32_t order : {INT32_MIN, -1, 0, 7, INT32_MAX}) {
        EDAMNoteFilter filter;
        filter.setOrder(order);
        EXPECT_EQ(decode<EDAMNoteFilter>(encode(filter))->order(), order);
    }

    // Two pairs under one key: the later value stays.
    auto counts = decode<EDAMNoteCollectionCounts>(
        bytes("0d 0001 0b 08 00000002 00000001 'a' 00000001 00000001 'a' 00000002 00"));
    EXPECT_EQ(present(counts->notebookCounts())->count(), 1u);
    EXPECT_EQ(must<ns::Number>(present(counts->notebookCounts())->numberForKey("a"))->intValue(), 2);

    // A number beyond the i32 range goes out as its low 32 bits.
    EDAMNoteCollectionCounts big;
    auto map = ns::MutableDictionary::make();
    map->setObject(ns::Number::numberWithLongLong(0x100000005LL), "n");
    big.setNotebookCounts(map);
    EXPECT_EQ(encode(big), bytes("0d 0001 0b 08 00000001 00000001 'n' 00000005 00"));

    EDAMNoteCollectionCounts tags;
    tags.setTagCounts(ns::Dictionary::make());
    EXPECT_EQ(encode(tags), bytes("0d 0002 0b 08 00000000 00"));
    tags.setTagCounts(nullptr);
    EXPECT_EQ(hex(encode(tags)), "00");

    auto version = decode<EDAMNoteVersionId>(bytes("08 0004 00000001 | 08 0001 00000009 00"));
    EXPECT_FALSE(version->titleIsSet());
    EXPECT_EQ(version->updateSequenceNum(), 9);
}

TEST(EDAMAdQueryRecord, StringMapsAndEmailParameters) {
    EDAMAdParameters parameters;
    auto properties = ns::MutableDictionary::make();
    properties->setObject(ns::str("cde"), "ab");
    parameters.setClientProperties(properties);
    EXPECT_EQ(encode(parameters), bytes("0d 0006 0b 0b 00000001 00000002 'ab' 00000003 'cde' 00"));

    auto twice = decode<EDAMAdParameters>(
        bytes("0d 0006 0b 0b 00000002 00000001 'k' 00000001 '1' 00000001 'k' 00000001 '2' 00"));
    EXPECT_EQ(present(twice->clientProperties())->count(), 1u);
    EXPECT_EQ(must<ns::String>(present(twice->clientProperties())->stringForKey("k"))->utf8(), "2");

    auto skipped = decode<EDAMAdParameters>(bytes("0f 0006 0b 00000000 | 0b 0001 00000001 'x' |"
                                                  "08 0003 00000001 | 0b 0002 00000002 'de' 00"));
    EXPECT_FALSE(skipped->clientPropertiesIsSet());
    EXPECT_EQ(present(skipped->clientLanguage())->utf8(), "de");

    EDAMAdParameters withImpressions;
    withImpressions.setImpressions(ns::Array::make({ns::make<EDAMAdImpressions>(7, 2, 30)}));
    withImpressions.setSupportHtml(false);
    EXPECT_EQ(encode(withImpressions), bytes("0f 0004 0c 00000001 08 0001 00000007 08 0002 00000002"
                                             "08 0003 0000001e 00 | 02 0005 00 | 00"));
    EXPECT_EQ(EDAMAdImpressions(7, 2, 30).description(), "AdImpressions(adId:7,impressionCount:2,impressionTime:30)");

    EDAMNoteEmailParameters email;
    email.setToAddresses(ns::Array::make());
    EXPECT_EQ(encode(email), bytes("0f 0003 0b 00000000 00"));
    email.setToAddresses(nullptr);
    email.setNote(ns::make<EDAMNote>());
    EXPECT_EQ(encode(email), bytes("0c 0002 00 00"));
    EXPECT_EQ(email.description().rfind("NoteEmailParameters(guid:\"(null)\",note:Note(guid:", 0), 0u);
}

TEST(EDAMNoteStoreRecords, ArgumentRecords) {
    // Designated initialisers mark every field set; write leaves out nil objects.
    EDAMgetTag_args getTag(ns::str("t"), nullptr);
    EXPECT_TRUE(getTag.guidIsSet());
    EXPECT_EQ(encode(getTag), bytes("0b 0001 00000001 't' 00"));

    EDAMgetNote_args getNote(ns::str("t"), nullptr, false, true, false, false);
    EXPECT_EQ(encode(getNote), bytes("0b 0001 00000001 't' 02 0003 00 02 0004 01 02 0005 00 02 0006 00 00"));

    EDAMgetResourceByHash_args byHash(ns::str("t"), ns::str("n"), nullptr, true, false, true);
    EXPECT_TRUE(byHash.contentHashIsSet());
    EXPECT_EQ(encode(byHash), bytes("0b 0001 00000001 't' 0b 0002 00000001 'n' 02 0004 01 02 0005 00 02 0006 01 00"));

    EDAMexpungeSharedNotebooks_args expunge(nullptr, ns::Array::make({ns::Number::numberWithLongLong(-2)}));
    EXPECT_EQ(encode(expunge), bytes("0f 0002 0a 00000001 fffffffffffffffe 00"));
    auto ids = decode<EDAMexpungeSharedNotebooks_args>(encode(expunge))->sharedNotebookIds();
    EXPECT_EQ(must<ns::Number>(ids->objectAtIndex(0))->longLongValue(), -2);

    EXPECT_EQ(encode(EDAMgetPublicNotebook_args(0, nullptr)), bytes("08 0001 00000000 00"));
    EXPECT_EQ(encode(EDAMauthenticateToSharedNotebook_args(ns::str("k"), ns::str("t"))),
              bytes("0b 0001 00000001 'k' 0b 0002 00000001 't' 00"));
    EXPECT_EQ(EDAMgetSyncChunk_args(nullptr, 1, 2, true).description(),
              "getSyncChunk_args(authenticationToken:\"(null)\",afterUSN:1,maxEntries:2,fullSyncOnly:1)");
    EXPECT_EQ(hex(encode(EDAMlistNotebooks_args())), "00");
}

TEST(EDAMNoteStoreRecords, ResultRecordsWriteTheirFirstSetField) {
    // success set but nil, then an exception: an empty struct.
    EDAMGetNotebook_result notebook;
    notebook.setSuccess(nullptr);
    notebook.setUserException(ns::make<EDAMUserException>(2, ns::str("x")));
    EXPECT_EQ(hex(encode(notebook)), "00");
    EDAMGetNoteContent_result content;
    content.setSuccess(nullptr);
    content.setUserException(ns::make<EDAMUserException>());
    EXPECT_EQ(hex(encode(content)), "00");
    EDAMGetResource_result resource;
    resource.setSuccess(nullptr);
    resource.setNotFoundException(ns::make<EDAMNotFoundException>());
    EXPECT_EQ(hex(encode(resource)), "00");

    // The designated initialiser sets every flag, so only success counts.
    EDAMCreateSharedNotebook_result shared(nullptr, ns::make<EDAMUserException>(), ns::make<EDAMNotFoundException>(),
                                           ns::make<EDAMSystemException>());
    EXPECT_EQ(hex(encode(shared)), "00");
    EDAMEmailNote_result email(nullptr, ns::make<EDAMNotFoundException>(ns::str("Note.guid"), nullptr),
                               ns::make<EDAMSystemException>());
    EXPECT_EQ(hex(encode(email)), "00");
    EDAMEmailNote_result notFound;
    notFound.setNotFoundException(ns::make<EDAMNotFoundException>(ns::str("Note.guid"), nullptr));
    EXPECT_EQ(encode(notFound), bytes("0c 0002 0b 0001 00000009 'Note.guid' 00 00"));

    // Numbers are written whenever set, 0 included, with their own types.
    EXPECT_EQ(encode(EDAMGetAccountSize_result(0, nullptr, nullptr)), bytes("0a 0000 0000000000000000 00"));
    EXPECT_EQ(encode(EDAMExpungeLinkedNotebook_result(0, nullptr, nullptr, nullptr)), bytes("08 0000 00000000 00"));
    EXPECT_EQ(encode(EDAMGetResourceData_result(data("ab"), nullptr, nullptr, nullptr)),
              bytes("0b 0000 00000002 'ab' 00"));
    EXPECT_EQ(encode(EDAMListNotebooks_result(ns::Array::make(), nullptr, nullptr)), bytes("0f 0000 0c 00000000 00"));
    EXPECT_EQ(EDAMUntagAll_result().description(),
              "UntagAll_result(userException:(null),systemException:(null),notFoundException:(null))");

    // Result readers take field 0 only with the return type's wire type and
    // the exceptions that the method declares.
    auto ads = decode<EDAMGetAds_result>(bytes("0c 0000 00 | 0c 0003 00 00"));
    EXPECT_FALSE(ads->successIsSet());
    auto versions = decode<EDAMListNoteVersions_result>(bytes("0f 0000 0c 00000000 00"));
    EXPECT_TRUE(versions->successIsSet());
    EXPECT_EQ(present(versions->success())->count(), 0u);
    auto publicNotebook = decode<EDAMGetPublicNotebook_result>(bytes("0c 0001 08 0001 00000004 00 | 0c 0002 00 00"));
    EXPECT_EQ(present(publicNotebook->systemException())->errorCode(), 4);
    EXPECT_TRUE(publicNotebook->notFoundExceptionIsSet());
}

TEST(EDAMNoteStoreRecords, KeyedArchivesRoundTrip) {
    test::expectArchiveRoundTrip<EDAMNote>(20, 31);
    test::expectArchiveRoundTrip<EDAMResource>(20, 31);
    test::expectArchiveRoundTrip<EDAMNotebook>(20, 31);
    test::expectArchiveRoundTrip<EDAMSharedNotebook>(20, 31);
    test::expectArchiveRoundTrip<EDAMAd>(20, 31);
    test::expectArchiveRoundTrip<EDAMSyncChunk>(10, 31);
    test::expectArchiveRoundTrip<EDAMNoteCollectionCounts>(10, 31);
    test::expectArchiveRoundTrip<EDAMAdParameters>(10, 31);
    test::expectArchiveRoundTrip<EDAMgetNote_args>(10, 31);
    test::expectArchiveRoundTrip<EDAMGetAccountSize_result>(10, 31);
}

}  // namespace
}  // namespace evernote
