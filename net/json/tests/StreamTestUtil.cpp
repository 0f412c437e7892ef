#include "net/json/tests/StreamTestUtil.h"

#include <algorithm>
#include <cstdio>

#include "net/json/JsonStreamParser.h"
#include "net/json/JsonStreamParserAdapter.h"

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

Fed feedPieces(const std::vector<std::string_view>& pieces, bool placesValuesInBlocks) {
    auto acc = ns::make<json::JsonStreamParserAccumulator>();
    auto adapter = ns::make<json::JsonStreamParserAdapter>();
    adapter->setDelegate(acc);
    auto parser = ns::make<json::JsonStreamParser>();
    parser->setDelegate(adapter);
    parser->tokeniser().setPlacesValuesInBlocks(placesValuesInBlocks);
    int32_t status = json::JsonStreamParserWaitingForData;
    for (auto p : pieces) status = parser->parse(p.data(), p.size());
    Fed fed{status, nullptr, ""};
    if (status == json::JsonStreamParserComplete) fed.value = acc->value();
    if (status == json::JsonStreamParserError) fed.error = parser->error();
    return fed;
}

std::vector<std::string_view> piecesOf(std::string_view doc, size_t size) {
    std::vector<std::string_view> pieces;
    for (size_t at = 0; at < doc.size(); at += size) pieces.push_back(doc.substr(at, std::min(size, doc.size() - at)));
    return pieces;
}

}  // namespace json::test
