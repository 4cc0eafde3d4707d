#include "mail/mail_clock.h"

#include <cstdio>
#include <cstdlib>

namespace paginor {
namespace {

// Fixed English names: the process locale must not reach a mail's machine-read fields.
constexpr const char* kDays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                 "Thursday", "Friday", "Saturday"};
constexpr const char* kMonths[] = {"January",   "February", "March",    "April",
                                   "May",       "June",     "July",     "August",
                                   "September", "October",  "November", "December"};

const char* dayName(const std::tm& time) {
    return kDays[static_cast<unsigned>(time.tm_wday) % 7];
}

const char* monthName(const std::tm& time) {
    return kMonths[static_cast<unsigned>(time.tm_mon) % 12];
}

class SystemClock final : public Clock {
public:
    std::tm localNow() const override {
        std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        return local;
    }
};

}  // namespace

Clock& systemClock() {
    static SystemClock clock;
    return clock;
}

std::string formatMailDate(const std::tm& time) {
    long offset = time.tm_gmtoff / 60;
    char sign = offset < 0 ? '-' : '+';
    offset = std::labs(offset);
    char text[64];
    std::snprintf(text, sizeof text, "%.3s, %02d %.3s %04d %02d:%02d:%02d %c%02ld%02ld",
                  dayName(time), time.tm_mday, monthName(time), time.tm_year + 1900, time.tm_hour,
                  time.tm_min, time.tm_sec, sign, offset / 60 % 100, offset % 60);
    return text;
}

std::string formatMailFooter(const std::tm& time) {
    char text[96];
    std::snprintf(text, sizeof text, "\r\n\r\nPaginor\r\nDate: %s, %s %02d, %02d:%02d:%02d",
                  dayName(time), monthName(time), time.tm_mday, time.tm_hour, time.tm_min,
                  time.tm_sec);
    return text;
}

}  // namespace paginor
