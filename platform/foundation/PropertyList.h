// Property lists: trees of dictionaries (text keys), arrays, strings,
// numbers (integers up to unsigned 64-bit, reals, booleans), dates and data.
//
// Readers take XML ("<plist version="1.0">...") and binary ("bplist00")
// documents and detect which one they are given. They never trust the input:
// nesting depth, object counts and every length, offset and reference in a
// binary document are checked before use, cycles are refused, and a bad
// document gives nil plus an error in kPropertyListErrorDomain that says
// what is wrong and where.
//
// Writers produce XML (tab-indented, one element per line) or binary. Files
// are always written whole and atomically, so a reader never sees half a file.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Array.h"
#include "platform/foundation/Dictionary.h"
#include "platform/foundation/Error.h"

namespace ns {

inline constexpr const char* kPropertyListErrorDomain = "PropertyListErrorDomain";

// Error codes in kPropertyListErrorDomain.
enum PropertyListErrorCode : long {
    kPropertyListReadCorruptError = 1,     // not a well-formed property list
    kPropertyListReadTooDeepError = 2,     // nesting beyond maxDepth
    kPropertyListReadTooLargeError = 3,    // beyond maxBytes or maxObjects
    kPropertyListReadFileError = 4,        // the file could not be read (NSUnderlyingError)
    kPropertyListWriteInvalidError = 10,   // the object is not a property list
    kPropertyListWriteFileError = 11,      // the file could not be written (NSUnderlyingError)
};

enum class PropertyListFormat { XML, Binary };

enum class PropertyListMutability {
    Immutable,                  // Array, Dictionary, String, Data
    MutableContainers,          // MutableArray, MutableDictionary
    MutableContainersAndLeaves  // and MutableString, MutableData
};

struct PropertyListReadOptions {
    PropertyListMutability mutability = PropertyListMutability::Immutable;
    size_t maxDepth = 512;          // containers nested deeper are refused
    size_t maxBytes = 128u << 20;   // larger documents are refused
    size_t maxObjects = 16u << 20;  // values made while reading, all kinds
};

class PropertyList {
public:
    // Reads an XML or binary property list. Returns the root object, or nil
    // with *error set (kPropertyListErrorDomain) when the bytes are not one.
    // *format, when given, receives the format that was read.
    static Ref<Object> readFromData(std::string_view bytes, Ref<Error>* error = nullptr,
                                    const PropertyListReadOptions& options = {},
                                    PropertyListFormat* format = nullptr);
    // readFromData on the whole file. A missing or unreadable file gives
    // kPropertyListReadFileError with the file error under NSUnderlyingError.
    static Ref<Object> readFromFile(const std::string& path, Ref<Error>* error = nullptr,
                                    const PropertyListReadOptions& options = {},
                                    PropertyListFormat* format = nullptr);

    // Serialises `root`. Returns nullopt with kPropertyListWriteInvalidError
    // when the tree holds something that is not a property-list value (a
    // non-text key, Null, an unknown class) or nests deeper than 512.
    static std::optional<std::string> dataFromPropertyList(const Object& root, PropertyListFormat format,
                                                           Ref<Error>* error = nullptr);
    // Serialises and writes `root` to `path` atomically. `atomically` is
    // accepted for callers that pass it; every write goes through a
    // temporary file and a rename, whatever it says. The file gets the
    // permission bits `mode` (0600 for files that hold tokens).
    static bool writeToFile(const Object& root, const std::string& path, bool atomically = true,
                            Ref<Error>* error = nullptr,
                            PropertyListFormat format = PropertyListFormat::XML, unsigned mode = 0644);

    // True when `root` can be written as a property list.
    static bool isValidPropertyList(const Object& root);
};

// Collection-style helpers. They answer nil when the file is missing, is not
// a property list, or holds a root of another kind.
Ref<Array> arrayWithContentsOfFile(const std::string& path);
Ref<MutableArray> mutableArrayWithContentsOfFile(const std::string& path);  // mutable containers
Ref<Dictionary> dictionaryWithContentsOfFile(const std::string& path);
Ref<MutableDictionary> mutableDictionaryWithContentsOfFile(const std::string& path);
// Writes `root` as an XML property list; false (with *error) on failure.
bool writeToFile(const Object& root, const std::string& path, bool atomically = true,
                 Ref<Error>* error = nullptr);

}  // namespace ns
