// The body a request sends, without sockets: built in memory or in real
// files, compressed, measured, read back through its stream.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "net/http/DataCompressor.h"
#include "net/http/RequestBody.h"
#include "net/http/RequestErrors.h"
#include "testsupport/TempDir.h"

namespace {

using http::RequestBody;

std::string readAll(RequestBody& body) {
    auto stream = body.openStream(nullptr);
    if (!stream || !stream->open()) return "(no stream)";
    std::string out;
    uint8_t buf[4096];
    for (long n; (n = stream->read(buf, sizeof buf)) > 0;) out.append(reinterpret_cast<char*>(buf), size_t(n));
    body.closeStream();
    return out;
}

std::string inflated(const std::string& packed) {
    ns::Ref<ns::Error> error;
    auto data = ns::Data::make(packed);
    auto out = http::DataDecompressor::uncompressData(data.get(), &error);
    return out ? std::string(out->view()) : "(not gzip)";
}

TEST(RequestBody, InMemoryMeasuredCompressedAndDropped) {
    RequestBody body;
    EXPECT_FALSE(body.hasContent());
    EXPECT_FALSE(body.append(*ns::Data::make("name=card&")));
    EXPECT_FALSE(body.append(*ns::Data::make("deck=interview")));
    EXPECT_TRUE(body.hasContent());
    ASSERT_FALSE(body.build());
    EXPECT_EQ(body.length(), 24u);
    EXPECT_EQ(readAll(body), "name=card&deck=interview");
    // A second attempt reads the whole body again.
    EXPECT_EQ(readAll(body), "name=card&deck=interview");

    RequestBody packed;
    packed.setCompresses(true);
    std::string text(100000, 'x');
    ASSERT_FALSE(packed.append(*ns::Data::make(text)));
    ASSERT_FALSE(packed.build());
    ASSERT_TRUE(packed.compressedData());
    EXPECT_EQ(packed.length(), packed.compressedData()->length());
    EXPECT_LT(packed.length(), text.size());
    EXPECT_EQ(inflated(readAll(packed)), text);

    // A redirect to a GET sends nothing.
    body.drop();
    EXPECT_FALSE(body.hasContent());
    EXPECT_EQ(body.length(), 0u);
    EXPECT_FALSE(body.openStream(nullptr));
}

TEST(RequestBody, StreamedFromDiskAndItsTemporaryFiles) {
    testsupport::TempDir dir("body");
    std::ofstream(dir / "part.txt") << "from a file";
    std::string made, compressed;
    {
        RequestBody body;
        body.setStreamsFromDisk(true);
        body.setCompresses(true);
        ASSERT_FALSE(body.append(*ns::Data::make("first, ")));
        ASSERT_FALSE(body.appendFile(dir / "part.txt"));
        made = body.filePath();
        EXPECT_TRUE(body.createdTemporaryFile());
        ASSERT_FALSE(body.build());
        compressed = body.compressedFilePath();
        ASSERT_TRUE(std::filesystem::exists(compressed));
        EXPECT_EQ(body.length(), std::filesystem::file_size(compressed));
        EXPECT_EQ(inflated(readAll(body)), "first, from a file");

        // A copy sends the same file but never removes it.
        {
            RequestBody copy;
            body.copyTo(copy);
            EXPECT_EQ(copy.filePath(), made);
            EXPECT_EQ(copy.length(), body.length());
            EXPECT_TRUE(copy.isBuilt() == body.isBuilt());
        }
        EXPECT_TRUE(std::filesystem::exists(made));
        ASSERT_FALSE(body.removeTemporaryFiles());
        EXPECT_FALSE(std::filesystem::exists(made));
        EXPECT_FALSE(std::filesystem::exists(compressed));
    }
    // Going away removes what the body made, never the caller's own file.
    {
        RequestBody body;
        body.setFilePath(dir / "part.txt");
        body.setCompresses(true);
        ASSERT_FALSE(body.build());
        compressed = body.compressedFilePath();
        EXPECT_EQ(inflated(readAll(body)), "from a file");
    }
    EXPECT_TRUE(std::filesystem::exists(dir / "part.txt"));
    EXPECT_FALSE(std::filesystem::exists(compressed));
    // A file that cannot be read is a file error, and so is measuring one
    // that is gone.
    RequestBody body;
    auto e = body.appendFile(dir / "missing.txt");
    ASSERT_TRUE(e);
    EXPECT_EQ(e->code(), http::kFileManagementError);
    body.setFilePath(dir / "gone.txt");
    e = body.build();
    ASSERT_TRUE(e);
    EXPECT_EQ(e->code(), http::kFileManagementError);
}

}  // namespace
