#include "platform/ui/TextScreen.h"

#include <sstream>

#include "platform/foundation/String.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Application.h"
#include "platform/ui/Control.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TextField.h"
#include "platform/ui/WebView.h"

namespace ui {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

void escapeByte(std::string& out, unsigned char c) {
    out += "\\x";
    out += kHex[c >> 4];
    out += kHex[c & 0xF];
}

// The length of the UTF-8 character starting at `at`, or 0 when the bytes
// there are not one: a sequence of the right shape is no character either
// when it is overlong, a surrogate or past U+10FFFF, and goes out escaped,
// so that what is printed is always UTF-8.
size_t utf8Length(std::string_view text, size_t at) {
    unsigned char c = static_cast<unsigned char>(text[at]);
    size_t n = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    if (n == 0 || at + n > text.size()) return 0;
    return ns::isValidUTF8(text.data() + at, n) ? n : 0;
}

}  // namespace

std::string TextScreen::printable(std::string_view text, bool keepLineBreaks) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            if ((c < 0x20 && !(keepLineBreaks && (c == '\n' || c == '\t'))) || c == 0x7F) escapeByte(out, c);
            else out += static_cast<char>(c);
            ++i;
            continue;
        }
        size_t n = utf8Length(text, i);
        if (n == 0) {
            escapeByte(out, c);
            ++i;
        } else if (c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0) {
            // U+0080 to U+009F: the C1 controls.
            unsigned char low = static_cast<unsigned char>(text[i + 1]);
            out += "\\u00";
            out += kHex[low >> 4];
            out += kHex[low & 0xF];
            i += n;
        } else {
            out.append(text.substr(i, n));
            i += n;
        }
    }
    return out;
}

namespace {

class Renderer {
public:
    std::ostringstream out;

    void line(const std::string& s, int indent = 0) {
        if (s.empty()) return;
        out << std::string(static_cast<size_t>(indent) * 2, ' ') << TextScreen::printable(s) << '\n';
    }

    void panels() {
        auto list = Panel::visiblePanels();
        for (auto it = list.rbegin(); it != list.rend(); ++it) {
            Panel* p = it->get();
            bool sheet = dynamic_cast<ActionSheet*>(p) != nullptr;
            std::string title = TextScreen::printable(p->title(), false);
            out << "+-- " << (sheet ? "Sheet" : "Alert") << (title.empty() ? "" : ": " + title) << " --\n";
            if (auto* a = dynamic_cast<AlertView*>(p)) {
                std::istringstream msg(a->message());
                std::string l;
                while (std::getline(msg, l)) out << "| " << TextScreen::printable(l) << '\n';
                for (long i = 0; a->textFieldAtIndex(i); ++i) out << "| " << field(a->textFieldAtIndex(i)) << '\n';
            }
            std::string buttons;
            for (auto& b : p->buttonTitles()) buttons += (buttons.empty() ? "" : " ") + std::string("[") + b + "]";
            out << "| " << TextScreen::printable(buttons, false) << '\n' << "+--\n";
        }
    }

    // A field's text is one line: whatever was typed into it, line breaks
    // and tabs included, is shown escaped.
    static std::string field(TextField* f) {
        std::string text = TextScreen::printable(f->text(), false);
        if (f->isSecureTextEntry()) text = std::string(f->text().empty() ? 0 : 8, '*');
        std::string name = !f->accessibilityLabel().empty() ? f->accessibilityLabel() : f->placeholder();
        name = TextScreen::printable(name, false);
        return (name.empty() ? std::string("Field") : name) + ": " + text + (f->isEditing() ? "|" : "") + "____";
    }

    // "[Title]", marked when the item cannot be pressed.
    static std::string barItem(const ns::Ref<BarButtonItem>& b) {
        return "[" + b->displayTitle() + "]" + (b->isEnabled() ? "" : " (disabled)");
    }

    static bool visible(View* v) { return !v->isHidden() && v->alpha() >= 0.01 && !v->transform().isDegenerate(); }

    void navigationBar(NavigationController* nav, int indent) {
        if (nav->isNavigationBarHidden()) return;
        ViewController* top = nav->topViewController();
        if (!top) return;
        NavigationItem* item = top->navigationItem();
        std::string left;
        if (item->leftBarButtonItem()) left = barItem(item->leftBarButtonItem());
        else if (!nav->backButtonTitle().empty()) left = "<" + nav->backButtonTitle();
        std::string title = item->title().empty() ? top->title() : item->title();
        if (item->titleView()) {
            if (auto* l = dynamic_cast<Label*>(item->titleView().get())) title = l->text();
        }
        std::string right = item->rightBarButtonItem() ? barItem(item->rightBarButtonItem()) : "";
        line("== " + left + (left.empty() ? "" : " | ") + title + (right.empty() ? "" : " | " + right) + " ==", indent);
    }

    // Each row's cell is asked for as it is written: asking lays the table
    // out (and its data source may reload it), which lets go of cells.
    void table(TableView* t, int indent) {
        ns::Ref<TableView> keep(t);
        auto paths = t->indexPathsForVisibleRows();
        long total = 0;
        for (long s = 0; s < t->numberOfSections(); ++s) total += t->numberOfRowsInSection(s);
        if (total == 0) {
            line("(empty list)", indent);
            return;
        }
        long lastSection = -1;
        long above = 0;
        if (!paths.empty()) {
            for (long s = 0; s < paths.front().section; ++s) above += t->numberOfRowsInSection(s);
            above += paths.front().row;
        }
        if (above > 0) line("(" + std::to_string(above) + " more above)", indent);
        for (auto& ip : paths) {
            if (ip.section != lastSection) {
                lastSection = ip.section;
                std::string h = t->headerTitleForSection(ip.section);
                if (!h.empty()) line("-- " + h + " --", indent);
            }
            ns::Ref<TableViewCell> c(t->cellForRowAtIndexPath(ip));
            if (!c) continue;
            std::string text = cellText(c.get());
            std::string mark;
            switch (c->accessoryType()) {
                case TableViewCellAccessoryType::DisclosureIndicator: mark = " >"; break;
                case TableViewCellAccessoryType::DetailDisclosureButton: mark = " (i)"; break;
                case TableViewCellAccessoryType::Checkmark: mark = " (v)"; break;
                default: break;
            }
            line(std::string(c->isSelected() ? "* " : "- ") + text + mark, indent);
        }
        long below = total - above - static_cast<long>(paths.size());
        if (below > 0) line("(" + std::to_string(below) + " more below)", indent);
    }

    // The texts of a cell's visible labels, joined.
    static std::string cellText(View* v) {
        std::string s;
        collectLabels(v, s);
        return s;
    }
    static void collectLabels(View* v, std::string& s) {
        if (!visible(v)) return;
        if (auto* l = dynamic_cast<Label*>(v); l && !l->text().empty()) s += (s.empty() ? "" : " | ") + l->text();
        if (auto* b = dynamic_cast<Button*>(v)) {
            std::string t = b->displayName();
            if (!t.empty()) s += (s.empty() ? "" : " | ") + ("[" + t + "]");
        }
        for (auto& sub : v->subviews()) collectLabels(sub.get(), s);
    }

    void webPage(WebView* w, int indent) {
        std::string where;
        if (w->request() && w->request()->URL()) where = w->request()->URL()->lastPathComponent()->utf8();
        else if (w->baseURL()) where = w->baseURL()->lastPathComponent()->utf8();
        std::string size;
        if (double px = w->bodyFontSize(); px > 0) {
            std::ostringstream n;
            n << px;
            size = " (text " + n.str() + "px)";
        }
        line("[page" + (where.empty() ? std::string() : " " + where) + "]" + size, indent);
        std::istringstream text(w->pageText());
        std::string l;
        while (std::getline(text, l)) line(l.empty() ? std::string(" ") : l, indent + 1);
    }

    void view(View* v, int indent) {
        if (!visible(v)) return;
        ViewController* vc = v->viewController();
        if (vc && vc->presentingViewController() && dynamic_cast<Window*>(v->superview())) {
            // Named as the person reads it: its title, or what it is called when covering.
            std::string name = vc->shownTitle();
            if (name.empty()) name = v->coverName();
            line("---- " + std::string(vc->coversScreen() ? "screen" : "sheet") + (name.empty() ? "" : ": " + name) +
                     " ----",
                 indent);
        }
        if (auto* nav = dynamic_cast<NavigationController*>(vc)) navigationBar(nav, indent);

        if (auto* bar = dynamic_cast<NavigationBar*>(v)) {
            // A bar used on its own: its top item (prompt above the title).
            if (NavigationItem* item = bar->topItem()) {
                if (!item->prompt().empty()) line(item->prompt(), indent);
                std::string left = item->leftBarButtonItem() ? barItem(item->leftBarButtonItem()) : "";
                std::string right = item->rightBarButtonItem() ? barItem(item->rightBarButtonItem()) : "";
                line("== " + left + (left.empty() ? "" : " | ") + item->title() + (right.empty() ? "" : " | " + right) + " ==",
                     indent);
            }
            return;
        }
        if (auto* bar = dynamic_cast<TabBar*>(v)) {
            auto* tc = dynamic_cast<TabBarController*>(v->superview() ? v->superview()->viewController() : nullptr);
            if (!tc) return;
            std::string s;
            for (size_t i = 0; i < tc->viewControllers().size(); ++i) {
                auto& c = tc->viewControllers()[i];
                std::string t = c->tabBarItem()->title().empty() ? c->title() : c->tabBarItem()->title();
                s += (i ? " | " : "") + t + (i == tc->selectedIndex() ? "*" : "");
            }
            (void)bar;
            line("Tabs: " + s, indent);
            return;
        }
        if (auto* l = dynamic_cast<Label*>(v)) {
            line(l->text(), indent);
            return;
        }
        if (auto* b = dynamic_cast<Button*>(v)) {
            line("[" + b->displayName() + "]" + (b->isEnabled() ? "" : " (disabled)"), indent);
            return;
        }
        if (auto* sw = dynamic_cast<Switch*>(v)) {
            line(std::string(sw->isOn() ? "(on)" : "(off)") +
                     (sw->accessibilityLabel().empty() ? "" : " " + sw->accessibilityLabel()),
                 indent);
            return;
        }
        if (auto* f = dynamic_cast<TextField*>(v)) {
            line(field(f), indent);
            return;
        }
        if (auto* s = dynamic_cast<SearchBar*>(v)) {
            line("Search (" + TextScreen::printable(s->placeholder(), false) + "): " +
                     TextScreen::printable(s->text(), false) + (s->isEditing() ? "|" : "") + "____" +
                     (s->showsCancelButton() ? " [Cancel]" : ""),
                 indent);
            return;
        }
        if (auto* a = dynamic_cast<ActivityIndicatorView*>(v)) {
            if (a->isAnimating()) line("(busy)", indent);
            return;
        }
        if (auto* t = dynamic_cast<TableView*>(v)) {
            ns::Ref<TableView> keep(t);
            if (ns::Ref<View> header = t->tableHeaderView()) view(header.get(), indent);
            table(t, indent);
            if (ns::Ref<View> footer = t->tableFooterView()) view(footer.get(), indent);
            return;
        }
        if (auto* w = dynamic_cast<WebView*>(v)) {
            webPage(w, indent);
            return;
        }
        // A copy: writing a table lays it out, and its data source may add
        // or take away views anywhere, this one's subviews among them; one
        // taken away meanwhile is no longer on the screen.
        const std::vector<ns::Ref<View>> subviews = v->subviews();
        for (auto& s : subviews)
            if (s->superview() == v) view(s.get(), indent);
    }
};

}  // namespace

std::string TextScreen::render(Window* window) {
    if (!window) window = Application::shared()->keyWindow();
    if (!window) return {};
    Renderer r;
    r.panels();
    r.view(window, 0);
    return r.out.str();
}

std::string TextScreen::renderView(View* v) {
    if (!v) return {};
    Renderer r;
    r.view(v, 0);
    return r.out.str();
}

}  // namespace ui
