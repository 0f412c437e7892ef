// Feeds arbitrary bytes to the Evernote clients as the reply to a call (the
// first byte picks the user-store or note-store method), and to that
// method's result record reader. Any failure must be an exception; a record
// that decodes must encode to bytes that decode and encode to the same bytes
// again.
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <string>

#include <thrift/transport/TBufferTransports.h>

#include "evernote/notestore/EDAMNoteStore.h"
#include "evernote/notestore/EDAMNoteStoreClient.h"
#include "evernote/types/BinaryProtocol.h"
#include "evernote/userstore/EDAMUserStore.h"
#include "evernote/userstore/EDAMUserStoreClient.h"

using namespace evernote;
using apache::thrift::transport::TMemoryBuffer;

namespace {

std::shared_ptr<BinaryProtocol> reading(const uint8_t* data, size_t size) {
    auto buffer = std::make_shared<TMemoryBuffer>();
    buffer->write(data, static_cast<uint32_t>(size));
    return std::make_shared<BinaryProtocol>(buffer);
}

std::string encode(const Record& r) {
    auto buffer = std::make_shared<TMemoryBuffer>();
    BinaryProtocol p(buffer);
    r.write(p);
    return buffer->getBufferAsString();
}

template <class Result>
void checkResult(const uint8_t* data, size_t size) {
    auto result = ns::make<Result>();
    try {
        result->read(*reading(data, size));
    } catch (const std::exception&) {
        return;
    }
    std::string once = encode(*result);
    auto again = ns::make<Result>();
    again->read(*reading(reinterpret_cast<const uint8_t*>(once.data()), once.size()));
    if (encode(*again) != once) std::abort();
}

struct UserStoreCase {
    void (*receive)(EDAMUserStoreClient&);
    void (*check)(const uint8_t*, size_t);
};

struct NoteStoreCase {
    void (*receive)(EDAMNoteStoreClient&);
    void (*check)(const uint8_t*, size_t);
};

#define CASE(method, Result) {[](auto& c) { c.recv_##method(); }, &checkResult<Result>}

const UserStoreCase userStoreCases[] = {
    CASE(checkVersion, EDAMCheckVersion_result),
    CASE(authenticate, EDAMAuthenticate_result),
    CASE(refreshAuthentication, EDAMRefreshAuthentication_result),
    CASE(getUser, EDAMGetUser_result),
    CASE(getPublicUserInfo, EDAMGetPublicUserInfo_result),
};

const NoteStoreCase noteStoreCases[] = {
    CASE(getSyncState, EDAMGetSyncState_result),
    CASE(getSyncChunk, EDAMGetSyncChunk_result),
    CASE(listNotebooks, EDAMListNotebooks_result),
    CASE(getNotebook, EDAMGetNotebook_result),
    CASE(getDefaultNotebook, EDAMGetDefaultNotebook_result),
    CASE(createNotebook, EDAMCreateNotebook_result),
    CASE(updateNotebook, EDAMUpdateNotebook_result),
    CASE(expungeNotebook, EDAMExpungeNotebook_result),
    CASE(listTags, EDAMListTags_result),
    CASE(listTagsByNotebook, EDAMListTagsByNotebook_result),
    CASE(getTag, EDAMGetTag_result),
    CASE(createTag, EDAMCreateTag_result),
    CASE(updateTag, EDAMUpdateTag_result),
    CASE(untagAll, EDAMUntagAll_result),
    CASE(expungeTag, EDAMExpungeTag_result),
    CASE(listSearches, EDAMListSearches_result),
    CASE(getSearch, EDAMGetSearch_result),
    CASE(createSearch, EDAMCreateSearch_result),
    CASE(updateSearch, EDAMUpdateSearch_result),
    CASE(expungeSearch, EDAMExpungeSearch_result),
    CASE(findNotes, EDAMFindNotes_result),
    CASE(findNoteCounts, EDAMFindNoteCounts_result),
    CASE(getNote, EDAMGetNote_result),
    CASE(getNoteContent, EDAMGetNoteContent_result),
    CASE(getNoteSearchText, EDAMGetNoteSearchText_result),
    CASE(getNoteTagNames, EDAMGetNoteTagNames_result),
    CASE(createNote, EDAMCreateNote_result),
    CASE(updateNote, EDAMUpdateNote_result),
    CASE(deleteNote, EDAMDeleteNote_result),
    CASE(expungeNote, EDAMExpungeNote_result),
    CASE(expungeNotes, EDAMExpungeNotes_result),
    CASE(expungeInactiveNotes, EDAMExpungeInactiveNotes_result),
    CASE(copyNote, EDAMCopyNote_result),
    CASE(listNoteVersions, EDAMListNoteVersions_result),
    CASE(getNoteVersion, EDAMGetNoteVersion_result),
    CASE(getResource, EDAMGetResource_result),
    CASE(updateResource, EDAMUpdateResource_result),
    CASE(getResourceData, EDAMGetResourceData_result),
    CASE(getResourceByHash, EDAMGetResourceByHash_result),
    CASE(getResourceRecognition, EDAMGetResourceRecognition_result),
    CASE(getResourceAlternateData, EDAMGetResourceAlternateData_result),
    CASE(getResourceAttributes, EDAMGetResourceAttributes_result),
    CASE(getAccountSize, EDAMGetAccountSize_result),
    CASE(getAds, EDAMGetAds_result),
    CASE(getRandomAd, EDAMGetRandomAd_result),
    CASE(getPublicNotebook, EDAMGetPublicNotebook_result),
    CASE(createSharedNotebook, EDAMCreateSharedNotebook_result),
    CASE(listSharedNotebooks, EDAMListSharedNotebooks_result),
    CASE(expungeSharedNotebooks, EDAMExpungeSharedNotebooks_result),
    CASE(createLinkedNotebook, EDAMCreateLinkedNotebook_result),
    CASE(updateLinkedNotebook, EDAMUpdateLinkedNotebook_result),
    CASE(listLinkedNotebooks, EDAMListLinkedNotebooks_result),
    CASE(expungeLinkedNotebook, EDAMExpungeLinkedNotebook_result),
    CASE(authenticateToSharedNotebook, EDAMAuthenticateToSharedNotebook_result),
    CASE(getSharedNotebookByAuth, EDAMGetSharedNotebookByAuth_result),
    CASE(emailNote, EDAMEmailNote_result),
};

#undef CASE

constexpr size_t kUserStoreCases = std::size(userStoreCases);
constexpr size_t kCases = kUserStoreCases + std::size(noteStoreCases);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    size_t pick = data[0] % kCases;
    ++data;
    --size;
    if (pick < kUserStoreCases) {
        auto client = ns::make<EDAMUserStoreClient>(reading(data, size));
        try {
            userStoreCases[pick].receive(*client);
        } catch (const std::exception&) {
        }
        userStoreCases[pick].check(data, size);
        return 0;
    }
    const NoteStoreCase& c = noteStoreCases[pick - kUserStoreCases];
    auto client = ns::make<EDAMNoteStoreClient>(reading(data, size));
    try {
        c.receive(*client);
    } catch (const std::exception&) {
    }
    c.check(data, size);
    return 0;
}
