// ConnectionRecords: the kept connections of every request in the process
// (the read streams' socket pool is below, in platform/network). A
// record names one connection: the server it reaches, the request using it
// (none while idle), the last stream opened on it and when it expires once
// idle. A request's stream carries its record's id, and the read stream
// adopts only an idle pooled socket last used under that id, so "same
// record, same connection" holds (NTLM's three messages share a socket).
//
// Process-wide, under its own plain lock, held only while records are read
// or changed: streams that must be closed are handed back to the caller,
// which closes them after the lock is released. Times are steady seconds
// passed in by the caller.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/foundation/Object.h"
#include "platform/network/HTTPReadStream.h"

namespace http {

class ConnectionRecords {
public:
    struct Record : ns::Object {
        const char* className() const override { return "HTTPConnectionRecord"; }
        int id = 0;
        std::string host;
        int port = 0;
        std::string scheme;
        uint32_t request = 0;  // the id of the request using it; 0 while idle
        ns::Ref<net::HTTPReadStream> stream;
        double expires = 0;
    };
    struct Server {
        std::string host;
        int port = 0;
        std::string scheme;
    };
    struct Choice {
        ns::Ref<Record> record;
        ns::Ref<net::HTTPReadStream> previous;  // the record's last stream, to close after the new one opened
    };

    // The engine's one pool.
    static ConnectionRecords& shared();

    // The record for a request's new stream: the one it had when it is for
    // the same server, not expired and not held by another request; else an
    // idle record for the server; else a new one. It is then held by
    // `request` and `stream` is its last stream.
    Choice choose(ns::Ref<Record> current, const Server& server, uint32_t request,
                  ns::Ref<net::HTTPReadStream> stream, double now);
    // The record is idle from now and expires at `expires`.
    void release(Record& record, double expires);
    void setExpiry(Record& record, double expires);
    // Drops the record (its connection is not to be used again).
    void remove(const ns::Ref<Record>& record);
    // Drops idle records whose time has come; answers their streams.
    std::vector<ns::Ref<net::HTTPReadStream>> expire(double now);
    size_t count() const;
    int idOf(const Record* record) const;

private:
    mutable std::mutex lock_;
    std::vector<ns::Ref<Record>> records_;
    int lastID_ = 0;
};

}  // namespace http
