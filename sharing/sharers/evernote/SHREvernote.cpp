#include "sharing/sharers/evernote/SHREvernote.h"

#include <chrono>
#include <thread>

#include "evernote/notestore/EDAMNoteStoreClient.h"
#include "evernote/transport/THTTPClient.h"
#include "evernote/types/BinaryProtocol.h"
#include "evernote/types/EDAMConstants.h"
#include "evernote/types/EDAMExceptions.h"
#include "evernote/userstore/EDAMUserStoreClient.h"
#include "platform/foundation/RunLoop.h"
#include "platform/network/URLConnection.h"
#include "platform/security/Digest.h"
#include "platform/ui/AlertView.h"
#include "sharing/core/ImageCoding.h"
#include "sharing/core/SHR.h"
#include "sharing/ui/SHRActivityIndicator.h"
#include "sharing/ui/SHRFormController.h"

namespace sharing {

using namespace evernote;

namespace {

constexpr const char* kWebSiteName = "evernote.com";
constexpr const char* kDTD = "http://xml.evernote.com/pub/enml2.dtd";
// Largest remote image read for a note's resource.
constexpr size_t kMaxRemoteImageBytes = 32u << 20;

struct Config {
    std::mutex m;
    std::string consumerKey, consumerSecret;
};
Config& config() {
    static Config c;
    return c;
}

ns::Ref<ns::Dictionary> sendResultDictionary(bool success, const std::string& message, bool relogin) {
    return ns::Dictionary::make({{"success", ns::str(success ? "1" : "0")},
                                 {"errorMessage", ns::str(message)},
                                 {"shouldRelogin", ns::str(relogin ? "1" : "0")}});
}

bool isOne(const ns::Dictionary* d, std::string_view key) {
    ns::String* s = d ? d->stringForKey(key) : nullptr;
    return s && s->isEqualToString("1");
}

// A Data record of the bytes: body, count and binary MD5.
ns::Ref<EDAMData> dataRecord(const ns::Ref<ns::Data>& bytes) {
    return ns::make<EDAMData>(sec::md5Data(*bytes), static_cast<int32_t>(bytes->length()), bytes);
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    if (from.empty()) return text;
    size_t at = 0;
    while ((at = text.find(from, at)) != std::string::npos) {
        text.replace(at, from.size(), to);
        at += to.size();
    }
    return text;
}

bool nonEmpty(const ns::String* s) { return s && s->length() > 0; }

// Text put into the ENML document: the note must stay well-formed XML, or the
// service refuses it, so markup characters in titles, texts and URLs are
// written as entities.
std::string xml(std::string_view text) { return SHRXMLEscaped(text); }

}  // namespace

void SHREvernote::setConfiguration(std::string consumerKey, std::string consumerSecret) {
    auto& c = config();
    std::lock_guard<std::mutex> g(c.m);
    c.consumerKey = std::move(consumerKey);
    c.consumerSecret = std::move(consumerSecret);
}

std::string SHREvernote::sharerTitle() const { return SHRLocalizedString("Evernote"); }

ns::Ref<ns::Array> SHREvernote::authorizationFormFields() const {
    return ns::Array::make({
        SHRFormFieldSettings::label(SHRLocalizedString("Username"), "username", SHRFormFieldTypeTextNoCorrect, nullptr),
        SHRFormFieldSettings::label(SHRLocalizedString("Password"), "password", SHRFormFieldTypePassword, nullptr),
    });
}

ns::Ref<ns::String> SHREvernote::authorizationFormCaption() const {
    return ns::str(SHRLocalizedString("Create a free account at %@", kWebSiteName));
}

// -- Login ----------------------------------------------------------------------------------------

void SHREvernote::authorizationFormValidate(SHRFormController* form) {
    if (!quiet()) SHRActivityIndicator::currentIndicator()->displayActivity(SHRLocalizedString("Logging In..."));
    setPendingForm(ns::Ref<SHRFormController>(form));
    auto values = form->formValues();
    ns::Ref<ns::String> username(values->stringForKey("username"));
    ns::Ref<ns::String> password(values->stringForKey("password"));
    auto keep = ns::keepAlive(this);
    const unsigned attempt = ++loginAttempt_;
    std::thread([keep, username, password, attempt]() mutable {
        auto result = keep->loginResult(username, password);
        // The sharer is handed back to the main thread, where it is let go.
        ns::performOnMainThread([keep = std::move(keep), result, attempt]() mutable {
            if (attempt == keep->loginAttempt_) keep->authFinished(result.get());
            keep = nullptr;
        }, true);
    }).detach();
}

void SHREvernote::cancelLogin() {
    ++loginAttempt_;
    SHRSharer::cancelLogin();
}

ns::Ref<ns::Dictionary> SHREvernote::loginResult(ns::Ref<ns::String> username, ns::Ref<ns::String> password) {
    bool success = false;
    try {
        auto result = getAuthenticationResultForUsernamePassword(username, password);
        success = result && result->userIsSet() && result->authenticationTokenIsSet();
    } catch (...) {
        success = false;
    }
    return ns::Dictionary::make({{"success", ns::str(success ? "1" : "0")}});
}

void SHREvernote::authFinished(const ns::Dictionary* result) {
    auto keep = ns::keepAlive(this);
    SHRActivityIndicator::currentIndicator()->hide();
    if (!isOne(result, "success")) {
        ui::AlertView::make(SHRLocalizedString("Login Error"), SHRLocalizedString("Your username and password did not match"),
                            nullptr, SHRLocalizedString("Close"))->show();
        loginEnded();
        return;
    }
    // A login the keychain refused is no login: the alert has said so.
    authDidFinish(savePendingLoginForm());
}

ns::Ref<EDAMAuthenticationResult> SHREvernote::getAuthenticationResultForUsernamePassword(
    const ns::Ref<ns::String>& username, const ns::Ref<ns::String>& password) {
    std::string url = ns::ServiceEndpoints::baseURL(kUserStoreService), key, secret;
    {
        auto& c = config();
        std::lock_guard<std::mutex> g(c.m);
        key = c.consumerKey;
        secret = c.consumerSecret;
    }
    auto transport = std::make_shared<THTTPClient>(url);
    auto protocol = std::make_shared<BinaryProtocol>(transport);
    auto userStore = ns::make<EDAMUserStoreClient>(protocol);
    if (!userStore->checkVersion(ns::str(kClientName), EDAMUserStoreConstants::EDAM_VERSION_MAJOR(),
                                 EDAMUserStoreConstants::EDAM_VERSION_MINOR())) {
        ns::performOnMainThread([] {
            ui::AlertView::make(SHRLocalizedString("EDMA Error"), SHRLocalizedString("EDMA Version is too old."), nullptr,
                                SHRLocalizedString("Close"))->show();
        }, true);
        return nullptr;
    }
    return userStore->authenticate(username, password, ns::str(key), ns::str(secret));
}

// -- Share form --------------------------------------------------------------------------------------

ns::Ref<ns::Array> SHREvernote::shareFormFieldsForType(int type) {
    return ns::Array::make({
        SHRFormFieldSettings::label(SHRLocalizedString("Title"), "title", SHRFormFieldTypeText, item()->title()),
        SHRFormFieldSettings::label(SHRLocalizedString("Tags"), "tags", SHRFormFieldTypeText, item()->tags()),
    });
}

void SHREvernote::shareFormValidate(SHRFormController* form) { form->saveForm(); }

// -- Send --------------------------------------------------------------------------------------------

bool SHREvernote::send() {
    if (!validateItem()) return false;
    sendDidStart();
    auto keep = ns::keepAlive(this);
    // The stored login is read here, on the main thread.
    ns::Ref<ns::String> username = getAuthValueForKey("username"), password = getAuthValueForKey("password");
    std::thread([keep, username, password]() mutable {
        auto result = keep->sendResult(username, password);
        ns::performOnMainThread([keep = std::move(keep), result]() mutable {
            keep->sendFinishedWithResult(result.get());
            keep = nullptr;
        }, true);
    }).detach();
    return true;
}

ns::Ref<ns::Dictionary> SHREvernote::sendResult(ns::Ref<ns::String> username, ns::Ref<ns::String> password) {
    try {
        auto auth = getAuthenticationResultForUsernamePassword(username, password);
        if (!auth || !auth->user() || !auth->authenticationToken())
            return sendResultDictionary(false, SHRLocalizedString("There was a problem sharing with Evernote"), false);
        ns::Ref<ns::String> token = auth->authenticationToken();
        std::string base = ns::ServiceEndpoints::baseURL(kNoteStoreService);
        ns::String* shard = auth->user()->shardId().get();
        auto transport = std::make_shared<THTTPClient>(base + (shard ? std::string(shard->utf8()) : std::string()));
        auto protocol = std::make_shared<BinaryProtocol>(transport);
        auto noteStore = ns::make<EDAMNoteStoreClient>(protocol);
        auto note = buildNote(*noteStore, token);
        auto created = noteStore->createNote(token, note);
        return sendResultDictionary(created != nullptr, "", false);
    } catch (const EDAMUserException& e) {
        std::string message = SHRLocalizedString("Evernote Error on %@: %@", e.parameter(),
                                                 messageForErrorCode(e.errorCode()));
        return sendResultDictionary(false, message, shouldReloginForErrorCode(e.errorCode()));
    } catch (...) {
        // System and not-found exceptions, transport and protocol failures.
        return sendResultDictionary(false, SHRLocalizedString("There was a problem sharing with Evernote"), false);
    }
}

ns::Ref<EDAMNote> SHREvernote::buildNote(EDAMNoteStore& noteStore, const ns::Ref<ns::String>& token) {
    ns::Ref<SHRItem> item = this->item();
    ns::Ref<EDAMNote> note;
    ns::Ref<ns::MutableArray> resources;
    if (auto* evernoteItem = ns::as<SHREvernoteItem>(item.get())) {
        note = evernoteItem->note();
        if (note && note->resources()) resources = note->resources()->mutableCopy();
    }
    if (!resources) resources = ns::MutableArray::make();
    if (!note) note = ns::make<EDAMNote>();

    ns::Ref<EDAMNoteAttributes> attributes =
        note->attributesIsSet() && note->attributes() ? note->attributes() : ns::make<EDAMNoteAttributes>();
    if (!attributes->sourceURLIsSet() && item->URL()) attributes->setSourceURL(ns::str(item->URL()->absoluteString()->utf8()));

    if (!note->notebookGuidIsSet()) {
        if (auto notebook = defaultNoteBookFromNoteStoreAuthToken(noteStore, token))
            note->setNotebookGuid(notebook->guid());
    }

    if (nonEmpty(item->title().get())) note->setTitle(item->title());
    else if (!note->titleIsSet() || !note->title()) note->setTitle(ns::str(SHRLocalizedString("Untitled")));

    if (!note->tagNamesIsSet() && item->tags()) {
        auto names = ns::MutableArray::make();
        std::string_view tags = item->tags()->view();
        size_t start = 0;
        for (;;) {
            size_t blank = tags.find(' ', start);
            names->addObject(ns::str(std::string(tags.substr(start, blank == std::string_view::npos ? blank : blank - start))));
            if (blank == std::string_view::npos) break;
            start = blank + 1;
        }
        note->setTagNames(names);
    }

    if (!note->contentIsSet() || !note->content()) {
        std::string url(item->URL() ? item->URL()->absoluteString()->utf8() : std::string());
        std::string title(item->title() ? item->title()->utf8() : std::string());
        std::string enml = ns::format(
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?><!DOCTYPE en-note SYSTEM \"%@\">"
            "<en-note style=\"word-wrap: break-word; -webkit-nbsp-mode: space; -webkit-line-break: after-white-space;\">",
            kDTD);
        if (!url.empty()) {
            if (!title.empty()) enml += ns::format("<h1><a href=\"%@\">%@</a></h1>", xml(url), xml(title));
            enml += ns::format("<p><a href=\"%@\">%@</a></p>", xml(url), xml(url));
            attributes->setSourceURL(ns::str(url));
        } else if (!title.empty()) {
            enml += ns::format("<h1>%@</h1>", xml(title));
        }
        if (nonEmpty(item->text().get())) enml += ns::format("<p>%@</p>", xml(item->text()->view()));
        if (item->image()) {
            if (auto jpeg = imageJPEGRepresentation(item->image().get(), 0.6)) {
                auto resource = ns::make<EDAMResource>();
                auto data = dataRecord(jpeg);
                resource->setData(data);
                resource->setRecognition(data);
                resource->setMime(ns::str("image/jpeg"));
                resources->addObject(resource);
                auto size = item->image()->size();
                enml += ns::format("<p>%@</p>", enMediaTagWithResourceWidthHeight(*resource, size.width, size.height));
            }
        }
        if (item->data()) {
            auto resource = ns::make<EDAMResource>();
            auto data = dataRecord(item->data());
            resource->setData(data);
            resource->setRecognition(data);
            resource->setMime(item->mimeType());
            resources->addObject(resource);
            enml += ns::format("<p>%@</p>", enMediaTagWithResourceWidthHeight(*resource, 0, 0));
        }
        enml += "</en-note>";
        note->setContent(ns::str(enml));
    }

    // Remote JPEG resources without data: fetch them and put their en-media
    // tags where their <img> tags were. One failing resource is skipped.
    for (ns::Object* o : *resources) {
        auto* resource = ns::as<EDAMResource>(o);
        if (!resource) continue;
        try {
            if (resource->dataIsSet() && resource->data()) continue;
            if (!resource->attributesIsSet() || !resource->attributes()) continue;
            ns::String* source = resource->attributes()->sourceURL().get();
            if (!nonEmpty(source)) continue;
            if (!resource->mime() || !resource->mime()->isEqualToString("image/jpeg")) continue;
            auto url = ns::URL::URLWithString(source->utf8());
            if (!url) continue;
            auto request = net::URLRequest::requestWithURL(url);
            ns::Ref<net::HTTPURLResponse> response;
            ns::Ref<ns::Error> error;
            auto bytes = net::URLConnection::sendSynchronousRequest(*request, &response, &error);
            if (!bytes || bytes->length() > kMaxRemoteImageBytes) continue;
            if (response && response->statusCode() != 200) continue;
            auto image = imageWithData(bytes->view());
            if (!image) continue;
            auto data = dataRecord(bytes);
            resource->setData(data);
            resource->setRecognition(data);
            if (note->content()) {
                std::string tag = enMediaTagWithResourceWidthHeight(*resource, image->size().width, image->size().height);
                note->setContent(ns::str(replaceAll(std::string(note->content()->utf8()), ns::format("<img src=\"%@\" />", source), tag)));
            }
        } catch (...) {
        }
    }

    note->setResources(resources);
    note->setAttributes(attributes);
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch());
    note->setCreated(static_cast<int64_t>(seconds.count()) * 1000);
    return note;
}

ns::Ref<EDAMNotebook> SHREvernote::defaultNoteBookFromNoteStoreAuthToken(EDAMNoteStore& noteStore,
                                                                         const ns::Ref<ns::String>& authToken) {
    auto notebooks = noteStore.listNotebooks(authToken);
    if (!notebooks) return nullptr;
    for (ns::Object* o : *notebooks)
        if (auto* notebook = ns::as<EDAMNotebook>(o); notebook && notebook->defaultNotebook())
            return ns::Ref<EDAMNotebook>(notebook);
    return nullptr;
}

std::string SHREvernote::enMediaTagWithResourceWidthHeight(const EDAMResource& resource, double width, double height) {
    std::string size = width > 0 && height > 0 ? ns::format("height=\"%.0f\" width=\"%.0f\" ", height, width) : "";
    std::string hash = resource.data() && resource.data()->body() ? md5(*resource.data()->body()) : md5(*ns::Data::make(""));
    return ns::format("<en-media type=\"%@\" %@hash=\"%@\"/>", resource.mime(), size, hash);
}

std::string SHREvernote::messageForErrorCode(int32_t code) {
    switch (code) {
        case 2: return SHRLocalizedString("Invalid format");
        case 3: return SHRLocalizedString("Permission Denied");
        case 4: return SHRLocalizedString("Internal Evernote Error");
        case 5: return SHRLocalizedString("Data Required");
        case 7: return SHRLocalizedString("Quota Reached");
        case 8: return SHRLocalizedString("Invalid Auth");
        case 9: return SHRLocalizedString("Auth Expired");
        case 10: return SHRLocalizedString("Data Conflict");
        default: return SHRLocalizedString("Unknown error from Evernote");
    }
}

bool SHREvernote::shouldReloginForErrorCode(int32_t code) { return code == 8 || code == 9; }

void SHREvernote::sendFinishedWithResult(const ns::Dictionary* result) {
    auto keep = ns::keepAlive(this);
    if (isOne(result, "success")) sendDidFinish();
    else if (isOne(result, "shouldRelogin")) sendDidFailShouldRelogin();
    else {
        ns::String* message = result ? result->stringForKey("errorMessage") : nullptr;
        sendDidFailWithError(SHR::error("%@", message ? message->utf8() : std::string()));
    }
}

void SHREvernote::sendFinished(bool success) {
    if (success) sendDidFinish();
    else sendDidFailWithErrorShouldRelogin(SHR::error("%@", SHRLocalizedString("There was a problem sharing with Evernote")),
                                           false);
}

void registerEvernoteSharer() {
    SHRSharer::registerSharerClass("SHREvernote", [] { return ns::Ref<SHRSharer>(ns::make<SHREvernote>()); });
}

}  // namespace sharing
