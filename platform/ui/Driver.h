// The test driver: what a person does to the screen, as calls. Used by the
// tests and by the simulator's command reader.
//
// Every operation works on the key window's visible hierarchy, returns
// false when it cannot do what was asked (the reason is in lastError()),
// and afterwards runs the main run loop's pending calls and a display pass,
// as the screen would before the next touch.
//
// Taps on buttons are real touches: began and ended at the button's centre,
// delivered through Window::sendEvent. Every element a person reaches for
// (button, row, tab, bar button, field, page) is taken only where a touch at
// its place would reach it: one lying under an overlay, a sheet or an alert,
// scrolled out of sight or off the screen is refused, and lastError() says
// why in a person's words ("row "x" is covered by the sign-up form").
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/ui/Application.h"
#include "platform/ui/Control.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TextField.h"
#include "platform/ui/WebView.h"
#include "platform/ui/Window.h"

namespace ui {

class Driver {
public:
    // `clock`: the manual clock that advance() moves; nil uses the main run
    // loop's clock when it is manual, else advance() runs the loop for that
    // much real time.
    explicit Driver(ns::Ref<ns::ManualClock> clock = nullptr);

    // -- Finding things ------------------------------------------------------
    Window* window() const;
    // The visible button whose title, accessibility label or shown name
    // (Button::displayName, e.g. its image's name) is `title`; the topmost
    // when several match.
    Button* findButton(const std::string& title) const;
    // The visible label / text field / web view / table matching.
    Label* findLabel(const std::string& text) const;
    View* findTextInput(const std::string& nameOrPlaceholder) const;
    WebView* visibleWebView() const;
    // The left or right item of a navigation bar on screen showing `title`
    // (exact first, then ignoring case), the front-most bar first.
    ns::Ref<BarButtonItem> findBarButton(const std::string& title) const;
    // Held: looking through one table lays it out again, which may take
    // views (another table among them) off the screen.
    std::vector<ns::Ref<TableView>> visibleTables() const;

    // Why a touch at `p` (window coordinates) meant for `target` would not
    // reach it: "covered by the sign-up form", "covered by the alert "X"",
    // "off the screen", "scrolled out of sight", ...; empty when it would.
    // A cover is named by its View::coverName, a presented screen by its
    // title ("the Search sheet").
    std::string obstruction(View* target, Point p) const;
    // What lies over the screen and must be answered or closed before
    // anything under it: the front-most view with a cover name (a form, the
    // progress box, the full card) that takes touches and shows on the
    // screen, the outermost of nested ones, wherever on the screen it lies.
    // A screen's own view (a presented sheet) is a screen, not an overlay.
    // Nil when nothing lies over the screen.
    View* overlayOnScreen() const;

    // -- Taps ------------------------------------------------------------------
    bool tapButton(const std::string& title);
    // Taps the row whose cell text (or detail text) is `title` in a visible
    // table, scrolling to it when it is off screen.
    bool tapRow(const std::string& title);
    bool tapRowAt(IndexPath ip, size_t tableIndex = 0);
    // Swipe-to-delete on the row with this title, then "Delete".
    bool deleteRow(const std::string& title);
    // Taps the tab with this title in the visible tab bar.
    bool tapTab(const std::string& title);
    // Taps a navigation bar button (left, right, or the back button) of the
    // visible navigation controller by its shown title.
    bool tapBarButton(const std::string& title);
    // Presses a button of the top alert or action sheet.
    bool pressAlertButton(const std::string& title);

    // -- Text --------------------------------------------------------------------
    // Focuses the text field or search bar named (placeholder, accessibility
    // label, or "" for the focused one) and types `text` key by key.
    bool typeText(const std::string& field, const std::string& text);
    bool clearText(const std::string& field);
    // Taps the text field or search bar named (as typeText finds it), which
    // focuses it.
    bool tapTextInput(const std::string& field);
    bool pressReturn();   // on the focused text field
    bool pressSearch();   // on the focused (or only visible) search bar

    // -- Web ---------------------------------------------------------------------
    // Follows the link (by its text or href) in the visible web view.
    bool followLink(const std::string& textOrHref);

    // -- Touches (window coordinates) ----------------------------------------------
    // While an alert or action sheet shows, the screen under it takes no
    // touch: each of these refuses (false, "the alert "X" is showing") and
    // delivers nothing. An alert that comes up while fingers are down takes
    // them over: the driver cancels them (touchesCancelled to the views they
    // were on), so no finger lifted later acts on what lay under it.
    //
    // Moving, lifting or cancelling with no finger down fails ("no finger
    // is down").
    //
    // A new touch sequence: one finger per point, all in the began phase.
    bool touchesBegan(const std::vector<Point>& points, unsigned tapCount = 1);
    // Moves the fingers of the sequence (point i moves finger i; fingers
    // without a point stay, stationary).
    bool touchesMoved(const std::vector<Point>& points);
    // Lifts the given fingers (all when empty); others are stationary.
    bool touchesEnded(const std::vector<size_t>& fingers = {});
    bool touchesCancelled();
    size_t fingersDown() const { return touches_.size(); }
    // Down and up at `p`.
    bool tap(Point p, unsigned tapCount = 1);
    // One finger from `from` to `to` in `steps` moves.
    bool swipe(Point from, Point to, int steps = 4);
    // Two fingers about `center`, horizontally apart, from `fromDistance`
    // to `toDistance` in `steps` moves.
    bool pinch(Point center, double fromDistance, double toDistance, int steps = 4);
    static Point centerOf(const View* v);

    // -- Device and time -----------------------------------------------------------
    void rotate(DeviceOrientation o);
    // Moves the clock (manual) or runs the main loop (real) by `seconds`.
    void advance(double seconds);
    // Runs what is pending on the main run loop and a display pass.
    void settle();

    // -- Screen ----------------------------------------------------------------------
    std::string screen() const;
    const std::string& lastError() const { return error_; }
    // What the last failed step met: nothing of that name on the screen, or
    // the element was found but could not be used (covered, disabled, ...).
    enum class Failure { None, NotFound, Refused };
    Failure lastFailure() const { return failure_; }

    // -- Commands (the simulator's and scripts' language) ----------------------------
    // One command per line; words after the command name are its argument:
    //   screen                      print the screen
    //   tap <title>                 tapButton            row <title>     tapRow
    //   delete <title>              deleteRow            tab <title>     tapTab
    //   bar <title>                 tapBarButton         alert <title>   pressAlertButton
    //   link <text or href>         followLink
    //   type <field> = <text>       typeText ("type = text" types into the focused field)
    //   clear <field>               clearText            return | search
    //   touch x,y [x,y ...] [#n]    fingers down (n: tap count); points off the screen are refused
    //   move x,y [x,y ...]          fingers move         lift [i ...]    fingers up (all)
    //   cancel                      touches cancelled    tapat x,y [#n]  tap at a point
    //   swipe x,y x,y               one-finger swipe     pinch x,y from to   two fingers
    //   rotate portrait | upside-down | landscape-left | landscape-right
    //   wait <seconds>              advance time
    // Blank lines and lines starting with "#" do nothing. `output` holds the
    // screen for "screen", the error text when ok is false.
    struct Result {
        bool ok = true;
        std::string output;
    };
    Result perform(const std::string& commandLine);

private:
    bool fail(std::string why);  // a refusal
    bool notFound(std::string why);
    // Refuses with `what` is <obstruction> when a touch at `p` would not
    // reach `target`; true when it would.
    bool canReach(View* target, Point p, const std::string& what);
    // The text input named (see findTextInput) when a person could type
    // into it now; else nil, with the reason as the last failure.
    View* textInputToUse(const std::string& field);
    // Does `act` on the row `title` of the first visible table that has one,
    // then lets the screen settle; `refusal` names what failed when `act`
    // answers false ("row "title" cannot be <refusal>").
    bool actOnRow(const std::string& title, const char* refusal, const std::function<bool(TableView*, IndexPath)>& act);
    // False (and why) while an alert or action sheet shows.
    bool touchesAllowed();
    bool deliver(TouchPhase phaseForChanged, const std::vector<size_t>& changed);
    // Cancels the fingers that are down when an alert or sheet shows.
    void cancelFingersUnderPanel();
    // Cancels the fingers whose view is no longer on the screen they
    // touched; true when there were any.
    bool cancelFingersOffScreen();
    ns::Ref<ns::ManualClock> clock_;
    std::vector<ns::Ref<Touch>> touches_;
    std::string error_;
    Failure failure_ = Failure::None;
};

// A whole command word read as a decimal number ("12", "-3", "0.5", ".5");
// false for anything else (an empty word, hexadecimal, exponents, "inf",
// "nan", trailing characters).
bool parseNumber(const std::string& s, double& out);

}  // namespace ui
