#include "sharing/sharers/foursquare/SHRFoursquareV2.h"

#include "net/json/JsonParser.h"
#include "platform/foundation/PercentEncoding.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/BarItems.h"
#include "platform/ui/Color.h"
#include "platform/ui/NavigationController.h"
#include "sharing/core/SHR.h"
#include "sharing/ui/SHRActivityIndicator.h"

namespace sharing {

namespace {

constexpr const char* kAccessTokenKey = "accessToken";

// Percent-encoding of everything but the unreserved characters.
std::string urlEncode(std::string_view text) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') out += static_cast<char>(c);
        else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

// The access token as one query value. It is kept as the sign-in page's
// fragment gave it, escapes and all: they are decoded once here, then every
// byte but the unreserved characters is escaped, so a "+", "&", "#" or "/"
// in it arrives as itself. Nil stays "(null)", as it was written before.
std::string tokenValue(const ns::String* token) {
    if (!token) return ns::format("%@", nullptr);
    auto decoded = ns::removePercentEncoding(token->view());
    return urlEncode(decoded ? std::string_view(*decoded) : token->view());
}

// An id a reply gave (venue, user) as one query value or path segment.
std::string idValue(const ns::String* id) { return id ? urlEncode(id->view()) : ns::format("%@", nullptr); }

std::string locationParts(const loc::Location* l) {
    if (!l) return "";
    return ns::format("&ll=%.5lf,%.5lf", l->coordinate().latitude, l->coordinate().longitude) +
           ns::format("&llAcc=%.2lf", l->horizontalAccuracy()) + ns::format("&alt=%.2lf", l->altitude()) +
           ns::format("&altAcc=%.2lf", l->verticalAccuracy());
}

std::string generalError() { return SHRLocalizedString("There was an error while sharing"); }

}  // namespace

// -- Errors ----------------------------------------------------------------------------------------

ns::Ref<ns::Error> errorWithFoursquareMeta(const ns::Dictionary* meta) {
    long code = 0;
    if (meta) {
        if (auto* n = ns::as<ns::Number>(meta->objectForKey("code"))) code = n->longValue();
        else if (auto* s = meta->stringForKey("code")) code = std::atol(s->c_str());
    }
    std::string description =
        code == 401 ? SHRLocalizedString("Could not authenticate you. Please relogin.") : generalError();
    auto info = ns::MutableDictionary::make();
    if (meta) {
        if (auto* type = meta->stringForKey("errorType")) info->setObject(ns::Ref<ns::String>(type), SHRFoursquareV2ErrorTypeKey);
    }
    if (meta) info->setObject(ns::Ref<ns::Object>(const_cast<ns::Dictionary*>(meta)), SHRFoursquareV2MetaKey);
    info->setObject(ns::str(description), ns::kLocalizedDescriptionKey);
    return ns::Error::make(SHRFoursquareV2ErrorDomain, code, info);
}

bool getFoursquareRelogin(const ns::Error* error) {
    return error && error->domain() == SHRFoursquareV2ErrorDomain && error->code() == 401;
}

// -- Venue -------------------------------------------------------------------------------------------

ns::Ref<SHRFoursquareV2Venue> SHRFoursquareV2Venue::venueFromDictionary(const ns::Dictionary* d) {
    auto v = ns::make<SHRFoursquareV2Venue>();
    if (!d) return v;
    v->setVenueId(ns::Ref<ns::String>(d->stringForKey("id")));
    v->setName(ns::Ref<ns::String>(d->stringForKey("name")));
    if (auto* location = ns::as<ns::Dictionary>(d->objectForKey("location")))
        v->setAddress(ns::Ref<ns::String>(location->stringForKey("address")));
    if (auto* categories = ns::as<ns::Array>(d->objectForKey("categories"))) {
        for (ns::Object* o : *categories) {
            auto* category = ns::as<ns::Dictionary>(o);
            if (!category) continue;
            auto* primary = ns::as<ns::Number>(category->objectForKey("primary"));
            if (primary && primary->boolValue()) {
                v->setIcon(ns::Ref<ns::Object>(category->objectForKey("icon")));
                break;
            }
        }
    }
    return v;
}

// -- Request -------------------------------------------------------------------------------------------

std::string SHRFoursquareV2Request::apiRoot() { return ns::ServiceEndpoints::url(kService, "/v2"); }

namespace {
ns::Ref<SHRFoursquareV2Request> makeRequest(const std::string& url, const char* method, const char* body,
                                            ns::Ref<ns::Object> delegate, SHRRequest::FinishedSelector fn,
                                            bool autostart) {
    auto r = ns::make<SHRFoursquareV2Request>(ns::URL::URLWithString(url), body ? ns::str(body) : nullptr,
                                              std::move(delegate), std::move(fn), ns::str(method));
    if (autostart) r->start();
    return r;
}
}  // namespace

ns::Ref<SHRFoursquareV2Request> SHRFoursquareV2Request::requestVenuesSearchLocationQuery(
    const loc::Location* location, const ns::String* query, ns::Ref<ns::Object> delegate, FinishedSelector isFinished,
    const ns::String* accessToken, bool autostart) {
    std::string url = ns::format("%@/venues/search?oauth_token=%@&v=%@", apiRoot(), tokenValue(accessToken),
                                 kSHRFoursquareV2APIVersion);
    url += locationParts(location);
    if (query) url += ns::format("&query=%@", urlEncode(query->view()));
    return makeRequest(url, "GET", nullptr, std::move(delegate), std::move(isFinished), autostart);
}

ns::Ref<SHRFoursquareV2Request> SHRFoursquareV2Request::requestCheckinLocationVenueMessage(
    const loc::Location* location, const SHRFoursquareV2Venue* venue, const ns::String* message,
    ns::Ref<ns::Object> delegate, FinishedSelector isFinished, const ns::String* accessToken, bool autostart) {
    std::string url = ns::format("%@/checkins/add?oauth_token=%@&v=%@", apiRoot(), tokenValue(accessToken),
                                 kSHRFoursquareV2APIVersion);
    url += ns::format("&venueId=%@", idValue(venue ? venue->venueId().get() : nullptr));
    url += locationParts(location);
    if (message && message->length() > 0) url += ns::format("&shout=%@", urlEncode(message->view()));
    return makeRequest(url, "POST", "", std::move(delegate), std::move(isFinished), autostart);
}

ns::Ref<SHRFoursquareV2Request> SHRFoursquareV2Request::requestProfileForUserId(const ns::String* userId,
                                                                                ns::Ref<ns::Object> delegate,
                                                                                FinishedSelector isFinished,
                                                                                const ns::String* accessToken,
                                                                                bool autostart) {
    std::string url = ns::format("%@/users/%@?oauth_token=%@&v=%@", apiRoot(), idValue(userId),
                                 tokenValue(accessToken), kSHRFoursquareV2APIVersion);
    return makeRequest(url, "GET", nullptr, std::move(delegate), std::move(isFinished), autostart);
}

void SHRFoursquareV2Request::start() {
    foursquareResult_ = nullptr;
    foursquareError_ = nullptr;
    resultRead_ = false;
    SHRRequest::start();
}

ns::Dictionary* SHRFoursquareV2Request::getFoursquareResult() {
    if (!resultRead_) {
        resultRead_ = true;
        auto parser = ns::make<json::JsonParser>();
        foursquareResult_ = ns::Ref<ns::Dictionary>(ns::as<ns::Dictionary>(parser->objectWithString(getResult().get()).get()));
    }
    return foursquareResult_.get();
}

ns::Dictionary* SHRFoursquareV2Request::getFoursquareMeta() {
    auto* r = getFoursquareResult();
    return r ? ns::as<ns::Dictionary>(r->objectForKey("meta")) : nullptr;
}

ns::Dictionary* SHRFoursquareV2Request::getFoursquareResponse() {
    auto* r = getFoursquareResult();
    return r ? ns::as<ns::Dictionary>(r->objectForKey("response")) : nullptr;
}

ns::Error* SHRFoursquareV2Request::getFoursquareError() {
    if (success()) return nullptr;
    if (!foursquareError_) foursquareError_ = errorWithFoursquareMeta(getFoursquareMeta());
    return foursquareError_.get();
}

// -- Sign-in view ------------------------------------------------------------------------------------

ns::Ref<SHRFoursquareV2OAuthView> SHRFoursquareV2OAuthView::make(ns::Ref<ns::URL> url, SHROAuthViewDelegate* delegate) {
    auto v = ns::make<SHRFoursquareV2OAuthView>();
    v->navigationItem()->setLeftBarButtonItem(
        ui::BarButtonItem::withSystemItem(ui::BarButtonItem::SystemItem::Cancel, static_cast<SHROAuthView*>(v.get()),
                                          &SHROAuthView::cancelPressed));
    v->setDelegate(delegate);
    v->view();
    v->webView()->loadRequest(ui::URLRequest::requestWithURL(std::move(url)));
    return v;
}

ns::Ref<ns::Dictionary> SHRFoursquareV2OAuthView::fragmentParameters(const ns::URL& url) {
    return parametersOf(url.fragment().get());
}

bool SHRFoursquareV2OAuthView::webViewShouldStartLoadWithRequest(ui::WebView* wv, ui::URLRequest* request,
                                                                 ui::WebViewNavigationType type) {
    SHROAuthViewDelegate* d = delegate();
    if (!d || !request || !request->URL()) return true;
    auto callback = d->authorizeCallbackURL();
    if (!callback) return true;
    if (!request->URL()->absoluteString()->containsString(callback->absoluteText())) return true;
    auto keep = ns::keepAlive(this);
    ns::Ref<ns::Object> keepDelegate(dynamic_cast<ns::Object*>(d));
    auto params = fragmentParameters(*request->URL());
    setDelegate(nullptr);
    d->tokenAuthorizeViewDidFinishWithSuccess(this, true, params, nullptr);
    return false;
}

// -- Place list ----------------------------------------------------------------------------------------

SHRFoursquareV2VenuesForm::SHRFoursquareV2VenuesForm(SHRFoursquareV2* delegate) : delegate_(delegate) {
    setTitle(SHRLocalizedString("Nearby Places"));
    navigationItem()->setLeftBarButtonItem(ui::BarButtonItem::withSystemItem(
        ui::BarButtonItem::SystemItem::Cancel, this, &SHRFoursquareV2VenuesForm::cancelPressed));
}

SHRFoursquareV2VenuesForm::~SHRFoursquareV2VenuesForm() {
    if (locationManager_) {
        locationManager_->setDelegate(nullptr);
        locationManager_->stopUpdatingLocation();
        locationManager_->stopMonitoringSignificantLocationChanges();
    }
}

void SHRFoursquareV2VenuesForm::loadView() {
    tableView_ = ui::TableView::make({{0, 0}, {320, 416}}, ui::TableViewStyle::Plain);
    searchBar_ = ns::make<ui::SearchBar>(ui::Rect{{0, 0}, {320, 44}});
    searchBar_->setPlaceholder(SHRLocalizedString("Search places"));
    searchBar_->setDelegate(this);
    tableView_->setTableHeaderView(searchBar_);
    tableView_->setDataSource(this);
    tableView_->setDelegate(this);
    resultsTableView_ = ui::TableView::make({{0, 44}, {320, 372}}, ui::TableViewStyle::Plain);
    resultsTableView_->setDataSource(this);
    resultsTableView_->setDelegate(this);
    setView(tableView_);
}

void SHRFoursquareV2VenuesForm::viewWillAppear(bool animated) {
    ui::ViewController::viewWillAppear(animated);
    startMonitoringLocation();
}

void SHRFoursquareV2VenuesForm::viewDidDisappear(bool animated) {
    ui::ViewController::viewDidDisappear(animated);
    stopMonitoringLocation();
}

void SHRFoursquareV2VenuesForm::startMonitoringLocation() {
    if (!locationManager_) {
        locationManager_ = ns::make<loc::LocationManager>();
        locationManager_->setDesiredAccuracy(loc::kLocationAccuracyBest);
        locationManager_->setDelegate(this);
        if (loc::LocationManager::significantLocationChangeMonitoringAvailable())
            locationManager_->startMonitoringSignificantLocationChanges();
        else
            locationManager_->startUpdatingLocation();
    }
    if (!location_)
        SHRActivityIndicator::currentIndicator()->displayActivity(SHRLocalizedString("Determine your location..."));
}

void SHRFoursquareV2VenuesForm::stopMonitoringLocation() {
    if (locationManager_) {
        locationManager_->setDelegate(nullptr);
        locationManager_->stopUpdatingLocation();
        locationManager_->stopMonitoringSignificantLocationChanges();
    }
    locationManager_ = nullptr;
    location_ = nullptr;
}

void SHRFoursquareV2VenuesForm::locationManagerDidUpdateToLocationFromLocation(loc::LocationManager*,
                                                                               loc::Location* newLocation,
                                                                               loc::Location*) {
    if (cancelled_) return;
    bool first = !location_;
    location_ = ns::Ref<loc::Location>(newLocation);
    if (first) startSearch();
}

void SHRFoursquareV2VenuesForm::searchBarSearchButtonClicked(ui::SearchBar* b) {
    if (cancelled_) return;
    auto text = ns::str(b->text())->stringByTrimmingWhitespace();
    if (text && text->length() > 0) {
        query_ = text;
        startSearch();
    } else {
        query_ = nullptr;
    }
}

void SHRFoursquareV2VenuesForm::startSearch() {
    SHRActivityIndicator::currentIndicator()->displayActivity(SHRLocalizedString("Searching places..."));
    auto sharer = delegate_.lock();
    SHRFoursquareV2VenuesForm* self = this;
    request_ = SHRFoursquareV2Request::requestVenuesSearchLocationQuery(
        location_.get(), query_.get(), ns::keepAlive(this), [self](SHRRequest* r) { self->searchFinished(r); },
        sharer ? sharer->accessToken().get() : nullptr, true);
}

void SHRFoursquareV2VenuesForm::searchFinished(SHRRequest* r) {
    auto keep = ns::keepAlive(this);
    auto* request = static_cast<SHRFoursquareV2Request*>(r);
    SHRActivityIndicator::currentIndicator()->hide();
    if (cancelled_) return;  // the user has left the list: nothing more is told
    venues_ = ns::MutableArray::make();
    if (request->success()) {
        auto list = ns::MutableArray::make();
        auto* response = request->getFoursquareResponse();
        if (auto* venues = response ? ns::as<ns::Array>(response->objectForKey("venues")) : nullptr)
            for (ns::Object* o : *venues) list->addObject(SHRFoursquareV2Venue::venueFromDictionary(ns::as<ns::Dictionary>(o)));
        if (searchActive_) {
            filteredVenues_ = list;
            if (resultsTableView_) resultsTableView_->reloadData();
        } else {
            venues_ = list;
        }
        if (tableView_) tableView_->reloadData();
    } else if (auto sharer = delegate_.lock()) {
        ns::Ref<ns::Error> error(request->getFoursquareError());
        sharer->sendDidFailWithErrorShouldRelogin(error, getFoursquareRelogin(error.get()));
    }
    request_ = nullptr;
}

ns::Array* SHRFoursquareV2VenuesForm::listFor(ui::TableView* t) const {
    return t == resultsTableView_.get() ? filteredVenues_.get() : venues_.get();
}

long SHRFoursquareV2VenuesForm::numberOfSectionsInTableView(ui::TableView* t) { return listFor(t) ? 1 : 0; }

long SHRFoursquareV2VenuesForm::tableViewNumberOfRowsInSection(ui::TableView* t, long) {
    auto* list = listFor(t);
    return list ? static_cast<long>(list->count()) : 0;
}

ns::Ref<ui::TableViewCell> SHRFoursquareV2VenuesForm::tableViewCellForRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) {
    static const std::string kCell = "SHRFoureSquareV2VenueCell";
    auto cell = t->dequeueReusableCellWithIdentifier(kCell);
    if (!cell) cell = ui::TableViewCell::make(ui::TableViewCellStyle::Subtitle, kCell);
    auto* venue = ns::as<SHRFoursquareV2Venue>(listFor(t)->objectAtIndex(static_cast<size_t>(ip.row)));
    cell->textLabel()->setText(venue && venue->name() ? std::string(venue->name()->utf8()) : "");
    cell->detailTextLabel()->setText(venue && venue->address() ? std::string(venue->address()->utf8()) : "");
    cell->setAccessoryType(ui::TableViewCellAccessoryType::DisclosureIndicator);
    return cell;
}

void SHRFoursquareV2VenuesForm::tableViewDidSelectRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) {
    auto keep = ns::keepAlive(this);
    auto sharer = delegate_.lock();
    auto* list = listFor(t);
    if (cancelled_ || !sharer || !list || ip.row < 0 || static_cast<size_t>(ip.row) >= list->count()) return;
    ns::Ref<SHRFoursquareV2Venue> venue(ns::as<SHRFoursquareV2Venue>(list->objectAtIndex(static_cast<size_t>(ip.row))));
    ns::Ref<loc::Location> here = location_;
    sharer->popViewControllerAnimated(false);
    sharer->setVenue(venue);
    sharer->setLocation(here);
    sharer->showFoursquareV2CheckInForm();
}

void SHRFoursquareV2VenuesForm::cancelPressed(ns::Object*) {
    if (cancelled_) return;  // told once
    cancelled_ = true;
    auto keep = ns::keepAlive(this);
    if (searchBar_) searchBar_->resignFirstResponder();
    stopMonitoringLocation();
    if (request_) request_->cancel();
    request_ = nullptr;
    auto sharer = delegate_.lock();  // the screen being closed may be its last owner
    SHR::currentHelper()->hideCurrentViewControllerAnimated(true);
    if (sharer) sharer->sendDidCancel();
}

// -- Check-in form -----------------------------------------------------------------------------------------

void SHRFoursquareV2CheckInForm::setupBarButtonItems() {
    SHRFormControllerLargeTextField::setupBarButtonItems();
    navigationItem()->setRightBarButtonItem(ui::BarButtonItem::withTitle(
        SHRLocalizedString("Check In"), ui::BarButtonItem::Style::Done, static_cast<SHRFormControllerLargeTextField*>(this),
        &SHRFormControllerLargeTextField::savePressed));
    updateCounter();
}

// -- Sharer ---------------------------------------------------------------------------------------------------

SHRFoursquareV2::SHRFoursquareV2() {
    // The app's client identifier and registered redirect: unset here.
    clientId_ = ns::str("");
    authorizeCallbackURL_ = ns::URL::URLWithString("");
}

std::string SHRFoursquareV2::authorizationPage() {
    return ns::ServiceEndpoints::url(kWebService, "/oauth2/authenticate");
}

std::string SHRFoursquareV2::sharerTitle() const { return SHRLocalizedString("Foursquare"); }

bool SHRFoursquareV2::canShare() const {
    if (!loc::LocationManager::locationServicesEnabled()) return false;
    if (!loc::LocationManager::hasAuthorizationStatus()) return true;
    auto status = loc::LocationManager::authorizationStatus();
    return status == loc::AuthorizationStatusAuthorized || status == loc::AuthorizationStatusNotDetermined;
}

bool SHRFoursquareV2::isAuthorized() { return restoreAccessToken(); }

bool SHRFoursquareV2::restoreAccessToken() {
    if (accessToken_ && accessToken_->length() > 0) return true;
    accessToken_ = SHR::getAuthValueForKeyForSharer(kAccessTokenKey, sharerId());
    return accessToken_ && accessToken_->length() > 0;
}

bool SHRFoursquareV2::storeAccessToken() {
    return SHR::setAuthValueForKeyForSharer(accessToken_.get(), kAccessTokenKey, sharerId());
}

bool SHRFoursquareV2::deleteStoredAccessToken() {
    return SHR::removeAuthValueForKeyForSharer(kAccessTokenKey, "SHRFoursquareV2");
}

void SHRFoursquareV2::didLogout() {
    accessToken_ = nullptr;
    deleteCookiesForURL(ns::URL::URLWithString(authorizationPage()).get());
}

void SHRFoursquareV2::promptAuthorization() {
    // The client identifier is percent-encoded too: one with a blank or "&"
    // would otherwise make no URL at all, or a wrong one.
    std::string url = ns::format("%@?client_id=%@&response_type=token&redirect_uri=%@", authorizationPage(),
                                 urlEncode(clientId_ ? clientId_->view() : std::string_view()),
                                 SHREncodeURL(authorizeCallbackURL_.get()));
    auto view = SHRFoursquareV2OAuthView::make(ns::URL::URLWithString(url), this);
    SHR::currentHelper()->showViewController(view);
}

void SHRFoursquareV2::tokenAuthorizeViewDidFinishWithSuccess(SHROAuthView*, bool success,
                                                             ns::Ref<ns::Dictionary> queryParams,
                                                             ns::Ref<ns::Error> error) {
    auto keep = ns::keepAlive(this);
    SHR::currentHelper()->hideCurrentViewControllerAnimated(true);
    // Only a callback that carries a token signs the user in: one without
    // (the user denied, an empty token) or with an error is a failed login,
    // which stores nothing and sends nothing.
    ns::String* token = queryParams ? queryParams->stringForKey("access_token") : nullptr;
    if (success && (!token || token->isEmpty() || queryParams->objectForKey("error"))) success = false;
    if (success) {
        accessToken_ = ns::Ref<ns::String>(token);
        if (!storeAccessToken()) {
            accessToken_ = nullptr;  // not stored: not signed in either
            success = false;
            loginNotSaved();
        } else {
            tryPendingAction();
        }
    } else {
        ui::AlertView::make(SHRLocalizedString("Access Error"), error ? error->localizedDescription() : generalError(),
                            nullptr, SHRLocalizedString("Close"))->show();
    }
    authDidFinish(success);
}

void SHRFoursquareV2::tokenAuthorizeCancelledView(SHROAuthView*) {
    auto keep = ns::keepAlive(this);
    SHR::currentHelper()->hideCurrentViewControllerAnimated(true);
    authDidFinish(false);
}

void SHRFoursquareV2::show() {
    if (item()->shareType() == SHRShareTypeText) showFoursquareV2VenuesForm();
}

void SHRFoursquareV2::showFoursquareV2VenuesForm() {
    auto form = ns::make<SHRFoursquareV2VenuesForm>(this);
    pushViewController(form, false);
    SHR::currentHelper()->showViewController(ns::keepAlive(this));
}

void SHRFoursquareV2::showFoursquareV2CheckInForm() {
    auto form = ns::make<SHRFoursquareV2CheckInForm>();
    form->setDelegate(this, &SHRFoursquareV2::sendForm);
    form->setMaxTextLength(140);
    form->setText(item()->text() ? std::string(item()->text()->utf8()) : "");
    navigationBar()->setTintColor(ns::make<ui::Color>(-1.0, -1.0, -1.0, 1.0));
    pushViewController(form, true);
}

void SHRFoursquareV2::sendForm(SHRFormControllerLargeTextField* form) {
    item()->setText(ns::str(form->text()));
    startCheckInRequest();
}

void SHRFoursquareV2::startCheckInRequest() {
    sendDidStart();
    SHRFoursquareV2* self = this;
    setRequest(SHRFoursquareV2Request::requestCheckinLocationVenueMessage(
        location_.get(), venue_.get(), item()->text().get(), ns::keepAlive(this),
        [self](SHRRequest* r) { self->finishCheckInRequest(r); }, accessToken_.get(), true));
}

void SHRFoursquareV2::finishCheckInRequest(SHRRequest* r) {
    auto keep = ns::keepAlive(this);
    auto* request = static_cast<SHRFoursquareV2Request*>(r);
    SHR::currentHelper()->hideCurrentViewControllerAnimated(true);
    if (request->success()) sendDidFinish();
    else {
        ns::Ref<ns::Error> error(request->getFoursquareError());
        sendDidFailWithErrorShouldRelogin(error, getFoursquareRelogin(error.get()));
    }
    setRequest(nullptr);
}

void registerFoursquareSharer() {
    SHRSharer::registerSharerClass("SHRFoursquareV2", [] { return ns::Ref<SHRSharer>(ns::make<SHRFoursquareV2>()); });
}

}  // namespace sharing
