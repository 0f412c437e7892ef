#include "app/tablet/ViewDetalle.h"

#include "app/AppConfig.h"
#include "app/AppDelegate.h"
#include "app/AppLog.h"
#include "app/ContentModel.h"
#include "app/RatePromptManager.h"
#include "app/phone/RandomSource.h"
#include "app/tablet/TabletNotifications.h"
#include "app/tablet/shareViewController_iPad.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/Foundation.h"
#include "platform/foundation/SecretMasking.h"
#include "platform/foundation/URL.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Application.h"
#include "platform/ui/Image.h"
#include "sharing/sharers/facebook/SHRFacebook.h"
#include "sharing/sharers/twitter/SHRTwitter.h"

namespace app {

namespace {

// The app's shared source (seeded from the system unless a test or the
// simulator gave it a seed), read at each draw.
ViewDetalle::RandomDraw systemRandomSource() {
    return [] { return RandomSource::shared()->next32(); };
}

}  // namespace

ns::Ref<ViewDetalle> ViewDetalle::make(ui::Rect frame) {
    auto pane = ns::make<ViewDetalle>(frame);
    buildViewDetalleInterface(*pane);
    pane->setUp();
    return pane;
}

void buildViewDetalleInterface(ViewDetalle& pane) {
    ui::Rect b = pane.bounds();
    double w = b.size.width;
    auto cuerpo = ui::ImageView::make(b);
    cuerpo->setAutoresizingMask(ui::AutoresizingFlexibleAll);
    pane.addSubview(cuerpo);
    auto cabeza = ui::ImageView::make(ui::makeRect(0, 0, w, 80));
    cabeza->setAutoresizingMask(ui::AutoresizingFlexibleWidth);
    pane.addSubview(cabeza);

    auto titulo = ui::Label::make(ui::makeRect(20, 20, w - 40, 40));
    titulo->setAutoresizingMask(ui::AutoresizingFlexibleWidth);
    pane.addSubview(titulo);

    auto atras = ui::Button::make(ui::makeRect(10, 20, 150, 40), ViewDetalle::kBackTitle);
    atras->setHidden(true);
    atras->addTarget(&pane, &ViewDetalle::clicBtnAtras, ui::ControlEventTouchUpInside);
    pane.addSubview(atras);

    auto favoritos = ui::Button::make(ui::makeRect(10, 90, 150, 40), ViewDetalle::kAddFavoritesTitle);
    favoritos->addTarget(&pane, &ViewDetalle::ClicAgregarFavoritos, ui::ControlEventTouchUpInside);
    pane.addSubview(favoritos);
    auto share = ui::Button::make(ui::makeRect(170, 90, 120, 40), ViewDetalle::kShareTitle);
    share->addTarget(&pane, &ViewDetalle::ClicShare, ui::ControlEventTouchUpInside);
    pane.addSubview(share);
    auto full = ui::Button::make(ui::makeRect(w - 130, 90, 120, 40), ViewDetalle::kFullCardTitle);
    full->setAutoresizingMask(ui::AutoresizingFlexibleLeftMargin);
    full->addTarget(&pane, &ViewDetalle::clicFullCard, ui::ControlEventTouchUpInside);
    pane.addSubview(full);

    auto web = SwipeableWebView_ipad::make(ui::makeRect(0, 140, w, b.size.height - 140));
    web->setAutoresizingMask(ui::AutoresizingFlexibleWidth | ui::AutoresizingFlexibleHeight);
    web->setDelegate(&pane);
    web->setSwipeDelegate_ipad(&pane);
    pane.addSubview(web);

    pane.setOutlets(cabeza, cuerpo, titulo, atras, favoritos, share, full, web);
}

void ViewDetalle::setOutlets(ns::Ref<ui::ImageView> cabeza, ns::Ref<ui::ImageView> cuerpo, ns::Ref<ui::Label> titulo,
                             ns::Ref<ui::Button> atras, ns::Ref<ui::Button> addFavorites, ns::Ref<ui::Button> share,
                             ns::Ref<ui::Button> fullCard, ns::Ref<SwipeableWebView_ipad> webView) {
    imgCabeza_ = std::move(cabeza);
    imgCuerpo_ = std::move(cuerpo);
    lblTitulo_ = std::move(titulo);
    btnAtras_ = std::move(atras);
    btnAddFavorites_ = std::move(addFavorites);
    btnShare_ = std::move(share);
    btnFullCard_ = std::move(fullCard);
    myWebView_ = std::move(webView);
}

// What the pane did at its first draw, done when it is built: a title, mode
// or page that arrives before the first display pass is not lost.
void ViewDetalle::setUp() {
    modo_ = kModoNavegacion;
    viendoCarta_ = false;
    titulo_ = observeTablet(kActualizaTitulo, this, &ViewDetalle::ActualizaTitulo);
    modoToken_ = observeTablet(kModificarModo, this, &ViewDetalle::ModificarModo);
    swip_ = observeTablet(kWebViewSwip, this, &ViewDetalle::webViewSwip);
    savedFont_ = kStartFont;
    arrayCartas_ = ns::MutableArray::make();
    setArrayDeTodasLasCartas(bundleArray(kAllCardsFile));
    if (!random_) random_ = systemRandomSource();
}

void ViewDetalle::setDicDeCarta(ns::Ref<ns::Dictionary> card) {
    DicDeCarta_ = std::move(card);
    updateCardButtons();
}

void ViewDetalle::setArrayDeTodasLasCartas(ns::Ref<ns::Array> cards) {
    ArrayDeTodasLasCartas_ = cards ? std::move(cards) : ns::Array::make();
}

void ViewDetalle::setRandomSource(RandomDraw source) {
    random_ = source ? std::move(source) : systemRandomSource();
}

// -- Notifications ------------------------------------------------------------------

void ViewDetalle::ActualizaTitulo(const ns::Notification& n) {
    if (!lblTitulo_) return;
    auto* s = ns::as<ns::String>(n.object());
    lblTitulo_->setText(s ? std::string(s->utf8()) : std::string());
}

void ViewDetalle::ModificarModo(const ns::Notification& n) {
    if (auto* number = ns::as<ns::Number>(n.object())) modo_ = number->longValue();
}

void ViewDetalle::webViewSwip(const ns::Notification&) {
    if (myWebView_) myWebView_->setWindowChild();
}

// -- Buttons ----------------------------------------------------------------------------

void ViewDetalle::setCardButtonsShown(bool shown) {
    cardButtonsWanted_ = shown;
    updateCardButtons();
}

bool ViewDetalle::showsCard() const { return rowIsCard(DicDeCarta_.get()); }

bool ViewDetalle::showsShareableCard() const {
    return showsCard() && !rowString(DicDeCarta_.get(), "post").empty();
}

void ViewDetalle::updateCardButtons() {
    if (btnAddFavorites_) btnAddFavorites_->setHidden(!(cardButtonsWanted_ && showsCard()));
    if (btnShare_) btnShare_->setHidden(!(cardButtonsWanted_ && showsShareableCard()));
}

void ViewDetalle::clicFullCard(ns::Object*) {
    auto d = delegate_.lock();
    if (d && DicDeCarta_) d->mostrarCarta(DicDeCarta_.get());
}

void ViewDetalle::ClicShare(ns::Object*) {
    if (!DicDeCarta_) return;
    if (!showsShareableCard()) {
        CrearAlertaConMensajeConTitulo("Only a card with its web address can be shared.", "Share card");
        return;
    }
    postTablet(kCompartirRedes, DicDeCarta_);
}

// -- Share sheet ----------------------------------------------------------------------

ns::Ref<ui::ActionSheet> ViewDetalle::shareActionSheet() {
    auto sheet = ui::ActionSheet::make(kShareSheetTitle, this, "", "");
    sheet->setCancelButtonIndex(sheet->addButtonWithTitle(kShareSheetCancel));
    sheet->addButtonWithTitle(shareViewController_iPad::kTwitterTitle);
    sheet->addButtonWithTitle(shareViewController_iPad::kFacebookTitle);
    return sheet;
}

std::string ViewDetalle::shareSheetTitle(const std::string& post) {
    return ns::format("TarnWick Veltra media %@", post);
}

ns::Ref<sharing::SHRItem> ViewDetalle::shareSheetItem() const {
    if (!showsShareableCard()) return nullptr;
    return shareViewController_iPad::iconItem(shareSheetTitle(rowString(DicDeCarta_.get(), "post")));
}

void ViewDetalle::actionSheetClickedButtonAtIndex(ui::ActionSheet*, long index) {
    if (index != kShareSheetTwitterIndex && index != kShareSheetFacebookIndex) return;
    auto item = shareSheetItem();
    if (!item) return;
    if (index == kShareSheetTwitterIndex) sharing::SHRSharer::shareItem<sharing::SHRTwitter>(item);
    else sharing::SHRFacebook::shareItem(item);
}

void ViewDetalle::CrearAlertaConMensajeConTitulo(const std::string& message, const std::string& title) {
    ui::AlertView::make(title, message, nullptr, "Accept")->show();
}

void ViewDetalle::ClicAgregarFavoritos(ns::Object*) {
    if (!DicDeCarta_) return;
    if (!showsCard()) {
        CrearAlertaConMensajeConTitulo("Only cards can be added to your favorites.", "Favorites");
        return;
    }
    auto copy = DicDeCarta_->mutableCopy();
    copy->setObject(ns::String::make("YES"), "Editable");
    auto title = rowTitle(DicDeCarta_.get());
    if (!title) return;
    AppDelegate* d = AppDelegate::shared();
    if (!d) return;
    if (d->ExistingCard(title.get())) {
        CrearAlertaConMensajeConTitulo("This letter has already been added.", "Error");
        return;
    }
    // The favourite is kept only when the file took it; a failed save is
    // reported and leaves memory and file as they were.
    ns::Ref<ns::Error> error;
    if (!d->addFavorite(copy, &error)) {
        appLog("Saving favourite \"" + std::string(title->utf8()) + "\" failed: " +
               (error ? error->description() : std::string("unknown error")));
        CrearAlertaConMensajeConTitulo("The card could not be saved to your favorites.", "Error");
        return;
    }
    CrearAlertaConMensajeConTitulo("was saved correctly.", "Favorites");
}

void ViewDetalle::clicBtnAtras(ns::Object*) {
    if (arrayCartas_->count() < 2) return;
    arrayCartas_->removeLastObject();
    setDicDeCarta(ns::Ref<ns::Dictionary>(ns::as<ns::Dictionary>(arrayCartas_->lastObject())));
    cargaHtmlWebView();
    ActualizaColorCarta();
    ui::View::transitionWithView(this, kFlipDuration, ui::AnimationOptionTransitionFlipFromRight, [] {});
    if (arrayCartas_->count() == 1) {
        if (btnAtras_) btnAtras_->setHidden(true);
        if (lblTitulo_) lblTitulo_->setHidden(false);
    }
}

// -- Operations ---------------------------------------------------------------------------

void ViewDetalle::CargarNuevaCartaEnStack(ns::Ref<ns::Dictionary> card) {
    if (!card) return;
    setDicDeCarta(card);
    arrayCartas_->addObject(card);
    if (btnAtras_) btnAtras_->setHidden(false);
    if (lblTitulo_) lblTitulo_->setHidden(true);
}

void ViewDetalle::AgregarDicDeCartaComoRootCartas() {
    arrayCartas_ = ns::MutableArray::make();
    if (DicDeCarta_) arrayCartas_->addObject(DicDeCarta_);
    if (btnAtras_) btnAtras_->setHidden(true);
    if (lblTitulo_) lblTitulo_->setHidden(false);
}

void ViewDetalle::ActualizaColorCarta() {
    std::string colour = rowString(DicDeCarta_.get(), "color");
    if (imgCabeza_) imgCabeza_->setImage(ui::Image::imageNamed(headerImageName(colour)));
    if (imgCuerpo_) imgCuerpo_->setImage(ui::Image::imageNamed(backgroundImageName(colour)));
}

void ViewDetalle::cargaHtmlWebView() {
    if (!myWebView_) return;
    long size = savedFont_ ? savedFont_ : kStartFont;
    std::string page = rowString(DicDeCarta_.get(), "ActionData");
    if (page.empty()) page = cardPageName(DicDeCarta_.get());
    loadCardPage(myWebView_.get(), page, size);
}

void ViewDetalle::ObtenerCartaModoRandom() {
    size_t count = ArrayDeTodasLasCartas_->count();
    if (count == 0) {
        // No card to practise on: the pane keeps what it shows.
        appLog("Random practice: there are no cards");
        return;
    }
    IndexCartaRandom_ = static_cast<long>(random_() % count);
    cargaHtmlPractice();
}

void ViewDetalle::cargaHtmlPractice() {
    ns::Ref<ns::Dictionary> card(rowAt(ArrayDeTodasLasCartas_.get(), static_cast<size_t>(IndexCartaRandom_)));
    if (!card) return;
    if (myWebView_) loadPracticePage(myWebView_.get(), card.get(), savedFont_ ? savedFont_ : kStartFont);
    setDicDeCarta(card);
    AgregarDicDeCartaComoRootCartas();
    ActualizaColorCarta();
}

// -- Gestures and links ------------------------------------------------------------------------

void ViewDetalle::registerTap() {
    if (modo_ != kModoRandom) return;
    if (viendoCarta_) {
        viendoCarta_ = false;
        ui::View::transitionWithView(this, kFlipDuration, ui::AnimationOptionTransitionFlipFromRight,
                                     [this] { ObtenerCartaModoRandom(); });
    } else {
        viendoCarta_ = true;
        ui::View::transitionWithView(this, kFlipDuration, ui::AnimationOptionTransitionFlipFromLeft,
                                     [this] { cargaHtmlWebView(); });
    }
}

void ViewDetalle::registerPinchDirection(bool closing) {
    if (closing) {
        if (savedFont_ > kMinPinchFont) savedFont_ -= 1;
    } else {
        if (savedFont_ < kMaxFont) savedFont_ += 1;
    }
    if (myWebView_)
        myWebView_->stringByEvaluatingJavaScriptFromString("document.body.style.fontSize = '" +
                                                           std::to_string(savedFont_) + "px';");
}

bool ViewDetalle::webViewShouldStartLoadWithRequest(ui::WebView*, ui::URLRequest* request,
                                                    ui::WebViewNavigationType type) {
    if (type != ui::WebViewNavigationType::LinkClicked) return true;
    ns::URL* url = request ? request->URL() : nullptr;
    if (!url) return false;
    std::string link(url->absoluteString()->utf8());
    std::string name(url->lastPathComponent()->utf8());

    if (name == "rateApp") {
        RatePromptManager::showRatePage();
        return false;
    }
    if (link == kContactMailLink) {
        postTablet(kEnviarMail, ns::Dictionary::make({{"para", ns::String::make(kContactMailAddress)},
                                                      {"subject", ns::String::make(kContactSubject)},
                                                      {"mensaje", ns::String::make(kContactMessage)}}));
        return false;
    }
    // The card is found first and the list let go before the flip: the flip
    // loads another card, which may change the list.
    ns::Ref<ns::Dictionary> linked;
    for (ns::Object* o : *ArrayDeTodasLasCartas_) {
        auto* card = ns::as<ns::Dictionary>(o);
        if (!card || !rowHas(card, "index") || rowString(card, "index") != name) continue;
        linked = card->mutableCopy();
        break;
    }
    if (linked) {
        ui::View::transitionWithView(this, kFlipDuration, ui::AnimationOptionTransitionFlipFromLeft, [this, linked] {
            CargarNuevaCartaEnStack(linked);
            ActualizaColorCarta();
            cargaHtmlWebView();
        });
        return false;
    }
    appLog("Enlace :   " + ns::maskSecretsInURL(link));
    ui::Application::shared()->openURL(link);
    return false;
}

}  // namespace app
