#include "app/phone/MenuSupport.h"

#include "app/marketing/EmbeddedMailViewController.h"
#include "platform/ui/NavigationController.h"

#include "app/AppDelegate.h"
#include "app/ContentModel.h"
#include "app/forms/UIViewSingUp.h"
#include "app/MailSupport.h"
#include "platform/foundation/Number.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Application.h"

namespace app {

void enviarMailDesde(ui::ViewController* screen, mail::MailComposeViewControllerDelegate* delegate,
                     const ns::Dictionary* mail) {
    presentMailComposer(screen, delegate, rowString(mail, "subject"), rowString(mail, "mensaje"),
                        {rowString(mail, "para")});
}

namespace {
template <class Overlay>
void showOverlay() {
    AppDelegate* d = AppDelegate::shared();
    ui::Window* w = d && d->window() ? static_cast<ui::Window*>(d->window()) : ui::Application::shared()->keyWindow();
    if (!w || !w->rootViewController()) return;
    ui::View* root = w->rootViewController()->view();
    ui::Rect b = root->bounds();
    auto overlay = ns::make<Overlay>(ui::makeRect(0, 60, b.size.width, b.size.height));
    root->addSubview(overlay);
    overlay->dibujarElementos();
}
}  // namespace

void showReferralOverlay() { showOverlay<UIViewReferral>(); }
void showSignUpOverlay() { showOverlay<UIViewSingUp>(); }

ns::Ref<ui::Color> menuTextColour(const ns::Dictionary* row) {
    std::string c = rowString(row, "color");
    if (c == "silver" || c == "black") return ui::Color::black();
    return ui::Color::white();
}

ns::Ref<ui::TableViewCell> menuCell(ui::TableView* t, ui::IndexPath ip, bool clearBackground) {
    std::string identifier = "CellIdentifier_" + std::to_string(ip.row);
    auto cell = t->dequeueReusableCellWithIdentifier(identifier);
    if (!cell) {
        cell = ui::TableViewCell::make(ui::TableViewCellStyle::Default, identifier);
        cell->textLabel()->setFont(ui::Font::systemFontOfSize(16));
        cell->setAccessoryType(ui::TableViewCellAccessoryType::DisclosureIndicator);
        cell->setSelectionStyle(ui::TableViewCellSelectionStyle::Gray);
        if (clearBackground) cell->setBackgroundColor(ui::Color::clear());
    }
    return cell;
}

double menuRowHeight(const ns::Dictionary* row) {
    if (auto* n = row ? dynamic_cast<ns::Number*>(row->objectForKey("tamano")) : nullptr)
        return static_cast<double>(n->integerValue());
    if (auto* s = row ? dynamic_cast<ns::String*>(row->objectForKey("tamano")) : nullptr)
        return static_cast<double>(s->intValue());
    return 55;
}

void pushShareView(ui::NavigationController* nav) {
    if (!nav) return;
    nav->pushViewController(ns::make<ShareViewController>(), true);
}

}  // namespace app
