// The Foursquare check-in sharer: the user signs in on Foursquare's OAuth 2
// page in a web view (the token comes back in the callback URL's fragment),
// picks a nearby place from a list found around the device's position, edits
// the check-in message and checks in through the version-2 web API. Main
// thread only: location and request callbacks arrive there.
#pragma once

#include <string>

#include "platform/foundation/ServiceEndpoints.h"
#include "platform/location/LocationManager.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TextField.h"
#include "platform/ui/ViewController.h"
#include "sharing/core/SHRRequest.h"
#include "sharing/core/SHRSharer.h"
#include "sharing/ui/SHRFormControllerLargeTextField.h"
#include "sharing/ui/SHROAuthView.h"

namespace sharing {

inline constexpr const char* SHRFoursquareV2ErrorDomain = "SHRFoursquareV2ErrorDomain";
inline constexpr const char* SHRFoursquareV2ErrorTypeKey = "SHRFoursquareV2ErrorTypeKey";
inline constexpr const char* SHRFoursquareV2MetaKey = "SHRFoursquareV2MetaKey";
inline constexpr const char* kSHRFoursquareV2APIVersion = "20110927";

// The error of a reply's "meta" (code 0 and the general text without one).
ns::Ref<ns::Error> errorWithFoursquareMeta(const ns::Dictionary* meta);
// True exactly for the domain's code 401: the token is no longer good.
bool getFoursquareRelogin(const ns::Error* error);

class SHRFoursquareV2;

class SHRFoursquareV2Venue : public ns::Object {
public:
    const char* className() const override { return "SHRFoursquareV2Venue"; }
    static ns::Ref<SHRFoursquareV2Venue> venueFromDictionary(const ns::Dictionary* dictionary);

    const ns::Ref<ns::String>& venueId() const { return venueId_; }
    void setVenueId(ns::Ref<ns::String> v) { venueId_ = std::move(v); }
    const ns::Ref<ns::String>& name() const { return name_; }
    void setName(ns::Ref<ns::String> v) { name_ = std::move(v); }
    const ns::Ref<ns::String>& address() const { return address_; }
    void setAddress(ns::Ref<ns::String> v) { address_ = std::move(v); }
    const ns::Ref<ns::Object>& icon() const { return icon_; }
    void setIcon(ns::Ref<ns::Object> v) { icon_ = std::move(v); }

private:
    ns::Ref<ns::String> venueId_, name_, address_;
    ns::Ref<ns::Object> icon_;
};

// A simple request that reads Foursquare's JSON envelope ("meta",
// "response").
class SHRFoursquareV2Request : public SHRRequest {
public:
    using SHRRequest::SHRRequest;
    const char* className() const override { return "SHRFoursquareV2Request"; }

    static ns::Ref<SHRFoursquareV2Request> requestVenuesSearchLocationQuery(
        const loc::Location* location, const ns::String* query, ns::Ref<ns::Object> delegate,
        FinishedSelector isFinished, const ns::String* accessToken, bool autostart);
    static ns::Ref<SHRFoursquareV2Request> requestCheckinLocationVenueMessage(
        const loc::Location* location, const SHRFoursquareV2Venue* venue, const ns::String* message,
        ns::Ref<ns::Object> delegate, FinishedSelector isFinished, const ns::String* accessToken, bool autostart);
    static ns::Ref<SHRFoursquareV2Request> requestProfileForUserId(const ns::String* userId,
                                                                   ns::Ref<ns::Object> delegate,
                                                                   FinishedSelector isFinished,
                                                                   const ns::String* accessToken, bool autostart);

    // Clears the cached reply and error, then starts.
    void start();
    ns::Dictionary* getFoursquareResult();
    ns::Dictionary* getFoursquareMeta();
    ns::Dictionary* getFoursquareResponse();
    ns::Error* getFoursquareError();

    // The API in the table of outside services, and its root (the base
    // URL followed by "/v2").
    static constexpr ns::ServiceEndpoint kService{"foursquare", "https://api.foursquare.com"};
    static std::string apiRoot();

private:
    ns::Ref<ns::Dictionary> foursquareResult_;
    ns::Ref<ns::Error> foursquareError_;
    bool resultRead_ = false;
};

// The sign-in page: the callback's fragment carries the token.
class SHRFoursquareV2OAuthView : public SHROAuthView {
public:
    const char* className() const override { return "SHRFoursquareV2OAuthView"; }
    static ns::Ref<SHRFoursquareV2OAuthView> make(ns::Ref<ns::URL> url, SHROAuthViewDelegate* delegate);
    // The fragment's name=value pieces (pieces without exactly one "=" are
    // left out; nothing is percent-decoded); nil without a fragment.
    static ns::Ref<ns::Dictionary> fragmentParameters(const ns::URL& url);
    bool webViewShouldStartLoadWithRequest(ui::WebView* wv, ui::URLRequest* request,
                                           ui::WebViewNavigationType type) override;
};

// The list of nearby places, with a search bar. While the search display is
// active (the user is searching), results go to the results table.
class SHRFoursquareV2VenuesForm : public ui::ViewController,
                                  public ui::TableViewDataSource,
                                  public ui::TableViewDelegate,
                                  public ui::SearchBarDelegate,
                                  public loc::LocationManagerDelegate {
public:
    explicit SHRFoursquareV2VenuesForm(SHRFoursquareV2* delegate);
    ~SHRFoursquareV2VenuesForm() override;
    const char* className() const override { return "SHRFoursquareV2VenuesForm"; }

    SHRFoursquareV2* delegate() const { return delegate_.lock().get(); }
    SHRFoursquareV2Request* request() const { return request_.get(); }
    loc::LocationManager* locationManager() const { return locationManager_.get(); }
    loc::Location* location() const { return location_.get(); }
    const ns::Ref<ns::String>& query() const { return query_; }
    ns::Array* venues() const { return venues_.get(); }
    ns::Array* filteredVenues() const { return filteredVenues_.get(); }
    ui::TableView* tableView() { view(); return tableView_.get(); }
    ui::TableView* searchResultsTableView() { view(); return resultsTableView_.get(); }
    ui::SearchBar* searchBar() { view(); return searchBar_.get(); }
    bool isSearchDisplayActive() const { return searchActive_; }
    void setSearchDisplayActive(bool b) { searchActive_ = b; }

    void loadView() override;
    void viewWillAppear(bool animated) override;
    void viewDidDisappear(bool animated) override;
    bool shouldAutorotateToInterfaceOrientation(ui::InterfaceOrientation o) override {
        return o == ui::InterfaceOrientation::Portrait;
    }

    void startMonitoringLocation();
    void stopMonitoringLocation();
    void startSearch();
    void searchFinished(SHRRequest* request);
    void cancelPressed(ns::Object*);

    // Location.
    void locationManagerDidUpdateToLocationFromLocation(loc::LocationManager* manager, loc::Location* newLocation,
                                                        loc::Location* oldLocation) override;
    // Search bar.
    void searchBarTextDidBeginEditing(ui::SearchBar* b) override { searchActive_ = true; }
    void searchBarCancelButtonClicked(ui::SearchBar* b) override { searchActive_ = false; }
    void searchBarSearchButtonClicked(ui::SearchBar* b) override;
    // Tables.
    long numberOfSectionsInTableView(ui::TableView* t) override;
    long tableViewNumberOfRowsInSection(ui::TableView* t, long section) override;
    ns::Ref<ui::TableViewCell> tableViewCellForRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) override;
    void tableViewDidSelectRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) override;

private:
    ns::Array* listFor(ui::TableView* t) const;
    ns::Weak<SHRFoursquareV2> delegate_;
    ns::Ref<SHRFoursquareV2Request> request_;
    ns::Ref<loc::LocationManager> locationManager_;
    ns::Ref<loc::Location> location_;
    ns::Ref<ns::String> query_;
    ns::Ref<ns::Array> venues_, filteredVenues_;
    ns::Ref<ui::TableView> tableView_, resultsTableView_;
    ns::Ref<ui::SearchBar> searchBar_;
    bool searchActive_ = false;
    bool cancelled_ = false;  // Cancel was pressed: no search and no check-in any more
};

// The check-in message: the large text form with "Check In" (done style)
// as its right button. Checking in keeps the screen up; the sharer closes it
// when the check-in has been answered.
class SHRFoursquareV2CheckInForm : public SHRFormControllerLargeTextField {
public:
    const char* className() const override { return "SHRFoursquareV2CheckInForm"; }
    void setupBarButtonItems() override;
    void save() override { sendFormToDelegate(); }
};

class SHRFoursquareV2 : public SHRSharer, public SHROAuthViewDelegate {
public:
    SHRFoursquareV2();
    const char* className() const override { return "SHRFoursquareV2"; }

    std::string sharerTitle() const override;
    bool canShareText() const override { return true; }
    bool canShareURL() const override { return false; }
    bool canShareImage() const override { return false; }
    bool canShareOffline() const override { return false; }
    bool shouldAutoShare() override { return false; }
    bool canShare() const override;

    const ns::Ref<ns::String>& clientId() const { return clientId_; }
    void setClientId(ns::Ref<ns::String> s) { clientId_ = std::move(s); }
    ns::Ref<ns::URL> authorizeCallbackURL() const override { return authorizeCallbackURL_; }
    void setAuthorizeCallbackURL(ns::Ref<ns::URL> u) { authorizeCallbackURL_ = std::move(u); }
    const ns::Ref<ns::String>& accessToken() const { return accessToken_; }
    void setAccessToken(ns::Ref<ns::String> s) { accessToken_ = std::move(s); }
    loc::Location* location() const { return location_.get(); }
    void setLocation(ns::Ref<loc::Location> l) { location_ = std::move(l); }
    SHRFoursquareV2Venue* venue() const { return venue_.get(); }
    void setVenue(ns::Ref<SHRFoursquareV2Venue> v) { venue_ = std::move(v); }

    bool isAuthorized() override;
    void promptAuthorization() override;
    bool storeAccessToken();  // false when the keychain refused it
    bool restoreAccessToken();
    // False when the keychain refused (the token stays stored).
    static bool deleteStoredAccessToken();
    // The stored token ("accessToken"); a logout also forgets the token
    // held and the authorisation page's cookies.
    SHRStoredLogin storedLogin() const override { return {{"accessToken"}, {}}; }
    void didLogout() override;
    void show() override;
    void showFoursquareV2VenuesForm();
    void showFoursquareV2CheckInForm();
    void sendForm(SHRFormControllerLargeTextField* form);
    void startCheckInRequest();
    void finishCheckInRequest(SHRRequest* request);

    void tokenAuthorizeViewDidFinishWithSuccess(SHROAuthView* view, bool success, ns::Ref<ns::Dictionary> queryParams,
                                                ns::Ref<ns::Error> error) override;
    void tokenAuthorizeCancelledView(SHROAuthView* view) override;

    // The web site in the table of outside services, and its authorisation
    // page (the base URL followed by "/oauth2/authenticate").
    static constexpr ns::ServiceEndpoint kWebService{"foursquare-web", "https://foursquare.com"};
    static std::string authorizationPage();

private:
    ns::Ref<ns::String> clientId_;
    ns::Ref<ns::URL> authorizeCallbackURL_;
    ns::Ref<ns::String> accessToken_;
    ns::Ref<loc::Location> location_;
    ns::Ref<SHRFoursquareV2Venue> venue_;
};

void registerFoursquareSharer();

}  // namespace sharing
