// The Foursquare check-in sharer against a loopback fake of the version-2
// API that parses every query it receives: sign-in through the callback
// fragment, the place search from a fake device position, the search display,
// the check-in with its shout, and the error envelope with its relogin rule.
#include <gtest/gtest.h>

#include <mutex>

#include "platform/location/LocationManager.h"
#include "platform/ui/Driver.h"
#include "platform/ui/NavigationController.h"
#include "sharing/sharers/foursquare/SHRFoursquareV2.h"
#include "sharing/tests/SharerTestSupport.h"
#include "testsupport/FullDisk.h"

namespace sharing::test {
namespace {

const char* kVenues = R"({"meta":{"code":200},"response":{"venues":[
 {"id":"v1","name":"Cafe One","location":{"address":"1 Main St"},
  "categories":[{"primary":false,"icon":"other.png"},{"primary":true,"icon":"cafe.png"}]},
 {"id":"v2","name":"Park","location":{},"categories":[]}]}})";
const char* kFound = R"({"meta":{"code":200},"response":{"venues":[{"id":"v9","name":"Bar Nine","location":{"address":"9 Side St"}}]}})";
const char* kExpired = R"({"meta":{"code":401,"errorType":"invalid_auth","errorDetail":"OAuth token invalid or revoked."},"response":{}})";

struct FakeFoursquare {
    std::mutex m;
    std::string checkinStatusBody;  // empty: success
    std::string token = "tok-1";     // the token the service gave, decoded
    Server server{[this](const Request& r) -> std::optional<std::string> {
        std::unique_lock<std::mutex> g(m);
        auto q = formFields(queryOf(r.target));
        std::string path = pathOf(r.target);
        if (q["v"] != "20110927") return Server::reply(400, R"({"meta":{"code":400,"errorType":"param_error"}})");
        if (q["oauth_token"] != token) return Server::reply(401, kExpired);
        if (path == "/v2/venues/search" && r.method == "GET") {
            if (q.count("ll") == 0) return Server::reply(400, "{}");
            return Server::reply(200, q.count("query") ? kFound : kVenues);
        }
        if (path == "/v2/checkins/add" && r.method == "POST") {
            if (checkinStatusBody == "garbage") return Server::reply(500, "<html>oops</html>");
            if (q["venueId"].empty()) return Server::reply(400, R"({"meta":{"code":400}})");
            return Server::reply(200, R"({"meta":{"code":200},"response":{"checkin":{"id":"c1"}}})");
        }
        return Server::reply(404, "{}");
    }};
    std::vector<Request> on(const std::string& path) {
        std::vector<Request> out;
        for (auto& r : server.requests())
            if (pathOf(r.target) == path) out.push_back(r);
        return out;
    }
};

class FoursquareTest : public SharingTest {
protected:
    void SetUp() override {
        SharingTest::SetUp();
        loc::LocationManager::resetDevice();
        registerFoursquareSharer();
        endpoints.point({SHRFoursquareV2Request::kService, SHRFoursquareV2::kWebService}, baseOf(fake.server));
    }
    void TearDown() override {
        loc::LocationManager::resetDevice();
        SharingTest::TearDown();
    }
    ui::ViewController* shownTop() {
        auto* v = SHR::currentHelper()->currentView();
        if (auto* nav = ns::as<ui::NavigationController>(v)) return nav->topViewController();
        return v;
    }
    ns::Ref<SHRFoursquareV2> signedInSharer(const char* text) {
        SHR::setAuthValueForKeyForSharer(ns::str("tok-1").get(), "accessToken", "SHRFoursquareV2");
        auto s = ns::make<SHRFoursquareV2>();
        s->setItem(SHRItem::text(ns::str(text)));
        s->share();
        return s;
    }
    FakeFoursquare fake;
};

TEST_F(FoursquareTest, CanShareFollowsLocationPermission) {
    auto s = ns::make<SHRFoursquareV2>();
    EXPECT_TRUE(s->canShare());
    loc::LocationManager::setAuthorizationStatus(loc::AuthorizationStatusAuthorizedWhenInUse);
    EXPECT_FALSE(s->canShare());
    loc::LocationManager::setAuthorizationStatus(loc::AuthorizationStatusNotDetermined);
    EXPECT_TRUE(s->canShare());
    loc::LocationManager::setAuthorizationStatus(loc::AuthorizationStatusDenied);
    EXPECT_FALSE(s->canShare());
    loc::LocationManager::setHasAuthorizationStatus(false);
    EXPECT_TRUE(s->canShare());
    loc::LocationManager::setLocationServicesEnabled(false);
    EXPECT_FALSE(s->canShare());
    EXPECT_TRUE(s->canShareText());
    EXPECT_FALSE(s->canShareURL());
    EXPECT_FALSE(s->shouldAutoShare());
}

TEST_F(FoursquareTest, SignInThroughTheCallbackFragment) {
    NotificationRecorder rec;
    auto s = ns::make<SHRFoursquareV2>();
    s->setClientId(ns::str("client 7"));
    s->setAuthorizeCallbackURL(ns::URL::URLWithString("deck://fsq/callback"));
    s->setItem(SHRItem::text(ns::str("Here")));
    s->share();
    auto* view = ns::as<SHRFoursquareV2OAuthView>(shownTop());
    ASSERT_TRUE(view && view->webView()->request());
    auto* page = view->webView()->request()->URL();
    ASSERT_TRUE(page);
    EXPECT_EQ(pathOf(page->absoluteText()), baseOf(fake.server) + "/oauth2/authenticate");
    auto q = formFields(queryOf(page->absoluteText()));
    EXPECT_EQ(q["client_id"], "client 7");
    EXPECT_EQ(q["response_type"], "token");
    EXPECT_EQ(q["redirect_uri"], "deck://fsq/callback");

    // Other pages load, and so does a load of nothing; the callback is caught and not loaded.
    EXPECT_TRUE(view->webViewShouldStartLoadWithRequest(view->webView(), nullptr, ui::WebViewNavigationType::Other));
    auto other = ui::URLRequest::requestWithString(baseOf(fake.server) + "/login");
    EXPECT_TRUE(view->webViewShouldStartLoadWithRequest(view->webView(), other.get(), ui::WebViewNavigationType::Other));
    auto cb = ui::URLRequest::requestWithString("deck://fsq/callback#access_token=tok-1&bare&expires=a=b");
    ns::Ref<SHRFoursquareV2OAuthView> keep(view);
    EXPECT_FALSE(view->webViewShouldStartLoadWithRequest(view->webView(), cb.get(), ui::WebViewNavigationType::Other));
    EXPECT_FALSE(view->delegate());
    EXPECT_EQ(ns::describe(s->accessToken()), "tok-1");
    EXPECT_EQ(ns::describe(SHR::getAuthValueForKeyForSharer("accessToken", "SHRFoursquareV2")), "tok-1");
    EXPECT_EQ(rec.names, (std::vector<std::string>{"SHRAuthDidFinish:true"}));
    // The pending share goes on to the place list once the sign-in page is gone.
    ASSERT_TRUE(runUntil([&] { return ns::as<SHRFoursquareV2VenuesForm>(shownTop()) != nullptr; }));

    // Logout forgets the token.
    s->logout();
    EXPECT_FALSE(SHR::getAuthValueForKeyForSharer("accessToken", "SHRFoursquareV2"));

    auto params = SHRFoursquareV2OAuthView::fragmentParameters(*ns::URL::URLWithString("x://y#a=1&b&c=%41"));
    EXPECT_EQ(params->count(), 2u);
    EXPECT_EQ(ns::describe(params->objectForKey("c")), "%41");
    EXPECT_FALSE(SHRFoursquareV2OAuthView::fragmentParameters(*ns::URL::URLWithString("x://y?a=1")));
}

// A callback that brings no token (the user denied, an empty token) or an
// error is a failed login: "Access Error", the login reported failed,
// nothing stored (the token stored before stays), and the share does not go
// on, neither with nothing nor with the token stored before.
TEST_F(FoursquareTest, CallbacksWithoutATokenAreFailedLogins) {
    struct Row {
        const char* what;
        const char* callback;
    };
    const std::vector<Row> rows = {
        {"no fragment", "deck://fsq/callback"},
        {"denied", "deck://fsq/callback#error=access_denied"},
        {"denied, in the query", "deck://fsq/callback?error=access_denied"},
        {"no token", "deck://fsq/callback#expires=1"},
        {"an empty token", "deck://fsq/callback#access_token=&expires=1"},
        {"a token and an error", "deck://fsq/callback#access_token=tok-9&error=server_error"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        // The token stored before, which the service no longer takes: this
        // login was to replace it.
        ASSERT_TRUE(SHR::setAuthValueForKeyForSharer(ns::str("old-tok").get(), "accessToken", "SHRFoursquareV2"));
        ui::Panel::resetShown();
        NotificationRecorder rec;
        auto s = ns::make<SHRFoursquareV2>();
        s->setAuthorizeCallbackURL(ns::URL::URLWithString("deck://fsq/callback"));
        s->setItem(SHRItem::text(ns::str("Here")));
        s->setPendingAction(SHRPendingShare);
        s->promptAuthorization();
        auto* view = ns::as<SHRFoursquareV2OAuthView>(shownTop());
        ASSERT_TRUE(view);
        ns::Ref<SHRFoursquareV2OAuthView> keep(view);
        auto cb = ui::URLRequest::requestWithString(row.callback);
        EXPECT_FALSE(view->webViewShouldStartLoadWithRequest(view->webView(), cb.get(), ui::WebViewNavigationType::Other));
        EXPECT_EQ(alerts(), std::vector<std::string>{"Access Error|There was an error while sharing"});
        EXPECT_EQ(rec.names, (std::vector<std::string>{"SHRAuthDidFinish:false"}));
        EXPECT_EQ(ns::describe(SHR::getAuthValueForKeyForSharer("accessToken", "SHRFoursquareV2")), "old-tok");
        EXPECT_FALSE(s->accessToken());
        EXPECT_EQ(s->pendingAction(), SHRPendingShare);
        // The sign-in page goes, and no screen of the share follows it.
        ASSERT_TRUE(runUntil([] {
            return SHR::currentHelper()->currentView() == nullptr && SHR::currentHelper()->pendingView() == nullptr;
        }, 2)) << "the share went on to " << (shownTop() ? shownTop()->className() : "?");
        EXPECT_TRUE(fake.server.requests().empty()) << "something was sent";
    }
}

// A token the keychain cannot store (a full disk) is reported and not used:
// the sharer is not signed in and the share does not go on.
TEST_F(FoursquareTest, ATokenThatCannotBeSavedIsReportedAndNotUsed) {
    testsupport::FullDisk disk(ns::Paths::join(ns::Paths::libraryDirectory(), "Keychains"));
    disk.fill();
    NotificationRecorder rec;
    auto s = ns::make<SHRFoursquareV2>();
    s->setItem(SHRItem::text(ns::str("Here")));
    s->setPendingAction(SHRPendingShare);
    s->tokenAuthorizeViewDidFinishWithSuccess(nullptr, true, ns::Dictionary::make({{"access_token", ns::str("t")}}),
                                              nullptr);
    EXPECT_EQ(alerts(), std::vector<std::string>{"Login Error|Your login to Foursquare could not be saved. Please try again."});
    EXPECT_EQ(rec.names, (std::vector<std::string>{"SHRAuthDidFinish:false"}));
    EXPECT_FALSE(s->accessToken());
    EXPECT_FALSE(s->isAuthorized());
    EXPECT_FALSE(ns::as<SHRFoursquareV2VenuesForm>(shownTop()));
}

TEST_F(FoursquareTest, PlacesFromTheDevicePositionThenCheckIn) {
    NotificationRecorder rec;
    std::string longText(150, 'x');
    auto s = signedInSharer(("Checking in " + longText).c_str());
    ASSERT_TRUE(runUntil([&] { return ns::as<SHRFoursquareV2VenuesForm>(shownTop()) != nullptr; }));
    ns::Ref<SHRFoursquareV2VenuesForm> form(ns::as<SHRFoursquareV2VenuesForm>(shownTop()));
    EXPECT_EQ(form->title(), "Nearby Places");
    EXPECT_EQ(form->searchBar()->placeholder(), "Search places");
    ASSERT_TRUE(form->locationManager());
    EXPECT_TRUE(form->locationManager()->isMonitoringSignificantLocationChanges());

    loc::LocationManager::setDevicePosition(loc::Location::make(52.520008, 13.404954, 34.5, 10, 5));
    ASSERT_TRUE(runUntil([&] { return form->venues() && form->venues()->count() == 2; }));
    auto searches = fake.on("/v2/venues/search");
    ASSERT_EQ(searches.size(), 1u);
    auto q = formFields(queryOf(searches[0].target));
    EXPECT_EQ(q["ll"], "52.52001,13.40495");
    EXPECT_EQ(q["llAcc"], "10.00");
    EXPECT_EQ(q["alt"], "34.50");
    EXPECT_EQ(q["altAcc"], "5.00");
    EXPECT_EQ(q.count("query"), 0u);
    auto* first = ns::as<SHRFoursquareV2Venue>(form->venues()->objectAtIndex(0));
    ASSERT_TRUE(first);
    EXPECT_EQ(ns::describe(first->icon()), "cafe.png");
    EXPECT_FALSE(ns::as<SHRFoursquareV2Venue>(form->venues()->objectAtIndex(1))->icon());
    auto* table = form->tableView();
    EXPECT_EQ(table->numberOfSections(), 1);  // each place once
    EXPECT_EQ(table->numberOfRowsInSection(0), 2);
    table->layoutSubviews();
    auto* cell = table->cellForRowAtIndexPath({0, 0});
    ASSERT_TRUE(cell);
    EXPECT_EQ(cell->reuseIdentifier(), "SHRFoureSquareV2VenueCell");
    EXPECT_EQ(cell->textLabel()->text(), "Cafe One");
    EXPECT_EQ(cell->detailTextLabel()->text(), "1 Main St");

    // A later position only moves the check-in point.
    loc::LocationManager::setDevicePosition(loc::Location::make(48.1, 11.5, 500, 20, 8));
    ASSERT_TRUE(runUntil([&] { return form->location()->coordinate().latitude == 48.1; }));
    EXPECT_EQ(fake.on("/v2/venues/search").size(), 1u);

    // Searching with the search display active fills the results list only.
    form->setSearchDisplayActive(true);
    form->searchBar()->setText("  caf\xC3\xA9 & bar \n");
    form->searchBar()->pressSearch();
    ASSERT_TRUE(runUntil([&] { return form->filteredVenues() != nullptr; }));
    EXPECT_EQ(form->venues()->count(), 0u);
    EXPECT_EQ(form->filteredVenues()->count(), 1u);
    EXPECT_EQ(formFields(queryOf(fake.on("/v2/venues/search")[1].target))["query"], "caf\xC3\xA9 & bar");
    // A blank search clears the query and sends nothing.
    form->searchBar()->setText("   ");
    form->searchBar()->pressSearch();
    EXPECT_FALSE(form->query());
    EXPECT_FALSE(form->request());

    // Choosing the result opens the check-in form, the shared large text
    // form with a limit of 140: too long a text cannot be checked in.
    ASSERT_TRUE(form->searchResultsTableView()->userSelectRow({0, 0}));
    EXPECT_EQ(ns::describe(s->venue()->venueId()), "v9");
    auto* checkIn = ns::as<SHRFoursquareV2CheckInForm>(s->topViewController());
    ASSERT_TRUE(checkIn);
    ASSERT_TRUE(ns::as<SHRFormControllerLargeTextField>(checkIn));
    EXPECT_EQ(checkIn->text().size(), 162u);
    ASSERT_TRUE(checkIn->counter());
    EXPECT_EQ(checkIn->counter()->text(), "-22");
    EXPECT_EQ(s->navigationBar()->tintColor()->description(), ns::make<ui::Color>(-1.0, -1.0, -1.0, 1.0)->description());
    ui::BarButtonItem* checkInButton = checkIn->navigationItem()->rightBarButtonItem().get();
    EXPECT_EQ(checkInButton->title(), "Check In");
    EXPECT_FALSE(checkInButton->isEnabled());
    // 140 characters (of two bytes each) and one more.
    for (size_t n : {140u, 141u}) {
        std::string text;
        for (size_t i = 0; i < n; ++i) text += "\xC3\xBC";
        checkIn->setText(text);
        EXPECT_EQ(checkIn->counter()->text(), n == 140 ? "0" : "-1");
        EXPECT_EQ(checkInButton->isEnabled(), n == 140);
    }
    checkIn->setText("Great bar & music!");
    EXPECT_TRUE(checkInButton->isEnabled());
    ns::Ref<SHRFoursquareV2CheckInForm> heldForm(checkIn);
    ns::Ref<ui::BarButtonItem> heldButton(checkInButton);
    ui::Driver driver(clock);
    ASSERT_TRUE(driver.tapBarButton("Check In")) << driver.lastError();
    // The form stays up while the check-in is on its way: Check In is off,
    // pressed again it sends nothing more, whatever the text does, and
    // Cancel only closes the screen (the check-in reports its own end).
    EXPECT_FALSE(heldButton->isEnabled());
    heldForm->setText("Another shout");
    EXPECT_FALSE(heldButton->isEnabled());
    EXPECT_FALSE(heldButton->performAction());
    heldForm->save();  // a press that got through before the button went off
    heldForm->cancel();
    ASSERT_TRUE(runUntil([&] {
        return std::find(rec.names.begin(), rec.names.end(), SHRSendDidFinishNotification) != rec.names.end();
    }));
    runUntil([] { return false; }, 0.2);  // a second check-in would be answered by now
    EXPECT_EQ(std::count(rec.names.begin(), rec.names.end(), SHRSendDidFinishNotification), 1);
    EXPECT_EQ(std::count(rec.names.begin(), rec.names.end(), SHRSendDidCancelNotification), 0);
    auto checkins = fake.on("/v2/checkins/add");
    ASSERT_EQ(checkins.size(), 1u);
    auto c = formFields(queryOf(checkins[0].target));
    EXPECT_EQ(c["venueId"], "v9");
    EXPECT_EQ(c["shout"], "Great bar & music!");
    EXPECT_EQ(c["ll"], "48.10000,11.50000");
    EXPECT_EQ(c["alt"], "500.00");
    EXPECT_EQ(checkins[0].body, "");

    // The list stops watching the position once it is gone.
    EXPECT_FALSE(form->locationManager());
}

// A place is chosen from the main list as from the search results.
TEST_F(FoursquareTest, APlaceChosenFromTheMainListIsCheckedInTo) {
    auto s = signedInSharer("Here");
    ASSERT_TRUE(runUntil([&] { return ns::as<SHRFoursquareV2VenuesForm>(shownTop()) != nullptr; }));
    ns::Ref<SHRFoursquareV2VenuesForm> form(ns::as<SHRFoursquareV2VenuesForm>(shownTop()));
    loc::LocationManager::setDevicePosition(loc::Location::make(1, 2));
    ASSERT_TRUE(runUntil([&] { return form->venues() && form->venues()->count() == 2; }));
    form->tableView()->layoutSubviews();
    ASSERT_TRUE(form->tableView()->userSelectRow({0, 1}));
    ASSERT_TRUE(s->venue());
    EXPECT_EQ(ns::describe(s->venue()->venueId()), "v2");
    EXPECT_TRUE(ns::as<SHRFoursquareV2CheckInForm>(s->topViewController()));
}

TEST_F(FoursquareTest, ExpiredTokenAsksForReloginAndOtherErrors) {
    SHR::setAuthValueForKeyForSharer(ns::str("old").get(), "accessToken", "SHRFoursquareV2");
    auto s = ns::make<SHRFoursquareV2>();
    s->setShareDelegate(nullptr);
    s->setItem(SHRItem::text(ns::str("Here")));
    s->share();
    ASSERT_TRUE(runUntil([&] { return ns::as<SHRFoursquareV2VenuesForm>(shownTop()) != nullptr; }));
    NotificationRecorder rec;
    loc::LocationManager::setDevicePosition(loc::Location::make(1, 2));
    ASSERT_TRUE(runUntil([&] { return !rec.names.empty(); }));
    EXPECT_EQ(rec.names[0], SHRSendDidFailWithErrorNotification);
    ns::Error* e = s->lastError();
    ASSERT_TRUE(e);
    EXPECT_EQ(e->domain(), "SHRFoursquareV2ErrorDomain");
    EXPECT_EQ(e->code(), 401);
    EXPECT_EQ(e->localizedDescription(), "Could not authenticate you. Please relogin.");
    EXPECT_EQ(ns::describe(e->userInfo()->objectForKey(SHRFoursquareV2ErrorTypeKey)), "invalid_auth");
    EXPECT_TRUE(ns::as<ns::Dictionary>(e->userInfo()->objectForKey(SHRFoursquareV2MetaKey)));
    EXPECT_TRUE(getFoursquareRelogin(e));

    // A reply that is not JSON: code 0, the general text; an empty shout is left out.
    fake.checkinStatusBody = "garbage";
    s->setAccessToken(ns::str("tok-1"));
    auto venue = ns::make<SHRFoursquareV2Venue>();
    venue->setVenueId(ns::str("v1"));
    s->setVenue(venue);
    s->setLocation(loc::Location::make(1, 2));
    s->item()->setText(ns::str(""));
    rec.names.clear();
    s->startCheckInRequest();
    ASSERT_TRUE(runUntil([&] { return rec.names.size() >= 2; }));
    ASSERT_TRUE(s->lastError());
    EXPECT_EQ(s->lastError()->code(), 0);
    EXPECT_EQ(s->lastError()->localizedDescription(), "There was an error while sharing");
    EXPECT_FALSE(getFoursquareRelogin(s->lastError()));
    auto checkins = fake.on("/v2/checkins/add");
    ASSERT_EQ(checkins.size(), 1u);
    EXPECT_EQ(formFields(queryOf(checkins[0].target)).count("shout"), 0u);

    // An error of another domain with code 401 is not a relogin.
    EXPECT_FALSE(getFoursquareRelogin(ns::Error::make("other", 401).get()));
}

// The stored token (kept as the sign-in page's fragment gave it) and the ids
// the service chose reach it as they are, whatever characters they hold:
// the fake decodes every query and compares.
TEST_F(FoursquareTest, StoredTokensAndIdsArriveAsTheyAre) {
    struct Case {
        const char* name;
        const char* stored;   // in the keychain
        const char* arrives;  // what the service must decode
        const char* venueId;  // as a search reply gave it
    } cases[] = {
        {"plain", "tok-1", "tok-1", "v1"},
        {"reserved characters", "t+k/1?;@:$,!'()*", "t+k/1?;@:$,!'()*", "v#1&b=2 +c"},
        {"escaped in the fragment", "tok%2B1%2F2%26", "tok+1/2&", "v%41"},
        {"outside ASCII", "t\xC3\xA9k", "t\xC3\xA9k", "caf\xC3\xA9"},
    };
    loc::LocationManager::setDevicePosition(loc::Location::make(1, 2));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        {
            std::lock_guard<std::mutex> g(fake.m);
            fake.token = c.arrives;
        }
        ASSERT_TRUE(SHR::setAuthValueForKeyForSharer(ns::str(c.stored).get(), "accessToken", "SHRFoursquareV2"));
        auto s = ns::make<SHRFoursquareV2>();
        s->setShareDelegate(nullptr);
        ASSERT_TRUE(s->isAuthorized());  // reads the token back
        size_t searches = fake.on("/v2/venues/search").size(), checkins = fake.on("/v2/checkins/add").size();

        bool searched = false, searchOK = false;
        auto search = SHRFoursquareV2Request::requestVenuesSearchLocationQuery(
            loc::Location::make(1, 2).get(), ns::str("a&b=c").get(), s,
            [&](SHRRequest* r) { searched = true; searchOK = r->success(); }, s->accessToken().get(), true);
        ASSERT_TRUE(runUntil([&] { return searched; }));
        EXPECT_TRUE(searchOK);
        ASSERT_EQ(fake.on("/v2/venues/search").size(), searches + 1);
        auto q = formFields(queryOf(fake.on("/v2/venues/search").back().target));
        EXPECT_EQ(q["oauth_token"], c.arrives);
        EXPECT_EQ(q["query"], "a&b=c");

        NotificationRecorder rec;
        auto venue = ns::make<SHRFoursquareV2Venue>();
        venue->setVenueId(ns::str(c.venueId));
        s->setVenue(venue);
        s->setLocation(loc::Location::make(1, 2));
        s->setItem(SHRItem::text(ns::str("x")));
        s->startCheckInRequest();
        ASSERT_TRUE(runUntil([&] { return rec.names.size() >= 2; }));
        EXPECT_EQ(rec.names.back(), SHRSendDidFinishNotification);
        ASSERT_EQ(fake.on("/v2/checkins/add").size(), checkins + 1);
        auto checkin = formFields(queryOf(fake.on("/v2/checkins/add").back().target));
        EXPECT_EQ(checkin["oauth_token"], c.arrives);
        EXPECT_EQ(checkin["venueId"], c.venueId);
    }
}

TEST_F(FoursquareTest, CancellingThePlacesListReachesASharerOnlyItsScreenHeld) {
    NotificationRecorder rec;
    ns::Weak<SHRFoursquareV2> weak = signedInSharer("Here");
    ASSERT_TRUE(runUntil([&] { return ns::as<SHRFoursquareV2VenuesForm>(shownTop()) != nullptr; }));
    ns::Ref<SHRFoursquareV2VenuesForm> form(ns::as<SHRFoursquareV2VenuesForm>(shownTop()));
    ASSERT_TRUE(form);
    loc::LocationManager::setDevicePosition(loc::Location::make(52.520008, 13.404954, 34.5, 10, 5));
    ASSERT_TRUE(runUntil([&] { return form->venues() && form->venues()->count() == 2; }));
    rec.names.clear();
    ns::Ref<SHRFoursquareV2> held = weak.lock();  // a caller that kept the sharer
    ASSERT_TRUE(held);
    ASSERT_TRUE(form->searchBar()->becomeFirstResponder());  // the user was typing a search
    form->cancelPressed(nullptr);
    EXPECT_FALSE(form->searchBar()->isFirstResponder()) << "the search bar lets the focus go";
    EXPECT_EQ(rec.names, (std::vector<std::string>{SHRSendDidCancelNotification}));
    // Cancel is final: a caller still holding the list starts no search,
    // checks in nowhere and hears of no cancel again.
    form->searchBar()->setText("coffee");
    form->searchBarSearchButtonClicked(form->searchBar());
    EXPECT_FALSE(form->request()) << "no search started";
    form->locationManagerDidUpdateToLocationFromLocation(nullptr, loc::Location::make(1, 2).get(), nullptr);
    EXPECT_FALSE(form->request()) << "no search started";
    form->tableViewDidSelectRowAtIndexPath(form->tableView(), ui::IndexPath::forRow(0, 0));  // a place tapped
    EXPECT_FALSE(held->venue()) << "no check-in begun";
    EXPECT_FALSE(SHR::currentHelper()->currentView()) << "no check-in form shown";
    held = nullptr;
    form->cancelPressed(nullptr);
    EXPECT_EQ(rec.names, (std::vector<std::string>{SHRSendDidCancelNotification}));
    EXPECT_TRUE(runUntil([&] { return weak.expired(); }));
}

}  // namespace
}  // namespace sharing::test
