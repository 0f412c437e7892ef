// The stream parser must reach the same result however its input is split:
// every split offset of a set of documents (valid and broken), in two
// pieces, in three pieces and byte by byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/json/JsonStreamParser.h"
#include "net/json/JsonStreamParserAdapter.h"
#include "net/json/tests/StreamTestUtil.h"

using json::test::dump;

namespace {

struct Result {
    int32_t status;
    std::string value;
    std::string error;
    bool operator==(const Result& o) const {
        return status == o.status && value == o.value && error == o.error;
    }
};

std::ostream& operator<<(std::ostream& os, const Result& r) {
    return os << "status " << r.status << " value " << r.value << " error '" << r.error << "'";
}

// Feeds the pieces in order; an empty piece list feeds nothing.
Result feed(const std::vector<std::string_view>& pieces) {
    json::test::Fed fed = json::test::feedPieces(pieces);
    return {fed.status, fed.status == json::JsonStreamParserComplete ? dump(fed.value) : "", fed.error};
}

const std::vector<std::string> kDocuments = {
    "[]",
    "{}",
    " [ 1 , -2 , 3.25e-2 , -0 , 0.5E+10 , 12345678901234567890 ] ",
    "{\"key\":\"value\",\"nested\":{\"a\":[true,false,null]},\"key\":\"again\"}",
    "[\"plain\",\"esc\\\"aped\\\\\",\"\\/\\b\\f\\n\\r\\t\",\"\\u00e9\\u20AC\",\"\\uD83D\\uDE00x\"]",
    "[\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\",\"a\\u0000b\"]",
    "[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]",
    "{\"deep\":[{\"deeper\":[{\"deepest\":[1,2,{\"x\":\"y\"}]}]}]}\n",
    // Broken documents: the error must not depend on the split either.
    "[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]",
    "[1,]",
    "{\"a\" 1}",
    "[01]",
    "[-x]",
    "[1.]",
    "[1e+]",
    "[nulx]",
    "[tru]",
    "[truex]",
    "[\"tab\there\"]",
    "[\"\\q\"]",
    "[\"\\u12G4\"]",
    "[\"\\uDC00\"]",
    "[\"\\uD800\\u0041\"]",
    "[\"\\uD800\"]",
    "[\"\\uD800\\n\"]",
    "[\"\xC3(\"]",
    "[\"\xED\xA0\x80\"]",
    "[\xC3\xA9]",
    "[] []",
    "[] x",
    "\"top\"",
    "[1",
    "{\"unterminated",
};

TEST(StreamSplit, EveryTwoPieceSplitGivesTheSameResult) {
    for (const auto& doc : kDocuments) {
        Result whole = feed({doc});
        for (size_t i = 0; i <= doc.size(); ++i) {
            std::string_view v(doc);
            Result split = feed({v.substr(0, i), v.substr(i)});
            ASSERT_EQ(split, whole) << "document " << doc << " split at " << i;
        }
    }
}

TEST(StreamSplit, ThreePiecesAndSingleBytes) {
    for (const auto& doc : kDocuments) {
        Result whole = feed({doc});
        std::string_view v(doc);
        for (size_t i = 0; i <= doc.size(); ++i) {
            for (size_t j = i; j <= doc.size(); j += 3) {
                Result split = feed({v.substr(0, i), v.substr(i, j - i), v.substr(j)});
                ASSERT_EQ(split, whole) << "document " << doc << " split at " << i << "," << j;
            }
        }
        std::vector<std::string_view> bytes;
        for (size_t i = 0; i < doc.size(); ++i) bytes.push_back(v.substr(i, 1));
        EXPECT_EQ(feed(bytes), whole) << "document " << doc << " byte by byte";
    }
}

TEST(StreamSplit, WholeResultsAreWhatTheDocumentsSay) {
    EXPECT_EQ(feed({kDocuments[2]}).value,
              "[Q(1),q(-2),dec(3.25e-2),q(0),dec(0.5E+10),dec(12345678901234567890)]");
    EXPECT_EQ(feed({kDocuments[3]}).value,
              "{\"key\":\"again\",\"nested\":{\"a\":[true,false,null]}}");
    EXPECT_EQ(feed({kDocuments[8]}).error, "Input depth exceeds max depth of 32");
    EXPECT_EQ(feed({"[1"}).status, json::JsonStreamParserWaitingForData);
}

}  // namespace
