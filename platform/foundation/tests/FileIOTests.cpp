#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <future>

#include "platform/foundation/FileIO.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/String.h"
#include "testsupport/TempDir.h"

using namespace ns;
using testsupport::TempDir;

namespace {
size_t entriesIn(const std::string& dir) {
    size_t n = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir)) ++n;
    return n;
}
}  // namespace

TEST(FileIO, WriteThenReadRoundTripsBytesAndLeavesNoTemporaryFile) {
    TempDir dir;
    std::string bytes("a\0b\xff\n", 5);
    Ref<Error> err;
    ASSERT_TRUE(writeFileAtomically(dir / "f.bin", bytes, &err));
    EXPECT_FALSE(err);
    auto back = readFile(dir / "f.bin");
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, bytes);
    ASSERT_TRUE(writeFileAtomically(dir / "f.bin", "second"));
    EXPECT_EQ(*readFile(dir / "f.bin"), "second");
    EXPECT_EQ(entriesIn(dir.path()), 1u);
}

TEST(FileIO, WriteAppliesMode) {
    TempDir dir;
    mode_t old = ::umask(022);
    ASSERT_TRUE(writeFileAtomically(dir / "secret", "x", nullptr, 0600));
    ::umask(old);
    struct stat st{};
    ASSERT_EQ(::stat((dir / "secret").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(FileIO, FailedWriteReportsErrorAndKeepsOldFile) {
    TempDir dir;
    // Writing into a folder that does not exist.
    Ref<Error> err;
    EXPECT_FALSE(writeFileAtomically(dir / "missing/f", "x", &err));
    ASSERT_TRUE(err);
    EXPECT_EQ(err->domain(), kFileErrorDomain);
    EXPECT_EQ(err->code(), ENOENT);
    EXPECT_NE(err->localizedDescription().find(dir / "missing/f"), std::string::npos);

    // The target is a non-empty folder: rename fails, nothing is lost, no
    // temporary file is left behind.
    std::filesystem::create_directory(dir / "target");
    ASSERT_TRUE(writeFileAtomically(dir / "target/keep", "old"));
    err = nullptr;
    EXPECT_FALSE(writeFileAtomically(dir / "target", "new", &err));
    ASSERT_TRUE(err);
    EXPECT_EQ(*readFile(dir / "target/keep"), "old");
    EXPECT_EQ(entriesIn(dir.path()), 1u);

    if (::geteuid() != 0) {
        // A read-only folder: the old file survives.
        std::filesystem::create_directory(dir / "ro");
        ASSERT_TRUE(writeFileAtomically(dir / "ro/f", "old"));
        ::chmod((dir / "ro").c_str(), 0500);
        EXPECT_FALSE(writeFileAtomically(dir / "ro/f", "new"));
        ::chmod((dir / "ro").c_str(), 0700);
        EXPECT_EQ(*readFile(dir / "ro/f"), "old");
    }
}

TEST(FileIO, ReadReportsMissingFolderAndOversizedFiles) {
    TempDir dir;
    Ref<Error> err;
    EXPECT_FALSE(readFile(dir / "nope", &err));
    ASSERT_TRUE(err);
    EXPECT_EQ(err->code(), ENOENT);

    err = nullptr;
    EXPECT_FALSE(readFile(dir.path(), &err));
    ASSERT_TRUE(err);
    EXPECT_EQ(err->code(), EISDIR);

    ASSERT_TRUE(writeFileAtomically(dir / "big", std::string(1000, 'x')));
    err = nullptr;
    EXPECT_FALSE(readFile(dir / "big", &err, 999));
    ASSERT_TRUE(err);
    EXPECT_EQ(err->code(), EFBIG);
    EXPECT_TRUE(readFile(dir / "big", nullptr, 1000));

    ASSERT_TRUE(writeFileAtomically(dir / "empty", ""));
    auto empty = readFile(dir / "empty");
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->empty());
}

TEST(FileIO, WhatIsNotARegularFileIsRefusedWithoutWaitingForIt) {
    TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
    std::filesystem::create_symlink(dir / "pipe", dir / "link-to-pipe");
    int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::string sockPath = dir / "socket";
    ASSERT_LT(sockPath.size(), sizeof addr.sun_path);
    std::memcpy(addr.sun_path, sockPath.c_str(), sockPath.size() + 1);
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    struct Row {
        const char* name;
        std::string path;
        long code;
    } rows[] = {
        {"named pipe", dir / "pipe", EINVAL},
        {"link to a named pipe", dir / "link-to-pipe", EINVAL},
        {"socket", sockPath, EINVAL},
        {"character device", "/dev/null", EINVAL},
        {"folder", dir.path(), EISDIR},
    };
    for (const Row& row : rows) {
        auto read = std::async(std::launch::async, [&] {
            Ref<Error> err;
            bool refused = !readFile(row.path, &err);
            return std::make_pair(refused, err ? err->code() : 0L);
        });
        if (read.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
            // A reader stuck opening the pipe is let go by a writer.
            int w = ::open(row.path.c_str(), O_WRONLY | O_NONBLOCK);
            if (w >= 0) ::close(w);
            ADD_FAILURE() << row.name << ": the read waited";
        }
        auto [refused, code] = read.get();
        EXPECT_TRUE(refused) << row.name;
        EXPECT_EQ(code, row.code) << row.name;
    }
    ::close(sock);
    // The pipe is still there, untouched, for whoever owns it.
    struct stat st{};
    ASSERT_EQ(::lstat((dir / "pipe").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST(Paths, HomeFoldersAreCreatedOnDemand) {
    TempDir dir;
    Paths::setHomeDirectory(dir / "home/");
    EXPECT_EQ(Paths::homeDirectory(), dir / "home");
    // Asking for the home folder makes it, private to its owner.
    ASSERT_TRUE(std::filesystem::is_directory(dir / "home"));
    EXPECT_EQ(std::filesystem::status(dir / "home").permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_all);
    EXPECT_EQ(Paths::documentsDirectory(), dir / "home/Documents");
    EXPECT_EQ(Paths::cachesDirectory(), dir / "home/Library/Caches");
    EXPECT_EQ(Paths::preferencesDirectory(), dir / "home/Library/Preferences");
    EXPECT_TRUE(std::filesystem::is_directory(dir / "home/Documents"));
    EXPECT_TRUE(std::filesystem::is_directory(dir / "home/Library/Caches"));
    Paths::setHomeDirectory("");

    ::setenv("DECK_HOME", (dir / "envhome").c_str(), 1);
    EXPECT_EQ(Paths::homeDirectory(), dir / "envhome");
    ::unsetenv("DECK_HOME");
    EXPECT_EQ(Paths::homeDirectory(), "./home");
    std::error_code ec;
    std::filesystem::remove("./home", ec);  // only when empty, as this test left it
}

TEST(Paths, BundleResourcePathDefaultsToRepositoryAndCanBeOverridden) {
    ::unsetenv("DECK_RESOURCES");
    EXPECT_EQ(Paths::bundleResourcePath(), std::string(DECK_SOURCE_DIR) + "/resources");
    ::setenv("DECK_RESOURCES", "/tmp/res/", 1);
    EXPECT_EQ(Paths::pathForResource("Info", "plist"), "/tmp/res/Info.plist");
    ::unsetenv("DECK_RESOURCES");
    Paths::setBundleResourcePath("/elsewhere");
    EXPECT_EQ(Paths::pathForResource("html_iphone/page.html", ""), "/elsewhere/html_iphone/page.html");
    Paths::setBundleResourcePath("");
    EXPECT_EQ(Paths::join("a/", "/b"), "a/b");
}
