// The credentials sheet: a navigation bar (Cancel, host, Login) over a
// grouped form of text fields, presented from an invisible controller.
#include "net/http/AuthenticationDialog.h"

#include <algorithm>
#include <cmath>

#include "platform/foundation/Number.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/String.h"
#include "platform/ui/Application.h"
#include "platform/ui/Window.h"

namespace http {

namespace {

constexpr double kBarHeight = 44;

// Process-wide state, touched on the main thread only.
struct DialogState {
    ns::Ref<AuthenticationDialog> onScreen;
    std::vector<ns::Ref<HTTPRequest>> waiting;
};
DialogState& state() {
    static DialogState* s = new DialogState();  // never destroyed: requests may outlive static teardown
    return *s;
}

void removeWaiting(HTTPRequest* r) {
    auto& w = state().waiting;
    w.erase(std::remove_if(w.begin(), w.end(), [r](const ns::Ref<HTTPRequest>& x) { return x.get() == r; }),
            w.end());
}

std::string text(const ns::Ref<ns::String>& s) { return s ? std::string(s->utf8()) : std::string(); }

}  // namespace

unsigned AutorotatingViewController::supportedInterfaceOrientations() { return ui::InterfaceOrientationMaskAll; }

// ---- Registration and the class-wide queue ----------------------------------------------

void AuthenticationDialog::install() {
    setAuthenticationDialogPresenter(
        [](ns::Ref<HTTPRequest> r) { AuthenticationDialog::presentAuthenticationDialogForRequest(std::move(r)); });
}

void AuthenticationDialog::uninstall() { setAuthenticationDialogPresenter(nullptr); }

void AuthenticationDialog::presentAuthenticationDialogForRequest(ns::Ref<HTTPRequest> request) {
    if (!request || request->isCancelled() || request->isFinished()) return;
    auto& s = state();
    if (s.onScreen) {
        s.waiting.push_back(std::move(request));
        return;
    }
    auto dialog = ns::make<AuthenticationDialog>();
    dialog->setRequest(request);
    dialog->setType(request->authenticationNeeded() == kProxyAuthenticationNeeded ? kProxyLogin : kServerLogin);
    s.onScreen = dialog;
    dialog->show();
}

void AuthenticationDialog::dismissDialogOnScreen() {
    if (auto d = state().onScreen) d->dismissViewControllerAnimated(true);
}

AuthenticationDialog* AuthenticationDialog::dialogOnScreen() { return state().onScreen.get(); }

std::vector<ns::Ref<HTTPRequest>> AuthenticationDialog::waitingRequests() { return state().waiting; }

// ---- Life cycle ---------------------------------------------------------------------------

AuthenticationDialog::AuthenticationDialog() {
    auto center = ns::NotificationCenter::defaultCenter();
    keyboardObserver_ = center->addObserver(ui::kKeyboardWillShowNotification, nullptr,
                                            [this](const ns::Notification& n) { keyboardWillShow(n); });
    if (!ui::isPad()) {
        ui::Device* device = ui::Device::current();
        if (!device->isGeneratingDeviceOrientationNotifications()) {
            device->beginGeneratingDeviceOrientationNotifications();
            didEnableRotationNotifications_ = true;
        }
        orientationObserver_ = center->addObserver(ui::kDeviceOrientationDidChangeNotification, nullptr,
                                                   [this](const ns::Notification& n) { orientationChanged(n); });
    }
}

AuthenticationDialog::~AuthenticationDialog() {
    keyboardObserver_.reset();
    orientationObserver_.reset();
    if (didEnableRotationNotifications_) ui::Device::current()->endGeneratingDeviceOrientationNotifications();
    if (presentingController_ && presentingController_->isViewLoaded())
        presentingController_->view()->removeFromSuperview();
}

void AuthenticationDialog::dismiss() {
    if (state().onScreen.get() == this) dismissDialogOnScreen();
    else dismissViewControllerAnimated(true);
}

AutorotatingViewController* AuthenticationDialog::presentingController() {
    if (!presentingController_) {
        presentingController_ = ns::make<AutorotatingViewController>();
        const auto& windows = ui::Application::shared()->windows();
        if (!windows.empty()) {
            ui::View* v = presentingController_->view();
            v->setFrame(ui::kRectZero);
            v->setUserInteractionEnabled(false);
            windows.front()->addSubview(presentingController_->viewRef());
        }
    }
    return presentingController_.get();
}

void AuthenticationDialog::setPresentingController(ns::Ref<AutorotatingViewController> c) {
    presentingController_ = std::move(c);
}

// ---- Showing --------------------------------------------------------------------------------

void AuthenticationDialog::show() {
    auto keep = ns::keepAlive(this);
    ui::View* root = view();
    while (!root->subviews().empty()) {
        ns::Ref<ui::View> sub = root->subviews().back();
        sub->removeFromSuperview();
    }

    bar_ = ns::make<ui::NavigationBar>(ui::makeRect(0, 0, root->bounds().width(), kBarHeight));
    bar_->setAutoresizingMask(ui::AutoresizingFlexibleWidth);
    auto item = ns::make<ui::NavigationItem>();
    item->setTitle(type_ == kProxyLogin ? request_->proxyHost() : text(request_->url()->host()));
    item->setLeftBarButtonItem(ui::BarButtonItem::withSystemItem(ui::BarButtonItem::SystemItem::Cancel, this,
                                                                 &AuthenticationDialog::cancelAuthenticationFromDialog));
    item->setRightBarButtonItem(ui::BarButtonItem::withTitle("Login", ui::BarButtonItem::Style::Done, this,
                                                             &AuthenticationDialog::loginWithCredentialsFromDialog));
    bar_->pushNavigationItem(item);
    root->addSubview(bar_);

    tableView_ = ui::TableView::make(
        ui::makeRect(0, kBarHeight, root->bounds().width(), std::max(0.0, root->bounds().height() - kBarHeight)),
        ui::TableViewStyle::Grouped);
    tableView_->setAutoresizingMask(ui::AutoresizingFlexibleWidth | ui::AutoresizingFlexibleHeight);
    tableView_->setDelegate(this);
    tableView_->setDataSource(this);
    root->addSubview(tableView_);
    showTitle();

    if (ui::isPad()) setModalPresentationStyle(ui::ModalPresentationStyle::FormSheet);
    AutorotatingViewController* from = presentingController();
    bool presented = from->isViewLoaded() && from->view()->window() && from->presentViewController(keep, true);
    if (!presented) {
        // Nowhere to show the sheet (no window, or the presenter is busy):
        // give up on these credentials rather than leave the requests
        // waiting for an answer that never comes.
        for (auto& r : requestsRequiringTheseCredentials()) {
            r->cancelAuthentication();
            removeWaiting(r.get());
        }
        if (state().onScreen.get() == this) state().onScreen = nullptr;
        return;
    }
    tableView_->reloadData();
    tableView_->layoutIfNeeded();
    if (ui::TextField* f = usernameField()) f->becomeFirstResponder();
}

void AuthenticationDialog::showTitle() {
    if (!bar_ || !tableView_) return;
    ui::DeviceOrientation o = ui::Device::current()->orientation();
    bool portrait = o == ui::DeviceOrientation::Portrait || o == ui::DeviceOrientation::PortraitUpsideDown;
    ui::NavigationItem* item = bar_->topItem();
    if (item) {
        if (portrait)
            item->setPrompt(type_ == kProxyLogin ? "Login to this secure proxy server." : "Login to this secure server.");
        else item->setPrompt("");
    }
    // A bar with a prompt is taller (the prompt line sits above the title).
    double barHeight = kBarHeight + (item && !item->prompt().empty() ? 30 : 0);
    double width = view()->bounds().width();
    bar_->setFrame(ui::makeRect(0, 0, width, barHeight));
    tableView_->setFrame(ui::makeRect(0, barHeight, width, std::max(0.0, view()->bounds().height() - barHeight)));
}

// ---- Buttons ---------------------------------------------------------------------------------

std::vector<ns::Ref<HTTPRequest>> AuthenticationDialog::requestsRequiringTheseCredentials() {
    std::vector<ns::Ref<HTTPRequest>> out;
    if (!request_) return out;
    ns::Ref<ns::URL> mine = request_->url();
    ns::Ref<ns::Number> myPort = mine->port();
    std::string myRealm = realm();
    for (auto& r : state().waiting) {
        if (r.get() == request_.get()) continue;
        if (r->authenticationNeeded() != request_->authenticationNeeded()) continue;
        ns::Ref<ns::URL> theirs = r->url();
        if (text(theirs->host()) != text(mine->host())) continue;
        ns::Ref<ns::Number> port = theirs->port();
        if (port.get() != myPort.get()) {
            if (!myPort || !port || port->longValue() != myPort->longValue()) continue;
        }
        if (text(theirs->scheme()) != text(mine->scheme())) continue;
        std::string theirRealm =
            type_ == kProxyLogin ? r->proxyAuthenticationRealm() : r->authenticationRealm();
        if (theirRealm != myRealm) continue;  // both absent, or equal texts
        out.push_back(r);
    }
    out.push_back(request_);
    return out;
}

void AuthenticationDialog::loginWithCredentialsFromDialog(ns::Object*) {
    auto keep = ns::keepAlive(this);
    ui::TextField* user = usernameField();
    ui::TextField* pass = passwordField();
    std::string username = user ? user->text() : std::string();
    std::string password = pass ? pass->text() : std::string();
    bool ntlm = usesNTLM();
    std::string domain;
    if (ntlm)
        if (ui::TextField* d = domainField()) domain = d->text();
    for (auto& r : requestsRequiringTheseCredentials()) {
        if (type_ == kProxyLogin) {
            r->setProxyUsername(username);
            r->setProxyPassword(password);
            if (ntlm) r->setProxyDomain(domain);
        } else {
            r->setUsername(username);
            r->setPassword(password);
            if (ntlm) r->setDomain(domain);
        }
        r->retryUsingSuppliedCredentials();
        removeWaiting(r.get());
    }
    dismiss();
}

void AuthenticationDialog::cancelAuthenticationFromDialog(ns::Object*) {
    auto keep = ns::keepAlive(this);
    for (auto& r : requestsRequiringTheseCredentials()) {
        r->cancelAuthentication();
        removeWaiting(r.get());
    }
    dismiss();
}

void AuthenticationDialog::viewDidDisappear(bool animated) {
    AutorotatingViewController::viewDidDisappear(animated);
    if (state().onScreen.get() == this) state().onScreen = nullptr;
    auto self = ns::keepAlive(this);
    ns::RunLoop::main()->performAfterDelay(0, [self] { self->presentNextDialog(); });
}

void AuthenticationDialog::presentNextDialog() {
    auto& w = state().waiting;
    while (!w.empty() && !state().onScreen) {
        ns::Ref<HTTPRequest> next = w.front();
        w.erase(w.begin());
        // A request cancelled or finished while it waited needs no sheet.
        if (next->isCancelled() || next->isFinished()) continue;
        presentAuthenticationDialogForRequest(next);
    }
}

// ---- Fields ------------------------------------------------------------------------------------

ui::TextField* AuthenticationDialog::textFieldInRowSection(long row, long section) {
    if (!tableView_) return nullptr;
    tableView_->layoutIfNeeded();
    ui::TableViewCell* cell = tableView_->cellForRowAtIndexPath(ui::IndexPath::forRow(row, section));
    if (!cell || cell->contentView()->subviews().empty()) return nullptr;
    return dynamic_cast<ui::TextField*>(cell->contentView()->subviews().front().get());
}

ui::TextField* AuthenticationDialog::usernameField() { return textFieldInRowSection(0, 0); }
ui::TextField* AuthenticationDialog::passwordField() { return textFieldInRowSection(1, 0); }
ui::TextField* AuthenticationDialog::domainField() { return textFieldInRowSection(0, 1); }

std::string AuthenticationDialog::scheme() const {
    if (!request_) return {};
    return type_ == kProxyLogin ? request_->proxyAuthenticationScheme() : request_->authenticationScheme();
}

std::string AuthenticationDialog::realm() const {
    if (!request_) return {};
    return type_ == kProxyLogin ? request_->proxyAuthenticationRealm() : request_->authenticationRealm();
}

// ---- Layout reactions (phone) -------------------------------------------------------------------

void AuthenticationDialog::keyboardWillShow(const ns::Notification& n) {
    if (ui::isPad() || !tableView_ || !n.userInfo()) return;
    auto* end = dynamic_cast<ns::String*>(n.userInfo()->objectForKey(ui::kKeyboardFrameEndUserInfoKey));
    ui::Rect frame;
    if (!end || !ui::rectFromString(end->utf8(), frame)) return;
    ui::EdgeInsets insets = tableView_->contentInset();
    insets.bottom = frame.height();
    tableView_->setContentInset(insets);
}

void AuthenticationDialog::orientationChanged(const ns::Notification&) {
    showTitle();
    AutorotatingViewController* pc = presentingController();
    if (!pc->isViewLoaded()) return;
    // The notification comes before the window turns, so the device's own
    // orientation says where the status bar is going; face up or down (or
    // unknown) keeps the status bar's.
    ui::InterfaceOrientation o = ui::Application::shared()->statusBarOrientation();
    ui::DeviceOrientation d = ui::Device::current()->orientation();
    if (d >= ui::DeviceOrientation::Portrait && d <= ui::DeviceOrientation::LandscapeRight)
        o = ui::interfaceOrientationFor(d);
    double angle = 0;
    if (o == ui::InterfaceOrientation::PortraitUpsideDown) angle = M_PI;
    else if (o == ui::InterfaceOrientation::LandscapeLeft) angle = M_PI / 2;
    else if (o == ui::InterfaceOrientation::LandscapeRight) angle = -M_PI / 2;
    bool landscape = o == ui::InterfaceOrientation::LandscapeLeft || o == ui::InterfaceOrientation::LandscapeRight;
    ui::View* v = pc->view();
    v->setTransform(ui::Transform::identity());
    ui::Rect app = ui::Screen::main()->applicationFrame();
    v->setFrame(landscape ? ui::makeRect(0, 0, app.height(), app.width()) : ui::makeRect(0, 0, app.width(), app.height()));
    ns::Ref<ui::View> keepView(v);
    ui::View::animate(0.3, [keepView, angle] {
        double c = std::cos(angle), s = std::sin(angle);
        keepView->setTransform(ui::Transform{c, s, -s, c, 0, 0});
    });
}

// ---- Table data source and delegate ------------------------------------------------------------

long AuthenticationDialog::numberOfSectionsInTableView(ui::TableView*) { return usesNTLM() ? 2 : 1; }

long AuthenticationDialog::tableViewNumberOfRowsInSection(ui::TableView*, long section) {
    return section == 0 ? 2 : 1;
}

ns::Ref<ui::TableViewCell> AuthenticationDialog::tableViewCellForRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) {
    // Cells are not reused: each holds the field the user typed into.
    auto cell = ui::TableViewCell::make(ui::TableViewCellStyle::Default, "");
    cell->setFrame(ui::makeRect(0, 0, t->bounds().width(), t->rowHeight()));
    cell->setSelectionStyle(ui::TableViewCellSelectionStyle::None);
    ui::Rect b = cell->contentView()->bounds();
    auto field = ui::TextField::make(ui::makeRect(10, 10, std::max(0.0, b.width() - 20), std::max(0.0, b.height() - 20)));
    field->setAutoresizingMask(ui::AutoresizingFlexibleWidth | ui::AutoresizingFlexibleHeight);
    field->setAutocapitalizationType(ui::AutocapitalizationType::None);
    field->setAutocorrectionType(ui::AutocorrectionType::No);
    if (ip.section == 0 && ip.row == 0) field->setPlaceholder("User");
    else if (ip.section == 0 && ip.row == 1) {
        field->setPlaceholder("Password");
        field->setSecureTextEntry(true);
    } else field->setPlaceholder("Domain");
    cell->contentView()->addSubview(field);
    return cell;
}

std::string AuthenticationDialog::tableViewTitleForHeaderInSection(ui::TableView*, long section) {
    return section == 0 ? realm() : std::string();
}

double AuthenticationDialog::tableViewHeightForHeaderInSection(ui::TableView*, long section) {
    if (section != 0) return 0;
    return ui::isPad() ? 54 : 30;
}

std::string AuthenticationDialog::tableViewTitleForFooterInSection(ui::TableView* t, long section) {
    if (section != numberOfSectionsInTableView(t) - 1) return {};
    // The scheme of the challenge answered (a Basic proxy login is as clear
    // as a Basic server login).
    if (request_ && scheme() == "Basic" && text(request_->url()->scheme()) != "https")
        return "Password will be sent in the clear.";
    return "Password will be sent securely.";
}

double AuthenticationDialog::tableViewHeightForFooterInSection(ui::TableView* t, long section) {
    return section == numberOfSectionsInTableView(t) - 1 ? 30 : 0;
}

}  // namespace http
