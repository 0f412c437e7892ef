#include "platform/ui/Driver.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <sstream>

#include "platform/foundation/RunLoop.h"
#include "platform/foundation/String.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/TextScreen.h"

namespace ui {

namespace {

bool equalsNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// The views of a walk, held: looking at one of them (a table asked for its
// cells, a row scrolled into view) lays the tree out again, which can take
// other views of the list out of it and free them.
using ViewList = std::vector<ns::Ref<View>>;

// Visible views of the tree in drawing order (back to front).
void visibleViews(View* v, ViewList& out) {
    if (v->isHidden() || v->alpha() < 0.01 || v->transform().isDegenerate()) return;
    out.emplace_back(v);
    for (auto& s : v->subviews()) visibleViews(s.get(), out);
}

// Visible views that can take a tap, back to front: with a presented
// controller on the window, only its view and what lies above it (nothing
// under a modal screen or sheet takes taps). The window is laid out first,
// so the walk sees the cells a table shows now, not those of an earlier
// scroll position.
ViewList visibleViewsOf(Window* w) {
    ViewList out;
    if (!w || !w->isVisible()) return out;
    ns::Ref<Window> keep(w);
    w->layoutIfNeeded();
    View* layer = w->modalLayer();
    if (!layer) {
        visibleViews(w, out);
        return out;
    }
    bool reached = false;
    for (auto& s : w->subviews()) {
        reached = reached || s.get() == layer;
        if (reached) visibleViews(s.get(), out);
    }
    return out;
}

bool reachable(Window* w, View* v) {
    auto views = visibleViewsOf(w);
    return std::any_of(views.begin(), views.end(), [v](const ns::Ref<View>& x) { return x.get() == v; });
}

// Every visible view, back to front, those under a modal screen or sheet
// too: what a person sees, though not all of it takes a touch.
ViewList allVisibleViews(Window* w) {
    ViewList out;
    if (!w || !w->isVisible()) return out;
    ns::Ref<Window> keep(w);
    w->layoutIfNeeded();
    visibleViews(w, out);
    return out;
}

std::string panelName(Panel* p) {
    std::string kind = dynamic_cast<ActionSheet*>(p) ? "the action sheet" : "the alert";
    return p->title().empty() ? kind : kind + " \"" + p->title() + "\"";
}

// What a person calls `v` when it lies over something: its cover name, or
// for the view of a presented screen "the <title> sheet" (or screen).
std::string coverNameOf(View* v) {
    if (!v->coverName().empty()) return v->coverName();
    ViewController* vc = v->viewController();
    if (vc && vc->presentingViewController()) {
        std::string title = vc->shownTitle();
        return "the " + (title.empty() ? std::string() : title + " ") + (vc->coversScreen() ? "screen" : "sheet");
    }
    return {};
}

// The name of what lies over `target` when a touch meant for it lands on
// `hit`: the outermost named view between `hit` and what the two share.
std::string coverBetween(View* hit, View* target) {
    std::string name;
    for (View* v = hit; v && !target->isDescendantOfView(v); v = v->superview())
        if (std::string n = coverNameOf(v); !n.empty()) name = n;
    return name.empty() ? std::string("another view") : name;
}

// Controllers whose bars can take a tap, back to front: the top presented
// controller's visible chain when something is presented, else the root's.
void visibleChain(ViewController* c, std::vector<ViewController*>& out) {
    out.push_back(c);
    for (auto* k : c->visibleChildViewControllers()) visibleChain(k, out);
}

std::vector<ViewController*> visibleControllers(Window* w) {
    std::vector<ViewController*> out;
    if (!w || !w->rootViewController()) return out;
    visibleChain(w->modalLayer() ? w->topViewController() : w->rootViewController(), out);
    return out;
}

bool labelMatches(View* v, const std::string& title, bool exact) {
    if (auto* l = dynamic_cast<Label*>(v)) {
        if (exact ? l->text() == title : equalsNoCase(l->text(), title)) return !l->isHidden();
    }
    for (auto& s : v->subviews())
        if (!s->isHidden() && labelMatches(s.get(), title, exact)) return true;
    return false;
}

}  // namespace

Driver::Driver(ns::Ref<ns::ManualClock> clock) : clock_(std::move(clock)) {}

bool Driver::fail(std::string why) {
    error_ = std::move(why);
    failure_ = Failure::Refused;
    return false;
}

bool Driver::notFound(std::string why) {
    error_ = std::move(why);
    failure_ = Failure::NotFound;
    return false;
}

Window* Driver::window() const { return Application::shared()->keyWindow(); }

Point Driver::centerOf(const View* v) {
    Rect b = v->bounds();
    return v->convertPointToView({b.midX(), b.midY()}, nullptr);
}

// -- Finding -------------------------------------------------------------------

namespace {
// The buttons among `views` called `title` (exact first, then ignoring
// case), the top-most last.
std::vector<ns::Ref<Button>> buttonsCalled(const ViewList& views, const std::string& title) {
    std::vector<ns::Ref<Button>> found;
    for (bool exact : {true, false}) {
        for (auto& v : views)
            if (auto* b = dynamic_cast<Button*>(v.get())) {
                const std::string t = b->currentTitle();
                const std::string shown = b->displayName();
                bool match = exact ? (t == title || b->accessibilityLabel() == title || shown == title)
                                   : (equalsNoCase(t, title) || equalsNoCase(b->accessibilityLabel(), title) ||
                                      equalsNoCase(shown, title));
                if (match) found.push_back(b);
            }
        if (!found.empty()) return found;
    }
    return found;
}
}  // namespace

Button* Driver::findButton(const std::string& title) const {
    // The top-most one a touch reaches, else the top-most one.
    auto found = buttonsCalled(visibleViewsOf(window()), title);
    for (auto it = found.rbegin(); it != found.rend(); ++it)
        if (obstruction(it->get(), centerOf(it->get())).empty()) return it->get();
    return found.empty() ? nullptr : found.back().get();
}

Label* Driver::findLabel(const std::string& text) const {
    Label* found = nullptr;
    for (auto& v : visibleViewsOf(window()))
        if (auto* l = dynamic_cast<Label*>(v.get()); l && l->text() == text) found = l;
    return found;
}

View* Driver::findTextInput(const std::string& name) const {
    if (auto* p = dynamic_cast<AlertView*>(Panel::topPanel())) {
        for (long i = 0; p->textFieldAtIndex(i); ++i) {
            TextField* f = p->textFieldAtIndex(i);
            if (name.empty() || f->placeholder() == name || f->accessibilityLabel() == name ||
                name == std::to_string(i))
                return f;
        }
    }
    if (name.empty()) {
        // The focused field or none: text never goes to a field nobody chose.
        Responder* r = Responder::currentFirstResponder();
        auto* v = dynamic_cast<View*>(r);
        return v && reachable(window(), v) ? v : nullptr;
    }
    View* found = nullptr;
    for (auto& v : visibleViewsOf(window())) {
        if (auto* f = dynamic_cast<TextField*>(v.get())) {
            if (f->placeholder() == name || f->accessibilityLabel() == name) found = f;
        } else if (auto* s = dynamic_cast<SearchBar*>(v.get())) {
            if (s->placeholder() == name || s->accessibilityLabel() == name) found = s;
        }
    }
    return found;
}

WebView* Driver::visibleWebView() const {
    WebView* found = nullptr;
    for (auto& v : visibleViewsOf(window()))
        if (auto* w = dynamic_cast<WebView*>(v.get())) found = w;
    return found;
}

std::vector<ns::Ref<TableView>> Driver::visibleTables() const {
    std::vector<ns::Ref<TableView>> out;
    for (auto& v : visibleViewsOf(window()))
        if (auto* t = dynamic_cast<TableView*>(v.get())) out.emplace_back(t);
    std::reverse(out.begin(), out.end());  // topmost first
    return out;
}

// -- Reach ------------------------------------------------------------------------

std::string Driver::obstruction(View* target, Point p) const {
    Window* w = window();
    if (!w || !target || target->window() != w) return "not on the screen";
    if (Panel* panel = Panel::topPanel()) return "covered by " + panelName(panel);
    if (!w->bounds().contains(p)) return "off the screen";
    View* hit = w->hitTest(p, nullptr);
    if (hit && (hit == target || hit->isDescendantOfView(target))) return {};
    // Under a modal screen or sheet: the touch stops at the sheet, or at
    // the window beside it.
    if (View* layer = w->modalLayer()) {
        View* top = target;  // the window's subview that holds the target
        while (top->superview() && top->superview() != w) top = top->superview();
        const auto& subs = w->subviews();
        auto at = [&](View* v) { return std::find_if(subs.begin(), subs.end(), [v](auto& x) { return x.get() == v; }); };
        if (top != w && at(top) < at(layer)) {
            std::string name = coverNameOf(layer);
            return "covered by " + (name.empty() ? std::string("another screen") : name);
        }
    }
    if (!hit) return "out of reach";
    if (!target->isDescendantOfView(hit)) return "covered by " + coverBetween(hit, target);
    // The touch stops at one of the target's own containers: the target
    // lies outside what that container shows.
    for (View* a = target->superview(); a && a != hit; a = a->superview())
        if (!a->bounds().contains(a->convertPointFromView(p, nullptr)))
            return dynamic_cast<ScrollView*>(a) ? "scrolled out of sight" : "out of view";
    return "out of reach";
}

namespace {
// The front-most named overlay in `v`'s tree that touches reach and that
// shows inside `screen` (window coordinates); the outer one of nested ones.
View* frontOverlay(View* v, const Rect& screen) {
    if (v->isHidden() || v->alpha() < 0.01 || !v->isUserInteractionEnabled() || v->transform().isDegenerate())
        return nullptr;
    if (!v->coverName().empty() && !v->viewController() && v->convertRectToView(v->bounds(), nullptr).intersects(screen))
        return v;
    const auto& subs = v->subviews();
    for (size_t i = subs.size(); i-- > 0;)
        if (View* found = frontOverlay(subs[i].get(), screen)) return found;
    return nullptr;
}
}  // namespace

View* Driver::overlayOnScreen() const {
    Window* w = window();
    if (!w || !w->isVisible()) return nullptr;
    // With a screen or sheet presented, only what lies in it or above it.
    View* layer = w->modalLayer();
    const auto& subs = w->subviews();
    for (size_t i = subs.size(); i-- > 0;) {
        View* s = subs[i].get();
        if (View* found = frontOverlay(s, w->bounds())) return found;
        if (s == layer) break;
    }
    return nullptr;
}

bool Driver::canReach(View* target, Point p, const std::string& what) {
    std::string why = obstruction(target, p);
    return why.empty() || fail(what + " is " + why);
}

// -- Taps ------------------------------------------------------------------------

bool Driver::tapButton(const std::string& title) {
    if (Panel* panel = Panel::topPanel()) return fail(panelName(panel) + " is showing");
    Button* b = findButton(title);
    if (!b) {
        auto under = buttonsCalled(allVisibleViews(window()), title);
        if (under.empty()) return notFound("no visible button \"" + title + "\"");
        return canReach(under.back().get(), centerOf(under.back().get()), "button \"" + title + "\"");
    }
    if (!b->isEnabled()) return fail("button \"" + title + "\" is disabled");
    Point p = centerOf(b);
    if (!canReach(b, p, "button \"" + title + "\"")) return false;
    return tap(p);
}

bool Driver::tapRowAt(IndexPath ip, size_t tableIndex) {
    if (Panel* panel = Panel::topPanel()) return fail(panelName(panel) + " is showing");
    auto tables = visibleTables();
    if (tableIndex >= tables.size()) return notFound("no visible table");
    ns::Ref<TableView> t = tables[tableIndex];
    t->scrollToRowAtIndexPath(ip, TableViewScrollPosition::None, false);
    if (TableViewCell* c = t->cellForRowAtIndexPath(ip); c && !canReach(c, centerOf(c), "the row")) return false;
    if (!t->userSelectRow(ip)) return fail("the row cannot be selected");
    settle();
    return true;
}

namespace {
// The cells a table shows now, held.
std::vector<ns::Ref<TableViewCell>> shownCells(TableView* t) {
    std::vector<ns::Ref<TableViewCell>> out;
    for (TableViewCell* c : t->visibleCells()) out.emplace_back(c);
    return out;
}

// Finds the row showing `title` (exact first, then ignoring case), scrolling
// through the table as a person would. Each scroll lays the table out again
// and lets cells go, so a cell is looked at only right after it was asked for.
std::optional<IndexPath> findRow(TableView* t, const std::string& title) {
    for (bool exact : {true, false}) {
        for (auto& c : shownCells(t))
            if (labelMatches(c.get(), title, exact)) return t->indexPathForCell(c.get());
        for (long s = 0; s < t->numberOfSections(); ++s)
            for (long r = 0; r < t->numberOfRowsInSection(s); ++r) {
                ns::Ref<TableViewCell> c(t->cellForRowAtIndexPath({s, r}));
                if (!c) {
                    t->scrollToRowAtIndexPath({s, r}, TableViewScrollPosition::None, false);
                    c = t->cellForRowAtIndexPath({s, r});
                }
                if (c && labelMatches(c.get(), title, exact)) return IndexPath{s, r};
            }
    }
    return std::nullopt;
}
}  // namespace

bool Driver::actOnRow(const std::string& title, const char* refusal,
                      const std::function<bool(TableView*, IndexPath)>& act) {
    if (Panel* panel = Panel::topPanel()) return fail(panelName(panel) + " is showing");
    const std::string what = "row \"" + title + "\"";
    // Looking through one table lays it out again (and its data source may
    // change other views): the tables are held, and one that left the
    // screen meanwhile is passed over.
    for (const ns::Ref<TableView>& t : visibleTables()) {
        if (t->window() != window()) continue;
        Point offset = t->contentOffset();
        auto ip = findRow(t.get(), title);
        if (!ip && !(t->contentOffset() == offset)) t->setContentOffset(offset);  // looked through, left as it was
        if (ip) {
            // The row is taken where it shows once scrolled into view.
            t->scrollToRowAtIndexPath(*ip, TableViewScrollPosition::None, false);
            ns::Ref<TableViewCell> c(t->cellForRowAtIndexPath(*ip));
            if (c && !canReach(c.get(), centerOf(c.get()), what)) return false;
            if (!act(t.get(), *ip)) return fail(what + " cannot be " + refusal);
            settle();
            return true;
        }
    }
    // A row that is seen but lies under a screen or sheet. The walk starts
    // after the tables were looked through (and laid out where they were),
    // and each table's cells are taken as it shows them now.
    for (auto& v : allVisibleViews(window()))
        if (auto* t = dynamic_cast<TableView*>(v.get()); t && t->window() == window())
            for (auto& c : shownCells(t))
                for (bool exact : {true, false})
                    if (labelMatches(c.get(), title, exact)) return canReach(c.get(), centerOf(c.get()), what);
    return notFound("no row \"" + title + "\" in a visible table");
}

bool Driver::tapRow(const std::string& title) {
    return actOnRow(title, "selected", [](TableView* t, IndexPath ip) { return t->userSelectRow(ip); });
}

bool Driver::deleteRow(const std::string& title) {
    return actOnRow(title, "deleted", [](TableView* t, IndexPath ip) { return t->userCommitEditing(ip); });
}

bool Driver::tapTab(const std::string& title) {
    if (Panel* panel = Panel::topPanel()) return fail(panelName(panel) + " is showing");
    Window* w = window();
    auto controllers = visibleControllers(w);
    // A tab bar under a presented screen is seen (on the tablet) but out of reach.
    if (w && w->modalLayer() && w->rootViewController()) visibleChain(w->rootViewController(), controllers);
    for (auto it = controllers.rbegin(); it != controllers.rend(); ++it) {
        auto* tc = dynamic_cast<TabBarController*>(*it);
        if (!tc || !tc->isViewLoaded() || !tc->tabBar()->isVisibleOnScreen()) continue;
        ns::Ref<TabBarController> keep(tc);
        const auto& tabs = tc->viewControllers();
        for (bool exact : {true, false})
            for (size_t i = 0; i < tabs.size(); ++i) {
                std::string t = tabs[i]->tabBarItem()->title();
                if (t.empty()) t = tabs[i]->title();
                if (exact ? t == title : equalsNoCase(t, title)) {
                    // The tab's place: its share of the bar's width.
                    TabBar* bar = tc->tabBar();
                    Rect b = bar->bounds();
                    Point p = bar->convertPointToView(
                        {b.minX() + (double(i) + 0.5) * b.width() / double(tabs.size()), b.midY()}, nullptr);
                    if (!canReach(bar, p, "tab \"" + title + "\"")) return false;
                    if (!tc->userSelectTab(i)) return fail("tab \"" + title + "\" refused the selection");
                    settle();
                    return true;
                }
            }
        return notFound("no tab \"" + title + "\"");
    }
    return notFound("no tab bar on screen");
}

namespace {
// The left or right item of `item` that shows `title`.
ns::Ref<BarButtonItem> barItemTitled(NavigationItem* item, const std::string& title, bool exact) {
    for (auto& b : {item->rightBarButtonItem(), item->leftBarButtonItem()}) {
        if (!b) continue;
        std::string t = b->displayTitle();
        if (exact ? t == title : equalsNoCase(t, title)) return b;
    }
    return nullptr;
}
}  // namespace

namespace {
// A bar button item on screen, the bar that shows it and the controller
// whose bar it is (kept alive while the item's action runs, as the screen
// keeps it on a device).
struct BarHit {
    ns::Ref<BarButtonItem> item;
    ns::Ref<ns::Object> owner;
    View* bar = nullptr;
    bool right = false;
};

// Where a bar's left or right item (or back button) is touched.
Point barItemPoint(View* bar, bool right) {
    Rect b = bar->bounds();
    double in = std::min(44.0, b.width() / 4);
    return bar->convertPointToView({right ? b.maxX() - in : b.minX() + in, b.midY()}, nullptr);
}

// The controllers whose bars are on screen, back to front; `anywhere` adds
// those under a presented screen (seen on the tablet, out of reach).
std::vector<ViewController*> barControllers(Window* w, bool anywhere) {
    auto controllers = visibleControllers(w);
    if (anywhere && w && w->modalLayer() && w->rootViewController()) {
        std::vector<ViewController*> under;
        visibleChain(w->rootViewController(), under);
        controllers.insert(controllers.begin(), under.begin(), under.end());
    }
    return controllers;
}

// The navigation bars' items on screen, front first: those of navigation
// controllers, then of bars used on their own (their top item).
BarHit findBarItem(Window* w, const std::string& title, bool anywhere = false) {
    struct Shown { ns::Ref<NavigationItem> item; ns::Ref<ns::Object> owner; View* bar; };
    std::vector<Shown> items;
    // The views first: walking them lays the window out, which may change
    // what the controllers show.
    ViewList views = anywhere ? allVisibleViews(w) : visibleViewsOf(w);
    auto controllers = barControllers(w, anywhere);
    for (auto it = controllers.rbegin(); it != controllers.rend(); ++it)
        if (auto* nav = dynamic_cast<NavigationController*>(*it);
            nav && !nav->isNavigationBarHidden() && nav->topViewController())
            items.push_back({ns::Ref<NavigationItem>(nav->topViewController()->navigationItem()), ns::Ref<ns::Object>(nav),
                             nav->navigationBar()});
    for (auto it = views.rbegin(); it != views.rend(); ++it)
        if (auto* bar = dynamic_cast<NavigationBar*>(it->get()); bar && bar->topItem())
            items.push_back({ns::Ref<NavigationItem>(bar->topItem()), ns::Ref<ns::Object>(bar), bar});
    for (bool exact : {true, false})
        for (auto& shown : items)
            if (auto b = barItemTitled(shown.item.get(), title, exact))
                return {b, shown.owner, shown.bar, b == shown.item->rightBarButtonItem()};
    return {};
}

// The navigation controller on screen whose back button shows `title`.
NavigationController* findBackButton(Window* w, const std::string& title, bool anywhere = false) {
    auto controllers = barControllers(w, anywhere);
    for (bool exact : {true, false})
        for (auto it = controllers.rbegin(); it != controllers.rend(); ++it) {
            auto* nav = dynamic_cast<NavigationController*>(*it);
            if (!nav || nav->isNavigationBarHidden() || !nav->topViewController()) continue;
            if (nav->topViewController()->navigationItem()->leftBarButtonItem()) continue;
            std::string back = nav->backButtonTitle();
            if (!back.empty() && (exact ? back == title : equalsNoCase(back, title))) return nav;
        }
    return nullptr;
}
}  // namespace

ns::Ref<BarButtonItem> Driver::findBarButton(const std::string& title) const {
    return findBarItem(window(), title).item;
}

bool Driver::tapBarButton(const std::string& title) {
    if (Panel* panel = Panel::topPanel()) return fail(panelName(panel) + " is showing");
    const std::string what = "bar button \"" + title + "\"";
    if (BarHit hit = findBarItem(window(), title); hit.item) {
        if (!hit.item->isEnabled()) return fail(what + " is disabled");
        if (!canReach(hit.bar, barItemPoint(hit.bar, hit.right), what)) return false;
        if (!hit.item->performAction()) return fail(what + " did nothing");
        settle();
        return true;
    }
    if (NavigationController* nav = findBackButton(window(), title)) {
        ns::Ref<NavigationController> keep(nav);
        if (!canReach(nav->navigationBar(), barItemPoint(nav->navigationBar(), false), what)) return false;
        nav->popViewControllerAnimated(true);
        settle();
        return true;
    }
    if (BarHit hit = findBarItem(window(), title, true); hit.item)
        return canReach(hit.bar, barItemPoint(hit.bar, hit.right), what);
    if (NavigationController* nav = findBackButton(window(), title, true))
        return canReach(nav->navigationBar(), barItemPoint(nav->navigationBar(), false), what);
    return notFound("no bar button \"" + title + "\" on screen");
}

bool Driver::pressAlertButton(const std::string& title) {
    Panel* p = Panel::topPanel();
    if (!p) return notFound("no alert or action sheet is showing");
    ns::Ref<Panel> keep(p);
    long i = p->indexOfButtonWithTitle(title);
    if (i < 0)
        for (long k = 0; k < p->numberOfButtons(); ++k)
            if (equalsNoCase(p->buttonTitleAtIndex(k), title)) { i = k; break; }
    if (i < 0) return notFound("the alert has no button \"" + title + "\"");
    p->pressButtonAtIndex(i);
    settle();
    return true;
}

// -- Text --------------------------------------------------------------------------

namespace {
std::vector<std::string> characters(const std::string& s) {
    std::vector<std::string> out;
    for (size_t i = 0; i < s.size();) {
        size_t n = 1;
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c >= 0xF0) n = 4;
        else if (c >= 0xE0) n = 3;
        else if (c >= 0xC0) n = 2;
        out.push_back(s.substr(i, n));
        i += n;
    }
    return out;
}
}  // namespace

namespace {
// How a person names a text input in an error line.
std::string inputName(View* v) {
    if (auto* f = dynamic_cast<TextField*>(v)) {
        std::string n = !f->accessibilityLabel().empty() ? f->accessibilityLabel() : f->placeholder();
        return n.empty() ? std::string("the text field") : "the field \"" + n + "\"";
    }
    return "the search bar";
}

bool isPanelField(Panel* panel, View* v) {
    auto* a = dynamic_cast<AlertView*>(panel);
    for (long i = 0; a && a->textFieldAtIndex(i); ++i)
        if (a->textFieldAtIndex(i) == v) return true;
    return false;
}
}  // namespace

View* Driver::textInputToUse(const std::string& field) {
    View* target = findTextInput(field);
    if (Panel* panel = Panel::topPanel()) {
        // While an alert shows, only its own fields take text.
        if (target && isPanelField(panel, target)) return target;
        fail(panelName(panel) + " is showing; text goes nowhere");
        return nullptr;
    }
    if (target) return canReach(target, centerOf(target), inputName(target)) ? target : nullptr;
    // Why the field meant cannot be used: the focused one, or one of that
    // name, lying under a screen or sheet.
    View* seen = nullptr;
    if (field.empty()) {
        seen = dynamic_cast<View*>(Responder::currentFirstResponder());
    } else {
        for (auto& v : allVisibleViews(window())) {
            auto* f = dynamic_cast<TextField*>(v.get());
            auto* b = dynamic_cast<SearchBar*>(v.get());
            if ((f && (f->placeholder() == field || f->accessibilityLabel() == field)) ||
                (b && (b->placeholder() == field || b->accessibilityLabel() == field)))
                seen = v.get();
        }
    }
    if (seen && seen->window() == window()) {
        canReach(seen, centerOf(seen), inputName(seen));
        if (failure_ == Failure::Refused) return nullptr;
    }
    notFound(field.empty() ? std::string("no text field has focus") : "no text field \"" + field + "\"");
    return nullptr;
}

namespace {
// Where `text` stops being UTF-8: the offset of its first byte that is not
// part of a character (a stray continuation byte, a cut or overlong
// sequence, a surrogate, a byte no character starts with), or npos.
size_t firstByteNotUTF8(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        size_t n = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 0;
        if (n == 0 || n > text.size() - i || !ns::isValidUTF8(text.data() + i, n)) return i;
        i += n;
    }
    return std::string::npos;
}
}  // namespace

bool Driver::typeText(const std::string& field, const std::string& text) {
    // A keyboard types characters: bytes that are not UTF-8 are no text, and
    // a field holding them would reach a form's service as nothing at all.
    if (size_t bad = firstByteNotUTF8(text); bad != std::string::npos) {
        static const char hex[] = "0123456789ABCDEF";
        unsigned char c = static_cast<unsigned char>(text[bad]);
        return fail(std::string("the text is not UTF-8 (byte \\x") + hex[c >> 4] + hex[c & 0xF] + " at position " +
                    std::to_string(bad + 1) + " is not part of a character); nothing was typed");
    }
    View* target = textInputToUse(field);
    if (!target) return false;
    ns::Ref<View> keep(target);
    if (auto* f = dynamic_cast<TextField*>(target)) {
        if (!f->isFirstResponder() && !f->becomeFirstResponder()) return fail("the field refused focus");
        for (auto& ch : characters(text)) f->insertText(ch);
    } else if (auto* s = dynamic_cast<SearchBar*>(target)) {
        if (!s->isFirstResponder() && !s->becomeFirstResponder()) return fail("the search bar refused focus");
        for (auto& ch : characters(text)) s->insertText(ch);
    } else {
        return fail("the focused view does not take text");
    }
    settle();
    return true;
}

bool Driver::clearText(const std::string& field) {
    View* target = textInputToUse(field);
    if (!target) return false;
    ns::Ref<View> keep(target);
    if (auto* f = dynamic_cast<TextField*>(target)) {
        if (!f->isFirstResponder() && !f->becomeFirstResponder()) return fail("the field refused focus");
        // Key by key, as the delete key would: the field's delegate may keep
        // some of it.
        while (!f->text().empty())
            if (!f->deleteBackward()) break;
    } else if (auto* s = dynamic_cast<SearchBar*>(target)) {
        if (!s->isFirstResponder() && !s->becomeFirstResponder()) return fail("the search bar refused focus");
        while (!s->text().empty()) s->deleteBackward();
    } else {
        return fail("the focused view does not take text");
    }
    settle();
    return true;
}

bool Driver::tapTextInput(const std::string& field) {
    View* target = textInputToUse(field);
    if (!target) return false;
    if (isPanelField(Panel::topPanel(), target)) {
        ns::Ref<View> keep(target);
        target->becomeFirstResponder();
        settle();
        return true;
    }
    return tap(centerOf(target));
}

bool Driver::pressReturn() {
    auto* f = dynamic_cast<TextField*>(Responder::currentFirstResponder());
    if (!f) return notFound("no text field has focus");
    if (Panel* panel = Panel::topPanel(); panel && !isPanelField(panel, f))
        return fail(panelName(panel) + " is showing; the key goes nowhere");
    ns::Ref<TextField> keep(f);
    f->pressReturn();
    settle();
    return true;
}

bool Driver::pressSearch() {
    auto* s = dynamic_cast<SearchBar*>(Responder::currentFirstResponder());
    if (!s) {
        for (auto& v : visibleViewsOf(window()))
            if (auto* b = dynamic_cast<SearchBar*>(v.get())) s = b;
    }
    if (!s) return notFound("no search bar on screen");
    if (Panel* panel = Panel::topPanel()) return fail(panelName(panel) + " is showing; the key goes nowhere");
    ns::Ref<SearchBar> keep(s);
    s->pressSearch();
    settle();
    return true;
}

// -- Web ---------------------------------------------------------------------------

bool Driver::followLink(const std::string& textOrHref) {
    if (Panel* panel = Panel::topPanel()) return fail(panelName(panel) + " is showing");
    WebView* w = visibleWebView();
    if (!w) return notFound("no web view on screen");
    ns::Ref<WebView> keep(w);
    bool found = false;
    for (auto& l : w->links())
        if (l.text == textOrHref || l.href == textOrHref) found = true;
    if (!found) return notFound("no link \"" + textOrHref + "\" in the page");
    if (!canReach(w, centerOf(w), "the page")) return false;
    bool followed = w->followLink(textOrHref);
    settle();
    if (!followed) return fail("the link was not followed (refused by the page's delegate)");
    return true;
}

// -- Touches -------------------------------------------------------------------------

bool Driver::touchesAllowed() {
    // The alert is in front of everything: a finger lands on it, never on
    // what lies under it, and its buttons are pressed by name (`alert`).
    if (Panel* panel = Panel::topPanel()) return fail(panelName(panel) + " is showing");
    return true;
}

bool Driver::deliver(TouchPhase phase, const std::vector<size_t>& changed) {
    if (!touchesAllowed()) return false;
    if (touches_.empty()) return notFound("no finger is down");
    Window* w = window();
    if (!w) return fail("no window on the screen");
    ns::Ref<Window> keep(w);
    double now = ns::RunLoop::main()->now();
    for (size_t i = 0; i < touches_.size(); ++i) {
        bool isChanged = std::find(changed.begin(), changed.end(), i) != changed.end();
        touches_[i]->setPhase(isChanged ? phase : TouchPhase::Stationary);
        touches_[i]->setTimestamp(now);
    }
    auto event = ns::make<Event>();
    event->setTimestamp(now);
    event->setTouches(touches_);
    w->sendEvent(event.get());
    if (phase == TouchPhase::Ended || phase == TouchPhase::Cancelled) {
        std::vector<ns::Ref<Touch>> left;
        for (size_t i = 0; i < touches_.size(); ++i)
            if (std::find(changed.begin(), changed.end(), i) == changed.end()) left.push_back(touches_[i]);
        touches_ = std::move(left);
    }
    settle();
    return true;
}

void Driver::cancelFingersUnderPanel() {
    if (touches_.empty() || !Panel::topPanel()) return;
    // The fingers are cancelled where they are; none is left down to be
    // lifted onto the screen after the alert is answered.
    std::vector<ns::Ref<Touch>> fingers = std::move(touches_);
    touches_.clear();
    Window* w = fingers.front()->window();
    if (!w) return;
    ns::Ref<Window> keep(w);
    double now = ns::RunLoop::main()->now();
    for (auto& t : fingers) {
        t->setPhase(TouchPhase::Cancelled);
        t->setTimestamp(now);
    }
    auto event = ns::make<Event>();
    event->setTimestamp(now);
    event->setTouches(fingers);
    w->sendEvent(event.get());
}

bool Driver::touchesBegan(const std::vector<Point>& points, unsigned tapCount) {
    if (!touchesAllowed()) return false;
    Window* w = window();
    if (!w) return fail("no window on the screen");
    std::vector<size_t> changed;
    for (Point p : points) {
        auto t = ns::make<Touch>();
        t->setWindow(w);
        t->moveTo(p);
        t->moveTo(p);
        t->setTapCount(tapCount);
        View* hit = w->hitTest(p, nullptr);
        t->setView(hit ? hit : w);
        changed.push_back(touches_.size());
        touches_.push_back(t);
    }
    return deliver(TouchPhase::Began, changed);
}

bool Driver::touchesMoved(const std::vector<Point>& points) {
    if (!touchesAllowed()) return false;
    std::vector<size_t> changed;
    for (size_t i = 0; i < points.size() && i < touches_.size(); ++i) {
        touches_[i]->moveTo(points[i]);
        changed.push_back(i);
    }
    return deliver(TouchPhase::Moved, changed);
}

bool Driver::touchesEnded(const std::vector<size_t>& fingers) {
    std::vector<size_t> changed = fingers;
    if (changed.empty())
        for (size_t i = 0; i < touches_.size(); ++i) changed.push_back(i);
    changed.erase(std::remove_if(changed.begin(), changed.end(), [&](size_t i) { return i >= touches_.size(); }),
                  changed.end());
    return deliver(TouchPhase::Ended, changed);
}

bool Driver::touchesCancelled() {
    std::vector<size_t> all;
    for (size_t i = 0; i < touches_.size(); ++i) all.push_back(i);
    return deliver(TouchPhase::Cancelled, all);
}

// The gestures below are made of several deliveries. An alert that comes up
// part way has taken the fingers (see settle): the gesture ends there, and
// what it did until then stands.
bool Driver::tap(Point p, unsigned tapCount) {
    if (!touchesBegan({p}, tapCount)) return false;
    return touches_.empty() || touchesEnded();
}

bool Driver::swipe(Point from, Point to, int steps) {
    if (!touchesBegan({from})) return false;
    for (int k = 1; k <= std::max(1, steps) && !touches_.empty(); ++k) {
        double f = double(k) / std::max(1, steps);
        touchesMoved({{from.x + (to.x - from.x) * f, from.y + (to.y - from.y) * f}});
    }
    return touches_.empty() || touchesEnded();
}

bool Driver::pinch(Point c, double d0, double d1, int steps) {
    if (!touchesBegan({{c.x - d0 / 2, c.y}, {c.x + d0 / 2, c.y}})) return false;
    for (int k = 1; k <= std::max(1, steps) && !touches_.empty(); ++k) {
        double d = d0 + (d1 - d0) * double(k) / std::max(1, steps);
        touchesMoved({{c.x - d / 2, c.y}, {c.x + d / 2, c.y}});
    }
    return touches_.empty() || touchesEnded();
}

// -- Device and time -------------------------------------------------------------------

void Driver::rotate(DeviceOrientation o) {
    Device::current()->setOrientation(o);
    settle();
}

void Driver::advance(double seconds) {
    auto loop = ns::RunLoop::main();
    ns::Ref<ns::ManualClock> clock = clock_;
    if (!clock) clock = ns::cast<ns::ManualClock>(loop->clock());
    if (clock) {
        clock->advance(seconds);
    } else if (loop->isCurrent()) {
        double until = loop->now() + seconds;
        loop->runUntil([&] { return loop->now() >= until; }, seconds + 0.5);
    }
    settle();
}

void Driver::settle() {
    auto loop = ns::RunLoop::main();
    if (!loop->isCurrent()) return;
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 1000 && loop->runOnce(ns::RunLoop::kDefaultMode); ++i) {}
        auto windows = Application::shared()->windows();
        for (auto& w : windows)
            if (w->isVisible()) w->displayIfNeeded();
    }
    // An alert that came up while fingers were down (a touch-down showed
    // it, or a timer did) takes them over, as it does on the device.
    if (!touches_.empty() && Panel::topPanel()) {
        cancelFingersUnderPanel();
        settle();
    }
    // A finger on a view that has left the screen since (another tab, a
    // screen popped or covered) is taken from it, as on the device: it is
    // cancelled there, so lifting it later acts on nothing it was on.
    if (cancelFingersOffScreen()) settle();
}

bool Driver::cancelFingersOffScreen() {
    std::vector<ns::Ref<Touch>> off, kept;
    for (auto& t : touches_) {
        View* v = t->view();
        Window* w = t->window();
        (v && w && v->window() == w ? kept : off).push_back(t);
    }
    if (off.empty()) return false;
    touches_ = std::move(kept);
    double now = ns::RunLoop::main()->now();
    for (auto& t : off) {
        t->setPhase(TouchPhase::Cancelled);
        t->setTimestamp(now);
        ns::Ref<View> v(t->view());
        if (!v) continue;
        auto event = ns::make<Event>();
        event->setTimestamp(now);
        event->setTouches({t});
        v->touchesCancelled({t}, event.get());
    }
    return true;
}

std::string Driver::screen() const { return TextScreen::render(window()); }

}  // namespace ui

namespace ui {

bool parseNumber(const std::string& s, double& out) {
    // Decimal notation only: an optional minus, digits, an optional point
    // with digits (strtod alone would also take "0x10", "1e3" and "inf").
    size_t i = s.size() > 0 && s[0] == '-' ? 1 : 0;
    size_t digits = 0, point = 0;
    for (; i < s.size(); ++i) {
        if (s[i] >= '0' && s[i] <= '9') ++digits;
        else if (s[i] == '.' && ++point == 1) continue;
        else return false;
    }
    if (digits == 0 || digits > 30) return false;
    char* end = nullptr;
    out = std::strtod(s.c_str(), &end);
    return end && *end == '\0' && std::isfinite(out);
}

namespace {

std::string trim(const std::string& s) {
    size_t a = s.find_first_not_of(" \t\r\n"), b = s.find_last_not_of(" \t\r\n");
    return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

std::vector<std::string> words(const std::string& s) {
    std::vector<std::string> out;
    std::string cur;
    for (char c : s) {
        if (c == ' ' || c == '\t') {
            if (!cur.empty()) out.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) out.push_back(cur);
    return out;
}

bool parsePoint(const std::string& s, Point& p) {
    auto comma = s.find(',');
    if (comma == std::string::npos) return false;
    return parseNumber(s.substr(0, comma), p.x) && parseNumber(s.substr(comma + 1), p.y);
}

// Points and an optional "#n" tap count.
bool parsePoints(const std::vector<std::string>& w, size_t from, std::vector<Point>& pts, unsigned& taps) {
    for (size_t i = from; i < w.size(); ++i) {
        if (w[i][0] == '#') {
            double n;
            if (!parseNumber(w[i].substr(1), n) || n < 1 || n > 10 || n != std::floor(n)) return false;
            taps = static_cast<unsigned>(n);
            continue;
        }
        Point p;
        if (!parsePoint(w[i], p)) return false;
        pts.push_back(p);
    }
    return !pts.empty() && pts.size() <= 10;
}

}  // namespace

Driver::Result Driver::perform(const std::string& commandLine) {
    std::string line = trim(commandLine);
    if (line.empty() || line[0] == '#') return {};
    size_t sp = line.find_first_of(" \t");
    std::string cmd = line.substr(0, sp);
    std::string arg = sp == std::string::npos ? std::string() : trim(line.substr(sp + 1));
    auto w = words(arg);
    auto done = [&](bool ok) { return ok ? Result{} : Result{false, error_}; };
    auto bad = [&](const std::string& why) { error_ = why; return Result{false, why}; };

    if (cmd == "screen") return {true, screen()};
    if (cmd == "tap") return done(tapButton(arg));
    if (cmd == "row") return done(tapRow(arg));
    if (cmd == "delete") return done(deleteRow(arg));
    if (cmd == "tab") return done(tapTab(arg));
    if (cmd == "bar") return done(tapBarButton(arg));
    if (cmd == "alert") return done(pressAlertButton(arg));
    if (cmd == "link") return done(followLink(arg));
    if (cmd == "clear") return done(clearText(arg));
    if (cmd == "return") return done(pressReturn());
    if (cmd == "search") return done(pressSearch());
    if (cmd == "type") {
        // The text is typed as given: blanks after "= " are part of it.
        std::string raw = commandLine.substr(0, commandLine.find_last_not_of("\r\n") + 1);
        size_t from = raw.find_first_not_of(" \t") + cmd.size();
        size_t eq = raw.find('=', from);
        if (eq == std::string::npos) return bad("usage: type <field> = <text>");
        std::string text = raw.substr(eq + 1);
        if (!text.empty() && text[0] == ' ') text.erase(0, 1);
        return done(typeText(trim(raw.substr(from, eq - from)), text));
    }
    static const char* const touchCommands[] = {"touch", "move", "tapat", "lift", "cancel", "swipe", "pinch"};
    if (std::find(std::begin(touchCommands), std::end(touchCommands), cmd) != std::end(touchCommands) &&
        !touchesAllowed())
        return done(false);
    if (cmd == "touch" || cmd == "move" || cmd == "tapat") {
        std::vector<Point> pts;
        unsigned taps = 1;
        if (!parsePoints(w, 0, pts, taps)) return bad("usage: " + cmd + " x,y [x,y ...]" + (cmd == "move" ? "" : " [#taps]"));
        // A finger cannot touch beside the screen.
        Window* win = window();
        for (Point p : pts)
            if (!win || !win->bounds().contains(p)) {
                Rect b = win ? win->bounds() : Rect{};
                std::ostringstream why;
                why << "the point " << p.x << "," << p.y << " is off the screen (x from 0 to " << b.width()
                    << ", y from 0 to " << b.height() << ")";
                return bad(why.str());
            }
        if (cmd == "touch") return done(touchesBegan(pts, taps));
        if (cmd == "move") {
            if (fingersDown() == 0) return bad("no finger is down");
            return done(touchesMoved(pts));
        }
        return done(tap(pts[0], taps));
    }
    if (cmd == "lift") {
        if (fingersDown() == 0) return bad("no finger is down");
        std::vector<size_t> fingers;
        for (auto& x : w) {
            double n;
            if (!parseNumber(x, n) || n < 0 || n >= double(fingersDown()) || n != std::floor(n))
                return bad("no finger " + x);
            fingers.push_back(static_cast<size_t>(n));
        }
        return done(touchesEnded(fingers));
    }
    if (cmd == "cancel") return done(touchesCancelled());
    if (cmd == "swipe") {
        Point a, b;
        if (w.size() != 2 || !parsePoint(w[0], a) || !parsePoint(w[1], b)) return bad("usage: swipe x,y x,y");
        return done(swipe(a, b));
    }
    if (cmd == "pinch") {
        Point c;
        double d0, d1;
        if (w.size() != 3 || !parsePoint(w[0], c) || !parseNumber(w[1], d0) || !parseNumber(w[2], d1) || d0 < 0 || d1 < 0)
            return bad("usage: pinch x,y from to");
        return done(pinch(c, d0, d1));
    }
    if (cmd == "rotate") {
        static const std::pair<const char*, DeviceOrientation> names[] = {
            {"portrait", DeviceOrientation::Portrait},
            {"upside-down", DeviceOrientation::PortraitUpsideDown},
            {"landscape-left", DeviceOrientation::LandscapeLeft},
            {"landscape-right", DeviceOrientation::LandscapeRight},
        };
        for (auto& [n, o] : names)
            if (arg == n) {
                rotate(o);
                return {};
            }
        return bad("usage: rotate portrait | upside-down | landscape-left | landscape-right");
    }
    if (cmd == "wait") {
        double s;
        if (!parseNumber(arg, s) || s < 0 || s > 86400) return bad("usage: wait <seconds> (a number from 0 to 86400)");
        advance(s);
        return {};
    }
    return bad("unknown command \"" + cmd + "\"");
}

}  // namespace ui
