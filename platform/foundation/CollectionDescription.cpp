#include "platform/foundation/CollectionDescription.h"

#include <cctype>
#include <utility>
#include <vector>

#include "platform/foundation/Array.h"
#include "platform/foundation/Dictionary.h"
#include "platform/foundation/String.h"

namespace ns {

namespace {

// How many collection descriptions are under way on this thread.
thread_local int tDescriptionDepth = 0;

struct DescriptionLevel {
    DescriptionLevel() { ++tDescriptionDepth; }
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

std::string item(const Object* o, int indent) {
    if (!o) return "(null)";
    if (auto* s = dynamic_cast<const String*>(o)) return quoted(std::string(s->utf8()));
    if (dynamic_cast<const Array*>(o) || dynamic_cast<const Dictionary*>(o)) return describeCollection(o, indent);
    return o->description();
}

}  // namespace

std::string describeCollection(const Object* o, int indent) {
    auto* a = dynamic_cast<const Array*>(o);
    auto* d = a ? nullptr : dynamic_cast<const Dictionary*>(o);
    if (!a && !d) return {};
    if (tDescriptionDepth >= kDescriptionDepthLimit) {
        return a ? "(" + counted(a->count(), "element", "elements") + ")"
                 : "{" + counted(d->count(), "entry", "entries") + "}";
    }
    DescriptionLevel level;
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
            out += i + 1 < items.size() ? ",\n" : "\n";
        }
        out += pad + ")";
    } else {
        std::vector<std::pair<Ref<Object>, Ref<Object>>> entries;
        entries.reserve(d->count());
        for (size_t i = 0, n = d->count(); i < n; ++i) entries.emplace_back(d->keyAtIndex(i), d->valueAtIndex(i));
        out = "{\n";
        for (const auto& [key, value] : entries)
            out += inner + item(key.get(), indent + 1) + " = " + item(value.get(), indent + 1) + ";\n";
        out += pad + "}";
    }
    return out;
}

}  // namespace ns
