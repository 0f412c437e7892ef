// The right pane of the tablet hub: one card with its colour header and
// background, its title, and its page in a gesture-aware web view. It keeps
// the stack of cards reached through links in card pages (Back pops it),
// runs random practice (a tap turns the card from question to answer and
// on to the next random card), changes the page's font size with a pinch
// (13 at start; pinching takes it between 14 and 41), adds the card to the
// favourites, and asks the hub to share the card or show it full screen.
//
// The pane observes "ActualizaTitulo", "ModificarModo" and "webViewSwip"
// from the moment it is built until it is destroyed.
//
// It also answers a share sheet for its card (shareActionSheet: button 1
// shares to Twitter, button 2 to Facebook), offered for a screen that wants
// one; the hub's share button opens the share screen instead.
#pragma once

#include <cstdint>
#include <functional>

#include "app/SwipeableWebView_ipad.h"
#include "platform/foundation/Array.h"
#include "platform/foundation/Dictionary.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Control.h"
#include "platform/foundation/Delegate.h"
#include "platform/ui/Label.h"
#include "platform/ui/WebView.h"
#include "sharing/core/SHRItem.h"

namespace app {

// Receives the pane's request to show a card over the whole hub.
class cardFullDelegate {
public:
    virtual ~cardFullDelegate() = default;
    virtual void mostrarCarta(ns::Dictionary* card) = 0;
};

class ViewDetalle : public ui::View,
                    public ui::WebViewDelegate,
                    public SwipeableWebViewDelegate_ipad,
                    public ui::ActionSheetDelegate {
public:
    static constexpr long kStartFont = 13;
    static constexpr long kMinPinchFont = 14;
    static constexpr long kMaxFont = 41;
    static constexpr double kFlipDuration = 0.75;

    // Button titles of the pane's interface.
    static constexpr const char* kBackTitle = "Previous card";
    static constexpr const char* kAddFavoritesTitle = "Add to favorites";
    static constexpr const char* kShareTitle = "Share card";
    static constexpr const char* kFullCardTitle = "Full card";

    // The share sheet: its title and buttons, in index order.
    static constexpr const char* kShareSheetTitle = "Share this card";
    static constexpr const char* kShareSheetCancel = "Cancel";
    static constexpr long kShareSheetTwitterIndex = 1;
    static constexpr long kShareSheetFacebookIndex = 2;

    // Texts of the contact mail that a card page's contact link opens.
    static constexpr const char* kContactSubject = "Comments/Contact Tarnwick Ostravelle Case Interview App";
    static constexpr const char* kContactMessage =
        "Please feel free to contact us regarding any questions you may have.<br>We are always happy to hear "
        "your comments and look forward to incorporating any feedback from our users.<br>";

    // A 32-bit random number source for practice.
    using RandomDraw = std::function<uint32_t()>;

    explicit ViewDetalle(ui::Rect frame) : ui::View(frame) {}
    const char* className() const override { return "ViewDetalle"; }
    // A pane with its outlets, observers and the list of every card.
    static ns::Ref<ViewDetalle> make(ui::Rect frame);

    // -- Outlets ----------------------------------------------------------------
    ui::ImageView* imgCabeza() const { return imgCabeza_.get(); }
    ui::ImageView* imgCuerpo() const { return imgCuerpo_.get(); }
    ui::Label* lblTitulo() const { return lblTitulo_.get(); }
    ui::Button* btnAtras() const { return btnAtras_.get(); }
    ui::Button* btnAddFavorites() const { return btnAddFavorites_.get(); }
    ui::Button* btnShare() const { return btnShare_.get(); }
    ui::Button* btnFullCard() const { return btnFullCard_.get(); }
    SwipeableWebView_ipad* myWebView() const { return myWebView_.get(); }
    void setOutlets(ns::Ref<ui::ImageView> cabeza, ns::Ref<ui::ImageView> cuerpo, ns::Ref<ui::Label> titulo,
                    ns::Ref<ui::Button> atras, ns::Ref<ui::Button> addFavorites, ns::Ref<ui::Button> share,
                    ns::Ref<ui::Button> fullCard, ns::Ref<SwipeableWebView_ipad> webView);

    // -- State --------------------------------------------------------------------
    ns::Dictionary* DicDeCarta() const { return DicDeCarta_.get(); }
    void setDicDeCarta(ns::Ref<ns::Dictionary> card);
    ns::MutableArray* arrayCartas() const { return arrayCartas_.get(); }
    ns::Array* ArrayDeTodasLasCartas() const { return ArrayDeTodasLasCartas_.get(); }
    void setArrayDeTodasLasCartas(ns::Ref<ns::Array> cards);
    long savedFont() const { return savedFont_; }
    long modo() const { return modo_; }
    bool viendoCarta() const { return viendoCarta_; }
    long IndexCartaRandom() const { return IndexCartaRandom_; }
    cardFullDelegate* delegate() const { return delegate_.get(); }
    void setDelegate(cardFullDelegate* d) { delegate_ = d; }
    // The practice's random source; nil restores the default, the app's
    // shared RandomSource.
    void setRandomSource(RandomDraw source);

    // -- Notifications --------------------------------------------------------------
    void ActualizaTitulo(const ns::Notification& n);
    void ModificarModo(const ns::Notification& n);
    void webViewSwip(const ns::Notification& n);

    // -- Buttons --------------------------------------------------------------------
    // The hub's wish to show the add-to-favourites and share buttons. They
    // show only while the pane shows a card (rowIsCard), share only a card
    // with its "post" (the address it shares): the add-group row or an
    // information page keeps them hidden, and they come back with a card.
    void setCardButtonsShown(bool shown);
    // Whether the pane shows a card / one that can be shared.
    bool showsCard() const;
    bool showsShareableCard() const;
    void clicFullCard(ns::Object* sender);
    void ClicShare(ns::Object* sender);
    void ClicAgregarFavoritos(ns::Object* sender);
    void clicBtnAtras(ns::Object* sender);

    // -- Operations -------------------------------------------------------------------
    // An alert with the title, the message and the one button "Accept".
    void CrearAlertaConMensajeConTitulo(const std::string& message, const std::string& title);
    void CargarNuevaCartaEnStack(ns::Ref<ns::Dictionary> card);
    void AgregarDicDeCartaComoRootCartas();
    void ActualizaColorCarta();
    void cargaHtmlWebView();
    void ObtenerCartaModoRandom();
    void cargaHtmlPractice();

    // -- Gestures and links ----------------------------------------------------------------
    void registerTap() override;
    void registerPinchDirection(bool closing) override;
    bool answers(SwipeableWebViewDelegate_ipad::Optional op) const override {
        return op == Optional::RegisterTap || op == Optional::RegisterPinchDirection;
    }
    bool webViewShouldStartLoadWithRequest(ui::WebView* wv, ui::URLRequest* request,
                                           ui::WebViewNavigationType type) override;

    // -- Share sheet ---------------------------------------------------------------------
    // A sheet "Share this card" with "Cancel" (0), "Twitter" (1) and
    // "Facebook" (2), the pane its delegate; the caller shows it.
    ns::Ref<ui::ActionSheet> shareActionSheet();
    // What the sheet shares: the app icon titled "TarnWick Veltra media
    // <post>" with the card's "post"; nil without a card.
    ns::Ref<sharing::SHRItem> shareSheetItem() const;
    static std::string shareSheetTitle(const std::string& post);
    // Button 1 hands the item to the Twitter sharer, button 2 to the
    // Facebook sharer; any other button does nothing.
    void actionSheetClickedButtonAtIndex(ui::ActionSheet* sheet, long index) override;

private:
    void setUp();
    void updateCardButtons();

    ns::Ref<ui::ImageView> imgCabeza_, imgCuerpo_;
    ns::Ref<ui::Label> lblTitulo_;
    ns::Ref<ui::Button> btnAtras_, btnAddFavorites_, btnShare_, btnFullCard_;
    ns::Ref<SwipeableWebView_ipad> myWebView_;

    ns::Ref<ns::Dictionary> DicDeCarta_;
    ns::Ref<ns::MutableArray> arrayCartas_ = ns::MutableArray::make();
    ns::Ref<ns::Array> ArrayDeTodasLasCartas_ = ns::Array::make();
    long savedFont_ = kStartFont;
    long modo_ = 0;
    bool viendoCarta_ = false;
    long IndexCartaRandom_ = 0;
    bool cardButtonsWanted_ = true;
    ns::WeakDelegate<cardFullDelegate> delegate_;
    RandomDraw random_;
    ns::ObserverToken titulo_, modoToken_, swip_;
};

// The pane's interface: header and background images, the title label, the
// back, add-to-favourites, share and full-card buttons, and the web view,
// wired to the pane.
void buildViewDetalleInterface(ViewDetalle& pane);

}  // namespace app
