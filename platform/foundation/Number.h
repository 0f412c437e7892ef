// Boxed numbers. A number keeps the type code it was made with (so writers
// can tell a bool from an integer and an unsigned value from a signed one);
// values compare equal across types when they are numerically equal.
// True and false are two shared objects.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/foundation/Object.h"

namespace ns {

class String;

enum class NumberType : char {
    Bool = 'B',
    Char = 'c',
    UnsignedChar = 'C',
    Short = 's',
    UnsignedShort = 'S',
    Int = 'i',
    UnsignedInt = 'I',
    Long = 'l',
    UnsignedLong = 'L',
    LongLong = 'q',
    UnsignedLongLong = 'Q',
    Float = 'f',
    Double = 'd',
};

class Number : public Object {
public:
    const char* className() const override { return "Number"; }
    std::string description() const override;
    bool isEqual(const Object& other) const override;
    size_t hash() const override;

    static Ref<Number> numberWithBool(bool v);
    static Ref<Number> numberWithChar(signed char v) { return make(NumberType::Char, int64_t(v)); }
    static Ref<Number> numberWithShort(short v) { return make(NumberType::Short, int64_t(v)); }
    static Ref<Number> numberWithInt(int v) { return make(NumberType::Int, int64_t(v)); }
    static Ref<Number> numberWithInteger(long v) { return make(NumberType::Long, int64_t(v)); }
    static Ref<Number> numberWithLong(long v) { return make(NumberType::Long, int64_t(v)); }
    static Ref<Number> numberWithLongLong(long long v) { return make(NumberType::LongLong, int64_t(v)); }
    static Ref<Number> numberWithUnsignedInt(unsigned v) { return makeUnsigned(NumberType::UnsignedInt, v); }
    static Ref<Number> numberWithUnsignedLong(unsigned long v) { return makeUnsigned(NumberType::UnsignedLong, v); }
    static Ref<Number> numberWithUnsignedLongLong(unsigned long long v) {
        return makeUnsigned(NumberType::UnsignedLongLong, v);
    }
    static Ref<Number> numberWithFloat(float v) { return makeDouble(NumberType::Float, v); }
    static Ref<Number> numberWithDouble(double v) { return makeDouble(NumberType::Double, v); }

    static Ref<Number> make(NumberType type, int64_t v);
    static Ref<Number> makeUnsigned(NumberType type, uint64_t v);
    static Ref<Number> makeDouble(NumberType type, double v);

    NumberType type() const { return type_; }
    char objCType() const { return static_cast<char>(type_); }
    bool isBool() const { return type_ == NumberType::Bool; }
    bool isFloatingPoint() const { return type_ == NumberType::Float || type_ == NumberType::Double; }
    bool isUnsigned() const {
        switch (type_) {
            case NumberType::UnsignedChar:
            case NumberType::UnsignedShort:
            case NumberType::UnsignedInt:
            case NumberType::UnsignedLong:
            case NumberType::UnsignedLongLong: return true;
            default: return false;
        }
    }

    bool boolValue() const;
    int intValue() const { return static_cast<int>(longLongValue()); }
    long longValue() const { return static_cast<long>(longLongValue()); }
    long integerValue() const { return longValue(); }
    // Doubles convert with saturation (nan is 0); unsigned values wrap, as a cast would.
    long long longLongValue() const {
        return isFloatingPoint() ? longLongFromDouble(v_.d) : static_cast<long long>(v_.i);
    }
    unsigned unsignedIntValue() const { return static_cast<unsigned>(unsignedLongLongValue()); }
    unsigned long long unsignedLongLongValue() const {
        return isFloatingPoint() ? unsignedLongLongFromDouble(v_.d) : v_.u;
    }
    double doubleValue() const {
        if (isFloatingPoint()) return v_.d;
        return isUnsigned() ? static_cast<double>(v_.u) : static_cast<double>(v_.i);
    }
    float floatValue() const { return static_cast<float>(doubleValue()); }
    virtual Ref<String> stringValue() const;

    // Three-way numeric comparison (-1, 0, 1) across types.
    int compare(const Number& other) const;

    // Prefer the factories; these are public for subclasses and make<>.
    Number(NumberType type, int64_t i) : type_(type) { v_.i = i; }
    Number(NumberType type, uint64_t u, int) : type_(type) { v_.u = u; }
    Number(NumberType type, double d) : type_(type) { v_.d = d; }

protected:
    static long long longLongFromDouble(double d);
    static unsigned long long unsignedLongLongFromDouble(double d);
    NumberType type_;
    union { int64_t i; uint64_t u; double d; } v_;
};

// A decimal number that keeps its exact text ("0.1" stays "0.1"), for codecs
// that must not round what they read. Its numeric value is the nearest double.
// The text lives in the same allocation as the object.
class DecimalNumber : public Number {
public:
    const char* className() const override { return "DecimalNumber"; }
    std::string description() const override { return std::string(text()); }
    Ref<String> stringValue() const override;
    std::string_view text() const { return {chars_, length_}; }
    static Ref<DecimalNumber> decimalNumberWithString(std::string_view text);
    // For readers that already have the nearest double of `text` (worked out
    // while scanning it), so the text is not read a second time.
    static Ref<DecimalNumber> decimalNumberWithString(std::string_view text, double nearest);

    // The bytes a decimal with `length` bytes of text takes, text included.
    static constexpr size_t sizeWithText(size_t length) { return sizeof(DecimalNumber) + length; }
    static void operator delete(void* p) { ::operator delete(p); }
    // Paired with the delete above, so that `new` and `delete` of this class
    // always meet the same allocator; the placement form places into a block
    // made by ::operator new.
    static void* operator new(size_t size) { return ::operator new(size); }
    static void* operator new(size_t, void* where) noexcept { return where; }

protected:
    // For subclasses placed in memory of their own (sizeWithText bytes);
    // `nearest` is the nearest double of `text`.
    DecimalNumber(std::string_view text, double nearest);

private:
    static Ref<DecimalNumber> create(std::string_view text, double nearest, bool known);
    size_t length_;
    char chars_[1];  // length_ bytes and a terminating NUL, continuing past the object
};

// Shortest text that reads back as the same double ("0.1", "1e+100").
std::string formatDoubleShortest(double v);

}  // namespace ns
