#include "evernote/tests/MemoryNoteStore.h"

#include <algorithm>

#include "evernote/notestore/EDAMNoteStoreTypes.h"
#include "evernote/tests/TestSupport.h"
#include "evernote/types/EDAMExceptions.h"
#include "evernote/types/EDAMTypes.h"
#include "platform/foundation/Foundation.h"

namespace evernote::test {

namespace {

constexpr int64_t kNow = 1300000000000LL;

// Error codes of the user exception.
enum : int32_t { BAD_DATA_FORMAT = 2, PERMISSION_DENIED = 3, INTERNAL_ERROR = 4, DATA_REQUIRED = 5,
                 INVALID_AUTH = 8, AUTH_EXPIRED = 9, DATA_CONFLICT = 10 };

template <class T>
ns::Ref<T> copyOf(const T& record) {
    return decode<T>(encode(record));
}

std::string text(const ns::Ref<ns::String>& s) { return s ? std::string(s->utf8()) : std::string(); }

bool same(const ns::Ref<ns::String>& a, const ns::Ref<ns::String>& b) { return a && b && a->utf8() == b->utf8(); }

[[noreturn]] void missing(const char* parameter) { throw EDAMUserException(DATA_REQUIRED, ns::str(parameter)); }

[[noreturn]] void notFound(const char* identifier, const ns::Ref<ns::String>& key) {
    throw EDAMNotFoundException(ns::str(identifier), key);
}

template <class T>
ns::Ref<ns::Array> arrayOf(const std::vector<ns::Ref<T>>& items) {
    auto a = ns::MutableArray::make();
    for (const auto& i : items) a->addObject(copyOf(*i));
    return a;
}

bool containsString(const ns::Ref<ns::Array>& list, const std::string& s) {
    if (!list) return false;
    for (ns::Object* o : *list)
        if (auto* str = dynamic_cast<ns::String*>(o); str && str->utf8() == s) return true;
    return false;
}

void dropBody(ns::Ref<EDAMData> data) {
    if (data) data->unsetBody();
}

ns::Ref<EDAMResource> resourceCopy(const EDAMResource& r, bool withData, bool withRecognition, bool withAttributes,
                                   bool withAlternateData) {
    auto copy = copyOf(r);
    if (!withData) dropBody(copy->data());
    if (!withRecognition) dropBody(copy->recognition());
    if (!withAlternateData) dropBody(copy->alternateData());
    if (!withAttributes) copy->unsetAttributes();
    return copy;
}

}  // namespace

MemoryNoteStore::MemoryNoteStore() {
    // The default notebook is not the first one, as with a real account.
    auto recipes = ns::make<EDAMNotebook>();
    recipes->setGuid(ns::str(newGuid("nb")));
    recipes->setName(ns::str("Recipes"));
    recipes->setDefaultNotebook(false);
    recipes->setUpdateSequenceNum(nextUSN());
    notebooks.push_back(recipes);
    auto inbox = ns::make<EDAMNotebook>();
    inbox->setGuid(ns::str(newGuid("nb")));
    inbox->setName(ns::str("Inbox"));
    inbox->setDefaultNotebook(true);
    inbox->setUpdateSequenceNum(nextUSN());
    notebooks.push_back(inbox);
}

void MemoryNoteStore::check(const char* method, const ns::Ref<ns::String>& token) {
    calls.emplace_back(method);
    if (!token) missing("authenticationToken");
    if (token->utf8() == "maintenance") throw EDAMSystemException(INTERNAL_ERROR, ns::str("down for maintenance"));
    if (token->utf8() != kToken) throw EDAMUserException(AUTH_EXPIRED, ns::str("authenticationToken"));
}

std::string MemoryNoteStore::newGuid(const char* prefix) {
    return std::string(prefix) + "-" + std::to_string(++nextGuid_);
}

ns::Ref<EDAMNotebook> MemoryNoteStore::notebookNamed(const ns::Ref<ns::String>& guid) {
    for (auto& n : notebooks)
        if (same(n->guid(), guid)) return n;
    notFound("Notebook.guid", guid);
}

ns::Ref<EDAMTag> MemoryNoteStore::tagNamed(const ns::Ref<ns::String>& guid) {
    for (auto& t : tags)
        if (same(t->guid(), guid)) return t;
    notFound("Tag.guid", guid);
}

ns::Ref<EDAMSavedSearch> MemoryNoteStore::searchNamed(const ns::Ref<ns::String>& guid) {
    for (auto& s : searches)
        if (same(s->guid(), guid)) return s;
    notFound("SavedSearch.guid", guid);
}

ns::Ref<EDAMNote> MemoryNoteStore::noteNamed(const ns::Ref<ns::String>& guid, const char* identifier) {
    for (auto& n : notes)
        if (same(n->guid(), guid)) return n;
    notFound(identifier, guid);
}

ns::Ref<EDAMResource> MemoryNoteStore::resourceNamed(const ns::Ref<ns::String>& guid) {
    for (auto& n : notes) {
        if (!n->resources()) continue;
        for (ns::Object* o : *n->resources()) {
            auto* r = dynamic_cast<EDAMResource*>(o);
            if (r && same(r->guid(), guid)) return ns::Ref<EDAMResource>(r);
        }
    }
    notFound("Resource.guid", guid);
}

void MemoryNoteStore::storeResources(EDAMNote& note) {
    if (!note.resources()) return;
    for (ns::Object* o : *note.resources()) {
        auto* r = dynamic_cast<EDAMResource*>(o);
        if (!r->guidIsSet() || !r->guid()) r->setGuid(ns::str(newGuid("res")));
        r->setNoteGuid(note.guid());
        r->setUpdateSequenceNum(note.updateSequenceNum());
        r->setActive(true);
    }
}

ns::Ref<EDAMNote> MemoryNoteStore::trimmed(const EDAMNote& note, bool withContent, bool withData,
                                           bool withRecognition, bool withAlternateData) const {
    auto copy = copyOf(note);
    if (!withContent) copy->unsetContent();
    if (copy->resources()) {
        for (ns::Object* o : *copy->resources()) {
            auto* r = dynamic_cast<EDAMResource*>(o);
            if (!withData) dropBody(r->data());
            if (!withRecognition) dropBody(r->recognition());
            if (!withAlternateData) dropBody(r->alternateData());
        }
    }
    return copy;
}

// ---- Sync state, notebooks and tags -------------------------------------------

ns::Ref<EDAMSyncState> MemoryNoteStore::getSyncState(const ns::Ref<ns::String>& token) {
    check("getSyncState", token);
    return ns::make<EDAMSyncState>(kNow, 0, updateCount, getAccountSize(token));
}

ns::Ref<EDAMSyncChunk> MemoryNoteStore::getSyncChunk(const ns::Ref<ns::String>& token, int32_t afterUSN,
                                                     int32_t maxEntries, bool fullSyncOnly) {
    check("getSyncChunk", token);
    if (maxEntries < 1) throw EDAMUserException(BAD_DATA_FORMAT, ns::str("maxEntries"));
    struct Item {
        int32_t usn;
        ns::Ref<Record> record;
    };
    std::vector<Item> items;
    for (auto& n : notebooks)
        if (n->updateSequenceNum() > afterUSN) items.push_back({n->updateSequenceNum(), copyOf(*n)});
    for (auto& t : tags)
        if (t->updateSequenceNum() > afterUSN) items.push_back({t->updateSequenceNum(), copyOf(*t)});
    for (auto& s : searches)
        if (s->updateSequenceNum() > afterUSN) items.push_back({s->updateSequenceNum(), copyOf(*s)});
    for (auto& n : notes)
        if (n->updateSequenceNum() > afterUSN) items.push_back({n->updateSequenceNum(), trimmed(*n, false, false, false, false)});
    std::stable_sort(items.begin(), items.end(), [](const Item& a, const Item& b) { return a.usn < b.usn; });
    if (items.size() > static_cast<size_t>(maxEntries)) items.resize(maxEntries);

    auto chunk = ns::make<EDAMSyncChunk>();
    chunk->setCurrentTime(kNow);
    chunk->setUpdateCount(updateCount);
    chunk->setChunkHighUSN(items.empty() ? updateCount : items.back().usn);
    auto addTo = [](ns::Ref<ns::Array> list, ns::Ref<Record> r) {
        auto m = ns::MutableArray::make();
        if (list)
            for (ns::Object* o : *list) m->addObject(ns::Ref<ns::Object>(o));
        m->addObject(std::move(r));
        return ns::Ref<ns::Array>(m);
    };
    for (auto& item : items) {
        std::string cls = item.record->className();
        if (cls == "EDAMNotebook") chunk->setNotebooks(addTo(chunk->notebooks(), item.record));
        else if (cls == "EDAMTag") chunk->setTags(addTo(chunk->tags(), item.record));
        else if (cls == "EDAMSavedSearch") chunk->setSearches(addTo(chunk->searches(), item.record));
        else chunk->setNotes(addTo(chunk->notes(), item.record));
    }
    if (!fullSyncOnly && !expungedGuids.empty()) {
        auto expunged = ns::MutableArray::make();
        for (auto& g : expungedGuids) expunged->addObject(ns::str(g));
        chunk->setExpungedNotes(expunged);
    }
    return chunk;
}

ns::Ref<ns::Array> MemoryNoteStore::listNotebooks(const ns::Ref<ns::String>& token) {
    check("listNotebooks", token);
    return arrayOf(notebooks);
}

ns::Ref<EDAMNotebook> MemoryNoteStore::getNotebook(const ns::Ref<ns::String>& token, const ns::Ref<ns::String>& guid) {
    check("getNotebook", token);
    return copyOf(*notebookNamed(guid));
}

ns::Ref<EDAMNotebook> MemoryNoteStore::getDefaultNotebook(const ns::Ref<ns::String>& token) {
    check("getDefaultNotebook", token);
    for (auto& n : notebooks)
        if (n->defaultNotebook()) return copyOf(*n);
    return nullptr;
}

ns::Ref<EDAMNotebook> MemoryNoteStore::createNotebook(const ns::Ref<ns::String>& token,
                                                      const ns::Ref<EDAMNotebook>& notebook) {
    check("createNotebook", token);
    if (!notebook) missing("Notebook");
    if (!notebook->name()) missing("Notebook.name");
    for (auto& n : notebooks)
        if (same(n->name(), notebook->name())) throw EDAMUserException(DATA_CONFLICT, ns::str("Notebook.name"));
    auto stored = copyOf(*notebook);
    stored->setGuid(ns::str(newGuid("nb")));
    stored->setUpdateSequenceNum(nextUSN());
    stored->setServiceCreated(kNow + updateCount);
    stored->setServiceUpdated(kNow + updateCount);
    if (stored->defaultNotebook())
        for (auto& n : notebooks) n->setDefaultNotebook(false);
    notebooks.push_back(stored);
    return copyOf(*stored);
}

int32_t MemoryNoteStore::updateNotebook(const ns::Ref<ns::String>& token, const ns::Ref<EDAMNotebook>& notebook) {
    check("updateNotebook", token);
    if (!notebook) missing("Notebook");
    auto stored = notebookNamed(notebook->guid());
    if (notebook->nameIsSet() && notebook->name()) stored->setName(notebook->name());
    if (notebook->stackIsSet()) stored->setStack(notebook->stack());
    if (notebook->publishingIsSet()) stored->setPublishing(notebook->publishing());
    if (notebook->publishedIsSet()) stored->setPublished(notebook->published());
    if (notebook->defaultNotebookIsSet() && notebook->defaultNotebook()) {
        for (auto& n : notebooks) n->setDefaultNotebook(false);
        stored->setDefaultNotebook(true);
    }
    stored->setUpdateSequenceNum(nextUSN());
    stored->setServiceUpdated(kNow + updateCount);
    return updateCount;
}

int32_t MemoryNoteStore::expungeNotebook(const ns::Ref<ns::String>& token, const ns::Ref<ns::String>& guid) {
    check("expungeNotebook", token);
    auto stored = notebookNamed(guid);
    if (stored->defaultNotebook()) throw EDAMUserException(PERMISSION_DENIED, ns::str("Notebook.guid"));
    notes.erase(std::remove_if(notes.begin(), notes.end(),
                               [&](const ns::Ref<EDAMNote>& n) {
                                   if (!same(n->notebookGuid(), guid)) return false;
                                   expungedGuids.push_back(text(n->guid()));
                                   return true;
                               }),
                notes.end());
    notebooks.erase(std::find(notebooks.begin(), notebooks.end(), stored));
    return nextUSN();
}

ns::Ref<ns::Array> MemoryNoteStore::listTags(const ns::Ref<ns::String>& token) {
    check("listTags", token);
    return arrayOf(tags);
}

ns::Ref<ns::Array> MemoryNoteStore::listTagsByNotebook(const ns::Ref<ns::String>& token,
                                                       const ns::Ref<ns::String>& notebookGuid) {
    check("listTagsByNotebook", token);
    notebookNamed(notebookGuid);
    std::vector<ns::Ref<EDAMTag>> used;
    for (auto& t : tags)
        for (auto& n : notes)
            if (same(n->notebookGuid(), notebookGuid) && containsString(n->tagGuids(), text(t->guid()))) {
                used.push_back(t);
                break;
            }
    return arrayOf(used);
}

ns::Ref<EDAMTag> MemoryNoteStore::getTag(const ns::Ref<ns::String>& token, const ns::Ref<ns::String>& guid) {
    check("getTag", token);
    return copyOf(*tagNamed(guid));
}

ns::Ref<EDAMTag> MemoryNoteStore::createTag(const ns::Ref<ns::String>& token, const ns::Ref<EDAMTag>& tag) {
    check("createTag", token);
    if (!tag) missing("Tag");
    if (!tag->name()) missing("Tag.name");
    for (auto& t : tags)
        if (same(t->name(), tag->name())) throw EDAMUserException(DATA_CONFLICT, ns::str("Tag.name"));
    if (tag->parentGuid()) {
        bool found = false;
        for (auto& t : tags) found = found || same(t->guid(), tag->parentGuid());
        if (!found) notFound("Tag.parentGuid", tag->parentGuid());
    }
    auto stored = copyOf(*tag);
    stored->setGuid(ns::str(newGuid("tag")));
    stored->setUpdateSequenceNum(nextUSN());
    tags.push_back(stored);
    return copyOf(*stored);
}

int32_t MemoryNoteStore::updateTag(const ns::Ref<ns::String>& token, const ns::Ref<EDAMTag>& tag) {
    check("updateTag", token);
    if (!tag) missing("Tag");
    auto stored = tagNamed(tag->guid());
    if (tag->name()) stored->setName(tag->name());
    if (tag->parentGuidIsSet()) stored->setParentGuid(tag->parentGuid());
    stored->setUpdateSequenceNum(nextUSN());
    return updateCount;
}

void MemoryNoteStore::untagAll(const ns::Ref<ns::String>& token, const ns::Ref<ns::String>& guid) {
    check("untagAll", token);
    tagNamed(guid);
    for (auto& n : notes) {
        if (!containsString(n->tagGuids(), text(guid))) continue;
        auto kept = ns::MutableArray::make();
        for (ns::Object* o : *n->tagGuids())
            if (o->description() != text(guid)) kept->addObject(ns::Ref<ns::Object>(o));
        n->setTagGuids(kept);
        n->setUpdateSequenceNum(nextUSN());
    }
}

int32_t MemoryNoteStore::expungeTag(const ns::Ref<ns::String>& token, const ns::Ref<ns::String>& guid) {
    check("expungeTag", token);
    auto stored = tagNamed(guid);
    untagAll(token, guid);
    calls.pop_back();
    tags.erase(std::find(tags.begin(), tags.end(), stored));
    return nextUSN();
}

// ---- Saved searches and notes ---------------------------------------------------

ns::Ref<ns::Array> MemoryNoteStore::listSearches(const ns::Ref<ns::String>& token) {
    check("listSearches", token);
    return arrayOf(searches);
}

ns::Ref<EDAMSavedSearch> MemoryNoteStore::getSearch(const ns::Ref<ns::String>& token, const ns::Ref<ns::String>& guid) {
    check("getSearch", token);
    return copyOf(*searchNamed(guid));
}

ns::Ref<EDAMSavedSearch> MemoryNoteStore::createSearch(const ns::Ref<ns::String>& token,
                                                       const ns::Ref<EDAMSavedSearch>& search) {
    check("createSearch", token);
    if (!search) missing("SavedSearch");
    if (!search->query()) missing("SavedSearch.query");
    auto stored = copyOf(*search);
    stored->setGuid(ns::str(newGuid("search")));
    stored->setUpdateSequenceNum(nextUSN());
    searches.push_back(stored);
    return copyOf(*stored);
}

int32_t MemoryNoteStore::updateSearch(const ns::Ref<ns::String>& token, const ns::Ref<EDAMSavedSearch>& search) {
    check("updateSearch", token);
    if (!search) missing("SavedSearch");
    auto stored = searchNamed(search->guid());
    if (search->name()) stored->setName(search->name());
    if (search->query()) stored->setQuery(search->query());
    if (search->formatIsSet()) stored->setFormat(search->format());
    stored->setUpdateSequenceNum(nextUSN());
    return updateCount;
}

int32_t MemoryNoteStore::expungeSearch(const ns::Ref<ns::String>& token, const ns::Ref<ns::String>& guid) {
    check("expungeSearch", token);
    searches.erase(std::find(searches.begin(), searches.end(), searchNamed(guid)));
    return nextUSN();
}

namespace {

bool matches(const EDAMNote& note, const EDAMNoteFilter* filter) {
    bool wantInactive = filter && filter->inactive();
    if (note.active() == wantInactive) return false;
    if (!filter) return true;
    if (filter->notebookGuid() && !same(note.notebookGuid(), filter->notebookGuid())) return false;
    if (filter->words()) {
        std::string w(filter->words()->utf8());
        if (text(note.title()).find(w) == std::string::npos && text(note.content()).find(w) == std::string::npos)
            return false;
    }
    if (filter->tagGuids())
        for (ns::Object* t : *filter->tagGuids())
            if (!containsString(note.tagGuids(), t->description())) return false;
    return true;
}

}  // namespace

ns::Ref<EDAMNoteList> MemoryNoteStore::findNotes(const ns::Ref<ns::String>& token, const ns::Ref<EDAMNoteFilter>& filter,
                                                 int32_t offset, int32_t maxNotes) {
    check("findNotes", token);
    if (filter && filter->notebookGuid()) notebookNamed(filter->notebookGuid());
    if (offset < 0 || maxNotes < 0) throw EDAMUserException(BAD_DATA_FORMAT, ns::str(offset < 0 ? "offset" : "maxNotes"));
    if (maxNotes == 0) return nullptr;  // a service with nothing to say: the empty result struct
    std::vector<ns::Ref<EDAMNote>> found;
    for (auto& n : notes)
        if (matches(*n, filter.get())) found.push_back(n);
    auto page = ns::MutableArray::make();
    for (size_t i = offset; i < found.size() && page->count() < static_cast<size_t>(maxNotes); ++i)
        page->addObject(trimmed(*found[i], false, false, false, false));
    auto list = ns::make<EDAMNoteList>();
    list->setStartIndex(offset);
    list->setTotalNotes(static_cast<int32_t>(found.size()));
    list->setNotes(page);
    if (filter && filter->words()) list->setSearchedWords(ns::Array::make({filter->words()}));
    return list;
}

ns::Ref<EDAMNoteCollectionCounts> MemoryNoteStore::findNoteCounts(const ns::Ref<ns::String>& token,
                                                                  const ns::Ref<EDAMNoteFilter>& filter, bool withTrash) {
    check("findNoteCounts", token);
    std::map<std::string, int> byNotebook, byTag;
    int trash = 0;
    for (auto& n : notes) {
        if (!n->active()) {
            ++trash;
            continue;
        }
        if (!matches(*n, filter.get())) continue;
        ++byNotebook[text(n->notebookGuid())];
        if (n->tagGuids())
            for (ns::Object* t : *n->tagGuids()) ++byTag[t->description()];
    }
    auto counts = ns::make<EDAMNoteCollectionCounts>();
    auto nb = ns::MutableDictionary::make();
    for (auto& [k, v] : byNotebook) nb->setObject(ns::Number::numberWithInt(v), k);
    counts->setNotebookCounts(nb);
    auto tg = ns::MutableDictionary::make();
    for (auto& [k, v] : byTag) tg->setObject(ns::Number::numberWithInt(v), k);
    counts->setTagCounts(tg);
    if (withTrash) counts->setTrashCount(trash);
    return counts;
}

ns::Ref<EDAMNote> MemoryNoteStore::getNote(const ns::Ref<ns::String>& token, const ns::Ref<ns::String>& guid,
                                           bool withContent, bool withResourcesData, bool withResourcesRecognition,
                                           bool withResourcesAlternateData) {
    check("getNote", token);
    return trimmed(*noteNamed(guid), withContent, withResourcesData, withResourcesRecognition,
                   withResourcesAlternateData);
}

ns::Ref<ns::String> MemoryNoteStore::getNoteContent(const ns::Ref<ns::String>& token, const ns::Ref<ns::String>& guid) {
    check("getNoteContent", token);
    return noteNamed(guid)->content();
}

ns::Ref<ns::String> MemoryNoteStore::getNoteSearchText(const ns::Ref<ns::String>& token,
                                                       const ns::Ref<ns::String>& guid) {
    check("getNoteSearchText", token);
    auto note = noteNamed(guid);
    // The title and the content's text without its markup.
    std::string out = text(note->title());
    bool inTag = false;
    std::string body;
    for (char c : text(note->content())) {
        if (c == '<') inTag = true;
        else if (c == '>') inTag = false, body += ' ';
        else if (!inTag) body += c;
    }
    for (size_t i = 0; i < body.size(); ++i)
        if (body[i] != ' ' || (!out.empty() && out.back() != ' ')) out += body[i];
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return ns::String::make(out);
}

ns::Ref<ns::Array> MemoryNoteStore::getNoteTagNames(const ns::Ref<ns::String>& token, const ns::Ref<ns::String>& guid) {
    check("getNoteTagNames", token);
    auto note = noteNamed(guid);
    auto names = ns::MutableArray::make();
    for (auto& t : tags)
        if (containsString(note->tagGuids(), text(t->guid()))) names->addObject(t->name());
    return names;
}

ns::Ref<EDAMNote> MemoryNoteStore::createNote(const ns::Ref<ns::String>& token, const ns::Ref<EDAMNote>& note) {
    check("createNote", token);
    if (!note) missing("Note");
    if (!note->title()) missing("Note.title");
    auto stored = copyOf(*note);
    if (stored->notebookGuid()) {
        notebookNamed(stored->notebookGuid());
    } else {
        for (auto& n : notebooks)
            if (n->defaultNotebook()) stored->setNotebookGuid(n->guid());
    }
    if (stored->tagNames()) {
        auto guids = ns::MutableArray::make();
        if (stored->tagGuids())
            for (ns::Object* g : *stored->tagGuids()) guids->addObject(ns::Ref<ns::Object>(g));
        for (ns::Object* name : *stored->tagNames()) {
            ns::Ref<EDAMTag> tag;
            for (auto& t : tags)
                if (text(t->name()) == name->description()) tag = t;
            if (!tag) {  // tags named by a new note are made on the way
                tag = ns::make<EDAMTag>(ns::str(newGuid("tag")), ns::String::make(name->description()), nullptr,
                                        nextUSN());
                tag->unsetParentGuid();
                tags.push_back(tag);
            }
            if (!containsString(guids, text(tag->guid()))) guids->addObject(tag->guid());
        }
        stored->setTagGuids(guids);
    }
    stored->setGuid(ns::str(newGuid("note")));
    stored->setUpdateSequenceNum(nextUSN());
    stored->setActive(true);
    stored->setUpdated(kNow + updateCount);
    if (!stored->createdIsSet()) stored->setCreated(kNow + updateCount);
    stored->setContentLength(static_cast<int32_t>(text(stored->content()).size()));
    storeResources(*stored);
    notes.push_back(stored);
    return trimmed(*stored, false, false, false, false);
}

ns::Ref<EDAMNote> MemoryNoteStore::updateNote(const ns::Ref<ns::String>& token, const ns::Ref<EDAMNote>& note) {
    check("updateNote", token);
    if (!note) missing("Note");
    auto stored = noteNamed(note->guid());
    versions[text(stored->guid())].push_back(copyOf(*stored));
    if (note->title()) stored->setTitle(note->title());
    if (note->content()) {
        stored->setContent(note->content());
        stored->setContentLength(static_cast<int32_t>(text(note->content()).size()));
    }
    if (note->resourcesIsSet()) stored->setResources(note->resources() ? copyOf(*note)->resources() : nullptr);
    if (note->attributesIsSet()) stored->setAttributes(note->attributes());
    stored->setUpdateSequenceNum(nextUSN());
    stored->setUpdated(kNow + updateCount);
    storeResources(*stored);
    return trimmed(*stored, false, false, false, false);
}

int32_t MemoryNoteStore::deleteNote(const ns::Ref<ns::String>& token, const ns::Ref<ns::String>& guid) {
    check("deleteNote", token);
    auto stored = noteNamed(guid);
    stored->setActive(false);
    stored->setDeleted(kNow + updateCount);
    stored->setUpdateSequenceNum(nextUSN());
    return updateCount;
}

// ---- Note removal, copies, versions and resources ----------------------------------

int32_t MemoryNoteStore::expungeNote(const ns::Ref<ns::String>& token, const ns::Ref<ns::String>& guid) {
    check("expungeNote", token);
    auto stored = noteNamed(guid);
    notes.erase(std::find(notes.begin(), notes.end(), stored));
    expungedGuids.push_back(text(guid));
    return nextUSN();
}

int32_t MemoryNoteStore::expungeNotes(const ns::Ref<ns::String>& token, const ns::Ref<ns::Array>& noteGuids) {
    check("expungeNotes", token);
    if (!noteGuids) missing("noteGuids");
    std::vector<ns::Ref<EDAMNote>> doomed;
    for (ns::Object* g : *noteGuids) doomed.push_back(noteNamed(ns::String::make(g->description())));
    for (auto& n : doomed) {
        notes.erase(std::find(notes.begin(), notes.end(), n));
        expungedGuids.push_back(text(n->guid()));
    }
    return nextUSN();
}

int32_t MemoryNoteStore::expungeInactiveNotes(const ns::Ref<ns::String>& token) {
    check("expungeInactiveNotes", token);
    notes.erase(std::remove_if(notes.begin(), notes.end(),
                               [&](const ns::Ref<EDAMNote>& n) {
                                   if (n->active()) return false;
                                   expungedGuids.push_back(text(n->guid()));
                                   return true;
                               }),
                notes.end());
    return nextUSN();
}

ns::Ref<EDAMNote> MemoryNoteStore::copyNote(const ns::Ref<ns::String>& token, const ns::Ref<ns::String>& noteGuid,
                                            const ns::Ref<ns::String>& toNotebookGuid) {
    check("copyNote", token);
    auto original = noteNamed(noteGuid);
    notebookNamed(toNotebookGuid);
    auto copy = copyOf(*original);
    copy->setGuid(ns::str(newGuid("note")));
    copy->setNotebookGuid(toNotebookGuid);
    copy->setUpdateSequenceNum(nextUSN());
    if (copy->resources())
        for (ns::Object* o : *copy->resources()) dynamic_cast<EDAMResource*>(o)->unsetGuid();
    storeResources(*copy);
    notes.push_back(copy);
    return trimmed(*copy, false, false, false, false);
}

ns::Ref<ns::Array> MemoryNoteStore::listNoteVersions(const ns::Ref<ns::String>& token,
                                                     const ns::Ref<ns::String>& noteGuid) {
    check("listNoteVersions", token);
    noteNamed(noteGuid);
    auto list = ns::MutableArray::make();
    for (auto& v : versions[text(noteGuid)])
        list->addObject(ns::make<EDAMNoteVersionId>(v->updateSequenceNum(), v->updated(), kNow, v->title()));
    return list;
}

ns::Ref<EDAMNote> MemoryNoteStore::getNoteVersion(const ns::Ref<ns::String>& token, const ns::Ref<ns::String>& noteGuid,
                                                  int32_t updateSequenceNum, bool withResourcesData,
                                                  bool withResourcesRecognition, bool withResourcesAlternateData) {
    check("getNoteVersion", token);
    noteNamed(noteGuid);
    for (auto& v : versions[text(noteGuid)])
        if (v->updateSequenceNum() == updateSequenceNum)
            return trimmed(*v, true, withResourcesData, withResourcesRecognition, withResourcesAlternateData);
    notFound("Note.updateSequenceNum", ns::String::make(std::to_string(updateSequenceNum)));
}

ns::Ref<EDAMResource> MemoryNoteStore::getResource(const ns::Ref<ns::String>& token, const ns::Ref<ns::String>& guid,
                                                   bool withData, bool withRecognition, bool withAttributes,
                                                   bool withAlternateData) {
    check("getResource", token);
    return resourceCopy(*resourceNamed(guid), withData, withRecognition, withAttributes, withAlternateData);
}

int32_t MemoryNoteStore::updateResource(const ns::Ref<ns::String>& token, const ns::Ref<EDAMResource>& resource) {
    check("updateResource", token);
    if (!resource) missing("Resource");
    auto stored = resourceNamed(resource->guid());
    if (resource->mime()) stored->setMime(resource->mime());
    if (resource->attributesIsSet()) stored->setAttributes(resource->attributes());
    stored->setUpdateSequenceNum(nextUSN());
    return updateCount;
}

ns::Ref<ns::Data> MemoryNoteStore::getResourceData(const ns::Ref<ns::String>& token, const ns::Ref<ns::String>& guid) {
    check("getResourceData", token);
    auto r = resourceNamed(guid);
    return r->data() ? r->data()->body() : nullptr;
}

ns::Ref<EDAMResource> MemoryNoteStore::getResourceByHash(const ns::Ref<ns::String>& token,
                                                         const ns::Ref<ns::String>& noteGuid,
                                                         const ns::Ref<ns::Data>& contentHash, bool withData,
                                                         bool withRecognition, bool withAlternateData) {
    check("getResourceByHash", token);
    auto note = noteNamed(noteGuid);
    if (note->resources() && contentHash)
        for (ns::Object* o : *note->resources()) {
            auto* r = dynamic_cast<EDAMResource*>(o);
            if (r->data() && ns::equal(r->data()->bodyHash(), contentHash))
                return resourceCopy(*r, withData, withRecognition, true, withAlternateData);
        }
    throw EDAMNotFoundException(ns::str("Resource.bodyHash"), nullptr);
}

ns::Ref<ns::Data> MemoryNoteStore::getResourceRecognition(const ns::Ref<ns::String>& token,
                                                          const ns::Ref<ns::String>& guid) {
    check("getResourceRecognition", token);
    auto r = resourceNamed(guid);
    if (!r->recognition()) notFound("Resource.recognition", guid);
    return r->recognition()->body();
}

ns::Ref<ns::Data> MemoryNoteStore::getResourceAlternateData(const ns::Ref<ns::String>& token,
                                                            const ns::Ref<ns::String>& guid) {
    check("getResourceAlternateData", token);
    auto r = resourceNamed(guid);
    return r->alternateData() ? r->alternateData()->body() : nullptr;  // none: the empty result
}

ns::Ref<EDAMResourceAttributes> MemoryNoteStore::getResourceAttributes(const ns::Ref<ns::String>& token,
                                                                       const ns::Ref<ns::String>& guid) {
    check("getResourceAttributes", token);
    return resourceNamed(guid)->attributes();
}

int64_t MemoryNoteStore::getAccountSize(const ns::Ref<ns::String>& token) {
    check("getAccountSize", token);
    int64_t size = 0;
    for (auto& n : notes) {
        size += text(n->content()).size();
        if (!n->resources()) continue;
        for (ns::Object* o : *n->resources()) {
            auto* r = dynamic_cast<EDAMResource*>(o);
            if (r->data() && r->data()->body()) size += r->data()->body()->length();
        }
    }
    return size;
}

// ---- Ads, shared and linked notebooks, e-mail ------------------------------------------

ns::Ref<ns::Array> MemoryNoteStore::getAds(const ns::Ref<ns::String>& token, const ns::Ref<EDAMAdParameters>& parameters) {
    check("getAds", token);
    if (!parameters) missing("AdParameters");
    bool tablet = false;
    if (auto* idiom = parameters->clientProperties() ? parameters->clientProperties()->stringForKey("idiom") : nullptr)
        tablet = idiom->utf8() == "tablet";
    std::map<int32_t, int32_t> shown;
    if (parameters->impressions())
        for (ns::Object* o : *parameters->impressions()) {
            auto* i = dynamic_cast<EDAMAdImpressions*>(o);
            shown[i->adId()] += i->impressionCount();
        }
    bool german = text(parameters->clientLanguage()) == "de";
    auto ads = ns::MutableArray::make();
    for (int32_t id : {1, 2}) {
        if (shown[id] >= 3) continue;  // shown often enough
        auto ad = ns::make<EDAMAd>();
        ad->setId(id);
        ad->setWidth(tablet ? 728 : 320);
        ad->setHeight(tablet ? 90 : 50);
        ad->setAdvertiserName(ns::str(german ? "Notizen GmbH" : "Notes Inc."));
        ad->setDisplaySeconds(static_cast<int16_t>(10 * id));
        ad->setScore(1.0 / id);
        ad->setImage(ns::Data::make(std::string("\x89PNG", 4)));
        ad->setImageMime(ns::str("image/png"));
        if (parameters->supportHtml()) ad->setHtml(ns::str("<b>ad</b>"));
        ads->addObject(ad);
    }
    return ads;
}

ns::Ref<EDAMAd> MemoryNoteStore::getRandomAd(const ns::Ref<ns::String>& token, const ns::Ref<EDAMAdParameters>& parameters) {
    auto ads = getAds(token, parameters);
    calls.back() = "getRandomAd";
    return ads->count() ? ns::Ref<EDAMAd>(ads->objectAtIndexAs<EDAMAd>(ads->count() - 1)) : nullptr;
}

ns::Ref<EDAMNotebook> MemoryNoteStore::getPublicNotebook(int32_t userId, const ns::Ref<ns::String>& publicUri) {
    calls.emplace_back("getPublicNotebook");
    if (userId != 1) notFound("User.id", ns::String::make(std::to_string(userId)));
    for (auto& n : notebooks)
        if (n->published() && n->publishing() && same(n->publishing()->uri(), publicUri)) return copyOf(*n);
    notFound("Publishing.uri", publicUri);
}

ns::Ref<EDAMSharedNotebook> MemoryNoteStore::createSharedNotebook(const ns::Ref<ns::String>& token,
                                                                  const ns::Ref<EDAMSharedNotebook>& shared) {
    check("createSharedNotebook", token);
    if (!shared) missing("SharedNotebook");
    notebookNamed(shared->notebookGuid());
    auto stored = copyOf(*shared);
    stored->setId(static_cast<int64_t>(sharedNotebooks.size()) + 100);
    stored->setUserId(1);
    stored->setShareKey(ns::String::make("key-" + std::to_string(stored->id())));
    stored->setServiceCreated(kNow);
    sharedNotebooks.push_back(stored);
    nextUSN();
    return copyOf(*stored);
}

ns::Ref<ns::Array> MemoryNoteStore::listSharedNotebooks(const ns::Ref<ns::String>& token) {
    check("listSharedNotebooks", token);
    return arrayOf(sharedNotebooks);
}

int32_t MemoryNoteStore::expungeSharedNotebooks(const ns::Ref<ns::String>& token, const ns::Ref<ns::Array>& ids) {
    check("expungeSharedNotebooks", token);
    if (!ids) missing("sharedNotebookIds");
    std::vector<ns::Ref<EDAMSharedNotebook>> doomed;
    for (ns::Object* o : *ids) {
        int64_t id = dynamic_cast<ns::Number*>(o)->longLongValue();
        auto found = std::find_if(sharedNotebooks.begin(), sharedNotebooks.end(),
                                  [&](const ns::Ref<EDAMSharedNotebook>& s) { return s->id() == id; });
        if (found == sharedNotebooks.end()) notFound("SharedNotebook.id", ns::String::make(std::to_string(id)));
        doomed.push_back(*found);
    }
    for (auto& s : doomed) sharedNotebooks.erase(std::find(sharedNotebooks.begin(), sharedNotebooks.end(), s));
    return nextUSN();
}

ns::Ref<EDAMLinkedNotebook> MemoryNoteStore::createLinkedNotebook(const ns::Ref<ns::String>& token,
                                                                  const ns::Ref<EDAMLinkedNotebook>& linked) {
    check("createLinkedNotebook", token);
    if (!linked) missing("LinkedNotebook");
    if (!linked->shareName()) missing("LinkedNotebook.shareName");
    auto stored = copyOf(*linked);
    stored->setId(static_cast<int64_t>(linkedNotebooks.size()) + 500);
    linkedNotebooks.push_back(stored);
    nextUSN();
    return copyOf(*stored);
}

ns::Ref<EDAMLinkedNotebook> MemoryNoteStore::updateLinkedNotebook(const ns::Ref<ns::String>& token,
                                                                  const ns::Ref<EDAMLinkedNotebook>& linked) {
    check("updateLinkedNotebook", token);
    if (!linked) missing("LinkedNotebook");
    for (auto& l : linkedNotebooks)
        if (l->id() == linked->id()) {
            if (linked->shareName()) l->setShareName(linked->shareName());
            nextUSN();
            return copyOf(*l);
        }
    notFound("LinkedNotebook.id", ns::String::make(std::to_string(linked->id())));
}

ns::Ref<ns::Array> MemoryNoteStore::listLinkedNotebooks(const ns::Ref<ns::String>& token) {
    check("listLinkedNotebooks", token);
    return arrayOf(linkedNotebooks);
}

int32_t MemoryNoteStore::expungeLinkedNotebook(const ns::Ref<ns::String>& token, int64_t linkedNotebookId) {
    check("expungeLinkedNotebook", token);
    auto found = std::find_if(linkedNotebooks.begin(), linkedNotebooks.end(),
                              [&](const ns::Ref<EDAMLinkedNotebook>& l) { return l->id() == linkedNotebookId; });
    if (found == linkedNotebooks.end())
        notFound("LinkedNotebook.id", ns::String::make(std::to_string(linkedNotebookId)));
    linkedNotebooks.erase(found);
    return nextUSN();
}

ns::Ref<EDAMAuthenticationResult> MemoryNoteStore::authenticateToSharedNotebook(const ns::Ref<ns::String>& shareKey,
                                                                               const ns::Ref<ns::String>& token) {
    calls.emplace_back("authenticateToSharedNotebook");
    for (auto& s : sharedNotebooks)
        if (same(s->shareKey(), shareKey)) {
            if (s->requireLogin() && text(token) != kToken)
                throw EDAMUserException(INVALID_AUTH, ns::str("authenticationToken"));
            return ns::make<EDAMAuthenticationResult>(kNow, ns::String::make("SN:" + text(shareKey)), kNow + 3600000,
                                                      nullptr, nullptr);
        }
    notFound("SharedNotebook.shareKey", shareKey);
}

ns::Ref<EDAMSharedNotebook> MemoryNoteStore::getSharedNotebookByAuth(const ns::Ref<ns::String>& token) {
    calls.emplace_back("getSharedNotebookByAuth");
    std::string t = text(token);
    if (t.rfind("SN:", 0) != 0) throw EDAMUserException(PERMISSION_DENIED, ns::str("authenticationToken"));
    for (auto& s : sharedNotebooks)
        if (text(s->shareKey()) == t.substr(3)) return copyOf(*s);
    notFound("SharedNotebook.shareKey", ns::String::make(t.substr(3)));
}

void MemoryNoteStore::emailNote(const ns::Ref<ns::String>& token, const ns::Ref<EDAMNoteEmailParameters>& parameters) {
    check("emailNote", token);
    if (!parameters) missing("NoteEmailParameters");
    if (!parameters->note()) noteNamed(parameters->guid());
    bool anyone = (parameters->toAddresses() && parameters->toAddresses()->count()) ||
                  (parameters->ccAddresses() && parameters->ccAddresses()->count());
    if (!anyone) missing("NoteEmailParameters.toAddresses");
    mailed.push_back(copyOf(*parameters));
}

}  // namespace evernote::test
