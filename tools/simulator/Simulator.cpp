#include "tools/simulator/Simulator.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sstream>

#include "app/ContentModel.h"
#include "app/forms/HTTPFormPoster.h"
#include "app/phone/CardFullViewController.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/SecretMasking.h"
#include "platform/mail/MailComposeViewController.h"
#include "platform/security/Keychain.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Application.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/TextField.h"
#include "platform/ui/TextScreen.h"
#include "platform/ui/WebView.h"
#include "sharing/core/SHR.h"

namespace simulator {

namespace {

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

// The deepest navigation controller on screen that can go back.
ui::NavigationController* backableNavigation(ui::ViewController* vc) {
    if (!vc) return nullptr;
    if (ui::ViewController* p = vc->presentedViewController()) {
        if (auto* n = backableNavigation(p)) return n;
        return nullptr;  // a presented screen covers what is below
    }
    for (ui::ViewController* child : vc->visibleChildViewControllers())
        if (auto* n = backableNavigation(child)) return n;
    auto* nav = dynamic_cast<ui::NavigationController*>(vc);
    if (nav && nav->viewControllers().size() > 1) return nav;
    return nullptr;
}

constexpr double kLongestWait = 86400;

// The seconds of a `wait` argument: a decimal number from 0 to a day
// ("5", "0.5"; not "0x10", "1e3" or "inf").
std::optional<double> waitSeconds(const std::string& arg) {
    double s = 0;
    if (!ui::parseNumber(arg, s) || s < 0 || s > kLongestWait) return std::nullopt;
    return s;
}

// "the alert "No data" is showing; answer it with: alert BUTTON".
std::string alertShowing() {
    ui::Panel* p = ui::Panel::topPanel();
    std::string kind = dynamic_cast<ui::ActionSheet*>(p) ? "the action sheet" : "the alert";
    if (p && !p->title().empty()) kind += " \"" + p->title() + "\"";
    return kind + " is showing; answer it with: alert BUTTON";
}

// The command word of a line, lower-cased, and the rest trimmed.
std::pair<std::string, std::string> splitCommand(const std::string& line) {
    size_t space = line.find(' ');
    std::string cmd = line.substr(0, space);
    std::transform(cmd.begin(), cmd.end(), cmd.begin(), [](unsigned char c) { return std::tolower(c); });
    return {cmd, space == std::string::npos ? std::string() : trim(line.substr(space + 1))};
}

// What `type` types: everything after the command word and the one blank
// that separates them, blanks included; only the line end is dropped.
std::string typedText(const std::string& rawLine) {
    std::string raw = rawLine.substr(0, rawLine.find_last_not_of("\r\n") + 1);
    size_t at = raw.find_first_not_of(" \t") + 4;  // after "type"
    std::string text = at < raw.size() ? raw.substr(at) : std::string();
    if (!text.empty() && (text[0] == ' ' || text[0] == '\t')) text.erase(0, 1);
    return text;
}

// A path inside the home folder as relative to it; others as they are.
std::string relativeToHome(const std::string& path) {
    namespace fs = std::filesystem;
    std::string relative = fs::path(path).lexically_relative(ns::Paths::homeDirectory()).string();
    return relative.empty() || relative.rfind("..", 0) == 0 ? path : relative;
}

// "Documents/x.plist.corrupt-1" was "Documents/x.plist".
std::string originalOf(const std::string& aside) { return aside.substr(0, aside.rfind(".corrupt")); }

}  // namespace

const char* Simulator::commandHelp() {
    return "Commands, one a line:\n"
           "  screen                   print the screen\n"
           "  tap TEXT                 tap the first visible button, row, cell, tab or field called TEXT\n"
           "                           (what lies under a form, a sheet or an alert cannot be tapped)\n"
           "  delete TEXT              swipe the row called TEXT away and press Delete\n"
           "  tapat X,Y [#N]           tap the screen at a point (N: tap count), e.g. on a card page\n"
           "  touch X,Y [X,Y ...]      fingers down at points; move X,Y [X,Y ...] moves them; lift lifts them\n"
           "  back                     go back one screen; on a sheet, close it as its Cancel (or Close) does\n"
           "  link HREF                follow a link (by its address or its text) in the shown card page\n"
           "  pinch in|out [STEPS]     pinch on the card page (each step changes the font size once)\n"
           "  swipe left|right         swipe sideways over the card page\n"
           "  type TEXT                type TEXT, exactly as written, into the focused field\n"
           "  clear [FIELD]            empty the focused field (or the field called FIELD)\n"
           "  return                   press the return key in the focused field\n"
           "  alert TEXT               press that button of the shown alert\n"
           "  rotate portrait|landscape\n"
           "  wait SECONDS             let time pass on the app's clock (a decimal number, 0 to 86400)\n"
           "  background               leave the app (as the home button does); foreground returns to it\n"
           "  help                     this list\n"
           "  quit\n"
           "A command that cannot be carried out is reported in one line starting with \"error:\".\n"
           "The page line of a card shows its text size, e.g. [page KORVEL_9.html] (text 14px).\n";
}

Simulator::Simulator(ns::Ref<ns::ManualClock> manualClock, std::set<std::string> setAsideBefore,
                     double formPostLimitSeconds)
    : clock_(std::move(manualClock)),
      driver_(clock_),
      setAsideSeen_(std::move(setAsideBefore)) {
    auto poster = ns::make<app::HTTPFormPoster>(formPostLimitSeconds);
    formPostLimit_ = poster->timeLimitSeconds();
    posts_ = ns::make<FormPostWatcher>(poster);
    app::setFormPoster(posts_);
    // Mail already in the outbox from earlier sessions is not news.
    std::error_code ec;
    namespace fs = std::filesystem;
    std::string outbox = mail::MailComposeViewController::outboxDirectory();
    for (auto it = fs::directory_iterator(outbox, ec); !ec && it != fs::directory_iterator(); it.increment(ec))
        outboxSeen_.insert(it->path().string());
    urlsSeen_ = ui::Application::shared()->openedURLs().size();
}

bool Simulator::fail(std::string why) {
    error_ = std::move(why);
    return false;
}

bool Simulator::run(const std::string& rawLine, std::ostream& out) {
    error_.clear();
    std::string line = trim(rawLine);
    if (line.empty() || line[0] == '#') return true;
    auto [cmd, arg] = splitCommand(line);

    bool ok = true;
    if (cmd == "screen") {
        driver_.settle();
        out << driver_.screen();
        if (!driver_.screen().empty() && driver_.screen().back() != '\n') out << '\n';
    } else if (cmd == "tap") {
        ok = arg.empty() ? fail("tap what? (tap TEXT)") : tap(arg);
    } else if (cmd == "delete") {
        if (arg.empty()) ok = fail("delete what? (delete TEXT)");
        else if (ui::Panel::topPanel()) ok = fail(alertShowing());
        else ok = driver_.deleteRow(arg) || fail(driver_.lastError());
    } else if (cmd == "back") {
        ok = back();
    } else if (cmd == "link") {
        ok = arg.empty() ? fail("link what? (link HREF)") : link(arg);
    } else if (cmd == "pinch") {
        ok = pinch(arg);
    } else if (cmd == "swipe") {
        ok = swipe(arg);
    } else if (cmd == "type") {
        ok = driver_.typeText("", typedText(rawLine)) || fail(driver_.lastError());
    } else if (cmd == "clear") {
        ok = driver_.clearText(arg) || fail(driver_.lastError());
    } else if (cmd == "return") {
        // On a search bar the keyboard's return key is its Search key.
        if (dynamic_cast<ui::SearchBar*>(ui::Responder::currentFirstResponder()))
            ok = driver_.pressSearch() || fail(driver_.lastError());
        else
            ok = driver_.pressReturn() || fail(driver_.lastError());
    } else if (cmd == "alert") {
        ok = arg.empty() ? fail("which button? (alert TEXT)")
                         : (driver_.pressAlertButton(arg) || fail(driver_.lastError()));
    } else if (cmd == "rotate") {
        if (arg == "portrait") driver_.rotate(ui::DeviceOrientation::Portrait);
        else if (arg == "landscape") driver_.rotate(ui::DeviceOrientation::LandscapeLeft);
        else ok = fail("rotate portrait or rotate landscape");
    } else if (cmd == "wait") {
        if (auto s = waitSeconds(arg)) {
            letFormPostsAnswer();
            driver_.advance(*s);
        } else {
            ok = fail("wait SECONDS (a number from 0 to 86400)");
        }
    } else if (cmd == "background") {
        ui::Application::shared()->enterBackground();
    } else if (cmd == "foreground") {
        ui::Application::shared()->becomeActive();
    } else if (cmd == "help") {
        out << commandHelp();
    } else if (cmd == "quit" || cmd == "exit") {
        quit_ = true;
    } else if (cmd == "tapat" || cmd == "touch" || cmd == "move" || cmd == "lift") {
        // Touches at points of the screen, in the driver's own words. An
        // alert takes every touch, as it takes `tap`, `pinch` and `swipe`.
        if (ui::Panel::topPanel()) {
            ok = fail(alertShowing());
        } else {
            ui::Driver::Result r = driver_.perform(line);
            ok = r.ok || fail(r.output);
        }
    } else {
        ok = fail("unknown command \"" + cmd + "\" (help lists them)");
    }
    // What was typed is quoted in the error line at most so long.
    for (const std::string* typed : {&arg, &cmd})
        if (!ok && typed->size() > kQuoteLimit)
            for (size_t at = error_.find(*typed); at != std::string::npos; at = error_.find(*typed, at + 1))
                error_.replace(at, typed->size(), shortened(*typed));
    reportEvents(out);
    return ok;
}

std::string Simulator::failureText(const std::string& line) const {
    return ui::TextScreen::printable(shortened(line), false) + ": " + ui::TextScreen::printable(error_, false);
}

std::string Simulator::shortened(const std::string& text) {
    size_t bytes = 0, chars = 0;
    while (bytes < text.size() && chars < kQuoteLimit) {
        unsigned char c = static_cast<unsigned char>(text[bytes]);
        bytes += c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        ++chars;
    }
    if (bytes >= text.size()) return text;
    return text.substr(0, bytes) + "...";
}

bool Simulator::tap(const std::string& text) {
    if (ui::Panel::topPanel()) return fail(alertShowing());
    // The first kind of element called so that a touch reaches; else why the
    // first one found cannot be tapped (covered, disabled, ...).
    std::string refusal;
    const std::function<bool()> kinds[] = {
        [&] { return driver_.tapButton(text); },
        [&] { return driver_.tapRow(text); },
        [&] { return driver_.tapTab(text); },
        [&] { return driver_.tapTextInput(text); },
        [&] { return driver_.tapBarButton(text); },
    };
    for (auto& tapKind : kinds) {
        if (tapKind()) return true;
        if (refusal.empty() && driver_.lastFailure() == ui::Driver::Failure::Refused) refusal = driver_.lastError();
    }
    if (!refusal.empty()) return fail(refusal);
    return fail("nothing called \"" + text + "\" on the screen");
}

bool Simulator::back() {
    if (ui::Panel::topPanel()) return fail(alertShowing());
    ui::Window* w = driver_.window();
    if (!w) return fail("no window");
    // An overlay laid over the screen (the full card, a form), wherever it
    // lies, is what a person sees on top: it is closed first, by its own
    // Cancel or Close, and nothing is taken away from under it.
    if (ui::View* cover = driver_.overlayOnScreen()) return closeOverlay(cover);
    ui::NavigationController* nav = backableNavigation(w->rootViewController());
    // On a presented screen or sheet with nothing to pop: close it as its
    // Cancel (or Close) would.
    if (!nav && w->modalLayer()) return closeSheet();
    if (!nav) return fail("there is no screen to go back to");
    ns::Ref<ui::NavigationController> keep(nav);
    if (!nav->isNavigationBarHidden()) return driver_.tapBarButton(nav->backButtonTitle()) || fail(driver_.lastError());
    // The screen's own back button sits at its top left; what covers that
    // place keeps the person from it.
    ui::View* top = nav->topViewController() ? nav->topViewController()->view() : nav->view();
    ui::Point corner = top->convertPointToView({std::min(30.0, top->bounds().width() / 2), 22}, nullptr);
    if (std::string why = driver_.obstruction(top, corner); !why.empty())
        return fail("the way back is " + why);
    nav->popViewControllerAnimated(true);
    driver_.settle();
    return true;
}

bool Simulator::closeSheet() {
    // The sheet's own way out, as a person looks for it: Cancel, then Close,
    // as a bar button, a button or a search bar's Cancel.
    for (const char* word : {"Cancel", "Close"}) {
        if (driver_.findBarButton(word)) return driver_.tapBarButton(word) || fail(driver_.lastError());
        if (driver_.findButton(word)) return driver_.tapButton(word) || fail(driver_.lastError());
    }
    // The phone's full card has no way out of its own: it goes when the
    // phone is turned upright again.
    if (dynamic_cast<app::CardFullViewController*>(driver_.window()->topViewController()))
        return fail("the full card closes when the phone is turned upright; turn it with: rotate portrait");
    return fail("this screen has no Cancel or Close to leave it by");
}

namespace {
// A visible button of `v`'s tree titled `title`.
bool hasButton(ui::View* v, const std::string& title) {
    if (v->isHidden() || v->alpha() < 0.01) return false;
    if (auto* b = dynamic_cast<ui::Button*>(v); b && b->currentTitle() == title) return true;
    for (auto& sub : v->subviews())
        if (hasButton(sub.get(), title)) return true;
    return false;
}
}  // namespace

bool Simulator::closeOverlay(ui::View* cover) {
    for (const char* word : {"Cancel", "Close"})
        if (hasButton(cover, word)) return driver_.tapButton(word) || fail(driver_.lastError());
    return fail("the way back is covered by " + cover->coverName() + "; answer it first");
}

bool Simulator::link(const std::string& textOrHref) {
    bool inPage = false;
    if (!ui::Panel::topPanel())
        if (ui::WebView* page = driver_.visibleWebView(); page && driver_.obstruction(page, ui::Driver::centerOf(page)).empty())
            for (auto& l : page->links())
                if (l.text == textOrHref || l.href == textOrHref) inPage = true;
    if (driver_.followLink(textOrHref)) return true;
    // A card page handles many links itself (another card, the mail
    // composer, the system's browser) and then does not load them: the tap
    // did its work.
    if (inPage) return true;
    return fail(driver_.lastError());
}

bool Simulator::pinch(const std::string& args) {
    std::istringstream in(args);
    std::string direction;
    in >> direction;
    long steps = 1;
    std::string count;
    if (in >> count) {
        double n = 0;
        if (!ui::parseNumber(count, n) || n < 1 || n > 100 || n != static_cast<long>(n))
            return fail("pinch in|out [STEPS] (STEPS a whole number from 1 to 100)");
        steps = static_cast<long>(n);
    }
    if (direction != "in" && direction != "out") return fail("pinch in or pinch out");
    if (ui::Panel::topPanel()) return fail(alertShowing());
    ui::WebView* page = driver_.visibleWebView();
    if (!page) return fail("no card page on the screen");
    ui::Point c = ui::Driver::centerOf(page);
    if (std::string why = driver_.obstruction(page, c); !why.empty()) return fail("the card page is " + why);
    // Each move changes the fingers' distance by 10 points (one step); the
    // fingers stay on the page, so long pinches are made of several gestures.
    while (steps > 0) {
        long n = std::min(steps, 20L);
        double lo = 60.0, hi = 60.0 + 10.0 * static_cast<double>(n);
        if (direction == "out") driver_.pinch(c, lo, hi, static_cast<int>(n));
        else driver_.pinch(c, hi, lo, static_cast<int>(n));
        steps -= n;
    }
    return true;
}

bool Simulator::swipe(const std::string& arg) {
    if (arg != "left" && arg != "right") return fail("swipe left or swipe right");
    if (ui::Panel::topPanel()) return fail(alertShowing());
    ui::WebView* page = driver_.visibleWebView();
    if (!page) return fail("no card page on the screen");
    ui::Point c = ui::Driver::centerOf(page);
    if (std::string why = driver_.obstruction(page, c); !why.empty()) return fail("the card page is " + why);
    double dx = arg == "right" ? 75.0 : -75.0;
    driver_.swipe({c.x - dx, c.y}, {c.x + dx, c.y}, 4);
    return true;
}

std::optional<double> Simulator::realTimeWait(const std::string& line) const {
    if (clock_) return std::nullopt;
    auto [cmd, arg] = splitCommand(trim(line));
    return cmd == "wait" ? waitSeconds(arg) : std::nullopt;
}

std::set<std::string> Simulator::setAsideFiles() {
    namespace fs = std::filesystem;
    std::set<std::string> found;
    fs::path home = ns::Paths::homeDirectory();
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(home, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (it.depth() == 0 && it->path().filename() == "Outbox") {
            it.disable_recursion_pending();
            continue;
        }
        std::string name = it->path().filename().string();
        if (name.find(".corrupt") != std::string::npos && name.rfind(".corrupt", 0) != 0)
            found.insert(it->path().lexically_relative(home).string());
    }
    return found;
}

// On the manual clock the network is the one thing that does not wait for
// `wait`: a form post's answer is taken before time moves on, so a script
// sees the same screens on every run. The post's time limit bounds this: a
// post has ended, answered or given up, by then.
void Simulator::letFormPostsAnswer() {
    if (!clock_) return;
    ns::RunLoop::main()->runUntil([this] { return !posts_->waiting(); },
                                  formPostLimit_ + kFormPostAnswerMarginSeconds);
}

void Simulator::reportEvents(std::ostream& out) {
    const auto& urls = ui::Application::shared()->openedURLs();
    if (urls.size() < urlsSeen_) urlsSeen_ = 0;
    for (; urlsSeen_ < urls.size(); ++urlsSeen_) out << "Opened URL: " << ns::maskSecretsInURL(urls[urlsSeen_]) << "\n";
    for (const std::string& line : posts_->takeStartedLines()) out << line << "\n";
    std::error_code ec;
    namespace fs = std::filesystem;
    std::string outbox = mail::MailComposeViewController::outboxDirectory();
    for (auto it = fs::directory_iterator(outbox, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
        if (!it->is_regular_file()) continue;
        std::string p = it->path().string();
        if (outboxSeen_.insert(p).second) out << "Mail written: " << p << "\n";
    }
    // The keychain's damaged copies: moved aside, and deleted (or emptied)
    // by a logout, maybe within one command, so the folder alone may never
    // show them. One line for each copy, naming it.
    const auto events = sec::keychainSetAsideEvents();
    if (events.size() < keychainEventsSeen_) keychainEventsSeen_ = 0;
    using Kind = sec::KeychainSetAsideEvent::Kind;
    auto logoutDid = [](Kind kind) {
        return kind == Kind::Deleted ? std::string("deleted by a logout, as it may hold passwords")
                                     : std::string("emptied by a logout, as it may hold passwords, but not deleted");
    };
    // A copy moved aside and removed within this report is one line.
    std::set<size_t> toldWithMove;
    for (size_t i = keychainEventsSeen_; i < events.size(); ++i) {
        const auto& e = events[i];
        std::string file = relativeToHome(e.file);
        if (e.kind == Kind::MovedAside) {
            if (!setAsideSeen_.insert(file).second) continue;
            out << "Unreadable file moved aside: " << relativeToHome(e.original) << " is now " << file;
            for (size_t j = i + 1; j < events.size(); ++j)
                if (events[j].kind != Kind::MovedAside && events[j].file == e.file) {
                    out << ", then " << logoutDid(events[j].kind);
                    toldWithMove.insert(j);
                    break;
                }
            out << "\n";
        } else if (!toldWithMove.count(i)) {
            out << "Damaged keychain copy " << logoutDid(e.kind) << ": " << file << "\n";
        }
        // Gone: a later copy of that name is news again.
        if (e.kind == Kind::Deleted) setAsideSeen_.erase(file);
    }
    keychainEventsSeen_ = events.size();
    for (const std::string& aside : setAsideFiles())
        if (setAsideSeen_.insert(aside).second)
            out << "Unreadable file moved aside: " << originalOf(aside) << " is now " << aside << "\n";
    const auto& kept = app::unreadableKeptFiles();
    if (kept.size() < keptSeen_) keptSeen_ = 0;
    for (; keptSeen_ < kept.size(); ++keptSeen_)
        out << "Unreadable file kept as it is: " << kept[keptSeen_]
            << " could not be read nor moved aside; the list starts empty and nothing is saved over the file\n";
    std::string unfinished = sharing::SHR::unfinishedLogoutReason();
    if (!unfinished.empty() && !logoutUnfinishedTold_)
        out << "Logout not finished: a logout cut short could not be finished (" << unfinished
            << "); the logins it names are removed as soon as it can be\n";
    else if (unfinished.empty() && logoutUnfinishedTold_)
        out << "Logout finished: the logins the logout cut short named are removed\n";
    logoutUnfinishedTold_ = !unfinished.empty();
}

}  // namespace simulator
