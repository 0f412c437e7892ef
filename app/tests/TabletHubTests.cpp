// The tablet hub: its buttons, the notifications it handles with their
// payloads, and the analytics events each button logs first.
#include "app/tests/TabletTestSupport.h"

#include <random>

#include "app/forms/UIViewSingUp.h"
#include "app/tablet/FollouUSViewController.h"
#include "app/tablet/TabletNotifications.h"
#include "app/tablet/search_ipadViewController.h"
#include "app/tablet/shareViewController_iPad.h"
#include "platform/mail/MailComposeViewController.h"

namespace app::test {

namespace {

template <class T>
T* presentedAs(ui::ViewController* host) {
    ui::ViewController* p = host ? host->topPresentedViewController() : nullptr;
    if (auto* t = dynamic_cast<T*>(p)) return t;
    auto* nav = dynamic_cast<ui::NavigationController*>(p);
    return nav ? dynamic_cast<T*>(nav->topViewController()) : nullptr;
}

template <class T>
T* overlayOn(ui::View* v) {
    for (auto& s : v->subviews())
        if (auto* o = dynamic_cast<T*>(s.get())) return o;
    return nullptr;
}

}  // namespace

TEST_F(TabletTest, HubOpensWithTheDeckAndItsFirstCard) {
    ASSERT_TRUE(openHub("Experience"));
    EXPECT_EQ(paneTitle(), "Experience");
    EXPECT_EQ(shownCardTitle(), "A conflict at work");
    EXPECT_EQ(listTitles().front(), "a conflict at work");
    EXPECT_EQ(listTitles().size(), 8u);
    EXPECT_FALSE(pane()->btnAddFavorites()->isHidden());
    EXPECT_TRUE(screenHas("[page KORVEL_9.html]")) << screen();
    EXPECT_EQ(list()->controller(), hub());
}

TEST_F(TabletTest, InterviewButtonChangesListTitleAndModeButKeepsTheCard) {
    ASSERT_TRUE(openHub());
    ASSERT_TRUE(driver->tapButton("Favorites"));  // hides the card buttons (no favourites: alert only)
    ASSERT_TRUE(driver->pressAlertButton("accept"));
    ASSERT_TRUE(driver->tapButton("Interview"));
    EXPECT_EQ(eventNames().back(), "InterviewButton");
    EXPECT_EQ(paneTitle(), "Interview");
    EXPECT_EQ(pane()->modo(), kModoTacticas);
    EXPECT_EQ(shownCardTitle(), "Tell me about yourself");
    EXPECT_EQ(listTitles(), (std::vector<std::string>{"interview tactics", "before the interview", "during the interview"}));
    EXPECT_TRUE(list()->btnAtras()->isHidden());
    EXPECT_FALSE(pane()->btnAddFavorites()->isHidden());
    EXPECT_FALSE(pane()->btnShare()->isHidden());
}

TEST_F(TabletTest, FavoritesButtonWithNoFavouritesShowsTheAlertOnly) {
    ASSERT_TRUE(openHub());
    auto before = listTitles();
    ASSERT_TRUE(driver->tapButton("Favorites"));
    EXPECT_EQ(eventNames().back(), "FavoritesButton");
    ASSERT_TRUE(topAlert());
    EXPECT_EQ(topAlert()->title(), "Oops!");
    EXPECT_EQ(topAlert()->message(), "You have not added any cards to your favorites yet.");
    EXPECT_EQ(topAlert()->buttonTitles(), std::vector<std::string>{"accept"});
    EXPECT_EQ(listTitles(), before);
    EXPECT_EQ(paneTitle(), "About you");
    EXPECT_FALSE(pane()->btnAddFavorites()->isHidden());
}

TEST_F(TabletTest, FavoritesButtonListsTheFavouritesAndShowsTheFirst) {
    ASSERT_TRUE(openHub());
    ASSERT_TRUE(driver->tapRow("greatest strength"));
    ASSERT_TRUE(driver->tapButton("Add to favorites"));
    ASSERT_TRUE(driver->pressAlertButton("Accept"));
    ASSERT_TRUE(driver->tapRow("greatest weakness"));
    ASSERT_TRUE(driver->tapButton("Add to favorites"));
    ASSERT_TRUE(driver->pressAlertButton("Accept"));
    ASSERT_TRUE(driver->tapButton("Interview"));
    ASSERT_TRUE(driver->tapButton("Favorites"));
    EXPECT_EQ(listTitles(), (std::vector<std::string>{"greatest strength", "greatest weakness"}));
    EXPECT_EQ(shownCardTitle(), "Greatest strength");
    EXPECT_EQ(paneTitle(), "Favorites");
    EXPECT_EQ(pane()->modo(), kModoNavegacion);
    EXPECT_TRUE(pane()->btnAddFavorites()->isHidden());
    EXPECT_TRUE(pane()->btnShare()->isHidden());
}

TEST_F(TabletTest, PracticeButtonStartsRandomPracticeWithThePracticeList) {
    ASSERT_TRUE(openHub());
    pane()->setRandomSource([engine = std::make_shared<std::mt19937>(7)] { return (*engine)(); });
    std::mt19937 expected(7);
    size_t index = expected() % delegate->allCards()->count();
    ASSERT_TRUE(driver->tapButton("Practice"));
    EXPECT_EQ(eventNames().back(), "PracticeButton");
    EXPECT_EQ(paneTitle(), "Practice");
    EXPECT_EQ(pane()->modo(), kModoRandom);
    EXPECT_EQ(listTitles(), (std::vector<std::string>{"practice", "random cards", "questions", "groups"}));
    EXPECT_EQ(pane()->IndexCartaRandom(), static_cast<long>(index));
    std::string title = rowString(rowAt(delegate->allCards(), index), "title");
    EXPECT_EQ(shownCardTitle(), title);
    EXPECT_NE(pageHTML().find("<h1 class='"), std::string::npos);
    EXPECT_NE(pageHTML().find(title), std::string::npos);
}

TEST_F(TabletTest, SearchAndShareButtonsPresentTheirScreensAsFormSheets) {
    ASSERT_TRUE(openHub());
    ASSERT_TRUE(driver->tapButton("Search"));
    EXPECT_EQ(eventNames().back(), "SearchButton");
    auto* search = presentedAs<search_ipadViewController>(root());
    ASSERT_TRUE(search);
    EXPECT_EQ(search->modalPresentationStyle(), ui::ModalPresentationStyle::FormSheet);
    EXPECT_EQ(search->modalTransitionStyle(), ui::ModalTransitionStyle::CoverVertical);
    search->searchBarCancelButtonClicked(search->searchBar());
    driver->settle();
    EXPECT_FALSE(presentedAs<search_ipadViewController>(root()));

    ASSERT_TRUE(driver->tapButton("Share"));
    EXPECT_EQ(eventNames().back(), "ShareButton");
    auto* follow = presentedAs<FollouUSViewController>(root());
    ASSERT_TRUE(follow);
    EXPECT_EQ(follow->navigationController()->modalPresentationStyle(), ui::ModalPresentationStyle::FormSheet);
    EXPECT_TRUE(screenHas("Follow us")) << screen();
    ASSERT_TRUE(driver->tapButton("Close"));
    EXPECT_FALSE(presentedAs<FollouUSViewController>(root()));
}

TEST_F(TabletTest, InfoButtonShowsTheInformationPages) {
    ASSERT_TRUE(openHub());
    ASSERT_TRUE(driver->tapButton("Info"));
    EXPECT_EQ(eventNames().back(), "InfoButton");
    auto info = ns::dictionaryWithContentsOfFile(sampleBundle() + "/infoIpad.plist");
    EXPECT_EQ(listTitles().size(), rowChildren(info.get())->count());
    EXPECT_EQ(listTitles().front(), "about this deck");
    EXPECT_EQ(paneTitle(), "Information");
    EXPECT_EQ(pane()->modo(), kModoNavegacion);
    EXPECT_EQ(rowString(pane()->DicDeCarta(), "Title"), "About this deck");
    EXPECT_TRUE(pane()->btnAddFavorites()->isHidden());
    EXPECT_TRUE(screenHas("[page KORVEL_info.html]")) << screen();
}

TEST_F(TabletTest, RateButtonAsksForARatingWhateverTheLaunchCount) {
    ASSERT_TRUE(openHub());
    ASSERT_TRUE(driver->tapButton("Rate"));
    EXPECT_EQ(eventNames().back(), "RateButton");
    ASSERT_TRUE(topAlert());
    EXPECT_EQ(topAlert()->message(), kRatePromptMessage);
}

TEST_F(TabletTest, ReferralAndSignUpButtonsLayTheirOverlaysBelowTheButtonStrip) {
    ASSERT_TRUE(openHub());
    ui::View* root = delegate->window()->rootViewController()->view();
    ASSERT_TRUE(driver->tapButton("Referral"));
    EXPECT_EQ(eventNames().back(), "ReferrerButton");
    auto* referral = overlayOn<UIViewReferral>(root);
    ASSERT_TRUE(referral);
    EXPECT_EQ(referral->frame().origin.x, 0);
    EXPECT_EQ(referral->frame().origin.y, 60);
    EXPECT_EQ(referral->frame().size.width, hub()->view()->frame().size.width);
    EXPECT_EQ(referral->autoresizingMask(), 63u);
    EXPECT_TRUE(referral->viewContenido());
    referral->removeFromSuperview();

    ASSERT_TRUE(driver->tapButton("Sign up"));
    EXPECT_EQ(eventNames().back(), "SignUpButton");
    auto* signUp = overlayOn<UIViewSingUp>(root);
    ASSERT_TRUE(signUp);
    FormViewController* form = signUp->singController();
    ASSERT_TRUE(form);
    ASSERT_TRUE(form->viewVentana());
    // The form's window, 320 by 480, stands in the middle of its view.
    ui::Rect b = form->view()->bounds();
    ui::Rect w = form->viewVentana()->frame();
    EXPECT_EQ(ui::toString(w.size), "{320, 480}");
    EXPECT_GT(b.width(), w.width());
    EXPECT_EQ(w.minX(), b.width() - w.maxX()) << ui::toString(w) << " in " << ui::toString(b);
    EXPECT_EQ(w.minY(), b.height() - w.maxY()) << ui::toString(w) << " in " << ui::toString(b);
}

TEST_F(TabletTest, DeckButtonsShowTheirDeckAndLogMenuButtonClick) {
    ASSERT_TRUE(openHub());
    postTablet(kModificarModo, ns::num(2));
    ASSERT_TRUE(driver->tapButton("Technical interviews"));
    const analytics::LoggedEvent* e = lastEvent("MenuButtonClick");
    ASSERT_TRUE(e);
    ASSERT_TRUE(e->parameters);
    EXPECT_EQ(e->parameters->count(), 1u);
    ASSERT_TRUE(e->parameters->numberForKey("ButtonIndex"));
    EXPECT_EQ(e->parameters->numberForKey("ButtonIndex")->longValue(), 2);
    EXPECT_EQ(paneTitle(), "Technical interviews");
    EXPECT_EQ(shownCardTitle(), "Thinking aloud");
    EXPECT_EQ(pane()->modo(), kModoNavegacion);
    EXPECT_EQ(listTitles().front(), "thinking aloud");
}

TEST_F(TabletTest, ShareCardPresentsTheShareScreenForTheShownCard) {
    ASSERT_TRUE(openHub());
    ASSERT_TRUE(driver->tapRow("greatest strength"));
    ASSERT_TRUE(driver->tapButton("Share card"));
    auto* share = presentedAs<shareViewController_iPad>(root());
    ASSERT_TRUE(share);
    EXPECT_EQ(rowString(share->dicCarta(), "title"), "Greatest strength");
    EXPECT_EQ(share->navigationController()->modalPresentationStyle(), ui::ModalPresentationStyle::FormSheet);
    EXPECT_TRUE(screenHas("Share")) << screen();
    ASSERT_TRUE(driver->tapButton("Close"));
    EXPECT_FALSE(root()->presentedViewController());
}

TEST_F(TabletTest, TheCardButtonsActOnlyOnACard) {
    ASSERT_TRUE(openHub());
    struct Row {
        const char* name;
        std::vector<std::string> taps;  // buttons, then rows: what brings the page into the pane
        std::string page;
    } rows[] = {
        {"the add-group row", {"Practice", "groups"}, "[page VELTRA_Blanco.html]"},
        {"an information page", {"Info"}, "[page KORVEL_info.html]"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(driver->tapButton(row.taps[0])) << driver->lastError();
        for (size_t i = 1; i < row.taps.size(); ++i) ASSERT_TRUE(driver->tapRow(row.taps[i])) << driver->lastError();
        // The Interview list leaves the pane as it is: still not a card.
        ASSERT_TRUE(driver->tapButton("Interview")) << driver->lastError();
        EXPECT_TRUE(screenHas(row.page)) << screen();
        EXPECT_FALSE(pane()->showsCard());
        EXPECT_TRUE(pane()->btnAddFavorites()->isHidden());
        EXPECT_TRUE(pane()->btnShare()->isHidden());
        EXPECT_FALSE(driver->tapButton("Add to favorites"));
        EXPECT_FALSE(driver->tapButton("Share card"));
        // Pressed all the same, they answer and keep nothing.
        pane()->ClicAgregarFavoritos(nullptr);
        ASSERT_TRUE(topAlert()) << screen();
        EXPECT_EQ(topAlert()->title(), "Favorites");
        EXPECT_EQ(topAlert()->message(), "Only cards can be added to your favorites.");
        ASSERT_TRUE(driver->pressAlertButton("Accept"));
        pane()->ClicShare(nullptr);
        ASSERT_TRUE(topAlert()) << screen();
        EXPECT_EQ(topAlert()->message(), "Only a card with its web address can be shared.");
        ASSERT_TRUE(driver->pressAlertButton("Accept"));
        EXPECT_FALSE(pane()->shareSheetItem());
        clearAppLog();
        postTablet(kCompartirRedes, ns::Ref<ns::Dictionary>(pane()->DicDeCarta()));
        EXPECT_FALSE(root()->presentedViewController());
        ASSERT_FALSE(appLogLines().empty());
        EXPECT_EQ(appLogLines().back(), "Hub: only a card with its web address is shared; nothing to share");
        EXPECT_EQ(delegate->allFavorites()->count(), 0u);
        EXPECT_FALSE(fs::exists(documents("Favorites-VeltraIpad.plist")));
        // A card brings them back.
        ASSERT_TRUE(driver->tapRow("before the interview")) << driver->lastError();
        ASSERT_TRUE(driver->tapRow("research the company")) << driver->lastError();
        EXPECT_TRUE(pane()->showsCard());
        EXPECT_FALSE(pane()->btnAddFavorites()->isHidden());
        EXPECT_FALSE(pane()->btnShare()->isHidden());
    }
    // A card without its web address can be kept but not shared.
    auto noPost = card("3", "Greatest strength", "blue")->mutableCopy();
    noPost->removeObjectForKey("post");
    postTablet(kActualizaContenidoCarta, noPost);
    EXPECT_FALSE(pane()->btnAddFavorites()->isHidden());
    EXPECT_TRUE(pane()->btnShare()->isHidden());
}

TEST_F(TabletTest, MailWithoutAnAccountShowsTheSendingMailAlert) {
    ASSERT_TRUE(openHub());
    mail::MailComposeViewController::setCanSendMail(false);
    postTablet(kEnviarMail, ns::Dictionary::make({{"para", s("a@b.example")}, {"subject", s("Hi")}, {"mensaje", s("<b>x</b>")}}));
    mail::MailComposeViewController::setCanSendMail(true);
    ASSERT_TRUE(topAlert());
    EXPECT_EQ(topAlert()->title(), "Sending mail");
    EXPECT_EQ(topAlert()->message(), "This device is not setup to send mail.");
    EXPECT_EQ(topAlert()->buttonTitles(), std::vector<std::string>{"OK"});
    EXPECT_FALSE(root()->presentedViewController());
}

TEST_F(TabletTest, MailOpensTheComposerWhichDismissesWhenDone) {
    ASSERT_TRUE(openHub());
    mail::MailComposeViewController::setCanSendMail(true);
    postTablet(kEnviarMail, ns::Dictionary::make({{"para", s("a@b.example")}, {"subject", s("Hi")}, {"mensaje", s("<b>x</b>")}}));
    driver->settle();
    auto* composer = dynamic_cast<mail::MailComposeViewController*>(root()->presentedViewController());
    ASSERT_TRUE(composer);
    EXPECT_EQ(composer->navigationBar()->barStyle(), ui::BarStyle::Black);
    auto m = composer->message();
    EXPECT_EQ(m.subject, "Hi");
    EXPECT_EQ(m.to, std::vector<std::string>{"a@b.example"});
    EXPECT_TRUE(m.isHTML);
    EXPECT_EQ(m.body, "<b>x</b>");
    EXPECT_EQ(composer->mailComposeDelegate(), hub());
    composer->cancel();
    driver->settle();
    EXPECT_FALSE(root()->presentedViewController());
}

TEST_F(TabletTest, EmptyRowsOrARowPastTheEndLeaveTheScreenAsItWas) {
    ASSERT_TRUE(openHub());
    auto before = listTitles();
    postTablet(kActualizarVistaBotones, ns::Array::make({ns::Array::make(), ns::num(0)}));
    postTablet(kActualizarVistaBotones, ns::Array::make({ns::Array::make({card("1", "x", "blue")}), ns::num(5)}));
    postTablet(kActualizarVistaBotones, s("not an array"));
    EXPECT_EQ(listTitles(), before);
    EXPECT_EQ(shownCardTitle(), "Tell me about yourself");
}

TEST_F(TabletTest, HubStopsObservingWhenItIsGone) {
    ASSERT_TRUE(openHub());
    ns::Weak<MenuViewController_iPad> weak(hub());
    auto* nav = dynamic_cast<ui::NavigationController*>(delegate->window()->rootViewController());
    ASSERT_TRUE(nav);
    nav->popViewControllerAnimated(false);
    driver->advance(1);
    EXPECT_FALSE(weak.lock());
    // Nothing observes these any more; posting them must not reach a dead hub.
    postTablet(kActualizarVistaBotones, ns::Array::make({ns::Array::make({card("1", "x", "blue")}), ns::num(0)}));
    postTablet(kEntrarModoRandom);
    postTablet(kActualizaTitulo, s("x"));
}

TEST_F(TabletTest, PanesBuiltButNeverDrawnStillHearTheirNotifications) {
    ASSERT_TRUE(openHub());
    auto pane = ViewDetalle::make(ui::makeRect(0, 0, 400, 600));
    auto list = ViewTableList::make(ui::makeRect(0, 0, 300, 600));
    list->PushOnTable(ns::Array::make({s("a")}));
    list->PushOnTable(ns::Array::make({s("b")}));
    postTablet(kActualizaTitulo, s("Before any draw"));
    postTablet(kModificarModo, ns::num(1));
    EXPECT_EQ(pane->lblTitulo()->text(), "Before any draw");
    EXPECT_EQ(pane->modo(), 1);
    size_t groupsListsBefore = 0;
    auto token = ns::NotificationCenter::defaultCenter()->addObserver(
        kListarTodosLosGruposApp, nullptr, [&](const ns::Notification&) { ++groupsListsBefore; });
    postTablet(kActualizarGrupos);
    EXPECT_GE(groupsListsBefore, 1u);
    EXPECT_EQ(list->StackObjetosTableView()->count(), 1u);
}

}  // namespace app::test
