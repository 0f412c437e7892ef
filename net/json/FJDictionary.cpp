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
#include "platform/foundation/ReleaseScope.h"
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

static_assert(sizeof(FJDictionary) == 24, "the count, the tags and the flags share the header");

unsigned FJDictionary::positionWidth(size_t capacityIndex) {
    const size_t capacity = kCapacities[capacityIndex];
    return capacity <= 0xFF ? 1 : capacity <= 0xFFFF ? 2 : 4;
}

size_t FJDictionary::indexSize(size_t capacityIndex) {
    if (small(capacityIndex)) return 0;
    const size_t capacity = kCapacities[capacityIndex];
    return (capacity * (positionWidth(capacityIndex) + 1) + 7) / 8 * 8;
}

size_t FJDictionary::blockSize(size_t capacityIndex, size_t inlineRoom, bool mutableCollection) {
    return sizeof(FJDictionary) + (mutableCollection ? sizeof(Changes) : 0) +
           inlineRoom * sizeof(FJHashTableEntry) + indexSize(capacityIndex);
}

FJDictionary::FJDictionary(size_t capacityIndex, size_t inlineRoom, bool mutableCollection, bool pooled)
    : count_(0), word_(0), capacityIndex_(static_cast<uint8_t>(capacityIndex)),
      inlineCapacityIndex_(static_cast<uint8_t>(capacityIndex)),
      flags_(static_cast<uint8_t>((pooled ? kPooled : 0) | (mutableCollection ? kMutable : 0))) {
    if (mutableCollection) ::new (changes()) Changes{1};
    else word_ = small(capacityIndex) ? static_cast<uint32_t>(inlineRoom) << 24 : static_cast<uint32_t>(inlineRoom);
    if (!small(capacityIndex))
        std::memset(reinterpret_cast<char*>(inlineEntries()) + inlineRoom * sizeof(FJHashTableEntry), 0,
                    indexSize(capacityIndex));
}

size_t FJDictionary::inlineRoom() const {
    if (changeable()) return std::max<size_t>(kCapacities[inlineCapacityIndex_], 1);
    return small(inlineCapacityIndex_) ? word_ >> 24 : word_;
}

size_t FJDictionary::capacity() const { return kCapacities[capacityIndex_]; }

FJDictionary::Index FJDictionary::index() const {
    const size_t capacity = this->capacity();
    char* positions = grown() ? reinterpret_cast<char*>(*heapLink() + capacity)
                              : reinterpret_cast<char*>(inlineEntries() + inlineRoom());
    const unsigned width = positionWidth(capacityIndex_);
    return Index{reinterpret_cast<uint8_t*>(positions), reinterpret_cast<uint8_t*>(positions) + capacity * width,
                 capacity, width};
}

size_t FJDictionary::startSlot(size_t hash, size_t capacity) const {
    uint64_t low = kDivisors.of[capacityIndex_] * fold(hash);
    return static_cast<size_t>((static_cast<__uint128_t>(low) * capacity) >> 64);
}

void FJDictionary::seat(const Index& ix, size_t hash, size_t position) const {
    size_t slot = startSlot(hash, ix.capacity);
    while (ix.at(slot) != 0)
        if (++slot == ix.capacity) slot = 0;
    ix.set(slot, position + 1);
    ix.tags[slot] = tagOf(hash);
}

namespace {
// Hands the references an equal key displaced to `displaced`, or lets them go.
void letGo(ns::Object* key, ns::Object* object, std::vector<ns::Object*>* displaced) {
    if (displaced) {
        displaced->push_back(key);
        displaced->push_back(object);
    } else {
        key->release();
        object->release();
    }
}
}  // namespace

[[gnu::always_inline]] inline void FJDictionary::insertSmall(FJHashTableEntry* entries, size_t hash, ns::Object* key,
                                                             ns::Object* object,
                                                             std::vector<ns::Object*>* displaced) {
    const uint8_t tag = tagOf(hash);
    uint8_t* tags = smallTags();
    for (size_t i = 0; i < count_; ++i) {
        if (tags[i] == tag && (entries[i].key == key || entries[i].key->isEqual(*key))) {
            // A repeated key: the new key and object take its place.
            const FJHashTableEntry old = entries[i];
            entries[i] = FJHashTableEntry{key, object};
            letGo(old.key, old.object, displaced);
            return;
        }
    }
    entries[count_] = FJHashTableEntry{key, object};
    tags[count_] = tag;
    ++count_;
}

[[gnu::always_inline]] inline void FJDictionary::insertIndexed(const Index& ix, FJHashTableEntry* entries,
                                                               size_t hash, ns::Object* key, ns::Object* object,
                                                               std::vector<ns::Object*>* displaced) {
    const uint8_t tag = tagOf(hash);
    size_t slot = startSlot(hash, ix.capacity);
    for (size_t n = 0; n < ix.capacity; ++n) {
        const size_t at = ix.at(slot);
        if (at == 0) {
            entries[count_] = FJHashTableEntry{key, object};
            ix.set(slot, count_ + 1);
            ix.tags[slot] = tag;
            ++count_;
            return;
        }
        FJHashTableEntry& e = entries[at - 1];
        if (ix.tags[slot] == tag && (e.key == key || e.key->isEqual(*key))) {
            const FJHashTableEntry old = e;
            e = FJHashTableEntry{key, object};
            letGo(old.key, old.object, displaced);
            return;
        }
        if (++slot == ix.capacity) slot = 0;
    }
    key->release();  // no free slot (a table holds more slots than entries, so never)
    object->release();
}

void FJDictionary::insert(size_t hash, ns::Object* key, ns::Object* object, std::vector<ns::Object*>* displaced) {
    if (capacity() == 0) {
        key->release();
        object->release();
        return;
    }
    if (small(capacityIndex_)) insertSmall(entryTable(), hash, key, object, displaced);
    else insertIndexed(index(), entryTable(), hash, key, object, displaced);
}

ns::Ref<FJDictionary> FJDictionary::makeWithEntries(ns::Object* const* keys, ns::Object* const* objects,
                                                    const size_t* keyHashes, size_t count, bool mutableCollection,
                                                    FJValuePool* pool, std::vector<ns::Object*>* displaced) {
    if (count == 0 && !mutableCollection) {
        static FJDictionary* const empty = [] {
            auto* d = ::new (::operator new(blockSize(0, 0, false))) FJDictionary(0, 0, false, false);
            d->makeImmortal();
            return d;
        }();
        return ns::Ref<FJDictionary>(empty);
    }
    size_t capacityIndex = capacityIndexForCount(count);
    void* mem = nullptr;
    size_t room = 0;
    if (capacityIndex < kCapacityCount) {
        room = mutableCollection ? std::max<size_t>(kCapacities[capacityIndex], 1) : count;
        size_t size = blockSize(capacityIndex, room, mutableCollection);
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
    auto* d = ::new (mem) FJDictionary(capacityIndex, room, mutableCollection, pool != nullptr);
    FJHashTableEntry* entries = d->inlineEntries();
    if (small(capacityIndex)) {
        for (size_t i = 0; i < count; ++i) d->insertSmall(entries, keyHashes[i], keys[i], objects[i], displaced);
    } else {
        const Index ix = d->index();
        for (size_t i = 0; i < count; ++i)
            d->insertIndexed(ix, entries, keyHashes[i], keys[i], objects[i], displaced);
    }
    d->setInitialReferences(1);
    return ns::Ref<FJDictionary>::adopt(d);
}

ns::Ref<FJDictionary> FJDictionary::alloc() {
    throw ns::Exception(ns::kInvalidArgumentException,
                        "*** - [FJDictionary alloc]: The FJDictionary class is private to FastJSON and should not "
                        "be used in this fashion.");
}

FJDictionary::~FJDictionary() {
    FJHashTableEntry* entries = entryTable();
    // The keys and objects lie one after the other: let go as one run.
    static_assert(sizeof(FJHashTableEntry) == 2 * sizeof(ns::Object*));
    ns::Object** elements = &entries->key;
    // Deep in a tree they are put off instead (see FJArray's destructor).
    ns::ReleaseScope scope;
    if (scope.deep()) ns::ReleaseScope::putOffAll(elements, 2 * size_t(count_));
    else FJValuePool::releaseElements(elements, 2 * size_t(count_));
    if (grown()) std::free(entries);
}

void FJDictionary::operator delete(FJDictionary* p, std::destroying_delete_t) {
    const bool pooled = p->pooled();
    const size_t size = blockSize(p->inlineCapacityIndex_, p->inlineRoom(), p->changeable());
    FJValuePool::ReleaseBatch batch;  // the elements and the collection, handed over at once
    p->~FJDictionary();
    if (pooled) FJValuePool::release(p, size);
    else ::operator delete(p);
}

void FJDictionary::beyondBounds(size_t index) const {
    char buf[160];
    std::snprintf(buf, sizeof buf, "*** -[FJDictionary keyAtIndex]: index (%lu) beyond bounds (%lu)",
                  static_cast<unsigned long>(index), static_cast<unsigned long>(count_));
    throw ns::Exception(ns::kRangeException, buf);
}

template <class Eq>
long FJDictionary::find(size_t hash, Eq equalKey, size_t* slotFound) const {
    if (count_ == 0) return -1;
    const uint8_t tag = tagOf(hash);
    const FJHashTableEntry* entries = entryTable();
    if (small(capacityIndex_)) {
        const uint8_t* tags = smallTags();
        for (size_t i = 0; i < count_; ++i)
            if (tags[i] == tag && equalKey(entries[i].key)) return static_cast<long>(i);
        return -1;
    }
    const Index ix = index();
    size_t slot = startSlot(hash, ix.capacity);
    for (size_t n = 0; n < ix.capacity; ++n) {
        const size_t at = ix.at(slot);
        if (at == 0) return -1;
        if (ix.tags[slot] == tag && equalKey(entries[at - 1].key)) {
            if (slotFound) *slotFound = slot;
            return static_cast<long>(at - 1);
        }
        if (++slot == ix.capacity) slot = 0;
    }
    return -1;
}

ns::Object* FJDictionary::objectForKey(const ns::Object& key) const {
    long at = find(key.hash(), [&](const ns::Object* k) { return k == &key || k->isEqual(key); });
    return at < 0 ? nullptr : entryTable()[at].object;
}

ns::Object* FJDictionary::objectForKey(std::string_view key) const {
    long at = find(ns::String::hashOf(key), [&](const ns::Object* k) {
        auto* s = dynamic_cast<const ns::String*>(k);
        return s && s->view() == key;
    });
    return at < 0 ? nullptr : entryTable()[at].object;
}

void FJDictionary::getObjectsAndKeys(ns::Object** objects, ns::Object** keys) const {
    const FJHashTableEntry* entries = entryTable();
    for (size_t i = 0; i < count_; ++i) {
        if (keys) keys[i] = entries[i].key;
        if (objects) objects[i] = entries[i].object;
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
    const FJHashTableEntry* entries = entryTable();
    while (n < len && state->state < count_) buffer[n++] = entries[state->state++].key;
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

void FJDictionary::growTo(size_t capacityIndex) {
    const size_t capacity = kCapacities[capacityIndex];
    const size_t size = capacity * sizeof(FJHashTableEntry) + indexSize(capacityIndex);
    auto* table = static_cast<FJHashTableEntry*>(std::calloc(1, size));
    if (!table) throw ns::Exception(kMallocException, "Unable to allocate memory for hash table.");
    FJHashTableEntry* old = entryTable();
    const bool oldOnHeap = grown();
    if (count_) std::memcpy(static_cast<void*>(table), old, count_ * sizeof(FJHashTableEntry));
    // The inline entries give their first place to the new table's address
    // (read above).
    capacityIndex_ = static_cast<uint8_t>(capacityIndex);
    *heapLink() = table;
    if (oldOnHeap) std::free(old);
    if (small(capacityIndex)) {
        for (size_t i = 0; i < count_; ++i) smallTags()[i] = tagOf(table[i].key->hash());
    } else {
        const Index ix = index();
        for (size_t i = 0; i < count_; ++i) seat(ix, table[i].key->hash(), i);
    }
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
    if (capacityIndex_ < neededIndex) growTo(neededIndex);
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
    size_t slot = 0;
    long found = find(key.hash(), [&](const ns::Object* k) { return k == &key || k->isEqual(key); }, &slot);
    if (found < 0) return;
    const size_t at = static_cast<size_t>(found);
    FJHashTableEntry* entries = entryTable();
    const FJHashTableEntry gone = entries[at];
    // The later entries move up one place, so the order of the rest stays.
    std::memmove(static_cast<void*>(entries + at), entries + at + 1, (count_ - at - 1) * sizeof(FJHashTableEntry));
    if (small(capacityIndex_)) {
        uint8_t* tags = smallTags();
        for (size_t i = at; i + 1 < count_; ++i) tags[i] = tags[i + 1];
        tags[count_ - 1] = 0;
    } else {
        const Index ix = index();
        ix.set(slot, 0);
        // Re-seat the rest of the cluster so every key stays reachable.
        size_t i = slot;
        for (size_t n = 1; n < ix.capacity; ++n) {
            if (++i == ix.capacity) i = 0;
            const size_t position = ix.at(i);
            if (position == 0) break;
            ix.set(i, 0);
            // Positions after the removed entry are read at their new place.
            const size_t now = position - 1 > at ? position - 2 : position - 1;
            seat(ix, entries[now].key->hash(), position - 1);
        }
        for (size_t s = 0; s < ix.capacity; ++s)
            if (const size_t position = ix.at(s); position > at + 1) ix.set(s, position - 1);
    }
    --count_;
    advanceMutations();
    gone.key->release();
    gone.object->release();
}

void FJDictionary::removeAllObjects() {
    checkMutable("removeAllObjects");
    FJHashTableEntry* entries = entryTable();
    const size_t n = count_;
    count_ = 0;
    if (small(capacityIndex_)) {
        word_ = 0;
    } else {
        const Index ix = index();
        std::memset(ix.positions, 0, ix.capacity * (ix.width + 1));
    }
    advanceMutations();
    for (size_t i = 0; i < n; ++i) {
        entries[i].key->release();
        entries[i].object->release();
    }
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
    if (!d || nextObject_ >= d->count()) return nullptr;
    return d->entries()[nextObject_++].key;
}

ns::Ref<ns::Array> FJDictionaryEnumerator::allObjects() {
    std::vector<ns::Ref<ns::Object>> keys;
    while (ns::Object* k = nextObject()) keys.emplace_back(k);
    return ns::Array::make(std::move(keys));
}

}  // namespace json
