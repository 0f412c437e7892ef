// The phone's card page: reached from the deck menu, its page with the font
// size, pinch steps and their scripts, links (cards, mail, outside pages),
// the share screen's mail, and the landscape full-screen card.
#include "app/tests/AppTestSupport.h"

#include "app/AppConfig.h"
#include "app/MailSupport.h"
#include "app/RatePromptManager.h"
#include "app/phone/CardFullViewController.h"
#include "app/phone/CardViewController.h"
#include "app/phone/ShareCardViewController_Iphone.h"
#include "app/tablet/shareViewController_iPad.h"
#include "platform/mail/MailComposeViewController.h"

namespace app::test {

class PhoneCardPage : public PhoneAppTest {
protected:
    // Deck index -> "About you" -> "Tell me about yourself" (card 1).
    CardViewController* openFirstCard() {
        EXPECT_TRUE(driver->tapRow("about you")) << driver->lastError();
        EXPECT_TRUE(driver->tapRow("tell me about yourself")) << driver->lastError();
        return topScreen<CardViewController>();
    }
    void pinch(CardViewController* card, double from, double to, int steps) {
        driver->pinch(ui::Driver::centerOf(card->webView()), from, to, steps);
    }
};

TEST_F(PhoneCardPage, MenuOpensTheCardPageWithFontSizeAndColourImages) {
    CardViewController* card = openFirstCard();
    ASSERT_TRUE(card) << screen();
    EXPECT_EQ(card->savedFont(), 13);
    const std::string& html = card->webView()->html();
    EXPECT_NE(html.find("<body style='font-size: 13px' class=\"blue\">"), std::string::npos) << html;
    ASSERT_TRUE(card->webView()->baseURL());
    EXPECT_EQ(shownPageName(card->webView()), "KORVEL_1.html");
    EXPECT_EQ(imageName(card->imgheader()), "CabezaCarta-blue.png");
    EXPECT_EQ(imageName(card->imgfondo()), "FondoCarta-blue.png");
    EXPECT_EQ(card->btnBack()->currentTitle(), "About you");
    EXPECT_TRUE(card->lblTitle()->isHidden());
    EXPECT_FALSE(card->btnShare()->isHidden());  // the card has a "post"
    EXPECT_TRUE(screenHas("Tell me about yourself.")) << screen();

    // The header: back and share buttons of one size at its two ends, five
    // points in from the edges, the title between them, the page below.
    ui::Rect b = card->view()->bounds();
    std::vector<std::pair<const char*, ui::View*>> parts{{"header", card->imgheader()},
                                                          {"back", card->btnBack()},
                                                          {"title", card->lblTitle()},
                                                          {"share", card->btnShare()},
                                                          {"page", card->webView()}};
    std::vector<ui::Rect> want{ui::makeRect(0, 0, b.width(), 60), ui::makeRect(5, 10, 100, 40),
                               ui::makeRect(110, 10, b.width() - 220, 40), ui::makeRect(b.width() - 105, 10, 100, 40),
                               ui::makeRect(0, 60, b.width(), b.height() - 60)};
    for (size_t i = 0; i < parts.size(); ++i) {
        ASSERT_TRUE(parts[i].second) << parts[i].first;
        EXPECT_EQ(ui::toString(parts[i].second->frame()), ui::toString(want[i])) << parts[i].first;
    }
}

TEST_F(PhoneCardPage, PinchStepsStayBetweenFourteenAndFortyOne) {
    CardViewController* card = openFirstCard();
    ASSERT_TRUE(card);
    card->webView()->clearEvaluatedScripts();
    // Closing from 13 stays at 13: the floor only lets sizes of 15 and up down.
    pinch(card, 200, 180, 2);
    EXPECT_EQ(card->savedFont(), 13);
    ASSERT_FALSE(card->webView()->evaluatedScripts().empty());
    EXPECT_EQ(card->webView()->evaluatedScripts().back(),
              "document.getElementsByTagName('body')[0].style.fontSize= '13px'");

    // Each opening step raises one pixel, up to 41 and no further.
    for (int i = 0; i < 40; ++i) pinch(card, 100, 106, 1);
    EXPECT_EQ(card->savedFont(), 41);
    EXPECT_EQ(card->webView()->evaluatedScripts().back(),
              "document.getElementsByTagName('body')[0].style.fontSize= '41px'");

    // Closing goes down to 14 and stops there.
    for (int i = 0; i < 40; ++i) pinch(card, 106, 100, 1);
    EXPECT_EQ(card->savedFont(), 14);
    EXPECT_EQ(card->webView()->evaluatedScripts().back(),
              "document.getElementsByTagName('body')[0].style.fontSize= '14px'");
    // The page is not reloaded by a pinch.
    EXPECT_NE(card->webView()->html().find("font-size: 13px"), std::string::npos);
}

TEST_F(PhoneCardPage, CardLinkPushesThatCardAndBackReturns) {
    CardViewController* first = openFirstCard();
    ASSERT_TRUE(first);
    size_t loads = first->webView()->loadCount();
    // The page refuses the load itself (the driver reports a refused link).
    EXPECT_FALSE(driver->followLink("Why do you want this job"));
    auto* second = topScreen<CardViewController>();
    ASSERT_TRUE(second);
    ASSERT_NE(second, first);
    EXPECT_TRUE(first->enlace());
    EXPECT_EQ(first->webView()->loadCount(), loads);  // the link was not loaded in the first page
    EXPECT_EQ(ns::describe(second->dicCarta()->objectForKeyAs<ns::String>("index")), "2");
    EXPECT_EQ(shownPageName(second->webView()), "KORVEL_2.html");
    EXPECT_EQ(second->btnBack()->currentTitle(), "Back");
    EXPECT_EQ(imageName(second->imgheader()), "CabezaCarta-blue.png");

    ASSERT_TRUE(driver->tapButton("Back")) << driver->lastError();
    EXPECT_EQ(topScreen<CardViewController>(), first);

    // The same page's contact link still opens the mail, not a card.
    EXPECT_FALSE(driver->followLink("Write to us"));
    EXPECT_FALSE(first->enlace());
    EXPECT_EQ(topScreen<CardViewController>(), first);
    EXPECT_TRUE(shownComposer());
}

TEST_F(PhoneCardPage, ContactLinkOpensTheComposerAndIsNotAlsoLoaded) {
    CardViewController* card = openFirstCard();
    ASSERT_TRUE(card);
    size_t loads = card->webView()->loadCount();
    size_t opened = ui::Application::shared()->openedURLs().size();
    EXPECT_FALSE(driver->followLink("Write to us"));  // refused by the page
    auto* composer = shownComposer();
    ASSERT_TRUE(composer) << screen();
    mail::MailMessage m = composer->message();
    EXPECT_EQ(m.subject, "Comments/Contact Tarnwick Veltra Media App");
    EXPECT_EQ(m.to, std::vector<std::string>{"cards@korvel.example"});
    EXPECT_TRUE(m.isHTML);
    EXPECT_EQ(m.body, "");
    EXPECT_EQ(composer->navigationBar()->barStyle(), ui::BarStyle::Black);
    // Handled by the composer alone: not loaded, not handed to the system.
    EXPECT_EQ(card->webView()->loadCount(), loads);
    EXPECT_EQ(ui::Application::shared()->openedURLs().size(), opened);

    sendToARefusedAddress(*driver);
    EXPECT_EQ(shownComposer(), composer) << "the composer stays with its alert";
    ASSERT_TRUE(driver->tapBarButton("Cancel")) << driver->lastError();
    EXPECT_FALSE(shownComposer());
    EXPECT_EQ(topScreen<CardViewController>(), card);
}

TEST_F(PhoneCardPage, ContactLinkWithoutMailAccountShowsTheAlert) {
    mail::MailComposeViewController::setCanSendMail(false);
    CardViewController* card = openFirstCard();
    ASSERT_TRUE(card);
    driver->followLink("Write to us");
    ASSERT_TRUE(ui::Panel::topPanel());
    dismissCannotSendMailAlert(*driver);
    EXPECT_EQ(topScreen<CardViewController>(), card);
    EXPECT_FALSE(shownComposer());
}

TEST_F(PhoneCardPage, OutsideLinkGoesToTheSystemAndStaysOutOfThePage) {
    CardViewController* card = openFirstCard();
    ASSERT_TRUE(card);
    size_t loads = card->webView()->loadCount();
    std::string before = card->webView()->html();
    driver->followLink("http://www.korvel.example/advice/");
    const auto& opened = ui::Application::shared()->openedURLs();
    ASSERT_FALSE(opened.empty());
    EXPECT_EQ(opened.back(), "http://www.korvel.example/advice/");
    EXPECT_EQ(std::count(opened.begin(), opened.end(), "http://www.korvel.example/advice/"), 1);
    EXPECT_EQ(card->webView()->loadCount(), loads);
    EXPECT_EQ(card->webView()->html(), before);
    EXPECT_FALSE(card->enlace());
    EXPECT_EQ(topScreen<CardViewController>(), card);

    // "Rate this app" goes to the store's review page.
    driver->followLink("Rate this app");
    EXPECT_EQ(opened.back(), RatePromptManager::ratePageURL());
    EXPECT_EQ(card->webView()->html(), before);

    // What the page itself goes on to load, and what the screen takes.
    struct Row {
        const char* name;
        std::string link;
        ui::WebViewNavigationType type;
        bool pageLoadsIt;
    } rows[] = {
        {"the feedback mail", kFeedbackMailLink, ui::WebViewNavigationType::LinkClicked, true},
        {"the suggestion mail", kSuggestionMailLink, ui::WebViewNavigationType::LinkClicked, true},
        {"an outside page", "http://www.korvel.example/x", ui::WebViewNavigationType::LinkClicked, false},
        {"a page load that is no tap", "http://www.korvel.example/x", ui::WebViewNavigationType::Other, true},
    };
    for (const Row& r : rows) {
        auto request = ui::URLRequest::requestWithString(r.link);
        ASSERT_TRUE(request) << r.name;
        EXPECT_EQ(card->webViewShouldStartLoadWithRequest(card->webView(), request.get(), r.type), r.pageLoadsIt)
            << r.name;
    }
    EXPECT_EQ(topScreen<CardViewController>(), card);

    // A card page on no navigation stack follows no card link: nothing to
    // push it on, and the page does not load the link itself.
    auto loose = ns::make<CardViewController>();
    loose->view();
    auto cardLink = ui::URLRequest::requestWithString("file:///cards/2");
    ASSERT_TRUE(cardLink);
    EXPECT_FALSE(loose->webViewShouldStartLoadWithRequest(loose->webView(), cardLink.get(),
                                                          ui::WebViewNavigationType::LinkClicked));
}

TEST_F(PhoneCardPage, LandscapeShowsTheFullPageAndPortraitDismissesIt) {
    CardViewController* card = openFirstCard();
    ASSERT_TRUE(card);
    driver->rotate(ui::DeviceOrientation::LandscapeLeft);
    auto* w = ui::Application::shared()->keyWindow();
    auto* full = dynamic_cast<CardFullViewController*>(w->topViewController());
    ASSERT_TRUE(full) << screen();
    EXPECT_EQ(full->interfaceOrientation(), ui::InterfaceOrientation::LandscapeRight);
    EXPECT_EQ(shownPageName(full->webView()), "KORVEL_1.html");
    EXPECT_NE(full->webView()->html().find("font-size: 13px"), std::string::npos);
    EXPECT_EQ(imageName(full->imgheader()), "CabezaCarta-blue.png");
    EXPECT_EQ(delegate->window()->child(), full);
    // Turning further in landscape keeps it.
    driver->rotate(ui::DeviceOrientation::LandscapeRight);
    EXPECT_EQ(w->topViewController(), full);

    driver->rotate(ui::DeviceOrientation::Portrait);
    EXPECT_FALSE(dynamic_cast<CardFullViewController*>(w->topViewController())) << screen();
    EXPECT_EQ(topScreen<CardViewController>(), card);
    EXPECT_EQ(card->interfaceOrientation(), ui::InterfaceOrientation::Portrait);
    // The page takes the window's touches again.
    EXPECT_EQ(delegate->window()->child(), card->webView());
}

TEST_F(PhoneCardPage, ShareScreenMailsTheCard) {
    CardViewController* card = openFirstCard();
    ASSERT_TRUE(card);
    ASSERT_TRUE(driver->tapButton("Share")) << driver->lastError();
    auto* share = topScreen<ShareCardViewController_Iphone>();
    ASSERT_TRUE(share) << screen();
    EXPECT_EQ(share->btnBack()->currentTitle(), "Tell me about yourself");
    ASSERT_TRUE(driver->tapButton("E-mail")) << driver->lastError();
    auto* composer = shownComposer();
    ASSERT_TRUE(composer) << screen();
    mail::MailMessage m = composer->message();
    EXPECT_EQ(m.subject, "A great card from the Tarnwick Veltra Media Job Search App");
    EXPECT_TRUE(m.to.empty());
    EXPECT_TRUE(m.isHTML);
    EXPECT_EQ(m.body,
              "Here is a card from the Tarnwick Veltra Media Job Search App that I found useful.  "
              "I thought you might like it as well <a href=\"http://korvel.example/cards/1\">"
              "korvel.example/cards/1</a> .");
    // No recipient yet: Send is disabled and the mail stays up to be addressed.
    EXPECT_NE(screen().find("[Send] (disabled)"), std::string::npos) << screen();
    EXPECT_FALSE(driver->tapBarButton("Send"));
    EXPECT_EQ(shownComposer(), composer);
    sendToARefusedAddress(*driver);
    EXPECT_EQ(shownComposer(), composer) << "the composer stays with its alert";
    EXPECT_EQ(topScreen<ShareCardViewController_Iphone>(), share);
    ASSERT_TRUE(driver->tapBarButton("Cancel"));
    EXPECT_FALSE(shownComposer());
    EXPECT_EQ(topScreen<ShareCardViewController_Iphone>(), share);
    // Facebook and Twitter do nothing on the phone.
    ASSERT_TRUE(driver->tapButton("Twitter"));
    ASSERT_TRUE(driver->tapButton("Facebook"));
    EXPECT_EQ(topScreen<ShareCardViewController_Iphone>(), share);
    EXPECT_FALSE(shownComposer());
    ns::Ref<ShareCardViewController_Iphone> left(share);
    ASSERT_TRUE(driver->tapButton("Tell me about yourself"));
    EXPECT_EQ(topScreen<CardViewController>(), card);
    // Left, its E-mail (a touch that ends after the user went back) brings
    // up neither a composer nor the alert over the card.
    for (bool canSend : {true, false}) {
        mail::MailComposeViewController::setCanSendMail(canSend);
        left->clicEmail(nullptr);
        EXPECT_FALSE(shownComposer()) << screen();
        EXPECT_FALSE(ui::Panel::topPanel()) << screen();
        EXPECT_EQ(topScreen<CardViewController>(), card);
    }
    // Any screen that has been left opens no composer.
    mail::MailComposeViewController::setCanSendMail(true);
    EXPECT_FALSE(presentMailComposer(left.get(), left.get(), "s", "b", {}));
    EXPECT_FALSE(shownComposer()) << screen();
}

TEST_F(PhoneCardPage, ShareWithoutMailAccountShowsTheAlertAndStays) {
    mail::MailComposeViewController::setCanSendMail(false);
    ASSERT_TRUE(openFirstCard());
    ASSERT_TRUE(driver->tapButton("Share"));
    auto* share = topScreen<ShareCardViewController_Iphone>();
    ASSERT_TRUE(driver->tapButton("E-mail"));
    auto* alert = dynamic_cast<ui::AlertView*>(ui::Panel::topPanel());
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->title(), "Sending mail");
    EXPECT_EQ(alert->message(), "This device is not setup to send mail.");
    EXPECT_EQ(alert->delegate(), static_cast<ui::AlertViewDelegate*>(share));
    ASSERT_TRUE(driver->pressAlertButton("OK"));
    EXPECT_EQ(topScreen<ShareCardViewController_Iphone>(), share);
}

TEST(PhoneShareText, TitleAndBodyRules) {
    // The card's address is written as HTML text in the link and its text,
    // on the phone and the tablet alike: a quote cannot end the link, a "<"
    // cannot start a tag, and "&" is not read as a reference.
    struct Row {
        const char* name;
        std::string post, written;
    } rows[] = {
        {"a plain address", "a.example/x", "a.example/x"},
        {"a query of two parts", "a.example/x?id=7&from=group", "a.example/x?id=7&amp;from=group"},
        {"quotes and a tag", "a.example/\"><b>'x'</b>", "a.example/&quot;&gt;&lt;b&gt;&#39;x&#39;&lt;/b&gt;"},
        {"a reference already written", "a.example/&amp;", "a.example/&amp;amp;"},
        {"text outside ASCII", "a.example/caf\u00e9", "a.example/caf\u00e9"},
    };
    for (const Row& r : rows) {
        std::string want = "Here is a card from the Tarnwick Veltra Media Job Search App that I found useful.  I thought "
                           "you might like it as well <a href=\"http://" + r.written + "\">" + r.written + "</a> .";
        EXPECT_EQ(ShareCardViewController_Iphone::mailBody(r.post), want) << r.name;
        EXPECT_EQ(shareViewController_iPad::mailBody(r.post), want) << r.name << " (tablet)";
    }
    // "Title" wins over "title" on the back button.
    auto share = ns::make<ShareCardViewController_Iphone>();
    share->setDicCarta(ns::Dictionary::make({{"Title", ns::str("Upper")}, {"title", ns::str("lower")}}));
    EXPECT_EQ(share->btnBack()->currentTitle(), "Upper");
    auto bare = ns::make<ShareCardViewController_Iphone>();
    bare->setDicCarta(ns::Dictionary::make({{"post", ns::str("p")}}));
    EXPECT_EQ(bare->btnBack()->currentTitle(), "Back");
}

}  // namespace app::test
