// Keyed archiving of records: each set field is stored under its field name
// with an operation chosen by its type (booleans, plain integers, 32- and
// 64-bit integers, doubles, objects). `Coder` is the interface records use;
// `KeyedArchive` is the implementation we ship, backed by a dictionary whose
// numbers keep the type code of the operation that stored them.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/foundation/Dictionary.h"
#include "platform/foundation/Object.h"

namespace evernote {

// Keys under which a service exception archives its name and reason.
inline constexpr const char* kExceptionNameKey = "exceptionName";
inline constexpr const char* kExceptionReasonKey = "exceptionReason";

class Coder {
public:
    virtual ~Coder() = default;

    virtual void encodeBool(bool value, std::string_view key) = 0;
    virtual void encodeInt(int value, std::string_view key) = 0;
    virtual void encodeInt32(int32_t value, std::string_view key) = 0;
    virtual void encodeInt64(int64_t value, std::string_view key) = 0;
    virtual void encodeDouble(double value, std::string_view key) = 0;
    // nil is archived too and decodes as nil.
    virtual void encodeObject(const ns::Ref<ns::Object>& value, std::string_view key) = 0;

    virtual bool containsValueForKey(std::string_view key) const = 0;
    // Each answers zero, false or nil when the key is absent or holds another kind.
    virtual bool decodeBoolForKey(std::string_view key) const = 0;
    virtual int decodeIntForKey(std::string_view key) const = 0;
    virtual int32_t decodeInt32ForKey(std::string_view key) const = 0;
    virtual int64_t decodeInt64ForKey(std::string_view key) const = 0;
    virtual double decodeDoubleForKey(std::string_view key) const = 0;
    virtual ns::Ref<ns::Object> decodeObjectForKey(std::string_view key) const = 0;
};

class KeyedArchive : public Coder {
public:
    KeyedArchive();
    // Reads from (and writes to) an existing archive's dictionary.
    explicit KeyedArchive(ns::Ref<ns::Dictionary> contents);

    // The archived values by key; nil objects are stored as the null object.
    ns::Ref<ns::Dictionary> contents() const;

    void encodeBool(bool value, std::string_view key) override;
    void encodeInt(int value, std::string_view key) override;
    void encodeInt32(int32_t value, std::string_view key) override;
    void encodeInt64(int64_t value, std::string_view key) override;
    void encodeDouble(double value, std::string_view key) override;
    void encodeObject(const ns::Ref<ns::Object>& value, std::string_view key) override;

    bool containsValueForKey(std::string_view key) const override;
    bool decodeBoolForKey(std::string_view key) const override;
    int decodeIntForKey(std::string_view key) const override;
    int32_t decodeInt32ForKey(std::string_view key) const override;
    int64_t decodeInt64ForKey(std::string_view key) const override;
    double decodeDoubleForKey(std::string_view key) const override;
    ns::Ref<ns::Object> decodeObjectForKey(std::string_view key) const override;

private:
    ns::Ref<ns::MutableDictionary> values_;
};

}  // namespace evernote
