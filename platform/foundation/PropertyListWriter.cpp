// XML and binary property-list writers.
//
// XML comes out the way property lists are laid out on disk: the XML
// declaration, a DOCTYPE line, <plist version="1.0">, one element per line
// indented with tabs, <true/> and <false/>, empty containers as <dict/> and
// <array/>, dates as ISO 8601 in UTC with a Z, data as base64 in lines of at
// most 76 columns (tabs counted as 8). Text is escaped so that any string
// reads back exactly: &, < and > as entities, carriage returns and other
// control characters as character references.

#include <cmath>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "platform/foundation/Data.h"
#include "platform/foundation/Date.h"
#include "platform/foundation/Number.h"
#include "platform/foundation/PropertyListInternal.h"
#include "platform/foundation/String.h"

namespace ns::plist {

namespace {

bool invalid(Ref<Error>* error, std::string what) {
    if (error) *error = makeError(kPropertyListWriteInvalidError, std::move(what));
    return false;
}

std::string formatReal(double v) {
    if (std::isnan(v)) return "nan";
    if (std::isinf(v)) return v > 0 ? "+infinity" : "-infinity";
    return formatDoubleShortest(v);
}

// --- XML ------------------------------------------------------------------

class XMLWriter {
public:
    explicit XMLWriter(std::string& out) : out_(out) {}

    bool run(const Object& root, Ref<Error>* error) {
        out_ += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                "<!DOCTYPE plist SYSTEM \"PropertyList-1.0.dtd\">\n"
                "<plist version=\"1.0\">\n";
        if (!value(root, 0, error)) return false;
        out_ += "</plist>\n";
        return true;
    }

private:
    void indent(size_t level) { out_.append(level, '\t'); }

    bool escaped(std::string_view s, Ref<Error>* error) {
        if (!validUTF8(s.data(), s.size())) return invalid(error, "string is not valid UTF-8");
        size_t run = 0;
        for (size_t i = 0; i < s.size(); ++i) {
            unsigned char c = static_cast<unsigned char>(s[i]);
            const char* rep = nullptr;
            char buf[8];
            if (c == '&') rep = "&amp;";
            else if (c == '<') rep = "&lt;";
            else if (c == '>') rep = "&gt;";
            else if (c < 0x20 && c != '\t' && c != '\n') {
                std::snprintf(buf, sizeof buf, "&#%u;", c);
                rep = buf;
            }
            if (rep) {
                out_.append(s.data() + run, i - run);
                out_ += rep;
                run = i + 1;
            }
        }
        out_.append(s.data() + run, s.size() - run);
        return true;
    }

    bool value(const Object& o, size_t level, Ref<Error>* error) {
        // A container at `level` is the (level + 1)th one nested: no deeper
        // than the readers take by default.
        const bool container = dynamic_cast<const Array*>(&o) || dynamic_cast<const Dictionary*>(&o);
        if (level + container > kWriteMaxDepth)
            return invalid(error, "nested deeper than " + std::to_string(kWriteMaxDepth));
        indent(level);
        if (auto* s = dynamic_cast<const String*>(&o)) {
            out_ += "<string>";
            if (!escaped(s->view(), error)) return false;
            out_ += "</string>\n";
        } else if (auto* n = dynamic_cast<const Number*>(&o)) {
            if (n->isBool()) {
                out_ += n->boolValue() ? "<true/>\n" : "<false/>\n";
            } else if (n->isFloatingPoint()) {
                out_ += "<real>" + formatReal(n->doubleValue()) + "</real>\n";
            } else if (n->isUnsigned()) {
                out_ += "<integer>" + std::to_string(n->unsignedLongLongValue()) + "</integer>\n";
            } else {
                out_ += "<integer>" + std::to_string(n->longLongValue()) + "</integer>\n";
            }
        } else if (auto* d = dynamic_cast<const Dictionary*>(&o)) {
            size_t count = d->count();
            if (count == 0) {
                out_ += "<dict/>\n";
                return true;
            }
            out_ += "<dict>\n";
            for (size_t i = 0; i < count; ++i) {
                auto* key = dynamic_cast<const String*>(d->keyAtIndex(i));
                if (!key) return invalid(error, "dictionary key is not a string: " + describe(d->keyAtIndex(i)));
                indent(level + 1);
                out_ += "<key>";
                if (!escaped(key->view(), error)) return false;
                out_ += "</key>\n";
                if (!value(*d->valueAtIndex(i), level + 1, error)) return false;
            }
            indent(level);
            out_ += "</dict>\n";
        } else if (auto* a = dynamic_cast<const Array*>(&o)) {
            size_t count = a->count();
            if (count == 0) {
                out_ += "<array/>\n";
                return true;
            }
            out_ += "<array>\n";
            for (size_t i = 0; i < count; ++i)
                if (!value(*a->objectAtIndex(i), level + 1, error)) return false;
            indent(level);
            out_ += "</array>\n";
        } else if (auto* dt = dynamic_cast<const Date*>(&o)) {
            out_ += "<date>";
            if (!formatDate(dt->timeIntervalSinceReferenceDate(), out_))
                return invalid(error, "date outside the years 0000-9999");
            out_ += "</date>\n";
        } else if (auto* data = dynamic_cast<const Data*>(&o)) {
            out_ += "<data>\n";
            size_t width = level * 8 >= 60 ? 16 : 76 - level * 8;
            size_t perLine = width / 4 * 3;  // whole base64 groups per line
            const uint8_t* b = data->bytes();
            for (size_t at = 0; at < data->length(); at += perLine) {
                indent(level);
                appendBase64(out_, b + at, std::min(perLine, data->length() - at));
                out_ += '\n';
            }
            indent(level);
            out_ += "</data>\n";
        } else {
            return invalid(error, std::string("not a property-list value: ") + o.className());
        }
        return true;
    }

    std::string& out_;
};

// --- Binary ---------------------------------------------------------------

class BinaryWriter {
public:
    bool run(const Object& root, std::string& out, Ref<Error>* error) {
        if (!add(root, 0, error)) return false;
        size_t count = nodes_.size();
        refSize_ = count <= 0xFF ? 1 : count <= 0xFFFF ? 2 : count <= 0xFFFFFFFFull ? 4 : 8;
        out.assign("bplist00");
        std::vector<uint64_t> offsets(count);
        for (size_t i = 0; i < count; ++i) {
            offsets[i] = out.size();
            const Node& n = nodes_[i];
            if (!n.container) {
                out += n.bytes;
                continue;
            }
            size_t entries = n.marker == 0xD0 ? n.refs.size() / 2 : n.refs.size();
            appendMarkerAndCount(out, n.marker, entries);
            for (size_t r : n.refs) appendBE(out, r, refSize_);
        }
        uint64_t tableOffset = out.size();
        size_t offsetSize = bytesFor(tableOffset);
        for (uint64_t off : offsets) appendBE(out, off, offsetSize);
        out.append(6, '\0');
        out += '\0';  // sort version
        out += static_cast<char>(offsetSize);
        out += static_cast<char>(refSize_);
        appendBE(out, count, 8);
        appendBE(out, 0, 8);  // root is object 0
        appendBE(out, tableOffset, 8);
        return true;
    }

private:
    struct Node {
        bool container = false;
        uint8_t marker = 0;
        std::string bytes;        // a leaf's whole encoding
        std::vector<size_t> refs;  // a container's children
    };

    static size_t bytesFor(uint64_t v) {
        return v <= 0xFF ? 1 : v <= 0xFFFF ? 2 : v <= 0xFFFFFFFFull ? 4 : 8;
    }
    static void appendBE(std::string& out, uint64_t v, size_t n) {
        for (size_t i = n; i-- > 0;) out += static_cast<char>((v >> (8 * i)) & 0xFF);
    }
    static void appendInt(std::string& out, uint64_t v) {
        size_t n = bytesFor(v);
        out += static_cast<char>(0x10 | (n == 1 ? 0 : n == 2 ? 1 : n == 4 ? 2 : 3));
        appendBE(out, v, n);
    }
    static void appendMarkerAndCount(std::string& out, uint8_t marker, size_t n) {
        if (n < 15) {
            out += static_cast<char>(marker | n);
        } else {
            out += static_cast<char>(marker | 0x0F);
            appendInt(out, n);
        }
    }

    bool leaf(const Object& o, std::string& b, Ref<Error>* error) {
        if (auto* s = dynamic_cast<const String*>(&o)) {
            std::string_view v = s->view();
            if (!validUTF8(v.data(), v.size())) return invalid(error, "string is not valid UTF-8");
            bool ascii = true;
            for (unsigned char c : v) ascii &= c < 0x80;
            if (ascii) {
                appendMarkerAndCount(b, 0x50, v.size());
                b += v;
            } else {
                std::u16string units = utf8ToUTF16(v);
                appendMarkerAndCount(b, 0x60, units.size());
                for (char16_t u : units) appendBE(b, u, 2);
            }
        } else if (auto* n = dynamic_cast<const Number*>(&o)) {
            if (n->isBool()) {
                b += static_cast<char>(n->boolValue() ? 0x09 : 0x08);
            } else if (n->isFloatingPoint()) {
                double v = n->doubleValue();
                uint64_t bits;
                std::memcpy(&bits, &v, 8);
                b += static_cast<char>(0x23);
                appendBE(b, bits, 8);
            } else if (n->isUnsigned() && n->unsignedLongLongValue() > uint64_t(INT64_MAX)) {
                b += static_cast<char>(0x14);
                appendBE(b, 0, 8);
                appendBE(b, n->unsignedLongLongValue(), 8);
            } else {
                long long v = n->longLongValue();
                if (v < 0 || static_cast<uint64_t>(v) > 0xFFFFFFFFull) {
                    b += static_cast<char>(0x13);
                    appendBE(b, static_cast<uint64_t>(v), 8);
                } else {
                    appendInt(b, static_cast<uint64_t>(v));
                }
            }
        } else if (auto* dt = dynamic_cast<const Date*>(&o)) {
            double v = dt->timeIntervalSinceReferenceDate();
            uint64_t bits;
            std::memcpy(&bits, &v, 8);
            b += static_cast<char>(0x33);
            appendBE(b, bits, 8);
        } else if (auto* data = dynamic_cast<const Data*>(&o)) {
            appendMarkerAndCount(b, 0x40, data->length());
            b.append(reinterpret_cast<const char*>(data->bytes()), data->length());
        } else {
            return invalid(error, std::string("not a property-list value: ") + o.className());
        }
        return true;
    }

    // Adds `o` and its children; returns false on an invalid value. Equal
    // leaves are written once and shared.
    bool add(const Object& o, size_t depth, Ref<Error>* error, size_t* index = nullptr) {
        auto* d = dynamic_cast<const Dictionary*>(&o);
        auto* a = d ? nullptr : dynamic_cast<const Array*>(&o);
        if (depth + (d || a) > kWriteMaxDepth)
            return invalid(error, "nested deeper than " + std::to_string(kWriteMaxDepth));
        if (!d && !a) {
            std::string b;
            if (!leaf(o, b, error)) return false;
            auto [it, fresh] = leaves_.try_emplace(b, nodes_.size());
            if (fresh) {
                Node n;
                n.bytes = std::move(b);
                nodes_.push_back(std::move(n));
            }
            if (index) *index = it->second;
            return true;
        }
        size_t me = nodes_.size();
        if (index) *index = me;
        nodes_.emplace_back();
        nodes_[me].container = true;
        nodes_[me].marker = d ? 0xD0 : 0xA0;
        std::vector<size_t> refs;
        if (d) {
            size_t n = d->count();
            refs.resize(2 * n);
            for (size_t i = 0; i < n; ++i) {
                auto* key = dynamic_cast<const String*>(d->keyAtIndex(i));
                if (!key) return invalid(error, "dictionary key is not a string: " + describe(d->keyAtIndex(i)));
                if (!add(*key, depth + 1, error, &refs[i])) return false;
            }
            for (size_t i = 0; i < n; ++i)
                if (!add(*d->valueAtIndex(i), depth + 1, error, &refs[n + i])) return false;
        } else {
            size_t n = a->count();
            refs.resize(n);
            for (size_t i = 0; i < n; ++i)
                if (!add(*a->objectAtIndex(i), depth + 1, error, &refs[i])) return false;
        }
        nodes_[me].refs = std::move(refs);
        return true;
    }

    std::vector<Node> nodes_;
    std::unordered_map<std::string, size_t> leaves_;
    size_t refSize_ = 1;
};

}  // namespace

bool writeXML(const Object& root, std::string& out, Ref<Error>* error) {
    out.clear();
    XMLWriter w(out);
    return w.run(root, error);
}

bool writeBinary(const Object& root, std::string& out, Ref<Error>* error) {
    out.clear();
    BinaryWriter w;
    return w.run(root, out, error);
}

}  // namespace ns::plist
