#include "app/tablet/MenuViewController_iPad.h"

#include "analytics/Analytics.h"
#include "app/AppConfig.h"
#include "app/AppDelegate.h"
#include "app/AppLog.h"
#include "app/ContentModel.h"
#include "app/forms/UIViewSingUp.h"
#include "app/tablet/FollouUSViewController.h"
#include "app/tablet/NewGroupViewControllerIpad.h"
#include "app/tablet/TabletNotifications.h"
#include "app/tablet/UIViewCardFull.h"
#include "app/tablet/search_ipadViewController.h"
#include "app/tablet/shareViewController_iPad.h"
#include "platform/foundation/Foundation.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Application.h"
#include "platform/ui/NavigationController.h"

namespace app {

namespace {

using Action = void (MenuViewController_iPad::*)(ns::Object*);

struct HubButton {
    const char* title;
    Action action;
};

const HubButton kHubButtons[] = {
    {MenuViewController_iPad::kInterviewTitle, &MenuViewController_iPad::ClicInterview},
    {MenuViewController_iPad::kFavoritesTitle, &MenuViewController_iPad::ClicFavoritos},
    {MenuViewController_iPad::kPracticeTitle, &MenuViewController_iPad::ClicPractice},
    {MenuViewController_iPad::kSearchTitle, &MenuViewController_iPad::ClicSearch},
    {MenuViewController_iPad::kShareTitle, &MenuViewController_iPad::ClicShare},
    {MenuViewController_iPad::kInfoTitle, &MenuViewController_iPad::ClicInfo},
    {MenuViewController_iPad::kRateTitle, &MenuViewController_iPad::ClicRate},
    {MenuViewController_iPad::kReferrerTitle, &MenuViewController_iPad::ClicReferrer},
    {MenuViewController_iPad::kSignUpTitle, &MenuViewController_iPad::ClicSingUp},
};

ns::Ref<ns::Array> childrenOf(const ns::Dictionary* d) {
    ns::Array* c = rowChildren(d);
    return c ? ns::Ref<ns::Array>(c) : ns::Array::make();
}

}  // namespace

void buildMenuViewController_iPadInterface(MenuViewController_iPad& hub) {
    ui::Rect b = ui::Screen::main()->bounds();
    double w = b.size.width, h = b.size.height;
    auto root = ui::View::make(b);
    root->setAutoresizingMask(ui::AutoresizingFlexibleWidth | ui::AutoresizingFlexibleHeight);

    size_t n = std::size(kHubButtons);
    double bw = w / static_cast<double>(n);
    for (size_t i = 0; i < n; ++i) {
        auto button = ui::Button::make(ui::makeRect(bw * static_cast<double>(i) + 2, 10, bw - 4, 40), kHubButtons[i].title);
        button->setAutoresizingMask(ui::AutoresizingFlexibleWidth | ui::AutoresizingFlexibleLeftMargin |
                                    ui::AutoresizingFlexibleRightMargin);
        button->addTarget(&hub, kHubButtons[i].action, ui::ControlEventTouchUpInside);
        root->addSubview(button);
    }

    double top = MenuViewController_iPad::kTopBarHeight;
    double bottom = MenuViewController_iPad::kBotoneraHeight;
    double lw = MenuViewController_iPad::kListWidth;
    auto list = ViewTableList::make(ui::makeRect(0, top, lw, h - top - bottom));
    list->setAutoresizingMask(ui::AutoresizingFlexibleHeight | ui::AutoresizingFlexibleRightMargin);
    root->addSubview(list);
    auto pane = ViewDetalle::make(ui::makeRect(lw, top, w - lw, h - top - bottom));
    pane->setAutoresizingMask(ui::AutoresizingFlexibleWidth | ui::AutoresizingFlexibleHeight);
    pane->setDelegate(&hub);
    root->addSubview(pane);
    auto bar = ViewBotonera::make(ui::makeRect(0, h - bottom, w, bottom));
    bar->setAutoresizingMask(ui::AutoresizingFlexibleWidth | ui::AutoresizingFlexibleTopMargin);
    root->addSubview(bar);

    hub.setView(root);
    hub.setPanes(list, bar, pane);
}

MenuViewController_iPad::~MenuViewController_iPad() = default;

void MenuViewController_iPad::setPanes(ns::Ref<ViewTableList> list, ns::Ref<ViewBotonera> bar,
                                       ns::Ref<ViewDetalle> pane) {
    myTableList_ = std::move(list);
    myBotonera_ = std::move(bar);
    myViewDetalle_ = std::move(pane);
}

void MenuViewController_iPad::loadView() { buildMenuViewController_iPadInterface(*this); }

void MenuViewController_iPad::viewDidLoad() {
    ui::ViewController::viewDidLoad();
    observers_.push_back(observeTablet(kActualizarVistaBotones, this, &MenuViewController_iPad::ActualizarVistaBotones));
    observers_.push_back(observeTablet(kActualizaContenidoCarta, this, &MenuViewController_iPad::ActualizaContenidoCarta));
    observers_.push_back(observeTablet(kBorrarFavorito, this, &MenuViewController_iPad::BorrarFavorito));
    observers_.push_back(observeTablet(kMostrarAgregarGrupo, this, &MenuViewController_iPad::MostrarAgregarGrupo));
    observers_.push_back(observeTablet(kEntrarModoRandom, this, &MenuViewController_iPad::EntrarModoRandom));
    observers_.push_back(observeTablet(kListarTodosLosGruposApp, this, &MenuViewController_iPad::ListarTodosLosGruposApp));
    observers_.push_back(observeTablet(kCompartirRedes, this, &MenuViewController_iPad::CompartirRedes));
    observers_.push_back(observeTablet(kEnviarMail, this, &MenuViewController_iPad::EnviarMail));

    rate_ = ns::make<RatePromptManager>();

    auto decks = bundleArray(kDeckFile);
    ns::Dictionary* deck = indexButtonInicio_ >= 0 ? rowAt(decks.get(), static_cast<size_t>(indexButtonInicio_)) : nullptr;
    if (!deck) appLog("Hub: no deck at position " + std::to_string(indexButtonInicio_) + " of " + kDeckFile);
    postTablet(kActualizarVistaBotones, ns::Array::make({childrenOf(deck), ns::num(0)}));
    std::string title = rowString(deck, "Title");
    postTablet(kActualizaTitulo, ns::String::make(title));
    setTitle(title);
    myTableList_->setController(this);
    ns::Weak<MenuViewController_iPad> weak(this);
    myTableList_->setCardButtonsHandler([weak](bool shown) {
        if (auto hub = weak.lock()) hub->showCardButtons(shown);
    });
}

void MenuViewController_iPad::showCardButtons(bool shown) {
    // The pane shows them only over a card.
    myViewDetalle_->setCardButtonsShown(shown);
    myTableList_->noteCardButtonsShown(shown);
}

void MenuViewController_iPad::presentFormSheet(ns::Ref<ui::ViewController> vc) {
    vc->setModalPresentationStyle(ui::ModalPresentationStyle::FormSheet);
    vc->setModalTransitionStyle(ui::ModalTransitionStyle::CoverVertical);
    presentViewController(vc, true);
}

void MenuViewController_iPad::openOverlay(bool referral) {
    ui::Size size = view()->frame().size;
    ui::Window* w = ui::Application::shared()->keyWindow();
    ui::ViewController* root = w ? w->rootViewController() : nullptr;
    ui::View* host = root ? root->view() : view();
    FormOverlay::showOver(host, kTopBarHeight, size, referral);
}

// -- Buttons ------------------------------------------------------------------------------
//
// Each handler gives the list its rows before it sets the card pane's
// title, mode and buttons: the list keeps what the pane showed for the list
// it leaves, for its Back to show again.

void MenuViewController_iPad::ClicInterview(ns::Object*) {
    analytics::Analytics::logEvent("InterviewButton");
    myTableList_->ActualizaTableView(bundleArray(kInterviewFile));
    showCardButtons(true);
    postTablet(kActualizaTitulo, ns::String::make("Interview"));
    postTablet(kModificarModo, ns::num(static_cast<int>(kModoTacticas)));
}

void MenuViewController_iPad::ClicReferrer(ns::Object*) {
    analytics::Analytics::logEvent("ReferrerButton");
    openOverlay(true);
}

void MenuViewController_iPad::ClicSingUp(ns::Object*) {
    analytics::Analytics::logEvent("SignUpButton");
    openOverlay(false);
}

void MenuViewController_iPad::ClicFavoritos(ns::Object*) {
    analytics::Analytics::logEvent("FavoritesButton");
    AppDelegate* d = AppDelegate::shared();
    ns::MutableArray* favorites = d ? d->allFavorites() : nullptr;
    if (!favorites || favorites->count() == 0) {
        ui::AlertView::make("Oops!", "You have not added any cards to your favorites yet.", nullptr, "accept")->show();
        return;
    }
    myTableList_->ActualizaTableView(favorites->copy());
    postTablet(kModificarModo, ns::num(static_cast<int>(kModoNavegacion)));
    postTablet(kActualizaContenidoCarta, favorites->at(0));
    postTablet(kActualizaTitulo, ns::String::make("Favorites"));
    showCardButtons(false);
}

void MenuViewController_iPad::ClicPractice(ns::Object*) {
    analytics::Analytics::logEvent("PracticeButton");
    postTablet(kEntrarModoRandom);
}

void MenuViewController_iPad::ClicSearch(ns::Object*) {
    analytics::Analytics::logEvent("SearchButton");
    presentFormSheet(ns::make<search_ipadViewController>());
}

void MenuViewController_iPad::ClicShare(ns::Object*) {
    analytics::Analytics::logEvent("ShareButton");
    presentFormSheet(ui::NavigationController::withRoot(ns::make<FollouUSViewController>()));
}

void MenuViewController_iPad::ClicInfo(ns::Object*) {
    analytics::Analytics::logEvent("InfoButton");
    auto info = bundleDictionary("infoIpad.plist");
    auto rows = childrenOf(info.get());
    myTableList_->ActualizaTableView(rows);
    showCardButtons(false);
    if (rows->count()) postTablet(kActualizaContenidoCarta, rows->at(0));
    postTablet(kActualizaTitulo, ns::String::make("Information"));
    postTablet(kModificarModo, ns::num(static_cast<int>(kModoNavegacion)));
}

void MenuViewController_iPad::ClicRate(ns::Object*) {
    analytics::Analytics::logEvent("RateButton");
    if (rate_) rate_->checkForRatePrompt1();
}

// -- Notifications ------------------------------------------------------------------------------

void MenuViewController_iPad::ActualizarVistaBotones(const ns::Notification& n) {
    auto* payload = ns::as<ns::Array>(n.object());
    ns::Array* rows = payload ? payload->objectAtIndexAs<ns::Array>(0) : nullptr;
    ns::Number* index = payload ? payload->objectAtIndexAs<ns::Number>(1) : nullptr;
    if (!rows || rows->count() == 0) return;
    long i = index ? index->longValue() : 0;
    if (i < 0 || static_cast<size_t>(i) >= rows->count()) {
        appLog("Hub: row " + std::to_string(i) + " is past the end of the rows to show");
        return;
    }
    myTableList_->ActualizaTableView(ns::Ref<ns::Array>(rows));
    showCardButtons(true);
    postTablet(kActualizaContenidoCarta, rows->at(static_cast<size_t>(i)));
}

void MenuViewController_iPad::ActualizaContenidoCarta(const ns::Notification& n) {
    auto* card = ns::as<ns::Dictionary>(n.object());
    if (!card) return;
    myViewDetalle_->setDicDeCarta(ns::Ref<ns::Dictionary>(card));
    myViewDetalle_->AgregarDicDeCartaComoRootCartas();
    myViewDetalle_->ActualizaColorCarta();
    myViewDetalle_->cargaHtmlWebView();
}

void MenuViewController_iPad::EntrarModoRandom(const ns::Notification&) {
    auto practice = bundleDictionary("Practice.plist");
    myTableList_->ActualizaTableView(childrenOf(practice.get()));
    postTablet(kActualizaTitulo, ns::String::make("Practice"));
    showCardButtons(true);
    postTablet(kModificarModo, ns::num(static_cast<int>(kModoRandom)));
    myViewDetalle_->ObtenerCartaModoRandom();
}

void MenuViewController_iPad::ListarTodosLosGruposApp(const ns::Notification& n) {
    ns::Ref<ns::Array> rows(ns::as<ns::Array>(n.object()));
    if (!rows) return;
    myTableList_->ActualizaTableView(rows);
    postTablet(kModificarModo, ns::num(static_cast<int>(kModoNavegacion)));
    if (rows->count()) postTablet(kActualizaContenidoCarta, rows->at(0));
    postTablet(kActualizaTitulo, ns::String::make("Groups:"));
    myTableList_->PushOnTable(rows);
    showCardButtons(false);
}

void MenuViewController_iPad::MostrarAgregarGrupo(const ns::Notification&) {
    presentFormSheet(ns::make<NewGroupViewControllerIpad>());
}

void MenuViewController_iPad::BorrarFavorito(const ns::Notification& n) {
    AppDelegate* d = AppDelegate::shared();
    ns::MutableArray* favorites = d ? d->allFavorites() : nullptr;
    if (!favorites) return;
    // The record to delete is the one the list showed in that row; the row
    // number is used only when no list says which record it was.
    size_t index = ns::NotFound;
    if (ns::Object* record = myTableList_->pendingDeletedFavorite()) {
        index = favorites->indexOfObjectIdenticalTo(record);
        if (index == ns::NotFound) index = favorites->indexOfObject(*record);
    } else if (auto* number = ns::as<ns::Number>(n.object())) {
        long row = number->longValue();
        if (row >= 0 && static_cast<size_t>(row) < favorites->count()) index = static_cast<size_t>(row);
    }
    if (index == ns::NotFound) {
        appLog("Hub: the deleted row is not among the favourites; nothing deleted");
    } else {
        ns::Ref<ns::Error> error;
        if (!d->removeFavoriteAtIndex(index, &error)) {
            appLog("Deleting favourite failed: " + (error ? error->description() : std::string("unknown error")));
            ui::AlertView::make("Error", "The card could not be removed from your favorites.", nullptr, "accept")->show();
            myTableList_->ActualizaTableView(favorites->copy());
            postTablet(kActualizaTitulo, ns::String::make("Favorites"));
            showCardButtons(false);
            return;
        }
    }
    if (favorites->count() == 0) {
        auto decks = bundleArray(kDeckFile);
        ns::Dictionary* first = rowAt(decks.get(), 0);
        postTablet(kActualizarVistaBotones, ns::Array::make({childrenOf(first), ns::num(0)}));
        postTablet(kActualizaTitulo, ns::String::make(rowString(first, "Title")));
        ui::AlertView::make("Favorites", "There are no letters added.", nullptr, "accept")->show();
        return;
    }
    myTableList_->ActualizaTableView(favorites->copy());
    postTablet(kActualizaTitulo, ns::String::make("Favorites"));
    showCardButtons(false);
}

void MenuViewController_iPad::CompartirRedes(const ns::Notification& n) {
    auto* card = ns::as<ns::Dictionary>(n.object());
    if (!rowIsCard(card) || rowString(card, "post").empty()) {
        appLog("Hub: only a card with its web address is shared; nothing to share");
        return;
    }
    auto share = ns::make<shareViewController_iPad>();
    share->setDicCarta(ns::Ref<ns::Dictionary>(card));
    presentFormSheet(ui::NavigationController::withRoot(share));
}

void MenuViewController_iPad::EnviarMail(const ns::Notification& n) {
    auto* fields = ns::as<ns::Dictionary>(n.object());
    if (!fields) return;
    if (!mail::MailComposeViewController::canSendMail()) {
        ui::AlertView::make("Sending mail", "This device is not setup to send mail.", nullptr, "OK")->show();
        return;
    }
    auto composer = mail::MailComposeViewController::make();
    composer->setSubject(rowString(fields, "subject"));
    composer->setMessageBody(rowString(fields, "mensaje"), true);
    std::string to = rowString(fields, "para");
    composer->setToRecipients(to.empty() ? std::vector<std::string>{} : std::vector<std::string>{to});
    composer->setMailComposeDelegate(this);
    composer->navigationBar()->setBarStyle(ui::BarStyle::Black);
    composer->view()->setFrame(view()->frame());
    presentViewController(composer, true);
}

void MenuViewController_iPad::mailComposeControllerDidFinishWithResult(mail::MailComposeViewController* controller,
                                                                       mail::MailComposeResult result, ns::Error*) {
    if (result == mail::MailComposeResult::Failed) return;  // the composer stays with its alert
    if (controller) controller->dismissViewControllerAnimated(true);
}

void MenuViewController_iPad::mostrarCarta(ns::Dictionary* card) {
    ui::Rect size = view()->frame();
    auto full = ns::make<UIViewCardFull>(ui::makeRect(0, 0, size.size.width, size.size.height));
    full->setDicCarta(ns::Ref<ns::Dictionary>(card));
    view()->addSubview(full);
    full->setAutoresizesSubviews(true);
    full->setAutoresizingMask(ui::AutoresizingFlexibleAll);
    full->dibujarElementos();
}

}  // namespace app
