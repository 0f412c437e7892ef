// The marketing screens: the phone's tell-a-friend screen pushed from
// "viewEmail:" rows with its embedded composer, the evangelist screen, and
// the tablet's follow-us list (rows, mails, sign-up overlay, pages opened).
#include "app/tests/AppTestSupport.h"

#include "app/forms/UIViewSingUp.h"
#include "app/marketing/EmbeddedMailViewController.h"
#include "app/phone/MenuViewController.h"
#include "app/phone/MoreViewController_iPhone.h"
#include "app/tablet/FollouUSViewController.h"
#include "app/tablet/MenuViewController_iPad.h"
#include "platform/mail/MailComposeViewController.h"
#include "platform/ui/NavigationController.h"

namespace app::test {

namespace {

std::vector<std::string> outbox(const std::string& home) {
    std::vector<std::string> out;
    std::error_code ec;
    for (auto& e : fs::directory_iterator(home + "/Outbox", ec))
        if (e.path().extension() == ".eml") out.push_back(e.path().string());
    return out;
}

const char* kShareBody =
    "Hello!  Check out the new Tarnwick Veltra Media Job Search App.  You can download directly from the "
    "Appstore or visit <a href=\"www.tarnwick.example\">www.tarnwick.example</a> for more information on "
    "Tarnwick and the App.";

}  // namespace

class PhoneMarketing : public PhoneAppTest {
protected:
    ShareViewController* openTellAFriend() {
        EXPECT_TRUE(driver->tapTab("More")) << driver->lastError();
        EXPECT_TRUE(driver->tapRow("tell a friend")) << driver->lastError() << screen();
        return topScreen<ShareViewController>();
    }
};

TEST_F(PhoneMarketing, TellAFriendEmbedsTheRecommendationAndSendsIt) {
    auto* share = openTellAFriend();
    ASSERT_TRUE(share) << screen();
    ns::Ref<ShareViewController> keep(share);
    auto* composer = share->mailViewController();
    ASSERT_TRUE(composer);
    // Embedded in the screen's view, not presented.
    EXPECT_EQ(composer->view()->superview(), share->view());
    EXPECT_FALSE(composer->presentingViewController());
    EXPECT_EQ(composer->navigationBar()->barStyle(), ui::BarStyle::Black);
    mail::MailMessage m = composer->message();
    EXPECT_TRUE(m.to.empty());
    EXPECT_TRUE(m.cc.empty());
    EXPECT_EQ(m.subject, "New Tarnwick Veltra Media App!");
    EXPECT_TRUE(m.isHTML);
    EXPECT_EQ(m.body, kShareBody);
    EXPECT_TRUE(screenHas("New Tarnwick Veltra Media App!")) << screen();

    // Appearing again (after a screen on top went away) builds no second one.
    share->viewWillAppear(false);
    EXPECT_EQ(share->mailViewController(), composer);
    EXPECT_EQ(share->view()->subviews().size(), 1u);

    // A refused address: the composer's alert, and the screen and its
    // composer stay for the correction.
    sendToARefusedAddress(*driver);
    EXPECT_EQ(topScreen<ShareViewController>(), share);
    EXPECT_EQ(composer->view()->superview(), share->view());
    EXPECT_TRUE(outbox(home).empty());
    ASSERT_TRUE(driver->clearText("To")) << driver->lastError();
    ASSERT_TRUE(driver->typeText("To", "friend@example.org")) << driver->lastError();
    ASSERT_TRUE(driver->tapBarButton("Send")) << driver->lastError() << screen();
    auto files = outbox(home);
    ASSERT_EQ(files.size(), 1u);
    std::string eml = readFile(files[0]);
    EXPECT_NE(eml.find("\r\nSubject: New Tarnwick Veltra Media App!\r\n"), std::string::npos) << eml;
    EXPECT_NE(eml.find("\r\nTo: friend@example.org\r\n"), std::string::npos) << eml;
    // The composer's view went and the screen left.
    EXPECT_FALSE(composer->view()->superview());
    EXPECT_FALSE(topScreen<ShareViewController>());
    EXPECT_TRUE(topScreen<ui::ViewController>());
}

TEST_F(PhoneMarketing, CancelLeavesWithoutWritingAndNoMailShowsTheAlertThenLeaves) {
    ASSERT_TRUE(openTellAFriend());
    ASSERT_TRUE(driver->tapBarButton("Cancel")) << driver->lastError();
    EXPECT_FALSE(topScreen<ShareViewController>());
    EXPECT_TRUE(outbox(home).empty());

    mail::MailComposeViewController::setCanSendMail(false);
    ASSERT_TRUE(driver->tapRow("tell a friend")) << driver->lastError();
    auto* share = topScreen<ShareViewController>();
    ASSERT_TRUE(share);
    EXPECT_FALSE(share->mailViewController());
    dismissCannotSendMailAlert(*driver);
    EXPECT_FALSE(topScreen<ShareViewController>());
}

TEST_F(PhoneMarketing, MailRowsOfTheMoreTabAndTheDeckIndexCloseOnCancelAndOnSend) {
    auto shown = [&] { return dynamic_cast<mail::MailComposeViewController*>(delegate->window()->topViewController()); };
    auto* tabs = dynamic_cast<ui::TabBarController*>(delegate->window()->rootViewController());
    ASSERT_TRUE(tabs);
    ASSERT_TRUE(driver->tapTab("More")) << driver->lastError();
    auto* more = topScreen<MoreViewController_iPhone>();
    ASSERT_TRUE(more);
    ASSERT_TRUE(driver->tapRow("contact us")) << driver->lastError();
    ASSERT_TRUE(shown()) << screen();
    EXPECT_EQ(shown()->message().to, std::vector<std::string>{"cards@korvel.example"});
    EXPECT_FALSE(driver->tapTab("Deck index"));  // the tab bar under the composer takes no taps
    EXPECT_EQ(tabs->selectedIndex(), 4u);
    ASSERT_TRUE(driver->tapBarButton("Cancel")) << driver->lastError();
    EXPECT_FALSE(shown()) << screen();
    EXPECT_EQ(topScreen<MoreViewController_iPhone>(), more);
    EXPECT_TRUE(more->isOnScreen());
    EXPECT_TRUE(outbox(home).empty());

    ASSERT_TRUE(driver->tapRow("contact us")) << driver->lastError();
    auto* contact = shown();
    sendToARefusedAddress(*driver);
    EXPECT_EQ(shown(), contact) << "the composer stays with its alert";
    EXPECT_EQ(topScreen<MoreViewController_iPhone>(), more);
    ASSERT_TRUE(driver->clearText("To")) << driver->lastError();
    ASSERT_TRUE(driver->typeText("To", "cards@korvel.example")) << driver->lastError();
    ASSERT_TRUE(driver->tapBarButton("Send")) << driver->lastError();
    EXPECT_FALSE(shown()) << screen();
    EXPECT_EQ(topScreen<MoreViewController_iPhone>(), more);
    EXPECT_FALSE(driver->tapBarButton("Send"));
    EXPECT_EQ(outbox(home).size(), 1u);

    // A mail row of the deck index does the same.
    ASSERT_TRUE(driver->tapTab("Deck index")) << driver->lastError();
    auto* menu = topScreen<MenuViewController>();
    ASSERT_TRUE(menu);
    auto rows = ns::MutableArray::make();
    rows->addObject(ns::Dictionary::make(
        {{"Title", ns::str("Write to us")},
         {"email", ns::Dictionary::make({{"para", ns::str("cards@korvel.example")},
                                         {"subject", ns::str("Hello")},
                                         {"mensaje", ns::str("<p>Hi</p>")}})}}));
    menu->setArrayTable(rows);
    menu->setFilas(1);
    menu->tableView()->reloadData();
    driver->settle();
    ASSERT_TRUE(driver->tapRow("write to us")) << driver->lastError();
    ASSERT_TRUE(shown()) << screen();
    ASSERT_TRUE(driver->tapBarButton("Send")) << driver->lastError();
    EXPECT_FALSE(shown()) << screen();
    EXPECT_EQ(topScreen<MenuViewController>(), menu);
    EXPECT_EQ(outbox(home).size(), 2u);
    ASSERT_TRUE(driver->tapRow("write to us")) << driver->lastError();
    ASSERT_TRUE(driver->tapBarButton("Cancel")) << driver->lastError();
    EXPECT_FALSE(shown()) << screen();
    ASSERT_TRUE(driver->tapTab("More")) << driver->lastError();
    EXPECT_EQ(outbox(home).size(), 2u);
}

TEST_F(PhoneMarketing, DeckMenuViewEmailRowPushesTheTellAFriendScreen) {
    auto* menu = topScreen<MenuViewController>();
    ASSERT_TRUE(menu);
    auto rows = ns::MutableArray::make();
    rows->addObject(ns::Dictionary::make({{"Title", ns::str("Share the app")}, {"Action", ns::str("viewEmail:")}}));
    menu->setArrayTable(rows);
    menu->setFilas(1);
    menu->tableView()->reloadData();
    driver->settle();
    ASSERT_TRUE(driver->tapRow("share the app")) << driver->lastError() << screen();
    auto* share = topScreen<ShareViewController>();
    ASSERT_TRUE(share);
    ASSERT_TRUE(share->mailViewController());
    EXPECT_EQ(share->mailViewController()->message().subject, "New Tarnwick Veltra Media App!");
    // Upright portrait only.
    EXPECT_EQ(share->supportedInterfaceOrientations(), ui::InterfaceOrientationMaskPortrait);
    EXPECT_FALSE(share->shouldAutorotateToInterfaceOrientation(ui::InterfaceOrientation::PortraitUpsideDown));
}

TEST_F(PhoneMarketing, TellAFriendTextsGoThroughTheLocalisationTable) {
    // A bundle with a translation of the subject only.
    std::string bundle = home + "/bundle";
    fs::copy(sampleBundle(), bundle, fs::copy_options::recursive);
    auto table = ns::Dictionary::make({{"New Tarnwick Veltra Media App!", ns::str("¡Nueva app de Tarnwick!")}});
    ASSERT_TRUE(ns::writeToFile(*table, bundle + "/Localizable.plist"));
    ns::Paths::setBundleResourcePath(bundle);
    auto share = ns::make<ShareViewController>();
    auto m = share->mailContents();
    EXPECT_EQ(m.subject, "¡Nueva app de Tarnwick!");
    EXPECT_EQ(m.body, kShareBody);  // no entry: used unchanged
}

TEST_F(PhoneMarketing, EvangelistScreenMailsTheMaker) {
    auto nav = selectedNav();
    ASSERT_TRUE(nav);
    auto ace = ns::make<AceEmailViewController>();
    nav->pushViewController(ace, true);
    driver->settle();
    ASSERT_TRUE(ace->mailViewController());
    mail::MailMessage m = ace->mailViewController()->message();
    EXPECT_EQ(m.to, std::vector<std::string>{"cards@korvel.example"});
    EXPECT_EQ(m.subject, "I want to be a Tarnwick Ace! (evangelist)");
    EXPECT_FALSE(m.isHTML);
    EXPECT_EQ(m.body,
              "Hello Tarnwick!  I think I would make a great rep because... (3 lines max)\n\nMy name is:\n"
              "University/Company:\nE-mail:");
    ASSERT_TRUE(driver->tapBarButton("Send")) << driver->lastError();
    EXPECT_EQ(outbox(home).size(), 1u);
    EXPECT_NE(nav->topViewController(), ace.get());

    mail::MailComposeViewController::setCanSendMail(false);
    auto ace2 = ns::make<AceEmailViewController>();
    nav->pushViewController(ace2, true);
    driver->settle();
    auto* alert = dynamic_cast<ui::AlertView*>(ui::Panel::topPanel());
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->title(), "Become a Tarnwick Ace!");
    ASSERT_TRUE(driver->pressAlertButton("OK"));
    EXPECT_NE(nav->topViewController(), ace2.get());
}

// -- Tablet follow-us ---------------------------------------------------------------------------

class FollowUs : public AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        mail::MailComposeViewController::setCanSendMail(true);
        setRegistro();
        launchTablet();
        driver->advance(3.0);
        ASSERT_TRUE(driver->tapButton("About you")) << driver->lastError();
        ASSERT_TRUE(driver->tapButton("Share")) << driver->lastError();
        follow = followUs();
        ASSERT_TRUE(follow) << screen();
    }
    void TearDown() override {
        mail::MailComposeViewController::setCanSendMail(true);
        follow = nullptr;
        AppTest::TearDown();
    }
    FollouUSViewController* followUs() const {
        ui::ViewController* p = delegate->window()->rootViewController()->presentedViewController();
        auto* nav = dynamic_cast<ui::NavigationController*>(p);
        return nav ? dynamic_cast<FollouUSViewController*>(nav->topViewController()) : nullptr;
    }
    mail::MailComposeViewController* composer() const {
        return dynamic_cast<mail::MailComposeViewController*>(delegate->window()->topViewController());
    }
    ns::Ref<FollouUSViewController> follow;
};

TEST_F(FollowUs, RowsComeFromTheBundleListWithHeadingsWithoutIndicators) {
    EXPECT_TRUE(follow->navigationController()->isNavigationBarHidden());
    ASSERT_TRUE(follow->myArray());
    auto* t = follow->tableView();
    ASSERT_EQ(follow->tableViewNumberOfRowsInSection(t, 0), 9);
    EXPECT_EQ(follow->tableViewHeightForRowAtIndexPath(t, {0, 0}), 40);
    EXPECT_EQ(follow->tableViewHeightForRowAtIndexPath(t, {0, 6}), 55);  // no "tamano"
    for (long r = 0; r < 9; ++r) {
        auto cell = follow->tableViewCellForRowAtIndexPath(t, {0, r});
        bool heading = r == 0 || r == 3;
        EXPECT_EQ(cell->accessoryType(), heading ? ui::TableViewCellAccessoryType::None
                                                 : ui::TableViewCellAccessoryType::DisclosureIndicator)
            << "row " << r;
        EXPECT_EQ(cell->reuseIdentifier(), "CellIdentifier");
        EXPECT_EQ(cell->selectionStyle(), ui::TableViewCellSelectionStyle::None);
        EXPECT_EQ(cell->textLabel()->font()->pointSize(), 16);
    }
    auto cell = follow->tableViewCellForRowAtIndexPath(t, {0, 2});
    EXPECT_EQ(cell->textLabel()->text(), "Send us feedback");
    auto* bg = dynamic_cast<ui::ImageView*>(cell->backgroundView().get());
    ASSERT_TRUE(bg && bg->image());
    EXPECT_EQ(imageName(bg), "FranjaCarta-blue.png");
    EXPECT_TRUE(screenHas("Send us feedback")) << screen();
    EXPECT_EQ(follow->supportedInterfaceOrientations(), ui::InterfaceOrientationMaskAll);
}

TEST_F(FollowUs, FeedbackRowPresentsTheCommentsMailAndSendingWritesIt) {
    ASSERT_TRUE(driver->tapRow("Send us feedback")) << driver->lastError();
    EXPECT_EQ(follow->tipo(), 0);
    auto* c = composer();
    ASSERT_TRUE(c) << screen();
    EXPECT_EQ(c->presentingViewController(), follow->navigationController());
    mail::MailMessage m = c->message();
    EXPECT_TRUE(m.to.empty());
    EXPECT_EQ(m.subject, "Customer Comments");
    EXPECT_FALSE(m.isHTML);
    EXPECT_EQ(m.body,
              "Hello Tarnwick Team:\n\n I have the Tarnwick Quillon & Investment Banking App.  See my comments "
              "bellow:\n\n Name:\n University/Company:\n E-mail:\n Keep me updated with Tarnwick info: (yes/no)\n "
              "Comments:");
    // Without a recipient Send refuses, and the mail stays to be finished.
    EXPECT_FALSE(driver->tapBarButton("Send"));
    EXPECT_EQ(composer(), c);
    EXPECT_TRUE(outbox(home).empty());
    sendToARefusedAddress(*driver);
    EXPECT_EQ(composer(), c) << "the composer stays with its alert";
    EXPECT_EQ(followUs(), follow.get());
    ASSERT_TRUE(driver->clearText("To")) << driver->lastError();
    ASSERT_TRUE(driver->typeText("To", "team@tarnwick.example")) << driver->lastError();
    ASSERT_TRUE(driver->tapBarButton("Send")) << driver->lastError();
    EXPECT_FALSE(composer());
    EXPECT_EQ(followUs(), follow.get());  // the list stays
    auto files = outbox(home);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_NE(readFile(files[0]).find("\r\nSubject: Customer Comments\r\n"), std::string::npos);
}

TEST_F(FollowUs, RecommendationRowPresentsTheHTMLMail) {
    ASSERT_TRUE(driver->tapRow("Recommend the app")) << driver->lastError();
    EXPECT_EQ(follow->tipo(), 1);
    auto* c = composer();
    ASSERT_TRUE(c);
    mail::MailMessage m = c->message();
    EXPECT_TRUE(m.to.empty());
    EXPECT_EQ(m.subject, "New Tarnwick Korvel Negotiation App");
    EXPECT_TRUE(m.isHTML);
    EXPECT_EQ(m.body,
              "Hello!  Check out the new Tarnwick Korvel Negotiation App. Click below to go to the App Store.  "
              "You can also visit  <a href=\"http://www.tarnwick.example/\">www.tarnwick.example</a> for more "
              "information on Tarnwick and the new App! "
              "<a href=\"https://itunes.tarnwick-store.example/app/id684213097\">"
              "https://itunes.tarnwick-store.example/app/id684213097</a>");
    ASSERT_TRUE(driver->tapBarButton("Cancel"));
    EXPECT_FALSE(composer());
    EXPECT_TRUE(outbox(home).empty());
}

TEST_F(FollowUs, OtherMailKindsGiveAnEmptyComposer) {
    auto rows = ns::MutableArray::make();
    rows->addObject(ns::Dictionary::make({{"Title", ns::str("Odd")}, {"tipo", ns::num(7)}}));
    follow->setMyArray(rows);
    follow->tableView()->reloadData();
    driver->settle();
    ASSERT_TRUE(driver->tapRow("Odd")) << driver->lastError();
    EXPECT_EQ(follow->tipo(), 7);
    ASSERT_TRUE(composer());
    EXPECT_EQ(composer()->message().subject, "");
    EXPECT_EQ(composer()->message().body, "");
}

TEST_F(FollowUs, WithoutMailTheAlertGoesAndTheListStays) {
    mail::MailComposeViewController::setCanSendMail(false);
    ASSERT_TRUE(driver->tapRow("Send us feedback"));
    auto* alert = dynamic_cast<ui::AlertView*>(ui::Panel::topPanel());
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->title(), "Sending mail");
    EXPECT_EQ(alert->message(), "This device is not setup to send mail.");
    ASSERT_TRUE(driver->pressAlertButton("OK"));
    EXPECT_EQ(followUs(), follow.get());
    EXPECT_FALSE(composer());
}

TEST_F(FollowUs, SignUpRowLaysTheOverlayAboveTheListWithoutRecentring) {
    ui::Device::current()->setOrientation(ui::DeviceOrientation::LandscapeLeft);
    driver->settle();
    ASSERT_TRUE(driver->tapRow("Sign up for news")) << driver->lastError();
    EXPECT_EQ(follow->tipo(), 2);
    UIViewSingUp* overlay = nullptr;
    for (auto& v : follow->view()->subviews())
        if (auto* o = dynamic_cast<UIViewSingUp*>(v.get())) overlay = o;
    ASSERT_TRUE(overlay);
    ui::Rect f = follow->view()->frame();
    EXPECT_EQ(overlay->frame(), ui::makeRect(0, -40, f.size.width, f.size.height));
    EXPECT_EQ(overlay->flagPosicion(), 1);
    EXPECT_EQ(overlay->autoresizingMask(), 63u);
    ASSERT_TRUE(overlay->viewContenido());
    // No landscape re-centring: the form keeps the overlay's centre.
    EXPECT_EQ(overlay->viewContenido()->center().y, f.size.height / 2);
    ui::Device::current()->setOrientation(ui::DeviceOrientation::Portrait);
}

TEST_F(FollowUs, PageRowsOpenTheirAddressAndHeadingsDoNothing) {
    auto& opened = ui::Application::shared()->openedURLs();
    size_t before = opened.size();
    ASSERT_TRUE(driver->tapRow("Write to us"));
    ASSERT_TRUE(driver->tapRow("We read every message"));
    ASSERT_TRUE(driver->tapRow("Follow us"));
    EXPECT_EQ(opened.size(), before);
    EXPECT_FALSE(composer());
    ASSERT_TRUE(driver->tapRow("Visit our site"));
    ASSERT_TRUE(driver->tapRow("Twitter"));
    ASSERT_EQ(opened.size(), before + 2);
    EXPECT_EQ(opened[before], "http://www.tarnwick.example/");
    EXPECT_EQ(opened[before + 1], "https://twitter.example/Tarnwick");

    // Rows 0 and 1 do nothing even with an address.
    auto rows = ns::MutableArray::make();
    for (int i = 0; i < 3; ++i)
        rows->addObject(ns::Dictionary::make({{"Title", ns::str("Row " + std::to_string(i))},
                                              {"ActionData", ns::str("http://example.org/" + std::to_string(i))}}));
    follow->setMyArray(rows);
    follow->tableView()->reloadData();
    driver->settle();
    ASSERT_TRUE(driver->tapRow("Row 0"));
    ASSERT_TRUE(driver->tapRow("Row 1"));
    ASSERT_TRUE(driver->tapRow("Row 2"));
    ASSERT_EQ(opened.size(), before + 3);
    EXPECT_EQ(opened.back(), "http://example.org/2");

    ASSERT_TRUE(driver->tapButton("Close"));
    EXPECT_FALSE(followUs());
}

}  // namespace app::test
