#include "platform/foundation/NotificationCenter.h"

#include <algorithm>

namespace ns {

std::string Notification::description() const {
    return "<Notification: name = " + name_ + "; object = " + describe(object_) +
           "; userInfo = " + describe(userInfo_) + ">";
}

ObserverToken::ObserverToken(ObserverToken&& o) noexcept : center_(std::move(o.center_)), id_(o.id_) {
    o.id_ = 0;
}

ObserverToken& ObserverToken::operator=(ObserverToken&& o) noexcept {
    if (this != &o) {
        reset();
        center_ = std::move(o.center_);
        id_ = o.id_;
        o.id_ = 0;
    }
    return *this;
}

void ObserverToken::reset() {
    if (center_) {
        Ref<NotificationCenter> c = std::move(center_);
        center_ = nullptr;
        c->remove(id_);
    }
    id_ = 0;
}

Ref<NotificationCenter> NotificationCenter::defaultCenter() {
    static Ref<NotificationCenter> center = [] {
        Ref<NotificationCenter> c = make();
        c->makeImmortal();
        return c;
    }();
    return center;
}

ObserverToken NotificationCenter::addObserver(const std::string& name, Object* object, Callback callback) {
    auto e = ns::make<Entry>();
    e->name = name;
    e->anyObject = object == nullptr;
    e->object = object;
    e->callback = std::move(callback);
    std::lock_guard<std::mutex> g(mutex_);
    e->id = nextId_++;
    entries_.push_back(e);
    return ObserverToken(ns::keepAlive(this), e->id);
}

void NotificationCenter::remove(uint64_t id) {
    Ref<Entry> gone;  // its callback is released outside the lock
    std::lock_guard<std::mutex> g(mutex_);
    auto it = std::find_if(entries_.begin(), entries_.end(), [&](const auto& e) { return e->id == id; });
    if (it == entries_.end()) return;
    (*it)->removed.store(true);
    gone = std::move(*it);
    entries_.erase(it);
}

size_t NotificationCenter::observerCount() const {
    std::lock_guard<std::mutex> g(mutex_);
    return entries_.size();
}

void NotificationCenter::postNotification(const Ref<Notification>& n) {
    if (!n) return;
    std::vector<Ref<Entry>> targets;
    {
        std::lock_guard<std::mutex> g(mutex_);
        for (auto& e : entries_) {
            if (!e->name.empty() && e->name != n->name()) continue;
            if (!e->anyObject) {
                // A filter whose object is gone matches nothing, even an
                // object that now lives at the same address.
                if (!e->object.pointsTo(n->object())) continue;
                if (e->object.expired()) continue;
            }
            targets.push_back(e);
        }
    }
    for (auto& e : targets) {
        if (e->removed.load()) continue;
        e->callback(*n);
    }
}

void NotificationCenter::postNotification(const std::string& name, Ref<Object> object, Ref<Dictionary> userInfo) {
    postNotification(Notification::make(name, std::move(object), std::move(userInfo)));
}

}  // namespace ns
