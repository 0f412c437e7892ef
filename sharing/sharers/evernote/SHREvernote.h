// The Evernote sharer: a share becomes a note (ENML content, the item's
// image or file as resources) in the user's default notebook. The user store
// and note store calls block, so the login check and the send each run on a
// detached thread and hand their result to the main thread, where every
// callback, alert and form is used. Every send authenticates anew with the
// stored user name and password and makes fresh clients.
#pragma once

#include <mutex>
#include <string>

#include "evernote/notestore/EDAMNoteStore.h"
#include "evernote/userstore/EDAMUserStore.h"
#include "platform/foundation/ServiceEndpoints.h"
#include "sharing/core/SHRSharer.h"

namespace sharing {

// A share item that brings a prepared note with it.
class SHREvernoteItem : public SHRItem {
public:
    const char* className() const override { return "SHREvernoteItem"; }
    ns::Ref<evernote::EDAMNote> note() const {
        std::lock_guard<std::mutex> g(mutex_);
        return note_;
    }
    void setNote(ns::Ref<evernote::EDAMNote> n) {
        std::lock_guard<std::mutex> g(mutex_);
        note_ = std::move(n);
    }

private:
    mutable std::mutex mutex_;
    ns::Ref<evernote::EDAMNote> note_;
};

class SHREvernote : public SHRSharer {
public:
    const char* className() const override { return "SHREvernote"; }

    std::string sharerTitle() const override;
    bool canShareURL() const override { return true; }
    bool canShareImage() const override { return true; }
    bool canShareText() const override { return true; }
    bool canShareFile() const override { return true; }
    bool requiresAuthentication() const override { return true; }
    bool canShare() const override { return true; }
    ns::Ref<ns::Array> authorizationFormFields() const override;
    ns::Ref<ns::String> authorizationFormCaption() const override;

    void authorizationFormValidate(SHRFormController* form) override;
    // The login thread cannot be stopped: its answer is ignored.
    void cancelLogin() override;
    // Blocking; runs on the calling thread. nil after a refused version
    // check; service and transport exceptions propagate.
    ns::Ref<evernote::EDAMAuthenticationResult> getAuthenticationResultForUsernamePassword(
        const ns::Ref<ns::String>& username, const ns::Ref<ns::String>& password);
    ns::Ref<ns::Array> shareFormFieldsForType(int type) override;
    void shareFormValidate(SHRFormController* form) override;
    bool send() override;
    ns::Ref<evernote::EDAMNotebook> defaultNoteBookFromNoteStoreAuthToken(evernote::EDAMNoteStore& noteStore,
                                                                         const ns::Ref<ns::String>& authToken);
    static std::string enMediaTagWithResourceWidthHeight(const evernote::EDAMResource& resource, double width,
                                                         double height);
    void sendFinished(bool success);

    // Main-thread halves of the threads' work.
    void authFinished(const ns::Dictionary* result);
    void sendFinishedWithResult(const ns::Dictionary* result);

    // The two services in the table of outside services: the user-store
    // URL, and the note-store base URL, which the user's shard follows. Both
    // are unset (empty) in this product, supplied by the deployment.
    static constexpr ns::ServiceEndpoint kUserStoreService{"evernote-user-store", ""};
    static constexpr ns::ServiceEndpoint kNoteStoreService{"evernote-note-store", ""};
    // The consumer key and secret: empty in this product, supplied by the
    // deployment (and by tests).
    static void setConfiguration(std::string consumerKey, std::string consumerSecret);
    static constexpr const char* kClientName = "ShrareKit EDMA";
    // The message and relogin flag of a service error code.
    static std::string messageForErrorCode(int32_t code);
    static bool shouldReloginForErrorCode(int32_t code);

private:
    // The thread bodies. They return the result dictionary.
    ns::Ref<ns::Dictionary> loginResult(ns::Ref<ns::String> username, ns::Ref<ns::String> password);
    ns::Ref<ns::Dictionary> sendResult(ns::Ref<ns::String> username, ns::Ref<ns::String> password);
    ns::Ref<evernote::EDAMNote> buildNote(evernote::EDAMNoteStore& noteStore, const ns::Ref<ns::String>& token);
    // Counts the logins started and cancelled (main thread): an answer
    // counts only for the login that is still the latest.
    unsigned loginAttempt_ = 0;
};

void registerEvernoteSharer();

}  // namespace sharing
