#include "sharing/sharers/facebook/SHRFacebook.h"

#include <cstdio>
#include <ctime>
#include <mutex>
#include <random>

#include "platform/foundation/FileIO.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Color.h"
#include "platform/ui/NavigationController.h"
#include "sharing/core/ImageCoding.h"
#include "sharing/core/SHR.h"
#include "sharing/core/SHRStorableJSON.h"

namespace sharing {

namespace {

// Configuration: the application identifier registered for the app, the
// product's name and its web site (the "Get ..." action under each post).
constexpr const char* kApplicationId = "130218517054823";
constexpr const char* kApplicationName = "Fenwarel App";
constexpr const char* kProductWebSite = "http://www.fenwarel.com/";
constexpr const char* kImageFolder = "SHRImage";

std::mutex& facebookLock() {
    static std::mutex m;
    return m;
}
ns::Ref<Facebook>& sharedFacebook() {
    static ns::Ref<Facebook> f;
    return f;
}

ns::UserDefaults& defaults() { return *ns::UserDefaults::standardUserDefaults(); }

}  // namespace

std::string SHRFacebook::applicationId() { return kApplicationId; }
std::string SHRFacebook::productWebSite() { return kProductWebSite; }

void SHRFacebook::registerClass() {
    SHRSharer::registerSharerClass("SHRFacebook", [] { return ns::Ref<SHRSharer>(ns::make<SHRFacebook>()); });
}

namespace {
// Known by name as soon as the class is part of the program.
const bool registered = (SHRFacebook::registerClass(), true);
}  // namespace

SHRFacebook::~SHRFacebook() {
    // The client links to its session delegate weakly, so it reads nil
    // from here on; nothing else refers to this sharer.
}

Facebook* SHRFacebook::facebook() {
    std::lock_guard<std::mutex> g(facebookLock());
    auto& f = sharedFacebook();
    if (!f) f = Facebook::initWithAppIdAndDelegate(ns::str(kApplicationId), nullptr);
    return f.get();
}

void SHRFacebook::resetSharedClient() {
    std::lock_guard<std::mutex> g(facebookLock());
    sharedFacebook() = nullptr;
}

bool SHRFacebook::flushAccessToken() {
    // The three keys go together, or none does: a token that stayed in the
    // file while this process forgot it would come back at the next start.
    if (!SHR::setDefaultsValues(
            {{kSHRFacebookAccessToken, nullptr}, {kSHRFacebookExpiryDate, nullptr}, {kSHRFacebookUserInfo, nullptr}})) {
        std::fprintf(stderr, "SHRFacebook: the refused login could not be removed; it stays stored\n");
        return false;
    }
    auto* fb = facebook();
    fb->setAccessToken(nullptr);
    fb->setExpirationDate(nullptr);
    return true;
}

std::string SHRFacebook::storedImagePath(const ui::Image* image) {
    auto png = imagePNGRepresentation(image);
    if (!png) return {};
    std::string folder = ns::Paths::cachesDirectory() + "/" + kImageFolder;
    auto fm = ns::FileManager::defaultManager();
    if (!fm->fileExistsAtPath(folder) && !fm->createDirectoryAtPath(folder, true)) return {};
    static std::random_device device;
    std::mt19937 rng(device());
    for (int attempt = 0; attempt < 8; ++attempt) {
        std::string path = ns::format("%@/img-%i-%i", folder, static_cast<int>(std::time(nullptr)),
                                      static_cast<int>(static_cast<int32_t>(rng())));
        if (fm->fileExistsAtPath(path)) continue;
        if (ns::writeFileAtomically(path, png->view(), nullptr, 0600)) return path;
        return {};
    }
    return {};
}

ns::Ref<ui::Image> SHRFacebook::storedImage(const std::string& path) {
    if (path.empty()) return nullptr;
    auto bytes = ns::readFile(path);
    ns::FileManager::defaultManager()->removeItemAtPath(path);
    if (!bytes) return nullptr;
    return imageWithData(*bytes);
}

bool SHRFacebook::handleOpenURL(const ns::URL* url) { return facebook()->handleOpenURL(url); }

SHRStoredLogin SHRFacebook::storedLogin() const {
    return {{}, {kSHRStoredItem, kSHRFacebookAccessToken, kSHRFacebookExpiryDate, kSHRFacebookUserInfo}};
}

void SHRFacebook::didLogout() { facebook()->logout(); }

// -- Authorisation ---------------------------------------------------------------------

bool SHRFacebook::isAuthorized() {
    auto* fb = facebook();
    if (fb->isSessionValid()) return true;
    fb->setAccessToken(defaults().stringForKey(kSHRFacebookAccessToken));
    fb->setExpirationDate(ns::cast<ns::Date>(defaults().objectForKey(kSHRFacebookExpiryDate)));
    return fb->isSessionValid();
}

void SHRFacebook::promptAuthorization() {
    auto stored = item()->dictionaryRepresentation();
    if (item()->image()) {
        std::string path = storedImagePath(item()->image().get());
        if (!path.empty()) {
            stored->setObject(ns::String::make(path), "imagePath");
            // The image travels in its file, not a second time in the
            // user defaults.
            stored->removeObjectForKey(std::string_view("image"));
        }
    }
    defaults().setObjectForKey(stored, kSHRStoredItem);
    defaults().synchronize();
    auto* fb = facebook();
    fb->setSessionDelegate(this);
    beginHold();
    fb->authorize(ns::Array::make({ns::str("publish_stream"), ns::str("offline_access")}));
}

void SHRFacebook::fbDidLogin() {
    auto keep = ns::keepAlive(this);
    auto* fb = facebook();
    // The token and its expiry are saved together. A login the defaults
    // cannot save (a full disk, a read-only home) would be gone at the next
    // start: it is not used, and the client goes back to the login stored
    // before. The parked item stays parked, as after a failed login.
    std::vector<std::pair<std::string, ns::Ref<ns::Object>>> login;
    if (fb->accessToken()) login.emplace_back(kSHRFacebookAccessToken, fb->accessToken());
    if (fb->expirationDate()) login.emplace_back(kSHRFacebookExpiryDate, fb->expirationDate());
    if (!SHR::setDefaultsValues(login)) {
        fb->setAccessToken(defaults().stringForKey(kSHRFacebookAccessToken));
        fb->setExpirationDate(ns::cast<ns::Date>(defaults().objectForKey(kSHRFacebookExpiryDate)));
        loginNotSaved();
        authDidFinish(false);
        endHold();
        return;
    }
    if (auto stored = defaults().dictionaryForKey(kSHRStoredItem)) {
        auto restored = SHRItem::itemFromDictionary(stored.get());
        if (auto* path = stored->stringForKey("imagePath")) restored->setImage(storedImage(std::string(path->utf8())));
        setItem(restored);
        defaults().removeObjectForKey(kSHRStoredItem);
    }
    defaults().synchronize();
    if (item() && item()->shareType() != SHRShareTypeUndefined) share();
    authDidFinish(true);
    endHold();
}

void SHRFacebook::fbDidNotLogin(bool cancelled) {
    auto keep = ns::keepAlive(this);
    if (!cancelled) {
        auto alert = ui::AlertView::make(SHRLocalizedString("Authorize Error"),
                                         SHRLocalizedString("There was an error while authorizing"), nullptr,
                                         SHRLocalizedString("Close"), {});
        alert->show();
    }
    authDidFinish(false);
    endHold();
}

// -- Showing and sending ------------------------------------------------------------------

void SHRFacebook::show() {
    if (item()->shareType() == SHRShareTypeText) showFacebookForm();
    else tryToSend();
}

void SHRFacebook::showFacebookForm() { showItemTextForm(); }

bool SHRFacebook::send() {
    if (!validateItem()) return false;
    auto params = ns::MutableDictionary::make();
    params->setObject(ns::String::make(ns::format("{\"name\":\"%@ %@\",\"link\":\"%@\"}", SHRLocalizedString("Get"),
                                                  kApplicationName, productWebSite())),
                      "actions");
    auto* fb = facebook();
    auto& it = item();
    switch (it->shareType()) {
        case SHRShareTypeURL: {
            if (!it->URL()) return false;
            params->setObject(it->URL()->absoluteString(), "link");
            params->setObject(it->title() ? it->title() : it->URL()->absoluteString(), "name");
            if (it->text()) params->setObject(it->text(), "message");
            if (auto* picture = it->customValueForKey("picture")) params->setObject(ns::Ref<ns::String>(picture), "picture");
            beginHold();
            fb->dialog("feed", params, this);
            return true;
        }
        case SHRShareTypeText: {
            if (!it->text()) return false;
            params->setObject(it->text(), "message");
            beginHold();
            fb->requestWithGraphPath("me/feed", params, "POST", this);
            return true;
        }
        case SHRShareTypeImage: {
            if (!it->image()) return false;
            if (it->title()) params->setObject(it->title(), "caption");
            if (it->text()) params->setObject(it->text(), "message");
            params->setObject(it->image(), "picture");
            beginHold();
            fb->requestWithGraphPath("me/photos", params, "POST", this);
            return true;
        }
        case SHRShareTypeUserInfo: {
            setQuiet(true);
            beginHold();
            fb->requestWithGraphPath("me", this);
            return true;
        }
        default:
            return false;
    }
}

// -- Outcomes -----------------------------------------------------------------------------

void SHRFacebook::requestDidLoad(FBRequest*, ns::Object* result) {
    auto keep = ns::keepAlive(this);
    auto* dict = ns::as<ns::Dictionary>(result);
    // A post is done when the service names what it made ("id"); account
    // information is an object. Anything else (text that is not JSON, an
    // empty object) is not what was asked for.
    int type = item()->shareType();
    bool expected = type == SHRShareTypeUserInfo ? dict != nullptr : dict && dict->objectForKey("id");
    if (!expected) {
        sendDidFailWithError(SHR::error("%@", SHRLocalizedString("There was an error while sharing")));
        endHold();
        return;
    }
    // Account information asked for is done only once it is stored (a
    // post that went out is done whatever becomes of the account lines).
    if (dict && dict->objectForKey("username") &&
        !SHR::setDefaultsValues({{kSHRFacebookUserInfo, SHRStorableJSONCopy(dict)}}) && type == SHRShareTypeUserInfo) {
        sendDidFailWithError(SHR::error("%@", SHRLocalizedString("There was an error while sharing")));
        endHold();
        return;
    }
    sendDidFinish();
    endHold();
}

void SHRFacebook::requestDidFailWithError(FBRequest*, ns::Error* error) {
    auto keep = ns::keepAlive(this);
    sendDidFailWithError(ns::Ref<ns::Error>(error));
    endHold();
}

void SHRFacebook::dialogCompleteWithUrl(ns::URL* url) {
    auto keep = ns::keepAlive(this);
    std::string text = url ? url->absoluteText() : std::string();
    if (text == "fbconnect://success") setQuiet(true);
    if (text.find("error_code=190") != std::string::npos) {
        // The service no longer accepts the token. A token that could not be
        // removed is still the stored login, so no new login starts (it
        // would find that token again); the share ends as failed below.
        if (flushAccessToken()) authorize();
        else tokenNotFlushed_ = true;
    }
}

void SHRFacebook::dialogDidComplete(FBDialog*) {
    auto keep = ns::keepAlive(this);
    if (tokenNotFlushed_) {
        tokenNotFlushed_ = false;
        sendDidFailWithError(SHR::error(
            "%@", SHRLocalizedString("Facebook no longer accepts your login, and it could not be removed. Please try again.")));
    } else {
        sendDidFinish();
    }
    endHold();
}

void SHRFacebook::dialogDidNotComplete(FBDialog*) {
    auto keep = ns::keepAlive(this);
    sendDidCancel();
    endHold();
}

void SHRFacebook::dialogDidCancel(FBDialog*) {
    auto keep = ns::keepAlive(this);
    sendDidCancel();
    endHold();
}

void SHRFacebook::dialogDidFailWithError(FBDialog*, ns::Error* error) {
    auto keep = ns::keepAlive(this);
    if (!error || error->code() != -999) sendDidFailWithError(ns::Ref<ns::Error>(error));
    endHold();
}

// A login and the send it resumes overlap, so the holds are counted; the
// sharer lets go of itself when the last one ends.
void SHRFacebook::beginHold() {
    if (holds_++ == 0) selfHold_ = ns::keepAlive(this);
}

void SHRFacebook::endHold() {
    if (holds_ == 0) return;
    if (--holds_ == 0) {
        auto keep = std::move(selfHold_);
        selfHold_ = nullptr;
    }
}

}  // namespace sharing
