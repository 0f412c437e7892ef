// The fast decoder's own dictionary: an open-addressing hash table with
// linear probing, sized from a fixed table of capacities (at least 1.33 slots
// per entry when made or grown; it never shrinks). The decoder hands in key
// hashes it has already computed. Iteration follows slot order. The table
// made by the decoder lives in the same allocation as the dictionary: the
// slots, then one tag byte per slot (a byte of the key's hash, so that most
// probes of a different key are told apart without comparing keys). The
// header is 24 bytes; the three tags of a three-slot table (the dictionaries
// of one to three entries, most of them in the usual documents) live in it.
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
    ns::Object* keyAtIndex(size_t index) const override { return entryAt(index).key; }
    ns::Object* valueAtIndex(size_t index) const override { return entryAt(index).object; }

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

    size_t capacity() const;
    uint64_t mutations() const { return changeable() ? changes()->mutations : 0; }
    bool isMutable() const { return changeable(); }
    // Slot access for the enumerator.
    const FJHashTableEntry* entries() const { return table(); }

    // Frees the combined dictionary-and-table block, from the heap or its pool.
    static void operator delete(FJDictionary* p, std::destroying_delete_t);

private:
    // What a changeable dictionary, or one too large for the narrow walk
    // position, keeps right after the header: the wide walk position, then
    // (changeable only) the change counter.
    struct Changes {
        std::atomic<uint64_t> cursor;  // as the narrow one, (index << 32 | slot + 1)
        uint64_t mutations;            // from 1, never 0
    };

    FJDictionary(size_t capacityIndex, bool mutableCollection, bool pooled);
    enum : uint8_t {
        kPooled = 1,   // placed in a decoder's value pool
        kMutable = 2,  // takes changes; its Changes follow the header
        kWide = 4,     // the walk position is in Changes (changeable, or more than 65,535 slots)
    };
    bool pooled() const { return flags_ & kPooled; }
    bool changeable() const { return flags_ & kMutable; }
    bool wideCursor() const { return flags_ & kWide; }
    // The dictionary with its first table (room for the address of a later
    // one in a mutable dictionary).
    static size_t blockSize(size_t capacityIndex, bool mutableCollection);
    static bool wideFor(size_t capacityIndex, bool mutableCollection);
    Changes* changes() const { return reinterpret_cast<Changes*>(const_cast<FJDictionary*>(this) + 1); }
    FJHashTableEntry* inlineTable() const {
        return reinterpret_cast<FJHashTableEntry*>(reinterpret_cast<char*>(changes()) + extensionSize());
    }
    size_t extensionSize() const { return changeable() ? sizeof(Changes) : wideCursor() ? sizeof(uint64_t) : 0; }
    // Once a mutable dictionary has outgrown the table made with it, the
    // table lives in a heap block whose address the first table's place keeps.
    bool grown() const { return capacityIndex_ != inlineCapacityIndex_; }
    FJHashTableEntry** heapLink() const { return reinterpret_cast<FJHashTableEntry**>(inlineTable()); }
    FJHashTableEntry* table() const { return grown() ? *heapLink() : inlineTable(); }
    // A table of up to three slots keeps its tags in the header's word;
    // larger ones after their slots.
    static bool tagsInHeader(size_t capacityIndex) { return capacityIndex <= 1; }
    uint8_t* tags() const;
    static uint32_t fold(size_t hash) { return static_cast<uint32_t>(hash ^ (hash >> 32)); }
    static uint8_t tagOf(size_t hash) { return static_cast<uint8_t>(fold(hash)); }
    void checkMutable(const char* operation) const;
    void advanceMutations() {
        uint64_t& m = changes()->mutations;
        m = m == UINT64_MAX ? 1 : m + 1;
        changes()->cursor.store(0, std::memory_order_relaxed);
    }
    template <class Eq> long find(size_t hash, Eq equalKey) const;
    // Owned references; see makeWithEntries for `displaced`.
    void insert(size_t hash, ns::Object* key, ns::Object* object, std::vector<ns::Object*>* displaced = nullptr);
    // The current table, read once for a run of inserts into it.
    struct Place {
        FJHashTableEntry* slots;
        uint8_t* tags;
        size_t capacity;
    };
    Place currentTable() const;
    void insertInto(const Place& where, size_t hash, ns::Object* key, ns::Object* object,
                    std::vector<ns::Object*>* displaced);
    void place(size_t slot, uint8_t tag, ns::Object* key, ns::Object* object);
    void removeSlot(size_t slot);
    size_t slotOfIndex(size_t index) const;
    // The last (index << 32 | slot + 1) looked up by keyAtIndex/valueAtIndex,
    // 0 for none, so that walking the entries in order costs one step each.
    // Tables of up to three slots remember none (a step or two finds any).
    uint64_t cursor() const {
        if (wideCursor()) return changes()->cursor.load(std::memory_order_relaxed);
        if (tagsInHeader(capacityIndex_)) return 0;
        const uint32_t c = std::atomic_ref<uint32_t>(word_).load(std::memory_order_relaxed);
        return static_cast<uint64_t>(c >> 16) << 32 | (c & 0xFFFFu);
    }
    void rememberCursor(size_t index, size_t slot) const;
    // The entry at `index`: the remembered one at once (a walk asks for a
    // key and then its value), any other by slotOfIndex.
    [[gnu::always_inline]] const FJHashTableEntry& entryAt(size_t index) const {
        if (!wideCursor()) {
            // Immutable: the table right after the header.
            const auto* slots = reinterpret_cast<const FJHashTableEntry*>(this + 1);
            if (!tagsInHeader(capacityIndex_)) {
                const uint32_t c = std::atomic_ref<uint32_t>(word_).load(std::memory_order_relaxed);
                if (c != 0 && (c >> 16) == index) return slots[(c & 0xFFFFu) - 1];
            } else if (index < count_) {
                // Up to three slots: searched at once.
                for (size_t slot = 0, i = 0;; ++slot)
                    if (slots[slot].key && i++ == index) return slots[slot];
            }
        } else if (uint64_t c = changes()->cursor.load(std::memory_order_relaxed); c != 0 && (c >> 32) == index) {
            return table()[static_cast<size_t>(c & 0xFFFFFFFFu) - 1];
        }
        return table()[slotOfIndex(index)];
    }

    // Start slot of a hash: its 32-bit fold modulo the capacity, computed by
    // multiplication with a constant made for the capacity.
    size_t startSlot(size_t hash, size_t capacity) const;
    void setCapacityIndex(size_t index) { capacityIndex_ = static_cast<uint8_t>(index); }

    // The count shares the header's spare word with the object's count. The
    // next word is the narrow walk position (index << 16 | slot + 1) of a
    // table of 4 to 65,535 slots, or the tags of a table of up to three.
    uint32_t count_;
    mutable uint32_t word_;
    uint8_t capacityIndex_;        // place of the capacity in the table of capacities
    uint8_t inlineCapacityIndex_;  // the same for the table made with the dictionary
    uint8_t flags_;                // kPooled | kMutable | kWide
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
