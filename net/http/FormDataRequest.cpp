#include "net/http/FormDataRequest.h"

#include <sys/stat.h>

#include "platform/foundation/Foundation.h"
#include "platform/security/Random.h"

namespace http {

namespace {

ns::Ref<ns::String> text(const std::string& s) { return ns::String::make(s); }

std::string textOf(const ns::Object* o) {
    if (!o) return {};
    if (auto* s = dynamic_cast<const ns::String*>(o)) return std::string(s->utf8());
    return o->description();
}

std::string lastPathComponent(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    size_t slash = p.rfind('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

// Removes every entry of `list` whose "key" equals `key` (text equality),
// scanning on after each removal.
void removeEntriesWithKey(ns::MutableArray* list, const std::string& key) {
    if (!list) return;
    for (size_t i = list->count(); i-- > 0;) {
        auto* entry = dynamic_cast<ns::Dictionary*>(list->objectAtIndex(i));
        if (entry && textOf(entry->objectForKey("key")) == key) list->removeObjectAtIndex(i);
    }
}

}  // namespace

FormDataRequest::FormDataRequest(ns::Ref<ns::URL> url) : HTTPRequest(std::move(url)) {
    postFormat_ = URLEncodedPostFormat;
    stringEncoding_ = UTF8StringEncoding;
    setRequestMethod("POST");
}

ns::Ref<FormDataRequest> FormDataRequest::requestWithURL(ns::Ref<ns::URL> url) {
    return ns::make<FormDataRequest>(std::move(url));
}

// -- Lists ---------------------------------------------------------------------------------------

ns::Ref<ns::MutableArray> FormDataRequest::postData() const {
    std::lock_guard<std::mutex> g(listsMutex_);
    return postData_;
}
void FormDataRequest::setPostData(ns::Ref<ns::MutableArray> a) {
    std::lock_guard<std::mutex> g(listsMutex_);
    postData_ = std::move(a);
}
ns::Ref<ns::MutableArray> FormDataRequest::fileData() const {
    std::lock_guard<std::mutex> g(listsMutex_);
    return fileData_;
}
void FormDataRequest::setFileData(ns::Ref<ns::MutableArray> a) {
    std::lock_guard<std::mutex> g(listsMutex_);
    fileData_ = std::move(a);
}

void FormDataRequest::addPostValue(const ns::Object* value, const ns::String* key) {
    if (!key) return;
    auto entry = ns::MutableDictionary::make();
    entry->setObjectForKey(text(std::string(key->utf8())), text("key"));
    // A missing value leaves the entry without "value" (sent as empty).
    if (value) entry->setObjectForKey(text(textOf(value)), text("value"));
    std::lock_guard<std::mutex> g(listsMutex_);
    if (!postData_) postData_ = ns::MutableArray::make();
    postData_->addObject(entry);
}

void FormDataRequest::setPostValue(const ns::Object* value, const ns::String* key) {
    if (key) {
        std::lock_guard<std::mutex> g(listsMutex_);
        removeEntriesWithKey(postData_.get(), std::string(key->utf8()));
    }
    addPostValue(value, key);
}

void FormDataRequest::addPostValue(const std::string& value, const std::string& key) {
    addPostValue(text(value).get(), text(key).get());
}
void FormDataRequest::setPostValue(const std::string& value, const std::string& key) {
    setPostValue(text(value).get(), text(key).get());
}

void FormDataRequest::addFile(const std::string& path, const std::string& key) { addFile(path, "", "", key); }

void FormDataRequest::addFile(const std::string& path, const std::string& fileName, const std::string& contentType,
                              const std::string& key) {
    struct stat st{};
    bool regular = ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    if (!regular) {
        auto info = ns::Dictionary::make({{ns::kLocalizedDescriptionKey, text("No file exists at " + path)}});
        failWithError(ns::Error::make(kHTTPRequestErrorDomain, kInternalErrorWhileBuildingRequestType, info));
    }
    std::string name = fileName.empty() ? lastPathComponent(path) : fileName;
    std::string type = contentType;
    if (type.empty()) {
        auto t = mimeTypeForFileAtPath(path);
        type = t ? t->utf8() : "application/octet-stream";
    }
    std::lock_guard<std::mutex> g(listsMutex_);
    if (!fileData_) fileData_ = ns::MutableArray::make();
    fileData_->addObject(ns::Dictionary::make(
        {{"key", text(key)}, {"fileName", text(name)}, {"contentType", text(type)}, {"data", text(path)}}));
}

void FormDataRequest::setFile(const std::string& path, const std::string& key) { setFile(path, "", "", key); }

void FormDataRequest::setFile(const std::string& path, const std::string& fileName, const std::string& contentType,
                              const std::string& key) {
    {
        std::lock_guard<std::mutex> g(listsMutex_);
        removeEntriesWithKey(fileData_.get(), key);
    }
    addFile(path, fileName, contentType, key);
}

void FormDataRequest::addData(ns::Ref<ns::Data> data, const std::string& key) {
    addData(std::move(data), "file", "", key);
}

void FormDataRequest::addData(ns::Ref<ns::Data> data, const std::string& fileName, const std::string& contentType,
                              const std::string& key) {
    ns::Ref<ns::Object> body = data ? ns::Ref<ns::Object>(data) : ns::Ref<ns::Object>(ns::Data::make(std::string_view()));
    std::lock_guard<std::mutex> g(listsMutex_);
    if (!fileData_) fileData_ = ns::MutableArray::make();
    fileData_->addObject(ns::Dictionary::make({{"key", text(key)},
                                               {"fileName", text(fileName)},
                                               {"contentType", text(contentType.empty() ? "application/octet-stream"
                                                                                        : contentType)},
                                               {"data", body}}));
}

void FormDataRequest::setData(ns::Ref<ns::Data> data, const std::string& key) {
    setData(std::move(data), "file", "", key);
}

void FormDataRequest::setData(ns::Ref<ns::Data> data, const std::string& fileName, const std::string& contentType,
                              const std::string& key) {
    {
        std::lock_guard<std::mutex> g(listsMutex_);
        removeEntriesWithKey(fileData_.get(), key);
    }
    addData(std::move(data), fileName, contentType, key);
}

// -- Encodings -------------------------------------------------------------------------------------

std::string FormDataRequest::charsetNameForEncoding(uint64_t encoding) {
    switch (encoding) {
    case ASCIIStringEncoding: return "us-ascii";
    case ISOLatin1StringEncoding: return "iso-8859-1";
    case UTF8StringEncoding: return "utf-8";
    default: return "utf-8";
    }
}

bool FormDataRequest::convertText(const std::string& utf8, uint64_t encoding, std::string& out) {
    out.clear();
    if (!ns::isValidUTF8(utf8.data(), utf8.size())) return false;
    if (encoding == UTF8StringEncoding) {
        out = utf8;
        return true;
    }
    if (encoding != ASCIIStringEncoding && encoding != ISOLatin1StringEncoding) return false;
    const char32_t limit = encoding == ASCIIStringEncoding ? 0x7F : 0xFF;
    for (size_t i = 0; i < utf8.size();) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        char32_t cp;
        size_t n;
        if (c < 0x80) { cp = c; n = 1; }
        else if ((c & 0xE0) == 0xC0) { cp = c & 0x1F; n = 2; }
        else if ((c & 0xF0) == 0xE0) { cp = c & 0x0F; n = 3; }
        else { cp = c & 0x07; n = 4; }
        for (size_t k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        if (cp > limit) {
            out.clear();
            return false;
        }
        out.push_back(static_cast<char>(cp));
        i += n;
    }
    return true;
}

std::string FormDataRequest::encodeURL(const std::string& textToEscape) const {
    std::string bytes;
    if (!convertText(textToEscape, stringEncoding_, bytes)) return {};
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 3);
    for (unsigned char c : bytes) {
        bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                    c == '_' || c == '.';
        if (keep) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 15]);
        }
    }
    return out;
}

void FormDataRequest::appendPostString(const std::string& s) {
    std::string bytes;
    if (!convertText(s, stringEncoding_, bytes) || bytes.empty()) return;
    appendPostData(*ns::Data::make(bytes.data(), bytes.size()));
}

// A field name or file name inside a quoted header parameter. A double
// quote, CR or LF would end the parameter or the header line (and let a
// name forge parts of the body), so they are written percent-escaped, as
// browsers do.
std::string FormDataRequest::quotedParameter(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        if (c == '"') out += "%22";
        else if (c == '\r') out += "%0D";
        else if (c == '\n') out += "%0A";
        else out.push_back(c);
    }
    return out;
}

// -- Body --------------------------------------------------------------------------------------------

void FormDataRequest::buildPostBody() {
    if (haveBuiltPostBody()) return;
    auto fields = postData();
    auto files = fileData();
    if (!fields && !files) {
        HTTPRequest::buildPostBody();
        return;
    }
    if (files && files->count() > 0) setShouldStreamPostDataFromDisk(true);
    if (postFormat_ == URLEncodedPostFormat) buildURLEncodedPostBody();
    else buildMultipartFormDataPostBody();
    if (error()) return;  // a text or a file of the form could not be written: failed, nothing sent
    HTTPRequest::buildPostBody();
}

// A text of the form that stringEncoding cannot write (one that is not
// UTF-8 at all: ns::String::make takes bytes as they are given) would be
// sent as nothing, and the service would take an empty value for the one
// the caller set. The request fails instead, before anything is sent,
// naming the field (never its value, which may be a secret).
bool FormDataRequest::formTextIsWritable(const ns::Array* fields, const ns::Array* files) {
    std::string ignored;
    auto writable = [&](const std::string& t) { return convertText(t, stringEncoding_, ignored); };
    auto fail = [&](const char* what, const std::string& key) {
        std::string field = ns::isValidUTF8(key.data(), key.size()) ? "form field \"" + key + "\""
                                                                     : "a form field whose name is not UTF-8 text";
        auto info = ns::Dictionary::make({{ns::kLocalizedDescriptionKey,
                                           text(std::string(what) + " of " + field + " cannot be written as " +
                                                charsetNameForEncoding(stringEncoding_))}});
        failWithError(ns::Error::make(kHTTPRequestErrorDomain, kInternalErrorWhileBuildingRequestType, info));
        return false;
    };
    for (size_t i = 0, n = fields ? fields->count() : 0; i < n; ++i) {
        auto* entry = dynamic_cast<ns::Dictionary*>(fields->objectAtIndex(i));
        if (!entry) continue;
        const std::string key = textOf(entry->objectForKey("key"));
        if (!writable(key)) return fail("The name", key);
        if (!writable(textOf(entry->objectForKey("value")))) return fail("The value", key);
    }
    for (size_t i = 0, n = files ? files->count() : 0; i < n; ++i) {
        auto* entry = dynamic_cast<ns::Dictionary*>(files->objectAtIndex(i));
        if (!entry) continue;
        const std::string key = textOf(entry->objectForKey("key"));
        if (!writable(key)) return fail("The name", key);
        if (!writable(textOf(entry->objectForKey("fileName")))) return fail("The file name", key);
        if (!writable(textOf(entry->objectForKey("contentType")))) return fail("The content type", key);
    }
    return true;
}

void FormDataRequest::buildURLEncodedPostBody() {
    auto files = fileData();
    if (files && files->count() > 0) {
        postFormat_ = multipartFormDataPostFormat;
        buildMultipartFormDataPostBody();
        return;
    }
    auto fields = postData();
    if (!formTextIsWritable(fields.get(), nullptr)) return;
    addRequestHeader("Content-Type",
                     "application/x-www-form-urlencoded; charset=" + charsetNameForEncoding(stringEncoding_));
    size_t n = fields ? fields->count() : 0;
    for (size_t i = 0; i < n; ++i) {
        auto* entry = dynamic_cast<ns::Dictionary*>(fields->objectAtIndex(i));
        std::string key = entry ? textOf(entry->objectForKey("key")) : std::string();
        std::string value = entry ? textOf(entry->objectForKey("value")) : std::string();
        appendPostString(encodeURL(key) + "=" + encodeURL(value) + (i + 1 < n ? "&" : ""));
    }
}

void FormDataRequest::buildMultipartFormDataPostBody() {
    auto fields = postData();
    auto files = fileData();
    if (!formTextIsWritable(fields.get(), files.get())) return;
    std::string charset = charsetNameForEncoding(stringEncoding_);
    std::string boundary = "0xKhTmLbOuNdArY-" + sec::uuidString();
    addRequestHeader("Content-Type", "multipart/form-data; charset=" + charset + "; boundary=" + boundary);
    appendPostString("--" + boundary + "\r\n");

    size_t nFields = fields ? fields->count() : 0;
    size_t nFiles = files ? files->count() : 0;
    const std::string separator = "\r\n--" + boundary + "\r\n";

    for (size_t i = 0; i < nFields; ++i) {
        auto* entry = dynamic_cast<ns::Dictionary*>(fields->objectAtIndex(i));
        std::string key = entry ? textOf(entry->objectForKey("key")) : std::string();
        std::string value = entry ? textOf(entry->objectForKey("value")) : std::string();
        appendPostString("Content-Disposition: form-data; name=\"" + quotedParameter(key) + "\"\r\n\r\n");
        appendPostString(value);
        if (i + 1 < nFields || nFiles > 0) appendPostString(separator);
    }
    for (size_t j = 0; j < nFiles; ++j) {
        auto* entry = dynamic_cast<ns::Dictionary*>(files->objectAtIndex(j));
        if (!entry) continue;
        appendPostString("Content-Disposition: form-data; name=\"" + quotedParameter(textOf(entry->objectForKey("key"))) +
                         "\"; filename=\"" + quotedParameter(textOf(entry->objectForKey("fileName"))) + "\"\r\n");
        appendPostString("Content-Type: " + quotedParameter(textOf(entry->objectForKey("contentType"))) + "\r\n\r\n");
        ns::Object* data = entry->objectForKey("data");
        if (auto* path = dynamic_cast<ns::String*>(data)) {
            if (!appendPostDataFromFile(std::string(path->utf8()))) return;  // the request has failed
        } else if (auto* bytes = dynamic_cast<ns::Data*>(data)) {
            appendPostData(*bytes);
        }
        if (j + 1 < nFiles) appendPostString(separator);
    }
    appendPostString("\r\n--" + boundary + "--\r\n");
}

// -- Copies ------------------------------------------------------------------------------------------

ns::Ref<HTTPRequest> FormDataRequest::makeBlankCopy(ns::Ref<ns::URL> url) const {
    return ns::make<FormDataRequest>(std::move(url));
}

ns::Ref<HTTPRequest> FormDataRequest::copy() const {
    auto r = HTTPRequest::copy();
    auto* f = dynamic_cast<FormDataRequest*>(r.get());
    if (!f) return r;
    {
        std::lock_guard<std::mutex> g(listsMutex_);
        f->postData_ = postData_ ? postData_->mutableCopy() : nullptr;
        f->fileData_ = fileData_ ? fileData_->mutableCopy() : nullptr;
    }
    f->postFormat_ = postFormat_;
    f->stringEncoding_ = stringEncoding_;
    f->setRequestMethod(requestMethod());
    return r;
}

}  // namespace http
