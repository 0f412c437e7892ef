// The sharing centre's offline queue: a property list of entries
// {"item", "sharer", "uid"} in the caches folder's "SHR" folder, and one data
// file per image or file share, named by the entry's uid.
//
// An entry leaves the list only when its re-send has been handed over (see
// SHROfflineSharer), and its data file goes with it, so a process killed at
// any moment loses no stored share. What a killed process can leave behind
// (temporary files of a save, a data file whose entry was just removed) is
// cleared the first time the next process uses the folder.
#include "sharing/core/SHR.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <set>

#include "platform/foundation/FileIO.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/PropertyList.h"
#include "platform/security/Random.h"
#include "sharing/core/ImageCoding.h"
#include "sharing/core/SHROfflineSharer.h"

namespace sharing {

namespace {

bool exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

// What identifies an entry while it is re-sent: its uid, or (for an entry
// written without one) its whole text.
std::string entryKey(const ns::Dictionary& entry) {
    if (ns::String* uid = entry.stringForKey("uid")) return "uid:" + std::string(uid->utf8());
    return "entry:" + entry.description();
}

// Deletes the data files of `folder` that no entry of the list names. An
// unreadable list may still be recovered, with its files: nothing is
// deleted then.
void removeUnlistedDataFiles(const std::string& folder) {
    std::string listPath = ns::Paths::join(folder, kSHROfflineQueueListName);
    std::set<std::string> listed;
    if (exists(listPath)) {
        ns::Ref<ns::Object> root = ns::PropertyList::readFromFile(listPath);
        auto* list = ns::as<ns::Array>(root.get());
        if (!list) return;
        for (ns::Object* o : *list)
            if (auto* entry = ns::as<ns::Dictionary>(o)) listed.insert(SHR::offlineDataFileName(*entry));
    }
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return;
    std::vector<std::string> unlisted;
    while (dirent* e = ::readdir(dir)) {
        std::string name = e->d_name;
        if (name.empty() || name[0] == '.' || name.rfind(kSHROfflineQueueListName, 0) == 0) continue;
        if (!listed.count(name)) unlisted.push_back(name);
    }
    ::closedir(dir);
    for (const auto& name : unlisted) {
        std::string path = ns::Paths::join(folder, name);
        struct stat st{};
        if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::unlink(path.c_str());
    }
}

}  // namespace

std::string SHR::offlineQueuePath() {
    std::string path = ns::Paths::join(ns::Paths::cachesDirectory(), kSHROfflineQueueFolder);
    ns::Paths::ensureDirectory(path, 0700);
    SHR* helper = currentHelper();
    if (helper->offlineFolderChecked_ != path) {
        helper->offlineFolderChecked_ = path;
        ns::removeLeftoverTemporaryFiles(path);
        removeUnlistedDataFiles(path);
    }
    return path;
}

std::string SHR::offlineQueueListPath() { return ns::Paths::join(offlineQueuePath(), kSHROfflineQueueListName); }

std::string SHR::offlineDataFileName(const ns::Dictionary& entry) {
    ns::String* uid = entry.stringForKey("uid");
    if (!uid) return {};
    std::string name(uid->utf8());
    // The uid comes from a file: it must not lead out of the folder, nor name
    // the list or a temporary file.
    if (name.empty() || name[0] == '.' || name.find('/') != std::string::npos ||
        name.find('\0') != std::string::npos || name.rfind(kSHROfflineQueueListName, 0) == 0)
        return {};
    return name;
}

ns::Ref<ns::MutableArray> SHR::getOfflineQueueList() {
    std::string path = offlineQueueListPath();
    if (!exists(path)) return nullptr;
    ns::Ref<ns::Error> error;
    ns::Ref<ns::Object> root = ns::PropertyList::readFromFile(path, &error);
    auto* list = ns::as<ns::Array>(root.get());
    if (!list) {
        // An unreadable list is kept aside, never overwritten by the next save.
        std::string aside = path + ".corrupt-" + std::to_string(std::time(nullptr));
        std::rename(path.c_str(), aside.c_str());
        std::fprintf(stderr, "SHR: offline queue list unreadable, moved to %s\n", aside.c_str());
        return nullptr;
    }
    return list->mutableCopy();
}

bool SHR::saveOfflineQueueList(const ns::Array* list) {
    if (!list) return false;
    return ns::PropertyList::writeToFile(*list, offlineQueueListPath(), true, nullptr, ns::PropertyListFormat::XML,
                                         0600);
}

bool SHR::addToOfflineQueueForSharer(const ns::Ref<SHRItem>& item, const std::string& sharerId) {
    if (!item) return true;
    auto seconds = static_cast<int32_t>(static_cast<int64_t>(std::time(nullptr)));
    int32_t random = static_cast<int32_t>(static_cast<uint32_t>(sec::randomUniform(0x100000000ull)));
    std::string uid = ns::format("%@-%i-%i-%i", sharerId, static_cast<int>(item->shareType()), seconds, random);
    std::string dataPath = ns::Paths::join(offlineQueuePath(), uid);
    if (item->shareType() == SHRShareTypeImage && item->image()) {
        if (auto jpeg = imageJPEGRepresentation(item->image().get(), 1.0))
            ns::writeFileAtomically(dataPath, jpeg->view(), nullptr, 0600);
    } else if (item->shareType() == SHRShareTypeFile && item->data()) {
        ns::writeFileAtomically(dataPath, item->data()->view(), nullptr, 0600);
    }
    ns::Ref<ns::MutableArray> list = getOfflineQueueList();
    if (!list) list = ns::MutableArray::make();
    list->addObject(ns::Dictionary::make({{"item", item->dictionaryRepresentation()},
                                          {"sharer", ns::str(sharerId)},
                                          {"uid", ns::str(uid)}}));
    saveOfflineQueueList(list.get());
    return true;
}

void SHR::flushOfflineQueue() {
    if (!connected()) return;
    auto list = getOfflineQueueList();
    if (!list) return;
    SHR* helper = currentHelper();
    if (!helper->offlineQueue_) helper->offlineQueue_ = ns::OperationQueue::make();
    std::vector<ns::Ref<ns::Dictionary>> dropped;
    for (ns::Object* o : *list) {
        auto* entry = ns::as<ns::Dictionary>(o);
        if (!entry) continue;
        ns::Dictionary* itemDict = entry->dictionaryForKey("item");
        ns::String* sharer = entry->stringForKey("sharer");
        if (!itemDict || !sharer) {
            dropped.emplace_back(entry);  // nothing can be sent for it
            continue;
        }
        auto& running = helper->offlineResends_[entryKey(*entry)];
        if (auto op = running.lock(); op && !op->isFinished() && !op->isCancelled()) continue;
        ns::String* uid = entry->stringForKey("uid");
        auto resend = ns::make<SHROfflineSharer>(SHRItem::itemFromDictionary(itemDict), std::string(sharer->utf8()),
                                                 uid ? std::string(uid->utf8()) : std::string());
        resend->setQueueEntry(ns::Ref<ns::Dictionary>(entry));
        running = ns::Weak<ns::Operation>(resend);
        helper->offlineQueue_->addOperation(resend);
    }
    for (const auto& entry : dropped) removeFromOfflineQueue(*entry);
}

void SHR::removeFromOfflineQueue(const ns::Dictionary& entry) {
    std::string key = entryKey(entry);
    currentHelper()->offlineResends_.erase(key);
    if (auto list = getOfflineQueueList()) {
        for (size_t i = 0; i < list->count(); ++i) {
            auto* stored = ns::as<ns::Dictionary>(list->objectAtIndex(i));
            if (stored && entryKey(*stored) == key) {
                list->removeObjectAtIndex(i);
                if (list->count() == 0) std::remove(offlineQueueListPath().c_str());
                else saveOfflineQueueList(list.get());
                break;
            }
        }
    }
    // After the list: a kill in between leaves a data file that no entry
    // names, which the next process clears.
    std::string dataFile = offlineDataFileName(entry);
    if (!dataFile.empty()) ::unlink(ns::Paths::join(offlineQueuePath(), dataFile).c_str());
}

}  // namespace sharing
