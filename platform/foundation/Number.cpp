#include "platform/foundation/Number.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/foundation/String.h"

namespace ns {

namespace {
Number* immortal(Number* n) {
    n->makeImmortal();
    return n;
}
}  // namespace

Ref<Number> Number::numberWithBool(bool v) {
    static Number* yes = immortal(new Number(NumberType::Bool, int64_t(1)));
    static Number* no = immortal(new Number(NumberType::Bool, int64_t(0)));
    return Ref<Number>(v ? yes : no);
}

Ref<Number> Number::make(NumberType type, int64_t v) {
    if (type == NumberType::Bool) return numberWithBool(v != 0);
    return Ref<Number>(new Number(type, v));
}

Ref<Number> Number::makeUnsigned(NumberType type, uint64_t v) {
    return Ref<Number>(new Number(type, v, 0));
}

Ref<Number> Number::makeDouble(NumberType type, double v) {
    if (type == NumberType::Float) v = static_cast<float>(v);
    return Ref<Number>(new Number(type, v));
}


bool Number::boolValue() const {
    if (isFloatingPoint()) return v_.d != 0.0;
    return v_.i != 0;
}

long long Number::longLongFromDouble(double d) {
    if (std::isnan(d)) return 0;
    if (d >= 9.2233720368547758e18) return INT64_MAX;
    if (d <= -9.2233720368547758e18) return INT64_MIN;
    return static_cast<long long>(d);
}

unsigned long long Number::unsignedLongLongFromDouble(double d) {
    if (std::isnan(d) || d <= 0) return d < 0 ? static_cast<unsigned long long>(static_cast<long long>(d)) : 0;
    if (d >= 1.8446744073709552e19) return UINT64_MAX;
    return static_cast<unsigned long long>(d);
}

std::string formatDoubleShortest(double v) {
    if (std::isnan(v)) return "nan";
    if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

std::string Number::description() const {
    if (type_ == NumberType::Float) {
        char buf[64];
        auto r = std::to_chars(buf, buf + sizeof buf, static_cast<float>(v_.d));
        return std::string(buf, r.ptr);
    }
    if (type_ == NumberType::Double) return formatDoubleShortest(v_.d);
    if (isUnsigned()) return std::to_string(v_.u);
    return std::to_string(v_.i);
}

Ref<String> Number::stringValue() const { return String::make(description()); }

int Number::compare(const Number& o) const {
    bool fa = isFloatingPoint(), fb = o.isFloatingPoint();
    if (!fa && !fb) {
        bool ua = isUnsigned() && v_.u > uint64_t(INT64_MAX);
        bool ub = o.isUnsigned() && o.v_.u > uint64_t(INT64_MAX);
        if (ua || ub) {
            if (ua && ub) return v_.u < o.v_.u ? -1 : v_.u > o.v_.u ? 1 : 0;
            return ua ? 1 : -1;
        }
        return v_.i < o.v_.i ? -1 : v_.i > o.v_.i ? 1 : 0;
    }
    double a = doubleValue(), b = o.doubleValue();
    return a < b ? -1 : a > b ? 1 : 0;
}

bool Number::isEqual(const Object& other) const {
    if (this == &other) return true;
    auto* n = dynamic_cast<const Number*>(&other);
    if (!n) return false;
    if (isFloatingPoint() && std::isnan(v_.d)) return n->isFloatingPoint() && std::isnan(n->v_.d);
    return compare(*n) == 0;
}

size_t Number::hash() const {
    // Equal values hash alike across types: hash integral values as integers.
    if (isFloatingPoint()) {
        double d = v_.d;
        if (d == std::floor(d) && std::fabs(d) < 9.2e18) return std::hash<int64_t>()(static_cast<int64_t>(d));
        return std::hash<double>()(d);
    }
    return std::hash<int64_t>()(v_.i);
}

namespace {

// The nearest double: the library's correctly rounded reading of a plain
// decimal, strtod for anything else (a leading "+", blanks, out of range).
double nearestDouble(std::string_view text, const char* terminated) {
    double d = 0;
    auto r = std::from_chars(text.data(), text.data() + text.size(), d);
    if (r.ec == std::errc() && r.ptr == text.data() + text.size()) return d;
    return std::strtod(terminated, nullptr);
}

}  // namespace

DecimalNumber::DecimalNumber(std::string_view text, double nearest)
    : Number(NumberType::Double, nearest), length_(text.size()) {
    std::memcpy(chars_, text.data(), text.size());
    chars_[text.size()] = '\0';
}

Ref<DecimalNumber> DecimalNumber::create(std::string_view text, double nearest, bool known) {
    void* memory = ::operator new(sizeWithText(text.size()));  // chars_ holds the NUL
    auto* n = new (memory) DecimalNumber(text, nearest);
    if (!known) n->v_.d = nearestDouble(text, n->chars_);
    n->setInitialReferences(1);  // brand new: its first reference needs no atomic operation
    return Ref<DecimalNumber>::adopt(n);
}

Ref<DecimalNumber> DecimalNumber::decimalNumberWithString(std::string_view text) { return create(text, 0.0, false); }

Ref<DecimalNumber> DecimalNumber::decimalNumberWithString(std::string_view text, double nearest) {
    return create(text, nearest, true);
}

Ref<String> DecimalNumber::stringValue() const { return String::make(text()); }

}  // namespace ns
