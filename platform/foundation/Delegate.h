// Delegate links -- weak and strong -- and the one idiom for protocols and
// their optional operations.
//
// A protocol is an abstract class that does NOT derive from ns::Object (so
// an object can adopt several of them); its optional operations have default
// bodies. The object that adopts it derives from ns::Object through its main
// base class.
//
// Delegate links are weak: WeakDelegate<P> keeps a weak link to the adopting
// object and reads as nil once that object is gone. lock() gives a strong
// hold for the duration of a call. Where an owner keeps the object it talks
// to through a protocol (a sharer's progress delegate, a share menu's
// decider), StrongDelegate<P> holds it. Both take the object through the
// protocol, so code never pairs an owner reference with a raw protocol
// pointer by hand.
//
// "Does the delegate implement this optional operation?" -- the one idiom:
// where the caller's behaviour depends on it, the protocol lists those
// operations in a nested `enum class Optional` and declares
//     virtual bool answers(Optional op) const { return false; }
// An adopter that implements such an operation also overrides answers() to
// say so; the caller checks `d->answers(P::Optional::x)` before sending.
// Optional operations whose default body is as good as not sending them are
// simply called.
#pragma once

#include "platform/foundation/Exception.h"
#include "platform/foundation/Object.h"

namespace ns {

namespace detail {
// The object behind a protocol pointer; raises InvalidArgumentException
// when the adopter is not an ns::Object.
template <class P>
Object* adopter(P* p) {
    Object* o = dynamic_cast<Object*>(p);
    if (!o) throw Exception(kInvalidArgumentException, "a delegate must be an object");
    return o;
}
}  // namespace detail

// A strong hold on a delegate for the length of a call; false/nil when
// there is none.
template <class P>
struct DelegateHold {
    Ref<Object> keep;
    P* p = nullptr;
    P* operator->() const { return p; }
    P& operator*() const { return *p; }
    explicit operator bool() const { return p != nullptr; }
    P* get() const { return p; }
};

template <class P>
class WeakDelegate {
public:
    using Locked = DelegateHold<P>;
    WeakDelegate() = default;
    WeakDelegate(P* p) { set(p); }

    // Links to `p` (nil clears). `p` must be an ns::Object as well;
    // anything else raises InvalidArgumentException.
    void set(P* p) {
        if (!p) { owner_ = nullptr; p_ = nullptr; return; }
        owner_ = detail::adopter(p);
        p_ = p;
    }
    WeakDelegate& operator=(P* p) { set(p); return *this; }

    // A strong hold on the delegate while it is used; false/nil once gone.
    Locked lock() const {
        Locked l;
        l.keep = owner_.lock();
        if (l.keep) l.p = p_;
        return l;
    }
    // The delegate, or nil once it is gone. Borrowed: use lock() to keep it
    // alive across a call that may release it.
    P* get() const { return owner_.lock() ? p_ : nullptr; }
    // Whether one was set (it may be gone since): answers without locking.
    bool isSet() const { return p_ != nullptr; }
    bool pointsTo(const P* p) const { return p && p == p_ && !owner_.expired(); }

private:
    Weak<Object> owner_;
    P* p_ = nullptr;
};

template <class P>
class StrongDelegate {
public:
    using Locked = DelegateHold<P>;
    StrongDelegate() = default;
    StrongDelegate(P* p) { set(p); }

    // Holds `p` (nil clears); like WeakDelegate::set, `p` must be an ns::Object.
    void set(P* p) {
        Ref<Object> owner = p ? detail::adopter(p) : nullptr;
        owner_ = std::move(owner);
        p_ = p;
    }
    StrongDelegate& operator=(P* p) { set(p); return *this; }

    // A second hold, for a call during which the delegate may be replaced.
    Locked lock() const { return Locked{owner_, p_}; }
    P* get() const { return p_; }
    P* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    Ref<Object> owner_;
    P* p_ = nullptr;
};

}  // namespace ns
