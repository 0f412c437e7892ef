// How much memory the Evernote client takes for large and hostile
// listNotebooks replies, end to end: the shared URL loading, the Thrift HTTP
// transport, the note-store client and its reader. A server process answers
// on a loopback port; every case runs in a fresh client process, which
// reports its peak resident memory. Not a timed benchmark: it prints one line
// per case.
//
//   build/release/bench/evernote_reply_memory
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include <thrift/Thrift.h>

#include "evernote/notestore/EDAMNoteStore.h"
#include "evernote/notestore/EDAMNoteStoreClient.h"
#include "testsupport/LoopbackServer.h"
#include "evernote/tests/TestSupport.h"
#include "evernote/transport/THTTPClient.h"
#include "evernote/types/BinaryProtocol.h"
#include "platform/foundation/Foundation.h"

namespace {

using namespace evernote;

constexpr size_t kMiB = 1024 * 1024;

// A reply message carrying a listNotebooks result.
std::string replyWith(const EDAMListNotebooks_result& result) {
    test::Wire w;
    w.protocol->writeMessageBegin("listNotebooks", apache::thrift::protocol::T_REPLY, 0);
    result.write(*w.protocol);
    return w.contents();
}

// About `bytes` of empty notebooks: one stop byte each.
std::string emptyNotebooks(size_t bytes) {
    std::string reply = test::bytes("0000000d 'listNotebooks' 02 00000000 0f 0000 0c");
    uint32_t count = __builtin_bswap32(static_cast<uint32_t>(bytes));
    reply.append(reinterpret_cast<const char*>(&count), 4);
    reply.append(bytes, '\0');
    return reply + test::bytes("00");
}

// About `bytes` of notebooks as the service fills them.
std::string realNotebooks(size_t bytes) {
    std::vector<ns::Ref<ns::Object>> notebooks;
    for (size_t size = 0, i = 0; size < bytes; ++i) {
        char guid[40];
        std::snprintf(guid, sizeof guid, "%08zx-1b2c-4d3e-8f40-%012zx", i, i * 7919);
        auto notebook = ns::make<EDAMNotebook>();
        notebook->setGuid(ns::str(guid));
        notebook->setName(ns::String::make("Notebook " + std::to_string(i)));
        notebook->setUpdateSequenceNum(static_cast<int32_t>(i));
        notebook->setDefaultNotebook(i == 0);
        notebook->setServiceCreated(1300000000000LL + static_cast<int64_t>(i));
        notebook->setServiceUpdated(1300000000000LL + static_cast<int64_t>(i));
        size += test::encode(*notebook).size();
        notebooks.push_back(notebook);
    }
    EDAMListNotebooks_result result;
    result.setSuccess(ns::Array::make(std::move(notebooks)));
    return replyWith(result);
}

struct Case {
    const char* name;
    const char* path;
    std::string (*make)();
};

const Case kCases[] = {
    {"16 MiB of empty notebook records", "/empty", [] { return emptyNotebooks(16 * kMiB); }},
    {"16 MiB of real notebooks", "/real", [] { return realNotebooks(16 * kMiB); }},
    {"100 MiB reply (over the transport's limit)", "/huge", [] { return emptyNotebooks(100 * kMiB); }},
};

long peakResidentKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

[[noreturn]] void serve(int portPipe) {
    std::vector<std::string> replies;
    for (const Case& c : kCases) replies.push_back(c.make());
    testsupport::Server server([&](const testsupport::Request& r) -> std::optional<std::string> {
        for (size_t i = 0; i < std::size(kCases); ++i)
            if (r.target == kCases[i].path) return testsupport::Server::reply(200, replies[i]);
        return testsupport::Server::reply(404, "");
    });
    int port = server.port();
    if (write(portPipe, &port, sizeof port) != sizeof port) _exit(1);
    for (;;) pause();
}

void runCase(const Case& c, int port) {
    std::string outcome;
    try {
        auto transport = std::make_shared<THTTPClient>("http://127.0.0.1:" + std::to_string(port) + c.path);
        EDAMNoteStoreClient client(std::make_shared<BinaryProtocol>(transport));
        auto notebooks = client.listNotebooks(ns::str("token"));
        outcome = "decoded " + std::to_string(notebooks->count()) + " notebooks";
    } catch (const apache::thrift::TException& e) {
        outcome = std::string("refused: ") + e.what();
    }
    std::printf("%-44s peak %5ld MiB  %s\n", c.name, peakResidentKiB() / 1024, outcome.c_str());
}

}  // namespace

int main() {
    int fds[2];
    if (pipe(fds) != 0) return 1;
    pid_t server = fork();
    if (server == 0) serve(fds[1]);
    int port = 0;
    if (read(fds[0], &port, sizeof port) != sizeof port) return 1;
    for (const Case& c : kCases) {
        std::fflush(stdout);
        pid_t client = fork();
        if (client == 0) {
            runCase(c, port);
            std::fflush(stdout);
            _exit(0);
        }
        waitpid(client, nullptr, 0);
    }
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
    return 0;
}
