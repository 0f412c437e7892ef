// The fast decoder's own dictionary: an open-addressing hash table with
// linear probing, sized from a fixed table of capacities (at least 1.33 slots
// per entry when made or grown; it never shrinks). The decoder hands in key
// hashes it has already computed. Iteration follows slot order. The table
// made by the decoder lives in the same allocation as the dictionary: the
// slots, then one tag byte per slot (a byte of the key's hash, so that most
// probes of a different key are told apart without comparing keys).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

#include "net/json/FJArray.h"
#include "platform/foundation/Dictionary.h"

namespace json {

struct FJHashTableEntry {
    ns::Object* key;      // owned; nullptr for an empty slot
    ns::Object* object;   // owned
};

class FJValuePool;

class FJDictionary final : public ns::MutableDictionary {
public:
    // Takes over `count` owned (key, object) references with their key
    // hashes, inserted in order (a repeated key keeps the last object).
    // Returns nil when memory cannot be had or the size is beyond the
    // largest table (the references are then released).
    // With a pool, the dictionary is placed in it (nil when it is out of
    // memory). An immutable empty dictionary is one shared object. With
    // `displaced`, the references a repeated key displaces are handed there
    // instead of being released.
    static ns::Ref<FJDictionary> makeWithEntries(ns::Object* const* keys, ns::Object* const* objects,
                                                 const size_t* keyHashes, size_t count, bool mutableCollection,
                                                 FJValuePool* pool = nullptr,
                                                 std::vector<ns::Object*>* displaced = nullptr);
    [[noreturn]] static ns::Ref<FJDictionary> alloc();

    // Slots for `count` entries: the first table value not below
    // floor(count * 1.33), or 0 when no table value is large enough.
    static size_t capacityForCount(size_t count);
    static constexpr size_t kLargestCapacity = 472907251;

    ~FJDictionary() override;
    const char* className() const override { return "FJDictionary"; }

    size_t count() const override { return count_; }
    ns::Object* objectForKey(const ns::Object& key) const override;
    ns::Object* objectForKey(std::string_view key) const override;
    using ns::Dictionary::objectForKey;
    // The index-th occupied slot in slot order; RangeException past the end.
    ns::Object* keyAtIndex(size_t index) const override { return table()[slotAt(index)].key; }
    ns::Object* valueAtIndex(size_t index) const override { return table()[slotAt(index)].object; }

    // Writes keys and objects (either may be nullptr) in slot order.
    void getObjectsAndKeys(ns::Object** objects, ns::Object** keys) const;
    // Keys in slot order; state->state is the next slot to examine.
    size_t countByEnumeratingWithStateObjectsCount(FJFastEnumerationState* state, ns::Object** buffer,
                                                   size_t len) const;
    ns::Ref<class FJDictionaryEnumerator> keyEnumerator() const;

    // Changes raise InternalInconsistencyException on an immutable dictionary.
    void setObjectForKey(ns::Ref<ns::Object> value, ns::Ref<ns::Object> key) override;
    void removeObjectForKey(const ns::Object& key) override;
    using ns::MutableDictionary::removeObjectForKey;
    void removeAllObjects() override;

    // Immutable: this dictionary itself; mutable: a standard immutable one.
    ns::Ref<ns::Dictionary> copy() const;

    size_t capacity() const { return capacity_; }
    uint64_t mutations() const { return mutations_; }
    bool isMutable() const { return mutations_ != 0; }
    // Slot access for the enumerator.
    const FJHashTableEntry* entries() const { return table(); }

    // Frees the combined dictionary-and-table block, from the heap or its pool.
    static void operator delete(FJDictionary* p, std::destroying_delete_t);

private:
    FJDictionary(size_t capacityIndex, bool mutableCollection, bool pooled);
    // The dictionary with its first table (room for the address of a later
    // one in a mutable dictionary).
    static size_t blockSize(size_t capacity, bool mutableCollection);
    FJHashTableEntry* inlineTable() const {
        return reinterpret_cast<FJHashTableEntry*>(const_cast<FJDictionary*>(this) + 1);
    }
    // Once a mutable dictionary has outgrown the table made with it, the
    // table lives in a heap block whose address the first table's place keeps.
    bool grown() const { return capacityIndex_ != inlineCapacityIndex_; }
    FJHashTableEntry** heapLink() const { return reinterpret_cast<FJHashTableEntry**>(inlineTable()); }
    FJHashTableEntry* table() const { return grown() ? *heapLink() : inlineTable(); }
    static uint8_t* tagsOf(FJHashTableEntry* table, size_t capacity) {
        return reinterpret_cast<uint8_t*>(table + capacity);
    }
    uint8_t* tags() const { return tagsOf(table(), capacity_); }
    static uint32_t fold(size_t hash) { return static_cast<uint32_t>(hash ^ (hash >> 32)); }
    static uint8_t tagOf(size_t hash) { return static_cast<uint8_t>(fold(hash)); }
    void checkMutable(const char* operation) const;
    void advanceMutations() {
        mutations_ = mutations_ == UINT64_MAX ? 1 : mutations_ + 1;
        cursor_.store(0, std::memory_order_relaxed);
    }
    template <class Eq> long find(size_t hash, Eq equalKey) const;
    // Owned references; see makeWithEntries for `displaced`.
    void insert(size_t hash, ns::Object* key, ns::Object* object, std::vector<ns::Object*>* displaced = nullptr);
    void place(size_t slot, uint8_t tag, ns::Object* key, ns::Object* object);
    void removeSlot(size_t slot);
    size_t slotOfIndex(size_t index) const;
    // The slot of the entry at `index`: the remembered one at once (a walk
    // asks for a key and then its value), any other by slotOfIndex.
    size_t slotAt(size_t index) const {
        uint64_t c = cursor_.load(std::memory_order_relaxed);
        if (c != 0 && (c >> 32) == index) return static_cast<size_t>(c & 0xFFFFFFFFu) - 1;
        return slotOfIndex(index);
    }

    // Start slot of a hash: its 32-bit fold modulo the capacity, computed by
    // multiplication with a constant made for the capacity.
    size_t startSlot(size_t hash) const;
    void setCapacityIndex(size_t index);

    // The count and the capacity share the header's spare word and the next.
    uint32_t count_;
    uint32_t capacity_;
    uint8_t capacityIndex_;        // place of capacity_ in the table of capacities
    uint8_t inlineCapacityIndex_;  // the same for the table made with the dictionary
    bool pooled_;                  // placed in a decoder's value pool
    uint64_t mutations_;
    // Last (index << 32 | slot + 1) looked up by keyAtIndex/valueAtIndex, so
    // that walking the entries in order costs one step each.
    mutable std::atomic<uint64_t> cursor_{0};
};

// Walks a dictionary's keys in slot order.
class FJDictionaryEnumerator final : public ns::Object {
public:
    // Keeps a reference to the dictionary; nil when none is given.
    static ns::Ref<FJDictionaryEnumerator> initWithFJDictionary(const FJDictionary* dictionary);
    const char* className() const override { return "FJDictionaryEnumerator"; }
    // The next key, or nullptr at the end.
    ns::Object* nextObject();
    // The keys not yet returned, in slot order.
    ns::Ref<ns::Array> allObjects();

    explicit FJDictionaryEnumerator(const FJDictionary* d) : collection_(const_cast<FJDictionary*>(d)) {}

private:
    ns::Ref<FJDictionary> collection_;
    size_t nextObject_ = 0;
};

}  // namespace json
