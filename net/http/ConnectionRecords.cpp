// ConnectionRecords: choosing, releasing and expiring connection records.
#include "net/http/ConnectionRecords.h"

#include <algorithm>

namespace http {

ConnectionRecords& ConnectionRecords::shared() {
    static auto& records = *new ConnectionRecords;  // never destroyed, see HTTPRequest.cpp
    return records;
}

ConnectionRecords::Choice ConnectionRecords::choose(ns::Ref<Record> current, const Server& server, uint32_t request,
                                              ns::Ref<net::HTTPReadStream> stream, double now) {
    std::lock_guard<std::mutex> g(lock_);
    auto serves = [&](const Record& r) {
        return r.host == server.host && r.scheme == server.scheme && r.port == server.port;
    };
    if (current) {
        bool expired = current->expires > 0 && current->expires < now && current->request == 0;
        bool heldByOther = current->request != 0 && current->request != request;
        if (expired) std::erase(records_, current);
        if (expired || !serves(*current) || heldByOther) current = nullptr;
    }
    if (!current) {
        for (auto& r : records_)
            if (r->request == 0 && serves(*r)) current = r;
    }
    if (!current) {
        current = ns::make<Record>();
        current->id = ++lastID_;
        current->host = server.host;
        current->port = server.port;
        current->scheme = server.scheme;
        records_.push_back(current);
    }
    current->request = request;
    Choice choice{current, std::move(current->stream)};
    current->stream = std::move(stream);
    return choice;
}

void ConnectionRecords::release(Record& record, double expires) {
    std::lock_guard<std::mutex> g(lock_);
    record.request = 0;
    record.expires = expires;
}

void ConnectionRecords::setExpiry(Record& record, double expires) {
    std::lock_guard<std::mutex> g(lock_);
    record.expires = expires;
}

void ConnectionRecords::remove(const ns::Ref<Record>& record) {
    std::lock_guard<std::mutex> g(lock_);
    record->request = 0;
    std::erase(records_, record);
}

std::vector<ns::Ref<net::HTTPReadStream>> ConnectionRecords::expire(double now) {
    std::vector<ns::Ref<net::HTTPReadStream>> streams;
    std::lock_guard<std::mutex> g(lock_);
    std::erase_if(records_, [&](const ns::Ref<Record>& r) {
        if (r->request != 0 || r->expires <= 0 || r->expires > now) return false;
        if (r->stream) streams.push_back(r->stream);
        return true;
    });
    return streams;
}

size_t ConnectionRecords::count() const {
    std::lock_guard<std::mutex> g(lock_);
    return records_.size();
}

int ConnectionRecords::idOf(const Record* record) const {
    std::lock_guard<std::mutex> g(lock_);
    return record ? record->id : 0;
}

}  // namespace http
