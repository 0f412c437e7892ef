#include "net/http/DataCompressor.h"
#include "testsupport/TempDir.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace {

using http::DataCompressor;
using http::DataDecompressor;

std::string randomText(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, ' ');
    // Words from a small alphabet compress, but not trivially.
    for (auto& c : s) c = "abcdefgh ijk\n"[rng() % 13];
    return s;
}

std::string zlibInflate(const std::string& in) {
    z_stream z{};
    EXPECT_EQ(inflateInit2(&z, 47), Z_OK);
    std::string out(in.size() * 8 + 1024, '\0');
    z.next_in = (Bytef*)in.data();
    z.avail_in = (uInt)in.size();
    z.next_out = (Bytef*)out.data();
    z.avail_out = (uInt)out.size();
    int st = inflate(&z, Z_FINISH);
    EXPECT_EQ(st, Z_STREAM_END);
    out.resize(z.total_out);
    inflateEnd(&z);
    return out;
}

std::string zlibDeflate(const std::string& in, int windowBits) {
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, in.size()), '\0');
    z.next_in = (Bytef*)in.data();
    z.avail_in = (uInt)in.size();
    z.next_out = (Bytef*)out.data();
    z.avail_out = (uInt)out.size();
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

std::string slurp(const std::string& p) {
    std::ifstream f(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), {}};
}

TEST(DataCompressor, OneFinishedBlockIsAGzipMemberThatZlibReads) {
    std::string text = randomText(100, 1);
    auto c = DataCompressor::compressor();
    ASSERT_TRUE(c && c->streamReady());
    ns::Ref<ns::Error> err;
    auto out = c->compressBytes(text.data(), text.size(), &err, true);
    ASSERT_TRUE(out);
    EXPECT_FALSE(err);
    ASSERT_GT(out->length(), 2u);
    EXPECT_EQ(out->bytes()[0], 0x1F);
    EXPECT_EQ(out->bytes()[1], 0x8B);
    EXPECT_EQ(zlibInflate(std::string(out->view())), text);
    EXPECT_FALSE(c->closeStream());
    EXPECT_FALSE(c->streamReady());
}

TEST(DataCompressor, EmptyInputGivesNilWithoutError) {
    ns::Ref<ns::Error> err;
    EXPECT_FALSE(DataCompressor::compressor()->compressBytes("", 0, &err, true));
    EXPECT_FALSE(err);
    EXPECT_FALSE(DataDecompressor::decompressor()->uncompressBytes("", 0, &err));
    EXPECT_FALSE(err);
}

TEST(DataCompressor, LargeIncompressibleBlockGrowsItsBuffer) {
    std::mt19937 rng(7);
    std::string bytes(200000, '\0');
    for (auto& b : bytes) b = static_cast<char>(rng());
    ns::Ref<ns::Error> err;
    auto z = DataCompressor::compressData(ns::Data::make(bytes).get(), &err);
    ASSERT_TRUE(z && !err);
    auto back = DataDecompressor::uncompressData(z.get(), &err);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->view(), bytes);
}

TEST(DataDecompressor, ReadsZlibAndGzipHeadersAlike) {
    std::string text = randomText(5000, 2);
    for (int bits : {15, 31}) {
        ns::Ref<ns::Error> err;
        auto out = DataDecompressor::uncompressData(ns::Data::make(zlibDeflate(text, bits)).get(), &err);
        ASSERT_TRUE(out) << bits;
        EXPECT_EQ(out->view(), text);
    }
}

TEST(DataDecompressor, PiecewiseInflationEqualsWhole) {
    std::string text = randomText(50000, 3);
    std::string z = zlibDeflate(text, 31);
    auto d = DataDecompressor::decompressor();
    std::string got;
    size_t cut1 = z.size() / 3, cut2 = 2 * z.size() / 3;
    for (auto [a, b] : {std::pair<size_t, size_t>{0, cut1}, {cut1, cut2}, {cut2, z.size()}}) {
        ns::Ref<ns::Error> err;
        auto piece = d->uncompressBytes(z.data() + a, b - a, &err);
        ASSERT_TRUE(piece);
        got += piece->view();
    }
    EXPECT_TRUE(d->reachedEnd());
    EXPECT_EQ(got, text);
}

TEST(DataDecompressor, GarbageIsADataError) {
    ns::Ref<ns::Error> err;
    EXPECT_FALSE(DataDecompressor::uncompressData(ns::Data::make("this is not compressed at all").get(), &err));
    ASSERT_TRUE(err);
    EXPECT_EQ(err->domain(), "HTTPRequestErrorDomain");
    EXPECT_EQ(err->code(), 11);
    EXPECT_EQ(err->localizedDescription(), "Decompression of data failed with code -3");
}

TEST(DataDecompressor, OutputCapStopsABomb) {
    std::string zeros(10 << 20, '\0');
    std::string z = zlibDeflate(zeros, 31);
    auto d = DataDecompressor::decompressor();
    d->setMaxOutputLength(1 << 20);
    ns::Ref<ns::Error> err;
    EXPECT_FALSE(d->uncompressBytes(z.data(), z.size(), &err));
    ASSERT_TRUE(err);
    // An error of its own, not a zlib status.
    EXPECT_EQ(err->code(), 12);
    EXPECT_EQ(err->localizedDescription(), "The response body inflates to more than the limit of 1048576 bytes");
    // So does the whole-data form.
    err = nullptr;
    EXPECT_FALSE(DataDecompressor::uncompressData(ns::Data::make(z).get(), &err, 1 << 20));
    ASSERT_TRUE(err);
    EXPECT_EQ(err->code(), 12);
    EXPECT_TRUE(DataDecompressor::uncompressData(ns::Data::make(z).get(), &err, 10 << 20));
}

TEST(DataCompressorFiles, RoundTripAcrossBlockSizes) {
    testsupport::TempDir tmp;
    // 300000 is one full block and a short finishing block; 262144 ends on
    // a block boundary; 0 is an empty file. All must give valid gzip.
    for (size_t size : {size_t(300000), size_t(262144), size_t(262145), size_t(0), size_t(5)}) {
        std::string text = randomText(size, static_cast<unsigned>(size));
        { std::ofstream(tmp / "src", std::ios::binary) << text; }
        ns::Ref<ns::Error> err;
        ASSERT_TRUE(DataCompressor::compressDataFromFile(tmp / "src", tmp / "src.gz", &err)) << size;
        std::string gz = slurp(tmp / "src.gz");
        EXPECT_EQ(zlibInflate(gz), text) << size;
        ASSERT_TRUE(DataDecompressor::uncompressDataFromFile(tmp / "src.gz", tmp / "back", &err)) << size;
        EXPECT_EQ(slurp(tmp / "back"), text) << size;
    }
    // With standard input closed a file opened may get descriptor 0; it is
    // closed all the same, also when the work fails.
    const int input = ::dup(0);
    ASSERT_GE(input, 0);
    ::close(0);
    ns::Ref<ns::Error> err;
    EXPECT_FALSE(DataCompressor::compressDataFromFile(tmp / "missing", tmp / "again.gz", &err));
    const bool leftOpen = ::fcntl(0, F_GETFD) != -1;
    ::dup2(input, 0);
    ::close(input);
    EXPECT_FALSE(leftOpen);
}

// The files the helpers make hold request and response bodies: they are
// the user's alone (0600) whatever the umask allows.
TEST(DataCompressorFiles, FilesTheyMakeAreTheUsersAlone) {
    testsupport::TempDir tmp;
    { std::ofstream(tmp / "src", std::ios::binary) << randomText(1000, 3); }
    for (mode_t mask : {mode_t(0), mode_t(022), mode_t(077)}) {
        const mode_t before = ::umask(mask);
        ns::Ref<ns::Error> err;
        const std::string gz = tmp / ("m" + std::to_string(mask) + ".gz"), back = tmp / ("m" + std::to_string(mask));
        const bool compressed = DataCompressor::compressDataFromFile(tmp / "src", gz, &err);
        const bool inflated = compressed && DataDecompressor::uncompressDataFromFile(gz, back, &err);
        ::umask(before);
        ASSERT_TRUE(compressed && inflated) << mask;
        for (const std::string& made : {gz, back}) {
            struct stat st {};
            ASSERT_EQ(::stat(made.c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 07777, 0600u) << made << " under umask " << mask;
        }
    }
    // A file already there is emptied and written, and keeps its own mode.
    { std::ofstream(tmp / "there.gz") << "old"; }
    ASSERT_EQ(::chmod((tmp / "there.gz").c_str(), 0640), 0);
    ns::Ref<ns::Error> err;
    ASSERT_TRUE(DataCompressor::compressDataFromFile(tmp / "src", tmp / "there.gz", &err));
    struct stat st {};
    ASSERT_EQ(::stat((tmp / "there.gz").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(zlibInflate(slurp(tmp / "there.gz")), slurp(tmp / "src"));
}

TEST(DataCompressorFiles, MissingSourceLeavesEmptyDestination) {
    testsupport::TempDir tmp;
    ns::Ref<ns::Error> err;
    EXPECT_FALSE(DataCompressor::compressDataFromFile(tmp / "nope", tmp / "out", &err));
    ASSERT_TRUE(err);
    EXPECT_EQ(err->localizedDescription(), "Compression of " + (tmp / "nope") + " failed the file does not exist");
    EXPECT_TRUE(std::filesystem::exists(tmp / "out"));
    EXPECT_EQ(std::filesystem::file_size(tmp / "out"), 0u);

    EXPECT_FALSE(DataCompressor::compressDataFromFile(tmp / "nope", tmp / "no/such/dir", &err));
    EXPECT_EQ(err->localizedDescription(), "Compression of " + (tmp / "nope") +
                                               " failed because we were to create a file at " + (tmp / "no/such/dir"));
}

TEST(DataCompressorFiles, TruncatedGzipFileIsAnError) {
    testsupport::TempDir tmp;
    std::string z = zlibDeflate(randomText(10000, 9), 31);
    { std::ofstream(tmp / "cut.gz", std::ios::binary) << z.substr(0, z.size() / 2); }
    ns::Ref<ns::Error> err;
    EXPECT_FALSE(DataDecompressor::uncompressDataFromFile(tmp / "cut.gz", tmp / "out", &err));
    ASSERT_TRUE(err);
    EXPECT_EQ(err->code(), 11);
}

TEST(DataCompressorFiles, UnreadableSourceReportsTheReadFailure) {
    testsupport::TempDir tmp;
    std::filesystem::create_directory(tmp / "adir");
    ns::Ref<ns::Error> err;
    EXPECT_FALSE(DataCompressor::compressDataFromFile(tmp / "adir", tmp / "out", &err));
    ASSERT_TRUE(err);
    EXPECT_EQ(err->localizedDescription(),
              "Compression of " + (tmp / "adir") + " failed because we were unable to read from the source data file");
    EXPECT_TRUE(err->userInfo() && err->userInfo()->objectForKey(ns::kUnderlyingErrorKey));
}

}  // namespace
