// The sign-up and referral forms: field checks, the fields posted and their
// order, refusing, the reply, and the phone's keyboard moves.
#include "app/tests/AppTestSupport.h"

#include "app/forms/UIViewSingUp.h"

namespace app::test {

namespace {
std::string registro() {
    auto v = ns::UserDefaults::standardUserDefaults()->objectForKey("registro");
    return v ? v->description() : "<unset>";
}
std::vector<std::string> keysOf(const FormFields& f) {
    std::vector<std::string> k;
    for (auto& [key, value] : f) k.push_back(key);
    return k;
}
template <class T>
T* overlayOnScreen() {
    auto* w = ui::Application::shared()->keyWindow();
    for (auto& v : w->rootViewController()->view()->subviews())
        if (auto* o = dynamic_cast<T*>(v.get())) return o;
    return nullptr;
}
std::vector<std::string> eventNames() {
    std::vector<std::string> n;
    for (auto& e : analytics::Analytics::currentSession().events) n.push_back(e.name);
    return n;
}
}  // namespace

class FormTest : public AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        startPhone();
        driver->advance(0.5);
        ASSERT_TRUE(overlayOnScreen<UIViewSingUp>());
    }
    RecordingFormPoster* poster() { return recordingFormPoster(); }
};

TEST_F(FormTest, EmptyFieldsAreRefusedAndBlanksPass) {
    ASSERT_TRUE(driver->typeText("Name", "Ada"));
    ASSERT_TRUE(driver->typeText("E-mail", "ada@example.org"));
    ASSERT_TRUE(driver->tapButton("Send")) << driver->lastError();
    auto* alert = dynamic_cast<ui::AlertView*>(ui::Panel::topPanel());
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->title(), "Error");
    EXPECT_EQ(alert->message(), "You must fill in all fields");
    EXPECT_EQ(alert->buttonTitles(), std::vector<std::string>{"Accept"});
    EXPECT_TRUE(poster()->requests().empty());
    ASSERT_TRUE(driver->pressAlertButton("Accept"));

    ASSERT_TRUE(driver->typeText("University or company", "   "));
    ASSERT_TRUE(driver->tapButton("Send"));
    EXPECT_FALSE(ui::Panel::topPanel());
    ASSERT_EQ(poster()->requests().size(), 1u);
}

TEST_F(FormTest, SignUpPostsSevenFieldsAndAFinishedReplySetsRegistro) {
    ASSERT_TRUE(driver->typeText("Name", "Ada Lovelace"));
    ASSERT_TRUE(driver->typeText("University or company", "Analytical & Co"));
    ASSERT_TRUE(driver->typeText("E-mail", "ada@example.org"));
    ASSERT_TRUE(driver->tapButton("Send"));
    ASSERT_EQ(poster()->requests().size(), 1u);
    auto request = poster()->last();
    ASSERT_TRUE(request);
    EXPECT_EQ(request->url, "https://services.tarnwick.example/tarnwick/WS/Tarnwick.php");
    EXPECT_EQ(keysOf(request->fields), (std::vector<std::string>{"metodo", "name", "universityCompany", "email",
                                                                  "appId", "systemId", "version"}));
    EXPECT_EQ(request->fields[0].second, "SignUp");
    EXPECT_EQ(request->fields[2].second, "Analytical & Co");
    EXPECT_EQ(request->fields[4].second, "4");
    EXPECT_EQ(request->fields[5].second, "2");
    EXPECT_EQ(request->fields[6].second, ui::Device::current()->systemVersion());
    EXPECT_NE(request->encodedBody().find("universityCompany=Analytical%20%26%20Co"), std::string::npos);
    EXPECT_TRUE(screenHas("Loading...")) << screen();
    auto* form = overlayOnScreen<UIViewSingUp>()->singController();
    ns::Ref<ui::View> content(form->view());
    ns::Ref<ProgressHUD> hud(form->hud());
    ASSERT_TRUE(hud);
    EXPECT_EQ(hud->superview(), form->view());
    EXPECT_EQ(hud->labelText(), "Loading...");
    EXPECT_EQ(hud->mode(), ProgressHUDModeIndeterminate);
    EXPECT_EQ(hud->alpha(), 1.0);
    EXPECT_TRUE(ui::Application::shared()->isNetworkActivityIndicatorVisible());
    EXPECT_EQ(registro(), "<unset>");

    auto formDelegate = request->delegate.lock();
    ASSERT_TRUE(formDelegate);
    formDelegate->requestFinished(399, "{\"error\":false}");  // any status from 100 to 399 counts
    EXPECT_EQ(registro(), "1");
    EXPECT_FALSE(ui::Application::shared()->isNetworkActivityIndicatorVisible());
    driver->settle();
    // The reply was parsed as JSON before it was logged.
    bool logged = false;
    for (auto& line : appLogLines()) logged |= line.find("Form reply (399): {") != std::string::npos &&
                                              line.find("error") != std::string::npos &&
                                              line.find("{\"error\":false}") == std::string::npos;
    EXPECT_TRUE(logged);
    EXPECT_EQ(hud->mode(), ProgressHUDModeCustomView);
    auto* check = dynamic_cast<ui::ImageView*>(hud->indicator());
    ASSERT_TRUE(check && check->image());
    EXPECT_EQ(imageName(check), "HUDcheckmark.png");
    EXPECT_EQ(hud->labelText(), "Got it! We\u2019ll keep you posted with the latest news from Tarnwick!");
    EXPECT_TRUE(screenHas("Got it! We\u2019ll keep you posted with the latest news from Tarnwick!")) << screen();
    driver->advance(2.9);
    EXPECT_TRUE(overlayOnScreen<UIViewSingUp>());
    EXPECT_EQ(hud->alpha(), 1.0);
    driver->advance(0.1);  // "clicAceptar" after 3 s: the overlay closes over 0.5 s
    EXPECT_LT(hud->alpha(), 0.05);  // and the progress overlay fades out
    EXPECT_EQ(eventNames().back(), "RegistrationComplete");
    driver->advance(0.5);
    EXPECT_FALSE(overlayOnScreen<UIViewSingUp>());
    EXPECT_TRUE(content->transform().isDegenerate());  // it shrank away
}

TEST_F(FormTest, AFailedPostKeepsTheFormOpenAndTheFlagUnset) {
    ASSERT_TRUE(driver->typeText("Name", "Ada"));
    ASSERT_TRUE(driver->typeText("University or company", "X"));
    ASSERT_TRUE(driver->typeText("E-mail", "a@b.c"));
    ASSERT_TRUE(driver->tapButton("Send"));
    ASSERT_TRUE(poster()->last());
    ASSERT_TRUE(poster()->last()->delegate.lock());
    poster()->last()->delegate.lock()->requestFailed("connection refused");
    driver->advance(1.0);
    EXPECT_EQ(registro(), "<unset>");
    EXPECT_FALSE(screenHas("Loading...")) << screen();
    EXPECT_TRUE(overlayOnScreen<UIViewSingUp>());
    EXPECT_TRUE(driver->tapButton("Send"));  // another try
    ASSERT_EQ(poster()->requests().size(), 2u);
    EXPECT_TRUE(screenHas("Loading...")) << screen();

    // The reply goes to the log cut at 2000 bytes, never inside a character.
    auto loggedReply = [] {
        for (auto& line : appLogLines())
            if (line.rfind("Form reply (500): ", 0) == 0) return line.substr(18);
        return std::string("(none)");
    };
    for (auto [body, logged] : std::vector<std::pair<std::string, std::string>>{
             {std::string(2000, 'x'), std::string(2000, 'x')},
             {std::string(2001, 'x'), std::string(2000, 'x')},
             {std::string(1999, 'x') + "\xC3\xA9", std::string(1999, 'x')}}) {
        clearAppLog();
        ASSERT_TRUE(poster()->last());
        auto formDelegate = poster()->last()->delegate.lock();
        ASSERT_TRUE(formDelegate);
        formDelegate->requestFinished(500, body);
        EXPECT_TRUE(loggedReply() == logged) << body.size() << " bytes logged as " << loggedReply().size();
        driver->advance(1.0);
        ASSERT_TRUE(driver->tapButton("Send")) << screen();
    }

    // An answer with an error status is no better than none.
    for (int status : {500, 404, 400, 99}) {
        poster()->last()->delegate.lock()->requestFinished(status, "{\"error\":\"down\"}");
        driver->advance(1.0);
        EXPECT_EQ(registro(), "<unset>") << status;
        EXPECT_FALSE(screenHas("Loading...")) << screen();
        EXPECT_FALSE(screenHas("Got it!")) << screen();
        EXPECT_FALSE(ui::Application::shared()->isNetworkActivityIndicatorVisible());
        driver->advance(3.0);
        EXPECT_TRUE(overlayOnScreen<UIViewSingUp>());
        ASSERT_TRUE(driver->tapButton("Send")) << screen();
    }
}

TEST_F(FormTest, TheLowestStatusThatTakesTheFormIs100) {
    ASSERT_TRUE(driver->typeText("Name", "Ada"));
    ASSERT_TRUE(driver->typeText("University or company", "X"));
    ASSERT_TRUE(driver->typeText("E-mail", "a@b.c"));
    ASSERT_TRUE(driver->tapButton("Send"));
    ASSERT_TRUE(poster()->last());
    auto formDelegate = poster()->last()->delegate.lock();
    ASSERT_TRUE(formDelegate);
    formDelegate->requestFinished(100, "");
    EXPECT_EQ(registro(), "1");
}

TEST_F(FormTest, ReferralPostsEightFieldsAndRefusingItSetsRegistro) {
    ASSERT_TRUE(driver->tapButton("No, thanks"));
    driver->advance(0.5);
    ns::UserDefaults::standardUserDefaults()->removeObjectForKey("registro");
    ASSERT_TRUE(driver->tapRow("Invite a friend")) << driver->lastError() << screen();
    driver->advance(0.5);
    auto* overlay = overlayOnScreen<UIViewReferral>();
    ASSERT_TRUE(overlay);
    EXPECT_EQ(overlay->frame().origin.y, 60);
    ASSERT_TRUE(driver->typeText("Your name", "Ada"));
    ASSERT_TRUE(driver->typeText("Your e-mail", "ada@example.org"));
    ASSERT_TRUE(driver->typeText("Friend's name", "Charles"));
    ASSERT_TRUE(driver->typeText("Friend's e-mail", "charles@example.org"));
    // The keyboard covers the lower part of the form until return is pressed.
    EXPECT_FALSE(driver->tapButton("Send"));
    ASSERT_TRUE(driver->pressReturn());
    ASSERT_TRUE(driver->tapButton("Send")) << driver->lastError();
    auto request = poster()->last();
    ASSERT_TRUE(request);
    EXPECT_EQ(keysOf(request->fields), (std::vector<std::string>{"metodo", "referrerName", "userName", "referrerEmail",
                                                                  "userEmail", "appId", "systemId", "version"}));
    EXPECT_EQ(request->fields[0].second, "Referrer");
    EXPECT_EQ(request->fields[1].second, "Ada");
    EXPECT_EQ(request->fields[2].second, "Charles");
    EXPECT_EQ(request->fields[3].second, "ada@example.org");
    EXPECT_EQ(request->fields[4].second, "charles@example.org");

    // The progress overlay covers the form while the post runs.
    EXPECT_FALSE(driver->tapButton("No, thanks"));
    ASSERT_TRUE(request->delegate.lock());
    request->delegate.lock()->requestFailed("timed out");
    driver->advance(0.3);

    size_t eventsBefore = eventNames().size();
    ASSERT_TRUE(driver->tapButton("No, thanks")) << driver->lastError();
    EXPECT_EQ(registro(), "1");
    driver->advance(0.5);
    EXPECT_FALSE(overlayOnScreen<UIViewReferral>());
    EXPECT_EQ(eventNames().size(), eventsBefore);  // the referral overlay logs nothing
    startPhone();
    EXPECT_FALSE(overlayOnScreen<UIViewSingUp>());
}

TEST_F(FormTest, PhoneFormFillsItsOverlayAndTheKeyboardShrinksItUntilReturn) {
    auto* overlay = overlayOnScreen<UIViewSingUp>();
    ASSERT_TRUE(overlay && overlay->superview());
    auto* form = overlay->singController();
    ASSERT_TRUE(form);
    auto frameOf = [](const ui::View* v) { return ui::toString(v->frame()); };
    // Across the whole width of the screen below the bar.
    EXPECT_EQ(overlay->frame().x(), 0);
    EXPECT_EQ(overlay->frame().width(), overlay->superview()->bounds().width());
    // The form's window: its heading, three fields 45 points apart, the two buttons.
    std::vector<std::string> frames;
    for (auto& v : form->viewVentana()->subviews()) frames.push_back(frameOf(v.get()));
    EXPECT_EQ(frames, (std::vector<std::string>{"{{10, 20}, {300, 40}}", "{{20, 80}, {280, 31}}", "{{20, 125}, {280, 31}}",
                                                 "{{20, 170}, {280, 31}}", "{{20, 225}, {135, 40}}",
                                                 "{{165, 225}, {135, 40}}"}));
    // Every field types without correction; the e-mail field gets the
    // e-mail keyboard and no capitals, the others the plain keyboard.
    size_t fields = 0;
    for (auto& v : form->viewVentana()->subviews()) {
        auto* f = dynamic_cast<ui::TextField*>(v.get());
        if (!f) continue;
        ++fields;
        bool mail = f->placeholder() == "E-mail";
        EXPECT_EQ(f->keyboardType(), mail ? ui::KeyboardType::EmailAddress : ui::KeyboardType::Default)
            << f->placeholder();
        EXPECT_EQ(f->autocapitalizationType(),
                  mail ? ui::AutocapitalizationType::None : ui::AutocapitalizationType::Sentences)
            << f->placeholder();
        EXPECT_EQ(f->autocorrectionType(), ui::AutocorrectionType::No) << f->placeholder();
        EXPECT_EQ(f->borderStyle(), ui::BorderStyle::RoundedRect) << f->placeholder();
    }
    EXPECT_EQ(fields, 3u);
    EXPECT_EQ(ui::toString(form->scrVentana()->contentSize()), "{320, 480}");
    // The form follows its overlay when the overlay grows.
    ui::Rect grown = overlay->frame();
    grown.size.height += 100;
    overlay->setFrame(grown);
    EXPECT_EQ(form->view()->frame().height(), grown.height());

    ASSERT_TRUE(driver->typeText("Name", "Ada"));
    EXPECT_EQ(frameOf(form->scrVentana()), "{{0, 0}, {320, 264}}");  // 480 less the keyboard's 216
    ASSERT_TRUE(driver->pressReturn());
    EXPECT_EQ(frameOf(form->scrVentana()), "{{0, 0}, {320, 490}}");
}

}  // namespace app::test
