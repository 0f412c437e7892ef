// Keyed archiving: records that encode their fields by name, stored as a
// property list, and rebuilt by class name through a registry.
//
// A record class derives from Object and Coding, implements encodeWithCoder
// (write each field under its name) and initWithCoder (read them back), and
// is registered once under its className():
//
//   ns::ClassRegistry::registerClass<EDAMUser>("EDAMUser");
//   auto bytes = ns::KeyedArchiver::archivedDataWithRootObject(*user);
//   auto back  = ns::KeyedUnarchiver::unarchiveObjectWithData(*bytes, &error);
//
// Objects may be records, strings, numbers, data, dates, arrays and
// dictionaries of these, Null, or nil. The archive is a tree: an object
// reached twice is stored twice, and a cycle is refused (as too deep).
// Decoding never trusts the archive: unknown classes, wrong value types and
// out-of-range integers make the unarchiver answer nil with an error
// (kKeyedArchiveErrorDomain) instead of a half-built object.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Dictionary.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Object.h"

namespace ns {

inline constexpr const char* kKeyedArchiveErrorDomain = "KeyedArchiveErrorDomain";
enum KeyedArchiveErrorCode : long {
    kKeyedArchiveCorruptError = 1,       // not an archive, or a value of the wrong kind
    kKeyedArchiveUnknownClassError = 2,  // a class name with no registered factory
    kKeyedArchiveRefusedError = 3,       // initWithCoder answered false
    kKeyedArchiveInvalidObjectError = 4, // encoding met an object it cannot store
};

class Coder;

// What an archivable record implements.
class Coding {
public:
    virtual ~Coding() = default;
    virtual void encodeWithCoder(Coder& coder) const = 0;
    // Fills the freshly made object from the archive; false refuses it.
    virtual bool initWithCoder(Coder& coder) = 0;
};

// Makes empty instances of archivable classes by name.
class ClassRegistry {
public:
    using Factory = std::function<Ref<Object>()>;
    static void registerClass(std::string name, Factory factory);
    template <class T>
    static void registerClass(std::string name) {
        registerClass(std::move(name), [] { return Ref<Object>(make<T>()); });
    }
    // A new instance, or nil when nothing is registered under `name`.
    static Ref<Object> instantiate(std::string_view name);
    static bool isRegistered(std::string_view name);
};

// Passed to encodeWithCoder and initWithCoder. An encoding coder only
// encodes and a decoding coder only decodes; the other calls raise
// InvalidArgumentException.
class Coder {
public:
    bool isEncoding() const { return encoding_; }

    void encodeObject(const Object* object, std::string_view key);
    void encodeObject(const Ref<Object>& object, std::string_view key) { encodeObject(object.get(), key); }
    template <class T>
    void encodeObject(const Ref<T>& object, std::string_view key) { encodeObject(static_cast<const Object*>(object.get()), key); }
    void encodeBool(bool value, std::string_view key);
    void encodeInt(int value, std::string_view key);
    void encodeInt32(int32_t value, std::string_view key);
    void encodeInt64(int64_t value, std::string_view key);
    void encodeDouble(double value, std::string_view key);

    // True when the archive holds `key` (also when it holds nil there).
    bool containsValueForKey(std::string_view key) const;
    // The object under `key`; nil when absent or nil. A value that cannot be
    // decoded marks the whole unarchiving as failed.
    Ref<Object> decodeObjectForKey(std::string_view key);
    // decodeObjectForKey that also requires the class: a present value of
    // another class fails the unarchiving.
    template <class T>
    Ref<T> decodeObjectOfClassForKey(std::string_view key) {
        Ref<Object> o = decodeObjectForKey(key);
        if (o && !dynamic_cast<T*>(o.get())) {
            fail(kKeyedArchiveCorruptError, "value for \"" + std::string(key) + "\" is a " + o->className());
            return nullptr;
        }
        return cast<T>(o);
    }
    // Absent keys give false / 0. A present value of the wrong kind or out
    // of the type's range fails the unarchiving and gives 0.
    bool decodeBoolForKey(std::string_view key);
    int decodeIntForKey(std::string_view key);
    int32_t decodeInt32ForKey(std::string_view key);
    int64_t decodeInt64ForKey(std::string_view key);
    double decodeDoubleForKey(std::string_view key);

    // Marks the unarchiving (or archiving) as failed; the first failure wins.
    void fail(long code, std::string message);
    const Ref<Error>& error() const { return error_; }

private:
    friend class KeyedArchiver;
    friend class KeyedUnarchiver;
    Coder(bool encoding, size_t depth) : encoding_(encoding), depth_(depth) {}
    Ref<Object> encodeValue(const Object* object);
    Ref<Object> decodeValue(Object* stored);
    void requireEncoding() const;
    void requireDecoding() const;
    Number* numberForKey(std::string_view key, const char* kind);

    bool encoding_;
    size_t depth_;
    Ref<MutableDictionary> fields_;   // encoding: what is written
    Ref<Dictionary> stored_;          // decoding: what was read
    Ref<Error> error_;
    Coder* root_ = nullptr;           // where failures are recorded
};

class KeyedArchiver {
public:
    // The archive of `root` as a binary property list, or nullopt with
    // *error when something in it cannot be archived.
    static std::optional<std::string> archivedDataWithRootObject(const Object& root, Ref<Error>* error = nullptr);
    // Writes the archive atomically.
    static bool archiveRootObjectToFile(const Object& root, const std::string& path, Ref<Error>* error = nullptr);
};

class KeyedUnarchiver {
public:
    // The object rebuilt from an archive, or nil with *error.
    static Ref<Object> unarchiveObjectWithData(std::string_view bytes, Ref<Error>* error = nullptr);
    static Ref<Object> unarchiveObjectWithFile(const std::string& path, Ref<Error>* error = nullptr);
};

}  // namespace ns
