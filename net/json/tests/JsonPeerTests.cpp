// What both writers write, read by another implementation: Python's json
// module parses each text strictly (raw control characters, text that is not
// UTF-8, repeated keys and NaN refused) and writes the value again in its own
// form, which must hold the tree that was written. The trees carry every
// character JSON escapes, in keys and in values, also when the values were
// read back from large documents (whose strings and numbers the decoders place
// in their blocks) rather than made by the test.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cfloat>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "net/json/FJCategories.h"
#include "net/json/FJValuePool.h"
#include "net/json/JSONDecoder.h"
#include "net/json/JsonParser.h"
#include "net/json/JsonWriter.h"
#include "net/json/tests/GeneratedTrees.h"
#include "platform/foundation/FileIO.h"
#include "platform/foundation/Foundation.h"
#include "testsupport/PeerRequirement.h"
#include "testsupport/TempDir.h"

using json::test::equivalent;
using ns::Ref;
using testsupport::TempDir;

namespace {

// Reads each file named on its command line and writes what it read to
// <file>.back as ASCII JSON; prints one line per file it refuses.
const char* kReader = R"PY(
import json, sys

def pairs(items):
    keys = [k for k, _ in items]
    if len(set(keys)) != len(keys):
        raise ValueError("repeated key among " + repr(keys))
    return dict(items)

def constant(name):
    raise ValueError("not JSON: " + name)

failed = 0
for path in sys.argv[1:]:
    try:
        with open(path, "rb") as f:
            text = f.read().decode("utf-8")
        value = json.loads(text, object_pairs_hook=pairs, parse_constant=constant)
        if not isinstance(value, (list, dict)):
            raise ValueError("top level is a " + type(value).__name__)
        with open(path + ".back", "w", encoding="ascii") as f:
            f.write(json.dumps(value, ensure_ascii=True, separators=(",", ":"), allow_nan=False))
    except Exception as e:
        failed += 1
        print(path, type(e).__name__, e)
sys.exit(1 if failed else 0)
)PY";

bool havePython() { return std::system("timeout 60 python3 -c 'import json' >/dev/null 2>&1") == 0; }

// Texts with every character a writer must escape or may copy, as keys and
// values. (No NUL and no noncharacter: the fast decoder refuses them, and
// these trees are also read back by it.)
Ref<ns::Object> reservedTree() {
    std::string controls;
    for (char c = 1; c < 0x20; ++c) controls.push_back(c);
    const std::vector<std::string> texts = {
        controls,
        "\"quoted\" and \\back\\slashed\\ \\u0041 \\\"",
        "/slash/ and </script> and \\/",
        "\x7f del",
        "\xE2\x80\xA8 line and paragraph \xE2\x80\xA9 separators",
        "\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xEF\xBF\xBD \xF4\x8F\xBF\xBD",
        "\t\"\\/\b\f\n\r",
        "",
    };
    auto strings = ns::MutableArray::make();
    auto keyed = ns::MutableDictionary::make();
    for (size_t i = 0; i < texts.size(); ++i) {
        strings->addObject(ns::String::make(texts[i]));
        keyed->setObjectForKey(ns::String::make(texts[i]), ns::String::make(texts[i]));
    }
    auto numbers = ns::Array::make(std::vector<Ref<ns::Object>>{
        ns::Number::numberWithLongLong(INT64_MIN), ns::Number::numberWithLongLong(INT64_MAX),
        ns::Number::numberWithUnsignedLongLong(UINT64_MAX), ns::Number::numberWithLongLong(0),
        ns::Number::numberWithLongLong(-1), ns::Number::numberWithDouble(0.1), ns::Number::numberWithDouble(5e-324),
        ns::Number::numberWithDouble(DBL_MAX), ns::Number::numberWithDouble(-DBL_MAX),
        ns::Number::numberWithDouble(2.2250738585072014e-308), ns::Number::numberWithDouble(1e21),
        ns::Number::numberWithDouble(1e-7), ns::Number::numberWithDouble(-0.0),
        ns::Number::numberWithBool(true), ns::Number::numberWithBool(false), ns::Null::null()});
    auto empties = ns::Array::make(std::vector<Ref<ns::Object>>{
        ns::Array::make(), ns::Dictionary::make(),
        ns::Array::make(std::vector<Ref<ns::Object>>{ns::Array::make(std::vector<Ref<ns::Object>>{ns::Array::make()})})});
    auto tree = ns::MutableDictionary::make();
    tree->setObjectForKey(strings, ns::str("strings"));
    tree->setObjectForKey(keyed, ns::str("keys"));
    tree->setObjectForKey(numbers, ns::str("numbers"));
    tree->setObjectForKey(empties, ns::str("empties"));
    return tree;
}

// One text written by one writer in one of its layouts.
struct Written {
    std::string how;
    std::string text;
    const ns::Object* tree;
};

// Every layout of both writers: the streaming writer compact, with sorted
// keys, human-readable and both; the fast serializer plain, pretty, with
// Unicode escapes, with escaped slashes and all three.
void writeEveryWay(const std::string& what, const ns::Object* tree, std::vector<Written>& out) {
    for (int mode = 0; mode < 4; ++mode) {
        auto w = ns::make<json::JsonWriter>();
        w->setSortKeys(mode & 1);
        w->setHumanReadable(mode & 2);
        auto s = w->stringWithObject(tree);
        ASSERT_TRUE(s) << what << ": " << w->error();
        out.push_back({what + ", streaming writer mode " + std::to_string(mode), std::string(s->utf8()), tree});
    }
    const uint64_t all = json::FJSerializeFlagPretty | json::FJSerializeFlagEscapeUnicode |
                         json::FJSerializeFlagEscapeSlash;
    for (uint64_t options : {uint64_t(0), uint64_t(json::FJSerializeFlagPretty),
                             uint64_t(json::FJSerializeFlagEscapeUnicode), uint64_t(json::FJSerializeFlagEscapeSlash),
                             all}) {
        Ref<ns::Error> error;
        Ref<ns::String> s;
        if (auto* d = ns::as<ns::Dictionary>(tree)) s = json::JSONStringWithOptionsError(*d, options, &error);
        else if (auto* a = ns::as<ns::Array>(tree)) s = json::JSONStringWithOptionsError(*a, options, &error);
        ASSERT_TRUE(s) << what << ": " << (error ? error->localizedDescription() : "no error");
        const std::string how = what + ", fast serializer options " + std::to_string(options);
        const std::string text(s->utf8());
        // Escaped Unicode leaves nothing but ASCII; an escaped slash is never bare.
        if (options & json::FJSerializeFlagEscapeUnicode) {
            for (size_t i = 0; i < text.size(); ++i)
                ASSERT_LT(static_cast<unsigned char>(text[i]), 0x80) << how << " at " << i;
        }
        if (options & json::FJSerializeFlagEscapeSlash) {
            for (size_t i = text.find('/'); i != std::string::npos; i = text.find('/', i + 1))
                ASSERT_TRUE(i > 0 && text[i - 1] == '\\') << how << " at " << i;
        }
        out.push_back({how, text, tree});
    }
}

}  // namespace

TEST(JsonPeer, PythonReadsWhatBothWritersWrite) {
    if (!havePython()) DECK_PEER_MISSING("python3 with its json module is not installed");

    // The reserved characters in a tree the test makes, and the same tree
    // read back from a large document by each decoder: its strings and
    // numbers then live in the decoders' blocks.
    Ref<ns::Object> made = reservedTree();
    auto writer = ns::make<json::JsonWriter>();
    auto one = writer->stringWithObject(made.get());
    ASSERT_TRUE(one) << writer->error();
    std::string large = "[";
    for (int i = 0; i < 400; ++i) large += (i ? "," : "") + std::string(one->utf8());
    large += "]";
    ASSERT_GE(large.size(), json::FJValuePool::kPooledDocumentsFrom);
    auto parser = ns::make<json::JsonParser>();
    Ref<ns::Object> streamDecoded = parser->objectWithBytes(large.data(), large.size());
    ASSERT_TRUE(streamDecoded) << parser->error();
    Ref<ns::Error> error;
    json::JSONDecoder decoder;
    Ref<ns::Object> fastDecoded = decoder.objectWithUTF8StringLengthError(large.data(), large.size(), &error);
    ASSERT_TRUE(fastDecoded) << (error ? error->localizedDescription() : "no error");

    std::vector<Ref<ns::Object>> keep;
    std::vector<Written> written;
    writeEveryWay("made by the test", made.get(), written);
    for (const auto& [what, decoded] : {std::pair<const char*, Ref<ns::Object>>{"read by the streaming parser", streamDecoded},
                                        {"read by the fast decoder", fastDecoded}}) {
        auto* rows = ns::as<ns::Array>(decoded.get());
        ASSERT_TRUE(rows && rows->count() == 400) << what;
        ns::Object* stored = rows->objectAtIndex(333);
        auto* strings = ns::as<ns::Dictionary>(stored) ? ns::as<ns::Dictionary>(stored)->objectForKeyAs<ns::Array>("strings")
                                                       : nullptr;
        ASSERT_TRUE(strings && strings->count() > 0) << what;
        EXPECT_NE(dynamic_cast<json::FJPooledString*>(strings->objectAtIndex(0)), nullptr)
            << what << ": the strings were to come from the decoder's blocks";
        ASSERT_TRUE(equivalent(made.get(), stored)) << what;
        writeEveryWay(what, stored, written);
    }
    // Generated documents: controls, punctuation, every width of UTF-8,
    // integers at the ends of their ranges, doubles of any bits.
    json::test::Generator generator(32);
    for (int i = 0; i < 40; ++i) {
        keep.push_back(generator.document());
        writeEveryWay("generated document " + std::to_string(i), keep.back().get(), written);
    }

    TempDir dir("jsonpeer");
    ASSERT_TRUE(ns::writeFileAtomically(dir / "reader.py", kReader));
    std::string command = "timeout 300 python3 " + (dir / "reader.py");
    for (size_t i = 0; i < written.size(); ++i) {
        const std::string path = dir / ("written-" + std::to_string(i) + ".json");
        ASSERT_TRUE(ns::writeFileAtomically(path, written[i].text)) << path;
        command += " " + path;
    }
    command += " > " + (dir / "reader.out") + " 2>&1";
    const int status = std::system(command.c_str());
    const std::string said = ns::readFile(dir / "reader.out").value_or("");
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status << ":\n" << said;

    for (size_t i = 0; i < written.size(); ++i) {
        SCOPED_TRACE(written[i].how);
        auto back = ns::readFile(dir / ("written-" + std::to_string(i) + ".json.back"));
        ASSERT_TRUE(back);
        auto reader = ns::make<json::JsonParser>();
        reader->setMaxDepth(64);
        Ref<ns::Object> tree = reader->objectWithBytes(back->data(), back->size());
        ASSERT_TRUE(tree) << reader->error() << " in " << *back;
        EXPECT_TRUE(equivalent(written[i].tree, tree.get()));
    }
}
