// The tablet hub for one deck: the list of rows (left), the card pane
// (right), the bar of deck buttons (bottom) and the hub's own buttons
// (interview, favourites, practice, search, share, info, rate, referral,
// sign-up) along the top. The panes never call each other; they post the
// notifications of TabletNotifications.h, which the hub, the list and the
// card pane observe. Every hub button logs its analytics event first.
#pragma once

#include "app/RatePromptManager.h"
#include "app/tablet/ViewBotonera.h"
#include "app/tablet/ViewDetalle.h"
#include "app/tablet/ViewTableList.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/mail/MailComposeViewController.h"
#include "platform/ui/ViewController.h"

namespace app {

class MenuViewController_iPad : public ui::ViewController,
                               public cardFullDelegate,
                               public mail::MailComposeViewControllerDelegate {
public:
    // Titles of the hub's buttons.
    static constexpr const char* kInterviewTitle = "Interview";
    static constexpr const char* kFavoritesTitle = "Favorites";
    static constexpr const char* kPracticeTitle = "Practice";
    static constexpr const char* kSearchTitle = "Search";
    static constexpr const char* kShareTitle = "Share";
    static constexpr const char* kInfoTitle = "Info";
    static constexpr const char* kRateTitle = "Rate";
    static constexpr const char* kReferrerTitle = "Referral";
    static constexpr const char* kSignUpTitle = "Sign up";
    // Height of the button strip along the top (overlays start below it).
    static constexpr double kTopBarHeight = 60;
    static constexpr double kBotoneraHeight = 70;
    static constexpr double kListWidth = 300;

    const char* className() const override { return "MenuViewController_iPad"; }
    ~MenuViewController_iPad() override;

    // Position in "Jobframework.plist" of the deck the hub opens with.
    long indexButtonInicio() const { return indexButtonInicio_; }
    void setIndexButtonInicio(long i) { indexButtonInicio_ = i; }

    ViewTableList* myTableList() const { return myTableList_.get(); }
    ViewBotonera* myBotonera() const { return myBotonera_.get(); }
    ViewDetalle* myViewDetalle() const { return myViewDetalle_.get(); }
    RatePromptManager* rate() const { return rate_.get(); }
    void setPanes(ns::Ref<ViewTableList> list, ns::Ref<ViewBotonera> bar, ns::Ref<ViewDetalle> pane);

    // -- Buttons ----------------------------------------------------------------
    void ClicInterview(ns::Object* sender);
    void ClicReferrer(ns::Object* sender);
    void ClicSingUp(ns::Object* sender);
    void ClicFavoritos(ns::Object* sender);
    void ClicPractice(ns::Object* sender);
    void ClicSearch(ns::Object* sender);
    void ClicShare(ns::Object* sender);
    void ClicInfo(ns::Object* sender);
    void ClicRate(ns::Object* sender);

    // -- Notifications ----------------------------------------------------------------
    void ActualizarVistaBotones(const ns::Notification& n);
    void ActualizaContenidoCarta(const ns::Notification& n);
    void EntrarModoRandom(const ns::Notification& n);
    void ListarTodosLosGruposApp(const ns::Notification& n);
    void MostrarAgregarGrupo(const ns::Notification& n);
    void BorrarFavorito(const ns::Notification& n);
    void CompartirRedes(const ns::Notification& n);
    void EnviarMail(const ns::Notification& n);

    // The composer dismisses whatever the result.
    void mailComposeControllerDidFinishWithResult(mail::MailComposeViewController* controller,
                                                  mail::MailComposeResult result, ns::Error* error) override;

    // -- cardFullDelegate ----------------------------------------------------------------
    // Lays the full-screen card over the hub.
    void mostrarCarta(ns::Dictionary* card) override;

    void loadView() override;
    void viewDidLoad() override;
    bool shouldAutorotate() override { return true; }
    unsigned supportedInterfaceOrientations() override { return 30; }

private:
    void showCardButtons(bool shown);
    void openOverlay(bool referral);
    void presentFormSheet(ns::Ref<ui::ViewController> vc);

    long indexButtonInicio_ = 0;
    ns::Ref<ViewTableList> myTableList_;
    ns::Ref<ViewBotonera> myBotonera_;
    ns::Ref<ViewDetalle> myViewDetalle_;
    ns::Ref<RatePromptManager> rate_;
    std::vector<ns::ObserverToken> observers_;
};

// The hub's interface: the hub's buttons along the top, the list on the
// left, the card pane on the right and the deck buttons along the bottom.
void buildMenuViewController_iPadInterface(MenuViewController_iPad& hub);

}  // namespace app
