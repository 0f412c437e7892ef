#include "platform/foundation/CollectionDescription.h"

#include <cctype>
#include <utility>
#include <vector>

#include "platform/foundation/Array.h"
#include "platform/foundation/Dictionary.h"
#include "platform/foundation/String.h"

namespace ns {

namespace {

// The collections being described on this thread, outermost first, and
// the bytes of text the outermost description has made so far.
thread_local const Object* tBeingDescribed[kDescriptionDepthLimit];
thread_local int tDescriptionDepth = 0;
thread_local size_t tTextMade = 0;

bool beingDescribed(const Object* o) {
    for (int i = 0; i < tDescriptionDepth; ++i)
        if (tBeingDescribed[i] == o) return true;
    return false;
}

struct DescriptionLevel {
    explicit DescriptionLevel(const Object* o) { tBeingDescribed[tDescriptionDepth++] = o; }
    ~DescriptionLevel() { --tDescriptionDepth; }
    DescriptionLevel(const DescriptionLevel&) = delete;
    DescriptionLevel& operator=(const DescriptionLevel&) = delete;
};

std::string counted(size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

bool needsQuotes(const std::string& s) {
    if (s.empty()) return true;
    for (unsigned char c : s)
        if (!(std::isalnum(c) || c == '_' || c == '.' || c == '$' || c == '/' || c == ':' || c >= 0x80)) return true;
    return false;
}

std::string quoted(const std::string& s) {
    if (!needsQuotes(s)) return s;
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out.push_back('\\');
        if (c == '\n') { out += "\\n"; continue; }
        out.push_back(c);
    }
    out.push_back('"');
    return out;
}

// The text of an entry on a line indented `indent` levels, counted
// against the description's budget (a collection counts its own).
std::string item(const Object* o, int indent) {
    if (dynamic_cast<const Array*>(o) || dynamic_cast<const Dictionary*>(o)) return describeCollection(o, indent);
    std::string text;
    if (!o) text = "(null)";
    else if (auto* s = dynamic_cast<const String*>(o)) text = quoted(std::string(s->utf8()));
    else text = o->description();
    tTextMade += text.size();
    return text;
}

}  // namespace

std::string describeCollection(const Object* o, int indent) {
    auto* a = dynamic_cast<const Array*>(o);
    auto* d = a ? nullptr : dynamic_cast<const Dictionary*>(o);
    if (!a && !d) return {};
    // An outermost description starts with the whole budget, whatever the
    // one before it on this thread spent.
    if (tDescriptionDepth == 0) tTextMade = 0;
    if (tDescriptionDepth >= kDescriptionDepthLimit || tTextMade >= kDescriptionTextBudget || beingDescribed(o)) {
        std::string text = a ? "(" + counted(a->count(), "element", "elements") + ")"
                             : "{" + counted(d->count(), "entry", "entries") + "}";
        tTextMade += text.size();
        return text;
    }
    DescriptionLevel level(o);
    std::string pad(static_cast<size_t>(indent) * 4, ' ');
    std::string inner(static_cast<size_t>(indent + 1) * 4, ' ');
    std::string out;
    // The entries are taken (and held) before any of them is described:
    // an element's description may change the collection or let it go.
    if (a) {
        std::vector<Ref<Object>> items;
        items.reserve(a->count());
        for (size_t i = 0, n = a->count(); i < n; ++i) items.emplace_back(a->objectAtIndex(i));
        out = "(\n";
        for (size_t i = 0; i < items.size(); ++i) {
            out += inner + item(items[i].get(), indent + 1);
            const bool last = i + 1 == items.size();
            out += last ? "\n" : ",\n";
            tTextMade += inner.size() + (last ? 1 : 2);
        }
        out += pad + ")";
    } else {
        std::vector<std::pair<Ref<Object>, Ref<Object>>> entries;
        entries.reserve(d->count());
        for (size_t i = 0, n = d->count(); i < n; ++i) entries.emplace_back(d->keyAtIndex(i), d->valueAtIndex(i));
        out = "{\n";
        for (const auto& [key, value] : entries) {
            out += inner + item(key.get(), indent + 1) + " = " + item(value.get(), indent + 1) + ";\n";
            tTextMade += inner.size() + 5;
        }
        out += pad + "}";
    }
    tTextMade += pad.size() + 3;
    return out;
}

}  // namespace ns
