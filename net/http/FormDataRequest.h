// FormDataRequest: an HTTPRequest that posts HTML-form style fields.
//
// The caller adds named text values and named files or data blocks; when
// the request starts, they are turned into the body once: URL-encoded
// ("application/x-www-form-urlencoded", the default) or multipart form data
// (chosen as soon as a file or data block is attached), with the matching
// Content-Type header. Length, method, compression and sending are the
// engine's (HTTPRequest).
//
// Configure on one thread before starting; the body is built on the thread
// that runs the request. The field and file lists are guarded by a lock.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "net/http/HTTPRequest.h"
#include "platform/foundation/Array.h"
#include "platform/foundation/Data.h"
#include "platform/foundation/Dictionary.h"
#include "platform/foundation/String.h"

namespace http {

enum PostFormat : int32_t {
    multipartFormDataPostFormat = 0,
    URLEncodedPostFormat = 1,
};

// Text encodings a form can be written in (the platform's numbers).
enum StringEncoding : uint64_t {
    ASCIIStringEncoding = 1,
    UTF8StringEncoding = 4,
    ISOLatin1StringEncoding = 5,
};

class FormDataRequest : public HTTPRequest {
public:
    // initWithURL: the engine's defaults, then URL-encoded, UTF-8, "POST".
    explicit FormDataRequest(ns::Ref<ns::URL> url);
    const char* className() const override { return "FormDataRequest"; }
    static ns::Ref<FormDataRequest> requestWithURL(ns::Ref<ns::URL> url);

    // --- Fields ------------------------------------------------------------
    // Appends {"key", "value": the value's description}; a nil key (or a nil
    // value) adds nothing.
    void addPostValue(const ns::Object* value, const ns::String* key);
    // Removes every field with an equal key, then adds.
    void setPostValue(const ns::Object* value, const ns::String* key);
    void addPostValue(const std::string& value, const std::string& key);
    void setPostValue(const std::string& value, const std::string& key);

    // --- Files and data ------------------------------------------------------
    // A file read when the body is built. A path that is not a regular file
    // fails the request (code 6, "No file exists at <path>") and the entry is
    // still added. An empty file name becomes the path's last component, an
    // empty content type the engine's type for the path.
    void addFile(const std::string& path, const std::string& key);
    void addFile(const std::string& path, const std::string& fileName, const std::string& contentType,
                 const std::string& key);
    void setFile(const std::string& path, const std::string& key);
    void setFile(const std::string& path, const std::string& fileName, const std::string& contentType,
                 const std::string& key);
    // A block of bytes; file name "file" and "application/octet-stream"
    // unless given.
    void addData(ns::Ref<ns::Data> data, const std::string& key);
    void addData(ns::Ref<ns::Data> data, const std::string& fileName, const std::string& contentType,
                 const std::string& key);
    void setData(ns::Ref<ns::Data> data, const std::string& key);
    void setData(ns::Ref<ns::Data> data, const std::string& fileName, const std::string& contentType,
                 const std::string& key);

    // --- Properties ------------------------------------------------------------
    // The fields in order ({"key", "value"}); nil until the first is added.
    ns::Ref<ns::MutableArray> postData() const;
    void setPostData(ns::Ref<ns::MutableArray> a);
    // The files and data in order ({"key", "fileName", "contentType",
    // "data"}: an ns::Data, or an ns::String path); nil until the first.
    ns::Ref<ns::MutableArray> fileData() const;
    void setFileData(ns::Ref<ns::MutableArray> a);
    int32_t postFormat() const { return postFormat_; }
    void setPostFormat(int32_t f) { postFormat_ = f; }
    uint64_t stringEncoding() const { return stringEncoding_; }
    void setStringEncoding(uint64_t e) { stringEncoding_ = e; }

    // --- Body --------------------------------------------------------------
    // A name, value, file name or content type that stringEncoding cannot
    // write (text that is not UTF-8, or a character the encoding lacks)
    // fails the request before anything is sent, with code 6 and a
    // description naming the field ("The value of form field "city" cannot
    // be written as iso-8859-1"); it is never sent as an empty text.
    void buildPostBody() override;
    void buildMultipartFormDataPostBody();
    void buildURLEncodedPostBody();
    // Appends the text converted to stringEncoding (nothing when it cannot
    // be represented).
    void appendPostString(const std::string& text);
    // Percent-escapes everything but ASCII letters, digits, "-", "_" and ".",
    // as bytes of stringEncoding with upper-case hex; "" when the text cannot
    // be represented.
    std::string encodeURL(const std::string& text) const;

    // The IANA character-set name of an encoding ("utf-8", ...).
    static std::string charsetNameForEncoding(uint64_t encoding);
    // The text in the encoding; false when it cannot be represented (or the
    // encoding is not one this class writes).
    static bool convertText(const std::string& utf8, uint64_t encoding, std::string& out);

    ns::Ref<HTTPRequest> copy() const override;

protected:
    ns::Ref<HTTPRequest> makeBlankCopy(ns::Ref<ns::URL> url) const override;

private:
    static std::string quotedParameter(const std::string& text);
    // True when stringEncoding can write every name, value, file name and
    // content type of the form; otherwise fails the request (code 6, naming
    // the field) and answers false.
    bool formTextIsWritable(const ns::Array* fields, const ns::Array* files);

    mutable std::mutex listsMutex_;
    ns::Ref<ns::MutableArray> postData_;
    ns::Ref<ns::MutableArray> fileData_;
    int32_t postFormat_ = URLEncodedPostFormat;
    uint64_t stringEncoding_ = UTF8StringEncoding;
};

}  // namespace http
