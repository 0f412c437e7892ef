#include <gtest/gtest.h>

#include <climits>
#include <set>

#include "platform/security/Base64.h"
#include "platform/security/Digest.h"
#include "platform/security/Random.h"

using namespace sec;

TEST(Digest, MD5KnownAnswers) {  // RFC 1321 appendix A.5
    EXPECT_EQ(md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5Hex("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(md5Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(md5Hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(md5Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    std::string digits;
    for (int i = 0; i < 8; ++i) digits += "1234567890";
    EXPECT_EQ(md5Hex(digits), "57edf4a22be3c955ac49da2e2107b67a");
    EXPECT_EQ(md5("abc").size(), 16u);
}

TEST(Digest, SHAKnownAnswers) {  // FIPS 180 examples
    const std::string twoBlocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    EXPECT_EQ(sha1Hex("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(sha1Hex(twoBlocks), "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
    EXPECT_EQ(sha1Hex(std::string(1000000, 'a')), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
    EXPECT_EQ(sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(sha256Hex(twoBlocks), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(sha1("abc").size(), 20u);
    EXPECT_EQ(toHex(sha256Data(*ns::Data::make("abc"))->view()), sha256Hex("abc"));
}

TEST(Digest, HMACSHA1KnownAnswers) {  // RFC 2202 section 3
    struct Case { std::string key, data, hex; };
    std::string key4;
    for (int i = 1; i <= 25; ++i) key4 += static_cast<char>(i);
    const Case cases[] = {
        {std::string(20, '\x0b'), "Hi There", "b617318655057264e28bc0b6fb378c8ef146be00"},
        {"Jefe", "what do ya want for nothing?", "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
        {std::string(20, '\xaa'), std::string(50, '\xdd'), "125d7342b9ac11cd91a39af48aa17b4f63f175d3"},
        {key4, std::string(50, '\xcd'), "4c9007f4026250c6bc8414f9bf50c86c2d7235da"},
        {std::string(20, '\x0c'), "Test With Truncation", "4c1a03424b55e07fe7f27be1d58bb9324a9a5a04"},
        {std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First",
         "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
        {std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data",
         "e8e99d0f45237d786d6bbaa7965c7808bbff1a91"},
    };
    for (const auto& c : cases) EXPECT_EQ(toHex(hmacSHA1(c.key, c.data)), c.hex) << c.data;
    // Empty key and data are valid inputs.
    EXPECT_EQ(toHex(hmacSHA1("", "")), "fbdb1d1b18aa6c08324b7d64b71fb76370690e1d");
    // RFC 4231 test cases 2 and 6 (a key longer than the block is hashed first).
    EXPECT_EQ(toHex(hmacSHA256("Jefe", "what do ya want for nothing?")),
              "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
    EXPECT_EQ(toHex(hmacSHA256(std::string(131, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First")),
              "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54");
    // Keys just under, at and just past the 64-byte block (a key of exactly
    // the block size is used as it is, not hashed); answers computed
    // independently.
    struct Block { size_t keyLength; const char* sha1; const char* sha256; };
    for (const Block& b : {
             Block{63, "79430da7a2374a4304309bc9b6da5e9b667faf97",
                   "57c375323d6bd46297958adcda5ab5fa43d72d1fde051dfa9aad6b266f37f4d2"},
             Block{64, "e58320ce6747a337aa30b8dc26083788905a09df",
                   "73dc42773f6412342a75834de8ee7359172ec9203100e65ff30c36afe567eb7e"},
             Block{65, "cb0abbaead6b78c5c490753304a09fc67a4cf857",
                   "afd0c60a5cbaf291b05cce3e8f20bfd420b8da8ec796ecd4b39c91e5894545e1"}}) {
        std::string key;
        for (size_t i = 1; i <= b.keyLength; ++i) key += static_cast<char>(i);
        EXPECT_EQ(toHex(hmacSHA1(key, "block")), b.sha1) << b.keyLength;
        EXPECT_EQ(toHex(hmacSHA256(key, "block")), b.sha256) << b.keyLength;
    }
    EXPECT_TRUE(constantTimeEqual("abc", "abc"));
    EXPECT_FALSE(constantTimeEqual("abc", "abd"));
    EXPECT_FALSE(constantTimeEqual("abc", "ab"));
}

TEST(Base64, KnownAnswersAndRoundTrip) {  // RFC 4648 section 10
    const std::pair<const char*, const char*> v[] = {{"", ""}, {"f", "Zg=="}, {"fo", "Zm8="},
        {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}};
    for (const auto& [plain, encoded] : v) {
        EXPECT_EQ(base64Encode(plain), encoded);
        EXPECT_EQ(base64Decode(encoded), std::string(plain));
    }
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    EXPECT_EQ(base64Decode(base64Encode(all, 76)), all);
    EXPECT_EQ(base64Encode("\xfb\xff"), "+/8=");
    EXPECT_EQ(base64Decode("Zm9vYg"), std::string("foob"));  // padding may be left out
}

TEST(Base64, LineWrapping) {
    std::string bytes54(54, 'x');
    std::string wrapped = base64Encode(bytes54, 72, LineBreaks::AfterEveryFullLine);
    EXPECT_EQ(wrapped.size(), 74u);
    EXPECT_EQ(wrapped.substr(72), "\r\n");
    EXPECT_EQ(base64Encode(std::string(20, 'x'), 72, LineBreaks::AfterEveryFullLine).size(), 28u);
    EXPECT_EQ(base64EncodedLength(54, 72, LineBreaks::AfterEveryFullLine), 74u);
    // MIME style: breaks between lines only.
    std::string mime = base64Encode(std::string(57, 'y'), 76);
    EXPECT_EQ(mime.size(), 76u);
    std::string two = base64Encode(std::string(100, 'y'), 64);
    EXPECT_EQ(two.size(), base64EncodedLength(100, 64));
    EXPECT_EQ(two.substr(64, 2), "\r\n");
    EXPECT_EQ(two.substr(130, 2), "\r\n");
    EXPECT_EQ(two.find("\r\n", 132), std::string::npos);
    EXPECT_EQ(two.size(), 136u + 4u);
    EXPECT_EQ(base64Decode(two), std::string(100, 'y'));
    // Every input length against line lengths that do and do not divide a
    // group of four: the predicted length is the real one, no line is longer
    // than asked, a break ends the text only in the full-line mode, and the
    // text decodes back.
    for (size_t n = 0; n <= 20; ++n)
        for (size_t line : {size_t(1), size_t(2), size_t(3), size_t(4), size_t(5), size_t(7), size_t(76)})
            for (LineBreaks breaks : {LineBreaks::Between, LineBreaks::AfterEveryFullLine}) {
                SCOPED_TRACE(testing::Message() << n << " bytes, lines of " << line);
                const std::string bytes(n, '\x5a');
                const std::string text = base64Encode(bytes, line, breaks);
                EXPECT_EQ(text.size(), base64EncodedLength(n, line, breaks));
                size_t chars = (n + 2) / 3 * 4, longest = 0, run = 0;
                for (char c : text) run = c == '\r' || c == '\n' ? 0 : run + 1, longest = std::max(longest, run);
                EXPECT_LE(longest, line);
                const bool endsWithBreak = text.size() >= 2 && text.substr(text.size() - 2) == "\r\n";
                EXPECT_EQ(endsWithBreak, breaks == LineBreaks::AfterEveryFullLine && chars % line == 0 && chars > 0);
                EXPECT_EQ(base64Decode(text), bytes);
            }
}

TEST(Base64, DecodeRefusesGarbage) {
    for (const char* bad : {"Zm9v!", "Zm 9v", "Z", "Zm9vY", "=Zm9", "Zg=", "Zg===", "Zg==Zg==", "Zm9v=",
                            "Zh==", "Zm9=", "Zm-_", "\xC3\xA9\xC3\xA9"}) {
        EXPECT_FALSE(base64Decode(bad)) << bad;
    }
}

TEST(Random, BytesIntegersAndUUIDs) {
    EXPECT_EQ(randomBytes(0).size(), 0u);
    std::string a = randomBytes(32), b = randomBytes(32);
    EXPECT_EQ(a.size(), 32u);
    EXPECT_NE(a, b);
    int seen[6] = {};
    for (int i = 0; i < 600; ++i) {
        uint64_t v = randomUniform(6);
        ASSERT_LT(v, 6u);
        ++seen[v];
    }
    for (int n : seen) EXPECT_GT(n, 40);  // each face turns up (p of failure ~1e-20)
    EXPECT_EQ(randomUniform(0), 0u);
    EXPECT_EQ(randomUniform(1), 0u);
    // Every value of a range turns up, both ends included, also at the ends
    // of the 64-bit range (p of failure below 1e-40 each).
    const struct {
        int64_t low, high;
    } ranges[] = {{-3, 3}, {0, 1}, {INT64_MAX - 1, INT64_MAX}, {INT64_MIN, INT64_MIN + 1}};
    for (const auto& range : ranges) {
        std::set<int64_t> values;
        for (int i = 0; i < 700; ++i) {
            int64_t r = randomInRange(range.low, range.high);
            ASSERT_GE(r, range.low);
            ASSERT_LE(r, range.high);
            values.insert(r);
        }
        EXPECT_EQ(values.size(), static_cast<size_t>(range.high - range.low) + 1) << range.low << ".." << range.high;
        EXPECT_EQ(*values.begin(), range.low);
        EXPECT_EQ(*values.rbegin(), range.high);
    }
    EXPECT_EQ(randomInRange(5, 5), 5);
    EXPECT_EQ(randomInRange(7, 3), 7);  // low above high answers low
    // The whole 64-bit range: both signs turn up.
    bool negative = false, positive = false;
    for (int i = 0; i < 64; ++i) (randomInRange(INT64_MIN, INT64_MAX) < 0 ? negative : positive) = true;
    EXPECT_TRUE(negative && positive);
    std::set<std::string> ids;
    for (int i = 0; i < 100; ++i) {
        std::string id = uuidString();
        ASSERT_EQ(id.size(), 36u);
        EXPECT_EQ(id[8], '-');
        EXPECT_EQ(id[13], '-');
        EXPECT_EQ(id[18], '-');
        EXPECT_EQ(id[23], '-');
        EXPECT_EQ(id[14], '4');
        EXPECT_NE(std::string("89AB").find(id[19]), std::string::npos);
        EXPECT_EQ(id.find_first_not_of("0123456789ABCDEF-"), std::string::npos);
        ids.insert(id);
    }
    EXPECT_EQ(ids.size(), 100u);
    // Only the version and variant bits are fixed: the characters around
    // them vary on their own (each pair agrees in 1 of 16 ids by chance).
    int sameAroundVersion = 0, sameAroundVariant = 0;
    for (const auto& id : ids) {
        sameAroundVersion += id[15] == id[17];
        sameAroundVariant += id[20] == id[22];
    }
    EXPECT_LT(sameAroundVersion, 50);
    EXPECT_LT(sameAroundVariant, 50);
}
