// File-system operations on paths, with failures reported as errors in
// kFileErrorDomain (errno as the code, the path in the description).
// Operations that replace file contents do it atomically.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Array.h"
#include "platform/foundation/Dictionary.h"
#include "platform/foundation/Error.h"

namespace ns {

// Keys of attributesOfItemAtPath.
inline constexpr const char* kFileSize = "NSFileSize";                          // Number (unsigned)
inline constexpr const char* kFileModificationDate = "NSFileModificationDate";  // Date
inline constexpr const char* kFileType = "NSFileType";                          // String, one of:
inline constexpr const char* kFileTypeRegular = "NSFileTypeRegular";
inline constexpr const char* kFileTypeDirectory = "NSFileTypeDirectory";
inline constexpr const char* kFileTypeSymbolicLink = "NSFileTypeSymbolicLink";
inline constexpr const char* kFileTypeUnknown = "NSFileTypeUnknown";
inline constexpr const char* kFilePosixPermissions = "NSFilePosixPermissions";  // Number

class FileManager : public Object {
public:
    const char* className() const override { return "FileManager"; }
    // The process-wide instance. It keeps no state; any thread may use it.
    static FileManager* defaultManager();

    // True when something exists at `path` (symbolic links followed);
    // *isDirectory says whether it is a folder.
    bool fileExistsAtPath(const std::string& path, bool* isDirectory = nullptr) const;
    bool isReadableFileAtPath(const std::string& path) const;

    // Creates the folder; with intermediates, also its missing parents, and
    // an existing folder is success. Without, an existing path is EEXIST.
    bool createDirectoryAtPath(const std::string& path, bool withIntermediateDirectories,
                               Ref<Error>* error = nullptr, unsigned mode = 0755);
    // Writes `contents` to `path` atomically, replacing any file there.
    bool createFileAtPath(const std::string& path, std::string_view contents, Ref<Error>* error = nullptr);
    // The whole file, or nullopt when it cannot be read.
    std::optional<std::string> contentsAtPath(const std::string& path) const;

    // Removes a file, link or folder with everything in it. A missing path
    // is an error (ENOENT).
    bool removeItemAtPath(const std::string& path, Ref<Error>* error = nullptr);
    // Moves (renames) an item. Fails with EEXIST when `to` exists; across
    // file systems it copies and then removes the original.
    bool moveItemAtPath(const std::string& from, const std::string& to, Ref<Error>* error = nullptr);
    // Copies a file (atomically), a link, or a folder tree. Fails with EEXIST
    // when `to` exists.
    bool copyItemAtPath(const std::string& from, const std::string& to, Ref<Error>* error = nullptr);

    // Names of the entries in a folder (not "." or ".."), sorted; nil with
    // an error when it cannot be listed.
    Ref<Array> contentsOfDirectoryAtPath(const std::string& path, Ref<Error>* error = nullptr) const;
    // Size, modification date, type and permissions of the item (links not
    // followed); nil with an error when it does not exist.
    Ref<Dictionary> attributesOfItemAtPath(const std::string& path, Ref<Error>* error = nullptr) const;
};

}  // namespace ns
