// The root of every reference type: an intrusive, thread-safe reference count,
// lazily created weak links, and the identity/equality/description protocol
// that collections and formatters rely on.
//
// Ownership is visible in types:
//   Ref<T>   a strong reference (nil when empty)
//   Weak<T>  a non-owning link that reads as nil once the object is gone
//   T*       a borrowed pointer, valid while some Ref keeps the object alive
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <type_traits>
#include <utility>

namespace ns {

class Object;
class String;
template <class T> class Ref;

namespace detail {
// Shared between an object and every Weak that points at it. The mutex
// orders "last strong reference dropped" against "weak reference upgraded".
struct WeakLink {
    std::atomic<uint32_t> refs{1};
    std::mutex mutex;
    Object* target = nullptr;
    void retain() { refs.fetch_add(1, std::memory_order_relaxed); }
    void release() {
        if (refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
    }
};
}  // namespace detail

class Object {
public:
    Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;
    virtual ~Object() = default;

    // The class name that descriptions print and that code looks classes up by.
    virtual const char* className() const { return "Object"; }
    // Human-readable text; defaults to "<ClassName: 0xADDR>".
    virtual std::string description() const;
    // Equality by value where the class defines it; identity otherwise.
    virtual bool isEqual(const Object& other) const { return this == &other; }
    // Consistent with isEqual: equal objects have equal hashes.
    virtual size_t hash() const { return reinterpret_cast<uintptr_t>(this) >> 4; }

    void retain() const {
        if (refs_.load(std::memory_order_relaxed) & kImmortal) return;
        refs_.fetch_add(1, std::memory_order_relaxed);
    }
    void release() const {
        // The sole owner (count 1, no weak link): no other thread holds a
        // reference or can take one, so the object goes without an atomic
        // read-modify-write. The acquire load orders every earlier release by
        // other threads before the destruction.
        uint32_t n = refs_.load(std::memory_order_acquire);
        if (n == 1) {
            delete this;  // no weak link either: nothing else to undo
            return;
        }
        if (n & kImmortal) return;
        uint32_t old = refs_.fetch_sub(1, std::memory_order_acq_rel);
        if ((old & kCountMask) == 1) destroy(old);
    }
    uint32_t retainCount() const { return refs_.load(std::memory_order_relaxed) & kCountMask; }
    // True when the caller holds the only reference and no weak link exists
    // (what release() checks before deleting without an atomic operation).
    // An owner of many objects whose destruction has nothing to undo may
    // then give their memory back itself instead of a virtual delete each.
    bool isSoleReference() const { return refs_.load(std::memory_order_acquire) == 1; }

    // For owners that let many references go at once (a collection letting
    // its elements go): true when release() would take an atomic
    // read-modify-write (the object is shared or has a weak link). Such an
    // owner may gather those releases and let each object's references go
    // together with releaseReferences(), one atomic operation for many.
    bool releaseIsAtomic() const {
        uint32_t n = refs_.load(std::memory_order_relaxed);
        return n != 1 && !(n & kImmortal);
    }
    // Lets `n` references that the caller owns go in one step.
    void releaseReferences(uint32_t n) const {
        uint32_t c = refs_.load(std::memory_order_acquire);
        if (c == n) {
            delete this;  // the caller's were the only references, and no weak link
            return;
        }
        if (c & kImmortal) return;
        uint32_t old = refs_.fetch_sub(n, std::memory_order_acq_rel);
        if ((old & kCountMask) == n) destroy(old);
    }

    // Objects made once for the life of the process (true, false, null, the
    // shared empty string) are immortal: counting is skipped entirely, so
    // threads sharing them never write to them.
    void makeImmortal() { refs_.store(kImmortal, std::memory_order_relaxed); }

    // For factories that build many objects (decoders): gives a brand-new
    // object, not yet seen by any other thread and still at count 0, its
    // first `n` references with a plain store instead of `n` atomic
    // increments. The caller owns those references.
    void setInitialReferences(uint32_t n) { refs_.store(n, std::memory_order_relaxed); }
    // For the same factories, while such an object is still theirs alone
    // (made during the current call and not yet handed out): counting with
    // plain loads and stores instead of atomic read-modify-writes.
    void retainUnpublished() const {
        refs_.store(refs_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    }
    void releaseUnpublished() const {
        uint32_t n = refs_.load(std::memory_order_relaxed);
        if (n == 1) destroy(n);
        else refs_.store(n - 1, std::memory_order_relaxed);
    }

    // The object's weak-link block, made on first use. The caller must hold
    // a strong reference.
    detail::WeakLink* weakLink() const;

private:
    // The count word: the reference count in the low 31 bits, and a flag in
    // the top bit telling that a weak-link block exists for this object.
    // Weak-link blocks live in a side table keyed by address, so an object
    // costs one pointer and one 32-bit word; subclasses place their first
    // small fields in the four bytes after the count.
    static constexpr uint32_t kHasWeakLink = 0x80000000u;
    static constexpr uint32_t kCountMask = 0x7FFFFFFFu;
    static constexpr uint32_t kImmortal = 0x40000000u;
    void destroy(uint32_t countWord) const;
    friend bool tryRetainFromWeak(const Object*);

    mutable std::atomic<uint32_t> refs_{0};
};

// A strong reference. Copying retains; destruction releases.
template <class T>
class Ref {
public:
    Ref() = default;
    Ref(std::nullptr_t) {}
    Ref(T* p) : p_(p) { if (p_) counted(p_)->retain(); }
    Ref(const Ref& o) : p_(o.p_) { if (p_) counted(p_)->retain(); }
    Ref(Ref&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    Ref(const Ref<U>& o) : p_(o.get()) { if (p_) counted(p_)->retain(); }
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    Ref(Ref<U>&& o) noexcept : p_(o.leak()) {}
    ~Ref() { if (p_) counted(p_)->release(); }

    Ref& operator=(const Ref& o) { Ref(o).swap(*this); return *this; }
    Ref& operator=(Ref&& o) noexcept { Ref(std::move(o)).swap(*this); return *this; }
    Ref& operator=(std::nullptr_t) { Ref().swap(*this); return *this; }

    // Takes over a reference that was already counted (no retain).
    static Ref adopt(T* p) { Ref r; r.p_ = p; return r; }
    // Gives up ownership without releasing.
    T* leak() { T* p = p_; p_ = nullptr; return p; }

    T* get() const { return p_; }
    T* operator->() const { return p_; }
    T& operator*() const { return *p_; }
    explicit operator bool() const { return p_ != nullptr; }
    void swap(Ref& o) noexcept { std::swap(p_, o.p_); }

    template <class U> bool operator==(const Ref<U>& o) const { return p_ == o.get(); }
    bool operator==(std::nullptr_t) const { return p_ == nullptr; }

private:
    // Counting always goes through the root class, so a subclass member that
    // happens to be named retain() or release() cannot take its place.
    static const Object* counted(const T* p) { return p; }
    T* p_ = nullptr;
};

// Makes a new object and returns the first strong reference to it.
template <class T, class... Args>
Ref<T> make(Args&&... args) {
    return Ref<T>(new T(std::forward<Args>(args)...));
}

// The self-retain idiom: a strong reference to an object the caller only has
// a pointer to, usually `this` -- held for the length of a call that may drop
// the object's last other reference (`auto keep = ns::keepAlive(this);`),
// captured by a deferred call, or handed to whoever keeps the object. While
// the object is still being constructed (count 0) it gives nil: a hold then
// would free the object when let go.
template <class T>
Ref<T> keepAlive(T* p) {
    return p && p->retainCount() > 0 ? Ref<T>(p) : Ref<T>();
}

// Checked downcast: nil when the object is not a T.
template <class T, class U>
Ref<T> cast(const Ref<U>& r) {
    return Ref<T>(dynamic_cast<T*>(r.get()));
}
template <class T>
T* as(Object* o) { return dynamic_cast<T*>(o); }
template <class T>
const T* as(const Object* o) { return dynamic_cast<const T*>(o); }
template <class T, class U>
bool isKind(const Ref<U>& r) { return dynamic_cast<T*>(r.get()) != nullptr; }

bool tryRetainFromWeak(const Object* o);

// A non-owning link. lock() gives a strong reference or nil once the object
// has been destroyed; it never dangles.
template <class T>
class Weak {
public:
    Weak() = default;
    Weak(std::nullptr_t) {}
    Weak(T* p) { reset(p); }
    Weak(const Ref<T>& r) { reset(r.get()); }
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    Weak(const Ref<U>& r) { reset(r.get()); }
    Weak(const Weak& o) : link_(o.link_), p_(o.p_) { if (link_) link_->retain(); }
    Weak(Weak&& o) noexcept : link_(o.link_), p_(o.p_) { o.link_ = nullptr; o.p_ = nullptr; }
    Weak& operator=(const Weak& o) { Weak(o).swap(*this); return *this; }
    Weak& operator=(Weak&& o) noexcept { Weak(std::move(o)).swap(*this); return *this; }
    Weak& operator=(T* p) { Weak(p).swap(*this); return *this; }
    Weak& operator=(const Ref<T>& r) { Weak(r).swap(*this); return *this; }
    Weak& operator=(std::nullptr_t) { Weak().swap(*this); return *this; }
    ~Weak() { if (link_) link_->release(); }

    Ref<T> lock() const {
        if (!link_) return {};
        std::lock_guard<std::mutex> g(link_->mutex);
        if (!link_->target || !tryRetainFromWeak(link_->target)) return {};
        return Ref<T>::adopt(p_);
    }
    // True when the link was never set or its object is gone.
    bool expired() const { return !lock(); }
    // True when the link points at `o` and `o` is still alive (an address
    // reused by a new object after the old one died does not match).
    bool pointsTo(const Object* o) const {
        if (!o || !link_ || p_ != o) return false;
        std::lock_guard<std::mutex> g(link_->mutex);
        return link_->target != nullptr;
    }
    void swap(Weak& o) noexcept { std::swap(link_, o.link_); std::swap(p_, o.p_); }

private:
    void reset(T* p) {
        p_ = p;
        if (p) { link_ = p->weakLink(); link_->retain(); }
    }
    detail::WeakLink* link_ = nullptr;
    T* p_ = nullptr;
};

// Equality helpers that treat nil as equal only to nil.
bool equal(const Object* a, const Object* b);
template <class A, class B>
bool equal(const Ref<A>& a, const Ref<B>& b) { return equal(a.get(), b.get()); }

// Hash/equality functors so Ref<Object> can key standard containers by value.
struct RefHash {
    template <class T> size_t operator()(const Ref<T>& r) const { return r ? r->hash() : 0; }
};
struct RefEqual {
    template <class T> bool operator()(const Ref<T>& a, const Ref<T>& b) const { return equal(a, b); }
};

// Text of an object for formatting: description(), or "(null)" for nil.
std::string describe(const Object* o);
template <class T> std::string describe(const Ref<T>& r) { return describe(r.get()); }

}  // namespace ns
