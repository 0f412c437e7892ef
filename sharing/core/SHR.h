// The sharing centre: the process-wide presenter of sharer screens (one at a
// time, a later one waits until the current one is gone), the favourite
// sharers per share type (user defaults), the sharers' login values and
// tokens (keychain, service "SHR_AUTH_" + sharer id), the online test, the
// framework's errors, logout of every sharer and the offline share queue.
// Beside it stand the text helpers every sharer uses. Main thread only,
// except where an operation says otherwise.
#pragma once

#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/foundation/Foundation.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/WebView.h"
#include "sharing/core/SHRItem.h"

namespace sharing {

class SHRSharer;

// Why a logout is not done.
enum class SHRLogoutFailure : int {
    None,
    // Nothing was removed: every login stays stored, as before.
    LoginsStay,
    // The logins are removed, but a copy of the keychain set aside as
    // damaged still holds older ones in clear.
    DamagedCopiesStay,
};

inline constexpr const char* kSHRErrorDomain = "sharing";
inline constexpr const char* SHRHideCurrentViewFinishedNotification = "SHRHideCurrentViewFinished";
inline constexpr const char* kSHRAuthServicePrefix = "SHR_AUTH_";
inline constexpr const char* kSHRFavoritesPrefix = "SHR_FAVS_";
inline constexpr const char* kSHRExcludedKey = "SHRExcluded";
inline constexpr const char* kSHROfflineQueueFolder = "SHR";
inline constexpr const char* kSHROfflineQueueListName = "SHROfflineQueue.plist";

class SHR : public ns::Object {
public:
    const char* className() const override { return "SHR"; }

    // The one instance, made on first use.
    static SHR* currentHelper();

    // -- Presentation -------------------------------------------------------
    static void setRootViewController(ui::ViewController* controller);
    ui::ViewController* getCurrentRootViewController();
    ui::ViewController* getTopViewController(ui::ViewController* controller);
    // The top controller above the current root, for screens that present
    // themselves.
    ui::ViewController* rootViewForCustomUIDisplay();
    void showViewController(ns::Ref<ui::ViewController> controller);
    void hideCurrentViewController() { hideCurrentViewControllerAnimated(true); }
    void hideCurrentViewControllerAnimated(bool animated);
    // Every presented screen calls this once it has disappeared.
    void viewWasDismissed();
    void showPendingView();

    ui::ViewController* currentView() const { return currentView_.get(); }
    void setCurrentView(ns::Ref<ui::ViewController> v) { currentView_ = std::move(v); }
    ui::ViewController* pendingView() const { return pendingView_.get(); }
    void setPendingView(ns::Ref<ui::ViewController> v) { pendingView_ = std::move(v); }
    bool isDismissingView() const { return isDismissingView_; }
    void setIsDismissingView(bool b) { isDismissingView_ = b; }
    ui::ViewController* rootViewController() const { return rootViewController_.get(); }
    ns::Ref<ui::ViewController> currentRootViewController() const { return currentRootViewController_.lock(); }

    // Compiled-in presentation settings.
    static ui::BarStyle barStyle();
    static ui::ModalPresentationStyle modalPresentationStyle();
    static ui::ModalTransitionStyle modalTransitionStyle();

    // -- Favourites (user defaults) -----------------------------------------
    static ns::Ref<ns::Array> favoriteSharersForType(int type);
    static void pushOnFavoritesForType(const std::string& sharerId, int type);
    static void setFavoritesForType(const ns::Ref<ns::Array>& favorites, int type);
    static ns::Ref<ns::Object> getUserExclusions();
    static void setUserExclusions(const ns::Ref<ns::Object>& exclusions);

    // -- Auth values (keychain; a read that fails gives nil) ----------------
    // A login written here (or with setDefaultsValues) comes after any
    // logout a process cut short: the record of that logout loses what the
    // write stores (see setAuthValuesForSharer), so finishing it later
    // never removes a login the caller was told is stored.
    static ns::Ref<ns::String> getAuthValueForKeyForSharer(std::string_view key, std::string_view sharerId);
    // False when the value was not stored (nil, or the keychain refused it:
    // a full disk, a read-only home); the reason is logged, without the value.
    static bool setAuthValueForKeyForSharer(const ns::String* value, std::string_view key, std::string_view sharerId);
    static bool removeAuthValueForKeyForSharer(std::string_view key, std::string_view sharerId);
    // Stores the values of one login together, in one keychain write (a nil
    // value removes its key): afterwards the keychain holds the new login
    // whole or, on failure, the one stored before, whole. False on failure
    // (logged, without the values). When the record of a logout cut short
    // names the sharer's service, the keys it names that the login does not
    // set go in the same write, and the record is rewritten without the
    // service once the login is stored; when it cannot be rewritten, the
    // keychain gets back what it held and the answer is false.
    static bool setAuthValuesForSharer(const std::vector<std::pair<std::string, ns::Ref<ns::String>>>& values,
                                       std::string_view sharerId);

    // -- User defaults that belong together -----------------------------------
    // Sets several user-defaults values as one change (a nil value removes
    // its key) and saves them with one write of the file. True when the
    // defaults hold and have saved every new value. When they could not be
    // saved (a full disk, a read-only home) the values held before stay, so
    // that what is read in this process and what the file holds are the old
    // whole; false then, with the reason logged (never the values). Keys
    // that the record of a logout cut short names leave the record once the
    // values are saved; when it cannot be rewritten, the values held before
    // are saved back and the answer is false.
    static bool setDefaultsValues(const std::vector<std::pair<std::string, ns::Ref<ns::Object>>>& values);

    // -- Logout ---------------------------------------------------------------
    // Removes the logins of every sharer of the list's "services" as one
    // change (see logoutOfSharers). False when the logout is not done (see
    // logoutOfSharers); also false when there is no sharer list (nothing is
    // known to log out of), with *why LoginsStay.
    static bool logoutOfAll(SHRLogoutFailure* why = nullptr);
    static bool logoutOfService(const std::string& sharerId, SHRLogoutFailure* why = nullptr);
    // Removes what the sharers keep of their logins (SHRSharer::storedLogin)
    // from the keychain and the user defaults: all of it, or, on failure,
    // none. A record of what goes is written first (SHRLogoutRecord), so
    // that a kill in the middle is finished at the next start; then the
    // keychain, in one write; then the user defaults, in one change; when
    // those cannot be saved, the keychain's values are written back. Only
    // when both are gone does each sharer forget what it holds in memory
    // (SHRSharer::didLogout: tokens, cookies). Last, the copies of the
    // keychain set aside as damaged lose the passwords they hold in clear.
    // True only when all of that is done. False, with the reason logged and
    // in *why: LoginsStay when nothing was removed, DamagedCopiesStay when
    // the logins are gone but a damaged copy kept its passwords.
    static bool logoutOfSharers(const std::vector<ns::Ref<SHRSharer>>& sharers, SHRLogoutFailure* why = nullptr);
    // What the user is told of a logout that is not done.
    static std::string logoutFailureText(SHRLogoutFailure why);
    // Finishes the logout a killed process left under way (its record is in
    // the home folder): its logins are removed from the keychain and the
    // user defaults, and the keychain's damaged copies lose their passwords.
    // True when there was none, or it is finished; false (logged once) when
    // its logins could not be removed yet: the record stays, and the
    // sharing layer tries again before each later login read or write in
    // this process (startForCurrentHome) and at the next start. The app
    // calls it as it starts.
    static bool finishInterruptedLogout();
    // The sharing layer's start in this process for the current home
    // folder: finishInterruptedLogout, once (again after reset() or when the
    // home folder changes), and again at each call while a cut-short logout
    // could not be finished. Every sharer and every login read or write
    // calls it first, so a process that uses the sharing layer alone
    // finishes a cut-short logout too.
    static void startForCurrentHome();
    // Why the logout a process cut short is not finished yet, for the user
    // ("the keychain cannot be written", "the user defaults cannot be
    // saved"); "" when there is none left for the current home folder.
    static std::string unfinishedLogoutReason();

    // -- Other ------------------------------------------------------------------
    // True unless the internet connection's reachability is not-reachable.
    static bool connected();
    // Error of domain "sharing", code 1, whose localised description is the
    // formatted text.
    template <class... Args>
    static ns::Ref<ns::Error> error(std::string_view format, const Args&... args) {
        return errorWithDescription(ns::format(format, args...));
    }
    static ns::Ref<ns::Error> errorWithDescription(const std::string& description);
    // "SHRSharers.plist" of the bundle, read once; nil when missing.
    static ns::Ref<ns::Dictionary> sharersDictionary();

    // -- Offline queue (caches folder) -----------------------------------------
    // The queue folder (made when missing). Its first use in a process (per
    // home folder) clears what a killed process left there: temporary files
    // of unfinished saves, and data files that no entry of a readable list
    // names any more.
    static std::string offlineQueuePath();
    static std::string offlineQueueListPath();
    static ns::Ref<ns::MutableArray> getOfflineQueueList();
    static bool saveOfflineQueueList(const ns::Array* list);
    static bool addToOfflineQueueForSharer(const ns::Ref<SHRItem>& item, const std::string& sharerId);
    // Starts one re-send for each stored entry that is not being re-sent
    // already, one at a time. The list keeps each entry until its re-send
    // has been handed over (SHROfflineSharer) and is rewritten before the
    // next share goes out, so a process killed during a flush loses no share
    // and sends again at most the one whose reply had not been recorded.
    // Nothing is sent while the list cannot be rewritten (a read-only
    // folder, a full disk): first the shares already sent must leave it.
    static void flushOfflineQueue();
    // Takes a handed-over entry off the list (the list file goes with the
    // last entry) and deletes its data file (a folder in its place too).
    // When the list cannot be rewritten the entry stays listed but is not
    // sent again by this process until a later flush removes it; the flush
    // under way stops, and the reason is logged. False then.
    static bool removeFromOfflineQueue(const ns::Dictionary& entry);
    // The name of an entry's data file: its uid, when that is a plain file
    // name of the queue folder; "" otherwise.
    static std::string offlineDataFileName(const ns::Dictionary& entry);
    ns::OperationQueue* offlineQueue() const { return offlineQueue_.get(); }

    // Back to a fresh process: forgets presentation state, the pending
    // screen, the cached sharer list and the offline queue (tests, and a
    // simulator restart).
    static void reset();

private:
    ns::Ref<ui::ViewController> currentView_;
    ns::Ref<ui::ViewController> pendingView_;
    bool isDismissingView_ = false;
    ns::Ref<ns::OperationQueue> offlineQueue_;
    // Re-sends under way, by entry, so that a second flush does not start
    // them again.
    std::map<std::string, ns::Weak<ns::Operation>> offlineResends_;
    // Entries whose re-send was handed over but that could not be taken off
    // the list: never sent again, removed first by the next flush.
    std::set<std::string> offlineUnremoved_;
    // The queue folder whose leftovers were cleared in this process.
    std::string offlineFolderChecked_;
    // The home folder whose cut-short logout was looked for in this process,
    // and whether that logout is still unfinished (and why).
    std::string startedForHome_;
    bool logoutUnfinished_ = false;
    std::string logoutUnfinishedReason_;
    ns::Ref<ui::ViewController> rootViewController_;
    ns::Weak<ui::ViewController> currentRootViewController_;
};

// -- Text helpers ------------------------------------------------------------

// The translation of `key` from "Sharing.bundle" (the key itself when the
// bundle or the key is missing).
std::string SHRLocalizedStringFormat(std::string_view key);
// The translation used as the format for `args`.
template <class... Args>
std::string SHRLocalizedString(std::string_view key, const Args&... args) {
    if constexpr (sizeof...(Args) == 0) return SHRLocalizedStringFormat(key);
    else return ns::format(SHRLocalizedStringFormat(key), args...);
}
// Form-value escaping: "&amp;" becomes "&", then every byte but the
// unreserved characters (letters, digits, "-", ".", "_", "~") is
// percent-encoded, so the value reads back whole from a form body or a URL
// query ("+", "=", "&", "?", "#", "/", "@", ":" and "%" included). nil gives "".
std::string SHREncode(const ns::String* text);
std::string SHREncode(std::string_view text);
// A user name or password for a form body or a URL: exactly as typed
// (no "&amp;" rewriting), every byte but the unreserved characters
// percent-encoded. nil gives "".
std::string SHREncodeCredential(const ns::String* text);
// The URL's absolute string with every reserved character escaped too.
std::string SHREncodeURL(const ns::URL* url);
// Text put into an XML document ("&", "<", ">" and the double quote as
// entities, the characters XML does not allow dropped), so the document
// stays well-formed whatever the text holds. The text is UTF-8.
std::string SHRXMLEscaped(std::string_view text);
// Text put between the quotes of a JSON string (quote, backslash and control
// characters escaped), so the text cannot end the string or break the document.
std::string SHRJSONEscaped(std::string_view text);

// MD5 of the bytes as 32 lower-case hexadecimal digits.
std::string md5(const ns::Data& data);
// Deletes every cookie the shared storage would send to `url`.
void deleteCookiesForURL(const ns::URL* url);
// The page title ("document.title") of a web view.
std::string pageTitle(ui::WebView* webView);

}  // namespace sharing
