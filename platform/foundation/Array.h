// Ordered collections of objects. `Array` and `MutableArray` are interfaces:
// the standard implementation lives behind the `make` factories, and other
// implementations (a codec's own compact arrays) derive from the same classes.
// Arrays never hold nil; adding nil raises InvalidArgumentException.
#pragma once

#include <functional>
#include <initializer_list>
#include <vector>

#include "platform/foundation/Object.h"

namespace ns {

class MutableArray;

class Array : public Object {
public:
    const char* className() const override { return "Array"; }
    std::string description() const override;  // "(\n    a,\n    b\n)"
    bool isEqual(const Object& other) const override;
    size_t hash() const override { return count(); }

    virtual size_t count() const = 0;
    // Borrowed pointer to the element; raises RangeException past the end.
    virtual Object* objectAtIndex(size_t index) const = 0;
    // The count() elements as one run in memory, where the class keeps them
    // so (the standard arrays do), else nullptr: a reader of every element
    // then makes one call instead of one per element. Valid until the array
    // changes.
    virtual const Ref<Object>* objectsInMemory() const { return nullptr; }

    static Ref<Array> make();
    static Ref<Array> make(std::vector<Ref<Object>> objects);
    static Ref<Array> make(std::initializer_list<Ref<Object>> objects);

    Ref<Object> at(size_t index) const { return Ref<Object>(objectAtIndex(index)); }
    template <class T> T* objectAtIndexAs(size_t index) const {
        return index < count() ? dynamic_cast<T*>(objectAtIndex(index)) : nullptr;
    }
    Object* firstObject() const { return count() ? objectAtIndex(0) : nullptr; }
    Object* lastObject() const { return count() ? objectAtIndex(count() - 1) : nullptr; }
    bool containsObject(const Object& o) const { return indexOfObject(o) != static_cast<size_t>(-1); }
    size_t indexOfObject(const Object& o) const;               // by isEqual; NotFound when absent
    size_t indexOfObjectIdenticalTo(const Object* o) const;    // by identity
    bool isEqualToArray(const Array& other) const;

    std::vector<Ref<Object>> toVector() const;
    Ref<Array> copy() const;                 // an immutable copy (shares elements)
    Ref<MutableArray> mutableCopy() const;
    Ref<Array> arrayByAddingObject(Ref<Object> o) const;
    Ref<Array> sortedArrayUsingComparator(const std::function<bool(Object*, Object*)>& less) const;
    Ref<Array> subarrayWithRange(size_t location, size_t length) const;  // clamps

    // Range-for over borrowed elements.
    class Iterator {
    public:
        Iterator(const Array* a, size_t i) : a_(a), i_(i) {}
        Object* operator*() const { return a_->objectAtIndex(i_); }
        Iterator& operator++() { ++i_; return *this; }
        bool operator!=(const Iterator& o) const { return i_ != o.i_; }
    private:
        const Array* a_;
        size_t i_;
    };
    Iterator begin() const { return {this, 0}; }
    Iterator end() const { return {this, count()}; }
};

class MutableArray : public Array {
public:
    const char* className() const override { return "MutableArray"; }
    static Ref<MutableArray> make(size_t capacity = 0);

    virtual void addObject(Ref<Object> o) = 0;
    virtual void insertObjectAtIndex(Ref<Object> o, size_t index) = 0;
    virtual void removeObjectAtIndex(size_t index) = 0;
    virtual void replaceObjectAtIndex(size_t index, Ref<Object> o) = 0;
    virtual void removeAllObjects() = 0;

    void removeLastObject() { if (count()) removeObjectAtIndex(count() - 1); }
    void removeObject(const Object& o);  // every element isEqual to o
    void addObjectsFromArray(const Array& a);
    void exchangeObjectAtIndex(size_t a, size_t b);
    void sortUsingComparator(const std::function<bool(Object*, Object*)>& less);
};

}  // namespace ns
