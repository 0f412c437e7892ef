// Named notifications delivered synchronously, on the posting thread, to the
// observers registered for the name (and, when they gave one, for the
// posting object), in registration order.
//
// addObserver returns an ObserverToken; the observer stays registered for as
// long as the token lives, so an owner that keeps its tokens as members
// stops observing when it dies. Removing observers (or adding them) while a
// notification is being delivered is safe: an observer removed during a
// delivery is not called afterwards, one added is called from the next post.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/foundation/Dictionary.h"
#include "platform/foundation/Object.h"

namespace ns {

class NotificationCenter;

class Notification : public Object {
public:
    Notification(std::string name, Ref<Object> object, Ref<Dictionary> userInfo)
        : name_(std::move(name)), object_(std::move(object)), userInfo_(std::move(userInfo)) {}
    static Ref<Notification> make(std::string name, Ref<Object> object = nullptr,
                                  Ref<Dictionary> userInfo = nullptr) {
        return ns::make<Notification>(std::move(name), std::move(object), std::move(userInfo));
    }
    const char* className() const override { return "Notification"; }
    std::string description() const override;

    const std::string& name() const { return name_; }
    Object* object() const { return object_.get(); }
    const Ref<Object>& objectRef() const { return object_; }
    Dictionary* userInfo() const { return userInfo_.get(); }

private:
    const std::string name_;
    const Ref<Object> object_;
    const Ref<Dictionary> userInfo_;
};

// Keeps one observer registered; destroying or reset()-ing it removes the
// observer. Movable, not copyable.
class ObserverToken {
public:
    ObserverToken() = default;
    ObserverToken(ObserverToken&& o) noexcept;
    ObserverToken& operator=(ObserverToken&& o) noexcept;
    ObserverToken(const ObserverToken&) = delete;
    ObserverToken& operator=(const ObserverToken&) = delete;
    ~ObserverToken() { reset(); }

    // Removes the observer now (safe to call twice).
    void reset();
    bool isActive() const { return static_cast<bool>(center_); }

private:
    friend class NotificationCenter;
    ObserverToken(Ref<NotificationCenter> center, uint64_t id) : center_(std::move(center)), id_(id) {}
    Ref<NotificationCenter> center_;
    uint64_t id_ = 0;
};

class NotificationCenter : public Object {
public:
    using Callback = std::function<void(const Notification&)>;

    static Ref<NotificationCenter> defaultCenter();
    static Ref<NotificationCenter> make() { return ns::make<NotificationCenter>(); }
    const char* className() const override { return "NotificationCenter"; }

    // Registers callback for notifications called `name` (every name when
    // empty) posted with `object` (any object when nil). The center does not
    // keep `object` alive; once it is gone the observer matches nothing.
    [[nodiscard]] ObserverToken addObserver(const std::string& name, Object* object, Callback callback);

    void postNotification(const Ref<Notification>& notification);
    void postNotification(const std::string& name, Ref<Object> object = nullptr,
                          Ref<Dictionary> userInfo = nullptr);

    // Number of registered observers (for tests and diagnostics).
    size_t observerCount() const;

private:
    friend class ObserverToken;
    struct Entry : Object {
        uint64_t id = 0;
        std::string name;
        bool anyObject = false;
        Weak<Object> object;
        Callback callback;
        std::atomic<bool> removed{false};
    };
    void remove(uint64_t id);

    mutable std::mutex mutex_;
    std::vector<Ref<Entry>> entries_;
    uint64_t nextId_ = 1;
};

}  // namespace ns
