"""Unit tests of the EDAM generator: table parsing, its checks, and the
shape of the code it emits for each departure from the record pattern."""
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))

import edamgen  # noqa: E402

SMALL = '''
file out/Small
exception EDAMOops
  1 errorCode i32 enum
  2 parameter string
end
struct EDAMThing "Thing"
  1 id       i32
  3 names    list<string>
  4 counts   map<string,i32>
  7 inner    EDAMThing2
end
struct EDAMThing2 "Thing2"
  2 flag bool
end
service EDAMSmall
  method getThing returns EDAMThing
    arg 1 authenticationToken string
    arg 2 count i16
    throws 1 oops EDAMOops
  method forget returns void
    arg 1 guid string
end
'''


def parse(text):
    return edamgen.parse(text)


class ParseTests(unittest.TestCase):
    def test_records_services_and_derived_records(self):
        t = parse(SMALL)
        names = [r.cls for r in t.records]
        self.assertEqual(names, ["EDAMOops", "EDAMThing", "EDAMThing2", "EDAMgetThing_args",
                                 "EDAMGetThing_result", "EDAMforget_args", "EDAMForget_result"])
        result = t.record("EDAMGetThing_result")
        self.assertEqual(result.struct_name, "GetThing_result")
        self.assertEqual([(f.id, f.name) for f in result.fields], [(0, "success"), (1, "oops")])
        self.assertEqual([f.name for f in t.record("EDAMForget_result").fields], [])
        self.assertEqual(t.record("EDAMgetThing_args").struct_name, "getThing_args")
        self.assertTrue(t.record("EDAMOops").fields[0].enum)
        self.assertEqual(t.record("EDAMThing").fields[2].type.elem.name, "i32")

    def test_mistakes_are_reported_with_their_line(self):
        cases = {
            "file a\nstruct X \"X\"\n  1 a i32\n  1 b i32\nend\n": "line 4: X: field id 1 used twice",
            "file a\nstruct X \"X\"\n  2 a i32\n  1 b i32\nend\n": "line 4: X: fields must be in id order",
            "file a\nstruct X \"X\"\n  1 a Nope\nend\n": "line 3: X: unknown type Nope",
            "file a\nstruct X \"X\"\n  1 a string enum\nend\n": "line 3: only i32 fields carry enumerations",
            "file a\nstruct X \"X\"\n  1 a set<string>\nend\n": "line 3: no record field has a set type",
            "file a\nstruct X \"X\"\n  1 a i32\n": "line 2: block not closed",
            "struct X \"X\"\nend\n": "line 1: struct before any 'file'",
            "file a\nstruct X \"X\"\n  x a i32\nend\n": "line 3: field id 'x' is not a number",
            "file a\nstruct X \"X\"\nend\nstruct X \"Y\"\nend\n": "record X defined twice",
            "file a\nstruct X \"X\"\nend\nservice S\n  method m returns X\n    throws 1 e X\nend\n":
                "X is not an exception",
            "file a\nstruct X \"X\"\n  1 y list<Y>\nend\nstruct Y \"Y\"\n  1 x X\nend\n":
                "line 6: Y: a record may not contain itself (X, Y, X)",
        }
        for text, message in cases.items():
            with self.assertRaises(edamgen.TableError) as caught:
                parse(text)
            self.assertIn(message, str(caught.exception))

    def test_a_map_type_may_have_a_blank_after_its_comma(self):
        for written in ("map<string,i32>", "map<string, i32>", "map<string,  list<string>>"):
            with self.subTest(written=written):
                f = parse("file a\nstruct X \"X\"\n  1 m %s\nend\n" % written).record("X").fields[0]
                self.assertEqual(f.type.kind, "map")
                self.assertEqual(f.type.key.name, "string")

    def test_field_ids_at_their_limits_and_one_past(self):
        for fid, ok in ((0, True), (32767, True), (-1, False), (32768, False)):
            with self.subTest(fid=fid):
                text = "file a\nstruct X \"X\"\n  %d a i32\nend\n" % fid
                if ok:
                    self.assertEqual(parse(text).record("X").fields[0].id, fid)
                else:
                    with self.assertRaises(edamgen.TableError) as caught:
                        parse(text)
                    self.assertIn("line 3: field id %d out of range" % fid, str(caught.exception))


class EscapeTests(unittest.TestCase):
    def test_cxx_strings_read_back_as_written(self):
        import ast
        for text in ("plain", 'a"b', "back\\slash", '\\"', "ends with \\", '""', "\\\\n"):
            with self.subTest(text=text):
                literal = edamgen.cxx_string(text)
                self.assertTrue(literal.startswith('"') and literal.endswith('"'))
                # C++ and Python read these two escapes alike.
                self.assertEqual(ast.literal_eval(literal), text)

    def test_struct_names_with_reserved_characters_are_escaped(self):
        t = parse('file out/Q\nstruct EDAMQ "Q\\uote"\n  1 a i32\nend\n')
        self.assertEqual(t.record("EDAMQ").struct_name, "Q\\uote")
        cpp = edamgen.generate(t)["out/Q.cpp"] + edamgen.generate(t)["out/Q.h"]
        self.assertIn('"Q\\\\uote"', cpp)
        self.assertNotIn('"Q\\uote"', cpp)


class EmitTests(unittest.TestCase):
    def setUp(self):
        self.files = edamgen.generate(parse(SMALL))

    def test_files(self):
        self.assertEqual(sorted(self.files), sorted([
            "out/Small.h", "out/Small.cpp", "out/SmallClient.h", "out/SmallClient.cpp",
            "out/SmallProcessor.h", "out/SmallProcessor.cpp",
            "evernote/tests/EDAMRecordFixtures.h", "evernote/tests/EDAMRecordFixtures.cpp"]))
        for text in self.files.values():
            self.assertTrue(text.startswith("// Generated by tools/edamgen"))

    def test_exception_departures(self):
        h, cpp = self.files["out/Small.h"], self.files["out/Small.cpp"]
        self.assertIn("class EDAMOops : public Record, public ns::Exception {", h)
        self.assertIn('EDAMOops::EDAMOops() : ns::Exception("EDAMOops", "unknown") {}', cpp)
        self.assertIn('coder.encodeInt(errorCode_, "errorCode")', cpp)  # enum: plain int
        self.assertIn('const char* structName() const override { return "EDAMOops"; }', h)

    def test_record_pattern(self):
        h, cpp = self.files["out/Small.h"], self.files["out/Small.cpp"]
        self.assertIn("EDAMThing(int32_t id, ns::Ref<ns::Array> names, ns::Ref<ns::Dictionary> counts, "
                      "ns::Ref<EDAMThing2> inner);", h)
        for accessor in ("int32_t id() const", "void setId(int32_t value)", "bool idIsSet() const",
                         "void unsetId()", "const ns::Ref<ns::Array>& names() const"):
            self.assertIn(accessor, h)
        self.assertIn('coder.encodeInt32(id_, "id")', cpp)
        self.assertIn("if (namesIsSet_ && names_) {", cpp)
        # Fields are taken only with their own wire type; anything else is
        # skipped. Elements are charged at least their own size.
        self.assertIn("if (type == T_LIST) {\n                names_ = in.readList(WireReader::kStringCost,", cpp)
        self.assertIn("counts_ = in.readStringMap(WireReader::kNumberCost,", cpp)
        self.assertIn("inner_ = in.readRecord<EDAMThing2>();", cpp)
        self.assertIn("            break;\n        }\n        in.skip(type);", cpp)
        self.assertIn("inner_->EDAMThing2::writeTo(out);", cpp)
        self.assertIn('out.writeList(T_STRING, *names_,', cpp)
        self.assertIn('s += ",names:";', cpp)
        self.assertIn('std::string s = "Thing(";', cpp)

    def test_result_writes_only_first_set_field(self):
        cpp = self.files["out/Small.cpp"]
        start = cpp.index("void EDAMGetThing_result::write")
        body = cpp[start:cpp.index("\n}\n", start)]
        self.assertIn("if (successIsSet_) {", body)
        self.assertIn("} else if (oopsIsSet_) {", body)

    def test_client_and_processor(self):
        client = self.files["out/SmallClient.cpp"]
        self.assertIn('out.writeMessageBegin("getThing", T_CALL, 0);', client)
        self.assertIn("if (authenticationToken) {", client)       # objects only when given
        self.assertIn('out.writeFieldBegin(T_I16, 2);\n    out.writeI16(count);', client)  # numbers always
        self.assertIn("out.finish();\n    outProtocol_->getTransport()->flush();", client)
        self.assertIn('"getThing failed: unknown result"', client)
        self.assertIn("throw EDAMOops(*result->oops());", client)
        start = client.index("void EDAMSmallClient::recv_forget")
        body = client[start:client.index("\n}\n", start)]
        self.assertNotIn("unknown result", body)                   # void: returns
        processor = self.files["out/SmallProcessor.cpp"]
        self.assertIn('mMethodMap.emplace("getThing", &EDAMSmallProcessor::process_getThing);', processor)
        self.assertIn("result->setSuccess(mService->getThing(args->authenticationToken(), args->count()));",
                      processor)
        self.assertIn("mService->forget(args->guid());", processor)

    def test_deterministic_and_unchanged_files_keep_their_time(self):
        self.assertEqual(edamgen.generate(parse(SMALL)), self.files)
        with tempfile.TemporaryDirectory() as out:
            table = os.path.join(out, "t.txt")
            with open(table, "w") as f:
                f.write(SMALL)
            self.assertEqual(edamgen.main(["--table", table, "--out", out]), 0)
            header = os.path.join(out, "out/Small.h")
            with open(header) as f:
                self.assertEqual(f.read(), self.files["out/Small.h"])
            # A second run leaves unchanged files alone (the build then
            # recompiles nothing) and repairs a file edited by hand.
            os.utime(header, (1000000000, 1000000000))
            edited = os.path.join(out, "out/Small.cpp")
            with open(edited, "a") as f:
                f.write("// edited by hand\n")
            self.assertEqual(edamgen.main(["--table", table, "--out", out]), 0)
            self.assertEqual(os.stat(header).st_mtime, 1000000000)
            with open(edited) as f:
                self.assertEqual(f.read(), self.files["out/Small.cpp"])
            self.assertEqual(sorted(os.listdir(os.path.join(out, "out"))),
                             ["Small.cpp", "Small.h", "SmallClient.cpp", "SmallClient.h",
                              "SmallProcessor.cpp", "SmallProcessor.h"])

    def test_the_build_list_must_match_the_table(self):
        with tempfile.TemporaryDirectory() as out:
            table = os.path.join(out, "t.txt")
            with open(table, "w") as f:
                f.write(SMALL)
            listed = sorted(self.files)
            self.assertEqual(edamgen.main(["--table", table, "--out", out, "--expect"] + listed), 0)
            # A file the build lists but the table no longer makes, or the
            # reverse, stops the build before anything is written.
            scratch = os.path.join(out, "fresh")
            self.assertEqual(edamgen.main(["--table", table, "--out", scratch, "--expect"]
                                          + listed[1:] + ["out/Gone.cpp"]), 1)
            self.assertFalse(os.path.exists(scratch))

    def test_fixtures_box_numbers_inside_containers(self):
        # Container elements are objects: a random number inside a list or a
        # map is boxed the way the wire reader boxes it; a plain field is not.
        t = parse("file a\nstruct X \"X\"\n  1 ids list<i64>\n  2 counts map<string,i32>\n"
                  "  3 n i32\nend\n")
        cpp = edamgen.generate(t)["evernote/tests/EDAMRecordFixtures.cpp"]
        self.assertIn("ns::Number::numberWithLongLong(fixtures::randomI64(rng))", cpp)
        self.assertIn("ns::Number::numberWithInt(fixtures::randomI32(rng))", cpp)
        self.assertIn("r.setN(fixtures::randomI32(rng));", cpp)

    def test_keywords_get_a_suffix(self):
        t = parse("file a\nstruct X \"X\"\n  1 delete bool\nend\n")
        h = edamgen.generate(t)["a.h"]
        self.assertIn("bool delete_() const", h)
        self.assertIn("void setDelete(bool value)", h)


if __name__ == "__main__":
    unittest.main()
