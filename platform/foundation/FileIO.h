// Whole-file reads and atomic whole-file writes.
//
// Every file the app keeps is written through writeFileAtomically: readers
// see either the complete old file or the complete new one, never a mix,
// whatever happens to the process or the machine during the write.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Error.h"

namespace ns {

// Domain of errors from file operations; the code is the errno value.
inline constexpr const char* kFileErrorDomain = "FileErrorDomain";

// Writes `bytes` to `path` through a temporary file in the same folder:
// write, fsync, rename over `path`, fsync the folder. Returns true on
// success. On failure returns false, stores an error (kFileErrorDomain,
// errno as code, the path in its description) in *error when given, removes
// the temporary file and leaves any existing file at `path` untouched.
// The new file gets permission bits `mode` (before the umask is applied).
//
// Where the file system allows it the bytes are first written to a file
// without a name, which is named only for the rename: a process killed
// while writing leaves nothing behind. Otherwise, and in the moment between
// naming and renaming, a killed process leaves a temporary file named
// ".<name>.tmp.<pid>.<n>.<random>" beside `path`, which
// removeLeftoverTemporaryFiles clears.
bool writeFileAtomically(const std::string& path, std::string_view bytes,
                         Ref<Error>* error = nullptr, unsigned mode = 0644);

// Whose leftover temporary files removeLeftoverTemporaryFiles takes.
enum class LeftoverOwners {
    // Only those of processes that no longer run (a save may be under way).
    DeadProcesses,
    // Every one: for callers that hold a lock every saver of the file takes.
    Any,
};

// Removes the temporary files that writeFileAtomically left in `folder`
// for the file named `fileName` (for every file when `fileName` is empty)
// from saves that were killed. Returns how many were removed. Meant for a
// program's start and for writers that own the file alone.
size_t removeLeftoverTemporaryFiles(const std::string& folder, std::string_view fileName = {},
                                    LeftoverOwners owners = LeftoverOwners::DeadProcesses);

// Writes all `length` bytes to the descriptor, retrying short writes and
// interruptions. Returns false (errno set) when a write fails.
bool writeAll(int fd, const void* bytes, size_t length);
inline bool writeAll(int fd, std::string_view bytes) { return writeAll(fd, bytes.data(), bytes.size()); }

// Reads the whole file at `path`. Returns nullopt and stores an error when
// the file is missing, unreadable, not a regular file, or larger than
// `maxBytes` (code EFBIG). A file that is not regular (a named pipe, a
// socket, a device: code EINVAL; a folder: EISDIR) is refused without being
// opened, so a pipe nobody writes to never blocks the reader.
std::optional<std::string> readFile(const std::string& path, Ref<Error>* error = nullptr,
                                    size_t maxBytes = 256u << 20);

// Makes the error writeFileAtomically and readFile report: kFileErrorDomain,
// `err` as code, a description "<what> <path>: <strerror>", and the path under
// "NSFilePath".
Ref<Error> fileError(int err, std::string_view what, const std::string& path);

}  // namespace ns
