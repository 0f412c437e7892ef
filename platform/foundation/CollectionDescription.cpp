#include "platform/foundation/CollectionDescription.h"

#include "platform/foundation/Array.h"
#include "platform/foundation/Dictionary.h"
#include "platform/foundation/String.h"

namespace ns {

namespace {

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
    std::string pad(static_cast<size_t>(indent) * 4, ' ');
    std::string inner(static_cast<size_t>(indent + 1) * 4, ' ');
    std::string out;
    if (auto* a = dynamic_cast<const Array*>(o)) {
        out = "(\n";
        for (size_t i = 0, n = a->count(); i < n; ++i) {
            out += inner + item(a->objectAtIndex(i), indent + 1);
            out += i + 1 < n ? ",\n" : "\n";
        }
        out += pad + ")";
    } else if (auto* d = dynamic_cast<const Dictionary*>(o)) {
        out = "{\n";
        for (size_t i = 0, n = d->count(); i < n; ++i) {
            out += inner + item(d->keyAtIndex(i), indent + 1) + " = " + item(d->valueAtIndex(i), indent + 1) + ";\n";
        }
        out += pad + "}";
    }
    return out;
}

}  // namespace ns
