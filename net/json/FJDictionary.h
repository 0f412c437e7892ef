// The fast decoder's own dictionary. Its entries (key, object) lie one after
// the other in the order they were first inserted, which is the order of
// iteration; an open-addressing index with linear probing finds them by key.
// The index has as many slots as the capacity, taken from a fixed table of
// capacities (at least 1.33 slots per entry when made or grown; it never
// shrinks); each slot holds an entry's position and one tag byte (a byte of
// the key's hash, so that most probes of a different key are told apart
// without comparing keys). The decoder hands in key hashes it has already
// computed. A dictionary made by the decoder is one allocation: the 24-byte
// header, its entries, its index. Dictionaries of up to three entries (most
// of them in the usual documents) keep no index: their three tags live in
// the header and a lookup compares at most three keys.
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
    ns::Object* key;      // owned
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
    // The index-th entry in iteration order; RangeException past the end.
    ns::Object* keyAtIndex(size_t index) const override { return entryAt(index).key; }
    ns::Object* valueAtIndex(size_t index) const override { return entryAt(index).object; }

    // Writes keys and objects (either may be nullptr) in iteration order.
    void getObjectsAndKeys(ns::Object** objects, ns::Object** keys) const;
    // Keys in iteration order; state->state is the next entry to hand out.
    size_t countByEnumeratingWithStateObjectsCount(FJFastEnumerationState* state, ns::Object** buffer,
                                                   size_t len) const;
    ns::Ref<class FJDictionaryEnumerator> keyEnumerator() const;

    // Changes raise InternalInconsistencyException on an immutable dictionary.
    // A key set again keeps its place; a removal keeps the order of the rest.
    void setObjectForKey(ns::Ref<ns::Object> value, ns::Ref<ns::Object> key) override;
    void removeObjectForKey(const ns::Object& key) override;
    using ns::MutableDictionary::removeObjectForKey;
    void removeAllObjects() override;

    // Immutable: this dictionary itself; mutable: a standard immutable one.
    ns::Ref<ns::Dictionary> copy() const;

    size_t capacity() const;
    uint64_t mutations() const { return changeable() ? changes()->mutations : 0; }
    bool isMutable() const { return changeable(); }
    // The count() entries in iteration order.
    const FJHashTableEntry* entries() const { return entryTable(); }

    // Frees the combined dictionary-and-table block, from the heap or its pool.
    static void operator delete(FJDictionary* p, std::destroying_delete_t);

private:
    // What only a changeable dictionary keeps, right after the header.
    struct Changes {
        uint64_t mutations;  // from 1, never 0
    };
    // Where a table's index is: the positions (entry + 1, 0 for an empty
    // slot; 1, 2 or 4 bytes each by the capacity), then the tag bytes.
    struct Index {
        uint8_t* positions;
        uint8_t* tags;
        size_t capacity;
        unsigned width;
        size_t at(size_t slot) const {
            if (width == 1) return positions[slot];
            if (width == 2) return reinterpret_cast<const uint16_t*>(positions)[slot];
            return reinterpret_cast<const uint32_t*>(positions)[slot];
        }
        void set(size_t slot, size_t position) const {
            if (width == 1) positions[slot] = static_cast<uint8_t>(position);
            else if (width == 2) reinterpret_cast<uint16_t*>(positions)[slot] = static_cast<uint16_t>(position);
            else reinterpret_cast<uint32_t*>(positions)[slot] = static_cast<uint32_t>(position);
        }
    };

    FJDictionary(size_t capacityIndex, size_t inlineRoom, bool mutableCollection, bool pooled);
    enum : uint8_t {
        kPooled = 1,   // placed in a decoder's value pool
        kMutable = 2,  // takes changes; its Changes follow the header
    };
    bool pooled() const { return flags_ & kPooled; }
    bool changeable() const { return flags_ & kMutable; }
    // Up to three slots: no index, the tags in the header.
    static bool small(size_t capacityIndex) { return capacityIndex <= 1; }
    static unsigned positionWidth(size_t capacityIndex);
    static size_t indexSize(size_t capacityIndex);
    // The dictionary with room for `inlineRoom` entries and the index of its
    // first table.
    static size_t blockSize(size_t capacityIndex, size_t inlineRoom, bool mutableCollection);
    // Entries made with the dictionary: as many as it was made with
    // (immutable), the first table's capacity (changeable, at least one).
    size_t inlineRoom() const;
    Changes* changes() const { return reinterpret_cast<Changes*>(const_cast<FJDictionary*>(this) + 1); }
    FJHashTableEntry* inlineEntries() const {
        return reinterpret_cast<FJHashTableEntry*>(reinterpret_cast<char*>(const_cast<FJDictionary*>(this) + 1) +
                                                   (changeable() ? sizeof(Changes) : 0));
    }
    // Once a mutable dictionary has outgrown the table made with it, its
    // entries and index live in a heap block whose address the first entry's
    // place keeps.
    bool grown() const { return capacityIndex_ != inlineCapacityIndex_; }
    FJHashTableEntry** heapLink() const { return reinterpret_cast<FJHashTableEntry**>(inlineEntries()); }
    FJHashTableEntry* entryTable() const { return grown() ? *heapLink() : inlineEntries(); }
    Index index() const;
    uint8_t* smallTags() const { return reinterpret_cast<uint8_t*>(&word_); }
    static uint32_t fold(size_t hash) { return static_cast<uint32_t>(hash ^ (hash >> 32)); }
    static uint8_t tagOf(size_t hash) { return static_cast<uint8_t>(fold(hash)); }
    void checkMutable(const char* operation) const;
    void advanceMutations() {
        uint64_t& m = changes()->mutations;
        m = m == UINT64_MAX ? 1 : m + 1;
    }
    // The position of the entry with an equal key, or -1; its index slot
    // (tables with an index) in *slotFound.
    template <class Eq> long find(size_t hash, Eq equalKey, size_t* slotFound = nullptr) const;
    // Owned references; an equal key's entry takes the new key and object
    // and its old ones go to `displaced` (or are released).
    void insert(size_t hash, ns::Object* key, ns::Object* object, std::vector<ns::Object*>* displaced = nullptr);
    void insertIndexed(const Index& ix, FJHashTableEntry* entries, size_t hash, ns::Object* key, ns::Object* object,
                       std::vector<ns::Object*>* displaced);
    void insertSmall(FJHashTableEntry* entries, size_t hash, ns::Object* key, ns::Object* object,
                     std::vector<ns::Object*>* displaced);
    // Puts entry `position` (0-based) into the index under `hash`.
    void seat(const Index& ix, size_t hash, size_t position) const;
    // Moves to a table of the capacity at `capacityIndex` (heap).
    void growTo(size_t capacityIndex);
    [[noreturn]] void beyondBounds(size_t index) const;
    [[gnu::always_inline]] const FJHashTableEntry& entryAt(size_t index) const {
        if (index >= count_) beyondBounds(index);
        return entryTable()[index];
    }

    // Start slot of a hash: its 32-bit fold modulo the capacity, computed by
    // multiplication with a constant made for the capacity.
    size_t startSlot(size_t hash, size_t capacity) const;

    // The count shares the header's spare word with the object's count. The
    // next word holds the tags of a table of up to three slots (bytes 0-2)
    // and, immutable, the room the dictionary was made with (byte 3; the
    // whole word when it has an index).
    uint32_t count_;
    mutable uint32_t word_;
    uint8_t capacityIndex_;        // place of the capacity in the table of capacities
    uint8_t inlineCapacityIndex_;  // the same for the table made with the dictionary
    uint8_t flags_;                // kPooled | kMutable
};

// Walks a dictionary's keys in iteration order.
class FJDictionaryEnumerator final : public ns::Object {
public:
    // Keeps a reference to the dictionary; nil when none is given.
    static ns::Ref<FJDictionaryEnumerator> initWithFJDictionary(const FJDictionary* dictionary);
    const char* className() const override { return "FJDictionaryEnumerator"; }
    // The next key, or nullptr at the end.
    ns::Object* nextObject();
    // The keys not yet returned, in iteration order.
    ns::Ref<ns::Array> allObjects();

    explicit FJDictionaryEnumerator(const FJDictionary* d) : collection_(const_cast<FJDictionary*>(d)) {}

private:
    ns::Ref<FJDictionary> collection_;
    size_t nextObject_ = 0;
};

}  // namespace json
