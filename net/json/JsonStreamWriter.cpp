#include "net/json/JsonStreamWriter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <unordered_map>

#include "net/json/JsonCategories.h"
#include "platform/foundation/Null.h"

namespace json {

// ---------------------------------------------------------------------------
// States

#define SHARED_INSTANCE(Class)                 \
    const Class* Class::sharedInstance() {     \
        static const Class instance;           \
        return &instance;                      \
    }

SHARED_INSTANCE(JsonStreamWriterStateStart)
SHARED_INSTANCE(JsonStreamWriterStateComplete)
SHARED_INSTANCE(JsonStreamWriterStateError)
SHARED_INSTANCE(JsonStreamWriterStateObjectStart)
SHARED_INSTANCE(JsonStreamWriterStateObjectKey)
SHARED_INSTANCE(JsonStreamWriterStateObjectValue)
SHARED_INSTANCE(JsonStreamWriterStateArrayStart)
SHARED_INSTANCE(JsonStreamWriterStateArrayValue)

#undef SHARED_INSTANCE

void JsonStreamWriterState::appendWhitespace(JsonStreamWriter* writer) const {
    std::string ws(1 + 2 * writer->stateStack().size(), ' ');
    ws[0] = '\n';
    writer->appendBytes(ws);
}

void JsonStreamWriterStateStart::transitionState(JsonStreamWriter* writer) const {
    writer->setState(JsonStreamWriterStateComplete::sharedInstance());
}

bool JsonStreamWriterStateComplete::isInvalidState(JsonStreamWriter* writer) const {
    writer->setError("Stream is closed");
    return true;
}

bool JsonStreamWriterStateObjectStart::expectingKey(JsonStreamWriter* writer) const {
    writer->setError("JSON object key must be string");
    return true;
}
void JsonStreamWriterStateObjectStart::transitionState(JsonStreamWriter* writer) const {
    writer->setState(JsonStreamWriterStateObjectValue::sharedInstance());
}

void JsonStreamWriterStateObjectKey::appendSeparator(JsonStreamWriter* writer) const { writer->appendBytes(","); }

void JsonStreamWriterStateObjectValue::appendSeparator(JsonStreamWriter* writer) const { writer->appendBytes(":"); }
void JsonStreamWriterStateObjectValue::appendWhitespace(JsonStreamWriter* writer) const { writer->appendBytes(" "); }
void JsonStreamWriterStateObjectValue::transitionState(JsonStreamWriter* writer) const {
    writer->setState(JsonStreamWriterStateObjectKey::sharedInstance());
}

void JsonStreamWriterStateArrayStart::transitionState(JsonStreamWriter* writer) const {
    writer->setState(JsonStreamWriterStateArrayValue::sharedInstance());
}

void JsonStreamWriterStateArrayValue::appendSeparator(JsonStreamWriter* writer) const { writer->appendBytes(","); }

// ---------------------------------------------------------------------------
// The process-wide cache of quoted and escaped strings.

namespace {

class EscapedStringCache {
public:
    // Only short texts are kept, and at most kMaxEntries of them: the cache
    // is emptied when it is full.
    static constexpr size_t kMaxKeyLength = 256;
    static constexpr size_t kMaxEntries = 4096;

    bool lookup(const std::string& text, std::string* out) {
        if (text.size() > kMaxKeyLength) return false;
        std::lock_guard<std::mutex> g(mutex_);
        auto it = map_.find(text);
        if (it == map_.end()) return false;
        *out = it->second;
        return true;
    }
    void store(const std::string& text, const std::string& escaped) {
        if (text.size() > kMaxKeyLength) return;
        std::lock_guard<std::mutex> g(mutex_);
        if (map_.size() >= kMaxEntries) map_.clear();
        map_.emplace(text, escaped);
    }

private:
    std::mutex mutex_;
    std::unordered_map<std::string, std::string> map_;
};

EscapedStringCache& escapedStringCache() {
    static EscapedStringCache* cache = [] {
        jsonLog("+[JsonStreamWriter initialize] NSCache supported");
        return new EscapedStringCache();  // lives for the process
    }();
    return *cache;
}

// The text in double quotes, with only bytes below 0x20, the double quote
// and the backslash replaced; everything else (slash, UTF-8 sequences) is
// copied unchanged.
std::string quoteAndEscape(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 10 + 2);
    out.push_back('"');
    size_t run = 0;
    auto flush = [&](size_t end) {
        if (end > run) out.append(text, run, end - run);
    };
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != '"' && c != '\\') continue;
        flush(i);
        run = i + 1;
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case 0x08: out += "\\b"; break;
            case 0x09: out += "\\t"; break;
            case 0x0A: out += "\\n"; break;
            case 0x0C: out += "\\f"; break;
            case 0x0D: out += "\\r"; break;
            default: {
                static const char hex[] = "0123456789abcdef";
                out += "\\u00";
                out.push_back(hex[c >> 4]);
                out.push_back(hex[c & 0xF]);
            }
        }
    }
    flush(text.size());
    out.push_back('"');
    return out;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// True when the text is a number as JSON writes it.
bool isJsonNumberText(const std::string& t) {
    size_t i = 0, n = t.size();
    if (i < n && t[i] == '-') ++i;
    if (i >= n || !isDigit(t[i])) return false;
    if (t[i] == '0') {
        ++i;
    } else {
        while (i < n && isDigit(t[i])) ++i;
    }
    if (i < n && t[i] == '.') {
        ++i;
        if (i >= n || !isDigit(t[i])) return false;
        while (i < n && isDigit(t[i])) ++i;
    }
    if (i < n && (t[i] == 'e' || t[i] == 'E')) {
        ++i;
        if (i < n && (t[i] == '+' || t[i] == '-')) ++i;
        if (i >= n || !isDigit(t[i])) return false;
        while (i < n && isDigit(t[i])) ++i;
    }
    return i == n;
}

bool isPlainValue(const ns::Object* o) {
    return ns::as<ns::Dictionary>(o) || ns::as<ns::Array>(o) || ns::as<ns::String>(o) ||
           ns::as<ns::Number>(o) || ns::isNull(o);
}

}  // namespace

// ---------------------------------------------------------------------------
// Writer

JsonStreamWriter::JsonStreamWriter() : state_(JsonStreamWriterStateStart::sharedInstance()) {
    stateStack_.reserve(32);
    escapedStringCache();  // class set-up, once per process
}

void JsonStreamWriter::appendBytesLength(const void* bytes, size_t length) {
    if (auto d = delegate_.lock()) d->writerAppendBytesLength(this, bytes, length);
}

bool JsonStreamWriter::beginValue(bool isKey, bool isOpening) {
    if (state_->isInvalidState(this)) return false;
    if (!isKey && state_->expectingKey(this)) return false;
    state_->appendSeparator(this);
    if (humanReadable_ && (!isOpening || !stateStack_.empty())) state_->appendWhitespace(this);
    return true;
}

bool JsonStreamWriter::writeObjectOpen() {
    if (!beginValue(false, true)) return false;
    stateStack_.push_back(state_);
    state_ = JsonStreamWriterStateObjectStart::sharedInstance();
    if (maxDepth_ && stateStack_.size() > maxDepth_) {
        error_ = "Nested too deep";
        return false;
    }
    appendBytes("{");
    return true;
}

bool JsonStreamWriter::writeArrayOpen() {
    if (!beginValue(false, true)) return false;
    stateStack_.push_back(state_);
    state_ = JsonStreamWriterStateArrayStart::sharedInstance();
    if (maxDepth_ && stateStack_.size() > maxDepth_) {
        error_ = "Nested too deep";
        return false;
    }
    appendBytes("[");
    return true;
}

bool JsonStreamWriter::writeObjectClose() {
    if (state_->isInvalidState(this)) return false;
    // Only an object whose last key has its value may close.
    if (stateStack_.empty() || (state_ != JsonStreamWriterStateObjectStart::sharedInstance() &&
                                state_ != JsonStreamWriterStateObjectKey::sharedInstance())) {
        error_ = "Unexpected object close";
        return false;
    }
    const JsonStreamWriterState* inner = state_;
    state_ = stateStack_.back();
    stateStack_.pop_back();
    if (humanReadable_) inner->appendWhitespace(this);
    appendBytes("}");
    state_->transitionState(this);
    return true;
}

bool JsonStreamWriter::writeArrayClose() {
    if (state_->isInvalidState(this)) return false;
    if (state_->expectingKey(this)) return false;
    if (stateStack_.empty() || (state_ != JsonStreamWriterStateArrayStart::sharedInstance() &&
                                state_ != JsonStreamWriterStateArrayValue::sharedInstance())) {
        error_ = "Unexpected array close";
        return false;
    }
    const JsonStreamWriterState* inner = state_;
    state_ = stateStack_.back();
    stateStack_.pop_back();
    if (humanReadable_) inner->appendWhitespace(this);
    appendBytes("]");
    state_->transitionState(this);
    return true;
}

bool JsonStreamWriter::writeNull() {
    if (!beginValue(false, false)) return false;
    appendBytes("null");
    state_->transitionState(this);
    return true;
}

bool JsonStreamWriter::writeBool(bool value) {
    if (!beginValue(false, false)) return false;
    appendBytes(value ? std::string_view("true") : std::string_view("false"));
    state_->transitionState(this);
    return true;
}

bool JsonStreamWriter::writeString(const ns::String* string) {
    if (!string) {
        error_ = "JSON serialisation not supported for (null)";
        return false;
    }
    if (!beginValue(true, false)) return false;
    EscapedStringCache& cache = escapedStringCache();
    std::string escaped;
    if (!cache.lookup(string->utf8(), &escaped)) {
        escaped = quoteAndEscape(string->utf8());
        cache.store(string->utf8(), escaped);
    }
    appendBytes(escaped);
    state_->transitionState(this);
    return true;
}

bool JsonStreamWriter::writeNumber(const ns::Number* number) {
    if (!number) {
        error_ = "JSON serialisation not supported for (null)";
        return false;
    }
    if (number->isBool()) return writeBool(number->boolValue());
    if (!beginValue(false, false)) return false;

    char buf[128];
    std::string_view text;
    auto checkFinite = [&](double d) {
        if (std::isnan(d)) {
            error_ = "NaN is not a valid number in JSON";
            return false;
        }
        if (std::isinf(d)) {
            error_ = d > 0 ? "+Infinity is not a valid number in JSON" : "-Infinity is not a valid number in JSON";
            return false;
        }
        return true;
    };
    if (auto* dec = ns::as<ns::DecimalNumber>(number)) {
        // A decimal is written as its own exact text when that is a JSON
        // number; any other text is judged by its value.
        if (isJsonNumberText(dec->text())) {
            text = dec->text();
        } else {
            double d = dec->doubleValue();
            if (!checkFinite(d)) return false;
            text = std::string_view(buf, static_cast<size_t>(std::snprintf(buf, sizeof buf, "%.17g", d)));
        }
    } else if (number->isFloatingPoint()) {
        double d = number->doubleValue();
        if (!checkFinite(d)) return false;
        text = std::string_view(buf, static_cast<size_t>(std::snprintf(buf, sizeof buf, "%.17g", d)));
    } else if (number->isUnsigned()) {
        text = std::string_view(buf, static_cast<size_t>(std::snprintf(buf, sizeof buf, "%llu",
                                                                       number->unsignedLongLongValue())));
    } else {
        text = std::string_view(buf, static_cast<size_t>(std::snprintf(buf, sizeof buf, "%lld",
                                                                       number->longLongValue())));
    }
    appendBytes(text);
    state_->transitionState(this);
    return true;
}

bool JsonStreamWriter::writeObject(const ns::Dictionary* dict) {
    if (stateStack_.size() >= kMaxTreeDepth) {
        error_ = "Nested too deep";
        return false;
    }
    // A snapshot: the values stay alive even if a proxy changes the tree.
    std::vector<std::pair<ns::Ref<ns::Object>, ns::Ref<ns::Object>>> entries;
    entries.reserve(dict->count());
    for (size_t i = 0; i < dict->count(); ++i)
        entries.emplace_back(ns::Ref<ns::Object>(dict->keyAtIndex(i)), ns::Ref<ns::Object>(dict->valueAtIndex(i)));

    if (!writeObjectOpen()) return false;
    if (sortKeys_) {
        for (const auto& e : entries) {
            if (!ns::as<ns::String>(e.first.get())) {
                error_ = "JSON object key must be string: " + ns::describe(e.first);
                return false;
            }
        }
        std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
            return static_cast<ns::String*>(a.first.get())->compare(*static_cast<ns::String*>(b.first.get())) ==
                   ns::ComparisonResult::Ascending;
        });
    }
    for (const auto& e : entries) {
        auto* key = ns::as<ns::String>(e.first.get());
        if (!key) {
            error_ = "JSON object key must be string: " + ns::describe(e.first);
            return false;
        }
        if (!writeString(key)) return false;
        if (!writeValue(e.second.get())) return false;
    }
    return writeObjectClose();
}

bool JsonStreamWriter::writeArray(const ns::Array* array) {
    if (stateStack_.size() >= kMaxTreeDepth) {
        error_ = "Nested too deep";
        return false;
    }
    if (!writeArrayOpen()) return false;
    for (size_t i = 0; i < array->count(); ++i) {
        ns::Ref<ns::Object> element = array->at(i);
        if (!writeValue(element.get())) return false;
    }
    return writeArrayClose();
}

bool JsonStreamWriter::writeValue(const ns::Object* value) {
    if (auto* d = ns::as<ns::Dictionary>(value)) return writeObject(d);
    if (auto* a = ns::as<ns::Array>(value)) return writeArray(a);
    if (auto* s = ns::as<ns::String>(value)) return writeString(s);
    if (auto* n = ns::as<ns::Number>(value)) return writeNumber(n);
    if (value && ns::isNull(value)) return writeNull();
    if (auto* p = dynamic_cast<const JsonProxy*>(value)) return writeProxy(p);
    error_ = std::string("JSON serialisation not supported for ") + (value ? value->className() : "(null)");
    return false;
}

bool JsonStreamWriter::writeProxy(const JsonProxy* proxy) {
    ns::Ref<ns::Object> v = proxy->proxyForJson();
    for (int hops = 1;; ++hops) {
        auto* next = dynamic_cast<const JsonProxy*>(v.get());
        if (!next || isPlainValue(v.get())) return writeValue(v.get());
        if (hops >= kMaxProxyChain) {
            error_ = std::string("JSON serialisation not supported for ") + v->className();
            return false;
        }
        v = next->proxyForJson();
    }
}

}  // namespace json
