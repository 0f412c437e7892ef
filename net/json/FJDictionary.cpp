#include "net/json/FJDictionary.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "net/json/FJTokenScanner.h"
#include "net/json/FJValuePool.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/String.h"

namespace json {

namespace {

constexpr size_t kCapacities[40] = {
    0,        3,        7,         13,        23,        41,        71,        127,       191,       251,
    383,      631,      1087,      1723,      2803,      4523,      7351,      11959,     19447,     31231,
    50683,    81919,    132607,    214519,    346607,    561109,    907759,    1468927,   2376191,   3845119,
    6221311,  10066421, 16287743,  26354171,  42641881,  68996069,  111638519, 180634607, 292272623, 472907251,
};

constexpr size_t kCapacityCount = 40;

// Constants of the start-slot division, one per capacity.
struct Divisors {
    uint64_t of[kCapacityCount];
    constexpr Divisors() : of() {
        for (size_t i = 0; i < kCapacityCount; ++i) of[i] = kCapacities[i] ? UINT64_MAX / kCapacities[i] + 1 : 0;
    }
};
constexpr Divisors kDivisors;

// Index of the first capacity not below floor(count * 1.33); kCapacityCount
// when none is large enough.
constexpr size_t searchCapacityIndex(size_t count) {
    double target = static_cast<double>(count) * 1.33;
    if (target > static_cast<double>(FJDictionary::kLargestCapacity)) return kCapacityCount;
    size_t want = static_cast<size_t>(target);
    size_t bottom = 0, top = kCapacityCount;
    while (bottom < top) {
        size_t mid = (bottom + top) / 2;
        if (kCapacities[mid] < want) bottom = mid + 1;
        else top = mid;
    }
    return bottom;
}

// The same for the small counts that most dictionaries have, from a table.
constexpr size_t kTabulatedCounts = 64;
struct SmallCapacityIndexes {
    uint8_t of[kTabulatedCounts];
    constexpr SmallCapacityIndexes() : of() {
        for (size_t n = 0; n < kTabulatedCounts; ++n) {
            size_t want = n * 133 / 100, i = 0;  // floor(n * 1.33), exact for these n
            while (kCapacities[i] < want) ++i;
            of[n] = static_cast<uint8_t>(i);
        }
    }
};
constexpr SmallCapacityIndexes kSmallCapacityIndexes;
constexpr bool tableAgreesWithSearch() {
    for (size_t n = 0; n < kTabulatedCounts; ++n)
        if (kSmallCapacityIndexes.of[n] != searchCapacityIndex(n)) return false;
    return true;
}
static_assert(tableAgreesWithSearch());

inline size_t capacityIndexForCount(size_t count) {
    return count < kTabulatedCounts ? kSmallCapacityIndexes.of[count] : searchCapacityIndex(count);
}

// The largest capacity whose walk position fits the header's word.
constexpr size_t kLargestNarrowIndex = 20;
static_assert(kCapacities[kLargestNarrowIndex] <= 0xFFFF && kCapacities[kLargestNarrowIndex + 1] > 0xFFFF);

// Slots and their tag bytes (rounded up to whole words; a table of up to
// three slots keeps its tags in the header).
size_t tableSize(size_t capacityIndex) {
    const size_t capacity = kCapacities[capacityIndex];
    return capacity * sizeof(FJHashTableEntry) + (capacityIndex <= 1 ? 0 : (capacity + 7) / 8 * 8);
}

const uint64_t kNoMutations = 0;

std::string message(const char* fmt, const char* operation) {
    char buf[256];
    std::snprintf(buf, sizeof buf, fmt, "FJDictionary", operation);
    return buf;
}

}  // namespace

size_t FJDictionary::capacityForCount(size_t count) {
    size_t index = capacityIndexForCount(count);
    return index < kCapacityCount ? kCapacities[index] : 0;
}

static_assert(sizeof(FJDictionary) == 24, "the count, the walk position and the flags share the header");

bool FJDictionary::wideFor(size_t capacityIndex, bool mutableCollection) {
    return mutableCollection || capacityIndex > kLargestNarrowIndex;
}

size_t FJDictionary::blockSize(size_t capacityIndex, bool mutableCollection) {
    if (mutableCollection)
        return sizeof(FJDictionary) + sizeof(Changes) + std::max(tableSize(capacityIndex), sizeof(FJHashTableEntry*));
    return sizeof(FJDictionary) + (wideFor(capacityIndex, false) ? sizeof(uint64_t) : 0) + tableSize(capacityIndex);
}

FJDictionary::FJDictionary(size_t capacityIndex, bool mutableCollection, bool pooled)
    : count_(0), word_(0), capacityIndex_(static_cast<uint8_t>(capacityIndex)),
      inlineCapacityIndex_(static_cast<uint8_t>(capacityIndex)),
      flags_(static_cast<uint8_t>((pooled ? kPooled : 0) | (mutableCollection ? kMutable : 0) |
                                  (wideFor(capacityIndex, mutableCollection) ? kWide : 0))) {
    if (mutableCollection) ::new (changes()) Changes{{0}, 1};
    else if (wideCursor()) ::new (&changes()->cursor) std::atomic<uint64_t>(0);
    if (capacityIndex == 1 && !mutableCollection) {
        // Three slots, the usual small table: cleared without a call.
        FJHashTableEntry* slots = inlineTable();
        for (size_t i = 0; i < 3; ++i) slots[i] = FJHashTableEntry{nullptr, nullptr};
    } else {
        std::memset(static_cast<void*>(inlineTable()), 0, tableSize(capacityIndex));
    }
}

size_t FJDictionary::capacity() const { return kCapacities[capacityIndex_]; }

uint8_t* FJDictionary::tags() const {
    if (tagsInHeader(capacityIndex_)) return reinterpret_cast<uint8_t*>(&word_);
    return reinterpret_cast<uint8_t*>(table() + kCapacities[capacityIndex_]);
}

inline void FJDictionary::rememberCursor(size_t index, size_t slot) const {
    if (wideCursor()) {
        if (index < 0xFFFFFFFFu)
            changes()->cursor.store((static_cast<uint64_t>(index) << 32) | (slot + 1), std::memory_order_relaxed);
    } else if (!tagsInHeader(capacityIndex_)) {
        // index < count <= capacity and slot < capacity, both below 2^16.
        std::atomic_ref<uint32_t>(word_).store(static_cast<uint32_t>(index << 16 | (slot + 1)),
                                               std::memory_order_relaxed);
    }
}

size_t FJDictionary::startSlot(size_t hash, size_t capacity) const {
    uint64_t low = kDivisors.of[capacityIndex_] * fold(hash);
    return static_cast<size_t>((static_cast<__uint128_t>(low) * capacity) >> 64);
}

inline FJDictionary::Place FJDictionary::currentTable() const {
    return Place{table(), tags(), capacity()};
}

void FJDictionary::insert(size_t hash, ns::Object* key, ns::Object* object, std::vector<ns::Object*>* displaced) {
    insertInto(currentTable(), hash, key, object, displaced);
}

[[gnu::always_inline]] inline void FJDictionary::insertInto(const Place& where, size_t hash, ns::Object* key,
                                                            ns::Object* object, std::vector<ns::Object*>* displaced) {
    const size_t capacity = where.capacity;
    if (capacity == 0) {
        key->release();
        object->release();
        return;
    }
    const uint8_t tag = tagOf(hash);
    FJHashTableEntry* table = where.slots;
    uint8_t* tags = where.tags;
    size_t slot = startSlot(hash, capacity);
    for (size_t n = 0; n < capacity; ++n) {
        FJHashTableEntry& e = table[slot];
        if (!e.key) {
            e = FJHashTableEntry{key, object};
            tags[slot] = tag;
            ++count_;
            return;
        }
        if (tags[slot] == tag && (e.key == key || e.key->isEqual(*key))) {
            // A repeated key: the new key and object take the slot.
            ns::Object* oldKey = e.key;
            ns::Object* oldObject = e.object;
            e.key = key;
            e.object = object;
            if (displaced) {
                displaced->push_back(oldKey);
                displaced->push_back(oldObject);
            } else {
                oldKey->release();
                oldObject->release();
            }
            return;
        }
        if (++slot == capacity) slot = 0;
    }
    key->release();
    object->release();
}

ns::Ref<FJDictionary> FJDictionary::makeWithEntries(ns::Object* const* keys, ns::Object* const* objects,
                                                    const size_t* keyHashes, size_t count, bool mutableCollection,
                                                    FJValuePool* pool, std::vector<ns::Object*>* displaced) {
    if (count == 0 && !mutableCollection) {
        static FJDictionary* const empty = [] {
            auto* d = ::new (::operator new(blockSize(0, false))) FJDictionary(0, false, false);
            d->makeImmortal();
            return d;
        }();
        return ns::Ref<FJDictionary>(empty);
    }
    size_t index = capacityIndexForCount(count);
    void* mem = nullptr;
    if (index < kCapacityCount) {
        size_t size = blockSize(index, mutableCollection);
        if (!FJValuePool::holds(size)) pool = nullptr;
        mem = pool ? pool->allocate(size) : ::operator new(size, std::nothrow);
    }
    if (!mem) {
        for (size_t i = 0; i < count; ++i) {
            keys[i]->release();
            objects[i]->release();
        }
        return nullptr;
    }
    auto* d = ::new (mem) FJDictionary(index, mutableCollection, pool != nullptr);
    const Place where = d->currentTable();
    for (size_t i = 0; i < count; ++i) d->insertInto(where, keyHashes[i], keys[i], objects[i], displaced);
    d->setInitialReferences(1);
    return ns::Ref<FJDictionary>::adopt(d);
}

ns::Ref<FJDictionary> FJDictionary::alloc() {
    throw ns::Exception(ns::kInvalidArgumentException,
                        "*** - [FJDictionary alloc]: The FJDictionary class is private to FastJSON and should not "
                        "be used in this fashion.");
}

FJDictionary::~FJDictionary() {
    FJHashTableEntry* entries = table();
    for (size_t i = 0, capacity = this->capacity(); i < capacity; ++i) {
        if (entries[i].key) {
            FJValuePool::releaseElement(entries[i].key);
            FJValuePool::releaseElement(entries[i].object);
        }
    }
    if (grown()) std::free(entries);
}

void FJDictionary::operator delete(FJDictionary* p, std::destroying_delete_t) {
    const bool pooled = p->pooled();
    const size_t size = blockSize(p->inlineCapacityIndex_, p->changeable());
    FJValuePool::ReleaseBatch batch;  // the elements and the collection, handed over at once
    p->~FJDictionary();
    if (pooled) FJValuePool::release(p, size);
    else ::operator delete(p);
}

template <class Eq>
long FJDictionary::find(size_t hash, Eq equalKey) const {
    const size_t capacity = this->capacity();
    if (capacity == 0) return -1;
    const uint8_t tag = tagOf(hash);
    const uint8_t* tags = this->tags();
    const FJHashTableEntry* table = this->table();
    size_t slot = startSlot(hash, capacity);
    for (size_t n = 0; n < capacity; ++n) {
        const FJHashTableEntry& e = table[slot];
        if (!e.key) return -1;
        if (tags[slot] == tag && equalKey(e.key)) return static_cast<long>(slot);
        if (++slot == capacity) slot = 0;
    }
    return -1;
}

ns::Object* FJDictionary::objectForKey(const ns::Object& key) const {
    long slot = find(key.hash(), [&](const ns::Object* k) { return k == &key || k->isEqual(key); });
    return slot < 0 ? nullptr : table()[slot].object;
}

ns::Object* FJDictionary::objectForKey(std::string_view key) const {
    long slot = find(ns::String::hashOf(key), [&](const ns::Object* k) {
        auto* s = dynamic_cast<const ns::String*>(k);
        return s && s->view() == key;
    });
    return slot < 0 ? nullptr : table()[slot].object;
}

void FJDictionary::place(size_t slot, uint8_t tag, ns::Object* key, ns::Object* object) {
    table()[slot] = FJHashTableEntry{key, object};
    tags()[slot] = tag;
}

void FJDictionary::removeSlot(size_t slot) {
    const size_t capacity = this->capacity();
    ns::Object* oldKey = table()[slot].key;
    ns::Object* oldObject = table()[slot].object;
    table()[slot] = FJHashTableEntry{nullptr, nullptr};
    --count_;
    // Re-seat the rest of the cluster so every key stays reachable.
    size_t i = slot;
    for (size_t n = 1; n < capacity; ++n) {
        if (++i == capacity) i = 0;
        FJHashTableEntry e = table()[i];
        if (!e.key) break;
        const uint8_t tag = tags()[i];
        table()[i] = FJHashTableEntry{nullptr, nullptr};
        size_t j = startSlot(e.key->hash(), capacity);
        while (table()[j].key) {
            if (++j == capacity) j = 0;
        }
        place(j, tag, e.key, e.object);
    }
    oldKey->release();
    oldObject->release();
}

size_t FJDictionary::slotOfIndex(size_t index) const {
    if (index >= count_) {
        char buf[160];
        std::snprintf(buf, sizeof buf, "*** -[FJDictionary keyAtIndex]: index (%lu) beyond bounds (%lu)",
                      static_cast<unsigned long>(index), static_cast<unsigned long>(count_));
        throw ns::Exception(ns::kRangeException, buf);
    }
    uint64_t c = cursor();
    size_t i = 0, slot = 0;
    if (c != 0) {
        size_t ci = static_cast<size_t>(c >> 32), cs = static_cast<size_t>(c & 0xFFFFFFFFu) - 1;
        if (ci == index) return cs;
        if (ci < index) {
            i = ci + 1;
            slot = cs + 1;
        }
    }
    const FJHashTableEntry* table = this->table();
    for (const size_t capacity = this->capacity(); slot < capacity; ++slot) {
        if (!table[slot].key) continue;
        if (i == index) break;
        ++i;
    }
    rememberCursor(index, slot);
    return slot;
}


void FJDictionary::getObjectsAndKeys(ns::Object** objects, ns::Object** keys) const {
    size_t n = 0;
    for (size_t i = 0, capacity = this->capacity(); i < capacity; ++i) {
        if (!table()[i].key) continue;
        if (keys) keys[n] = table()[i].key;
        if (objects) objects[n] = table()[i].object;
        ++n;
    }
}

size_t FJDictionary::countByEnumeratingWithStateObjectsCount(FJFastEnumerationState* state, ns::Object** buffer,
                                                             size_t len) const {
    if (state->state == 0) {
        state->mutationsPtr = changeable() ? &changes()->mutations : &kNoMutations;
        state->itemsPtr = buffer;
    }
    if (len == 0 || !buffer) return 0;
    size_t n = 0;
    while (n < len && state->state < capacity()) {
        const FJHashTableEntry& e = table()[state->state++];
        if (e.key) buffer[n++] = e.key;
    }
    return n;
}

ns::Ref<FJDictionaryEnumerator> FJDictionary::keyEnumerator() const {
    return FJDictionaryEnumerator::initWithFJDictionary(this);
}

void FJDictionary::checkMutable(const char* operation) const {
    if (!changeable())
        throw ns::Exception(ns::kInternalInconsistencyException,
                            message("*** -[%s %s]: mutating method sent to immutable object", operation));
}

void FJDictionary::setObjectForKey(ns::Ref<ns::Object> value, ns::Ref<ns::Object> key) {
    checkMutable("setObjectForKey");
    if (!key)
        throw ns::Exception(ns::kInvalidArgumentException,
                            message("*** -[%s %s]: attempt to insert nil key", "setObjectForKey"));
    if (!value) {
        std::string text = message("*** -[%s %s]: attempt to insert nil value (key: ", "setObjectForKey");
        throw ns::Exception(ns::kInvalidArgumentException, text + key->description() + ")");
    }
    size_t neededIndex = capacityIndexForCount(count_ + 1);
    if (neededIndex >= kCapacityCount) throw ns::Exception(kMallocException, "Unable to allocate memory for hash table.");
    if (capacityIndex_ < neededIndex) {
        auto* table = static_cast<FJHashTableEntry*>(std::calloc(1, tableSize(neededIndex)));
        if (!table) throw ns::Exception(kMallocException, "Unable to allocate memory for hash table.");
        FJHashTableEntry* old = this->table();
        const bool oldOnHeap = grown();
        size_t oldCapacity = capacity();
        setCapacityIndex(neededIndex);
        // An inline old table gives its first slot's place to the new
        // table's address: that slot is read before.
        const FJHashTableEntry first = oldCapacity ? old[0] : FJHashTableEntry{nullptr, nullptr};
        *heapLink() = table;
        count_ = 0;
        for (size_t i = 0; i < oldCapacity; ++i) {
            const FJHashTableEntry e = i == 0 ? first : old[i];
            if (e.key) insert(e.key->hash(), e.key, e.object);
        }
        if (oldOnHeap) std::free(old);
    }
    // The dictionary keeps its own copy of a changeable text key.
    ns::Object* ownKey;
    if (auto* m = dynamic_cast<ns::MutableString*>(key.get())) ownKey = ns::String::make(m->utf8()).leak();
    else ownKey = key.leak();
    size_t h = ownKey->hash();
    insert(h, ownKey, value.leak());
    advanceMutations();
}

void FJDictionary::removeObjectForKey(const ns::Object& key) {
    checkMutable("removeObjectForKey");
    long slot = find(key.hash(), [&](const ns::Object* k) { return k == &key || k->isEqual(key); });
    if (slot < 0) return;
    removeSlot(static_cast<size_t>(slot));
    advanceMutations();
}

void FJDictionary::removeAllObjects() {
    checkMutable("removeAllObjects");
    for (size_t i = 0, capacity = this->capacity(); i < capacity; ++i) {
        FJHashTableEntry e = table()[i];
        table()[i] = FJHashTableEntry{nullptr, nullptr};
        if (e.key) {
            e.key->release();
            e.object->release();
        }
    }
    count_ = 0;
    advanceMutations();
}

ns::Ref<ns::Dictionary> FJDictionary::copy() const {
    if (!changeable()) return ns::keepAlive(const_cast<FJDictionary*>(this));
    return ns::Dictionary::copy();
}

// ---------------------------------------------------------------------------

ns::Ref<FJDictionaryEnumerator> FJDictionaryEnumerator::initWithFJDictionary(const FJDictionary* dictionary) {
    if (!dictionary) return nullptr;
    return ns::make<FJDictionaryEnumerator>(dictionary);
}

ns::Object* FJDictionaryEnumerator::nextObject() {
    const FJDictionary* d = collection_.get();
    if (!d || !d->entries()) return nullptr;
    while (nextObject_ < d->capacity()) {
        const FJHashTableEntry& e = d->entries()[nextObject_++];
        if (e.key) return e.key;
    }
    return nullptr;
}

ns::Ref<ns::Array> FJDictionaryEnumerator::allObjects() {
    std::vector<ns::Ref<ns::Object>> keys;
    while (ns::Object* k = nextObject()) keys.emplace_back(k);
    return ns::Array::make(std::move(keys));
}

}  // namespace json
