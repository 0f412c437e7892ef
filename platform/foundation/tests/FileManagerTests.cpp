#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "platform/foundation/FileIO.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Foundation.h"
#include "testsupport/TempDir.h"

using namespace ns;
using testsupport::TempDir;

TEST(FileManager, CreatesListsInspectsAndRemoves) {
    TempDir dir;
    auto* fm = FileManager::defaultManager();
    Ref<Error> err;
    EXPECT_FALSE(fm->createDirectoryAtPath(dir / "a/b/c", false, &err));
    EXPECT_EQ(err->code(), ENOENT);
    ASSERT_TRUE(fm->createDirectoryAtPath(dir / "a/b/c", true));
    EXPECT_TRUE(fm->createDirectoryAtPath(dir / "a/b/c", true));  // already there
    err = nullptr;
    EXPECT_FALSE(fm->createDirectoryAtPath(dir / "a/b/c", false, &err));
    EXPECT_EQ(err->code(), EEXIST);

    ASSERT_TRUE(fm->createFileAtPath(dir / "a/z.txt", "hello"));
    ASSERT_TRUE(fm->createFileAtPath(dir / "a/m.txt", ""));
    bool isDir = true;
    EXPECT_TRUE(fm->fileExistsAtPath(dir / "a/z.txt", &isDir));
    EXPECT_FALSE(isDir);
    EXPECT_TRUE(fm->fileExistsAtPath(dir / "a/b", &isDir));
    EXPECT_TRUE(isDir);
    EXPECT_FALSE(fm->fileExistsAtPath(dir / "nope"));
    EXPECT_FALSE(fm->createDirectoryAtPath(dir / "a/z.txt/x", true));

    auto names = fm->contentsOfDirectoryAtPath(dir / "a");
    ASSERT_TRUE(names);
    EXPECT_TRUE(names->isEqual(*Array::make({str("b"), str("m.txt"), str("z.txt")})));
    EXPECT_FALSE(fm->contentsOfDirectoryAtPath(dir / "missing", &err));

    auto attrs = fm->attributesOfItemAtPath(dir / "a/z.txt");
    ASSERT_TRUE(attrs);
    ASSERT_TRUE(attrs->numberForKey(kFileSize));
    EXPECT_EQ(attrs->numberForKey(kFileSize)->unsignedLongLongValue(), 5u);
    EXPECT_EQ(describe(attrs->objectForKey(kFileType)), kFileTypeRegular);
    auto* modified = as<Date>(attrs->objectForKey(kFileModificationDate));
    ASSERT_TRUE(modified);
    EXPECT_LT(std::abs(modified->timeIntervalSinceDate(*Date::date())), 3600.0);
    EXPECT_FALSE(fm->attributesOfItemAtPath(dir / "nope", &err));
    EXPECT_EQ(err->code(), ENOENT);

    ASSERT_TRUE(fm->removeItemAtPath(dir / "a"));
    EXPECT_FALSE(fm->fileExistsAtPath(dir / "a"));
    err = nullptr;
    EXPECT_FALSE(fm->removeItemAtPath(dir / "a", &err));
    EXPECT_EQ(err->code(), ENOENT);
}

TEST(FileManager, MoveAndCopyRefuseToReplace) {
    TempDir dir;
    auto* fm = FileManager::defaultManager();
    ASSERT_TRUE(fm->createDirectoryAtPath(dir / "tree/sub", true));
    ASSERT_TRUE(fm->createFileAtPath(dir / "tree/sub/f", "data"));
    std::filesystem::create_symlink("sub/f", dir / "tree/link");

    ASSERT_TRUE(fm->copyItemAtPath(dir / "tree", dir / "copy"));
    EXPECT_EQ(fm->contentsAtPath(dir / "copy/sub/f").value_or(""), "data");
    EXPECT_EQ(fm->contentsAtPath(dir / "copy/link").value_or(""), "data");
    Ref<Error> err;
    EXPECT_FALSE(fm->copyItemAtPath(dir / "tree", dir / "copy", &err));
    EXPECT_EQ(err->code(), EEXIST);

    ASSERT_TRUE(fm->createFileAtPath(dir / "other", "keep"));
    err = nullptr;
    EXPECT_FALSE(fm->moveItemAtPath(dir / "tree/sub/f", dir / "other", &err));
    EXPECT_EQ(err->code(), EEXIST);
    EXPECT_EQ(fm->contentsAtPath(dir / "other").value_or(""), "keep");
    ASSERT_TRUE(fm->moveItemAtPath(dir / "tree/sub/f", dir / "moved"));
    EXPECT_FALSE(fm->fileExistsAtPath(dir / "tree/sub/f"));
    EXPECT_EQ(fm->contentsAtPath(dir / "moved").value_or(""), "data");
    EXPECT_FALSE(fm->moveItemAtPath(dir / "gone", dir / "x", &err));
    // No temporary files left beside the copies.
    EXPECT_EQ(fm->contentsOfDirectoryAtPath(dir / "copy/sub")->count(), 1u);
}
