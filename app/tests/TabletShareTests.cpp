// The tablet share screen end to end through the driver: a card opened in
// the hub, its share screen, then e-mail, Twitter (the system composer, or
// the OAuth flow against the sharing tests' loopback fake of the Twitter
// services) and Facebook.
#include "app/tests/TabletTestSupport.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "app/tablet/shareViewController_iPad.h"
#include "net/http/Reachability.h"
#include "platform/mail/MailComposeViewController.h"
#include "platform/network/ReachabilityProvider.h"
#include "platform/network/URLConnection.h"
#include "platform/ui/TweetComposeViewController.h"
#include "sharing/core/SHR.h"
#include "sharing/sharers/twitter/SHRTwitter.h"
#include "sharing/ui/SHRFormControllerLargeTextField.h"
#include "sharing/ui/SHROAuthView.h"
#include "testsupport/MainLoopWait.h"
#include "testsupport/PythonFake.h"

namespace app::test {
namespace {

// The sharing tests' fake of the Twitter API, image host and shortener.
class FakeTwitter : public testsupport::PythonFake {
public:
    FakeTwitter() : PythonFake("sharing/tests/data/fake_twitter.py") {}
};

class TabletShareTest : public TabletTest {
protected:
    void SetUp() override {
        TabletTest::SetUp();
        reachability = ns::make<net::FakeReachabilityProvider>();
        reachability->setDefaultFlags(net::kReachabilityReachable);
        net::ReachabilityProvider::setCurrent(reachability);
        sharing::SHR::reset();
        ui::TweetComposeViewController::reset();
    }
    void TearDown() override {
        sharing::SHR::reset();
        ui::TweetComposeViewController::reset();
        TabletTest::TearDown();
        net::ReachabilityProvider::setCurrent(nullptr);
    }
    // Opens the hub, shows "Greatest strength" and presses "Share card".
    shareViewController_iPad* openShareScreen() {
        openHub();
        EXPECT_TRUE(driver->tapRow("greatest strength")) << driver->lastError();
        EXPECT_TRUE(driver->tapButton("Share card")) << driver->lastError();
        ui::ViewController* p = root()->topPresentedViewController();
        auto* nav = dynamic_cast<ui::NavigationController*>(p);
        return nav ? dynamic_cast<shareViewController_iPad*>(nav->topViewController()) : nullptr;
    }
    // Runs the main loop and moves the screen's clock on until `cond` holds;
    // given up only after a limit far above what the awaited work takes.
    bool waitFor(const std::function<bool()>& cond) {
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::duration<double>(testsupport::kEventWaitSeconds);
        while (!cond()) {
            if (std::chrono::steady_clock::now() >= giveUp) return false;
            ns::RunLoop::main()->runUntil(cond, 0.025);
            driver->advance(0.05);
        }
        return true;
    }
    ui::ViewController* top() { return root()->topPresentedViewController(); }
    ns::Ref<net::FakeReachabilityProvider> reachability;
};

const char* kSentence = "Great card I found in the Tarnwick Veltra Media Job Search app, check it out! ";

TEST_F(TabletShareTest, TwitterButtonFillsTheSystemComposerAndTheShareScreenStays) {
    auto* share = openShareScreen();
    ASSERT_TRUE(share) << screen();
    EXPECT_TRUE(share->navigationController()->isNavigationBarHidden());
    std::string post = rowString(share->dicCarta(), "post");
    ASSERT_FALSE(post.empty());
    ASSERT_TRUE(driver->tapButton("Twitter")) << driver->lastError();
    auto* composer = dynamic_cast<ui::TweetComposeViewController*>(top());
    ASSERT_TRUE(composer) << screen();
    EXPECT_EQ(composer->initialText(), kSentence + post);
    ASSERT_EQ(composer->images().size(), 1u);
    EXPECT_EQ(composer->images()[0]->name(), "icono-iPhone@2x.png");
    EXPECT_TRUE(screenHas("[Send]")) << screen();
    ASSERT_TRUE(driver->tapButton("Send")) << driver->lastError();
    EXPECT_TRUE(waitFor([&] { return dynamic_cast<ui::NavigationController*>(top()) == share->navigationController(); }))
        << screen();
    // The share screen stays until it is closed.
    ASSERT_TRUE(driver->tapButton("Close"));
    EXPECT_TRUE(waitFor([&] { return root()->presentedViewController() == nullptr; }));
}

TEST_F(TabletShareTest, TwitterButtonRunsTheOAuthFlowAndPostsTheCard) {
    FakeTwitter fake;
    ASSERT_GT(fake.port(), 0);
    endpoints.point({sharing::SHRTwitter::kService, sharing::SHRTwitter::kImageHostService,
                     sharing::SHRTwitter::kShortenerService},
                    fake.url(""));
    ui::TweetComposeViewController::setAvailable(false);
    auto* share = openShareScreen();
    ASSERT_TRUE(share) << screen();
    std::string post = rowString(share->dicCarta(), "post");
    ASSERT_TRUE(driver->tapButton("Twitter")) << driver->lastError();
    // The request token comes back, the authorise page goes up.
    sharing::SHROAuthView* view = nullptr;
    ASSERT_TRUE(waitFor([&] {
        auto* nav = dynamic_cast<ui::NavigationController*>(top());
        view = nav ? dynamic_cast<sharing::SHROAuthView*>(nav->topViewController()) : nullptr;
        return view != nullptr;
    })) << screen();
    ASSERT_TRUE(view->webView()->request());
    ASSERT_TRUE(view->webView()->request()->URL());
    std::string authURL = view->webView()->request()->URL()->absoluteText();
    view->webView()->loadHTMLString(fake.get("/oauth/authorize?oauth_token=reqtok"), ns::URL::URLWithString(authURL));
    EXPECT_FALSE(driver->followLink("Allow"));  // the callback is caught, not loaded
    // Then the edit form with the sentence, over the share screen.
    sharing::SHRFormControllerLargeTextField* form = nullptr;
    ASSERT_TRUE(waitFor([&] {
        auto* nav = dynamic_cast<ui::NavigationController*>(top());
        form = nav ? dynamic_cast<sharing::SHRFormControllerLargeTextField*>(nav->topViewController()) : nullptr;
        return form != nullptr;
    })) << screen();
    EXPECT_EQ(form->text(), kSentence + post);
    ASSERT_TRUE(driver->tapBarButton("Send to Twitter")) << driver->lastError() << screen();
    ASSERT_TRUE(waitFor([&] { return fake.get("/log").find("status " + std::string(kSentence)) != std::string::npos; }))
        << fake.get("/log");
    std::string log = fake.get("/log");
    EXPECT_NE(log.find("upload provider=/1/account/verify_credentials.json message=" + std::string(kSentence) + post),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("status " + std::string(kSentence) + post + " http://pics.example/x9"), std::string::npos) << log;
    EXPECT_EQ(log.find("refused"), std::string::npos) << log;
    EXPECT_EQ(ns::describe(sharing::SHR::getAuthValueForKeyForSharer("accessKey", "SHRTwitter")), "acc-tok");
    EXPECT_TRUE(waitFor([&] { return dynamic_cast<ui::NavigationController*>(top()) == share->navigationController(); }))
        << screen();
}

TEST_F(TabletShareTest, EmailComposesTheCardOrExplainsThatMailIsNotSetUp) {
    mail::MailComposeViewController::setCanSendMail(true);
    auto* share = openShareScreen();
    ASSERT_TRUE(share);
    ns::Ref<shareViewController_iPad> left(share);  // held past its closing
    std::string post = rowString(share->dicCarta(), "post");
    ASSERT_TRUE(driver->tapButton("E-mail"));
    auto* composer = dynamic_cast<mail::MailComposeViewController*>(top());
    ASSERT_TRUE(composer) << screen();
    EXPECT_EQ(composer->message().subject, "A great card from the Tarnwick Veltra Media Job Search App");
    EXPECT_EQ(composer->message().body,
              "Here is a card from the Tarnwick Veltra Media Job Search App that I found useful.  I thought you might "
              "like it as well <a href=\"http://" + post + "\">" + post + "</a> .");
    EXPECT_TRUE(composer->message().isHTML);
    ASSERT_TRUE(driver->tapBarButton("Cancel")) << driver->lastError() << screen();
    waitFor([&] { return dynamic_cast<mail::MailComposeViewController*>(top()) == nullptr; });
    EXPECT_EQ(dynamic_cast<ui::NavigationController*>(top()), share->navigationController());

    // Sending needs a recipient; then one message, and the share screen stays.
    ASSERT_TRUE(driver->tapButton("E-mail"));
    ASSERT_TRUE(dynamic_cast<mail::MailComposeViewController*>(top())) << screen();
    EXPECT_FALSE(driver->tapBarButton("Send"));
    auto* addressed = dynamic_cast<mail::MailComposeViewController*>(top());
    EXPECT_TRUE(addressed) << screen();
    sendToARefusedAddress(*driver);
    EXPECT_EQ(dynamic_cast<mail::MailComposeViewController*>(top()), addressed) << "the composer stays with its alert";
    ASSERT_TRUE(driver->clearText("To")) << driver->lastError();
    ASSERT_TRUE(driver->typeText("To", "friend@example.org")) << driver->lastError();
    ASSERT_TRUE(driver->tapBarButton("Send")) << driver->lastError();
    EXPECT_EQ(dynamic_cast<ui::NavigationController*>(top()), share->navigationController()) << screen();
    size_t sent = 0;
    for (auto& e : fs::directory_iterator(mail::MailComposeViewController::outboxDirectory()))
        sent += e.path().extension() == ".eml";
    EXPECT_EQ(sent, 1u);

    // Without a mail account: the alert, and closing it closes the screen.
    mail::MailComposeViewController::setCanSendMail(false);
    ASSERT_TRUE(driver->tapButton("E-mail"));
    ASSERT_TRUE(topAlert());
    EXPECT_EQ(topAlert()->title(), "Sending mail");
    EXPECT_EQ(topAlert()->message(), "This device is not setup to send mail.");
    ASSERT_TRUE(driver->pressAlertButton("OK"));
    EXPECT_TRUE(waitFor([&] { return root()->presentedViewController() == nullptr; })) << screen();

    // The screen closed, its E-mail (a touch that ends after the user left
    // it) brings up neither a composer nor the alert over the hub.
    for (bool canSend : {true, false}) {
        mail::MailComposeViewController::setCanSendMail(canSend);
        left->clicEmail(nullptr);
        EXPECT_EQ(root()->presentedViewController(), nullptr) << screen();
        EXPECT_FALSE(topAlert()) << screen();
    }
}

TEST_F(TabletShareTest, FacebookButtonHandsTheSameItemToTheFacebookSharer) {
    auto* share = openShareScreen();
    ASSERT_TRUE(share);
    auto item = share->shareItem();
    EXPECT_EQ(item->shareType(), sharing::SHRShareTypeImage);
    EXPECT_EQ(ns::describe(item->title()), kSentence + rowString(share->dicCarta(), "post"));
    ASSERT_TRUE(item->image());
    EXPECT_EQ(item->image()->name(), "icono-iPhone@2x.png");
    ASSERT_TRUE(driver->tapButton("Facebook")) << driver->lastError();
    // shareItem: moved the sharer to the front of the image favourites.
    auto favourites = sharing::SHR::favoriteSharersForType(sharing::SHRShareTypeImage);
    ASSERT_TRUE(favourites && favourites->count() > 0);
    EXPECT_EQ(ns::describe(favourites->objectAtIndex(0)), "SHRFacebook");
}

TEST_F(TabletShareTest, CardPaneShareSheetSharesTheCardWithItsOwnTitle) {
    mail::MailComposeViewController::setCanSendMail(true);
    openHub();
    ASSERT_TRUE(driver->tapRow("greatest strength")) << driver->lastError();
    ViewDetalle* card = pane();
    ASSERT_TRUE(card);
    std::string post = rowString(card->DicDeCarta(), "post");
    ASSERT_FALSE(post.empty());
    auto item = card->shareSheetItem();
    ASSERT_TRUE(item);
    EXPECT_EQ(item->shareType(), sharing::SHRShareTypeImage);
    EXPECT_EQ(ns::describe(item->title()), "TarnWick Veltra media " + post);
    ASSERT_TRUE(item->image());
    EXPECT_EQ(item->image()->name(), "icono-iPhone@2x.png");

    // "Cancel" (0) does nothing; "Twitter" (1) fills the system composer.
    auto sheet = card->shareActionSheet();
    EXPECT_EQ(sheet->title(), "Share this card");
    EXPECT_EQ(sheet->buttonTitles(), (std::vector<std::string>{"Cancel", "Twitter", "Facebook"}));
    EXPECT_EQ(sheet->cancelButtonIndex(), 0);
    sheet->showInView(card);
    ASSERT_TRUE(sheet->pressButtonWithTitle("Cancel"));
    EXPECT_FALSE(root()->presentedViewController());
    sheet = card->shareActionSheet();
    sheet->showInView(card);
    ASSERT_TRUE(sheet->pressButtonWithTitle("Twitter"));
    auto* composer = dynamic_cast<ui::TweetComposeViewController*>(top());
    ASSERT_TRUE(composer) << screen();
    EXPECT_EQ(composer->initialText(), "TarnWick Veltra media " + post);
    ASSERT_EQ(composer->images().size(), 1u);
    EXPECT_EQ(composer->images()[0]->name(), "icono-iPhone@2x.png");
    ASSERT_TRUE(driver->tapButton("Send")) << driver->lastError();
    EXPECT_TRUE(waitFor([&] { return root()->presentedViewController() == nullptr; })) << screen();

    // "Facebook" (2) hands the same item to the Facebook sharer.
    sheet = card->shareActionSheet();
    sheet->showInView(card);
    ASSERT_TRUE(sheet->pressButtonWithTitle("Facebook"));
    auto favourites = sharing::SHR::favoriteSharersForType(sharing::SHRShareTypeImage);
    ASSERT_TRUE(favourites && favourites->count() > 0);
    EXPECT_EQ(ns::describe(favourites->objectAtIndex(0)), "SHRFacebook");
}

}  // namespace
}  // namespace app::test
