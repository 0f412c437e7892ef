// Archive layout (a binary property list):
//
//   { "$archiver": "KeyedArchive", "$version": 1, "$root": VALUE }
//
// VALUE is a string, number, data or date as it stands, or a dictionary
// tagged with "$class":
//   { "$class": "$nil" }                                  nil (a field that holds none)
//   { "$class": "$null" }                                 the Null object
//   { "$class": "$array", "$items": [VALUE...] }
//   { "$class": "$dict", "$keys": [VALUE...], "$values": [VALUE...] }
//   { "$class": NAME, "$fields": { key: VALUE, ... } }    a record, NAME its className()
//
// Record fields live in their own dictionary, so no field name can clash
// with the tags.

#include "platform/foundation/KeyedArchive.h"

#include <limits>
#include <map>
#include <mutex>
#include <shared_mutex>

#include "platform/foundation/Array.h"
#include "platform/foundation/Data.h"
#include "platform/foundation/Date.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/FileIO.h"
#include "platform/foundation/Null.h"
#include "platform/foundation/Number.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/String.h"

namespace ns {

namespace {

constexpr size_t kMaxNesting = 200;  // archive objects inside each other
constexpr const char* kArchiverName = "KeyedArchive";

struct Registry {
    std::shared_mutex mutex;
    std::map<std::string, ClassRegistry::Factory, std::less<>> factories;
};
Registry& registry() {
    static Registry r;
    return r;
}

Ref<Object> tagged(std::string_view cls) { return Dictionary::make({{"$class", String::make(cls)}}); }

}  // namespace

// --- registry -------------------------------------------------------------

void ClassRegistry::registerClass(std::string name, Factory factory) {
    std::unique_lock<std::shared_mutex> g(registry().mutex);
    registry().factories[std::move(name)] = std::move(factory);
}

Ref<Object> ClassRegistry::instantiate(std::string_view name) {
    Factory f;
    {
        std::shared_lock<std::shared_mutex> g(registry().mutex);
        auto it = registry().factories.find(name);
        if (it == registry().factories.end()) return nullptr;
        f = it->second;
    }
    return f();
}

bool ClassRegistry::isRegistered(std::string_view name) {
    std::shared_lock<std::shared_mutex> g(registry().mutex);
    return registry().factories.find(name) != registry().factories.end();
}

// --- coder ----------------------------------------------------------------

void Coder::fail(long code, std::string message) {
    Coder* target = root_ ? root_ : this;
    if (!target->error_) target->error_ = Error::withDescription(kKeyedArchiveErrorDomain, code, message);
}

void Coder::requireEncoding() const {
    if (!encoding_) throw Exception(kInvalidArgumentException, "encoding into a decoding coder");
}
void Coder::requireDecoding() const {
    if (encoding_) throw Exception(kInvalidArgumentException, "decoding from an encoding coder");
}

Ref<Object> Coder::encodeValue(const Object* o) {
    if (!o) return tagged("$nil");
    if (isNull(o)) return tagged("$null");
    if (depth_ > kMaxNesting) {
        fail(kKeyedArchiveInvalidObjectError, "objects nested deeper than " + std::to_string(kMaxNesting));
        return nullptr;
    }
    if (auto* s = as<String>(o)) {
        if (!isValidUTF8(s->utf8().data(), s->utf8().size())) {
            fail(kKeyedArchiveInvalidObjectError, "string is not valid UTF-8");
            return nullptr;
        }
        return as<MutableString>(o) ? Ref<Object>(String::make(s->utf8())) : Ref<Object>(const_cast<Object*>(o));
    }
    if (auto* d = as<Data>(o)) return as<MutableData>(o) ? Ref<Object>(Data::make(d->bytes(), d->length())) : Ref<Object>(const_cast<Object*>(o));
    if (as<Number>(o) || as<Date>(o)) return Ref<Object>(const_cast<Object*>(o));

    Coder child(true, depth_ + 1);
    child.root_ = root_ ? root_ : this;
    if (auto* a = as<Array>(o)) {
        std::vector<Ref<Object>> items;
        items.reserve(a->count());
        for (Object* item : *a) {
            Ref<Object> v = child.encodeValue(item);
            if (!v) return nullptr;
            items.push_back(std::move(v));
        }
        return Dictionary::make({{"$class", str("$array")}, {"$items", Array::make(std::move(items))}});
    }
    if (auto* d = as<Dictionary>(o)) {
        std::vector<Ref<Object>> keys, values;
        for (size_t i = 0, n = d->count(); i < n; ++i) {
            Ref<Object> k = child.encodeValue(d->keyAtIndex(i));
            Ref<Object> v = k ? child.encodeValue(d->valueAtIndex(i)) : nullptr;
            if (!v) return nullptr;
            keys.push_back(std::move(k));
            values.push_back(std::move(v));
        }
        return Dictionary::make({{"$class", str("$dict")},
                                 {"$keys", Array::make(std::move(keys))},
                                 {"$values", Array::make(std::move(values))}});
    }
    if (auto* record = dynamic_cast<const Coding*>(o)) {
        child.fields_ = MutableDictionary::make();
        record->encodeWithCoder(child);
        if ((root_ ? root_ : this)->error_) return nullptr;
        return Dictionary::make({{"$class", String::make(o->className())}, {"$fields", child.fields_->copy()}});
    }
    fail(kKeyedArchiveInvalidObjectError, std::string("cannot archive an object of class ") + o->className());
    return nullptr;
}

void Coder::encodeObject(const Object* object, std::string_view key) {
    requireEncoding();
    if (Ref<Object> v = encodeValue(object)) fields_->setObject(std::move(v), key);
}
void Coder::encodeBool(bool value, std::string_view key) {
    requireEncoding();
    fields_->setObject(Number::numberWithBool(value), key);
}
void Coder::encodeInt(int value, std::string_view key) {
    requireEncoding();
    fields_->setObject(Number::numberWithInt(value), key);
}
void Coder::encodeInt32(int32_t value, std::string_view key) {
    requireEncoding();
    fields_->setObject(Number::numberWithInt(value), key);
}
void Coder::encodeInt64(int64_t value, std::string_view key) {
    requireEncoding();
    fields_->setObject(Number::numberWithLongLong(value), key);
}
void Coder::encodeDouble(double value, std::string_view key) {
    requireEncoding();
    fields_->setObject(Number::numberWithDouble(value), key);
}

bool Coder::containsValueForKey(std::string_view key) const {
    requireDecoding();
    return stored_ && stored_->objectForKey(key) != nullptr;
}

Ref<Object> Coder::decodeValue(Object* v) {
    if (as<String>(v) || as<Number>(v) || as<Data>(v) || as<Date>(v)) return Ref<Object>(v);
    auto* d = as<Dictionary>(v);
    String* cls = d ? d->stringForKey("$class") : nullptr;
    if (!cls) {
        fail(kKeyedArchiveCorruptError, std::string("unexpected ") + (v ? v->className() : "nothing") + " in archive");
        return nullptr;
    }
    const std::string name(cls->utf8());
    if (name == "$nil") return nullptr;
    if (name == "$null") return Null::null();
    Coder child(false, depth_ + 1);
    child.root_ = root_ ? root_ : this;
    if (name == "$array") {
        auto* items = d->arrayForKey("$items");
        if (!items) return fail(kKeyedArchiveCorruptError, "array without items"), nullptr;
        std::vector<Ref<Object>> out;
        out.reserve(items->count());
        for (Object* item : *items) {
            Ref<Object> x = child.decodeValue(item);
            if (!x) return fail(kKeyedArchiveCorruptError, "nil inside an array"), nullptr;
            out.push_back(std::move(x));
        }
        return Array::make(std::move(out));
    }
    if (name == "$dict") {
        auto* keys = d->arrayForKey("$keys");
        auto* values = d->arrayForKey("$values");
        if (!keys || !values || keys->count() != values->count())
            return fail(kKeyedArchiveCorruptError, "dictionary with mismatched keys and values"), nullptr;
        std::vector<Dictionary::Entry> entries;
        entries.reserve(keys->count());
        for (size_t i = 0; i < keys->count(); ++i) {
            Ref<Object> k = child.decodeValue(keys->objectAtIndex(i));
            Ref<Object> x = k ? child.decodeValue(values->objectAtIndex(i)) : nullptr;
            if (!x) return fail(kKeyedArchiveCorruptError, "nil key or value in a dictionary"), nullptr;
            entries.emplace_back(std::move(k), std::move(x));
        }
        return Dictionary::make(std::move(entries));
    }
    auto* fields = d->dictionaryForKey("$fields");
    if (!fields) return fail(kKeyedArchiveCorruptError, "record " + name + " without fields"), nullptr;
    Ref<Object> object = ClassRegistry::instantiate(name);
    if (!object) return fail(kKeyedArchiveUnknownClassError, "no class registered as " + name), nullptr;
    auto* record = dynamic_cast<Coding*>(object.get());
    if (!record) return fail(kKeyedArchiveUnknownClassError, name + " cannot be unarchived"), nullptr;
    child.stored_ = Ref<Dictionary>(fields);
    bool accepted = record->initWithCoder(child);
    if ((root_ ? root_ : this)->error_) return nullptr;
    if (!accepted) return fail(kKeyedArchiveRefusedError, name + " refused its archived fields"), nullptr;
    return object;
}

Ref<Object> Coder::decodeObjectForKey(std::string_view key) {
    requireDecoding();
    Object* v = stored_ ? stored_->objectForKey(key) : nullptr;
    if (!v) return nullptr;
    return decodeValue(v);
}

Number* Coder::numberForKey(std::string_view key, const char* kind) {
    requireDecoding();
    Object* v = stored_ ? stored_->objectForKey(key) : nullptr;
    if (!v) return nullptr;
    auto* n = as<Number>(v);
    if (!n) fail(kKeyedArchiveCorruptError, "value for \"" + std::string(key) + "\" is not " + kind);
    return n;
}

bool Coder::decodeBoolForKey(std::string_view key) {
    Number* n = numberForKey(key, "a boolean");
    return n && n->boolValue();
}

int64_t Coder::decodeInt64ForKey(std::string_view key) {
    Number* n = numberForKey(key, "an integer");
    if (!n) return 0;
    if (n->isFloatingPoint() || (n->isUnsigned() && n->unsignedLongLongValue() > uint64_t(INT64_MAX))) {
        fail(kKeyedArchiveCorruptError, "value for \"" + std::string(key) + "\" is not a 64-bit integer");
        return 0;
    }
    return n->longLongValue();
}

int32_t Coder::decodeInt32ForKey(std::string_view key) {
    int64_t v = decodeInt64ForKey(key);
    if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max()) {
        fail(kKeyedArchiveCorruptError, "value for \"" + std::string(key) + "\" is out of 32-bit range");
        return 0;
    }
    return static_cast<int32_t>(v);
}

int Coder::decodeIntForKey(std::string_view key) { return decodeInt32ForKey(key); }

double Coder::decodeDoubleForKey(std::string_view key) {
    Number* n = numberForKey(key, "a number");
    return n ? n->doubleValue() : 0.0;
}

// --- archiver / unarchiver ------------------------------------------------

std::optional<std::string> KeyedArchiver::archivedDataWithRootObject(const Object& root, Ref<Error>* error) {
    Coder top(true, 0);
    Ref<Object> value = top.encodeValue(&root);
    if (!value) {
        if (error) *error = top.error_;
        return std::nullopt;
    }
    auto archive = Dictionary::make({{"$archiver", str(kArchiverName)}, {"$version", Number::numberWithInt(1)}, {"$root", value}});
    return PropertyList::dataFromPropertyList(*archive, PropertyListFormat::Binary, error);
}

bool KeyedArchiver::archiveRootObjectToFile(const Object& root, const std::string& path, Ref<Error>* error) {
    auto bytes = archivedDataWithRootObject(root, error);
    return bytes && writeFileAtomically(path, *bytes, error);
}

Ref<Object> KeyedUnarchiver::unarchiveObjectWithData(std::string_view bytes, Ref<Error>* error) {
    Ref<Object> plist = PropertyList::readFromData(bytes, error);
    if (!plist) return nullptr;
    auto* archive = as<Dictionary>(plist.get());
    auto* tag = archive ? archive->stringForKey("$archiver") : nullptr;
    auto* version = archive ? archive->numberForKey("$version") : nullptr;
    Object* rootValue = archive ? archive->objectForKey("$root") : nullptr;
    if (!tag || tag->utf8() != kArchiverName || !version || version->intValue() != 1 || !rootValue) {
        if (error) *error = Error::withDescription(kKeyedArchiveErrorDomain, kKeyedArchiveCorruptError, "not a keyed archive");
        return nullptr;
    }
    Coder top(false, 0);
    Ref<Object> result = top.decodeValue(rootValue);
    if (top.error_) {
        if (error) *error = top.error_;
        return nullptr;
    }
    if (!result && error)
        *error = Error::withDescription(kKeyedArchiveErrorDomain, kKeyedArchiveCorruptError, "archive holds nil");
    return result;
}

Ref<Object> KeyedUnarchiver::unarchiveObjectWithFile(const std::string& path, Ref<Error>* error) {
    auto bytes = readFile(path, error);
    if (!bytes) return nullptr;
    return unarchiveObjectWithData(*bytes, error);
}

}  // namespace ns
