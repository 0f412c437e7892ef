// Launch: splash timings, the interface of each idiom, the sign-up overlay
// and the "registro" flag, first launch and restart with the Documents files.
#include "app/tests/AppTestSupport.h"

#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <random>

#include "app/SplashViewControllers.h"
#include "app/HomeLock.h"
#include "app/forms/UIViewSingUp.h"
#include "app/phone/UITabBarController_iPhone.h"
#include "app/tablet/HomeViewController.h"
#include "platform/foundation/FileIO.h"
#include "sharing/core/KeychainStore.h"
#include "sharing/core/SHR.h"
#include "sharing/sharers/facebook/SHRFacebook.h"
#include "testsupport/ChildProcess.h"
#include "testsupport/FullDisk.h"

namespace app::test {

namespace {
bool tabBarShown() {
    auto* w = ui::Application::shared()->keyWindow();
    return w && dynamic_cast<UITabBarController_iPhone*>(w->rootViewController());
}
bool homeShown() {
    auto* w = ui::Application::shared()->keyWindow();
    auto* nav = w ? dynamic_cast<ui::NavigationController*>(w->rootViewController()) : nullptr;
    return nav && dynamic_cast<HomeViewController*>(nav->topViewController());
}
UIViewSingUp* signUpOverlay() {
    auto* w = ui::Application::shared()->keyWindow();
    if (!w || !w->rootViewController()) return nullptr;
    for (auto& v : w->rootViewController()->view()->subviews())
        if (auto* o = dynamic_cast<UIViewSingUp*>(v.get())) return o;
    return nullptr;
}
}  // namespace

TEST_F(AppTest, PhoneShowsTheTabBarAfterItsFourFadesAndNotBefore) {
    launchPhone();
    auto* splash = dynamic_cast<SplashViewController_iPhone*>(delegate->window()->rootViewController());
    ASSERT_TRUE(splash);
    EXPECT_EQ(splash->imgFondo()->alpha(), 1.0);  // the first fade's end state is applied at once
    EXPECT_EQ(splash->imgElemento1()->alpha(), 0.0);
    driver->advance(3.999);
    EXPECT_FALSE(tabBarShown());
    EXPECT_EQ(splash->index(), 3);
    driver->advance(0.001);
    ASSERT_TRUE(tabBarShown());
    EXPECT_TRUE(screenHas("Tabs: Deck index* | Tactics | Practice | Search | More")) << screen();
}

TEST_F(AppTest, TabletShowsTheHomeScreenAfterThreeFades) {
    launchTablet();
    auto* splash = dynamic_cast<SplashViewController_iPad*>(delegate->window()->rootViewController());
    ASSERT_TRUE(splash);
    EXPECT_EQ(splash->index(), 1);
    EXPECT_EQ(splash->imgFondo()->alpha(), 1.0);
    driver->advance(2.999);
    EXPECT_FALSE(homeShown());
    driver->advance(0.001);
    EXPECT_TRUE(homeShown());
    EXPECT_TRUE(screenHas("[About you]")) << screen();
}

TEST_F(AppTest, SignUpOverlayWhileRegistroIsUnsetOnly) {
    startPhone();
    UIViewSingUp* overlay = signUpOverlay();
    ASSERT_TRUE(overlay);
    EXPECT_EQ(overlay->frame().origin.y, 60);
    driver->advance(0.5);
    EXPECT_TRUE(screenHas("Sign up for news from Tarnwick")) << screen();

    // Any object under "registro" keeps it away, on both idioms.
    ns::UserDefaults::standardUserDefaults()->setObjectForKey(ns::str("no"), "registro");
    startPhone();
    EXPECT_TRUE(tabBarShown());
    EXPECT_FALSE(signUpOverlay());
    startTablet();
    EXPECT_TRUE(homeShown());
    EXPECT_FALSE(signUpOverlay());

    ns::UserDefaults::standardUserDefaults()->removeObjectForKey("registro");
    startTablet();
    overlay = signUpOverlay();
    ASSERT_TRUE(overlay);
    EXPECT_EQ(overlay->frame().origin.y, 0);
    EXPECT_EQ(overlay->autoresizingMask(), 63u);
}

TEST_F(AppTest, RefusingTheSignUpSetsRegistroAndClosesTheOverlay) {
    startPhone();
    driver->advance(0.5);
    ASSERT_TRUE(driver->tapButton("No, thanks")) << driver->lastError();
    auto registro = ns::UserDefaults::standardUserDefaults()->objectForKey("registro");
    ASSERT_TRUE(registro);
    ASSERT_TRUE(ns::as<ns::Number>(registro.get()));
    EXPECT_TRUE(ns::as<ns::Number>(registro.get())->boolValue());
    EXPECT_TRUE(signUpOverlay());  // closing takes 0.5 s
    driver->advance(0.5);
    EXPECT_FALSE(signUpOverlay());
    auto events = analytics::Analytics::currentSession().events;
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().name, "RegistrationCancelled");
    // The next launch shows no overlay.
    startPhone();
    EXPECT_FALSE(signUpOverlay());
}

TEST_F(AppTest, FirstLaunchStartsEmptyAndSavesReadBackAfterRestart) {
    setenv("DECK_UNUSED", "", 1);
    launchTablet();
    EXPECT_EQ(delegate->allFavorites()->count(), 0u);
    EXPECT_EQ(delegate->allGroups()->count(), 0u);
    EXPECT_FALSE(fs::exists(documents("Favorites-VeltraIpad.plist")));
    auto card = ns::cast<ns::Dictionary>(delegate->allCards()->at(0))->mutableCopy();
    card->setObject(ns::str("YES"), "Editable");
    ASSERT_TRUE(delegate->addFavorite(card));
    auto group = ns::Dictionary::make({{"Title", ns::str("Mine")},
                                       {"Children", ns::Array::make({delegate->allCards()->at(1)})},
                                       {"color", ns::str("silver")},
                                       {"Editable", ns::str("YES")}});
    ASSERT_TRUE(delegate->addGroup(group));
    EXPECT_TRUE(fs::exists(documents("Favorites-VeltraIpad.plist")));
    EXPECT_TRUE(fs::exists(documents("Grupos-VeltraIpad.plist")));
    EXPECT_TRUE(delegate->ExistingCard(ns::str("Tell me about yourself").get()));
    EXPECT_TRUE(delegate->ExistingCard(nullptr));
    EXPECT_FALSE(delegate->ExistingCard(ns::str("Greatest strength").get()));

    launchTablet();
    ASSERT_EQ(delegate->allFavorites()->count(), 1u);
    ASSERT_EQ(delegate->allGroups()->count(), 1u);
    auto* fav = ns::as<ns::Dictionary>(delegate->allFavorites()->objectAtIndex(0));
    ASSERT_TRUE(fav);
    EXPECT_EQ(ns::describe(fav->stringForKey("title")), "Tell me about yourself");
    EXPECT_EQ(ns::describe(fav->stringForKey("Editable")), "YES");
    auto* g = ns::as<ns::Dictionary>(delegate->allGroups()->objectAtIndex(0));
    ASSERT_TRUE(g);
    EXPECT_EQ(ns::describe(g->stringForKey("Title")), "Mine");
    // Read back as mutable arrays: later changes go on working.
    EXPECT_TRUE(delegate->removeFavoriteAtIndex(0));
    launchTablet();
    EXPECT_EQ(delegate->allFavorites()->count(), 0u);
}

TEST_F(AppTest, HomeButtonOpensTheHubAndLogsTheEvent) {
    setRegistro();
    startTablet();
    ASSERT_TRUE(driver->tapButton("Experience")) << driver->lastError();
    auto events = analytics::Analytics::currentSession().events;
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().name, "HomeButtonClick");
    ASSERT_TRUE(events.back().parameters);
    EXPECT_EQ(ns::as<ns::Number>(events.back().parameters->objectForKey("ButtonIndex"))->integerValue(), 1);
    EXPECT_TRUE(screenHas("Experience")) << screen();
    auto* nav = dynamic_cast<ui::NavigationController*>(delegate->window()->rootViewController());
    ASSERT_TRUE(nav);
    EXPECT_EQ(nav->viewControllers().size(), 2u);
    EXPECT_TRUE(nav->isNavigationBarHidden());

    // The session started at launch follows the app: away for longer than
    // the pause allowance, it ends with the event in it and a new one starts.
    ui::Application::shared()->enterBackground();
    EXPECT_EQ(analytics::Analytics::currentSession().state, analytics::SessionState::Paused);
    driver->advance(60);
    ui::Application::shared()->becomeActive();
    auto ended = analytics::Analytics::endedSessions();
    ASSERT_EQ(ended.size(), 1u);
    EXPECT_EQ(ended[0].events.back().name, "HomeButtonClick");
    EXPECT_EQ(analytics::Analytics::currentSession().state, analytics::SessionState::Running);
    EXPECT_TRUE(analytics::Analytics::currentSession().events.empty());
}

TEST_F(AppTest, RotatingTheTabletHomeSwapsItsBackground) {
    setRegistro();
    startTablet();
    auto* nav = dynamic_cast<ui::NavigationController*>(delegate->window()->rootViewController());
    ASSERT_TRUE(nav);
    auto* home = dynamic_cast<HomeViewController*>(nav->topViewController());
    ASSERT_TRUE(home);
    EXPECT_EQ(imageName(home->imgFondo()), "fondo_ipad_portrait.png");
    driver->rotate(ui::DeviceOrientation::LandscapeLeft);
    EXPECT_EQ(imageName(home->imgFondo()), "fondo_ipad_landscape.png");
    driver->rotate(ui::DeviceOrientation::Portrait);
    EXPECT_EQ(imageName(home->imgFondo()), "fondo_ipad_portrait.png");
}

}  // namespace app::test

namespace app::test {

TEST_F(AppTest, ASplashLeftBehindByARelaunchInstallsNothing) {
    launchPhone();
    auto first = delegate;
    ns::Ref<ui::ViewController> oldSplash(first->window()->rootViewController());
    driver->advance(1.5);
    launchTablet();  // the old splash is kept alive here, its fades still timed
    driver->advance(2.999);
    EXPECT_STREQ(delegate->window()->rootViewController()->className(), "SplashViewController_iPad");
    driver->advance(0.001);
    EXPECT_TRUE(homeShown());
    driver->advance(5);
    EXPECT_TRUE(homeShown());
    EXPECT_FALSE(tabBarShown());
}

}  // namespace app::test

namespace app::test {

TEST_F(AppTest, ALaunchWithItsSettingsLeftEmptyKeepsFoldersAndClockAndForgetsTheLastLaunch) {
    std::string bundle = home + "/bundle";  // no deck at all: the app runs without one
    fs::create_directories(bundle);
    launchApp(ui::UserInterfaceIdiom::Pad, bundle);
    ui::AlertView::make("Left over", "from the last launch", nullptr, "OK")->show();
    ASSERT_TRUE(ui::Panel::topPanel());
    // The device as the last launch left it: turned, and of another system.
    ui::Device::current()->setOrientation(ui::DeviceOrientation::LandscapeLeft);
    ui::Device::current()->setSystemVersion("9.9");
    delegate = launch(LaunchSettings{});
    ASSERT_TRUE(delegate);
    for (auto& panel : ui::Panel::visiblePanels()) {  // the last launch's alert is gone
        auto* alert = dynamic_cast<ui::AlertView*>(panel.get());
        EXPECT_FALSE(alert && alert->title() == "Left over");
    }
    EXPECT_EQ(ns::Paths::homeDirectory(), home);
    EXPECT_EQ(ns::Paths::bundleResourcePath(), bundle);
    EXPECT_EQ(ns::RunLoop::main()->clock().get(), clock.get());
    EXPECT_FALSE(ui::isPad());  // the phone
    EXPECT_EQ(ui::Device::current()->orientation(), ui::DeviceOrientation::Portrait);
    EXPECT_EQ(ui::Device::current()->systemVersion(), "6.1");
    driver->advance(4.0);
    EXPECT_TRUE(tabBarShown()) << screen();
}

}  // namespace app::test

namespace app::test {

// The app's start finishes a logout that a kill cut short, before anything
// reads a login. A child process signs in (Twitter in the keychain,
// Facebook in the user defaults) and logs out in a loop until a kill falls
// between the logout's keychain write and its user-defaults write; the app
// started on that home then holds neither login.
TEST_F(AppTest, TheStartFinishesALogoutThatAKillCutShort) {
    auto twitterKey = [] {
        return sharing::KeychainStore::passwordForService(ns::str("SHR_AUTH_SHRTwitter").get(),
                                                          ns::str("accessKey").get());
    };
    // The defaults as the file holds them, read without starting the app
    // or the sharing layer.
    auto facebookToken = [] {
        auto file = ns::make<ns::UserDefaults>(ns::UserDefaults::standardUserDefaults()->path());
        return file->objectForKey(sharing::kSHRFacebookAccessToken);
    };
    std::mt19937 rng(6);
    bool cutShort = false;
    for (int round = 0; round < 80 && !cutShort; ++round) {
        pid_t child = testsupport::startChildAndWaitUntilReady([](const std::function<void()>& ready) {
            for (;;) {
                sharing::KeychainStore::setPasswordsForServices(
                    {{"SHR_AUTH_SHRTwitter", "accessKey", ns::str("key")},
                     {"SHR_AUTH_SHRTwitter", "accessSecret", ns::str("secret")}});
                sharing::SHR::setDefaultsValues({{sharing::kSHRFacebookAccessToken, ns::str("token")}});
                if (!sharing::SHR::logoutOfAll()) ::_exit(3);
                ready();
            }
        });
        ASSERT_GT(child, 0) << "round " << round;
        ::usleep(std::uniform_int_distribution<unsigned>(0, 150000)(rng));
        ASSERT_EQ(testsupport::killChild(child), "") << "round " << round;
        cutShort = !twitterKey() && facebookToken();
    }
    ASSERT_TRUE(cutShort) << "no kill fell inside a logout";

    launchPhone();
    EXPECT_FALSE(twitterKey());
    EXPECT_FALSE(facebookToken()) << "the logout was not finished";
    EXPECT_FALSE(ns::UserDefaults::standardUserDefaults()->objectForKey(sharing::kSHRFacebookAccessToken));
}

}  // namespace app::test

namespace app::test {

// A launch on a home folder another process is using is refused: no
// delegate, the reason names the home, and nothing there changes. Homes
// of its own launch as before, one after another in this process; once
// the other process is gone its home launches too.
TEST_F(AppTest, ALaunchOnAHomeAnotherProcessUsesIsRefused) {
    testsupport::TempDir otherHome{"apptest-other"};
    const std::string other = otherHome.path();
    launchPhone();
    ASSERT_TRUE(delegate);
    pid_t holder = testsupport::startChildAndWaitUntilReady([&](const std::function<void()>& ready) {
        std::string why;
        if (!claimHome(other, &why)) ::_exit(3);
        ready();
        for (;;) ::pause();
    });
    ASSERT_GT(holder, 0);
    auto entries = [&] {
        std::vector<std::string> names;
        for (const auto& e : fs::recursive_directory_iterator(other)) names.push_back(e.path().string());
        return names;
    };
    const auto before = entries();
    LaunchSettings settings;
    settings.homeDir = other;
    std::string refused;
    EXPECT_FALSE(launch(settings, &refused));
    EXPECT_EQ(refused, "the home folder " + other + " is in use by another app process (process " +
                           std::to_string(holder) + "); one home folder serves one app process at a time");
    EXPECT_EQ(entries(), before);
    EXPECT_EQ(ns::Paths::homeDirectory(), home) << "the refused launch left the home as it was";
    EXPECT_EQ(ui::Application::shared()->delegateObject(), delegate.get()) << "the running app stays";

    // This process's own home launches again, and so does the other home
    // once its process has ended.
    launchPhone();
    EXPECT_TRUE(delegate);
    ASSERT_EQ(testsupport::killChild(holder), "");
    refused.clear();
    EXPECT_TRUE(launch(settings, &refused)) << refused;
    EXPECT_EQ(ns::Paths::homeDirectory(), other);
    launchPhone();  // the test's own home again, before the other one goes
}

}  // namespace app::test

namespace app::test {

// The home's lock never reaches outside the home: a symbolic link placed at
// the lock's path is not followed (no file is made where it points, nor
// written), a hard link to a file outside is locked but not written, and a
// home whose lock cannot be taken (a link there, something that is not a
// plain file, a read-only home) starts with one warning that gives the
// real reason, however often the home is claimed in the process.
TEST_F(AppTest, TheHomeLockStaysInTheHomeAndItsWarningIsGivenOnceWithTheReason) {
    namespace fs = std::filesystem;
    testsupport::TempDir outsideFolder{"apptest-outside"};
    const std::string outside = outsideFolder.path();
    auto bytes = [](const std::string& path) { return ns::readFile(path).value_or("<missing>"); };
    const struct {
        const char* name;
        std::function<void(const std::string& lock)> place;
        std::string warning;  // why, when the lock cannot be taken
    } rows[] = {
        {"a link to a file that is not there", [&](const std::string& lock) { fs::create_symlink(outside + "/made", lock); },
         "is a symbolic link, which is not followed"},
        {"a link to a file outside",
         [&](const std::string& lock) {
             ASSERT_TRUE(ns::writeFileAtomically(outside + "/kept", "kept as it is"));
             fs::create_symlink(outside + "/kept", lock);
         },
         "is a symbolic link, which is not followed"},
        {"a link to a folder outside", [&](const std::string& lock) { fs::create_symlink(outside, lock); },
         "is a symbolic link, which is not followed"},
        {"a folder", [&](const std::string& lock) { fs::create_directory(lock); }, "Is a directory"},
        {"a named pipe", [&](const std::string& lock) { ASSERT_EQ(::mkfifo(lock.c_str(), 0600), 0); },
         "is not a plain file"},
        {"a hard link to a file outside",
         [&](const std::string& lock) {
             ASSERT_TRUE(ns::writeFileAtomically(outside + "/linked", "kept as it is"));
             fs::create_hard_link(outside + "/linked", lock);
         },
         ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        testsupport::TempDir homeFolder{"apptest-lock"};
        const std::string other = homeFolder.path();
        row.place(homeLockPath(other));
        const auto outsideBefore = [&] {
            std::map<std::string, std::string> files;
            for (const auto& e : fs::directory_iterator(outside)) files[e.path().string()] = bytes(e.path().string());
            return files;
        }();
        testing::internal::CaptureStderr();
        std::string why;
        EXPECT_TRUE(claimHome(other, &why)) << why;
        EXPECT_TRUE(claimHome(other, &why)) << "claimed again: " << why;
        std::string warned = testing::internal::GetCapturedStderr();
        std::map<std::string, std::string> outsideAfter;
        for (const auto& e : fs::directory_iterator(outside)) outsideAfter[e.path().string()] = bytes(e.path().string());
        EXPECT_EQ(outsideAfter, outsideBefore) << "a file outside the home was made or written";
        if (row.warning.empty()) {
            EXPECT_EQ(warned, "");
        } else {
            std::string why = row.warning[0] == 'i' ? homeLockPath(other) + " " + row.warning : row.warning;
            EXPECT_EQ(warned, "warning: the home folder " + other + " cannot be locked (" + why +
                                  "); make sure no other app process uses it\n");
        }
        launchPhone();  // the test's own home again
    }

    // A read-only home: the lock file cannot be made; the warning says why
    // (not "No such file or directory"), once.
    testsupport::TempDir readOnlyFolder{"apptest-readonly"};
    testsupport::FullDisk readOnly(readOnlyFolder.path() + "/home");
    if (readOnly.makeReadOnly()) {
        const std::string other = readOnly.folder();
        testing::internal::CaptureStderr();
        std::string why;
        EXPECT_TRUE(claimHome(other, &why)) << why;
        EXPECT_TRUE(claimHome(other, &why)) << why;
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "warning: the home folder " + other +
                      " cannot be locked (Read-only file system); make sure no other app process uses it\n");
        launchPhone();
    } else {
        std::printf("skipped the read-only home: %s\n", readOnly.how().c_str());
    }
}

}  // namespace app::test
