// What a resumable download keeps beside its partial file: the validators
// (ETag, Last-Modified) and the length of the body that file is the start
// of, so that a later attempt, in this process or another, asks only for
// the rest of that body (Range with If-Range) and takes only an answer
// that continues it.
//
// Kept in "<partial file>.resume", written atomically (0600) when the
// partial file starts a body, gone with the partial file. A small text
// file: "resume 1", then "etag <value>", "last-modified <value>" and
// "length <digits>" lines, each present only when known, and "continue no"
// when the file holds a body that is never continued (an error answer's,
// or a part the caller asked for): its start is kept only until the
// attempt ends, and a file found with such a record starts over.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/foundation/Error.h"

namespace http {

struct ResumeRecord {
    std::optional<std::string> etag;
    std::optional<std::string> lastModified;
    // The whole body's length in bytes, as it comes (gzip bytes for a gzip body).
    std::optional<uint64_t> length;
    // Whether the file may be continued by a later attempt.
    bool continuable = true;

    // The largest record read; a larger file is not a record.
    static constexpr size_t kMaxBytes = 4096;

    static std::string pathFor(const std::string& partialPath) { return partialPath + ".resume"; }

    // The largest length kept or read: a signed 64-bit size, as file sizes
    // and progress amounts are.
    static constexpr uint64_t kMaxLength = uint64_t(INT64_MAX);

    bool empty() const { return !etag && !lastModified && !length; }
    // The value a resume sends as If-Range: the ETag when it is a strong
    // one (a weak one cannot be sent there), else Last-Modified; empty
    // when there is neither.
    std::string ifRangeValue() const;

    enum class Found { None, Read, Unreadable };
    // Reads the record at `path` into *record (emptied first): None when
    // there is no file, Unreadable when one is there but is not a record.
    static Found read(const std::string& path, ResumeRecord* record);
    // Writes this record at `path` atomically; a value that cannot be kept
    // on one line (CR, LF, NUL) is left out. Nil, or the file error.
    ns::Ref<ns::Error> write(const std::string& path) const;
};

}  // namespace http
