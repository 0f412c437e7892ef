// The sharing centre's offline queue: a property list of entries
// {"item", "sharer", "uid"} in the caches folder's "SHR" folder, and one data
// file per image or file share, named by the entry's uid.
//
// An entry leaves the list only when its re-send has been handed over (see
// SHROfflineSharer), and its data file goes with it, so a process killed at
// any moment loses no stored share. Shares are re-sent one at a time and
// each reply rewrites the list before the next share goes out, so a kill
// sends again at most the one share whose reply was not yet recorded; and
// nothing is sent while the list cannot be rewritten, so a share whose
// entry cannot be removed is not sent twice by one process. What a killed process can leave behind
// (temporary files of a save, a data file whose entry was just removed) is
// cleared the first time the next process uses the folder. A list that
// cannot be read is set aside under a name of its own, never overwritten,
// and the data files stay while such a list is there: its entries may
// still be recovered.
#include "sharing/core/SHR.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <iterator>
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

// The prefix of a list set aside as unreadable.
std::string setAsidePrefix() { return std::string(kSHROfflineQueueListName) + ".corrupt-"; }

// Deletes the data files of `folder` that no entry of the list names. An
// unreadable list, here or set aside, may still be recovered with its
// files: nothing is deleted then.
void removeUnlistedDataFiles(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return;
    std::vector<std::string> candidates;
    bool setAsideList = false;
    while (dirent* e = ::readdir(dir)) {
        std::string name = e->d_name;
        if (name.rfind(setAsidePrefix(), 0) == 0) setAsideList = true;
        if (name.empty() || name[0] == '.' || name.rfind(kSHROfflineQueueListName, 0) == 0) continue;
        candidates.push_back(name);
    }
    ::closedir(dir);
    if (setAsideList) return;
    std::string listPath = ns::Paths::join(folder, kSHROfflineQueueListName);
    std::set<std::string> listed;
    if (exists(listPath)) {
        ns::Ref<ns::Object> root = ns::PropertyList::readFromFile(listPath);
        auto* list = ns::as<ns::Array>(root.get());
        if (!list) return;
        for (ns::Object* o : *list)
            if (auto* entry = ns::as<ns::Dictionary>(o)) listed.insert(SHR::offlineDataFileName(*entry));
    }
    std::vector<std::string> unlisted;
    for (const auto& name : candidates)
        if (!listed.count(name)) unlisted.push_back(name);
    for (const auto& name : unlisted) {
        std::string path = ns::Paths::join(folder, name);
        struct stat st{};
        if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::unlink(path.c_str());
    }
}

// Moves the unreadable list at `path` to "<path>.corrupt-<seconds>" (with
// "-2", "-3", ... when that name is taken), never over an existing file.
// Returns the new name, or "" when the list could not be moved.
std::string setAside(const std::string& path) {
    std::string base = path + ".corrupt-" + std::to_string(std::time(nullptr));
    for (int n = 1; n <= 1000; ++n) {
        std::string target = n == 1 ? base : base + "-" + std::to_string(n);
        // A hard link fails when the name exists, so no other set-aside list
        // is ever replaced.
        if (::link(path.c_str(), target.c_str()) == 0) {
            ::unlink(path.c_str());
            return target;
        }
        if (errno == EEXIST) continue;
        // A file system without hard links: the name is checked first.
        if (exists(target)) continue;
        if (std::rename(path.c_str(), target.c_str()) == 0) return target;
        return {};
    }
    return {};
}

// Writes the list whole, or removes the file when the list is empty.
// False with the reason when that fails.
bool writeOfflineQueueList(const ns::Array& list, std::string* why) {
    std::string path = SHR::offlineQueueListPath();
    if (list.count() == 0) {
        if (std::remove(path.c_str()) == 0 || errno == ENOENT) return true;
        *why = std::strerror(errno);
        return false;
    }
    ns::Ref<ns::Error> error;
    if (ns::PropertyList::writeToFile(list, path, true, &error, ns::PropertyListFormat::XML, 0600)) return true;
    *why = error ? error->localizedDescription() : std::string("write failed");
    return false;
}

// Deletes an entry's data file, or the folder found in its place (links
// are removed, never followed).
void removeDataFile(const std::string& path) {
    struct stat st{};
    if (::lstat(path.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
        if (ec) std::fprintf(stderr, "SHR: %s could not be removed (%s)\n", path.c_str(), ec.message().c_str());
    } else {
        ::unlink(path.c_str());
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
        std::string aside = setAside(path);
        if (aside.empty())
            std::fprintf(stderr, "SHR: offline queue list unreadable and could not be moved aside (%s)\n",
                         std::strerror(errno));
        else
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
    if (!item) return false;
    auto seconds = static_cast<int32_t>(static_cast<int64_t>(std::time(nullptr)));
    int32_t random = static_cast<int32_t>(static_cast<uint32_t>(sec::randomUniform(0x100000000ull)));
    std::string uid = ns::format("%@-%i-%i-%i", sharerId, static_cast<int>(item->shareType()), seconds, random);
    std::string dataPath = ns::Paths::join(offlineQueuePath(), uid);
    ns::Ref<ns::Error> error;
    bool dataWritten = false;
    auto refuse = [&](const std::string& why) {
        if (dataWritten) ::unlink(dataPath.c_str());
        std::fprintf(stderr, "SHR: a share for %s could not be stored for later: %s\n", sharerId.c_str(),
                     why.c_str());
        return false;
    };
    auto failure = [&] { return error ? error->localizedDescription() : std::string("write failed"); };
    if (item->shareType() == SHRShareTypeImage && item->image()) {
        auto jpeg = imageJPEGRepresentation(item->image().get(), 1.0);
        if (!jpeg) return refuse("the image cannot be encoded");
        if (!ns::writeFileAtomically(dataPath, jpeg->view(), &error, 0600)) return refuse(failure());
        dataWritten = true;
    } else if (item->shareType() == SHRShareTypeFile && item->data()) {
        if (!ns::writeFileAtomically(dataPath, item->data()->view(), &error, 0600)) return refuse(failure());
        dataWritten = true;
    }
    ns::Ref<ns::MutableArray> list = getOfflineQueueList();
    // An unreadable list that could not be moved aside must not be replaced.
    if (!list && exists(offlineQueueListPath())) return refuse("the stored list cannot be read");
    if (!list) list = ns::MutableArray::make();
    list->addObject(ns::Dictionary::make({{"item", item->dictionaryRepresentation()},
                                          {"sharer", ns::str(sharerId)},
                                          {"uid", ns::str(uid)}}));
    if (!ns::PropertyList::writeToFile(*list, offlineQueueListPath(), true, &error, ns::PropertyListFormat::XML, 0600))
        return refuse(failure());
    return true;
}

void SHR::flushOfflineQueue() {
    if (!connected()) return;
    auto list = getOfflineQueueList();
    if (!list) return;
    SHR* helper = currentHelper();
    if (!helper->offlineQueue_) {
        helper->offlineQueue_ = ns::OperationQueue::make();
        // One share at a time: each reply takes its entry off the list before
        // the next share goes out, so a killed process sends again at most
        // the one share whose reply it had not yet recorded.
        helper->offlineQueue_->setMaxConcurrentOperationCount(1);
    }
    // Shares already sent whose entries could not be taken off the list
    // leave it first; while one still cannot, nothing is sent.
    std::set<std::string> listed;
    std::vector<ns::Ref<ns::Dictionary>> sentBefore;
    for (ns::Object* o : *list) {
        auto* entry = ns::as<ns::Dictionary>(o);
        if (!entry) continue;
        listed.insert(entryKey(*entry));
        if (helper->offlineUnremoved_.count(entryKey(*entry))) sentBefore.emplace_back(entry);
    }
    for (auto it = helper->offlineUnremoved_.begin(); it != helper->offlineUnremoved_.end();)
        it = listed.count(*it) ? std::next(it) : helper->offlineUnremoved_.erase(it);
    for (const auto& entry : sentBefore)
        if (!removeFromOfflineQueue(*entry)) return;
    if (!sentBefore.empty() && !(list = getOfflineQueueList())) return;

    // Entries that can never be sent (not dictionaries, no item or no
    // sharer) leave the list at once.
    auto kept = ns::MutableArray::make();
    std::vector<ns::Ref<ns::Dictionary>> dropped;
    for (size_t i = 0; i < list->count(); ++i) {
        ns::Object* o = list->objectAtIndex(i);
        auto* entry = ns::as<ns::Dictionary>(o);
        if (!entry) {
            std::fprintf(stderr, "SHR: offline queue entry %zu is not a dictionary (%s); removed\n", i,
                         o ? o->className() : "nil");
        } else if (!entry->dictionaryForKey("item") || !entry->stringForKey("sharer")) {
            std::fprintf(stderr, "SHR: offline queue entry without %s; removed\n",
                         entry->dictionaryForKey("item") ? "sharer" : "item");
            dropped.emplace_back(entry);
        } else {
            kept->addObject(ns::Ref<ns::Object>(o));
        }
    }
    // The list is rewritten before anything is sent: a sent share leaves the
    // list by a rewrite, so while the list cannot be written nothing goes
    // out (it would be sent again by every later process).
    std::string why;
    if (!writeOfflineQueueList(*kept, &why)) {
        std::fprintf(stderr, "SHR: the offline queue list cannot be rewritten (%s); nothing is sent until it can be\n",
                     why.c_str());
        return;
    }
    std::set<std::string> keptFiles;
    for (ns::Object* o : *kept) keptFiles.insert(offlineDataFileName(*ns::as<ns::Dictionary>(o)));
    for (const auto& entry : dropped) {
        std::string name = offlineDataFileName(*entry);
        if (!name.empty() && !keptFiles.count(name)) removeDataFile(ns::Paths::join(offlineQueuePath(), name));
    }

    for (ns::Object* o : *kept) {
        auto* entry = ns::as<ns::Dictionary>(o);
        std::string key = entryKey(*entry);
        if (helper->offlineUnremoved_.count(key)) continue;  // sent already
        auto& running = helper->offlineResends_[key];
        if (auto op = running.lock(); op && !op->isFinished() && !op->isCancelled()) continue;
        ns::String* uid = entry->stringForKey("uid");
        auto resend = ns::make<SHROfflineSharer>(SHRItem::itemFromDictionary(entry->dictionaryForKey("item")),
                                                 std::string(entry->stringForKey("sharer")->utf8()),
                                                 uid ? std::string(uid->utf8()) : std::string());
        resend->setQueueEntry(ns::Ref<ns::Dictionary>(entry));
        running = ns::Weak<ns::Operation>(resend);
        helper->offlineQueue_->addOperation(resend);
    }
}

bool SHR::removeFromOfflineQueue(const ns::Dictionary& entry) {
    std::string key = entryKey(entry);
    SHR* helper = currentHelper();
    helper->offlineResends_.erase(key);
    if (auto list = getOfflineQueueList()) {
        // Every entry of this share goes, a copy of it (a damaged list)
        // too: the copy names the same data file, removed below, and would
        // be sent again by the next flush.
        bool found = false;
        for (size_t i = 0; i < list->count();) {
            auto* stored = ns::as<ns::Dictionary>(list->objectAtIndex(i));
            if (!stored || entryKey(*stored) != key) {
                ++i;
                continue;
            }
            list->removeObjectAtIndex(i);
            found = true;
        }
        if (found) {
            std::string why;
            if (!writeOfflineQueueList(*list, &why)) {
                // Still listed, but sent: this process does not send it again,
                // nor anything else that could not be taken off either.
                helper->offlineUnremoved_.insert(key);
                std::fprintf(stderr,
                             "SHR: the stored share %s was handed over but cannot be taken off the offline queue list "
                             "(%s); the flush stops, and it is not sent again before it can be removed\n",
                             key.c_str(), why.c_str());
                if (helper->offlineQueue_) helper->offlineQueue_->cancelAllOperations();
                return false;
            }
        }
    }
    helper->offlineUnremoved_.erase(key);
    // After the list: a kill in between leaves a data file that no entry
    // names, which the next process clears.
    std::string dataFile = offlineDataFileName(entry);
    if (!dataFile.empty()) removeDataFile(ns::Paths::join(offlineQueuePath(), dataFile));
    return true;
}

}  // namespace sharing
