// Property lists exchanged with another implementation: Python's plistlib
// reads what we write, and we read what it writes, in both formats.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/wait.h>

#include "platform/foundation/FileIO.h"
#include "platform/foundation/Foundation.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/tests/PlistTestData.h"
#include "testsupport/PeerRequirement.h"
#include "testsupport/TempDir.h"

using namespace ns;
using testsupport::TempDir;

namespace {

// The same values as everyKindOfValue(), in Python.
const char* kPythonData = R"PY(
import datetime, plistlib, sys
data = {
    "string": "h\u00e9llo & <world> \U0001F600",
    "whitespace": "tab\tnewline\ncarriage\rreturn  ",
    "empty string": "",
    "key & <reserved> \"quoted\" 'single' ]]>": "value ]]> & <b> \"q\" 'a' &amp;",
    "int": 42,
    "negative": -7,
    "int64 max": 2**63 - 1,
    "int64 min": -2**63,
    "uint64 max": 2**64 - 1,
    "real": 3.25,
    "tiny real": 1e-300,
    "true": True,
    "false": False,
    "date": datetime.datetime(2024, 2, 29, 12, 34, 56),
    "data": bytes(range(256)),
    "empty data": b"",
    "empty array": [],
    "empty dict": {},
    "nested": [{"a": [1, [2, [3]]]}, "after"],
}
)PY";

bool havePython() { return std::system("python3 -c 'import plistlib' >/dev/null 2>&1") == 0; }

// Runs a Python script; returns its exit status and output.
int runPython(const TempDir& dir, const std::string& body, std::string& output) {
    std::string script = dir / "peer.py";
    EXPECT_TRUE(writeFileAtomically(script, std::string(kPythonData) + body));
    std::string cmd = "python3 " + script + " > " + (dir / "peer.out") + " 2>&1";
    int status = std::system(cmd.c_str());
    output = readFile(dir / "peer.out").value_or("");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(PropertyListPeer, PythonReadsWhatWeWrite) {
    if (!havePython()) DECK_PEER_MISSING("python3 with plistlib is not installed");
    TempDir dir;
    auto value = ns::testing::everyKindOfValue();
    Ref<Error> err;
    ASSERT_TRUE(PropertyList::writeToFile(*value, dir / "ours.xml", true, &err, PropertyListFormat::XML))
        << describe(err);
    ASSERT_TRUE(PropertyList::writeToFile(*value, dir / "ours.bin", true, &err, PropertyListFormat::Binary))
        << describe(err);
    std::string out;
    int rc = runPython(dir, R"PY(
ok = True
for path, fmt in ((sys.argv[0].replace("peer.py", "ours.xml"), plistlib.FMT_XML),
                  (sys.argv[0].replace("peer.py", "ours.bin"), plistlib.FMT_BINARY)):
    with open(path, "rb") as f:
        raw = f.read()
    got = plistlib.loads(raw)
    if got != data:
        ok = False
        for k in data:
            if got.get(k) != data[k]:
                print(path, "differs at", repr(k), repr(got.get(k))[:200], "expected", repr(data[k])[:200])
sys.exit(0 if ok else 1)
)PY", out);
    EXPECT_EQ(rc, 0) << out;
}

TEST(PropertyListPeer, WeReadWhatPythonWrites) {
    if (!havePython()) DECK_PEER_MISSING("python3 with plistlib is not installed");
    TempDir dir;
    std::string out;
    // XML turns a raw carriage return into a line feed on reading, in every
    // reader; plistlib writes it raw, so leave it out of this direction.
    int rc = runPython(dir, R"PY(
data["whitespace"] = "tab\tnewline\nreturn  "
base = sys.argv[0].replace("peer.py", "")
with open(base + "theirs.xml", "wb") as f:
    plistlib.dump(data, f, fmt=plistlib.FMT_XML)
with open(base + "theirs.bin", "wb") as f:
    plistlib.dump(data, f, fmt=plistlib.FMT_BINARY)
with open(base + "big.bin", "wb") as f:
    plistlib.dump([{"Title": "card %d" % i, "text": "x" * (i % 300), "index": i} for i in range(70000)],
                  f, fmt=plistlib.FMT_BINARY)
)PY", out);
    ASSERT_EQ(rc, 0) << out;

    auto expected = ns::testing::everyKindOfValue()->mutableCopy();
    expected->setObject(str("tab\tnewline\nreturn  "), "whitespace");
    for (const char* name : {"theirs.xml", "theirs.bin"}) {
        Ref<Error> err;
        Ref<Object> got = PropertyList::readFromFile(dir / name, &err);
        ASSERT_TRUE(got) << name << ": " << describe(err);
        EXPECT_TRUE(got->isEqual(*expected)) << name << ":\n" << got->description();
        auto* d = as<Dictionary>(got.get());
        ASSERT_TRUE(d->numberForKey("true"));
        EXPECT_TRUE(d->numberForKey("true")->isBool()) << name;
        ASSERT_TRUE(d->numberForKey("uint64 max"));
        EXPECT_EQ(d->numberForKey("uint64 max")->unsignedLongLongValue(), UINT64_MAX) << name;
    }
    // Wider references and offsets (more than 65,536 objects).
    Ref<Error> err;
    auto big = cast<Array>(PropertyList::readFromFile(dir / "big.bin", &err));
    ASSERT_TRUE(big) << describe(err);
    ASSERT_EQ(big->count(), 70000u);
    auto* last = as<Dictionary>(big->objectAtIndex(69999));
    ASSERT_TRUE(last);
    EXPECT_EQ(describe(last->stringForKey("Title")), "card 69999");
    ASSERT_TRUE(last->numberForKey("index"));
    EXPECT_EQ(last->numberForKey("index")->intValue(), 69999);
    ASSERT_TRUE(last->stringForKey("text"));
    EXPECT_EQ(last->stringForKey("text")->length(), 69999u % 300);
}
