#include "app/tablet/FollouUSViewController.h"

#include <cstdlib>

#include "app/AppConfig.h"
#include "app/ContentModel.h"
#include "app/forms/UIViewSingUp.h"
#include "platform/foundation/Number.h"
#include "platform/foundation/String.h"
#include "platform/ui/Application.h"
#include "platform/ui/Label.h"
#include "platform/ui/NavigationController.h"

namespace app {

namespace {

// The integer under `key` (a number, or a string of digits); false when
// the row has no usable value there.
bool rowInteger(const ns::Dictionary* row, const char* key, long& out) {
    if (!row) return false;
    ns::Object* v = row->objectForKey(key);
    if (auto* n = dynamic_cast<ns::Number*>(v)) { out = n->integerValue(); return true; }
    if (auto* s = dynamic_cast<ns::String*>(v)) {
        const char* t = s->c_str();
        char* end = nullptr;
        long x = std::strtol(t, &end, 10);
        if (end == t) return false;
        out = x;
        return true;
    }
    return false;
}

std::string feedbackBody() {
    return "Hello Tarnwick Team:\n\n I have the Tarnwick Quillon & Investment Banking App.  See my comments "
           "bellow:\n\n Name:\n University/Company:\n E-mail:\n Keep me updated with Tarnwick info: (yes/no)\n "
           "Comments:";
}

std::string recommendationBody() {
    return std::string("Hello!  Check out the new Tarnwick Korvel Negotiation App. Click below to go to the App "
                       "Store.  You can also visit  ") +
           "<a href=\"" + kMakerWebSite + "\">" + kMakerWebSiteAddress + "</a>" +
           " for more information on Tarnwick and the new App! " + "<a href=\"" + kAppStorePage + "\">" +
           kAppStorePage + "</a>";
}

}  // namespace

void buildFollouUSViewControllerInterface(FollouUSViewController& c) {
    ui::Rect b = ui::makeRect(0, 0, 540, 620);
    auto root = ui::View::make(b);
    root->setBackgroundColor(ui::Color::black());
    auto heading = ui::Label::make(ui::makeRect(120, 10, b.size.width - 240, 40));
    heading->setText(FollouUSViewController::kTitle);
    heading->setTextAlignment(ui::TextAlignment::Center);
    heading->setTextColor(ui::Color::white());
    root->addSubview(heading);
    auto close = ui::Button::make(ui::makeRect(10, 10, 100, 40), FollouUSViewController::kCloseTitle);
    close->addTarget(&c, &FollouUSViewController::clicExit, ui::ControlEventTouchUpInside);
    root->addSubview(close);
    auto table = ui::TableView::make(ui::makeRect(0, 60, b.size.width, b.size.height - 60));
    table->setAutoresizingMask(ui::AutoresizingFlexibleWidth | ui::AutoresizingFlexibleHeight);
    table->setDataSource(&c);
    table->setDelegate(&c);
    root->addSubview(table);
    c.setTableView(table);
    c.setView(root);
}

void FollouUSViewController::loadView() { buildFollouUSViewControllerInterface(*this); }

void FollouUSViewController::viewDidLoad() {
    ui::ViewController::viewDidLoad();
    setTitle(kTitle);
    myArray_ = bundleArray(kFollowUsFile);
    if (auto* nav = navigationController()) nav->setNavigationBarHidden(true);
    tableView_->reloadData();
}

void FollouUSViewController::clicExit(ns::Object*) { dismissViewControllerAnimated(true); }

long FollouUSViewController::tableViewNumberOfRowsInSection(ui::TableView*, long) {
    return myArray_ ? static_cast<long>(myArray_->count()) : 0;
}

double FollouUSViewController::tableViewHeightForRowAtIndexPath(ui::TableView*, ui::IndexPath ip) {
    long h = 0;
    if (rowInteger(rowAt(myArray_.get(), static_cast<size_t>(ip.row)), "tamano", h) && h > 0)
        return static_cast<double>(h);
    return kDefaultRowHeight;
}

ns::Ref<ui::TableViewCell> FollouUSViewController::tableViewCellForRowAtIndexPath(ui::TableView* t,
                                                                                 ui::IndexPath ip) {
    auto cell = t->dequeueReusableCellWithIdentifier(kCellIdentifier);
    if (!cell) {
        cell = ui::TableViewCell::make(ui::TableViewCellStyle::Default, kCellIdentifier);
        cell->textLabel()->setTextColor(ui::Color::white());
        cell->textLabel()->setFont(ui::Font::systemFontOfSize(16));
        cell->setSelectionStyle(ui::TableViewCellSelectionStyle::None);
    }
    // The heading rows 0 and 3 have no indicator. Set for each row, so a
    // reused cell never carries another row's indicator.
    cell->setAccessoryType(ip.row == 0 || ip.row == 3 ? ui::TableViewCellAccessoryType::None
                                                      : ui::TableViewCellAccessoryType::DisclosureIndicator);
    ns::Dictionary* row = rowAt(myArray_.get(), static_cast<size_t>(ip.row));
    cell->textLabel()->setText(rowString(row, "Title"));
    cell->textLabel()->setBackgroundColor(ui::Color::clear());
    auto bg = ui::ImageView::make(cell->bounds());
    if (rowHas(row, "Imagen")) bg->setImage(ui::Image::imageNamed(rowString(row, "Imagen") + ".png"));
    cell->setBackgroundView(bg);
    return cell;
}

void FollouUSViewController::tableViewDidSelectRowAtIndexPath(ui::TableView* t, ui::IndexPath ip) {
    auto keep = ns::keepAlive(this);
    t->deselectRowAtIndexPath(ip, true);
    ns::Ref<ns::Dictionary> row(rowAt(myArray_.get(), static_cast<size_t>(ip.row)));
    if (!row) return;
    long kind = 0;
    if (row->objectForKey("tipo")) {
        if (!rowInteger(row.get(), "tipo", kind)) kind = 0;
        tipo_ = kind;
        if (kind == 2) {
            ui::Rect f = view()->frame();
            auto overlay = ns::make<UIViewSingUp>(ui::makeRect(0, -40, f.size.width, f.size.height));
            overlay->setFlagPosicion(1);
            view()->addSubview(overlay);
            overlay->setAutoresizesSubviews(true);
            overlay->setAutoresizingMask(ui::AutoresizingFlexibleAll);
            overlay->dibujarElementos();
        } else {
            showMail();
        }
        return;
    }
    if (ip.row == 0 || ip.row == 1) return;
    if (rowHas(row.get(), "ActionData")) ui::Application::shared()->openURL(rowString(row.get(), "ActionData"));
}

void FollouUSViewController::showMail() {
    if (!mail::MailComposeViewController::canSendMail()) {
        ui::AlertView::make("Sending mail", "This device is not setup to send mail.", this, "OK")->show();
        return;
    }
    auto composer = mail::MailComposeViewController::make();
    composer->setMailComposeDelegate(this);
    composer->navigationBar()->setBarStyle(ui::BarStyle::Black);
    composer->view()->setFrame(view()->frame());
    if (tipo_ == 0) {
        composer->setSubject("Customer Comments");
        composer->setMessageBody(feedbackBody(), false);
    } else if (tipo_ == 1) {
        composer->setSubject("New Tarnwick Korvel Negotiation App");
        composer->setMessageBody(recommendationBody(), true);
    }
    presentViewController(composer, true);
}

void FollouUSViewController::mailComposeControllerDidFinishWithResult(mail::MailComposeViewController* controller,
                                                                      mail::MailComposeResult result, ns::Error*) {
    if (result == mail::MailComposeResult::Failed) return;  // the composer stays with its alert
    auto keep = ns::keepAlive(this);
    if (controller && controller->presentingViewController()) controller->dismissViewControllerAnimated(true);
}

void FollouUSViewController::alertViewDidDismissWithButtonIndex(ui::AlertView*, long) {
    // Dismisses only what this screen presents (a composer); with nothing
    // presented the list stays (the call would close the list itself).
    auto keep = ns::keepAlive(this);
    if (presentedViewController()) dismissViewControllerAnimated(true);
}

}  // namespace app
