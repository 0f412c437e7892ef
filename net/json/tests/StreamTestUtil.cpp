#include "net/json/tests/StreamTestUtil.h"

#include <cstdio>

namespace json::test {

std::string dump(const ns::Object* o) {
    if (!o) return "nil";
    if (ns::isNull(o)) return "null";
    if (auto* s = ns::as<ns::String>(o)) {
        std::string out = "\"";
        for (unsigned char c : s->utf8()) {
            if (c < 0x20 || c == '"' || c == '\\' || c >= 0x7F) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\x%02X", c);
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
        }
        return out + "\"";
    }
    if (auto* d = ns::as<ns::DecimalNumber>(o)) return "dec(" + std::string(d->text()) + ")";
    if (auto* n = ns::as<ns::Number>(o)) {
        if (n->isBool()) return n->boolValue() ? "true" : "false";
        return std::string(1, n->objCType()) + "(" + n->description() + ")";
    }
    if (auto* a = ns::as<ns::Array>(o)) {
        std::string out = "[";
        for (size_t i = 0; i < a->count(); ++i) {
            if (i) out += ",";
            out += dump(a->objectAtIndex(i));
        }
        return out + "]";
    }
    if (auto* d = ns::as<ns::Dictionary>(o)) {
        std::string out = "{";
        for (size_t i = 0; i < d->count(); ++i) {
            if (i) out += ",";
            out += dump(d->keyAtIndex(i)) + ":" + dump(d->valueAtIndex(i));
        }
        return out + "}";
    }
    return std::string("<") + o->className() + ">";
}

}  // namespace json::test
