#include "platform/foundation/Date.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace ns {

Ref<Date> Date::date() {
    using namespace std::chrono;
    double now = duration<double>(system_clock::now().time_since_epoch()).count();
    return dateWithTimeIntervalSince1970(now);
}

bool Date::isEqual(const Object& other) const {
    if (this == &other) return true;
    auto* d = dynamic_cast<const Date*>(&other);
    return d && d->t_ == t_;
}

namespace {
std::string formatUTC(double since1970, const char* fmt) {
    auto secs = static_cast<time_t>(std::floor(since1970));
    struct tm tm {};
    gmtime_r(&secs, &tm);
    char buf[64];
    std::strftime(buf, sizeof buf, fmt, &tm);
    return buf;
}
}  // namespace

std::string Date::description() const {
    return formatUTC(timeIntervalSince1970(), "%Y-%m-%d %H:%M:%S +0000");
}

std::string Date::iso8601() const { return formatUTC(timeIntervalSince1970(), "%Y-%m-%dT%H:%M:%SZ"); }

namespace {
// 0 for a month that does not exist, so no day fits in it.
int daysInMonth(int year, int month) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}
}  // namespace

Ref<Date> Date::fromISO8601(std::string_view text) {
    int y, mo, d, h = 0, mi = 0, s = 0;
    char tail[4] = {0};
    std::string t(text.substr(0, 40));
    int n = std::sscanf(t.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%1s", &y, &mo, &d, &h, &mi, &s, tail);
    if (n < 3) return nullptr;
    if (n > 6 && tail[0] != 'Z') return nullptr;
    // Each field within its own range (the day within its month's), so a day
    // past the month's end or a negative time is refused, not carried into
    // the next or previous field.
    if (y < 0 || mo < 1 || mo > 12 || d < 1 || d > daysInMonth(y, mo) || h < 0 || h > 23 || mi < 0 || mi > 59 ||
        s < 0 || s > 60)
        return nullptr;
    struct tm tm {};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    time_t secs = timegm(&tm);
    return dateWithTimeIntervalSince1970(static_cast<double>(secs));
}

}  // namespace ns
