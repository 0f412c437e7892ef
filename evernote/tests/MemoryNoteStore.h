// An in-memory note store for the tests: one account with notebooks, tags,
// saved searches, notes with their earlier versions and resources, shared and
// linked notebooks, ads and mailed notes. It checks the token, finds things by
// guid, keeps update sequence numbers and raises the service exceptions a
// real service raises for the same mistakes.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "evernote/notestore/EDAMNoteStore.h"

namespace evernote::test {

class MemoryNoteStore : public EDAMNoteStore {
public:
    static constexpr const char* kToken = "S=s1:U=1:carla";

    MemoryNoteStore();

    // What the tests look at directly.
    std::vector<ns::Ref<EDAMNotebook>> notebooks;
    std::vector<ns::Ref<EDAMTag>> tags;
    std::vector<ns::Ref<EDAMSavedSearch>> searches;
    std::vector<ns::Ref<EDAMNote>> notes;
    std::map<std::string, std::vector<ns::Ref<EDAMNote>>> versions;  // earlier versions by note guid
    std::vector<ns::Ref<EDAMSharedNotebook>> sharedNotebooks;
    std::vector<ns::Ref<EDAMLinkedNotebook>> linkedNotebooks;
    std::vector<ns::Ref<EDAMNoteEmailParameters>> mailed;
    std::vector<std::string> expungedGuids;
    int32_t updateCount = 0;
    std::vector<std::string> calls;  // method names in order of arrival

    ns::Ref<EDAMSyncState> getSyncState(const ns::Ref<ns::String>& authenticationToken) override;
    ns::Ref<EDAMSyncChunk> getSyncChunk(const ns::Ref<ns::String>& authenticationToken, int32_t afterUSN,
                                        int32_t maxEntries, bool fullSyncOnly) override;
    ns::Ref<ns::Array> listNotebooks(const ns::Ref<ns::String>& authenticationToken) override;
    ns::Ref<EDAMNotebook> getNotebook(const ns::Ref<ns::String>& authenticationToken,
                                      const ns::Ref<ns::String>& guid) override;
    ns::Ref<EDAMNotebook> getDefaultNotebook(const ns::Ref<ns::String>& authenticationToken) override;
    ns::Ref<EDAMNotebook> createNotebook(const ns::Ref<ns::String>& authenticationToken,
                                         const ns::Ref<EDAMNotebook>& notebook) override;
    int32_t updateNotebook(const ns::Ref<ns::String>& authenticationToken,
                           const ns::Ref<EDAMNotebook>& notebook) override;
    int32_t expungeNotebook(const ns::Ref<ns::String>& authenticationToken, const ns::Ref<ns::String>& guid) override;
    ns::Ref<ns::Array> listTags(const ns::Ref<ns::String>& authenticationToken) override;
    ns::Ref<ns::Array> listTagsByNotebook(const ns::Ref<ns::String>& authenticationToken,
                                          const ns::Ref<ns::String>& notebookGuid) override;
    ns::Ref<EDAMTag> getTag(const ns::Ref<ns::String>& authenticationToken, const ns::Ref<ns::String>& guid) override;
    ns::Ref<EDAMTag> createTag(const ns::Ref<ns::String>& authenticationToken, const ns::Ref<EDAMTag>& tag) override;
    int32_t updateTag(const ns::Ref<ns::String>& authenticationToken, const ns::Ref<EDAMTag>& tag) override;
    void untagAll(const ns::Ref<ns::String>& authenticationToken, const ns::Ref<ns::String>& guid) override;
    int32_t expungeTag(const ns::Ref<ns::String>& authenticationToken, const ns::Ref<ns::String>& guid) override;
    ns::Ref<ns::Array> listSearches(const ns::Ref<ns::String>& authenticationToken) override;
    ns::Ref<EDAMSavedSearch> getSearch(const ns::Ref<ns::String>& authenticationToken,
                                       const ns::Ref<ns::String>& guid) override;
    ns::Ref<EDAMSavedSearch> createSearch(const ns::Ref<ns::String>& authenticationToken,
                                          const ns::Ref<EDAMSavedSearch>& search) override;
    int32_t updateSearch(const ns::Ref<ns::String>& authenticationToken,
                         const ns::Ref<EDAMSavedSearch>& search) override;
    int32_t expungeSearch(const ns::Ref<ns::String>& authenticationToken, const ns::Ref<ns::String>& guid) override;
    ns::Ref<EDAMNoteList> findNotes(const ns::Ref<ns::String>& authenticationToken,
                                    const ns::Ref<EDAMNoteFilter>& filter, int32_t offset, int32_t maxNotes) override;
    ns::Ref<EDAMNoteCollectionCounts> findNoteCounts(const ns::Ref<ns::String>& authenticationToken,
                                                     const ns::Ref<EDAMNoteFilter>& filter, bool withTrash) override;
    ns::Ref<EDAMNote> getNote(const ns::Ref<ns::String>& authenticationToken, const ns::Ref<ns::String>& guid,
                              bool withContent, bool withResourcesData, bool withResourcesRecognition,
                              bool withResourcesAlternateData) override;
    ns::Ref<ns::String> getNoteContent(const ns::Ref<ns::String>& authenticationToken,
                                       const ns::Ref<ns::String>& guid) override;
    ns::Ref<ns::String> getNoteSearchText(const ns::Ref<ns::String>& authenticationToken,
                                          const ns::Ref<ns::String>& guid) override;
    ns::Ref<ns::Array> getNoteTagNames(const ns::Ref<ns::String>& authenticationToken,
                                       const ns::Ref<ns::String>& guid) override;
    ns::Ref<EDAMNote> createNote(const ns::Ref<ns::String>& authenticationToken, const ns::Ref<EDAMNote>& note) override;
    ns::Ref<EDAMNote> updateNote(const ns::Ref<ns::String>& authenticationToken, const ns::Ref<EDAMNote>& note) override;
    int32_t deleteNote(const ns::Ref<ns::String>& authenticationToken, const ns::Ref<ns::String>& guid) override;
    int32_t expungeNote(const ns::Ref<ns::String>& authenticationToken, const ns::Ref<ns::String>& guid) override;
    int32_t expungeNotes(const ns::Ref<ns::String>& authenticationToken, const ns::Ref<ns::Array>& noteGuids) override;
    int32_t expungeInactiveNotes(const ns::Ref<ns::String>& authenticationToken) override;
    ns::Ref<EDAMNote> copyNote(const ns::Ref<ns::String>& authenticationToken, const ns::Ref<ns::String>& noteGuid,
                               const ns::Ref<ns::String>& toNotebookGuid) override;
    ns::Ref<ns::Array> listNoteVersions(const ns::Ref<ns::String>& authenticationToken,
                                        const ns::Ref<ns::String>& noteGuid) override;
    ns::Ref<EDAMNote> getNoteVersion(const ns::Ref<ns::String>& authenticationToken,
                                     const ns::Ref<ns::String>& noteGuid, int32_t updateSequenceNum,
                                     bool withResourcesData, bool withResourcesRecognition,
                                     bool withResourcesAlternateData) override;
    ns::Ref<EDAMResource> getResource(const ns::Ref<ns::String>& authenticationToken, const ns::Ref<ns::String>& guid,
                                      bool withData, bool withRecognition, bool withAttributes,
                                      bool withAlternateData) override;
    int32_t updateResource(const ns::Ref<ns::String>& authenticationToken,
                           const ns::Ref<EDAMResource>& resource) override;
    ns::Ref<ns::Data> getResourceData(const ns::Ref<ns::String>& authenticationToken,
                                      const ns::Ref<ns::String>& guid) override;
    ns::Ref<EDAMResource> getResourceByHash(const ns::Ref<ns::String>& authenticationToken,
                                            const ns::Ref<ns::String>& noteGuid, const ns::Ref<ns::Data>& contentHash,
                                            bool withData, bool withRecognition, bool withAlternateData) override;
    ns::Ref<ns::Data> getResourceRecognition(const ns::Ref<ns::String>& authenticationToken,
                                             const ns::Ref<ns::String>& guid) override;
    ns::Ref<ns::Data> getResourceAlternateData(const ns::Ref<ns::String>& authenticationToken,
                                               const ns::Ref<ns::String>& guid) override;
    ns::Ref<EDAMResourceAttributes> getResourceAttributes(const ns::Ref<ns::String>& authenticationToken,
                                                          const ns::Ref<ns::String>& guid) override;
    int64_t getAccountSize(const ns::Ref<ns::String>& authenticationToken) override;
    ns::Ref<ns::Array> getAds(const ns::Ref<ns::String>& authenticationToken,
                              const ns::Ref<EDAMAdParameters>& adParameters) override;
    ns::Ref<EDAMAd> getRandomAd(const ns::Ref<ns::String>& authenticationToken,
                                const ns::Ref<EDAMAdParameters>& adParameters) override;
    ns::Ref<EDAMNotebook> getPublicNotebook(int32_t userId, const ns::Ref<ns::String>& publicUri) override;
    ns::Ref<EDAMSharedNotebook> createSharedNotebook(const ns::Ref<ns::String>& authenticationToken,
                                                     const ns::Ref<EDAMSharedNotebook>& sharedNotebook) override;
    ns::Ref<ns::Array> listSharedNotebooks(const ns::Ref<ns::String>& authenticationToken) override;
    int32_t expungeSharedNotebooks(const ns::Ref<ns::String>& authenticationToken,
                                   const ns::Ref<ns::Array>& sharedNotebookIds) override;
    ns::Ref<EDAMLinkedNotebook> createLinkedNotebook(const ns::Ref<ns::String>& authenticationToken,
                                                     const ns::Ref<EDAMLinkedNotebook>& linkedNotebook) override;
    ns::Ref<EDAMLinkedNotebook> updateLinkedNotebook(const ns::Ref<ns::String>& authenticationToken,
                                                     const ns::Ref<EDAMLinkedNotebook>& linkedNotebook) override;
    ns::Ref<ns::Array> listLinkedNotebooks(const ns::Ref<ns::String>& authenticationToken) override;
    int32_t expungeLinkedNotebook(const ns::Ref<ns::String>& authenticationToken, int64_t linkedNotebookId) override;
    ns::Ref<EDAMAuthenticationResult> authenticateToSharedNotebook(
        const ns::Ref<ns::String>& shareKey, const ns::Ref<ns::String>& authenticationToken) override;
    ns::Ref<EDAMSharedNotebook> getSharedNotebookByAuth(const ns::Ref<ns::String>& authenticationToken) override;
    void emailNote(const ns::Ref<ns::String>& authenticationToken,
                   const ns::Ref<EDAMNoteEmailParameters>& parameters) override;

private:
    void check(const char* method, const ns::Ref<ns::String>& token);
    std::string newGuid(const char* prefix);
    int32_t nextUSN() { return ++updateCount; }
    ns::Ref<EDAMNotebook> notebookNamed(const ns::Ref<ns::String>& guid);
    ns::Ref<EDAMTag> tagNamed(const ns::Ref<ns::String>& guid);
    ns::Ref<EDAMSavedSearch> searchNamed(const ns::Ref<ns::String>& guid);
    ns::Ref<EDAMNote> noteNamed(const ns::Ref<ns::String>& guid, const char* identifier = "Note.guid");
    ns::Ref<EDAMResource> resourceNamed(const ns::Ref<ns::String>& guid);
    void storeResources(EDAMNote& note);
    ns::Ref<EDAMNote> trimmed(const EDAMNote& note, bool withContent, bool withData, bool withRecognition,
                              bool withAlternateData) const;

    int nextGuid_ = 0;
};

}  // namespace evernote::test
