#include "platform/foundation/Dictionary.h"

#include "platform/foundation/Array.h"
#include "platform/foundation/CollectionDescription.h"
#include "platform/foundation/Data.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Number.h"
#include "platform/foundation/ReleaseScope.h"
#include "platform/foundation/String.h"

namespace ns {

namespace {

// Insertion-ordered entries; small tables are scanned, larger ones get an
// open-addressing index of entry positions.
class OrderedTable {
public:
    size_t size() const { return entries_.size(); }
    const Dictionary::Entry& entry(size_t i) const { return entries_[i]; }
    const Dictionary::Entry* entries() const { return entries_.data(); }
    void reserve(size_t n) { entries_.reserve(n); }

    long find(const Object& key) const {
        return findWith(key.hash(), [&](const Object* k) { return equal(k, &key); });
    }
    long find(std::string_view key) const {
        return findWith(String::hashOf(key), [&](const Object* k) {
            auto* s = dynamic_cast<const String*>(k);
            return s && s->view() == key;
        });
    }

    void set(Ref<Object> key, Ref<Object> value) {
        long at = find(*key);
        if (at >= 0) {
            entries_[static_cast<size_t>(at)].second = std::move(value);
            return;
        }
        entries_.emplace_back(std::move(key), std::move(value));
        hashes_.push_back(entries_.back().first->hash());
        if (!index_.empty() && entries_.size() * 2 <= index_.size()) {
            insertIndex(entries_.size() - 1);
        } else if (entries_.size() > kScanLimit) {
            rebuildIndex();
        }
    }

    void remove(const Object& key) {
        long at = find(key);
        if (at < 0) return;
        entries_.erase(entries_.begin() + at);
        hashes_.erase(hashes_.begin() + at);
        if (!index_.empty()) rebuildIndex();
    }

    void clear() {
        entries_.clear();
        hashes_.clear();
        index_.clear();
    }
    // Lets the entries go within a release scope, so that a deep tree of
    // dictionaries is let go without recursing once per level.
    void letGo() {
        ReleaseScope scope;
        if (scope.deep()) {
            for (Dictionary::Entry& e : entries_) {
                ReleaseScope::putOff(std::move(e.first));
                ReleaseScope::putOff(std::move(e.second));
            }
        }
        entries_.clear();
    }

private:
    static constexpr size_t kScanLimit = 8;
    static constexpr uint32_t kEmpty = UINT32_MAX;

    template <class Eq>
    long findWith(size_t h, Eq eq) const {
        if (index_.empty()) {
            for (size_t i = 0; i < entries_.size(); ++i)
                if (hashes_[i] == h && eq(entries_[i].first.get())) return static_cast<long>(i);
            return -1;
        }
        size_t mask = index_.size() - 1;
        for (size_t slot = h & mask;; slot = (slot + 1) & mask) {
            uint32_t e = index_[slot];
            if (e == kEmpty) return -1;
            if (hashes_[e] == h && eq(entries_[e].first.get())) return e;
        }
    }

    void insertIndex(size_t i) {
        size_t mask = index_.size() - 1;
        size_t slot = hashes_[i] & mask;
        while (index_[slot] != kEmpty) slot = (slot + 1) & mask;
        index_[slot] = static_cast<uint32_t>(i);
    }

    void rebuildIndex() {
        if (entries_.size() <= kScanLimit) {
            index_.clear();
            return;
        }
        size_t cap = 16;
        while (cap < entries_.size() * 2) cap <<= 1;
        index_.assign(cap, kEmpty);
        for (size_t i = 0; i < entries_.size(); ++i) insertIndex(i);
    }

    std::vector<Dictionary::Entry> entries_;
    std::vector<size_t> hashes_;
    std::vector<uint32_t> index_;
};

Ref<Object> frozenKey(Ref<Object> key) {
    if (!key) throw Exception(kInvalidArgumentException, "attempt to insert nil key");
    if (auto* m = dynamic_cast<MutableString*>(key.get())) return String::make(m->utf8());
    return key;
}

// Read side shared by both standard classes.
template <class Base>
class TableBacked : public Base {
public:
    ~TableBacked() override { t_.letGo(); }
    size_t count() const override { return t_.size(); }
    Object* objectForKey(const Object& key) const override {
        long i = t_.find(key);
        return i < 0 ? nullptr : t_.entry(static_cast<size_t>(i)).second.get();
    }
    Object* objectForKey(std::string_view key) const override {
        long i = t_.find(key);
        return i < 0 ? nullptr : t_.entry(static_cast<size_t>(i)).second.get();
    }
    Object* keyAtIndex(size_t i) const override { return t_.entry(i).first.get(); }
    Object* valueAtIndex(size_t i) const override { return t_.entry(i).second.get(); }
    const Dictionary::Entry* entriesInMemory() const override { return t_.entries(); }
    void reserve(size_t n) { t_.reserve(n); }
    void put(Ref<Object> key, Ref<Object> value) {
        if (!value) throw Exception(kInvalidArgumentException, "attempt to insert nil value");
        t_.set(frozenKey(std::move(key)), std::move(value));
    }

protected:
    OrderedTable t_;
};

class StandardDictionary final : public TableBacked<Dictionary> {};

class StandardMutableDictionary final : public TableBacked<MutableDictionary> {
public:
    void setObjectForKey(Ref<Object> value, Ref<Object> key) override { put(std::move(key), std::move(value)); }
    void removeObjectForKey(const Object& key) override { t_.remove(key); }
    void removeAllObjects() override { t_.clear(); }
};

}  // namespace

Ref<Dictionary> Dictionary::make() { return ns::make<StandardDictionary>(); }

Ref<Dictionary> Dictionary::make(std::vector<Entry> entries) {
    auto d = ns::make<StandardDictionary>();
    d->reserve(entries.size());
    for (auto& e : entries) d->put(std::move(e.first), std::move(e.second));
    return d;
}

Ref<Dictionary> Dictionary::make(std::initializer_list<std::pair<std::string_view, Ref<Object>>> entries) {
    auto d = ns::make<StandardDictionary>();
    d->reserve(entries.size());
    for (auto& e : entries) d->put(String::make(e.first), e.second);
    return d;
}

Ref<MutableDictionary> MutableDictionary::make(size_t capacity) {
    auto d = ns::make<StandardMutableDictionary>();
    d->reserve(capacity);
    return d;
}

Object* Dictionary::objectForKey(std::string_view key) const {
    for (size_t i = 0, n = count(); i < n; ++i) {
        auto* s = dynamic_cast<String*>(keyAtIndex(i));
        if (s && s->view() == key) return valueAtIndex(i);
    }
    return nullptr;
}

std::string Dictionary::description() const { return describeCollection(this, 0); }

bool Dictionary::isEqual(const Object& other) const {
    if (this == &other) return true;
    auto* d = dynamic_cast<const Dictionary*>(&other);
    return d && isEqualToDictionary(*d);
}

bool Dictionary::isEqualToDictionary(const Dictionary& d) const {
    size_t n = count();
    if (d.count() != n) return false;
    for (size_t i = 0; i < n; ++i)
        if (!equal(valueAtIndex(i), d.objectForKey(*keyAtIndex(i)))) return false;
    return true;
}

String* Dictionary::stringForKey(std::string_view key) const { return objectForKeyAs<String>(key); }
Number* Dictionary::numberForKey(std::string_view key) const { return objectForKeyAs<Number>(key); }
Array* Dictionary::arrayForKey(std::string_view key) const { return objectForKeyAs<Array>(key); }
Dictionary* Dictionary::dictionaryForKey(std::string_view key) const { return objectForKeyAs<Dictionary>(key); }
Data* Dictionary::dataForKey(std::string_view key) const { return objectForKeyAs<Data>(key); }

Ref<Array> Dictionary::allKeys() const {
    std::vector<Ref<Object>> v;
    v.reserve(count());
    for (size_t i = 0, n = count(); i < n; ++i) v.emplace_back(keyAtIndex(i));
    return Array::make(std::move(v));
}

Ref<Array> Dictionary::allValues() const {
    std::vector<Ref<Object>> v;
    v.reserve(count());
    for (size_t i = 0, n = count(); i < n; ++i) v.emplace_back(valueAtIndex(i));
    return Array::make(std::move(v));
}

Ref<Dictionary> Dictionary::copy() const {
    if (dynamic_cast<const StandardDictionary*>(this)) return ns::keepAlive(const_cast<Dictionary*>(this));
    std::vector<Entry> v;
    v.reserve(count());
    for (size_t i = 0, n = count(); i < n; ++i) v.emplace_back(keyAtIndex(i), valueAtIndex(i));
    return make(std::move(v));
}

Ref<MutableDictionary> Dictionary::mutableCopy() const {
    auto d = MutableDictionary::make(count());
    d->addEntriesFromDictionary(*this);
    return d;
}

void MutableDictionary::setObject(Ref<Object> value, std::string_view key) {
    setObjectForKey(std::move(value), String::make(key));
}

void MutableDictionary::removeObjectForKey(std::string_view key) {
    Ref<String> k = String::make(key);
    removeObjectForKey(static_cast<const Object&>(*k));
}

void MutableDictionary::addEntriesFromDictionary(const Dictionary& other) {
    std::vector<Entry> snapshot;
    for (size_t i = 0, n = other.count(); i < n; ++i) snapshot.emplace_back(other.keyAtIndex(i), other.valueAtIndex(i));
    for (auto& e : snapshot) setObjectForKey(e.second, e.first);
}

}  // namespace ns
