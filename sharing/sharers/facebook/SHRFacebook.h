// The sharer for Facebook. It keeps the one shared `Facebook` client,
// persists the access token and its expiry date in the user defaults, parks
// the item being shared (and its image, as a PNG file in the caches folder)
// while the user logs in, posts links through the feed dialog and texts and
// photos through the Graph API, and answers user-information requests.
//
// The app shares a card with
//     sharing::SHRFacebook::shareItem(sharing::SHRItem::image(image, title));
#pragma once

#include <string>

#include "sharing/core/SHRSharer.h"
#include "sharing/facebook/Facebook.h"
#include "sharing/ui/SHRFormControllerLargeTextField.h"

namespace sharing {

inline constexpr const char* kSHRFacebookAccessToken = "kSHRFacebookAccessToken";
inline constexpr const char* kSHRFacebookExpiryDate = "kSHRFacebookExpiryDate";
inline constexpr const char* kSHRFacebookUserInfo = "kSHRFacebookUserInfo";
inline constexpr const char* kSHRStoredItem = "kSHRStoredItem";

class SHRFacebook : public SHRSharer,
                    public FBSessionDelegate,
                    public FBDialogDelegate,
                    public FBRequestDelegate {
public:
    SHRFacebook() = default;
    ~SHRFacebook() override;
    const char* className() const override { return "SHRFacebook"; }

    // -- Entry points -------------------------------------------------------------
    // Moves Facebook to the front of the item type's favourites, sets the
    // item and shares it. Returns the sharer (it keeps itself alive while a
    // login or a send is under way).
    static ns::Ref<SHRFacebook> shareItem(ns::Ref<SHRItem> item) { return SHRSharer::shareItem<SHRFacebook>(std::move(item)); }
    // Makes the class known by its name to share menus and the offline queue.
    static void registerClass();

    // -- Class settings -------------------------------------------------------------
    std::string sharerTitle() const override { return "Facebook"; }
    bool canShareURL() const override { return true; }
    bool canShareText() const override { return true; }
    bool canShareImage() const override { return true; }
    bool canShareOffline() const override { return false; }
    bool canGetUserInfo() const override { return true; }
    bool shouldAutoShare() override { return false; }

    // -- Class operations -------------------------------------------------------------
    // The shared client, made on first use (under a lock).
    static Facebook* facebook();
    // Removes the three stored keys (token, expiry, account information)
    // together and clears the client's token and expiry. False when the
    // user defaults could not be saved: then nothing has changed, in this
    // process or on disk.
    static bool flushAccessToken();
    // Writes the image's PNG to a new file in <caches>/SHRImage; its path
    // ("" when it could not be written).
    static std::string storedImagePath(const ui::Image* image);
    // The image in that file (nil when unreadable); the file is deleted.
    static ns::Ref<ui::Image> storedImage(const std::string& path);
    static bool handleOpenURL(const ns::URL* url);
    // A logout forgets the parked item, the token and its expiry and the
    // account information (user defaults), then ends the client's session.
    SHRStoredLogin storedLogin() const override;
    void didLogout() override;

    // The application identifier and web-site address (configuration).
    static std::string applicationId();
    static std::string productWebSite();
    // Drops the shared client; the next use makes a fresh one (tests).
    static void resetSharedClient();

    // -- Life cycle ---------------------------------------------------------------------
    bool isAuthorized() override;
    void promptAuthorization() override;
    bool send() override;
    void show() override;
    void showFacebookForm();
    // The text form's send: copies its text into the item and tries to send.

    // -- FBSessionDelegate ----------------------------------------------------------------
    void fbDidLogin() override;
    void fbDidNotLogin(bool cancelled) override;

    // -- FBRequestDelegate ----------------------------------------------------------------
    bool answers(FBRequestDelegate::Optional) const override { return true; }
    void requestLoading(FBRequest* request) override { sendDidStart(); }
    void requestDidLoad(FBRequest* request, ns::Object* result) override;
    void requestDidFailWithError(FBRequest* request, ns::Error* error) override;

    // -- FBDialogDelegate -------------------------------------------------------------------
    void dialogCompleteWithUrl(ns::URL* url) override;
    void dialogDidComplete(FBDialog* dialog) override;
    void dialogDidNotComplete(FBDialog* dialog) override;
    void dialogDidFailWithError(FBDialog* dialog, ns::Error* error) override;
    bool dialogShouldOpenURLInExternalBrowser(FBDialog* dialog, ns::URL* url) override { return true; }
    void dialogDidCancel(FBDialog* dialog);

    // True while the sharer holds itself (a login, dialog or request is
    // under way).
    bool isHeld() const { return selfHold_ != nullptr; }

private:
    void beginHold();
    void endHold();
    ns::Ref<ns::Object> selfHold_;
    int holds_ = 0;
    // The feed dialog reported a refused token that could not be removed:
    // its completion is a failed share.
    bool tokenNotFlushed_ = false;
};

}  // namespace sharing
