#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/foundation/PropertyList.h"
#include "platform/ui/NavigationController.h"
#include "sharing/tests/SharingTestSupport.h"
#include "sharing/ui/SHRActionSheet.h"
#include "sharing/ui/SHRActivityIndicator.h"
#include "sharing/ui/SHRFormController.h"
#include "sharing/ui/SHRFormOptionController.h"
#include "sharing/ui/SHROAuthView.h"
#include "sharing/ui/SHRShareMenu.h"

namespace sharing::test {
namespace {

// -- Test sharers: each records shares and logouts by class name --------------------

std::vector<std::string>& events() {
    static std::vector<std::string> e;
    return e;
}

class ScreenSharer : public SHRSharer {
public:
    ScreenSharer(std::string name, std::string title, bool can = true, bool text = true)
        : name_(std::move(name)), title_(std::move(title)), can_(can), text_(text) {}
    const char* className() const override { return name_.c_str(); }
    std::string sharerTitle() const override { return title_; }
    bool canShare() const override { return can_; }
    bool canShareText() const override { return text_; }
    bool canShareURL() const override { return true; }
    void share() override {
        events().push_back("share:" + name_ + ":" + (item() && item()->text() ? std::string(item()->text()->utf8()) : "-"));
    }
    bool logout(SHRLogoutFailure*) override {
        events().push_back("logout:" + name_);
        return true;
    }

private:
    std::string name_, title_;
    bool can_, text_;
};

void registerScreenSharers() {
    auto reg = [](std::string name, std::string title, bool can = true, bool text = true) {
        SHRSharer::registerSharerClass(name, [=] { return ns::make<ScreenSharer>(name, title, can, text); });
    };
    reg("ScreenAlpha", "Alpha");
    reg("ScreenBeta", "beta");
    reg("ScreenGamma", "Gamma");
    reg("ScreenOff", "Off", false);
    reg("ScreenLinks", "Links only", true, false);
    reg("ScreenCopy", "Copy it");
}

struct Decider : ns::Object, SHRShareDelegate {
    bool allow = true;
    std::vector<std::string> asked;
    bool answers(Optional) const override { return true; }
    bool aboutToShareItemWithSharer(SHRItem*, SHRSharer* s) override {
        asked.push_back(s->className());
        return allow;
    }
};

class ScreensTest : public SharingTest {
protected:
    void SetUp() override {
        SharingTest::SetUp();
        registerScreenSharers();
        events().clear();
        auto* indicator = SHRActivityIndicator::currentIndicator();
        indicator->removeFromSuperview();
        indicator->setAlpha(0);
        indicator->setTransform(ui::Transform::identity());
    }
    ns::Ref<SHRItem> textItem(const char* text) { return SHRItem::text(ns::str(text)); }
};

// -- Activity indicator -----------------------------------------------------------------

TEST_F(ScreensTest, IndicatorShowsCompletesAndFadesOnTheClock) {
    auto* hud = SHRActivityIndicator::currentIndicator();
    EXPECT_EQ(hud, SHRActivityIndicator::currentIndicator());
    EXPECT_EQ(hud->frame(), (ui::Rect{{80, 160}, {160, 160}}));
    EXPECT_FALSE(hud->isUserInteractionEnabled());

    hud->displayActivity("Saving to Alpha");
    EXPECT_EQ(hud->superview(), window.get());
    EXPECT_EQ(hud->alpha(), 1);
    ASSERT_TRUE(hud->spinner());
    EXPECT_EQ(hud->subMessageLabel()->text(), "Saving to Alpha");
    EXPECT_EQ(hud->subMessageLabel()->frame(), (ui::Rect{{12, 115}, {136, 30}}));
    EXPECT_EQ(hud->subMessageLabel()->font()->pointSize(), 17);
    EXPECT_FALSE(hud->centerMessageLabel());

    hud->displayCompleted("Saved!");
    EXPECT_EQ(hud->centerMessageLabel()->text(), "\xE2\x9C\x93");
    EXPECT_EQ(hud->centerMessageLabel()->frame(), (ui::Rect{{12, 55}, {136, 50}}));
    EXPECT_EQ(hud->centerMessageLabel()->font()->pointSize(), 40);
    EXPECT_EQ(hud->subMessageLabel()->text(), "Saved!");
    EXPECT_FALSE(hud->spinner());
    clock->advance(0.59);
    EXPECT_EQ(hud->alpha(), 1);
    // A new activity during the wait cancels the fade.
    hud->displayActivity("Again");
    clock->advance(5);
    EXPECT_TRUE(hud->isShown());
    EXPECT_EQ(hud->alpha(), 1);
    EXPECT_FALSE(hud->centerMessageLabel());

    hud->displayCompleted("Done");
    clock->advance(0.61);  // the 0.6 s wait is over: the fade runs
    EXPECT_EQ(hud->alpha(), 0);
    EXPECT_TRUE(hud->isShown());
    clock->advance(0.4);
    EXPECT_FALSE(hud->isShown());
}

TEST_F(ScreensTest, ShowDuringTheFadeKeepsTheIndicator) {
    auto* hud = SHRActivityIndicator::currentIndicator();
    hud->displayActivity("Working");
    hud->hide();
    clock->advance(0.2);
    hud->show();
    clock->advance(1);
    EXPECT_TRUE(hud->isShown());
    EXPECT_EQ(hud->alpha(), 1);
}

struct AnyWayRoot : ui::ViewController {
    unsigned supportedInterfaceOrientations() override { return ui::InterfaceOrientationMaskAll; }
};

TEST_F(ScreensTest, IndicatorTurnsWithTheStatusBar) {
    auto turning = ns::make<AnyWayRoot>();
    window->setRootViewController(turning);
    SHR::setRootViewController(turning.get());
    auto* hud = SHRActivityIndicator::currentIndicator();
    ui::Driver driver(clock);
    driver.rotate(ui::DeviceOrientation::LandscapeLeft);  // interface landscape right (3)
    ASSERT_EQ(ui::Application::shared()->statusBarOrientation(), ui::InterfaceOrientation::LandscapeRight);
    ui::Transform t = hud->transform();
    EXPECT_NEAR(t.a, 0, 1e-9);
    EXPECT_NEAR(t.b, 1, 1e-9);  // pi/2
    EXPECT_NEAR(t.c, -1, 1e-9);
    driver.rotate(ui::DeviceOrientation::LandscapeRight);  // interface landscape left (4): -pi/2
    EXPECT_NEAR(hud->transform().b, -1, 1e-9);
    driver.rotate(ui::DeviceOrientation::PortraitUpsideDown);
    EXPECT_NEAR(hud->transform().a, -1, 1e-9);
    driver.rotate(ui::DeviceOrientation::Portrait);
    EXPECT_TRUE(hud->transform().isIdentity());
    bool known = true;
    SHRActivityIndicator::rotationForOrientation(7, &known);
    EXPECT_FALSE(known);
    // The turn is animated over 0.3 s.
    bool sawRotation = false;
    for (auto& a : ui::animationLog()) sawRotation |= std::fabs(a.duration - 0.3) < 1e-9;
    EXPECT_TRUE(sawRotation);
}

// -- Share action sheet ---------------------------------------------------------------------

TEST_F(ScreensTest, ActionSheetListsShareableFavouritesAndStartsTheChosenOne) {
    SHR::setFavoritesForType(ns::Array::make({ns::str("SHRMail"), ns::str("ScreenOff"), ns::str("ScreenBeta"),
                                              ns::str("NoSuchClass"), ns::str("ScreenAlpha")}),
                             SHRShareTypeText);
    auto sheet = SHRActionSheet::actionSheetForItem(textItem("hello"));
    EXPECT_STREQ(sheet->className(), "SHRCustomActionSheet");
    EXPECT_EQ(sheet->title(), "Share");
    EXPECT_EQ(sheet->buttonTitles(), (std::vector<std::string>{"beta", "Alpha", "Cancel"}));
    EXPECT_EQ(sheet->cancelButtonIndex(), 2);
    EXPECT_EQ(sheet->sharers()->count(), 2u);
    sheet->showInView(root->view());
    ui::Driver driver(clock);
    ASSERT_TRUE(driver.pressAlertButton("Alpha"));
    EXPECT_EQ(events(), (std::vector<std::string>{"share:ScreenAlpha:hello"}));
    EXPECT_FALSE(sheet->isVisible());

    // Code choosing a button works the same; Cancel only dismisses.
    auto again = SHRActionSheet::actionSheetForItem(textItem("x"));
    again->showInView(root->view());
    again->dismissWithClickedButtonIndex(2, true);
    EXPECT_FALSE(again->isVisible());
    again = SHRActionSheet::actionSheetForItem(textItem("y"));
    // Sharing moved Alpha to the front of the favourites (cut to three).
    EXPECT_EQ(again->buttonTitles(), (std::vector<std::string>{"Alpha", "Cancel"}));
    SHR::setFavoritesForType(ns::Array::make({ns::str("ScreenAlpha"), ns::str("ScreenBeta")}), SHRShareTypeText);
    again = SHRActionSheet::actionSheetForItem(textItem("y"));
    again->showInView(root->view());
    again->dismissWithClickedButtonIndex(1, true);
    EXPECT_EQ(events().back(), "share:ScreenBeta:y");
    EXPECT_FALSE(again->isVisible());
}

TEST_F(ScreensTest, ActionSheetDelegateMayStopTheShare) {
    SHR::setFavoritesForType(ns::Array::make({ns::str("ScreenAlpha")}), SHRShareTypeText);
    auto sheet = SHRActionSheet::actionSheetForItem(textItem("no"));
    auto decider = ns::make<Decider>();
    decider->allow = false;
    sheet->setShareDelegate(decider.get());
    sheet->showInView(root->view());
    ui::Driver driver(clock);
    ASSERT_TRUE(driver.pressAlertButton("Alpha"));
    EXPECT_EQ(decider->asked, (std::vector<std::string>{"ScreenAlpha"}));
    EXPECT_TRUE(events().empty());
    EXPECT_FALSE(sheet->isVisible());

    SHR::setFavoritesForType(ns::Array::make({ns::str("SHRMail")}), SHRShareTypeURL);
    auto mailOnly = SHRActionSheet::actionSheetForType(SHRShareTypeURL);
    EXPECT_EQ(mailOnly->buttonTitles(), (std::vector<std::string>{"Cancel"}));
    EXPECT_EQ(mailOnly->item()->shareType(), SHRShareTypeURL);
}

// -- Share menu ------------------------------------------------------------------------------

class ShareMenuTest : public ScreensTest {
protected:
    void SetUp() override {
        ScreensTest::SetUp();
        bundle = std::make_unique<TempDir>();
        ns::Paths::setBundleResourcePath(bundle->path());
        auto sharers = ns::Dictionary::make(
            {{"actions", ns::Array::make({ns::str("ScreenCopy"), ns::str("ScreenOff")})},
             {"services", ns::Array::make({ns::str("ScreenGamma"), ns::str("ScreenLinks"), ns::str("ScreenBeta"),
                                           ns::str("ScreenAlpha")})}});
        ASSERT_TRUE(ns::writeToFile(*sharers, ns::Paths::join(bundle->path(), "SHRSharers.plist")));
        SHR::reset();
    }
    void TearDown() override {
        ns::Paths::setBundleResourcePath("");
        SHR::reset();
        ScreensTest::TearDown();
    }
    ns::Ref<SHRShareMenu> showMenu(ns::Ref<SHRItem> item) {
        auto menu = ns::make<SHRCustomShareMenu>(ui::TableViewStyle::Grouped);
        menu->setItem(std::move(item));
        SHR::currentHelper()->showViewController(menu);
        return menu;
    }
    // "Header|row,row;Header|row" of the visible table.
    std::string rows(SHRShareMenu* menu) {
        std::string out;
        ui::TableView* t = menu->tableView();
        for (long s = 0; s < t->numberOfSections(); ++s) {
            out += (s ? ";" : "") + menu->tableViewTitleForHeaderInSection(t, s) + "|";
            for (long r = 0; r < t->numberOfRowsInSection(s); ++r) {
                auto* cell = ns::as<SHRCustomShareMenuCell>(t->cellForRowAtIndexPath(ui::IndexPath::forRow(r, s)));
                out += (r ? "," : "") + (cell ? cell->textLabel()->text() : std::string("?"));
                if (cell && cell->accessoryView()) out += cell->toggle()->isOn() ? "[on]" : "[off]";
            }
        }
        return out;
    }
    std::unique_ptr<TempDir> bundle;
};

TEST_F(ShareMenuTest, SectionsSortedRowsAndHeaders) {
    auto menu = showMenu(textItem("note"));
    EXPECT_EQ(menu->title(), "Share");
    EXPECT_EQ(menu->supportedInterfaceOrientations(), unsigned(ui::InterfaceOrientationMaskAll));
    EXPECT_EQ(ns::make<SHRViewControllerWrapper>()->supportedInterfaceOrientations(),
              unsigned(ui::InterfaceOrientationMaskAll));
    // Off cannot share, Links only cannot share text; "beta" sorts between
    // "Alpha" and "Gamma" without regard to case.
    EXPECT_EQ(rows(menu.get()), "Actions|Copy it;Services|Alpha,beta,Gamma");
    auto* row = menu->rowDataAtIndexPath(ui::IndexPath::forRow(1, 1));
    EXPECT_EQ(ns::describe(row->stringForKey("className")), "ScreenBeta");
    // Sections and rows just past the ends hold nothing.
    EXPECT_EQ(menu->tableViewNumberOfRowsInSection(menu->tableView(), 1), 3);
    EXPECT_EQ(menu->tableViewNumberOfRowsInSection(menu->tableView(), 2), 0);
    EXPECT_EQ(menu->tableViewNumberOfRowsInSection(menu->tableView(), -1), 0);
    EXPECT_FALSE(menu->rowDataAtIndexPath(ui::IndexPath::forRow(3, 1)));
    EXPECT_FALSE(menu->rowDataAtIndexPath(ui::IndexPath::forRow(0, 2)));

    // An item no action can share: the empty section has no header.
    ns::Paths::setBundleResourcePath(bundle->path());
    SHR::reset();
    ASSERT_TRUE(ns::writeToFile(*
        ns::Dictionary::make({{"actions", ns::Array::make({ns::str("ScreenOff")})},
                              {"services", ns::Array::make({ns::str("ScreenLinks")})}}),
        ns::Paths::join(bundle->path(), "SHRSharers.plist")));
    auto other = ns::make<SHRCustomShareMenu>(ui::TableViewStyle::Grouped);
    other->setItem(SHRItem::URL(ns::URL::URLWithString("http://deck.example/"), ns::str("t")));
    EXPECT_EQ(rows(other.get()), "|;Services|Links only");
}

// The menu of the app's own sharer list: the sharers that can take a link,
// sorted by title; switching one off in edit mode logs the user out of it.
// A logout that cannot remove the login (the keychain's folder full or
// read-only) is told, and the switch stays on; a Done whose choice cannot
// be saved (the user defaults' folder full or read-only) is told, and the
// menu stays in edit mode with nothing hidden.
TEST_F(ScreensTest, ShareMenuOfTheShippedSharerList) {
    testsupport::FullDisk keychainFolder(ns::Paths::join(ns::Paths::libraryDirectory(), "Keychains"));
    FullPreferences defaultsFolder;
    auto menu = ns::make<SHRCustomShareMenu>(ui::TableViewStyle::Grouped);
    menu->setItem(SHRItem::URL(ns::URL::URLWithString("http://deck.example/card/1"), ns::str("Card")));
    SHR::currentHelper()->showViewController(menu);
    auto titles = [&](long section) {
        std::vector<std::string> out;
        for (long r = 0; r < menu->tableView()->numberOfRowsInSection(section); ++r)
            if (auto* row = menu->rowDataAtIndexPath(ui::IndexPath::forRow(r, section)))
                out.push_back(ns::describe(row->stringForKey("name")));
        return out;
    };
    EXPECT_EQ(titles(0), (std::vector<std::string>{"Copy", "Email", "Logout", "Open in Safari", "SMS"}));
    EXPECT_EQ(titles(1), (std::vector<std::string>{"Evernote", "Facebook", "Google Reader", "Instapaper", "LinkedIn",
                                                   "Pinboard", "Read It Later", "Tumblr", "Twitter", "Vkontakte"}));
    ASSERT_TRUE(SHR::setAuthValueForKeyForSharer(ns::str("me").get(), "username", "SHRPinboard"));
    ui::Driver driver(clock);
    ASSERT_TRUE(driver.tapBarButton("Edit"));
    auto pinboardSwitchOn = [&] {
        for (long r = 0; r < menu->tableView()->numberOfRowsInSection(1); ++r)
            if (auto* cell = ns::as<SHRCustomShareMenuCell>(
                    menu->tableView()->cellForRowAtIndexPath(ui::IndexPath::forRow(r, 1))))
                if (cell->textLabel()->text() == "Pinboard") return cell->toggle()->isOn();
        ADD_FAILURE() << "no Pinboard row";
        return false;
    };
    for (auto failure : testsupport::FullDisk::kFailures) {
        SCOPED_TRACE(std::string("keychain, ") + testsupport::FullDisk::describe(failure) + " against " +
                     keychainFolder.how());
        keychainFolder.restore();
        if (!keychainFolder.arrange(failure)) continue;
        ui::Panel::resetShown();
        ASSERT_TRUE(driver.tapRow("Pinboard")) << driver.lastError();
        EXPECT_EQ(alerts(), (std::vector<std::string>{"Error|Your logins could not be removed. Please try again."}));
        EXPECT_EQ(ns::describe(SHR::getAuthValueForKeyForSharer("username", "SHRPinboard")), "me");
        EXPECT_TRUE(pinboardSwitchOn());
        EXPECT_FALSE(menu->exclusions()->objectForKey("SHRPinboard"));
        EXPECT_FALSE(menu->tableView()->indexPathForSelectedRow());
        ASSERT_TRUE(driver.pressAlertButton("Close")) << driver.lastError();
    }
    keychainFolder.restore();
    ASSERT_TRUE(driver.tapRow("Pinboard"));
    EXPECT_FALSE(SHR::getAuthValueForKeyForSharer("username", "SHRPinboard"));
    EXPECT_FALSE(pinboardSwitchOn());
    for (auto failure : testsupport::FullDisk::kFailures) {
        SCOPED_TRACE(std::string("user defaults, ") + testsupport::FullDisk::describe(failure) + " against " +
                     defaultsFolder.how());
        defaultsFolder.restore();
        if (!defaultsFolder.arrange(failure)) continue;
        ui::Panel::resetShown();
        ASSERT_TRUE(driver.tapBarButton("Done")) << driver.lastError();
        EXPECT_EQ(alerts(),
                  (std::vector<std::string>{"Error|Your choice of services could not be saved. Please try again."}));
        EXPECT_TRUE(menu->tableView()->isEditing());
        EXPECT_EQ(titles(1).size(), 10u);
        EXPECT_FALSE(ns::UserDefaults::standardUserDefaults()->dictionaryForKey("SHRExcluded"));
        ASSERT_TRUE(driver.pressAlertButton("Close")) << driver.lastError();
        EXPECT_FALSE(defaultsFolder.reread()->dictionaryForKey("SHRExcluded"));
    }
    defaultsFolder.restore();
    ASSERT_TRUE(driver.tapBarButton("Done"));
    EXPECT_FALSE(menu->tableView()->isEditing());
    EXPECT_EQ(titles(1).size(), 9u);
    auto stored = defaultsFolder.reread()->dictionaryForKey("SHRExcluded");
    ASSERT_TRUE(stored);
    EXPECT_TRUE(stored->objectForKey("SHRPinboard"));
}

TEST_F(ShareMenuTest, SelectingARowSharesAndClosesUnlessTheDelegateSaysNo) {
    auto menu = showMenu(textItem("pick"));
    auto decider = ns::make<Decider>();
    menu->setShareDelegate(decider.get());
    ui::Driver driver(clock);
    ASSERT_TRUE(driver.tapRow("Gamma"));
    EXPECT_EQ(events(), (std::vector<std::string>{"share:ScreenGamma:pick"}));
    EXPECT_FALSE(root->presentedViewController());
    // A row chosen again while the menu closes (here it has closed at once;
    // on a device it fades out) starts nothing.
    menu->tableViewDidSelectRowAtIndexPath(menu->tableView(), ui::IndexPath::forRow(0, 1));
    EXPECT_EQ(events(), (std::vector<std::string>{"share:ScreenGamma:pick"}));
    // Shown again, it takes a choice again.
    clock->advance(1);
    SHR::currentHelper()->showViewController(menu);
    ASSERT_TRUE(driver.tapRow("Alpha")) << driver.lastError();
    EXPECT_EQ(events(), (std::vector<std::string>{"share:ScreenGamma:pick", "share:ScreenAlpha:pick"}));

    clock->advance(1);
    auto second = showMenu(textItem("stop"));
    decider->allow = false;
    second->setShareDelegate(decider.get());
    ASSERT_TRUE(driver.tapRow("Alpha"));
    EXPECT_EQ(events().size(), 2u);
    EXPECT_EQ(decider->asked.back(), "ScreenAlpha");
    EXPECT_FALSE(root->presentedViewController());
}

TEST_F(ShareMenuTest, ExcludingAndReincludingSharers) {
    auto defaults = ns::UserDefaults::standardUserDefaults();
    defaults->setObjectForKey(ns::Dictionary::make({{"ScreenBeta", ns::str("1")}}), "SHRExcluded");
    auto menu = showMenu(textItem("e"));
    EXPECT_EQ(rows(menu.get()), "Actions|Copy it;Services|Alpha,Gamma");

    ui::Driver driver(clock);
    ASSERT_TRUE(driver.tapBarButton("Edit"));
    EXPECT_TRUE(menu->tableView()->isEditing());
    EXPECT_EQ(rows(menu.get()), "Actions|Copy it[on];Services|Alpha[on],beta[off],Gamma[on]");

    // Switching Alpha off logs out at once; switching beta on re-includes it.
    ASSERT_TRUE(driver.tapRow("Alpha"));
    EXPECT_EQ(events(), (std::vector<std::string>{"logout:ScreenAlpha"}));
    ASSERT_TRUE(driver.tapRow("beta"));
    EXPECT_EQ(rows(menu.get()), "Actions|Copy it[on];Services|Alpha[off],beta[on],Gamma[on]");
    EXPECT_FALSE(menu->tableView()->indexPathForSelectedRow());
    // Nothing is stored before Done.
    ASSERT_TRUE(defaults->dictionaryForKey("SHRExcluded"));
    EXPECT_TRUE(defaults->dictionaryForKey("SHRExcluded")->objectForKey("ScreenBeta"));

    ASSERT_TRUE(driver.tapBarButton("Done"));
    EXPECT_FALSE(menu->tableView()->isEditing());
    EXPECT_EQ(rows(menu.get()), "Actions|Copy it;Services|beta,Gamma");
    auto stored = defaults->dictionaryForKey("SHRExcluded");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->count(), 1u);
    EXPECT_EQ(ns::describe(stored->stringForKey("ScreenAlpha")), "1");
    EXPECT_TRUE(menu->navigationItem()->rightBarButtonItem());

    // Cancel while editing keeps the stored exclusions (the logout stays).
    ASSERT_TRUE(driver.tapBarButton("Edit"));
    ASSERT_TRUE(driver.tapRow("Gamma"));
    ASSERT_TRUE(driver.tapBarButton("Cancel"));
    EXPECT_EQ(defaults->dictionaryForKey("SHRExcluded")->count(), 1u);
    EXPECT_EQ(events().back(), "logout:ScreenGamma");
}

// -- OAuth web view --------------------------------------------------------------------------

struct OAuthDelegate : ns::Object, SHROAuthViewDelegate {
    std::vector<std::string> calls;
    ns::Ref<ns::Dictionary> params;
    ns::Ref<ns::URL> authorizeCallbackURL() const override {
        return ns::URL::URLWithString("https://deck.example/oauth/Callback");
    }
    void tokenAuthorizeViewDidFinishWithSuccess(SHROAuthView*, bool ok, ns::Ref<ns::Dictionary> p,
                                                ns::Ref<ns::Error> e) override {
        params = p;
        calls.push_back(std::string(ok ? "ok" : "fail") + (p ? ":params" : ":nil") +
                        (e ? ":" + e->localizedDescription() : ""));
    }
    void tokenAuthorizeCancelledView(SHROAuthView*) override { calls.push_back("cancelled"); }
};

TEST_F(ScreensTest, OAuthViewCatchesTheCallbackWhateverItsCase) {
    auto d = ns::make<OAuthDelegate>();
    auto view = SHROAuthView::make(ns::URL::URLWithString("https://deck.example/authorize?oauth_token=rt"), d.get());
    ui::WebView* web = view->webView();
    EXPECT_TRUE(web->scalesPageToFit());
    ASSERT_EQ(web->evaluatedScripts().size(), 1u);
    EXPECT_EQ(web->evaluatedScripts()[0], "document.getElementsByTagName('body')[0].style.width = \"200px\"");
    ASSERT_TRUE(web->request());
    ASSERT_TRUE(web->request()->URL());
    EXPECT_EQ(web->request()->URL()->absoluteText(), "https://deck.example/authorize?oauth_token=rt");

    // Other pages load.
    EXPECT_TRUE(web->followURL(ns::URL::URLWithString("https://deck.example/login")));
    EXPECT_TRUE(d->calls.empty());
    // The callback, in other letter case, is refused and reported once.
    EXPECT_FALSE(web->followURL(ns::URL::URLWithString(
        "HTTPS://DECK.EXAMPLE/OAUTH/callback?oauth_token=a%20b&oauth_verifier=v1&bare&x=1=2&oauth_verifier=v2")));
    ASSERT_EQ(d->calls, (std::vector<std::string>{"ok:params"}));
    EXPECT_EQ(d->params->count(), 2u);
    EXPECT_EQ(ns::describe(d->params->stringForKey("oauth_token")), "a%20b");
    EXPECT_EQ(ns::describe(d->params->stringForKey("oauth_verifier")), "v2");
    EXPECT_FALSE(view->delegate());
    // Delivered: a later load of the callback goes through.
    EXPECT_TRUE(web->followURL(ns::URL::URLWithString("https://deck.example/oauth/callback?x=1")));
    EXPECT_EQ(d->calls.size(), 1u);

    auto d2 = ns::make<OAuthDelegate>();
    auto bare = SHROAuthView::make(ns::URL::URLWithString("https://deck.example/authorize"), d2.get());
    EXPECT_FALSE(bare->webView()->followURL(ns::URL::URLWithString("https://deck.example/oauth/callback")));
    EXPECT_EQ(d2->calls, (std::vector<std::string>{"ok:nil"}));
}

TEST_F(ScreensTest, OAuthViewIgnoresCancelledLoadsAndReportsOtherFailures) {
    auto d = ns::make<OAuthDelegate>();
    auto view = SHROAuthView::make(ns::URL::URLWithString("https://deck.example/authorize"), d.get());
    for (long code : {-999L, 102L, -1100L})
        view->webViewDidFailLoadWithError(view->webView(), ns::Error::make("NSURLErrorDomain", code).get());
    EXPECT_TRUE(d->calls.empty());
    view->webViewDidFailLoadWithError(
        view->webView(),
        ns::Error::make("NSURLErrorDomain", -1009, ns::Dictionary::make({{"NSLocalizedDescription", ns::str("offline")}})).get());
    EXPECT_EQ(d->calls, (std::vector<std::string>{"fail:nil:offline"}));

    view->cancel();
    EXPECT_EQ(d->calls.back(), "cancelled");
    // Cancel is final: the page reaching the callback later, or a second
    // Cancel, tells no one of anything.
    const auto told = d->calls;
    EXPECT_FALSE(view->delegate());
    view->webView()->followURL(ns::URL::URLWithString("https://deck.example/oauth/callback?oauth_token=t"));
    view->cancel();
    EXPECT_EQ(d->calls, told);
}

TEST_F(ScreensTest, OAuthViewReportsAPinPageOfTheTwitterHost) {
    auto d = ns::make<OAuthDelegate>();
    auto view = SHROAuthView::make(ns::URL::URLWithString("https://deck.example/authorize"), d.get());
    ui::WebView* web = view->webView();
    // A PIN on another host, and a page of the host without a PIN: nothing.
    web->loadHTMLString("<div id=\"oauth_pin\">1234</div>", ns::URL::URLWithString("https://deck.example/x"));
    web->loadHTMLString("<p>Allow?</p><div id='other'>1</div>", ns::URL::URLWithString("https://API.twitter.com/oauth/authorize"));
    web->loadHTMLString("<div id=\"oauth_pin\"></div>", ns::URL::URLWithString("https://api.twitter.com/oauth/authorize"));
    EXPECT_TRUE(d->calls.empty());
    web->loadHTMLString("<html><body><div id=\"oauth_pin\"><span>98</span><span>76</span></div></body></html>",
                        ns::URL::URLWithString("https://api.twitter.com/oauth/authorize"));
    ASSERT_EQ(d->calls.size(), 1u);
    EXPECT_EQ(d->calls[0],
              "fail:nil:Your SHRTwitter config is incorrect.  You must set your application type to Browser and "
              "define a callback url.  See SHRConfig for more details");
    EXPECT_EQ(web->evaluatedScripts().back(), "document.getElementById('oauth_pin').innerHTML");
}

// SHROAuthView::innerHTMLOfElementWithId on a thread of its own, given at most
// 10 s: a scan that never ends fails its row instead of stopping the program.
std::optional<std::string> innerHTMLWithin(const std::string& html, const std::string& id) {
    struct Shared {
        std::mutex m;
        std::condition_variable done;
        std::optional<std::string> answer;
    };
    auto shared = std::make_shared<Shared>();
    std::thread([shared, html, id] {
        std::string answer = SHROAuthView::innerHTMLOfElementWithId(html, id);
        std::lock_guard<std::mutex> g(shared->m);
        shared->answer = std::move(answer);
        shared->done.notify_all();
    }).detach();
    std::unique_lock<std::mutex> g(shared->m);
    shared->done.wait_for(g, std::chrono::duration<double>(testsupport::kEventWaitSeconds), [&] { return shared->answer.has_value(); });
    return shared->answer;
}

TEST(OAuthViewTest, InnerHTMLOfAnElementReadFromThePage) {
    struct Case {
        const char* name;
        const char* html;
        const char* expected;
    } cases[] = {
        {"nested tags of the same name", "<div id='oauth_pin'><div>a</div>b</div>", "<div>a</div>b"},
        {"never closed", "<div id='oauth_pin'>never closed", ""},
        {"double quotes, any case", "<DIV ID=\"OAUTH_PIN\">7</Div>", "7"},
        {"the id as text before the element", "<p>type id='oauth_pin' here</p><div id='oauth_pin'>42</div>", "42"},
        {"the id as text after a tag closed", "<b>x</b>id='oauth_pin'<span id='oauth_pin'>5</span>", "5"},
        {"the id as text only", "<p>id='oauth_pin'</p>", ""},
        {"a tag whose name begins with the element's", "<b id='oauth_pin'>1<br>2<bdi>3</bdi></b>", "1<br>2<bdi>3</bdi>"},
        {"an end tag whose name begins with the element's", "<p id='oauth_pin'>1<pre>x</pre>2</p>", "1<pre>x</pre>2"},
        {"no such element", "<div id='other'>1</div>", ""},
    };
    for (const auto& c : cases) {
        auto answer = innerHTMLWithin(c.html, "oauth_pin");
        ASSERT_TRUE(answer) << c.name << ": no answer within 10 s";
        EXPECT_EQ(*answer, c.expected) << c.name;
    }
}

}  // namespace
}  // namespace sharing::test

namespace sharing::test {
namespace {

// -- Forms --------------------------------------------------------------------------------------

struct FormOwner : ns::Object {
    std::vector<std::string> calls;
    ns::Ref<ns::Dictionary> saved;
    void validate(SHRFormController* f) { calls.push_back("validate"); }
    void save(SHRFormController* f) {
        calls.push_back("save");
        saved = f->formValues();
    }
    void cancel(SHRFormController*) { calls.push_back("cancel"); }
};

// Supplies its list later, or fails, when told.
struct ColourProvider : ns::Object, SHRFormOptionControllerOptionProvider {
    std::vector<std::string> calls;
    ns::Weak<SHRFormOptionController> running;
    void SHRFormOptionControllerEnumerateOptions(SHRFormOptionController* c) override {
        calls.push_back("enumerate");
        running = c;
    }
    void SHRFormOptionControllerCancelEnumerateOptions(SHRFormOptionController*) override { calls.push_back("cancel"); }
};

ns::Ref<ns::MutableDictionary> pickerInfo(const char* title, std::vector<std::string> items, const char* cur,
                                          bool multiple = false) {
    auto list = ns::MutableArray::make();
    for (auto& i : items) list->addObject(ns::str(i));
    auto info = ns::MutableDictionary::make();
    info->setObject(ns::str(title), "title");
    info->setObject(list, "itemsList");
    info->setObject(ns::str(cur), "curIndexes");
    info->setObject(ns::num(multiple), "allowMultiple");
    info->setObject(ns::num(true), "static");
    return info;
}

class FormTest : public ScreensTest {
protected:
    ns::Ref<SHRFormController> showForm(ns::Ref<ns::Array> rows, ns::Ref<ns::Array> more = nullptr) {
        auto form = ns::make<SHRCustomFormController>(SHRFormStyle::Grouped, "Options", "Send");
        form->addSection(rows, ns::str("Account"), ns::str("Kept in the keychain"));
        if (more) form->addSection(more, nullptr, nullptr);
        owner = ns::make<FormOwner>();
        form->setDelegate(owner.get(), &FormOwner::validate, &FormOwner::save, &FormOwner::cancel);
        SHR::currentHelper()->showViewController(form);
        return form;
    }
    ui::NavigationController* nav() { return ns::as<ui::NavigationController>(root->presentedViewController()); }
    ns::Ref<FormOwner> owner;
};

TEST_F(FormTest, EveryFieldTypeTypedSwitchedAndSaved) {
    auto rows = ns::Array::make({
        SHRFormFieldSettings::label("Title", "title", SHRFormFieldTypeText, ns::str("Card")),
        SHRFormFieldSettings::label("Username", "username", SHRFormFieldTypeTextNoCorrect, nullptr),
        SHRFormFieldSettings::label("Password!", "password", SHRFormFieldTypePassword, nullptr),
        SHRFormFieldSettings::label("Public", "public", SHRFormFieldTypeSwitch, ns::str("1")),
        SHRFormFieldSettings::label("A much longer label that is no text row", "colour", SHRFormFieldTypeOptionPicker,
                                    ns::str("Red"), pickerInfo("Colours", {"Red", "Green", "Blue"}, "-1")),
        SHRFormFieldSettings::label("Unknown", "odd", 9, ns::str("x")),
    });
    auto form = showForm(rows);
    // Widest text label in bold 17 (half an em per unit): "Password!" = 9 * 8.5, rounded up.
    EXPECT_EQ(form->labelWidth(), 77);
    ui::Driver driver(clock);
    auto* user = ns::as<ui::TextField>(driver.findTextInput("Username"));
    auto* pass = ns::as<ui::TextField>(driver.findTextInput("Password!"));
    auto* title = ns::as<ui::TextField>(driver.findTextInput("Title"));
    ASSERT_TRUE(user && pass && title);
    EXPECT_EQ(title->text(), "Card");
    // Only option rows take the form's label width; text rows start 24 in.
    EXPECT_EQ(user->frame().x(), 24);
    ASSERT_TRUE(form->cellForKey("colour"));
    EXPECT_EQ(form->cellForKey("colour")->detailTextLabel()->frame().x(), 77 + 24);
    EXPECT_EQ(form->cellForKey("colour")->detailTextLabel()->frame().maxX(),
              form->cellForKey("colour")->contentView()->bounds().width() - 10);
    // The section's header and footer are the table's titles of section 0.
    EXPECT_EQ(form->tableViewTitleForHeaderInSection(form->tableView(), 0), "Account");
    EXPECT_EQ(form->tableViewTitleForFooterInSection(form->tableView(), 0), "Kept in the keychain");
    EXPECT_EQ(form->tableViewTitleForFooterInSection(form->tableView(), -1), "");
    ASSERT_TRUE(form->cellForKey("username"));
    EXPECT_STREQ(form->cellForKey("username")->className(), "SHRCustomFormFieldCell");
    EXPECT_EQ(form->cellForKey("colour")->reuseIdentifier(), "OptionCell");
    EXPECT_EQ(form->cellForKey("colour")->accessoryType(), ui::TableViewCellAccessoryType::DisclosureIndicator);
    EXPECT_EQ(form->cellForKey("colour")->detailTextLabel()->text(), "Red");
    EXPECT_EQ(form->cellForKey("colour")->detailTextLabel()->superview(), form->cellForKey("colour")->contentView());
    ASSERT_TRUE(form->cellForKey("public"));
    EXPECT_TRUE(form->cellForKey("public")->toggle()->isOn());  // start "1", shown once the switch exists
    EXPECT_EQ(form->cellForKey("public")->textLabel()->text(), "Public");
    EXPECT_FALSE(title->isSecureTextEntry());
    EXPECT_EQ(title->autocorrectionType(), ui::AutocorrectionType::Default);
    EXPECT_EQ(user->autocorrectionType(), ui::AutocorrectionType::No);
    EXPECT_EQ(user->autocapitalizationType(), ui::AutocapitalizationType::None);
    EXPECT_TRUE(pass->isSecureTextEntry());
    EXPECT_EQ(pass->returnKeyType(), ui::ReturnKeyType::Done);
    EXPECT_FALSE(driver.findTextInput("Unknown"));

    ASSERT_TRUE(driver.typeText("Username", "carla"));
    EXPECT_EQ(form->activeField(), user);
    ASSERT_TRUE(driver.typeText("Password!", "s3cret"));
    // The switch is on screen: a tap at its centre turns it off.
    auto* publicCell = form->cellForKey("public");
    ASSERT_TRUE(publicCell && publicCell->toggle());
    // The platform's switch size, 10 points in from the right.
    ui::Rect sf = publicCell->toggle()->frame();
    EXPECT_EQ(sf.width(), 94);
    EXPECT_EQ(sf.height(), 27);
    EXPECT_EQ(sf.x() + sf.width(), publicCell->contentView()->bounds().width() - 10);
    driver.tap(ui::Driver::centerOf(publicCell->toggle()));
    EXPECT_FALSE(publicCell->toggle()->isOn());
    // The return key validates (and ends editing).
    ASSERT_TRUE(driver.pressReturn());
    EXPECT_EQ(owner->calls, (std::vector<std::string>{"validate"}));
    EXPECT_FALSE(pass->isFirstResponder());

    auto values = form->formValues();
    EXPECT_EQ(ns::describe(values->stringForKey("title")), "Card");
    EXPECT_EQ(ns::describe(values->stringForKey("username")), "carla");
    EXPECT_EQ(ns::describe(values->stringForKey("password")), "s3cret");
    EXPECT_EQ(ns::describe(values->stringForKey("public")), "0");
    EXPECT_FALSE(values->objectForKey("colour"));  // left at its start value
    EXPECT_FALSE(values->objectForKey("odd"));

    form->saveForm();
    EXPECT_EQ(owner->calls.back(), "save");
    EXPECT_EQ(ns::describe(owner->saved->stringForKey("username")), "carla");
    EXPECT_FALSE(root->presentedViewController());
}

// The form is a table that reuses its cells: a value typed into a row that
// scrolls away is kept, a reused cell shows its new row's value, and the
// first row is selected (its field focused) when the form appears.
TEST_F(FormTest, ValuesSurviveScrollingThroughReusedCells) {
    auto rows = ns::MutableArray::make();
    for (int i = 0; i < 12; ++i)  // the last text row starts empty
        rows->addObject(SHRFormFieldSettings::label("Text " + std::to_string(i), "t" + std::to_string(i),
                                                    SHRFormFieldTypeText,
                                                    i < 11 ? ns::str("start " + std::to_string(i)) : nullptr));
    rows->addObject(SHRFormFieldSettings::label("Public", "public", SHRFormFieldTypeSwitch, ns::str("0")));
    for (int i = 0; i < 12; ++i)
        rows->addObject(SHRFormFieldSettings::label("Option " + std::to_string(i), "o" + std::to_string(i),
                                                    SHRFormFieldTypeOptionPicker, ns::str("Red"),
                                                    pickerInfo("Colours", {"Red", "Blue"}, "-1")));
    auto form = ns::make<SHRCustomFormController>(SHRFormStyle::Grouped, "Long", "Send");
    form->addSection(rows, nullptr, nullptr);
    form->setAutoSelect(true);
    SHR::currentHelper()->showViewController(form);
    ui::TableView* table = form->tableView();
    EXPECT_EQ(form->view(), table);
    EXPECT_EQ(table->numberOfRowsInSection(0), 25);
    EXPECT_EQ(table->indexPathForSelectedRow(), ui::IndexPath::forRow(0, 0));
    ASSERT_TRUE(form->cellForKey("t0"));
    ui::TextField* first = form->cellForKey("t0")->textField();
    EXPECT_TRUE(first->isFirstResponder());
    EXPECT_EQ(form->activeField(), first);

    ui::Driver driver(clock);
    ASSERT_TRUE(driver.typeText("Text 0", " typed"));
    EXPECT_FALSE(form->cellForKey("public"));
    ASSERT_TRUE(form->setValueForKey("public", "1"));  // off screen: kept for the row

    // A few rows down: the first rows' cells serve the rows coming in.
    EXPECT_FALSE(form->cellForKey("t11"));
    table->scrollToRowAtIndexPath(ui::IndexPath::forRow(12, 0), ui::TableViewScrollPosition::Bottom, false);
    EXPECT_FALSE(form->cellForKey("t0"));
    ASSERT_TRUE(form->cellForKey("t11") && form->cellForKey("public"));
    EXPECT_EQ(form->cellForKey("t11")->textField()->text(), "");
    ASSERT_TRUE(form->cellForKey("t10"));
    EXPECT_EQ(form->cellForKey("t10")->textField()->text(), "start 10");
    EXPECT_TRUE(form->cellForKey("public")->toggle()->isOn());
    EXPECT_FALSE(form->cellForKey("public")->getTextField()->superview());

    // At the end only option rows show; the text rows' values are kept.
    table->scrollToRowAtIndexPath(ui::IndexPath::forRow(24, 0), ui::TableViewScrollPosition::Bottom, false);
    EXPECT_FALSE(form->cellForKey("t11") || form->cellForKey("public"));
    auto values = form->formValues();
    EXPECT_EQ(ns::describe(values->objectForKey("t0")), "start 0 typed");
    EXPECT_EQ(ns::describe(values->objectForKey("t10")), "start 10");
    EXPECT_EQ(ns::describe(values->objectForKey("t11")), "");
    EXPECT_EQ(ns::describe(values->objectForKey("public")), "1");
    EXPECT_FALSE(values->objectForKey("o11"));  // left at its start value
    EXPECT_EQ(values->count(), 13u);

    table->scrollToRowAtIndexPath(ui::IndexPath::forRow(0, 0), ui::TableViewScrollPosition::Top, false);
    ASSERT_TRUE(form->cellForKey("t0"));
    EXPECT_EQ(form->cellForKey("t0")->textField()->text(), "start 0 typed");
    ASSERT_TRUE(form->cellForKey("t1"));
    EXPECT_EQ(form->cellForKey("t1")->textField()->text(), "start 1");
}

TEST_F(FormTest, AutoSelectFocusesTheFirstRowOfTheFirstSectionWhenThereIsOne) {
    struct Case {
        int firstRows, secondRows;
        bool selected;
        bool autoSelect = true;
    } cases[] = {{1, 0, true}, {1, 1, true}, {0, 1, false}, {1, 0, false, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.firstRows) + "+" + std::to_string(c.secondRows));
        auto rows = [](int n, const char* key) {
            auto list = ns::MutableArray::make();
            for (int i = 0; i < n; ++i) list->addObject(SHRFormFieldSettings::label(key, key, SHRFormFieldTypeText, nullptr));
            return list;
        };
        auto form = ns::make<SHRCustomFormController>(SHRFormStyle::Grouped, "One", "Send");
        form->addSection(rows(c.firstRows, "first"), nullptr, nullptr);
        form->addSection(rows(c.secondRows, "second"), nullptr, nullptr);
        EXPECT_FALSE(form->autoSelect());  // off unless asked for
        if (c.autoSelect) form->setAutoSelect(true);
        SHR::currentHelper()->showViewController(form);
        auto selected = form->tableView()->indexPathForSelectedRow();
        EXPECT_EQ(selected.has_value(), c.selected);
        if (c.selected) {
            EXPECT_EQ(*selected, ui::IndexPath::forRow(0, 0));
            ASSERT_TRUE(form->cellForKey("first"));
            EXPECT_TRUE(form->cellForKey("first")->textField()->isFirstResponder());
        }
        SHR::currentHelper()->hideCurrentViewControllerAnimated(false);
        SHR::currentHelper()->viewWasDismissed();
    }
}

TEST_F(FormTest, SwitchOnlyFirstSectionHasNoLabelWidthAndCancelTellsTheDelegate) {
    auto form = showForm(ns::Array::make({SHRFormFieldSettings::label("Auto", "auto", SHRFormFieldTypeSwitch, ns::str("1"))}),
                         ns::Array::make({SHRFormFieldSettings::label("Long text label", "t", SHRFormFieldTypeText, nullptr)}));
    EXPECT_EQ(form->labelWidth(), 0);
    EXPECT_EQ(ns::describe(form->formValues()->stringForKey("auto")), "1");
    ui::Driver driver(clock);
    ASSERT_TRUE(driver.tapBarButton("Cancel"));
    EXPECT_EQ(owner->calls, (std::vector<std::string>{"cancel"}));
    EXPECT_FALSE(root->presentedViewController());
}

TEST_F(FormTest, SingleChoiceOptionListPicksAndShows) {
    auto info = pickerInfo("Colours", {"Red", "Green", "Blue"}, "0");
    auto form = showForm(ns::Array::make(
        {SHRFormFieldSettings::label("Colour", "colour", SHRFormFieldTypeOptionPicker, ns::str("Red"), info)}));
    ASSERT_TRUE(form->cellForKey("colour"));
    EXPECT_EQ(form->cellForKey("colour")->detailTextLabel()->text(), "Red");
    ui::Driver driver(clock);
    ASSERT_TRUE(driver.tapRow("Colour"));
    auto* list = ns::as<SHRFormOptionController>(nav()->topViewController());
    ASSERT_TRUE(list);
    EXPECT_EQ(list->title(), "Colours");
    ASSERT_TRUE(list->tableView()->cellForRowAtIndexPath(ui::IndexPath::forRow(0, 0)));
    EXPECT_EQ(list->tableView()->cellForRowAtIndexPath(ui::IndexPath::forRow(0, 0))->accessoryType(),
              ui::TableViewCellAccessoryType::Checkmark);
    ASSERT_TRUE(list->tableView()->cellForRowAtIndexPath(ui::IndexPath::forRow(2, 0)));
    EXPECT_EQ(list->tableView()->cellForRowAtIndexPath(ui::IndexPath::forRow(2, 0))->accessoryType(),
              ui::TableViewCellAccessoryType::None);
    // A selection outside the list (one past its end, or before it) picks nothing.
    for (long row : {3L, -1L}) {
        list->tableViewDidSelectRowAtIndexPath(list->tableView(), ui::IndexPath::forRow(row, 0));
        EXPECT_EQ(nav()->topViewController(), list) << row;
        EXPECT_EQ(ns::describe(info->stringForKey("curIndexes")), "0") << row;
    }
    ASSERT_TRUE(driver.tapRow("Blue"));
    EXPECT_EQ(nav()->topViewController(), form.get());
    EXPECT_EQ(ns::describe(info->stringForKey("curIndexes")), "2");
    EXPECT_EQ(form->cellForKey("colour")->detailTextLabel()->text(), "Blue");
    EXPECT_EQ(ns::describe(form->values()->stringForKey("colour")), "Blue");
    EXPECT_EQ(ns::describe(form->formValues()->stringForKey("colour")), "Blue");

    // Cancel pops and changes nothing.
    ASSERT_TRUE(driver.tapRow("Colour"));
    ASSERT_TRUE(driver.tapBarButton("Cancel"));
    EXPECT_EQ(nav()->topViewController(), form.get());
    EXPECT_EQ(form->cellForKey("colour")->detailTextLabel()->text(), "Blue");
    EXPECT_TRUE(owner->calls.empty());

    // An option row of a later section shows its pick too.
    SHR::currentHelper()->hideCurrentViewControllerAnimated(false);
    SHR::currentHelper()->viewWasDismissed();
    auto later = showForm(ns::Array::make({SHRFormFieldSettings::label("Title", "title", SHRFormFieldTypeText, nullptr)}),
                          ns::Array::make({SHRFormFieldSettings::label("Size", "size", SHRFormFieldTypeOptionPicker,
                                                                       ns::str("S"), pickerInfo("Sizes", {"S", "M"}, "0"))}));
    ASSERT_TRUE(later->cellForKey("size"));
    EXPECT_EQ(later->cellForKey("size")->detailTextLabel()->text(), "S");
    ASSERT_TRUE(driver.tapRow("Size"));
    ASSERT_TRUE(driver.tapRow("M"));
    EXPECT_EQ(nav()->topViewController(), later.get());
    ASSERT_TRUE(later->cellForKey("size"));
    EXPECT_EQ(later->cellForKey("size")->detailTextLabel()->text(), "M");
    EXPECT_EQ(ns::describe(later->formValuesForSection(1)->stringForKey("size")), "M");

    // The form cancelled while its list is open: a pick made in the list
    // then changes nothing the form holds.
    ASSERT_TRUE(driver.tapRow("Size"));
    ns::Ref<SHRFormOptionController> open(ns::as<SHRFormOptionController>(nav()->topViewController()));
    ASSERT_TRUE(open);
    owner->calls.clear();
    later->cancel();
    EXPECT_EQ(owner->calls, (std::vector<std::string>{"cancel"}));
    open->tableViewDidSelectRowAtIndexPath(open->tableView(), ui::IndexPath::forRow(0, 0));
    EXPECT_EQ(ns::describe(later->values()->stringForKey("size")), "M");
    EXPECT_EQ(ns::describe(later->formValuesForSection(1)->stringForKey("size")), "M");
    EXPECT_EQ(owner->calls, (std::vector<std::string>{"cancel"}));
}

TEST_F(FormTest, MultipleChoiceTicksUnticksAndConfirmsWithDone) {
    auto info = pickerInfo("Tags", {"work", "home", "cards"}, "-1", true);
    info->setObject(ns::num(false), "static");
    auto provider = ns::make<ColourProvider>();
    info->setObject(provider, "SHRFormOptionControllerOptionProvider");
    auto form = showForm(ns::Array::make(
        {SHRFormFieldSettings::label("Tags", "tags", SHRFormFieldTypeOptionPicker, ns::str("-1"), info)}));
    ui::Driver driver(clock);
    ASSERT_TRUE(driver.tapRow("Tags"));
    auto list = ns::Ref<SHRFormOptionController>(ns::as<SHRFormOptionController>(nav()->topViewController()));
    ASSERT_TRUE(list);
    EXPECT_EQ(provider->calls, (std::vector<std::string>{"enumerate"}));
    EXPECT_TRUE(list->isProviderRunning());
    auto* hud = SHRActivityIndicator::currentIndicator();
    EXPECT_TRUE(hud->isShown());
    EXPECT_EQ(hud->subMessageLabel()->text(), "Loading...");

    // Stored indexes that do not fit the delivered list are reset.
    info->setObject(ns::str("0,7"), "curIndexes");
    list->optionsEnumerated(ns::Array::make({ns::str("work"), ns::str("home"), ns::str("cards")}));
    EXPECT_EQ(ns::describe(info->stringForKey("curIndexes")), "-1");
    EXPECT_TRUE(list->didHaveOptionsDelivered());
    EXPECT_FALSE(list->isProviderRunning());
    clock->advance(1);
    EXPECT_FALSE(hud->isShown());
    ASSERT_TRUE(list->navigationItem()->rightBarButtonItem());

    ASSERT_TRUE(driver.tapRow("cards"));
    ASSERT_TRUE(driver.tapRow("work"));
    ASSERT_TRUE(driver.tapRow("home"));
    EXPECT_EQ(ns::describe(info->stringForKey("curIndexes")), "2,0,1");
    ASSERT_TRUE(driver.tapRow("work"));
    EXPECT_EQ(ns::describe(info->stringForKey("curIndexes")), "2,1");
    ASSERT_TRUE(list->tableView()->cellForRowAtIndexPath(ui::IndexPath::forRow(0, 0)));
    EXPECT_EQ(list->tableView()->cellForRowAtIndexPath(ui::IndexPath::forRow(0, 0))->accessoryType(),
              ui::TableViewCellAccessoryType::None);
    EXPECT_EQ(nav()->topViewController(), list.get());
    ASSERT_TRUE(driver.tapBarButton("Done"));
    EXPECT_EQ(nav()->topViewController(), form.get());
    EXPECT_EQ(ns::describe(form->formValues()->stringForKey("tags")), "cards,home");

    // Unticking everything gives "-1": the value goes and the start shows.
    // (A new list asks the provider again.)
    ASSERT_TRUE(driver.tapRow("Tags"));
    auto again = provider->running.lock();
    ASSERT_TRUE(again && again.get() != list.get());
    again->optionsEnumerated(ns::Array::make({ns::str("work"), ns::str("home"), ns::str("cards")}));
    EXPECT_EQ(ns::describe(info->stringForKey("curIndexes")), "2,1");
    ASSERT_TRUE(driver.tapRow("cards"));
    ASSERT_TRUE(driver.tapRow("home"));
    ASSERT_TRUE(driver.tapBarButton("Done"));
    EXPECT_FALSE(form->values()->objectForKey("tags"));
    ASSERT_TRUE(form->cellForKey("tags"));
    EXPECT_EQ(form->cellForKey("tags")->detailTextLabel()->text(), "-1");
}

TEST_F(FormTest, AListThatCannotBeHadEndsAsACancel) {
    auto info = pickerInfo("Notebooks", {}, "-1");
    info->setObject(ns::num(false), "static");
    auto provider = ns::make<ColourProvider>();
    info->setObject(provider, "SHRFormOptionControllerOptionProvider");
    auto form = showForm(ns::Array::make(
        {SHRFormFieldSettings::label("Notebook", "nb", SHRFormFieldTypeOptionPicker, nullptr, info)}));
    ui::Driver driver(clock);
    ASSERT_TRUE(driver.tapRow("Notebook"));
    auto list = ns::Ref<SHRFormOptionController>(ns::as<SHRFormOptionController>(nav()->topViewController()));
    ASSERT_TRUE(list);
    // Before any list arrives a selection picks nothing, whatever its row.
    list->settings()->optionPickerInfo()->removeObjectForKey(std::string_view("itemsList"));
    for (long row : {0L, -1L}) {
        list->tableViewDidSelectRowAtIndexPath(list->tableView(), ui::IndexPath::forRow(row, 0));
        EXPECT_EQ(nav()->topViewController(), list.get()) << row;
    }
    info->setObject(ns::MutableArray::make(), "itemsList");
    list->optionsEnumerationFailedWithError(SHR::error("offline"));
    ASSERT_EQ(alerts(), (std::vector<std::string>{"No Options|Could not find any Notebooks"}));
    ASSERT_TRUE(driver.pressAlertButton("Cancel"));
    EXPECT_EQ(nav()->topViewController(), form.get());
    EXPECT_EQ(provider->calls, (std::vector<std::string>{"enumerate"}));  // it had stopped already

    // Leaving while the provider runs tells it to stop.
    ASSERT_TRUE(driver.tapRow("Notebook"));
    ASSERT_TRUE(driver.tapBarButton("Cancel"));
    EXPECT_EQ(provider->calls, (std::vector<std::string>{"enumerate", "enumerate", "cancel"}));
    EXPECT_EQ(nav()->topViewController(), form.get());
}

TEST_F(FormTest, StaticMultipleChoiceListCanBeConfirmed) {
    auto info = pickerInfo("Tags", {"work", "home"}, "1", true);
    auto form = showForm(ns::Array::make(
        {SHRFormFieldSettings::label("Tags", "tags", SHRFormFieldTypeOptionPicker, ns::str("home"), info)}));
    ASSERT_TRUE(form->cellForKey("tags"));
    EXPECT_EQ(form->cellForKey("tags")->detailTextLabel()->text(), "home");
    ui::Driver driver(clock);
    ASSERT_TRUE(driver.tapRow("Tags"));
    ASSERT_TRUE(driver.tapRow("work"));
    ASSERT_TRUE(driver.tapBarButton("Done"));
    EXPECT_EQ(nav()->topViewController(), form.get());
    EXPECT_EQ(ns::describe(form->formValues()->stringForKey("tags")), "home,work");
}

TEST(SHRFormFieldSettingsTest, OptionPickerValueForIndexes) {
    auto s = SHRFormFieldSettings::label("C", "c", SHRFormFieldTypeOptionPicker, nullptr,
                                         pickerInfo("C", {"a", "b", "c"}, "-1"));
    EXPECT_EQ(ns::describe(s->optionPickerValueForIndexes(ns::str("-1").get())), "-1");
    EXPECT_EQ(ns::describe(s->optionPickerValueForIndexes(ns::str("2,0").get())), "c,a");
    EXPECT_EQ(ns::describe(s->optionPickerValueForIndexes(ns::str("1").get())), "b");
    // Indexes outside the list are skipped rather than read.
    EXPECT_EQ(ns::describe(s->optionPickerValueForIndexes(ns::str("9,1").get())), "b");
    EXPECT_EQ(ns::describe(s->optionPickerValueForIndexes(ns::str("9").get())), "-1");
}

}  // namespace
}  // namespace sharing::test

#include "sharing/ui/SHRFormControllerLargeTextField.h"

namespace sharing::test {
namespace {

class PostSharer : public ScreenSharer {
public:
    PostSharer() : ScreenSharer("PostSharer", "Posts") {}
    void sendForm(SHRFormControllerLargeTextField* f) { sent.push_back(f->text()); }
    std::vector<std::string> sent;
};

TEST_F(FormTest, LargeTextFieldFollowsTheKeyboardAndCountsCharacters) {
    auto sharer = ns::make<PostSharer>();
    auto form = ns::make<SHRFormControllerLargeTextField>();
    form->setDelegate(sharer.get(), &PostSharer::sendForm);
    EXPECT_EQ(form->maxTextLength(), 0u);
    EXPECT_FALSE(form->hasLink());
    form->setText("");
    EXPECT_FALSE(form->counter());  // no limit, image or link: no counter
    ASSERT_TRUE(form->navigationItem()->rightBarButtonItem());
    EXPECT_FALSE(form->navigationItem()->rightBarButtonItem()->isEnabled());
    EXPECT_EQ(form->navigationItem()->rightBarButtonItem()->title(), "Send to Posts");

    std::vector<std::string> keyboard;
    auto token = ns::NotificationCenter::defaultCenter()->addObserver(
        ui::kKeyboardWillShowNotification, nullptr, [&](const ns::Notification& n) { keyboard.push_back(n.name()); });
    SHR::currentHelper()->showViewController(form);
    // After appearing the text view takes the focus; the keyboard comes up and
    // the text view ends above it.
    ASSERT_EQ(keyboard.size(), 1u);
    EXPECT_TRUE(form->textView()->isFirstResponder());
    ui::View* v = form->view();
    double top = v->convertRectToView(v->bounds(), nullptr).y();
    EXPECT_EQ(form->textView()->frame().height(), 480 - 216 - top - 20);
    EXPECT_EQ(form->textView()->frame().width(), v->bounds().width());
    ASSERT_TRUE(form->textView()->font());
    EXPECT_EQ(form->textView()->font()->pointSize(), 15);

    form->setMaxTextLength(140);
    form->setImage(ui::Image::make("photo", {10, 10}));
    form->setImageTextLength(25);
    form->setText(std::string(110, 'a'));
    ASSERT_TRUE(form->counter());
    EXPECT_EQ(form->counter()->text(), "Image + 5");
    EXPECT_TRUE(form->navigationItem()->rightBarButtonItem()->isEnabled());
    // With an image, at the limit and either side of it: the "+" shows while
    // characters are left, the send button works until one is too many.
    struct Left {
        size_t typed;
        const char* counter;
        bool sendable;
    } edges[] = {{114, "Image + 1", true}, {115, "Image  0", true}, {116, "Image  -1", false}};
    for (const auto& e : edges) {
        form->setText(std::string(e.typed, 'a'));
        EXPECT_EQ(form->counter()->text(), e.counter) << e.typed;
        EXPECT_EQ(form->navigationItem()->rightBarButtonItem()->isEnabled(), e.sendable) << e.typed;
    }
    form->setText(std::string(110, 'a'));
    // The counter keeps to the bottom right corner when the screen widens.
    ui::Rect wide = v->frame();
    wide.size.width += 160;
    v->setFrame(wide);
    EXPECT_EQ(form->counter()->frame().maxX(), form->textView()->frame().width() - 15);
    ui::Driver driver(clock);
    ASSERT_TRUE(driver.typeText("", std::string(6, 'b')));
    EXPECT_EQ(form->counter()->text(), "Image  -1");  // "Image %@ " with an empty fill
    EXPECT_FALSE(form->navigationItem()->rightBarButtonItem()->isEnabled());
    form->setImage(nullptr);
    form->setText("short");
    EXPECT_EQ(form->counter()->text(), "135");

    ASSERT_TRUE(driver.tapBarButton("Send to Posts"));
    EXPECT_EQ(sharer->sent, (std::vector<std::string>{"short"}));
    EXPECT_FALSE(root->presentedViewController());
    // Sent once: the button stays off whatever the text does, and the form
    // gives its text to the sharer no more.
    form->setText("longer");
    EXPECT_FALSE(form->navigationItem()->rightBarButtonItem()->isEnabled());
    form->save();
    form->sendFormToDelegate();
    EXPECT_EQ(sharer->sent, (std::vector<std::string>{"short"}));

    // A form whose sharer is gone sends to nobody.
    auto orphan = ns::make<SHRFormControllerLargeTextField>();
    {
        auto gone = ns::make<PostSharer>();
        orphan->setDelegate(gone.get(), &PostSharer::sendForm);
    }
    orphan->setText("nobody");
    orphan->sendFormToDelegate();
    orphan->save();
    EXPECT_TRUE(orphan->navigationItem()->rightBarButtonItem()->isEnabled());
}

}  // namespace
}  // namespace sharing::test
