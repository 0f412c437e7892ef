// The form-data request against a loopback server that parses what it
// receives: URL-encoded bodies are split and percent-decoded, multipart
// bodies are cut at the boundary the Content-Type header names and each
// part's headers read, independently of the code that wrote them.
#include "net/http/tests/RequestTestSupport.h"

#include <filesystem>
#include <functional>
#include <fstream>
#include <map>
#include <mutex>

#include "net/http/FormDataRequest.h"
#include "platform/foundation/Foundation.h"
#include "testsupport/FormBody.h"
#include "testsupport/TempDir.h"

using namespace httptest;
using http::FormDataRequest;

namespace {

struct Part {
    std::map<std::string, std::string> headers;  // lower-case names
    std::string name, fileName;
    bool hasFileName = false;
    std::string body;
};

// A quoted parameter of a header value: name="..." (no escapes inside).
std::string parameter(const std::string& header, const std::string& param, bool* found = nullptr) {
    std::string needle = param + "=\"";
    size_t p = 0;
    while ((p = header.find(needle, p)) != std::string::npos) {
        if (p == 0 || header[p - 1] == ' ' || header[p - 1] == ';') {
            size_t start = p + needle.size();
            size_t end = header.find('"', start);
            if (found) *found = true;
            return header.substr(start, end - start);
        }
        p += needle.size();
    }
    if (found) *found = false;
    return {};
}

// multipart/form-data (RFC 7578): the boundary from the Content-Type
// header, parts between "--boundary" lines, headers up to an empty line.
// Returns false (with why) when the body does not have that shape.
bool parseMultipart(const std::string& contentType, const std::string& body, std::vector<Part>& parts,
                    std::string& why) {
    size_t b = contentType.find("boundary=");
    if (contentType.rfind("multipart/form-data;", 0) != 0 || b == std::string::npos) {
        why = "content type " + contentType;
        return false;
    }
    std::string boundary = contentType.substr(b + 9);
    std::string delimiter = "--" + boundary;
    if (body.rfind(delimiter + "\r\n", 0) != 0) {
        why = "body does not open with the boundary";
        return false;
    }
    std::string closing = "\r\n" + delimiter + "--\r\n";
    if (body.size() < closing.size() || body.compare(body.size() - closing.size(), closing.size(), closing) != 0) {
        why = "body does not end with the closing boundary";
        return false;
    }
    size_t pos = delimiter.size() + 2;
    const size_t end = body.size() - closing.size();
    while (pos <= end) {
        size_t next = body.find("\r\n" + delimiter + "\r\n", pos);
        size_t partEnd = next == std::string::npos || next > end ? end : next;
        std::string raw = body.substr(pos, partEnd - pos);
        size_t blank = raw.find("\r\n\r\n");
        if (blank == std::string::npos) {
            why = "part without a blank line";
            return false;
        }
        Part part;
        std::string head = raw.substr(0, blank);
        size_t lp = 0;
        while (lp < head.size()) {
            size_t le = head.find("\r\n", lp);
            std::string line = head.substr(lp, le == std::string::npos ? std::string::npos : le - lp);
            size_t colon = line.find(':');
            if (colon == std::string::npos) {
                why = "header line without colon: " + line;
                return false;
            }
            std::string name = line.substr(0, colon);
            for (auto& ch : name) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
            std::string value = line.substr(colon + 1);
            while (!value.empty() && value.front() == ' ') value.erase(0, 1);
            part.headers[name] = value;
            if (le == std::string::npos) break;
            lp = le + 2;
        }
        std::string disposition = part.headers["content-disposition"];
        if (disposition.rfind("form-data;", 0) != 0) {
            why = "disposition " + disposition;
            return false;
        }
        part.name = parameter(disposition, "name");
        part.fileName = parameter(disposition, "filename", &part.hasFileName);
        part.body = raw.substr(blank + 4);
        parts.push_back(std::move(part));
        if (partEnd == end) break;
        pos = partEnd + 2 + delimiter.size() + 2;
    }
    return true;
}

class FormDataTest : public ::testing::Test {
protected:
    ns::Ref<FormDataRequest> request(const std::string& path = "/form") {
        return FormDataRequest::requestWithURL(url(server.url(path)));
    }
    // What the server saw of the last request.
    testsupport::Request last() const {
        auto seen = server.requests();
        return seen.empty() ? testsupport::Request{} : seen.back();
    }
    testsupport::Request send(const ns::Ref<FormDataRequest>& r) {
        startSynchronous(r);
        EXPECT_FALSE(r->error()) << r->error()->description();
        return last();
    }
    testsupport::TempDir tmp;
    const std::string dir = tmp.path();
    testsupport::Server server{testsupport::Server::eachRequest([](const testsupport::Request&) {
        return testsupport::Server::reply(200, "{\"ok\":true}", "Content-Type: application/json\r\n");
    })};
};

}  // namespace

TEST_F(FormDataTest, URLEncodedFieldsArriveExactlyWithTheirHeaderAndMethod) {
    auto r = request();
    EXPECT_EQ(r->postFormat(), http::URLEncodedPostFormat);
    EXPECT_EQ(r->stringEncoding(), http::UTF8StringEncoding);
    EXPECT_EQ(r->requestMethod(), "POST");
    EXPECT_FALSE(r->postData());
    r->setPostValue(ns::str("Ann").get(), ns::str("name").get());
    r->setPostValue(ns::num(42).get(), ns::str("age").get());
    auto got = send(r);
    EXPECT_EQ(got.method, "POST");
    EXPECT_EQ(got.target, "/form");
    EXPECT_EQ(got.body, "name=Ann&age=42");
    EXPECT_EQ(got.header("Content-Type"), "application/x-www-form-urlencoded; charset=utf-8");
    EXPECT_EQ(got.header("Content-Length"), "15");
    EXPECT_EQ(text(r), "{\"ok\":true}");
}

TEST_F(FormDataTest, SetReplacesAddKeepsBothAndAMissingKeyAddsNothing) {
    auto r = request();
    r->setPostValue("first", "a");
    r->setPostValue("second", "a");
    r->addPostValue("x", "b");
    r->addPostValue("y", "b");
    r->addPostValue(ns::str("lost").get(), nullptr);
    r->addPostValue("z", "a");
    r->setPostValue("only", "b");  // every earlier "b" goes, the new one comes last
    ASSERT_EQ(must<ns::Array>(r->postData())->count(), 3u);
    auto fields = testsupport::formPairs(send(r).body);
    EXPECT_EQ(fields, (std::vector<std::pair<std::string, std::string>>{{"a", "second"}, {"a", "z"}, {"b", "only"}}));
}

TEST_F(FormDataTest, EscapingLeavesOnlyLettersDigitsDashUnderscoreAndDot) {
    auto r = request();
    std::string tricky = "a&b=c+d e/f?g#h~i'j(k)*l,m;n\"o<p>q%r{s}t|u\\v^w`x[y]z@!$ Ünïcødé 日本";
    r->addPostValue(tricky, "k&=y");
    r->addPostValue("Az09-_.", "plain");
    auto got = send(r);
    // Read back by an independent decoder: exactly what was given.
    auto fields = testsupport::formPairs(got.body);
    ASSERT_EQ(fields.size(), 2u);
    EXPECT_EQ(fields[0], std::make_pair(std::string("k&=y"), tricky));
    EXPECT_EQ(fields[1], std::make_pair(std::string("plain"), std::string("Az09-_.")));
    // On the wire: no "+" for a space, upper-case escapes, nothing unsafe left.
    std::string value = got.body.substr(got.body.find('=') + 1, got.body.find('&', got.body.find('=')) - got.body.find('=') - 1);
    for (char c : value) {
        bool ok = std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.' || c == '%';
        EXPECT_TRUE(ok) << "unescaped " << c;
    }
    EXPECT_NE(got.body.find("%20"), std::string::npos);
    EXPECT_NE(got.body.find("%C3%9C"), std::string::npos);  // Ü in UTF-8
    EXPECT_NE(got.body.find("%7E"), std::string::npos);     // ~ is escaped too
    EXPECT_EQ(got.body.find('+'), std::string::npos);
    EXPECT_TRUE(got.body.find("plain=Az09-_.") != std::string::npos);
}

TEST_F(FormDataTest, LatinOneEncodingNamesItsCharsetAndWritesItsBytes) {
    auto r = request();
    r->setStringEncoding(http::ISOLatin1StringEncoding);
    r->addPostValue("café", "name");
    r->addPostValue("", "city");
    auto got = send(r);
    EXPECT_EQ(got.header("Content-Type"), "application/x-www-form-urlencoded; charset=iso-8859-1");
    EXPECT_EQ(got.body, "name=caf%E9&city=");

    // The conversion itself: the output holds only this text's bytes, and
    // nothing when the text cannot be written.
    struct Row {
        const char* name;
        const char* text;
        uint64_t encoding;
        bool converts;
        const char* bytes;
    };
    const Row rows[] = {
        {"utf-8 as it is", "Zo\xC3\xAB \xE6\x97\xA5", http::UTF8StringEncoding, true, "Zo\xC3\xAB \xE6\x97\xA5"},
        {"latin-1: one byte a character", "Zo\xC3\xAB\xC3\xBF", http::ISOLatin1StringEncoding, true, "Zo\xEB\xFF"},
        {"latin-1: past U+00FF", "Zo\xE2\x82\xAC", http::ISOLatin1StringEncoding, false, ""},
        {"ascii", "plain", http::ASCIIStringEncoding, true, "plain"},
        {"ascii: past U+007F", "Zo\xC2\x80", http::ASCIIStringEncoding, false, ""},
        {"not UTF-8", "Zo\xFF", http::UTF8StringEncoding, false, ""},
        {"an encoding this class does not write", "Zo", 99, false, ""},
        {"empty", "", http::ISOLatin1StringEncoding, true, ""},
    };
    for (const Row& row : rows) {
        std::string out = "left over";
        EXPECT_EQ(FormDataRequest::convertText(row.text, row.encoding, out), row.converts) << row.name;
        EXPECT_EQ(out, row.bytes) << row.name;
    }
    EXPECT_EQ(FormDataRequest::charsetNameForEncoding(http::ASCIIStringEncoding), "us-ascii");
    EXPECT_EQ(FormDataRequest::charsetNameForEncoding(99), "utf-8");
}

namespace {

// A value whose text is not UTF-8.
class NotText final : public ns::Object {
public:
    std::string description() const override { return "caf\xE9"; }
};

}  // namespace

// A text the form's encoding cannot write (bytes that are not UTF-8, which
// ns::String::make and MutableString take as given, or a character the
// encoding lacks) fails the request before anything is sent, naming the
// field and not its value; it never reaches the service as an empty value
// reported as a success. An empty value the caller set is sent as such.
TEST_F(FormDataTest, TextTheEncodingCannotWriteFailsTheRequestBeforeAnythingIsSent) {
    const auto notUTF8 = ns::String::make("caf\xE9");
    const auto cutShort = ns::MutableString::make("caf");
    cutShort->appendString("\xC3");
    const auto latin = ns::Data::make("d");
    struct Row {
        const char* name;
        int32_t format;
        uint64_t encoding;
        std::function<void(FormDataRequest&)> fill;
        std::string message;  // "" when the request succeeds
        std::string body;     // what the service receives then
    };
    const std::string utf8 = " cannot be written as utf-8";
    const Row rows[] = {
        {"a value that is not UTF-8, URL-encoded", http::URLEncodedPostFormat, http::UTF8StringEncoding,
         [&](FormDataRequest& r) {
             r.addPostValue("Ann", "name");
             r.addPostValue(notUTF8.get(), ns::str("city").get());
         },
         "The value of form field \"city\"" + utf8, ""},
        {"a value that is not UTF-8, multipart", http::multipartFormDataPostFormat, http::UTF8StringEncoding,
         [&](FormDataRequest& r) { r.addPostValue(notUTF8.get(), ns::str("city").get()); },
         "The value of form field \"city\"" + utf8, ""},
        {"a mutable text cut inside a character", http::URLEncodedPostFormat, http::UTF8StringEncoding,
         [&](FormDataRequest& r) { r.setPostValue(cutShort.get(), ns::str("city").get()); },
         "The value of form field \"city\"" + utf8, ""},
        {"an object whose description is not UTF-8", http::URLEncodedPostFormat, http::UTF8StringEncoding,
         [&](FormDataRequest& r) { r.addPostValue(ns::make<NotText>().get(), ns::str("city").get()); },
         "The value of form field \"city\"" + utf8, ""},
        {"a name that is not UTF-8", http::multipartFormDataPostFormat, http::UTF8StringEncoding,
         [&](FormDataRequest& r) { r.addPostValue(ns::str("Ann").get(), notUTF8.get()); },
         "The name of a form field whose name is not UTF-8 text" + utf8, ""},
        {"a value Latin-1 lacks", http::URLEncodedPostFormat, http::ISOLatin1StringEncoding,
         [&](FormDataRequest& r) {
             r.addPostValue("café", "name");
             r.addPostValue("日本", "city");
         },
         "The value of form field \"city\" cannot be written as iso-8859-1", ""},
        {"a name ASCII lacks", http::multipartFormDataPostFormat, http::ASCIIStringEncoding,
         [&](FormDataRequest& r) { r.addPostValue("Ann", "café"); },
         "The name of form field \"café\" cannot be written as us-ascii", ""},
        {"a file name that is not UTF-8", http::multipartFormDataPostFormat, http::UTF8StringEncoding,
         [&](FormDataRequest& r) {
             r.addPostValue("Ann", "name");
             r.addData(latin, "caf\xE9.txt", "", "upload");
         },
         "The file name of form field \"upload\"" + utf8, ""},
        {"a content type Latin-1 lacks", http::URLEncodedPostFormat, http::ISOLatin1StringEncoding,
         [&](FormDataRequest& r) { r.addData(latin, "a.txt", "text/日本", "upload"); },
         "The content type of form field \"upload\" cannot be written as iso-8859-1", ""},
        {"an empty value the caller set", http::URLEncodedPostFormat, http::UTF8StringEncoding,
         [&](FormDataRequest& r) {
             r.addPostValue("", "city");
             r.addPostValue(ns::str("Ann").get(), ns::str("name").get());
         },
         "", "city=&name=Ann"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const size_t before = server.requestCount();
        auto r = request();
        r->setPostFormat(row.format);
        r->setStringEncoding(row.encoding);
        row.fill(*r);
        startSynchronous(r);
        if (row.message.empty()) {
            EXPECT_FALSE(r->error());
            EXPECT_EQ(server.requestCount(), before + 1);
            EXPECT_EQ(last().body, row.body);
            continue;
        }
        if (!r->error()) {
            ADD_FAILURE() << "reported as a success; the service got: " << last().body;
            continue;
        }
        EXPECT_EQ(r->error()->domain(), "HTTPRequestErrorDomain");
        EXPECT_EQ(r->error()->code(), 6);
        EXPECT_EQ(r->error()->localizedDescription(), row.message);
        EXPECT_EQ(server.requestCount(), before);  // nothing reached the service
        EXPECT_FALSE(r->haveBuiltPostBody());
        EXPECT_EQ(r->responseStatusCode(), 0);
    }
}

TEST_F(FormDataTest, OneFieldMultipartHasOnlyTheClosingLineAfterTheValue) {
    auto r = request();
    r->setPostFormat(http::multipartFormDataPostFormat);
    r->addPostValue("v", "k");
    auto got = send(r);
    std::string type = got.header("Content-Type");
    const std::string prefix = "multipart/form-data; charset=utf-8; boundary=0xKhTmLbOuNdArY-";
    ASSERT_EQ(type.rfind(prefix, 0), 0u) << type;
    std::string uuid = type.substr(prefix.size());
    ASSERT_EQ(uuid.size(), 36u);
    for (size_t i = 0; i < uuid.size(); ++i) {
        if (i == 8 || i == 13 || i == 18 || i == 23) EXPECT_EQ(uuid[i], '-');
        else EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(uuid[i])) || (uuid[i] >= 'A' && uuid[i] <= 'F')) << uuid;
    }
    std::string boundary = "0xKhTmLbOuNdArY-" + uuid;
    EXPECT_EQ(got.body, "--" + boundary + "\r\nContent-Disposition: form-data; name=\"k\"\r\n\r\nv\r\n--" + boundary +
                            "--\r\n");
    std::vector<Part> parts;
    std::string why;
    ASSERT_TRUE(parseMultipart(type, got.body, parts, why)) << why;
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_EQ(parts[0].name, "k");
    EXPECT_FALSE(parts[0].hasFileName);
    EXPECT_EQ(parts[0].body, "v");
}

TEST_F(FormDataTest, FieldsFilesAndDataArriveAsPartsInOrder) {
    std::string path = dir + "/notes.txt";
    std::string fileBytes;
    for (int i = 0; i < 70000; ++i) fileBytes += static_cast<char>('a' + i % 26);  // several read blocks
    fileBytes += std::string("\0\r\n--not a boundary\r\n", 22);
    std::ofstream(path, std::ios::binary) << fileBytes;
    std::string blob("\x00\x01\xff\r\n", 5);

    auto r = request();
    r->addPostValue("Ann", "name");
    r->addPostValue(ns::num(42).get(), ns::str("age").get());
    r->addFile(path, "upload");
    r->addData(ns::Data::make(blob), "blob");
    r->addData(ns::Data::make("<p/>"), "page.html", "text/html", "html");
    EXPECT_EQ(r->postFormat(), http::URLEncodedPostFormat);
    auto got = send(r);
    EXPECT_EQ(r->postFormat(), http::multipartFormDataPostFormat);  // switched by the files

    std::vector<Part> parts;
    std::string why;
    ASSERT_TRUE(parseMultipart(got.header("Content-Type"), got.body, parts, why)) << why;
    ASSERT_EQ(parts.size(), 5u);
    EXPECT_EQ(parts[0].name, "name");
    EXPECT_EQ(parts[0].body, "Ann");
    EXPECT_EQ(parts[1].name, "age");
    EXPECT_EQ(parts[1].body, "42");
    EXPECT_EQ(parts[2].name, "upload");
    EXPECT_EQ(parts[2].fileName, "notes.txt");
    EXPECT_EQ(parts[2].headers["content-type"], "text/plain");
    EXPECT_EQ(parts[2].body, fileBytes);
    EXPECT_EQ(parts[3].name, "blob");
    EXPECT_EQ(parts[3].fileName, "file");
    EXPECT_EQ(parts[3].headers["content-type"], "application/octet-stream");
    EXPECT_EQ(parts[3].body, blob);
    EXPECT_EQ(parts[4].fileName, "page.html");
    EXPECT_EQ(parts[4].headers["content-type"], "text/html");
    EXPECT_EQ(parts[4].body, "<p/>");
    EXPECT_EQ(got.header("Content-Length"), std::to_string(got.body.size()));
}

TEST_F(FormDataTest, FilesOnlyStartWithTheFilePartAndSetReplacesFiles) {
    auto r = request();
    r->addData(ns::Data::make("one"), "f");
    r->setData(ns::Data::make("two"), "x.bin", "", "f");
    auto got = send(r);
    std::string type = got.header("Content-Type");
    std::string boundary = type.substr(type.find("boundary=") + 9);
    EXPECT_EQ(got.body.rfind("--" + boundary + "\r\nContent-Disposition: form-data; name=\"f\"; filename=\"x.bin\"\r\n", 0),
              0u)
        << got.body;
    std::vector<Part> parts;
    std::string why;
    ASSERT_TRUE(parseMultipart(type, got.body, parts, why)) << why;
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_EQ(parts[0].body, "two");
}

TEST_F(FormDataTest, NamesCannotForgeHeadersOrParts) {
    auto r = request();
    r->setPostFormat(http::multipartFormDataPostFormat);
    r->addPostValue("v", "k\"; filename=\"evil\r\nX-Injected: 1\r\n\r\n");
    r->addData(ns::Data::make("d"), "a\"b.txt", "text/plain\r\nX-Other: 2", "f");
    auto got = send(r);
    std::vector<Part> parts;
    std::string why;
    ASSERT_TRUE(parseMultipart(got.header("Content-Type"), got.body, parts, why)) << why;
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_FALSE(parts[0].hasFileName);
    EXPECT_EQ(parts[0].headers.count("x-injected"), 0u);
    EXPECT_EQ(parts[0].body, "v");
    EXPECT_EQ(parts[1].fileName, "a%22b.txt");
    EXPECT_EQ(parts[1].headers.count("x-other"), 0u);

    // A lone carriage return (no line feed after it) in a field's name, a
    // file's field name, file name or type never reaches a part's header
    // line raw; in a value it is the value's own byte.
    struct Row {
        const char* name;
        std::string fieldName, fileField, fileName, type;
    };
    for (const Row& row : {Row{"in a field's name", "a\rb", "f", "x.txt", "text/plain"},
                           Row{"in a file's field name", "k", "f\r", "x.txt", "text/plain"},
                           Row{"in a file name", "k", "f", "\rx\r.txt", "text/plain"},
                           Row{"in a file's type", "k", "f", "x.txt", "text/plain\rX-Other: 2"}}) {
        SCOPED_TRACE(row.name);
        auto lone = request();
        lone->setPostFormat(http::multipartFormDataPostFormat);
        lone->addPostValue("v\r", row.fieldName);
        lone->addData(ns::Data::make("d"), row.fileName, row.type, row.fileField);
        auto sent = send(lone);
        parts.clear();
        ASSERT_TRUE(parseMultipart(sent.header("Content-Type"), sent.body, parts, why)) << why;
        ASSERT_EQ(parts.size(), 2u);
        for (const Part& part : parts)
            for (const auto& [field, value] : part.headers)
                EXPECT_EQ(value.find('\r'), std::string::npos) << field << ": " << value;
        auto escaped = [](std::string text) {
            for (size_t at; (at = text.find('\r')) != std::string::npos;) text.replace(at, 1, "%0D");
            return text;
        };
        EXPECT_EQ(parts[0].name, escaped(row.fieldName));
        EXPECT_EQ(parts[0].body, "v\r");
        EXPECT_EQ(parts[1].name, escaped(row.fileField));
        EXPECT_EQ(parts[1].fileName, escaped(row.fileName));
        EXPECT_EQ(parts[1].headers["content-type"], escaped(row.type));
        EXPECT_EQ(parts[1].headers.count("x-other"), 0u);
    }
}

TEST_F(FormDataTest, AMissingFileFailsTheRequestWithCodeSix) {
    auto r = request();
    r->addFile(dir + "/absent.txt", "f");
    r->addFile(dir, "folder");
    ASSERT_EQ(must<ns::Array>(r->fileData())->count(), 2u);  // added all the same
    auto* first = dynamic_cast<ns::Dictionary*>(must<ns::Array>(r->fileData())->objectAtIndex(0));
    ASSERT_TRUE(first);
    EXPECT_EQ(must<ns::String>(first->objectForKey("fileName"))->utf8(), "absent.txt");
    startSynchronous(r);
    ASSERT_TRUE(r->error());
    EXPECT_EQ(r->error()->domain(), "HTTPRequestErrorDomain");
    EXPECT_EQ(r->error()->code(), 6);
    EXPECT_EQ(r->error()->localizedDescription(), "No file exists at " + dir + "/absent.txt");
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(FormDataTest, WithoutFieldsTheEngineSendsItsOwnBody) {
    auto r = request();
    r->appendPostData(*ns::Data::make("raw b\xC3\xB6" "dy"));
    auto got = send(r);
    EXPECT_EQ(got.method, "POST");
    EXPECT_EQ(got.body, "raw b\xC3\xB6" "dy");
    EXPECT_FALSE(got.has("Content-Type"));
    // Measured like any request's body, in bytes.
    EXPECT_EQ(got.header("Content-Length"), "9");
    EXPECT_EQ(r->postLength(), 9u);
}

TEST_F(FormDataTest, ACopyCarriesTheFormAndStaysApart) {
    auto r = request();
    r->addPostValue("1", "a");
    r->addData(ns::Data::make("x"), "f");
    r->setStringEncoding(http::ISOLatin1StringEncoding);
    auto c = r->copy();
    auto* copy = dynamic_cast<FormDataRequest*>(c.get());
    ASSERT_TRUE(copy);
    EXPECT_EQ(must<ns::Array>(copy->postData())->count(), 1u);
    EXPECT_EQ(must<ns::Array>(copy->fileData())->count(), 1u);
    EXPECT_EQ(copy->stringEncoding(), http::ISOLatin1StringEncoding);
    EXPECT_EQ(copy->postFormat(), r->postFormat());
    EXPECT_EQ(copy->requestMethod(), "POST");
    copy->addPostValue("2", "b");
    copy->addData(ns::Data::make("y"), "g");
    EXPECT_EQ(must<ns::Array>(r->postData())->count(), 1u);
    EXPECT_EQ(must<ns::Array>(r->fileData())->count(), 1u);
}

TEST_F(FormDataTest, AsynchronousPostAnswersOnTheMainThread) {
    auto delegate = ns::make<RecordingDelegate>();
    auto r = request("/tarnwick/WS/Tarnwick.php");
    r->setPostValue("SignUp", "metodo");
    r->setDelegate(delegate.get());
    r->startAsynchronous();
    ASSERT_TRUE(waitFor(r));
    drainMain();
    EXPECT_EQ(delegate->count("finished"), 1u) << delegate->joined();
    EXPECT_FALSE(delegate->offMain);
    EXPECT_EQ(last().target, "/tarnwick/WS/Tarnwick.php");
    EXPECT_EQ(last().body, "metodo=SignUp");
}
