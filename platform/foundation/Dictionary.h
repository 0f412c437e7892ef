// Key-value collections that iterate in insertion order (a key that is set
// again keeps its place). `Dictionary` and `MutableDictionary` are interfaces
// with a standard implementation behind `make`; other implementations derive
// from the same classes. Neither keys nor values may be nil.
#pragma once

#include <initializer_list>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/foundation/Object.h"

namespace ns {

class Array;
class String;
class Number;
class Data;
class MutableDictionary;

class Dictionary : public Object {
public:
    const char* className() const override { return "Dictionary"; }
    std::string description() const override;  // "{\n    key = value;\n}"
    bool isEqual(const Object& other) const override;
    size_t hash() const override { return count(); }

    virtual size_t count() const = 0;
    // Borrowed pointer to the value, or nullptr when the key is absent.
    virtual Object* objectForKey(const Object& key) const = 0;
    // Lookup by a text key without making a String.
    virtual Object* objectForKey(std::string_view key) const;
    // Entries in iteration order, 0 <= index < count().
    virtual Object* keyAtIndex(size_t index) const = 0;
    virtual Object* valueAtIndex(size_t index) const = 0;
    using Entry = std::pair<Ref<Object>, Ref<Object>>;  // key, value
    // The count() entries in iteration order as one run in memory, where the
    // class keeps them so (the standard dictionaries do), else nullptr: a
    // reader of every entry then makes one call instead of two per entry.
    // Valid until the dictionary changes.
    virtual const Entry* entriesInMemory() const { return nullptr; }

    static Ref<Dictionary> make();
    static Ref<Dictionary> make(std::vector<Entry> entries);
    // make({{"Title", str("x")}, {"index", num(3)}}): text keys.
    static Ref<Dictionary> make(std::initializer_list<std::pair<std::string_view, Ref<Object>>> entries);

    Object* objectForKey(const char* key) const { return objectForKey(std::string_view(key)); }
    template <class T> T* objectForKeyAs(std::string_view key) const {
        return dynamic_cast<T*>(objectForKey(key));
    }
    String* stringForKey(std::string_view key) const;
    Number* numberForKey(std::string_view key) const;
    Array* arrayForKey(std::string_view key) const;
    Dictionary* dictionaryForKey(std::string_view key) const;
    Data* dataForKey(std::string_view key) const;

    Ref<Array> allKeys() const;
    Ref<Array> allValues() const;
    bool isEqualToDictionary(const Dictionary& other) const;
    Ref<Dictionary> copy() const;
    Ref<MutableDictionary> mutableCopy() const;
};

class MutableDictionary : public Dictionary {
public:
    const char* className() const override { return "MutableDictionary"; }
    static Ref<MutableDictionary> make(size_t capacity = 0);

    // Sets or replaces; a mutable text key is copied so later edits to it
    // cannot change the dictionary.
    virtual void setObjectForKey(Ref<Object> value, Ref<Object> key) = 0;
    virtual void removeObjectForKey(const Object& key) = 0;
    virtual void removeAllObjects() = 0;

    void setObject(Ref<Object> value, std::string_view key);
    void removeObjectForKey(std::string_view key);
    void addEntriesFromDictionary(const Dictionary& other);
};

}  // namespace ns
