// The base of every sharer (one class a service). It fixes the life cycle
// of one share: entry, authorisation (stored login or login form), an
// optional edit form, the online test and the offline queue, the service's
// send, and the progress callbacks, each posted as a notification (object:
// the sharer) and then sent to the share delegate. A sharer is a navigation
// controller: its forms are pushed onto it and it is presented through the
// sharing centre. Subclasses override the capabilities, the forms' fields
// and send(). Main thread only.
//
// Class operations: capabilities are virtual members answered by any
// instance (a fresh one when only the class is known); sharer classes are
// found by name through registerSharerClass / sharerWithClassName.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/foundation/Delegate.h"
#include "platform/foundation/Foundation.h"
#include "platform/ui/NavigationController.h"
#include "sharing/core/SHRItem.h"

namespace sharing {

class SHRSharer;
class SHRFormController;
class SHRFormControllerLargeTextField;

inline constexpr const char* SHRSendDidStartNotification = "SHRSendDidStartNotification";
inline constexpr const char* SHRSendDidFinishNotification = "SHRSendDidFinish";
inline constexpr const char* SHRSendDidFailWithErrorNotification = "SHRSendDidFailWithError";
inline constexpr const char* SHRSendDidCancelNotification = "SHRSendDidCancel";
inline constexpr const char* SHRAuthDidFinishNotification = "SHRAuthDidFinish";

// What a sharer keeps of a login, which a logout removes: the keys of its
// values in the keychain (service "SHR_AUTH_" + sharer id) and its keys in
// the user defaults.
enum class SHRLogoutFailure : int;  // SHR.h

struct SHRStoredLogin {
    std::vector<std::string> authKeys;
    std::vector<std::string> defaultsKeys;
};

enum SHRPendingAction : int {
    SHRPendingNone = 0,
    SHRPendingShare = 1,
    SHRPendingRefreshToken = 2,
};

// The progress callbacks. The four sending operations are required; the
// authorisation report is optional (its default body does nothing, which is
// what not sending it would do).
class SHRSharerDelegate {
public:
    virtual ~SHRSharerDelegate() = default;
    virtual void sharerStartedSending(SHRSharer* sharer) = 0;
    virtual void sharerFinishedSending(SHRSharer* sharer) = 0;
    virtual void sharerFailedWithErrorShouldRelogin(SHRSharer* sharer, ns::Error* error, bool shouldRelogin) = 0;
    virtual void sharerCancelledSending(SHRSharer* sharer) = 0;
    virtual void sharerAuthDidFinishSuccess(SHRSharer* sharer, bool success) {}
};

// The default delegate: the activity indicator and the error alert.
class SHRDefaultSharerDelegate : public ns::Object, public SHRSharerDelegate {
public:
    const char* className() const override { return "SHRSharerDelegate"; }
    void sharerStartedSending(SHRSharer* sharer) override;
    void sharerFinishedSending(SHRSharer* sharer) override;
    void sharerFailedWithErrorShouldRelogin(SHRSharer* sharer, ns::Error* error, bool shouldRelogin) override;
    void sharerCancelledSending(SHRSharer* sharer) override {}
};

class SHRSharer : public ui::NavigationController {
public:
    SHRSharer();
    ~SHRSharer() override;
    const char* className() const override { return "SHRSharer"; }

    // -- Class capabilities ---------------------------------------------------
    virtual std::string sharerTitle() const { return ""; }
    // The class's own name: key of favourites, keychain items, the offline
    // queue and the auto-share setting.
    virtual std::string sharerId() const { return className(); }
    virtual bool canShareURL() const { return false; }
    virtual bool canShareText() const { return false; }
    virtual bool canShareImage() const { return false; }
    virtual bool canShareFile() const { return false; }
    virtual bool canGetUserInfo() const { return false; }
    virtual bool shareRequiresInternetConnection() const { return true; }
    virtual bool canShareOffline() const { return true; }
    virtual bool requiresAuthentication() const { return true; }
    virtual bool canAutoShare() const { return true; }
    virtual bool canShare() const { return true; }
    // Rows of the login form (SHRFormFieldSettings).
    virtual ns::Ref<ns::Array> authorizationFormFields() const;
    virtual ns::Ref<ns::String> authorizationFormCaption() const { return nullptr; }
    bool canShareType(int type) const;

    // -- Registry of sharer classes ------------------------------------------------
    using Factory = std::function<ns::Ref<SHRSharer>()>;
    static void registerSharerClass(const std::string& name, Factory factory);
    // A new sharer of the class with that name; nil when there is none.
    static ns::Ref<SHRSharer> sharerWithClassName(const std::string& name);

    // -- Entry points (each returns the new sharer) ----------------------------
    // Moves the class to the front of the item type's favourites, sets the
    // item and shares.
    template <class T> static ns::Ref<T> shareItem(ns::Ref<SHRItem> item) {
        auto s = ns::make<T>();
        s->loadItem(std::move(item));
        s->share();
        return s;
    }
    template <class T> static ns::Ref<T> shareURL(ns::Ref<ns::URL> url, ns::Ref<ns::String> title = nullptr) {
        return start<T>(SHRItem::URL(std::move(url), std::move(title)));
    }
    template <class T> static ns::Ref<T> shareImage(ns::Ref<ui::Image> image, ns::Ref<ns::String> title) {
        return start<T>(SHRItem::image(std::move(image), std::move(title)));
    }
    template <class T> static ns::Ref<T> shareText(ns::Ref<ns::String> text) {
        return start<T>(SHRItem::text(std::move(text)));
    }
    template <class T> static ns::Ref<T> shareFile(ns::Ref<ns::Data> data, ns::Ref<ns::String> filename,
                                                   ns::Ref<ns::String> mimeType, ns::Ref<ns::String> title) {
        return start<T>(SHRItem::file(std::move(data), std::move(filename), std::move(mimeType), std::move(title)));
    }
    template <class T> static ns::Ref<T> getUserInfo() {
        auto item = ns::make<SHRItem>();
        item->setShareType(SHRShareTypeUserInfo);
        return start<T>(item);
    }
    // By class name (share menus, the offline queue); nil for an unknown name.
    static ns::Ref<SHRSharer> shareItemWithSharer(const std::string& name, ns::Ref<SHRItem> item);

    // Updates the favourites and sets the item without starting anything.
    void loadItem(ns::Ref<SHRItem> item);

    // "Class" operations that act on the stored state of this sharer class.
    // What a login of this class leaves stored (the base: the login form's
    // field keys in the keychain).
    virtual SHRStoredLogin storedLogin() const;
    // Forgets what the class holds in memory of a login (tokens, the
    // service's cookies), once its stored login is gone.
    virtual void didLogout() {}
    // Removes the stored login, whole (SHR::logoutOfSharers); false when the
    // logout is not done (*why tells whether the login stays stored).
    virtual bool logout(SHRLogoutFailure* why = nullptr);
    // True for a name no sharer class has (nothing is stored for it).
    static bool logoutSharer(const std::string& name, SHRLogoutFailure* why = nullptr);
    static bool isServiceAuthorized(const std::string& name);

    // -- Life cycle ------------------------------------------------------------
    virtual void share();
    virtual bool authorize();
    virtual bool isAuthorized();
    virtual void promptAuthorization();
    virtual void authorizationFormShow();
    virtual void authorizationFormValidate(SHRFormController* form) {}
    virtual void authorizationFormSave(SHRFormController* form);
    virtual void authorizationFormCancel(SHRFormController* form) { sendDidCancel(); }
    virtual void show();
    virtual ns::Ref<ns::Array> shareFormFieldsForType(int type);
    virtual void shareFormValidate(SHRFormController* form);
    virtual void shareFormSave(SHRFormController* form);
    virtual void shareFormCancel(SHRFormController* form) { sendDidCancel(); }
    // True when the share is under way or has ended with what the user was
    // told (queued offline, refused offline, failed to be stored); false
    // when nothing happened and the share form may still help.
    virtual bool tryToSend();
    virtual bool send() { return false; }
    virtual bool validateItem();
    virtual void tryPendingAction();

    // -- Progress callbacks --------------------------------------------------------
    void sendDidStart();
    void sendDidFinish();
    void sendDidFailWithErrorShouldRelogin(ns::Ref<ns::Error> error, bool shouldRelogin);
    void sendDidFailWithError(ns::Ref<ns::Error> error) { sendDidFailWithErrorShouldRelogin(std::move(error), false); }
    void sendDidFailShouldRelogin();
    void sendDidCancel();
    void authDidFinish(bool success);

    // -- State --------------------------------------------------------------------
    virtual bool shouldAutoShare();
    virtual void setShouldAutoShare(bool b);
    ns::Ref<ns::String> getAuthValueForKey(std::string_view key) const;

    // The delegate is kept (strongly) as the framework does; it must be an
    // ns::Object. nil is allowed.
    SHRSharerDelegate* shareDelegate() const { return delegate_.get(); }
    void setShareDelegate(SHRSharerDelegate* d);
    const ns::Ref<SHRItem>& item() const { return item_; }
    void setItem(ns::Ref<SHRItem> item) { item_ = item ? std::move(item) : ns::make<SHRItem>(); }
    SHRFormController* pendingForm() const { return pendingForm_.get(); }
    void setPendingForm(ns::Ref<SHRFormController> f);
    ns::Object* request() const { return request_.get(); }
    void setRequest(ns::Ref<ns::Object> r) { request_ = std::move(r); }
    ns::Error* lastError() const { return lastError_.get(); }
    void setLastError(ns::Ref<ns::Error> e) { lastError_ = std::move(e); }
    bool quiet() const { return quiet_; }
    void setQuiet(bool q) { quiet_ = q; }
    SHRPendingAction pendingAction() const { return pendingAction_; }
    void setPendingAction(SHRPendingAction a) { pendingAction_ = a; }

    bool shouldAutorotateToInterfaceOrientation(ui::InterfaceOrientation) override { return true; }
    void viewDidDisappear(bool animated) override;

protected:
    template <class T> static ns::Ref<T> start(ns::Ref<SHRItem> item) {
        auto s = ns::make<T>();
        s->setItem(std::move(item));
        s->share();
        return s;
    }
    // Shows `form` (pushed onto this sharer) through the sharing centre.
    void presentForm(const ns::Ref<SHRFormController>& form);
    // The end of a login from the authorisation form: the activity indicator
    // goes; on success the pending form saves its values, else the "Login
    // Error" alert shows `failureMessage`; then authDidFinish(success).
    void finishFormLogin(bool success, const std::string& failureMessage);
    // Saves the pending login form (its save stores the login and goes on
    // with the pending share); false when the keychain refused the login,
    // which loginNotSaved has told the user already.
    bool savePendingLoginForm();
    // The login the user gave could not be stored (a full disk, a read-only
    // home): the activity indicator goes and the "Login Error" alert says
    // so; the sharer does not go on as signed in.
    void loginNotSaved();
    // A login started from the login form has ended without a report
    // (authDidFinish, which ends it too): Login starts a new one again.
    void loginEnded() { loginUnderWay_ = false; }
    // The login form was cancelled while its login was on its way: the
    // login ends here, so that its answer, whenever it comes, stores
    // nothing, shares nothing and touches no screen. The base cancels the
    // login's SHRRequest (request()) and forgets the login form; a sharer
    // whose login runs another way stops it (or marks its answer to be
    // ignored) and calls the base.
    virtual void cancelLogin();
    // Shows the item's text in the large text form (under a bar tinted as the
    // services' own pages); Send puts the edited text into the item and
    // tries to send it.
    void showItemTextForm();

private:
    // The login form's Login (and its return key): starts checking the
    // login (authorizationFormValidate) unless one is under way already, so
    // that pressing it again while the service has not answered sends no
    // second login, shows no second alert and shares once.
    void loginPressed(SHRFormController* form);
    // The login form's Cancel: a login on its way ends first (cancelLogin,
    // then authDidFinish(false)), then authorizationFormCancel reports the
    // cancel, the last word of this share.
    void loginFormCancelled(SHRFormController* form);
    void sendItemTextForm(SHRFormControllerLargeTextField* form);
    template <class F> void tellDelegate(F&& f);
    ns::StrongDelegate<SHRSharerDelegate> delegate_;
    ns::Ref<SHRItem> item_;
    ns::Ref<SHRFormController> pendingForm_;
    ns::Ref<ns::Object> request_;
    ns::Ref<ns::Error> lastError_;
    bool quiet_ = false;
    bool loginNotSaved_ = false;  // set by loginNotSaved, read by savePendingLoginForm
    bool loginUnderWay_ = false;  // from Login until the login's end
    SHRPendingAction pendingAction_ = SHRPendingNone;
};

}  // namespace sharing
