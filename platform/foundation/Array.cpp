#include "platform/foundation/Array.h"

#include <algorithm>

#include "platform/foundation/CollectionDescription.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/ReleaseScope.h"

namespace ns {

namespace {

void requireObject(const Ref<Object>& o) {
    if (!o) throw Exception(kInvalidArgumentException, "attempt to insert nil object");
}

// Lets the elements go within a release scope, so that a deep tree of
// arrays is let go without recursing once per level.
void letGo(std::vector<Ref<Object>>& v) {
    ReleaseScope scope;
    if (scope.deep())
        for (Ref<Object>& o : v) ReleaseScope::putOff(std::move(o));
    v.clear();
}

[[noreturn]] void outOfRange(size_t index, size_t count) {
    throw Exception(kRangeException, "index " + std::to_string(index) + " beyond bounds [0 .. " +
                                         (count ? std::to_string(count - 1) : std::string("-1")) + "]");
}

class VectorArray final : public Array {
public:
    explicit VectorArray(std::vector<Ref<Object>> v) : v_(std::move(v)) {}
    ~VectorArray() override { letGo(v_); }
    size_t count() const override { return v_.size(); }
    Object* objectAtIndex(size_t i) const override {
        if (i >= v_.size()) outOfRange(i, v_.size());
        return v_[i].get();
    }
    const Ref<Object>* objectsInMemory() const override { return v_.data(); }

private:
    std::vector<Ref<Object>> v_;
};

class VectorMutableArray final : public MutableArray {
public:
    explicit VectorMutableArray(std::vector<Ref<Object>> v = {}) : v_(std::move(v)) {}
    ~VectorMutableArray() override { letGo(v_); }
    size_t count() const override { return v_.size(); }
    Object* objectAtIndex(size_t i) const override {
        if (i >= v_.size()) outOfRange(i, v_.size());
        return v_[i].get();
    }
    const Ref<Object>* objectsInMemory() const override { return v_.data(); }
    void addObject(Ref<Object> o) override {
        requireObject(o);
        v_.push_back(std::move(o));
    }
    void insertObjectAtIndex(Ref<Object> o, size_t i) override {
        requireObject(o);
        if (i > v_.size()) outOfRange(i, v_.size());
        v_.insert(v_.begin() + static_cast<long>(i), std::move(o));
    }
    void removeObjectAtIndex(size_t i) override {
        if (i >= v_.size()) outOfRange(i, v_.size());
        v_.erase(v_.begin() + static_cast<long>(i));
    }
    void replaceObjectAtIndex(size_t i, Ref<Object> o) override {
        requireObject(o);
        if (i >= v_.size()) outOfRange(i, v_.size());
        v_[i] = std::move(o);
    }
    void removeAllObjects() override { v_.clear(); }
    void reserve(size_t n) { v_.reserve(n); }

private:
    std::vector<Ref<Object>> v_;
};

}  // namespace

Ref<Array> Array::make() { return ns::make<VectorArray>(std::vector<Ref<Object>>{}); }

Ref<Array> Array::make(std::vector<Ref<Object>> objects) {
    for (auto& o : objects) requireObject(o);
    return ns::make<VectorArray>(std::move(objects));
}

Ref<Array> Array::make(std::initializer_list<Ref<Object>> objects) {
    return make(std::vector<Ref<Object>>(objects));
}

Ref<MutableArray> MutableArray::make(size_t capacity) {
    auto a = ns::make<VectorMutableArray>();
    a->reserve(capacity);
    return a;
}

std::string Array::description() const { return describeCollection(this, 0); }

bool Array::isEqual(const Object& other) const {
    if (this == &other) return true;
    auto* a = dynamic_cast<const Array*>(&other);
    return a && isEqualToArray(*a);
}

bool Array::isEqualToArray(const Array& a) const {
    size_t n = count();
    if (a.count() != n) return false;
    for (size_t i = 0; i < n; ++i)
        if (!equal(objectAtIndex(i), a.objectAtIndex(i))) return false;
    return true;
}

size_t Array::indexOfObject(const Object& o) const {
    for (size_t i = 0, n = count(); i < n; ++i)
        if (equal(objectAtIndex(i), &o)) return i;
    return static_cast<size_t>(-1);
}

size_t Array::indexOfObjectIdenticalTo(const Object* o) const {
    for (size_t i = 0, n = count(); i < n; ++i)
        if (objectAtIndex(i) == o) return i;
    return static_cast<size_t>(-1);
}

std::vector<Ref<Object>> Array::toVector() const {
    std::vector<Ref<Object>> v;
    v.reserve(count());
    for (Object* o : *this) v.emplace_back(o);
    return v;
}

Ref<Array> Array::copy() const {
    if (dynamic_cast<const VectorArray*>(this)) return ns::keepAlive(const_cast<Array*>(this));
    return ns::make<VectorArray>(toVector());
}

Ref<MutableArray> Array::mutableCopy() const { return ns::make<VectorMutableArray>(toVector()); }

Ref<Array> Array::arrayByAddingObject(Ref<Object> o) const {
    requireObject(o);
    auto v = toVector();
    v.push_back(std::move(o));
    return ns::make<VectorArray>(std::move(v));
}

Ref<Array> Array::sortedArrayUsingComparator(const std::function<bool(Object*, Object*)>& less) const {
    auto v = toVector();
    std::stable_sort(v.begin(), v.end(),
                     [&](const Ref<Object>& a, const Ref<Object>& b) { return less(a.get(), b.get()); });
    return ns::make<VectorArray>(std::move(v));
}

Ref<Array> Array::subarrayWithRange(size_t location, size_t length) const {
    size_t n = count();
    location = std::min(location, n);
    length = std::min(length, n - location);
    std::vector<Ref<Object>> v;
    v.reserve(length);
    for (size_t i = location; i < location + length; ++i) v.emplace_back(objectAtIndex(i));
    return ns::make<VectorArray>(std::move(v));
}

void MutableArray::removeObject(const Object& o) {
    // Every comparison is made before anything is removed: `o` may be held only by this
    // array, and removing its last holder frees it.
    std::vector<size_t> matches;
    for (size_t i = count(); i-- > 0;)
        if (equal(objectAtIndex(i), &o)) matches.push_back(i);
    for (size_t i : matches) removeObjectAtIndex(i);
}

void MutableArray::addObjectsFromArray(const Array& a) {
    // Snapshot first: adding an array to itself must not loop.
    for (auto& o : a.toVector()) addObject(o);
}

void MutableArray::exchangeObjectAtIndex(size_t a, size_t b) {
    Ref<Object> x = at(a), y = at(b);
    replaceObjectAtIndex(a, y);
    replaceObjectAtIndex(b, x);
}

void MutableArray::sortUsingComparator(const std::function<bool(Object*, Object*)>& less) {
    auto sorted = sortedArrayUsingComparator(less);
    removeAllObjects();
    for (Object* o : *sorted) addObject(Ref<Object>(o));
}

}  // namespace ns
