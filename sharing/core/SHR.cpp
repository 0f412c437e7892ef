#include "sharing/core/SHR.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <set>

#include "net/http/Reachability.h"
#include "platform/foundation/FileIO.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/PercentEncoding.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Timer.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/network/HTTPCookie.h"
#include "platform/security/Digest.h"
#include "platform/security/Random.h"
#include "platform/ui/Application.h"
#include "platform/ui/Window.h"
#include "sharing/core/ImageCoding.h"
#include "sharing/core/KeychainStore.h"
#include "sharing/core/SHRLogoutRecord.h"
#include "sharing/core/SHROfflineSharer.h"
#include "sharing/core/SHRSharer.h"

namespace sharing {

namespace {
SHR*& instanceSlot() {
    static SHR* instance = nullptr;
    return instance;
}
std::mutex& sharersMutex() {
    static std::mutex m;
    return m;
}
ns::Ref<ns::Dictionary>& sharersCache() {
    static ns::Ref<ns::Dictionary> d;
    return d;
}
bool& sharersLoaded() {
    static bool b = false;
    return b;
}
// Orders what reads or changes the record of a logout under way against
// each other: the start (and its later tries), a logout, and the login
// writes that take their items out of the record. Also guards the home
// folder the sharing layer was started for.
std::recursive_mutex& loginsMutex() {
    static std::recursive_mutex m;
    return m;
}
}  // namespace

SHR* SHR::currentHelper() {
    SHR*& slot = instanceSlot();
    if (!slot) slot = ns::make<SHR>().leak();  // lives for the process
    return slot;
}

void SHR::reset() {
    SHR* s = currentHelper();
    s->currentView_ = nullptr;
    s->pendingView_ = nullptr;
    s->isDismissingView_ = false;
    if (s->offlineQueue_) s->offlineQueue_->cancelAllOperations();
    s->offlineQueue_ = nullptr;
    s->offlineResends_.clear();
    s->offlineUnremoved_.clear();
    s->offlineFolderChecked_.clear();
    {
        std::lock_guard<std::recursive_mutex> g(loginsMutex());
        s->startedForHome_.clear();
        s->logoutUnfinished_ = false;
    }
    s->rootViewController_ = nullptr;
    s->currentRootViewController_ = nullptr;
    std::lock_guard<std::mutex> g(sharersMutex());
    sharersCache() = nullptr;
    sharersLoaded() = false;
}

// -- Presentation -----------------------------------------------------------------

void SHR::setRootViewController(ui::ViewController* controller) {
    currentHelper()->rootViewController_ = controller;
}

ui::ViewController* SHR::getCurrentRootViewController() {
    if (rootViewController_) return rootViewController_.get();
    ui::Application* app = ui::Application::shared();
    ui::Window* window = app->keyWindow();
    if (!window || window->windowLevel() != 0) {
        window = nullptr;
        for (const auto& w : app->windows())
            if (w->windowLevel() == 0) { window = w.get(); break; }
    }
    // The window's root controller stands for the next responder of its
    // first subview.
    return window ? window->rootViewController() : nullptr;
}

ui::ViewController* SHR::getTopViewController(ui::ViewController* controller) {
    while (controller && controller->modalViewController()) controller = controller->modalViewController();
    return controller;
}

ui::ViewController* SHR::rootViewForCustomUIDisplay() {
    return getTopViewController(getCurrentRootViewController());
}

void SHR::showViewController(ns::Ref<ui::ViewController> controller) {
    if (!controller) return;
    ui::ViewController* root = getCurrentRootViewController();
    currentRootViewController_ = root;
    ui::ViewController* top = getTopViewController(root);
    if (currentView_) {
        pendingView_ = controller;
        if (ui::ViewController* parent = currentView_->presentingViewController())
            parent->dismissViewControllerAnimated(true);
        return;
    }
    ns::Ref<ui::ViewController> presented;
    if (auto* nav = ns::as<ui::NavigationController>(controller.get())) {
        nav->setModalPresentationStyle(modalPresentationStyle());
        nav->setModalTransitionStyle(modalTransitionStyle());
        presented = controller;
        if (top) top->presentViewController(presented, true);
        nav->navigationBar()->setBarStyle(barStyle());
    } else {
        auto wrapper = ui::NavigationController::withRoot(controller);
        wrapper->setModalPresentationStyle(modalPresentationStyle());
        wrapper->setModalTransitionStyle(modalTransitionStyle());
        wrapper->navigationBar()->setBarStyle(barStyle());
        presented = wrapper;
        if (top) top->presentViewController(presented, true);
    }
    if (!top) std::fprintf(stderr, "SHR: no root view controller to present on\n");
    currentView_ = presented;
    pendingView_ = nullptr;
}

void SHR::hideCurrentViewControllerAnimated(bool animated) {
    if (isDismissingView_ || !currentView_) return;
    if (ui::ViewController* parent = currentView_->parentViewController()) {
        isDismissingView_ = true;
        parent->dismissViewControllerAnimated(animated);
    } else if (ui::ViewController* presenting = currentView_->presentingViewController()) {
        isDismissingView_ = true;
        presenting->dismissViewControllerAnimated(animated, [] {
            ns::OperationQueue::mainQueue()->addOperation(ns::BlockOperation::make([] {
                ns::NotificationCenter::defaultCenter()->postNotification(SHRHideCurrentViewFinishedNotification);
            }));
        });
    } else {
        currentView_ = nullptr;
    }
}

void SHR::viewWasDismissed() {
    isDismissingView_ = false;
    currentView_ = nullptr;
    currentRootViewController_ = nullptr;
    if (pendingView_) {
        ns::RunLoop::main()->performAfterDelay(0.02, [] { SHR::currentHelper()->showPendingView(); });
    }
}

void SHR::showPendingView() {
    if (pendingView_) {
        auto v = pendingView_;
        showViewController(v);
    }
}

ui::BarStyle SHR::barStyle() { return ui::BarStyle::Default; }
ui::ModalPresentationStyle SHR::modalPresentationStyle() { return ui::ModalPresentationStyle::FormSheet; }
ui::ModalTransitionStyle SHR::modalTransitionStyle() { return ui::ModalTransitionStyle::CoverVertical; }

// -- Favourites ----------------------------------------------------------------------

namespace {
std::string favoritesKey(int type) { return std::string(kSHRFavoritesPrefix) + std::to_string(type); }

ns::Ref<ns::Array> defaultFavorites(int type) {
    switch (type) {
        case SHRShareTypeURL: return ns::Array::make({ns::str("SHRTwitter"), ns::str("SHRFacebook")});
        case SHRShareTypeText: return ns::Array::make({ns::str("SHRMail"), ns::str("SHRTwitter"), ns::str("SHRFacebook")});
        case SHRShareTypeImage: return ns::Array::make({ns::str("SHRMail"), ns::str("SHRFacebook")});
        case SHRShareTypeFile: return ns::Array::make({ns::str("SHRMail")});
        default: return ns::Array::make();
    }
}
}  // namespace

ns::Ref<ns::Array> SHR::favoriteSharersForType(int type) {
    auto defaults = ns::UserDefaults::standardUserDefaults();
    ns::Ref<ns::Array> favorites = defaults->arrayForKey(favoritesKey(type));
    if (!favorites) {
        favorites = defaultFavorites(type);
        setFavoritesForType(favorites, type);
    }
    ns::Ref<ns::Object> excluded = defaults->objectForKey(kSHRExcludedKey);
    if (excluded) {
        auto copy = favorites->mutableCopy();
        if (auto* d = ns::as<ns::Dictionary>(excluded.get())) {
            for (size_t i = 0; i < d->count(); ++i) copy->removeObject(*d->keyAtIndex(i));
        }
        setFavoritesForType(copy, type);
        return copy;
    }
    return favorites;
}

void SHR::pushOnFavoritesForType(const std::string& sharerId, int type) {
    auto list = favoriteSharersForType(type)->mutableCopy();
    auto id = ns::str(sharerId);
    list->removeObject(*id);
    list->insertObjectAtIndex(id, 0);
    while (list->count() > 3) list->removeLastObject();
    setFavoritesForType(list, type);
}

void SHR::setFavoritesForType(const ns::Ref<ns::Array>& favorites, int type) {
    auto defaults = ns::UserDefaults::standardUserDefaults();
    defaults->setObjectForKey(favorites, favoritesKey(type));
    defaults->synchronize();
}

ns::Ref<ns::Object> SHR::getUserExclusions() {
    return ns::UserDefaults::standardUserDefaults()->objectForKey(std::string(kSHRFavoritesPrefix) + "Exclusions");
}

void SHR::setUserExclusions(const ns::Ref<ns::Object>& exclusions) {
    auto defaults = ns::UserDefaults::standardUserDefaults();
    defaults->setObjectForKey(exclusions, std::string(kSHRFavoritesPrefix) + "Exclusions");
    defaults->synchronize();
}

// -- Auth values ---------------------------------------------------------------------------

ns::Ref<ns::String> SHR::getAuthValueForKeyForSharer(std::string_view key, std::string_view sharerId) {
    startForCurrentHome();
    auto service = ns::str(std::string(kSHRAuthServicePrefix) + std::string(sharerId));
    return KeychainStore::passwordForService(service.get(), ns::str(key).get());
}

namespace {
std::string authService(std::string_view sharerId) { return std::string(kSHRAuthServicePrefix) + std::string(sharerId); }

// Writes the values of one sharer's login in one keychain write (a nil
// value removes its key). A record of a logout under way that names the
// sharer's service loses it: the new login comes after that logout, so
// finishing the logout later must not remove it. The keys the record names
// and this login does not set belong to the login logged out of, and go in
// the same write. The record is rewritten only once the login is stored (a
// kill in between leaves the record naming the new login, which the next
// start removes: the user was not told it was stored yet). When the record
// cannot be rewritten, the keychain gets back what it held and the login
// counts as not stored. The reason is logged, never a value.
bool storeLogin(std::vector<std::pair<std::string, ns::Ref<ns::String>>> values, std::string_view sharerId) {
    std::lock_guard<std::recursive_mutex> g(loginsMutex());
    auto service = ns::str(authService(sharerId));
    auto report = [&](const ns::Ref<ns::Error>& error) {
        std::fprintf(stderr, "SHR: the login of %.*s could not be stored (keychain status %ld)\n",
                     static_cast<int>(sharerId.size()), sharerId.data(), error ? static_cast<long>(error->code()) : 0L);
        return false;
    };
    ns::Ref<ns::Error> error;
    std::optional<SHRLogoutRecord> record = SHRLogoutRecord::find();
    SHRLogoutRecord rest;
    bool named = false;
    if (record) {
        rest.defaultsKeys = record->defaultsKeys;
        std::set<std::string> accounts;
        for (const auto& [account, value] : values) accounts.insert(account);
        for (const auto& item : record->keychainItems) {
            if (item.first != service->view()) {
                rest.keychainItems.push_back(item);
                continue;
            }
            named = true;
            if (accounts.insert(item.second).second) values.emplace_back(item.second, nullptr);
        }
    }
    if (!named) return KeychainStore::setPasswords(values, service.get(), &error) || report(error);
    std::vector<KeychainStore::Change> before;
    for (const auto& [account, value] : values)
        before.push_back({std::string(service->view()), account,
                          KeychainStore::passwordForService(service.get(), ns::str(account).get())});
    if (!KeychainStore::setPasswords(values, service.get(), &error)) return report(error);
    if (rest.empty() ? SHRLogoutRecord::remove() : rest.write(&error)) return true;
    int why = errno;
    bool restored = KeychainStore::setPasswordsForServices(before);
    std::fprintf(stderr,
                 "SHR: the login of %.*s could not be stored: the record of a logout cut short, which names it, could "
                 "not be rewritten (%s)%s\n",
                 static_cast<int>(sharerId.size()), sharerId.data(),
                 error ? error->localizedDescription().c_str() : std::strerror(why),
                 restored ? "" : "; the next start removes it");
    return false;
}
}  // namespace

bool SHR::setAuthValueForKeyForSharer(const ns::String* value, std::string_view key, std::string_view sharerId) {
    startForCurrentHome();
    if (!value) {
        std::fprintf(stderr, "SHR: the login of %.*s could not be stored (keychain status %ld)\n",
                     static_cast<int>(sharerId.size()), sharerId.data(), kKeychainMissingArgument);
        return false;
    }
    return storeLogin({{std::string(key), ns::Ref<ns::String>(const_cast<ns::String*>(value))}}, sharerId);
}

bool SHR::removeAuthValueForKeyForSharer(std::string_view key, std::string_view sharerId) {
    startForCurrentHome();
    auto service = ns::str(authService(sharerId));
    return KeychainStore::deletePasswordForService(service.get(), ns::str(key).get());
}

bool SHR::setAuthValuesForSharer(const std::vector<std::pair<std::string, ns::Ref<ns::String>>>& values,
                                 std::string_view sharerId) {
    startForCurrentHome();
    return storeLogin(values, sharerId);
}

// -- User defaults that belong together ---------------------------------------------------------

namespace {
// One write of the user defaults: every value is saved, or none is and the
// values held before stay, in memory and in the file.
bool saveDefaultsValues(const std::vector<std::pair<std::string, ns::Ref<ns::Object>>>& values, bool quiet = false) {
    auto defaults = ns::UserDefaults::standardUserDefaults();
    bool changes = false;
    for (const auto& [key, value] : values) {
        ns::Ref<ns::Object> old = defaults->objectForKey(key);
        changes = changes || !(old ? value && old->isEqual(*value) : !value);
    }
    if (!changes) return true;  // nothing to save
    ns::Ref<ns::Error> error;
    if (defaults->setObjectsForKeys(values, &error)) return true;
    if (!quiet)
        std::fprintf(stderr, "SHR: the user defaults could not be saved (%s); the values held before are kept\n",
                     error ? error->localizedDescription().c_str() : "unknown error");
    return false;
}
}  // namespace

bool SHR::setDefaultsValues(const std::vector<std::pair<std::string, ns::Ref<ns::Object>>>& values) {
    startForCurrentHome();
    std::lock_guard<std::recursive_mutex> g(loginsMutex());
    // A record of a logout under way that names a key set here loses it
    // once the values are saved (see storeLogin): a value stored now comes
    // after that logout.
    std::optional<SHRLogoutRecord> record = SHRLogoutRecord::find();
    SHRLogoutRecord rest;
    bool named = false;
    if (record) {
        rest.keychainItems = record->keychainItems;
        std::set<std::string> keys;
        for (const auto& [key, value] : values) keys.insert(key);
        for (const auto& key : record->defaultsKeys) {
            if (keys.count(key)) named = true;
            else rest.defaultsKeys.push_back(key);
        }
    }
    if (!named) return saveDefaultsValues(values);
    auto defaults = ns::UserDefaults::standardUserDefaults();
    std::vector<std::pair<std::string, ns::Ref<ns::Object>>> before;
    for (const auto& [key, value] : values) before.emplace_back(key, defaults->objectForKey(key));
    if (!saveDefaultsValues(values)) return false;
    ns::Ref<ns::Error> error;
    if (rest.empty() ? SHRLogoutRecord::remove() : rest.write(&error)) return true;
    int why = errno;
    bool restored = saveDefaultsValues(before);
    std::fprintf(stderr,
                 "SHR: the user defaults could not be saved: the record of a logout cut short, which names them, could "
                 "not be rewritten (%s)%s\n",
                 error ? error->localizedDescription().c_str() : std::strerror(why),
                 restored ? "" : "; the next start removes them");
    return false;
}

// -- Logout and others -------------------------------------------------------------------------

bool SHR::logoutOfAll(SHRLogoutFailure* why) {
    if (why) *why = SHRLogoutFailure::LoginsStay;
    auto sharers = sharersDictionary();
    ns::Ref<ns::Array> services(sharers ? sharers->arrayForKey("services") : nullptr);
    if (!services) {
        std::fprintf(stderr, "SHR: there is no sharer list, so no login was removed\n");
        return false;
    }
    std::vector<ns::Ref<SHRSharer>> all;
    for (ns::Object* o : *services)
        if (auto* id = ns::as<ns::String>(o))
            if (auto sharer = SHRSharer::sharerWithClassName(std::string(id->utf8()))) all.push_back(sharer);
    return logoutOfSharers(all, why);
}

bool SHR::logoutOfService(const std::string& sharerId, SHRLogoutFailure* why) {
    return SHRSharer::logoutSharer(sharerId, why);
}

std::string SHR::logoutFailureText(SHRLogoutFailure why) {
    if (why == SHRLogoutFailure::DamagedCopiesStay)
        return SHRLocalizedString("Your logins were removed, but a damaged copy of the keychain that could not be "
                                  "deleted still holds older ones. Please try again.");
    return SHRLocalizedString("Your logins could not be removed. Please try again.");
}

namespace {
// Removes the keychain items a record names, in one keychain write.
bool removeKeychainItems(const SHRLogoutRecord& record, ns::Ref<ns::Error>* error) {
    std::vector<KeychainStore::Change> removals;
    for (const auto& [service, account] : record.keychainItems) removals.push_back({service, account, nullptr});
    return KeychainStore::setPasswordsForServices(removals, error);
}

std::vector<std::pair<std::string, ns::Ref<ns::Object>>> defaultsRemovals(const SHRLogoutRecord& record) {
    std::vector<std::pair<std::string, ns::Ref<ns::Object>>> removals;
    for (const auto& key : record.defaultsKeys) removals.emplace_back(key, nullptr);
    return removals;
}

// The passwords of the keychain's damaged copies go with every logout:
// nothing reads those copies back, and they hold logins in clear.
bool discardDamagedKeychainCopies() {
    std::vector<std::string> remaining;
    if (KeychainStore::discardDamagedCopies(&remaining)) return true;
    for (const auto& file : remaining)
        std::fprintf(stderr, "SHR: %s, a copy of the keychain set aside as damaged, still holds older logins\n",
                     file.c_str());
    if (remaining.empty()) std::fprintf(stderr, "SHR: the copies of the keychain set aside as damaged cannot be looked for\n");
    return false;
}
}  // namespace

bool SHR::logoutOfSharers(const std::vector<ns::Ref<SHRSharer>>& sharers, SHRLogoutFailure* why) {
    if (why) *why = SHRLogoutFailure::LoginsStay;
    startForCurrentHome();
    SHRLogoutRecord record;
    std::set<std::pair<std::string, std::string>> authSeen;
    std::set<std::string> defaultsSeen;
    for (const auto& sharer : sharers) {
        if (!sharer) continue;
        SHRStoredLogin login = sharer->storedLogin();
        std::string service = authService(sharer->sharerId());
        for (const std::string& key : login.authKeys)
            if (authSeen.insert({service, key}).second) record.keychainItems.emplace_back(service, key);
        for (const std::string& key : login.defaultsKeys)
            if (defaultsSeen.insert(key).second) record.defaultsKeys.push_back(key);
    }
    std::unique_lock<std::recursive_mutex> lock(loginsMutex());
    SHR* self = currentHelper();
    // A logout that could not be finished before is finished by this one;
    // when this one fails, its record is left as it was.
    std::optional<SHRLogoutRecord> earlier = SHRLogoutRecord::find();
    if (earlier) record.merge(*earlier);
    auto dropRecord = [&] { return earlier ? earlier->write() : SHRLogoutRecord::remove(); };
    std::vector<KeychainStore::Change> restore;
    for (const auto& [service, account] : record.keychainItems)
        if (auto old = KeychainStore::passwordForService(ns::str(service).get(), ns::str(account).get()))
            restore.push_back({service, account, old});

    ns::Ref<ns::Error> error;
    if (!record.write(&error)) {
        std::fprintf(stderr, "SHR: the logout could not be recorded (%s); every login stays stored\n",
                     error ? error->localizedDescription().c_str() : "unknown error");
        return false;
    }
    if (!removeKeychainItems(record, &error)) {
        dropRecord();
        std::fprintf(stderr, "SHR: the logins could not be removed (keychain status %ld); they stay stored\n",
                     error ? static_cast<long>(error->code()) : 0L);
        return false;
    }
    if (!saveDefaultsValues(defaultsRemovals(record))) {
        // The keychain's logins go back: a logout that failed leaves every
        // login as it was.
        if (KeychainStore::setPasswordsForServices(restore, &error)) {
            dropRecord();
            std::fprintf(stderr, "SHR: the logins could not be removed from the user defaults; they stay stored\n");
        } else {
            // The record stays: it is finished before the next login read
            // or write, or by the next start, rather than leave the
            // keychain's logins gone and the others stored.
            self->logoutUnfinished_ = true;
            self->logoutUnfinishedReason_ = "the user defaults cannot be saved";
            std::fprintf(stderr,
                         "SHR: the logins could not be removed from the user defaults, and those of the keychain "
                         "could not be put back (keychain status %ld); they are all removed as soon as the user "
                         "defaults can be saved\n",
                         error ? static_cast<long>(error->code()) : 0L);
        }
        return false;
    }
    if (!SHRLogoutRecord::remove())
        std::fprintf(stderr, "SHR: the record of the logout could not be deleted (%s)\n", std::strerror(errno));
    // What an earlier logout left unfinished is done too.
    self->logoutUnfinished_ = false;
    lock.unlock();
    for (const auto& sharer : sharers)
        if (sharer) sharer->didLogout();
    if (!discardDamagedKeychainCopies()) {
        if (why) *why = SHRLogoutFailure::DamagedCopiesStay;
        return false;
    }
    if (why) *why = SHRLogoutFailure::None;
    return true;
}

bool SHR::finishInterruptedLogout() {
    std::lock_guard<std::recursive_mutex> g(loginsMutex());
    SHR* self = currentHelper();
    std::string home = ns::Paths::homeDirectory();
    // A later try after one that failed in this process for this home
    // says nothing more unless it finishes.
    bool told = self->startedForHome_ == home && self->logoutUnfinished_;
    self->startedForHome_ = home;
    auto unfinished = [&](const std::string& reason, const std::string& detail) {
        if (!told)
            std::fprintf(stderr, "SHR: a logout cut short could not be finished (%s%s); the logins it names are "
                                 "removed as soon as it can be\n",
                         reason.c_str(), detail.c_str());
        self->logoutUnfinished_ = true;
        self->logoutUnfinishedReason_ = reason;
        return false;
    };
    auto record = SHRLogoutRecord::find();
    if (record) {
        ns::Ref<ns::Error> error;
        if (!removeKeychainItems(*record, &error))
            return unfinished("the keychain cannot be written",
                              ", keychain status " + std::to_string(error ? static_cast<long>(error->code()) : 0L));
        if (!saveDefaultsValues(defaultsRemovals(*record), told))
            return unfinished("the user defaults cannot be saved", "");
        if (!SHRLogoutRecord::remove())
            std::fprintf(stderr, "SHR: the record of a finished logout could not be deleted (%s)\n",
                         std::strerror(errno));
        discardDamagedKeychainCopies();
        std::fprintf(stderr, "SHR: a logout cut short was finished\n");
    }
    self->logoutUnfinished_ = false;
    return true;
}

void SHR::startForCurrentHome() {
    std::lock_guard<std::recursive_mutex> g(loginsMutex());
    SHR* s = currentHelper();
    if (s->startedForHome_ == ns::Paths::homeDirectory() && !s->logoutUnfinished_) return;
    finishInterruptedLogout();
}

std::string SHR::unfinishedLogoutReason() {
    std::lock_guard<std::recursive_mutex> g(loginsMutex());
    SHR* s = currentHelper();
    bool here = s->startedForHome_ == ns::Paths::homeDirectory();
    return here && s->logoutUnfinished_ ? s->logoutUnfinishedReason_ : std::string();
}

bool SHR::connected() {
    auto r = http::Reachability::reachabilityForInternetConnection();
    return r && r->currentReachabilityStatus() != http::NotReachable;
}

ns::Ref<ns::Error> SHR::errorWithDescription(const std::string& description) {
    return ns::Error::withDescription(kSHRErrorDomain, 1, description);
}

ns::Ref<ns::Dictionary> SHR::sharersDictionary() {
    std::lock_guard<std::mutex> g(sharersMutex());
    if (!sharersLoaded()) {
        sharersLoaded() = true;
        sharersCache() = ns::dictionaryWithContentsOfFile(ns::Paths::pathForResource("SHRSharers", "plist"));
    }
    return sharersCache();
}

// -- Text helpers -------------------------------------------------------------------------------------

std::string SHRLocalizedStringFormat(std::string_view key) {
    static std::mutex m;
    static ns::Ref<ns::Dictionary> table;
    static std::string loadedFrom;
    std::string path = ns::Paths::join(ns::Paths::bundleResourcePath(), "Sharing.bundle/en.lproj/Localizable.strings");
    {
        std::lock_guard<std::mutex> g(m);
        if (loadedFrom != path) {
            loadedFrom = path;
            table = access(path.c_str(), R_OK) == 0 ? ns::dictionaryWithContentsOfFile(path) : nullptr;
        }
        if (table)
            if (ns::String* s = table->stringForKey(key)) return std::string(s->utf8());
    }
    return std::string(key);
}

std::string SHREncode(std::string_view text) {
    std::string s(text);
    for (size_t pos; (pos = s.find("&amp;")) != std::string::npos;) s.replace(pos, 5, "&");
    return ns::percentEncodeUnreserved(s);
}

std::string SHREncode(const ns::String* text) { return text ? SHREncode(text->view()) : std::string(); }

std::string SHREncodeCredential(const ns::String* text) {
    return text ? ns::percentEncodeUnreserved(text->view()) : std::string();
}

std::string SHRXMLEscaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        auto byte = static_cast<unsigned char>(c);
        // Characters XML 1.0 does not allow, not even as references, are
        // dropped: the control characters other than tab, line feed and
        // carriage return, and U+FFFE and U+FFFF (EF BF BE, EF BF BF).
        if (byte < 0x20 && c != '\t' && c != '\n' && c != '\r') continue;
        std::string_view three = text.substr(i, 3);
        if (three == "\xEF\xBF\xBE" || three == "\xEF\xBF\xBF") {
            i += 2;
            continue;
        }
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

std::string SHRJSONEscaped(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            out += "\\u00";
            out += kHex[byte >> 4];
            out += kHex[byte & 0xF];
        } else {
            out += c;
        }
    }
    return out;
}

std::string SHREncodeURL(const ns::URL* url) {
    if (!url) return {};
    return ns::addPercentEscapes(url->absoluteText(), {}, "!*'();:@&=+$,/?%#[]");
}

std::string md5(const ns::Data& data) { return sec::md5Hex(data.view()); }

void deleteCookiesForURL(const ns::URL* url) {
    if (url) net::HTTPCookieStorage::sharedHTTPCookieStorage().deleteCookiesForURL(*url);
}

std::string pageTitle(ui::WebView* webView) {
    return webView ? webView->stringByEvaluatingJavaScriptFromString("document.title") : std::string();
}

}  // namespace sharing
