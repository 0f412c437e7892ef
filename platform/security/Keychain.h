// The keychain stand-in: generic-password items (service, account, secret
// bytes) kept in one file of their own, by default
// <home>/Library/Keychains/keychain.db.
//
// Safety:
// - the folder is made (or tightened to) mode 0700, the file is 0600 from the
//   moment it exists;
// - every change rewrites the whole file atomically (temporary file, fsync,
//   rename), so a failed write leaves the previous file and its items intact;
//   the temporary file holds every secret, so it is unnamed while it is
//   written (where the file system allows), removed on every failure, and
//   one left by a killed save is removed by the next operation;
// - a file that cannot be decoded (bad magic, lengths out of range, checksum
//   mismatch) is renamed aside as "<file>.corrupt-<time>" and never
//   overwritten; the keychain then starts empty; such copies go only when
//   asked for (discardFilesMovedAside, at a logout);
// - secrets never appear in log lines, descriptions or attribute lists.
//
// Every operation re-reads the file under a process-wide mutex and an
// advisory lock on "<file>.lock", so several Keychain objects (or processes)
// on one file see each other's changes. Operations answer a status code.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Dictionary.h"
#include "platform/foundation/Object.h"

namespace sec {

// Status codes, numerically the same as the platform keychain's.
inline constexpr int kStatusSuccess = 0;
inline constexpr int kStatusIO = -36;               // the file could not be read or written
inline constexpr int kStatusParam = -50;            // an argument is out of range
inline constexpr int kStatusAllocate = -108;        // the keychain would grow past its limits
inline constexpr int kStatusDuplicateItem = -25299; // add: the item already exists
inline constexpr int kStatusItemNotFound = -25300;  // no item for service and account
inline constexpr int kStatusDecode = -26275;        // the file could not be decoded

// Limits on what one keychain holds.
inline constexpr size_t kMaxKeyLength = 4096;           // service, account (bytes)
inline constexpr size_t kMaxSecretLength = 1u << 20;    // one secret (bytes)
inline constexpr size_t kMaxItems = 100000;
inline constexpr size_t kMaxFileSize = 64u << 20;

// Keys of the attribute dictionaries: service, account, creation and
// modification dates (ns::Date).
inline constexpr const char* kAttrService = "svce";
inline constexpr const char* kAttrAccount = "acct";
inline constexpr const char* kAttrCreationDate = "cdat";
inline constexpr const char* kAttrModificationDate = "mdat";

// What a listing shows of an item: never its secret.
struct KeychainItemAttributes {
    std::string service;
    std::string account;
    double created = 0;   // seconds since 1970
    double modified = 0;
    ns::Ref<ns::Dictionary> dictionary() const;
};

// One change of a write of several items: the secret to store, or nullopt
// to delete the item.
struct KeychainValue {
    std::string account;
    std::optional<std::string> secret;
};

// The same for a write that spans several services.
struct KeychainChange {
    std::string service;
    std::string account;
    std::optional<std::string> secret;
};

// Receives the keychain's log lines (which never hold secrets). The default
// writes them to standard error. Pass nullptr to restore the default.
void setKeychainLogHandler(std::function<void(const std::string&)> handler);

// What happened in this process to a keychain file that could not be
// decoded, for a program that tells its user: the file was moved aside, or
// a copy set aside (now or by an earlier process) was deleted, or emptied
// but not deleted, by discardFilesMovedAside. Every Keychain object adds to
// one process-wide list, oldest first.
struct KeychainSetAsideEvent {
    enum class Kind { MovedAside, Deleted, EmptiedNotDeleted };
    Kind kind;
    std::string original;  // the keychain file
    std::string file;      // the copy set aside
};
std::vector<KeychainSetAsideEvent> keychainSetAsideEvents();
// Empties that list (a program starting anew in this process).
void forgetKeychainSetAsideEvents();

class Keychain : public ns::Object {
public:
    // A keychain kept in the file at `path` (created on first write).
    explicit Keychain(std::string path);

    // <home>/Library/Keychains/keychain.db for the current home folder.
    static std::string defaultPath();
    // A keychain on defaultPath(); a new object when the home folder changed.
    static ns::Ref<Keychain> defaultKeychain();

    const char* className() const override { return "Keychain"; }
    std::string description() const override;
    const std::string& path() const { return path_; }

    // Adds an item; kStatusDuplicateItem when one exists for the pair.
    int addGenericPassword(std::string_view service, std::string_view account, std::string_view secret);
    // Copies the secret into *secret (when given); kStatusItemNotFound when absent.
    int findGenericPassword(std::string_view service, std::string_view account, std::string* secret) const;
    // Replaces the secret of an existing item, keeping its creation date.
    int updateGenericPassword(std::string_view service, std::string_view account, std::string_view secret);
    // Adds or updates.
    int setGenericPassword(std::string_view service, std::string_view account, std::string_view secret);
    int deleteGenericPassword(std::string_view service, std::string_view account);
    // Sets and deletes several items of `service` in one save of the file, so
    // that a reader, a failure or a kill sees all the changes or none: what
    // belongs together (a key and its secret) is never found half replaced.
    // Deleting an item that is not there is no error; kStatusParam when an
    // account repeats or a key or secret is out of range (nothing changes).
    int setGenericPasswords(std::string_view service, const std::vector<KeychainValue>& values);
    // The same for items of several services, in one save: what the
    // sharers keep of their logins goes or stays together at a logout.
    // kStatusParam when a service and account pair repeats.
    int setGenericPasswords(const std::vector<KeychainChange>& changes);
    // The items of `service` (all items when nullopt), in the order they
    // were added; kStatusItemNotFound when there are none.
    int listGenericPasswords(std::optional<std::string_view> service,
                             std::vector<KeychainItemAttributes>* out) const;

    // Files moved aside because they could not be decoded (newest last).
    std::vector<std::string> corruptFilesMovedAside() const;
    // Removes the secrets of every file moved aside as "<file>.corrupt-..."
    // (by this object or any earlier one): such a copy holds them in clear
    // and nothing reads it back. Each regular file of that name is
    // overwritten with zeros and deleted; one that can be neither keeps its
    // bytes and is named in *remaining (when given), and the answer is
    // kStatusIO. A copy that could be emptied but not deleted holds no
    // secret any more and is not counted. Links and folders of that name
    // are left alone.
    int discardFilesMovedAside(std::vector<std::string>* remaining = nullptr);

private:
    struct Item;
    struct Store;
    int load(Store& store) const;
    int save(const Store& store) const;
    template <class F> int withStore(bool write, F&& body) const;

    std::string path_;
    mutable std::vector<std::string> movedAside_;
};

}  // namespace sec
