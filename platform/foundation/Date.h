// Points in time, kept as seconds since 2001-01-01 00:00:00 UTC (the epoch
// that property lists store).
#pragma once

#include <string>

#include "platform/foundation/Object.h"

namespace ns {

inline constexpr double kTimeIntervalSince1970AtReference = 978307200.0;

class Date : public Object {
public:
    explicit Date(double sinceReference) : t_(sinceReference) {}
    const char* className() const override { return "Date"; }
    std::string description() const override;  // "2001-01-01 00:00:00 +0000"
    bool isEqual(const Object& other) const override;
    size_t hash() const override { return std::hash<double>()(t_); }

    static Ref<Date> date();  // now, from the system clock
    static Ref<Date> dateWithTimeIntervalSinceReferenceDate(double t) { return ns::make<Date>(t); }
    static Ref<Date> dateWithTimeIntervalSince1970(double t) {
        return ns::make<Date>(t - kTimeIntervalSince1970AtReference);
    }
    double timeIntervalSinceReferenceDate() const { return t_; }
    double timeIntervalSince1970() const { return t_ + kTimeIntervalSince1970AtReference; }
    double timeIntervalSinceDate(const Date& other) const { return t_ - other.t_; }

    // ISO 8601 in UTC with a Z, as XML property lists write dates.
    std::string iso8601() const;
    // Reads "YYYY-MM-DDTHH:MM:SSZ" (the Z optional); nil when malformed or
    // when a field is outside its range (a day past its month's end, a
    // negative time), never carried into the next field.
    static Ref<Date> fromISO8601(std::string_view text);

private:
    double t_;
};

}  // namespace ns
