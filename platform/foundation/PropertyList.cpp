#include "platform/foundation/PropertyList.h"

#include <cerrno>
#include <cstring>

#include "platform/foundation/FileIO.h"
#include "platform/foundation/PropertyListInternal.h"
#include "platform/foundation/String.h"

namespace ns {

Ref<Object> PropertyList::readFromData(std::string_view bytes, Ref<Error>* error,
                                       const PropertyListReadOptions& options, PropertyListFormat* format) {
    if (bytes.size() >= 6 && std::memcmp(bytes.data(), "bplist", 6) == 0) {
        if (format) *format = PropertyListFormat::Binary;
        return plist::readBinary(bytes, options, error);
    }
    if (format) *format = PropertyListFormat::XML;
    return plist::readXML(bytes, options, error);
}

Ref<Object> PropertyList::readFromFile(const std::string& path, Ref<Error>* error,
                                       const PropertyListReadOptions& options, PropertyListFormat* format) {
    Ref<Error> fileError;
    auto bytes = readFile(path, &fileError, options.maxBytes);
    if (!bytes) {
        if (error) {
            long code = fileError && fileError->code() == EFBIG ? kPropertyListReadTooLargeError
                                                                 : kPropertyListReadFileError;
            *error = Error::make(kPropertyListErrorDomain, code,
                                 Dictionary::make({{kLocalizedDescriptionKey,
                                                    String::make(fileError->localizedDescription())},
                                                   {kUnderlyingErrorKey, fileError}}));
        }
        return nullptr;
    }
    Ref<Error> parseError;
    Ref<Object> root = readFromData(*bytes, &parseError, options, format);
    if (!root && error) {
        *error = Error::make(kPropertyListErrorDomain, parseError->code(),
                             Dictionary::make({{kLocalizedDescriptionKey,
                                                String::make(path + ": " + parseError->localizedDescription())},
                                               {"NSFilePath", String::make(path)}}));
    }
    return root;
}

std::optional<std::string> PropertyList::dataFromPropertyList(const Object& root, PropertyListFormat format,
                                                              Ref<Error>* error) {
    std::string out;
    bool ok = format == PropertyListFormat::Binary ? plist::writeBinary(root, out, error)
                                                   : plist::writeXML(root, out, error);
    if (!ok) return std::nullopt;
    return out;
}

bool PropertyList::writeToFile(const Object& root, const std::string& path, bool /*atomically*/,
                               Ref<Error>* error, PropertyListFormat format, unsigned mode) {
    auto bytes = dataFromPropertyList(root, format, error);
    if (!bytes) return false;
    Ref<Error> fileError;
    if (!writeFileAtomically(path, *bytes, &fileError, mode)) {
        if (error)
            *error = Error::make(kPropertyListErrorDomain, kPropertyListWriteFileError,
                                 Dictionary::make({{kLocalizedDescriptionKey,
                                                    String::make(fileError->localizedDescription())},
                                                   {kUnderlyingErrorKey, fileError}}));
        return false;
    }
    return true;
}

bool PropertyList::isValidPropertyList(const Object& root) {
    std::string scratch;
    return plist::writeBinary(root, scratch, nullptr);
}

namespace {
template <class T>
Ref<T> rootOfKind(const std::string& path, PropertyListMutability mutability) {
    PropertyListReadOptions options;
    options.mutability = mutability;
    return cast<T>(PropertyList::readFromFile(path, nullptr, options));
}
}  // namespace

Ref<Array> arrayWithContentsOfFile(const std::string& path) {
    return rootOfKind<Array>(path, PropertyListMutability::Immutable);
}
Ref<MutableArray> mutableArrayWithContentsOfFile(const std::string& path) {
    return rootOfKind<MutableArray>(path, PropertyListMutability::MutableContainers);
}
Ref<Dictionary> dictionaryWithContentsOfFile(const std::string& path) {
    return rootOfKind<Dictionary>(path, PropertyListMutability::Immutable);
}
Ref<MutableDictionary> mutableDictionaryWithContentsOfFile(const std::string& path) {
    return rootOfKind<MutableDictionary>(path, PropertyListMutability::MutableContainers);
}

bool writeToFile(const Object& root, const std::string& path, bool atomically, Ref<Error>* error) {
    return PropertyList::writeToFile(root, path, atomically, error);
}

}  // namespace ns
