// Where a response body goes, without sockets: bytes handed to the download
// as a request would hand them, into memory and into real files in a
// temporary folder.
#include <gtest/gtest.h>

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "net/http/DataCompressor.h"
#include "net/http/RequestErrors.h"
#include "net/http/ResponseDownload.h"
#include "testsupport/Checked.h"
#include "testsupport/FullDisk.h"
#include "testsupport/OtherFileSystem.h"
#include "testsupport/TempDir.h"

namespace {

using http::ResponseDownload;
using testsupport::must;
using Destination = ResponseDownload::Destination;
using RangeAnswer = ResponseDownload::RangeAnswer;

std::string text(size_t length) {
    std::string s;
    for (size_t i = 0; s.size() < length; ++i) s += "line " + std::to_string(i) + " of the body\n";
    s.resize(length);
    return s;
}

ns::Ref<ns::Data> gzip(const std::string& s) {
    ns::Ref<ns::Error> error;
    auto plain = ns::Data::make(s);
    auto packed = http::DataCompressor::compressData(plain.get(), &error);
    EXPECT_FALSE(error);
    return ns::Ref<ns::Data>(must<ns::Data>(packed, "the gzip body"));
}

std::string contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

std::string asString(const ns::Data* d) { return d ? std::string(d->view()) : std::string("(nil)"); }

unsigned modeOf(const std::string& path) {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

dev_t deviceOf(const std::string& path) {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 ? st.st_dev : 0;
}

// The names in a folder.
std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> out;
    for (auto& e : std::filesystem::directory_iterator(folder)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

void emptyFolder(const std::string& folder) {
    for (auto& e : std::filesystem::directory_iterator(folder)) std::filesystem::remove_all(e.path());
}

// Points `d` at `destination` and begins a body into a file; the download
// makes up its temporary file when `temporary` is empty, and `waits` to
// inflate a gzip body at the end.
void beginFile(ResponseDownload& d, const std::string& destination, bool compressed, const std::string& temporary = "",
               bool resume = false, bool waits = true) {
    d.setDestinationPath(destination);
    if (!temporary.empty()) d.setTemporaryPath(temporary);
    // Set only when not the default, so the defaults stay under test.
    if (resume) d.setAllowsResume(true);
    if (!waits) d.setWaitsToInflate(false);
    d.startAttempt();
    d.beginBody(Destination::File, compressed);
}

// Hands `bytes` over in pieces as the request does for a body it does not
// read straight into memory.
ns::Ref<ns::Error> feed(ResponseDownload& d, const uint8_t* bytes, size_t length, size_t piece,
                        RangeAnswer range = RangeAnswer::NotAsked, uint64_t* dropped = nullptr) {
    uint64_t ignored = 0;
    for (size_t at = 0; at < length; at += piece) {
        size_t n = std::min(piece, length - at);
        if (auto e = d.received(bytes + at, n)) return e;
        ns::Ref<ns::Data> inflated;
        if (d.inflatesOnArrival()) {
            ns::Ref<ns::Error> e;
            inflated = d.inflate(bytes + at, n, &e);
            if (!inflated) return e;
        }
        if (auto e = d.store(bytes + at, n, inflated.get(), range, dropped ? dropped : &ignored)) return e;
    }
    return nullptr;
}

TEST(ResponseDownload, KeptInMemoryAsItComesOrInflated) {
    // A plain body read straight into the memory buffer, with room reserved.
    {
        ResponseDownload d;
        d.startAttempt();
        d.beginBody(Destination::Memory, false);
        d.reserve(4096);
        ASSERT_TRUE(d.keepsRawInMemory());
        EXPECT_GE(d.memoryBuffer().capacity(), 4096u);
        std::string body = text(4096);
        uint8_t* room = d.memoryBuffer().roomToAppend(body.size());
        EXPECT_EQ(room, d.memoryBuffer().bytes());  // the reserved room, not a new block
        std::memcpy(room, body.data(), body.size());
        d.memoryBuffer().commitAppended(body.size());
        EXPECT_FALSE(d.received(d.memoryBuffer().bytes(), body.size()));
        d.endBody(false);
        EXPECT_EQ(asString(d.body(false).get()), body);
    }
    // An announced length above the limit reserves nothing (the length is
    // the server's word).
    {
        ResponseDownload d;
        d.setMaxKept(1000);
        d.startAttempt();
        d.beginBody(Destination::Memory, false);
        d.reserve(1 << 20);
        EXPECT_LT(d.memoryBuffer().capacity(), size_t(1) << 20);
    }
    // A gzip body that waits to inflate: inflated once as it arrived, and
    // the same object handed out every time.
    {
        std::string body = text(300000);
        auto packed = gzip(body);
        ResponseDownload d;
        d.startAttempt();
        d.beginBody(Destination::Memory, true);
        ASSERT_TRUE(d.keepsRawInMemory());
        d.memoryBuffer().appendData(*packed);
        EXPECT_FALSE(d.received(packed->bytes(), packed->length()));
        d.endBody(true);
        auto first = d.body(true);
        EXPECT_EQ(asString(first.get()), body);
        EXPECT_EQ(first.get(), d.body(true).get());
        EXPECT_EQ(must<ns::Data>(d.rawData())->length(), packed->length());
    }
    // Inflated on arrival: memory holds the inflated body only.
    {
        std::string body = text(100000);
        auto packed = gzip(body);
        ResponseDownload d;
        d.setWaitsToInflate(false);
        d.startAttempt();
        d.beginBody(Destination::Memory, true);
        EXPECT_FALSE(d.keepsRawInMemory());
        ASSERT_FALSE(feed(d, packed->bytes(), packed->length(), 1000));
        d.endBody(true);
        EXPECT_EQ(asString(d.body(true).get()), body);
    }
    // Bad gzip bytes inflated on arrival end in the compressor's error.
    {
        ResponseDownload d;
        d.setWaitsToInflate(false);
        d.startAttempt();
        d.beginBody(Destination::Memory, true);
        std::string junk = "this is not gzip at all";
        auto e = feed(d, reinterpret_cast<const uint8_t*>(junk.data()), junk.size(), junk.size());
        ASSERT_TRUE(e);
        EXPECT_EQ(e->code(), http::kCompressionErrorType);
    }
}

TEST(ResponseDownload, LimitsEndTheBodyWhereverItGoes) {
    std::string zeros(4 << 20, '\0');
    auto bomb = gzip(zeros);
    // Raw bytes kept in memory past the limit.
    {
        ResponseDownload d;
        d.setMaxKept(1000);
        d.startAttempt();
        d.beginBody(Destination::Memory, false);
        std::string body = text(1001);
        EXPECT_FALSE(d.received(reinterpret_cast<const uint8_t*>(body.data()), 1000));
        auto e = d.received(reinterpret_cast<const uint8_t*>(body.data()) + 1000, 1);
        ASSERT_TRUE(e);
        EXPECT_EQ(e->code(), http::kResponseTooLargeErrorType);
    }
    // A gzip body kept in memory inflating past the limit, waiting or not.
    for (bool wait : {true, false}) {
        ResponseDownload d;
        d.setMaxKept(1 << 20);
        d.setWaitsToInflate(wait);
        d.startAttempt();
        d.beginBody(Destination::Memory, true);
        auto e = feed(d, bomb->bytes(), bomb->length(), 512);
        ASSERT_TRUE(e) << "waiting: " << wait;
        EXPECT_EQ(e->code(), http::kResponseTooLargeErrorType);
    }
    // Into a file, the inflation limit applies (the kept limit does not).
    {
        testsupport::TempDir dir("download");
        ResponseDownload d;
        d.setMaxKept(100);
        d.setMaxInflated(1 << 20);
        beginFile(d, dir / "out.txt", true);
        auto e = feed(d, bomb->bytes(), bomb->length(), 512);
        ASSERT_TRUE(e);
        EXPECT_EQ(e->code(), http::kResponseTooLargeErrorType);
        EXPECT_FALSE(d.cancel(false));
        EXPECT_FALSE(std::filesystem::exists(dir / "out.txt"));
        EXPECT_TRUE(d.temporaryPath().empty());
    }
}

TEST(ResponseDownload, FileDownloadsMoveIntoPlaceWhole) {
    testsupport::TempDir dir("download");
    std::string body = text(200000);
    auto bytes = reinterpret_cast<const uint8_t*>(body.data());
    // Plain: written to a temporary file, moved over an older destination.
    {
        std::ofstream(dir / "plain.txt") << "older";
        ResponseDownload d;
        beginFile(d, dir / "plain.txt", false);
        EXPECT_FALSE(d.keepsRawInMemory());
        ASSERT_FALSE(feed(d, bytes, body.size(), 65536));
        std::string temporary = d.temporaryPath();
        EXPECT_TRUE(std::filesystem::exists(temporary));
        d.endBody(false);
        EXPECT_FALSE(d.finishFile(false, false));
        EXPECT_EQ(contents(dir / "plain.txt"), body);
        EXPECT_FALSE(std::filesystem::exists(temporary));
        EXPECT_FALSE(d.rawData());
    }
    // Gzip, inflated at the end and on arrival: the destination holds the
    // inflated body and no temporary file is left. A file made anew there
    // is not private: it gets what the umask gives, as any new file.
    auto packed = gzip(body);
    const mode_t umaskBefore = ::umask(022);
    for (bool wait : {true, false}) {
        std::string destination = dir / (wait ? "late.txt" : "early.txt");
        ResponseDownload d;
        beginFile(d, destination, true, "", false, wait);
        ASSERT_FALSE(feed(d, packed->bytes(), packed->length(), 4096));
        std::string temporary = d.temporaryPath();
        d.endBody(true);
        EXPECT_FALSE(d.finishFile(true, false));
        EXPECT_EQ(contents(destination), body) << "waiting: " << wait;
        EXPECT_EQ(modeOf(destination), 0644u) << "waiting: " << wait;
        EXPECT_FALSE(std::filesystem::exists(temporary));
    }
    ::umask(umaskBefore);
    // Inflating at the end past the limit leaves no half file in place.
    {
        std::string zeros(2 << 20, '\0');
        auto bomb = gzip(zeros);
        ResponseDownload d;
        d.setMaxInflated(1 << 20);
        // Counting on arrival is off, as for a body the guard was not told about.
        beginFile(d, dir / "bomb.txt", false);
        ASSERT_FALSE(feed(d, bomb->bytes(), bomb->length(), 4096));
        auto e = d.finishFile(true, false);
        ASSERT_TRUE(e);
        EXPECT_EQ(e->code(), http::kResponseTooLargeErrorType);
        EXPECT_FALSE(std::filesystem::exists(dir / "bomb.txt"));
        for (const std::string& name : namesIn(dir.path())) EXPECT_EQ(name.find("bomb.txt"), std::string::npos) << name;
    }
}

// A gzip body inflated at the end is inflated into a file of its own
// beside the destination (".<name>.inflating-XXXXXX", made new and
// private), so that two downloads to one destination never share it:
// whatever stands at any other name there (another download's file, a
// link, a folder) is left as it was, and the file goes when the inflation
// or the landing fails.
TEST(ResponseDownload, InflationBesideTheDestinationIsAFileOfItsOwn) {
    testsupport::TempDir dir("download");
    const std::string body = text(100000);
    auto packed = gzip(body);
    const std::string destination = dir / "out.txt";
    const std::string fixedName = destination + ".inflating";  // a name any download to it could pick
    struct Row {
        const char* name;
        std::function<void()> plant;
        std::function<std::string()> planted;  // what stands there afterwards
        std::string expected;
    };
    const Row rows[] = {
        {"another download's file",
         [&] { std::ofstream(fixedName) << "theirs"; },
         [&] { return contents(fixedName); }, "theirs"},
        {"a link to another file",
         [&] {
             std::ofstream(dir / "victim.txt") << "victim";
             std::filesystem::create_symlink(dir / "victim.txt", fixedName);
         },
         [&] {
             return std::filesystem::is_symlink(fixedName) ? "link to " + contents(dir / "victim.txt")
                                                           : std::string("not a link");
         },
         "link to victim"},
        {"a folder",
         [&] { std::filesystem::create_directory(fixedName); },
         [&] { return std::filesystem::is_directory(fixedName) ? std::string("folder") : std::string("gone"); },
         "folder"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        emptyFolder(dir.path());
        row.plant();
        const auto before = namesIn(dir.path());
        ResponseDownload d;
        beginFile(d, destination, true);
        ASSERT_FALSE(feed(d, packed->bytes(), packed->length(), 4096));
        d.endBody(true);
        auto error = d.finishFile(true, false);
        EXPECT_FALSE(error) << error->description();
        EXPECT_EQ(std::filesystem::is_symlink(destination), false);
        EXPECT_TRUE(contents(destination) == body);
        EXPECT_EQ(row.planted(), row.expected);
        auto after = before;
        after.push_back("out.txt");
        std::sort(after.begin(), after.end());
        EXPECT_EQ(namesIn(dir.path()), after);
    }
    // Two downloads to one destination, finished one after the other: each
    // lands whole, and no file of either is left beside it.
    emptyFolder(dir.path());
    {
        const std::string second = text(5000);
        auto packedSecond = gzip(second);
        ResponseDownload a, b;
        for (ResponseDownload* d : {&a, &b}) beginFile(*d, destination, true);
        ASSERT_FALSE(feed(a, packed->bytes(), packed->length(), 4096));
        ASSERT_FALSE(feed(b, packedSecond->bytes(), packedSecond->length(), 4096));
        EXPECT_FALSE(a.finishFile(true, false));
        EXPECT_TRUE(contents(destination) == body);
        EXPECT_FALSE(b.finishFile(true, false));
        EXPECT_TRUE(contents(destination) == second);
        EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"out.txt"});
    }
    // The file goes when the inflation fails (not gzip, cut short) or the
    // landing does (a folder stands at the destination); the file there
    // stays.
    struct Failure {
        const char* name;
        std::string sent;
        bool folderAtDestination;
        long code;
    };
    const std::string whole(reinterpret_cast<const char*>(packed->bytes()), packed->length());
    const Failure failures[] = {
        {"not gzip", "plain text, not gzip", false, http::kCompressionError},
        {"cut short", whole.substr(0, whole.size() / 2), false, http::kCompressionError},
        {"a folder at the destination", whole, true, http::kFileManagementError},
    };
    for (const Failure& f : failures) {
        SCOPED_TRACE(f.name);
        emptyFolder(dir.path());
        if (f.folderAtDestination) std::filesystem::create_directories(destination + "/inside");
        else std::ofstream(destination) << "older";
        ResponseDownload d;
        beginFile(d, destination, true);
        ASSERT_FALSE(feed(d, reinterpret_cast<const uint8_t*>(f.sent.data()), f.sent.size(), 4096));
        auto error = d.finishFile(true, false);
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code(), f.code) << error->description();
        EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"out.txt"});
        if (!f.folderAtDestination) {
            EXPECT_EQ(contents(destination), "older");
        }
    }
}

// A finished download lands whole whatever file system its temporary file
// is on: renamed, or copied into the destination's folder and renamed there.
// The file it replaces keeps its permission bits and stays as it was when
// landing fails; temporary files are private and go when the download
// fails.
TEST(ResponseDownload, DownloadsLandAcrossFileSystems) {
    testsupport::TempDir dir("download");
    testsupport::FolderOnAnotherFileSystem other(dir.path());
    if (other.empty()) GTEST_SKIP() << testsupport::FolderOnAnotherFileSystem::kMissing;
    const std::string body = text(300000);
    auto packed = gzip(body);
    auto plain = ns::Data::make(body);
    struct Row {
        const char* name;
        bool compressed, wait;
    };
    for (const Row& row : {Row{"plain", false, true}, Row{"gzip inflated at the end", true, true},
                           Row{"gzip inflated on arrival", true, false}}) {
        SCOPED_TRACE(row.name);
        const std::string destination = dir / "landed.txt";
        std::ofstream(destination) << "older";
        ::chmod(destination.c_str(), 0640);
        ResponseDownload d;
        beginFile(d, destination, row.compressed, other / "partial", false, row.wait);
        const ns::Data& sent = row.compressed ? *packed : *plain;
        ASSERT_FALSE(feed(d, sent.bytes(), sent.length() / 2, 4096));
        EXPECT_EQ(modeOf(other / "partial"), 0600u);
        ASSERT_FALSE(feed(d, sent.bytes() + sent.length() / 2, sent.length() - sent.length() / 2, 4096));
        d.endBody(row.compressed);
        auto error = d.finishFile(row.compressed, false);
        ASSERT_FALSE(error) << error->description();
        EXPECT_TRUE(contents(destination) == body);
        EXPECT_EQ(modeOf(destination), 0640u);
        EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"landed.txt"});
        EXPECT_FALSE(std::filesystem::exists(other / "partial"));
    }
    // A temporary file the download makes up is private too.
    {
        ResponseDownload d;
        beginFile(d, dir / "made-up.txt", false);
        ASSERT_FALSE(feed(d, reinterpret_cast<const uint8_t*>(body.data()), 1000, 1000));
        EXPECT_EQ(modeOf(d.temporaryPath()), 0600u);
        EXPECT_FALSE(d.cancel(false));
    }
    // The copy into a full destination folder fails: the file there stays
    // as it was, and neither the download's file nor a half copy is left.
    testsupport::FullDisk disk(dir / "disk");
    if (!disk.isTmpfs() || deviceOf(disk.folder()) == deviceOf(dir.path())) {
        std::printf("skipped: no full destination on another file system here (%s)\n", disk.how().c_str());
        return;
    }
    const std::string kept = disk.folder() + "/kept.txt";
    std::ofstream(kept) << "older";
    disk.fill();
    for (bool compressed : {false, true}) {
        SCOPED_TRACE(compressed ? "gzip inflated on arrival" : "plain");
        ResponseDownload d;
        beginFile(d, kept, compressed, dir / "partial", true, false);
        const ns::Data& sent = compressed ? *packed : *plain;
        ASSERT_FALSE(feed(d, sent.bytes(), sent.length(), 65536));
        d.endBody(compressed);
        auto error = d.finishFile(compressed, false);
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code(), http::kFileManagementError);
        EXPECT_EQ(contents(kept), "older");
        auto left = namesIn(disk.folder());
        left.erase(std::remove(left.begin(), left.end(), ".filler"), left.end());
        EXPECT_EQ(left, std::vector<std::string>{"kept.txt"});
        EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"disk", "landed.txt"}));
    }
    disk.restore();
}

// A resumable download records the body its partial file starts (beside
// it, atomically) and takes on a resume only a part that continues that
// body; a whole body starts the file over with a record of its own.
TEST(ResponseDownload, ResumeTakesOnlyAPartThatContinuesTheRecordedBody) {
    testsupport::TempDir dir("download");
    const std::string body = text(10000);
    const auto bytes = reinterpret_cast<const uint8_t*>(body.data());
    const std::string partial = dir / "partial", record = partial + ".resume";
    using Head = ResponseDownload::AnswerHead;
    auto point = [&](ResponseDownload& d) {
        d.setDestinationPath(dir / "whole.txt");
        d.setTemporaryPath(partial);
        d.setAllowsResume(true);
        ASSERT_FALSE(d.refreshPartialSize());
    };
    // A first attempt cut after 4000 bytes of a 200 with an ETag.
    auto cutFirst = [&](const Head& head) {
        ResponseDownload d;
        point(d);
        d.startAttempt();
        EXPECT_EQ(d.answerHead(false, head), RangeAnswer::NotAsked);
        d.beginBody(Destination::File, false);
        ASSERT_FALSE(feed(d, bytes, 4000, 1000));
        EXPECT_FALSE(d.cancel(false));
    };
    const Head first{200, std::nullopt, "10000", "\"a\"", "Tue, 01 Dec 2026 10:00:00 GMT"};
    cutFirst(first);
    EXPECT_EQ(contents(record), "resume 1\netag \"a\"\nlast-modified Tue, 01 Dec 2026 10:00:00 GMT\nlength 10000\n");
    EXPECT_EQ(modeOf(record), 0600u);

    struct Row {
        const char* name;
        Head head;
        RangeAnswer expected;
    };
    const Row rows[] = {
        {"the rest, same ETag", {206, "bytes 4000-9999/10000", "6000", "\"a\"", std::nullopt}, RangeAnswer::Honoured},
        {"the rest, total unknown", {206, "bytes 4000-9999/*", std::nullopt, std::nullopt, std::nullopt}, RangeAnswer::Honoured},
        {"the rest, unit in capitals", {206, "BYTES 4000-9999/10000", std::nullopt, std::nullopt, std::nullopt}, RangeAnswer::Honoured},
        {"the rest, another Last-Modified beside the ETag", {206, "bytes 4000-9999/10000", std::nullopt, "\"a\"", "x"}, RangeAnswer::Honoured},
        {"the rest of another body (ETag)", {206, "bytes 4000-9999/10000", std::nullopt, "\"b\"", std::nullopt}, RangeAnswer::Refused},
        {"a part starting before", {206, "bytes 3999-9999/10000", std::nullopt, "\"a\"", std::nullopt}, RangeAnswer::Refused},
        {"a part starting after", {206, "bytes 4001-9999/10000", std::nullopt, "\"a\"", std::nullopt}, RangeAnswer::Refused},
        {"a part stopping short", {206, "bytes 4000-9998/10000", std::nullopt, "\"a\"", std::nullopt}, RangeAnswer::Refused},
        {"a part of a longer body", {206, "bytes 4000-10000/10001", std::nullopt, "\"a\"", std::nullopt}, RangeAnswer::Refused},
        {"a longer part, total unknown", {206, "bytes 4000-10000/*", std::nullopt, "\"a\"", std::nullopt}, RangeAnswer::Refused},
        {"a part of a shorter body", {206, "bytes 4000-9998/9999", std::nullopt, "\"a\"", std::nullopt}, RangeAnswer::Refused},
        {"a length that is not the part's", {206, "bytes 4000-9999/10000", "5999", "\"a\"", std::nullopt}, RangeAnswer::Refused},
        {"no Content-Range", {206, std::nullopt, std::nullopt, "\"a\"", std::nullopt}, RangeAnswer::Refused},
        {"no total", {206, "bytes 4000-9999", std::nullopt, "\"a\"", std::nullopt}, RangeAnswer::Refused},
        {"last before first", {206, "bytes 9999-4000/10000", std::nullopt, "\"a\"", std::nullopt}, RangeAnswer::Refused},
        {"another unit", {206, "items 4000-9999/10000", std::nullopt, "\"a\"", std::nullopt}, RangeAnswer::Refused},
        {"the whole body as a part", {206, "bytes 0-9999/10000", "10000", "\"a\"", std::nullopt}, RangeAnswer::Ignored},
        {"another whole body as a part", {206, "bytes 0-19999/20000", std::nullopt, "\"b\"", std::nullopt}, RangeAnswer::Ignored},
        {"from the start, total unknown", {206, "bytes 0-9999/*", std::nullopt, "\"a\"", std::nullopt}, RangeAnswer::Refused},
        {"a whole body (200)", {200, std::nullopt, "20000", "\"b\"", std::nullopt}, RangeAnswer::Ignored},
        {"an error answer", {503, std::nullopt, "20", std::nullopt, std::nullopt}, RangeAnswer::Ignored},
        {"no rest to be had (416)", {416, std::nullopt, "0", std::nullopt, std::nullopt}, RangeAnswer::Refused},
        {"no rest to be had (416), with a range", {416, "bytes */10000", std::nullopt, std::nullopt, std::nullopt},
         RangeAnswer::Refused},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ResponseDownload d;
        point(d);
        EXPECT_EQ(d.partialSize(), 4000u);
        EXPECT_EQ(d.resumeValidator(), "\"a\"");
        d.startAttempt();
        EXPECT_EQ(d.answerHead(true, row.head), row.expected);
        EXPECT_EQ(d.answerHead(false, row.head), RangeAnswer::NotAsked);
    }

    // A Range asked with no partial file to continue (the caller's own):
    // whatever part came is taken, as when nothing is resumed.
    {
        ResponseDownload d;
        d.setDestinationPath(dir / "whole.txt");
        d.setTemporaryPath(dir / "none");
        d.setAllowsResume(true);
        ASSERT_FALSE(d.refreshPartialSize());
        ASSERT_EQ(d.partialSize(), 0u);
        d.startAttempt();
        EXPECT_EQ(d.answerHead(true, {206, "bytes 0-9999/10000", std::nullopt, std::nullopt, std::nullopt}),
                  RangeAnswer::Honoured);
        EXPECT_EQ(d.answerHead(true, {206, "bytes 500-9999/10000", std::nullopt, std::nullopt, std::nullopt}),
                  RangeAnswer::Honoured);
        EXPECT_EQ(d.answerHead(true, {206, "bytes 0-99/10000", std::nullopt, std::nullopt, std::nullopt}),
                  RangeAnswer::Honoured);
        EXPECT_EQ(d.answerHead(true, {416, std::nullopt, std::nullopt, std::nullopt, std::nullopt}),
                  RangeAnswer::Ignored);
        EXPECT_EQ(d.answerHead(true, {200, std::nullopt, std::nullopt, std::nullopt, std::nullopt}),
                  RangeAnswer::Ignored);
    }
    // Continued: the record stays the first answer's; landed, it goes.
    {
        ResponseDownload d;
        point(d);
        d.startAttempt();
        const Head rest{206, "bytes 4000-9999/10000", std::nullopt, "\"a\"", "Wed, 02 Dec 2026 10:00:00 GMT"};
        ASSERT_EQ(d.answerHead(true, rest), RangeAnswer::Honoured);
        d.beginBody(Destination::File, false, RangeAnswer::Honoured);
        ASSERT_FALSE(feed(d, bytes + 4000, 3000, 1000, RangeAnswer::Honoured));
        EXPECT_FALSE(d.cancel(false));
        EXPECT_EQ(contents(record), "resume 1\netag \"a\"\nlast-modified Tue, 01 Dec 2026 10:00:00 GMT\nlength 10000\n");
        ResponseDownload again;
        point(again);
        EXPECT_EQ(again.partialSize(), 7000u);
        again.startAttempt();
        ASSERT_EQ(again.answerHead(true, {206, "bytes 7000-9999/10000", std::nullopt, "\"a\"", std::nullopt}),
                  RangeAnswer::Honoured);
        again.beginBody(Destination::File, false, RangeAnswer::Honoured);
        ASSERT_FALSE(feed(again, bytes + 7000, 3000, 1000, RangeAnswer::Honoured));
        EXPECT_FALSE(again.finishFile(false, false));
        EXPECT_EQ(contents(dir / "whole.txt"), body);
        EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"whole.txt"});
    }
    // Started over with a whole body: the record is that body's; with one
    // nothing identifies, a stale record goes.
    {
        cutFirst(first);
        ResponseDownload d;
        point(d);
        d.startAttempt();
        ASSERT_EQ(d.answerHead(true, {200, std::nullopt, "20000", "W/\"b\"", std::nullopt}), RangeAnswer::Ignored);
        d.beginBody(Destination::File, false, RangeAnswer::Ignored);
        ASSERT_FALSE(feed(d, bytes, 1000, 1000, RangeAnswer::Ignored));
        EXPECT_FALSE(d.cancel(false));
        EXPECT_EQ(contents(record), "resume 1\netag W/\"b\"\nlength 20000\n");
        ResponseDownload weak;
        point(weak);
        EXPECT_EQ(weak.partialSize(), 1000u);
        EXPECT_EQ(weak.resumeValidator(), "");  // a weak ETag is never sent as If-Range
        weak.startAttempt();
        ASSERT_EQ(weak.answerHead(true, {200, std::nullopt, std::nullopt, std::nullopt, std::nullopt}),
                  RangeAnswer::Ignored);
        weak.beginBody(Destination::File, false, RangeAnswer::Ignored);
        ASSERT_FALSE(feed(weak, bytes, 1000, 1000, RangeAnswer::Ignored));
        EXPECT_FALSE(weak.cancel(false));
        EXPECT_FALSE(std::filesystem::exists(record));
        std::filesystem::remove(partial);
    }
    // What a record says of whether its file may be continued.
    {
        const struct {
            const char* text;
            http::ResumeRecord::Found found;
            bool continuable;
        } cases[] = {
            {"resume 1\netag \"a\"\n", http::ResumeRecord::Found::Read, true},
            {"resume 1\ncontinue no\n", http::ResumeRecord::Found::Read, false},
            {"resume 1\ncontinue yes\n", http::ResumeRecord::Found::Unreadable, true},
            {"resume 1\nsize no\n", http::ResumeRecord::Found::Unreadable, true},
            {"resume 1\ncontinue no\ncontinue no\n", http::ResumeRecord::Found::Unreadable, true},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(c.text);
            std::ofstream(record, std::ios::binary) << c.text;
            http::ResumeRecord read;
            read.continuable = false;
            EXPECT_EQ(http::ResumeRecord::read(record, &read), c.found);
            EXPECT_EQ(read.continuable, c.continuable);
        }
        std::filesystem::remove(record);
    }
    // A record that cannot be read, or a partial file not shorter than the
    // body it records, leaves nothing to resume; a partial file without a
    // record is resumed with the range checks alone; a dropped partial
    // file takes its record along.
    {
        const struct {
            const char* name;
            const char* record;  // nullptr: none
            uint64_t partialSize;
            const char* validator;
        } cases[] = {
            {"no record", nullptr, 4000, ""},
            {"a record", "resume 1\nlast-modified x\nlength 4001\n", 4000, "x"},
            {"a record of a body the file is as long as", "resume 1\nlength 4000\n", 0, ""},
            {"another first line", "resume 2\netag \"a\"\n", 0, ""},
            {"an unknown field", "resume 1\netag \"a\"\nsize 4\n", 0, ""},
            {"a field twice", "resume 1\netag \"a\"\netag \"b\"\n", 0, ""},
            {"a length that is no number", "resume 1\nlength 4e3\n", 0, ""},
            {"a last line without its end", "resume 1\netag \"a\"", 0, ""},
            {"a file never continued", "resume 1\netag \"a\"\ncontinue no\n", 0, ""},
            {"continued, said otherwise", "resume 1\ncontinue yes\n", 0, ""},
            {"the largest length", "resume 1\nlength 9223372036854775807\n", 4000, ""},
            {"a length no file can have", "resume 1\nlength 9223372036854775808\n", 0, ""},
            {"too large", nullptr, 0, ""},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(c.name);
            std::ofstream(partial, std::ios::binary) << body.substr(0, 4000);
            std::filesystem::remove(record);
            if (c.record) std::ofstream(record, std::ios::binary) << c.record;
            if (std::string(c.name) == "too large")
                std::ofstream(record, std::ios::binary) << "resume 1\netag " << std::string(http::ResumeRecord::kMaxBytes, 'a') << "\n";
            ResponseDownload d;
            point(d);
            EXPECT_EQ(d.partialSize(), c.partialSize);
            EXPECT_EQ(d.resumeValidator(), c.validator);
            d.dropPartial();
            EXPECT_EQ(d.partialSize(), 0u);
            EXPECT_FALSE(std::filesystem::exists(partial));
            EXPECT_FALSE(std::filesystem::exists(record));
        }
    }
}

TEST(ResponseDownload, ResumeAppendsOrStartsOverAndCancelKeepsThePart) {
    testsupport::TempDir dir("download");
    std::string body = text(10000);
    auto bytes = reinterpret_cast<const uint8_t*>(body.data());
    std::string partial = dir / "partial";
    auto startWithPart = [&](ResponseDownload& d) {
        std::ofstream(partial, std::ios::binary) << body.substr(0, 4000);
        d.setDestinationPath(dir / "whole.txt");
        d.setTemporaryPath(partial);
        d.setAllowsResume(true);
        ASSERT_FALSE(d.refreshPartialSize());
        EXPECT_EQ(d.partialSize(), 4000u);
        d.startAttempt();
        d.beginBody(Destination::File, false);
    };
    // The server honoured the range: the rest is appended.
    {
        ResponseDownload d;
        startWithPart(d);
        uint64_t dropped = 99;
        ASSERT_FALSE(feed(d, bytes + 4000, body.size() - 4000, 1000, RangeAnswer::Honoured, &dropped));
        EXPECT_EQ(dropped, 0u);
        EXPECT_FALSE(d.finishFile(false, false));
        EXPECT_EQ(contents(dir / "whole.txt"), body);
    }
    // The server sent everything again: the file starts over, and the
    // part it had is reported dropped.
    {
        ResponseDownload d;
        startWithPart(d);
        uint64_t dropped = 0;
        ASSERT_FALSE(d.store(bytes, 1000, nullptr, RangeAnswer::Ignored, &dropped));
        EXPECT_EQ(dropped, 4000u);
        EXPECT_EQ(d.partialSize(), 0u);
        ASSERT_FALSE(feed(d, bytes + 1000, body.size() - 1000, 1000, RangeAnswer::Ignored));
        EXPECT_FALSE(d.finishFile(false, false));
        EXPECT_EQ(contents(dir / "whole.txt"), body);
    }
    // A gzip body inflated on arrival, cut and resumed: the part it adds
    // continues the gzip stream, so the whole raw file is inflated at the
    // end; a server that sends it all again starts it over, inflated on
    // arrival as before.
    {
        auto packed = gzip(body);
        for (RangeAnswer range : {RangeAnswer::Honoured, RangeAnswer::Ignored}) {
            SCOPED_TRACE(range == RangeAnswer::Honoured ? "range honoured" : "range ignored");
            const std::string destination = dir / "inflated.txt";
            std::filesystem::remove(destination);
            ResponseDownload first;
            beginFile(first, destination, true, dir / "gzip-partial", true, false);
            const size_t cut = packed->length() / 3;
            ASSERT_FALSE(feed(first, packed->bytes(), cut, 1000));
            EXPECT_FALSE(first.cancel(false));
            ASSERT_EQ(std::filesystem::file_size(dir / "gzip-partial"), cut);

            ResponseDownload d;
            d.setDestinationPath(destination);
            d.setTemporaryPath(dir / "gzip-partial");
            d.setAllowsResume(true);
            d.setWaitsToInflate(false);
            ASSERT_FALSE(d.refreshPartialSize());
            d.startAttempt();
            d.beginBody(Destination::File, true, range);
            EXPECT_EQ(d.inflatesOnArrival(), range == RangeAnswer::Ignored);
            const size_t from = range == RangeAnswer::Honoured ? cut : 0;
            auto error = feed(d, packed->bytes() + from, packed->length() - from, 1000, range);
            ASSERT_FALSE(error) << error->description();
            EXPECT_FALSE(d.endBody(true));
            error = d.finishFile(true, false);
            ASSERT_FALSE(error) << error->description();
            EXPECT_TRUE(contents(destination) == body);
            EXPECT_FALSE(std::filesystem::exists(dir / "gzip-partial"));
        }
    }
    // Cancelled halfway: a resumable part stays for the next attempt, a
    // plain one goes, and a redirect keeps the part without moving it.
    for (bool resumable : {true, false}) {
        ResponseDownload d;
        beginFile(d, dir / "cancelled.txt", false, "", resumable);
        ASSERT_FALSE(feed(d, bytes, 3000, 1000));
        std::string temporary = d.temporaryPath();
        EXPECT_FALSE(d.cancel(false));
        EXPECT_EQ(std::filesystem::exists(temporary), resumable);
        EXPECT_FALSE(std::filesystem::exists(dir / "cancelled.txt"));
        if (resumable) std::filesystem::remove(temporary);
    }
    {
        std::filesystem::remove(dir / "whole.txt");
        ResponseDownload d;
        startWithPart(d);
        EXPECT_FALSE(d.finishFile(false, true));
        EXPECT_EQ(contents(partial), body.substr(0, 4000));
        EXPECT_FALSE(std::filesystem::exists(dir / "whole.txt"));
    }
    // A cancelled body kept in memory is dropped; a complete one is kept.
    for (bool complete : {true, false}) {
        ResponseDownload d;
        d.startAttempt();
        d.beginBody(Destination::Memory, false);
        d.memoryBuffer().appendBytes(bytes, 100);
        EXPECT_FALSE(d.cancel(complete));
        EXPECT_EQ(d.rawData() != nullptr, complete);
    }
}

// Only the start of the resource (a 200, a 206 of the whole body) or the
// part that continues the partial file is kept to be continued later: an
// error answer's body, or a part the caller asked for, goes when the
// attempt is cut, and a process killed while it wrote one leaves a record
// saying it is never continued. A partial file an attempt did not write
// (its answer brought nothing, as a challenge answered with a login)
// stays as it was.
TEST(ResponseDownload, OnlyTheStartOfTheResourceIsKeptToBeContinued) {
    testsupport::TempDir dir("download");
    const std::string body = text(10000);
    const auto bytes = reinterpret_cast<const uint8_t*>(body.data());
    const std::string page = text(600);  // an error page
    const std::string partial = dir / "partial", record = partial + ".resume";
    using Head = ResponseDownload::AnswerHead;
    struct Row {
        const char* name;
        bool withPartial;  // a 4000-byte partial file of `body` (ETag "a") is there
        Head head;
        bool continuesBody;  // the answer brings body[4000...], else the row's bytes from the start
        bool writes;         // the answer brings bytes (else none arrive)
        uint64_t keptAfterCut;  // 0: nothing to continue
    };
    const std::string etag = "\"a\"";
    const Row rows[] = {
        {"a 200", false, {200, std::nullopt, "10000", etag, std::nullopt}, false, true, 500},
        {"a 206 of the whole body", false, {206, "bytes 0-9999/10000", std::nullopt, etag, std::nullopt}, false, true, 500},
        {"the rest of the partial file", true, {206, "bytes 4000-9999/10000", std::nullopt, etag, std::nullopt}, true, true, 4500},
        {"a 200 in place of the rest", true, {200, std::nullopt, "10000", "\"b\"", std::nullopt}, false, true, 500},
        {"a part the caller asked for", false, {206, "bytes 100-9999/10000", std::nullopt, etag, std::nullopt}, false, true, 0},
        {"an error page", false, {503, std::nullopt, "600", std::nullopt, std::nullopt}, false, true, 0},
        {"an error page in place of the rest", true, {404, std::nullopt, "600", etag, std::nullopt}, false, true, 0},
        {"an answer that brought nothing", true, {401, std::nullopt, "600", std::nullopt, std::nullopt}, false, false, 4000},
    };
    for (const Row& row : rows) {
        for (bool killed : {false, true}) {
            SCOPED_TRACE(std::string(row.name) + (killed ? ", the process killed" : ", the attempt cut"));
            emptyFolder(dir.path());
            if (row.withPartial) {
                std::ofstream(partial, std::ios::binary) << body.substr(0, 4000);
                std::ofstream(record, std::ios::binary) << "resume 1\netag \"a\"\nlength 10000\n";
            }
            {
                ResponseDownload d;
                d.setDestinationPath(dir / "whole.txt");
                d.setTemporaryPath(partial);
                d.setAllowsResume(true);
                ASSERT_FALSE(d.refreshPartialSize());
                d.startAttempt();
                const RangeAnswer range = d.answerHead(row.withPartial || row.head.status == 206, row.head);
                d.beginBody(Destination::File, false, range);
                if (row.writes) {
                    const uint8_t* from = row.continuesBody ? bytes + 4000
                                          : row.head.status >= 400
                                              ? reinterpret_cast<const uint8_t*>(page.data())
                                              : bytes;
                    ASSERT_FALSE(feed(d, from, 500, 250, range));
                }
                // A kill leaves the files as they are; the destructor only
                // closes them.
                if (!killed) {
                    EXPECT_FALSE(d.cancel(false));
                }
            }
            if (!killed) {
                EXPECT_EQ(std::filesystem::exists(partial), row.keptAfterCut > 0);
                if (!row.keptAfterCut) {
                    EXPECT_FALSE(std::filesystem::exists(record));
                }
            }
            ResponseDownload next;
            next.setDestinationPath(dir / "whole.txt");
            next.setTemporaryPath(partial);
            next.setAllowsResume(true);
            ASSERT_FALSE(next.refreshPartialSize());
            EXPECT_EQ(next.partialSize(), row.keptAfterCut);
            EXPECT_FALSE(std::filesystem::exists(dir / "whole.txt"));
        }
    }
}

// What a finished attempt lands: only a body it brought whole. A partial
// file from before that the answer neither continued nor wrote (a 200 or
// a 416 with no body) goes instead of landing; a part shorter than its
// range (ended by the connection's close) fails with code 1.
TEST(ResponseDownload, AFinishedAttemptLandsOnlyABodyItBroughtWhole) {
    testsupport::TempDir dir("download");
    const std::string body = text(10000);
    const auto bytes = reinterpret_cast<const uint8_t*>(body.data());
    const std::string partial = dir / "partial", record = partial + ".resume";
    using Head = ResponseDownload::AnswerHead;
    struct Row {
        const char* name;
        Head head;
        size_t from, length;  // what of `body` arrives
        bool lands;           // else the destination stays as it was
        long code;            // the error's code (0: none)
    };
    const Row rows[] = {
        {"the whole rest", {206, "bytes 4000-9999/10000", std::nullopt, "\"a\"", std::nullopt}, 4000, 6000, true, 0},
        {"a rest cut short by the close", {206, "bytes 4000-9999/10000", std::nullopt, "\"a\"", std::nullopt}, 4000, 5999,
         false, http::kConnectionFailureErrorType},
        {"an empty 200", {200, std::nullopt, "0", std::nullopt, std::nullopt}, 0, 0, false, 0},
        {"a whole 200", {200, std::nullopt, "10000", std::nullopt, std::nullopt}, 0, 10000, true, 0},
        {"a whole 200 with a stray Content-Range", {200, "bytes 0-99/10000", "10000", std::nullopt, std::nullopt}, 0,
         10000, true, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        emptyFolder(dir.path());
        std::ofstream(dir / "whole.txt") << "the older file";
        std::ofstream(partial, std::ios::binary) << body.substr(0, 4000);
        std::ofstream(record, std::ios::binary) << "resume 1\netag \"a\"\nlength 10000\n";
        ResponseDownload d;
        d.setDestinationPath(dir / "whole.txt");
        d.setTemporaryPath(partial);
        d.setAllowsResume(true);
        ASSERT_FALSE(d.refreshPartialSize());
        d.startAttempt();
        const RangeAnswer range = d.answerHead(true, row.head);
        d.beginBody(Destination::File, false, range);
        if (row.length) {
            ASSERT_FALSE(feed(d, bytes + row.from, row.length, 1000, range));
        }
        EXPECT_FALSE(d.endBody(false));
        auto error = d.finishFile(false, false);
        EXPECT_EQ(error ? error->code() : 0, row.code) << (error ? error->description() : "");
        EXPECT_EQ(contents(dir / "whole.txt"), row.lands ? body : "the older file");
        if (row.code) {
            // Cut short, the start stays to be continued.
            EXPECT_EQ(std::filesystem::file_size(partial), 9999u);
        } else {
            EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"whole.txt"});
        }
    }
    // The smallest partial file, one byte, is continued as any other: cut
    // again, its record stays the first answer's; then it lands whole.
    {
        emptyFolder(dir.path());
        std::ofstream(partial, std::ios::binary) << body.substr(0, 1);
        const std::string first = "resume 1\netag \"a\"\nlength 10000\n";
        std::ofstream(record, std::ios::binary) << first;
        auto resume = [&](ResponseDownload& d, uint64_t from, size_t length, bool lands) {
            d.setDestinationPath(dir / "whole.txt");
            d.setTemporaryPath(partial);
            d.setAllowsResume(true);
            ASSERT_FALSE(d.refreshPartialSize());
            ASSERT_EQ(d.partialSize(), from);
            d.startAttempt();
            const std::string range = "bytes " + std::to_string(from) + "-9999/10000";
            ASSERT_EQ(d.answerHead(true, {206, range, std::nullopt, "\"a\"", "Wed, 02 Dec 2026 10:00:00 GMT"}),
                      RangeAnswer::Honoured);
            d.beginBody(Destination::File, false, RangeAnswer::Honoured);
            uint64_t dropped = 99;
            ASSERT_FALSE(feed(d, bytes + from, length, 1000, RangeAnswer::Honoured, &dropped));
            EXPECT_EQ(dropped, 0u);
            if (lands) EXPECT_FALSE(d.finishFile(false, false));
            else EXPECT_FALSE(d.cancel(false));
        };
        ResponseDownload cut;
        resume(cut, 1, 4999, false);
        EXPECT_EQ(contents(record), first);
        ResponseDownload rest;
        resume(rest, 5000, 5000, true);
        EXPECT_TRUE(contents(dir / "whole.txt") == body);
    }
}

// A record outlives its partial file, never the other way round: landed,
// dropped, abandoned or cut, the partial file goes first, so that a
// process killed between the two leaves no file that a later attempt
// would continue with the range checks alone. Seen in the order the file
// system reports the changes.
TEST(ResponseDownload, APartialFileGoesBeforeItsRecord) {
    testsupport::TempDir dir("download");
    const std::string body = text(10000);
    const auto bytes = reinterpret_cast<const uint8_t*>(body.data());
    const std::string partial = dir / "partial", record = partial + ".resume";
    using Head = ResponseDownload::AnswerHead;
    const Head rest{206, "bytes 4000-9999/10000", std::nullopt, "\"a\"", std::nullopt};
    const Head errorPage{503, std::nullopt, "600", std::nullopt, std::nullopt};
    const std::pair<const char*, std::function<void(ResponseDownload&)>> rows[] = {
        {"landed", [&](ResponseDownload& d) {
             ASSERT_EQ(d.answerHead(true, rest), RangeAnswer::Honoured);
             d.beginBody(Destination::File, false, RangeAnswer::Honoured);
             ASSERT_FALSE(feed(d, bytes + 4000, 6000, 1000, RangeAnswer::Honoured));
             EXPECT_FALSE(d.finishFile(false, false));
             EXPECT_EQ(contents(dir / "whole.txt"), body);
         }},
        {"dropped", [&](ResponseDownload& d) { d.dropPartial(); }},
        {"abandoned", [&](ResponseDownload& d) { d.abandonFiles(); }},
        {"an error page cut", [&](ResponseDownload& d) {
             const RangeAnswer range = d.answerHead(true, errorPage);
             d.beginBody(Destination::File, false, range);
             ASSERT_FALSE(feed(d, bytes, 300, 100, range));
             EXPECT_FALSE(d.cancel(false));
         }},
    };
    for (const auto& [name, act] : rows) {
        SCOPED_TRACE(name);
        emptyFolder(dir.path());
        std::ofstream(partial, std::ios::binary) << body.substr(0, 4000);
        std::ofstream(record, std::ios::binary) << "resume 1\netag \"a\"\nlength 10000\n";
        ResponseDownload d;
        d.setDestinationPath(dir / "whole.txt");
        d.setTemporaryPath(partial);
        d.setAllowsResume(true);
        ASSERT_FALSE(d.refreshPartialSize());
        d.startAttempt();
        const int watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        ASSERT_GE(watch, 0);
        ASSERT_GE(::inotify_add_watch(watch, dir.path().c_str(), IN_DELETE | IN_MOVED_FROM), 0);
        act(d);
        // The names that went, in order.
        std::vector<std::string> gone;
        alignas(inotify_event) char buffer[65536];
        for (ssize_t n; (n = ::read(watch, buffer, sizeof buffer)) > 0;)
            for (char* at = buffer; at < buffer + n;) {
                auto* event = reinterpret_cast<inotify_event*>(at);
                if (event->len) gone.emplace_back(event->name);
                at += sizeof(inotify_event) + event->len;
            }
        ::close(watch);
        const auto fileAt = std::find(gone.begin(), gone.end(), "partial");
        const auto recordAt = std::find(gone.begin(), gone.end(), "partial.resume");
        ASSERT_NE(fileAt, gone.end());
        ASSERT_NE(recordAt, gone.end());
        EXPECT_LT(fileAt - gone.begin(), recordAt - gone.begin());
        EXPECT_FALSE(std::filesystem::exists(partial));
        EXPECT_FALSE(std::filesystem::exists(record));
    }
}

// The lengths an answer gives are taken only within a signed 64-bit size,
// their sum with the kept part too.
TEST(ResponseDownload, LengthsNoFileCanHoldAreRefused) {
    testsupport::TempDir dir("download");
    std::ofstream(dir / "partial", std::ios::binary) << std::string(4000, 'x');
    ResponseDownload resumed;
    resumed.setDestinationPath(dir / "whole.txt");
    resumed.setTemporaryPath(dir / "partial");
    resumed.setAllowsResume(true);
    ASSERT_FALSE(resumed.refreshPartialSize());
    ASSERT_EQ(resumed.partialSize(), 4000u);
    ResponseDownload fresh;
    using Head = ResponseDownload::AnswerHead;
    struct Row {
        const char* name;
        Head head;
        bool freshTakes, resumedTakes;
    };
    const Row rows[] = {
        {"the largest length", {200, std::nullopt, "9223372036854775807", std::nullopt, std::nullopt}, true, false},
        {"the largest length less the part kept", {200, std::nullopt, "9223372036854771807", std::nullopt, std::nullopt},
         true, true},
        {"one more", {200, std::nullopt, "9223372036854771808", std::nullopt, std::nullopt}, true, false},
        {"one past the largest", {200, std::nullopt, "9223372036854775808", std::nullopt, std::nullopt}, false, false},
        {"one past, first of a list", {200, std::nullopt, "9223372036854775808, 9223372036854775808", std::nullopt,
                                       std::nullopt}, false, false},
        {"the largest 19 digits", {200, std::nullopt, "9999999999999999999", std::nullopt, std::nullopt}, false, false},
        {"no number", {200, std::nullopt, "lots", std::nullopt, std::nullopt}, true, true},
        {"a range ending at the largest",
         {206, "bytes 4000-9223372036854775806/9223372036854775807", std::nullopt, std::nullopt, std::nullopt}, true, true},
        {"a total one past", {206, "bytes 4000-9223372036854775806/9223372036854775808", std::nullopt, std::nullopt,
                              std::nullopt}, false, false},
        {"a last one past", {206, "bytes 4000-9223372036854775808/*", std::nullopt, std::nullopt, std::nullopt}, false,
         false},
        {"a first one past", {206, "bytes 9223372036854775808-9223372036854775809/*", std::nullopt, std::nullopt,
                              std::nullopt}, false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(fresh.whyLengthsCannotBeTaken(row.head).empty(), row.freshTakes) << fresh.whyLengthsCannotBeTaken(row.head);
        EXPECT_EQ(resumed.whyLengthsCannotBeTaken(row.head).empty(), row.resumedTakes)
            << resumed.whyLengthsCannotBeTaken(row.head);
    }
    // A part whose numbers are taken, a resume continues.
    resumed.startAttempt();
    EXPECT_EQ(resumed.answerHead(true, rows[7].head), RangeAnswer::Honoured);
}

}  // namespace
