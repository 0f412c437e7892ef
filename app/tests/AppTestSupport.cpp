#include "app/tests/AppTestSupport.h"

namespace app::test {

void AppTest::SetUp() {
    clock = ns::make<ns::ManualClock>(1000.0);
    ns::RunLoop::main()->setClock(clock);
    homeFolder = std::make_unique<testsupport::TempDir>("apptest");
    home = homeFolder->path();
    ns::Paths::setHomeDirectory(home);
    ns::Paths::setBundleResourcePath(sampleBundle());
    ns::UserDefaults::resetStandardUserDefaults();
    analytics::Analytics::reset();
    setAppLogEcho(false);
    clearAppLog();
    // No test reaches the maker's service: the forms' posts are kept
    // here unless a test installs another poster.
    setFormPoster(ns::make<RecordingFormPoster>());
    driver = std::make_unique<ui::Driver>(clock);
}

void AppTest::TearDown() {
    if (HasFailure()) std::fprintf(stderr, "--- screen ---\n%s\n", screen().c_str());
    clock->advance(100);
    ui::Panel::resetShown();
    ui::Application::shared()->reset();
    ns::UserDefaults::resetStandardUserDefaults();
    ns::RunLoop::main()->setClock(ns::SystemClock::shared());
    homeFolder.reset();
}

ns::Ref<AppDelegate> AppTest::launchApp(ui::UserInterfaceIdiom idiom, std::string bundle) {
    // A restart: the analytics session of the former process is gone.
    analytics::Analytics::reset();
    delegate = launch(idiom, home, bundle, clock);
    driver->settle();
    return delegate;
}

void AppTest::setRegistro() {
    ns::UserDefaults::standardUserDefaults()->setObjectForKey(ns::boolean(true), "registro");
}

void AppTest::writeFile(const std::string& path, const std::string& bytes) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string AppTest::readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void PhoneAppTest::SetUp() {
    AppTest::SetUp();
    mail::MailComposeViewController::setCanSendMail(true);
    setRegistro();
    startPhone();
}

void PhoneAppTest::TearDown() {
    mail::MailComposeViewController::setCanSendMail(true);
    AppTest::TearDown();
}

mail::MailComposeViewController* shownComposer() {
    auto* w = ui::Application::shared()->keyWindow();
    return w ? dynamic_cast<mail::MailComposeViewController*>(w->topViewController()) : nullptr;
}

void sendToARefusedAddress(ui::Driver& driver) {
    ASSERT_TRUE(driver.clearText("To")) << driver.lastError();
    ASSERT_TRUE(driver.typeText("To", "j\xC3\xB6" "e@example.org")) << driver.lastError();
    ASSERT_TRUE(driver.tapBarButton("Send")) << driver.lastError();
    auto* alert = dynamic_cast<ui::AlertView*>(ui::Panel::topPanel());
    ASSERT_TRUE(alert) << "no alert says why the mail was not sent";
    EXPECT_EQ(alert->title(), "Cannot Send Mail");
    EXPECT_EQ(alert->message(), "The address \u201Cj\xC3\xB6" "e@example.org\u201D cannot be used: only addresses "
                                "written in ASCII can be sent.");
    ASSERT_TRUE(driver.pressAlertButton("OK"));
}

void dismissCannotSendMailAlert(ui::Driver& driver) {
    auto* alert = dynamic_cast<ui::AlertView*>(ui::Panel::topPanel());
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->title(), "Sending mail");
    EXPECT_EQ(alert->message(), "This device is not setup to send mail.");
    EXPECT_EQ(alert->buttonTitles(), std::vector<std::string>{"OK"});
    ASSERT_TRUE(driver.pressAlertButton("OK"));
}

}  // namespace app::test
