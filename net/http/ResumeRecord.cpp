#include "net/http/ResumeRecord.h"

#include <cerrno>
#include <string_view>

#include "net/http/RequestErrors.h"
#include "platform/foundation/FileIO.h"
#include "platform/network/HTTPMessage.h"

namespace http {

namespace {

constexpr std::string_view kFirstLine = "resume 1";

bool fitsOnALine(const std::string& value) {
    return !value.empty() && value.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos;
}

}  // namespace

std::string ResumeRecord::ifRangeValue() const {
    if (etag && etag->rfind("W/", 0) != 0) return *etag;
    return lastModified.value_or("");
}

ResumeRecord::Found ResumeRecord::read(const std::string& path, ResumeRecord* record) {
    *record = {};
    ns::Ref<ns::Error> error;
    auto text = ns::readFile(path, &error, kMaxBytes);
    if (!text) return error && error->code() == ENOENT ? Found::None : Found::Unreadable;
    std::string_view rest(*text);
    auto nextLine = [&](std::string_view& line) {
        const size_t end = rest.find('\n');
        if (end == std::string_view::npos) return false;  // every line ends with LF
        line = rest.substr(0, end);
        rest.remove_prefix(end + 1);
        return true;
    };
    std::string_view line;
    if (!nextLine(line) || line != kFirstLine) return Found::Unreadable;
    ResumeRecord read;
    while (!rest.empty()) {
        if (!nextLine(line)) return Found::Unreadable;
        const size_t space = line.find(' ');
        if (space == std::string_view::npos || space + 1 == line.size()) return Found::Unreadable;
        const std::string_view key = line.substr(0, space);
        const std::string value(line.substr(space + 1));
        // Each field once; an unknown one means a record this build cannot read.
        if (key == "etag" && !read.etag) {
            read.etag = value;
        } else if (key == "last-modified" && !read.lastModified) {
            read.lastModified = value;
        } else if (key == "length" && !read.length) {
            read.length = net::parseDecimal(value);
            if (!read.length || *read.length > kMaxLength) return Found::Unreadable;
        } else if (key == "continue" && value == "no" && read.continuable) {
            read.continuable = false;
        } else {
            return Found::Unreadable;
        }
    }
    *record = std::move(read);
    return Found::Read;
}

ns::Ref<ns::Error> ResumeRecord::write(const std::string& path) const {
    std::string text(kFirstLine);
    text += '\n';
    if (etag && fitsOnALine(*etag)) text += "etag " + *etag + "\n";
    if (lastModified && fitsOnALine(*lastModified)) text += "last-modified " + *lastModified + "\n";
    if (length && *length <= kMaxLength) text += "length " + std::to_string(*length) + "\n";
    const std::string never = continuable ? "" : "continue no\n";
    // Validators too long to keep are left out; whether the file may be
    // continued never is.
    if (text.size() + never.size() > kMaxBytes) text = std::string(kFirstLine) + "\n";
    text += never;
    ns::Ref<ns::Error> error;
    if (ns::writeFileAtomically(path, text, &error, 0600)) return nullptr;
    return fileError("Failed to write the resume record", path, error ? static_cast<int>(error->code()) : EIO,
                     "write");
}

}  // namespace http
