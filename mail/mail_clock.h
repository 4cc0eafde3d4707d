#pragma once

#include <ctime>
#include <string>

namespace paginor {

// Local time for the Date field and the footer; tests pin it.
class Clock {
public:
    virtual ~Clock() = default;
    // Now, broken down in local time with tm_gmtoff set.
    virtual std::tm localNow() const = 0;
};

// The system's clock and time zone.
Clock& systemClock();

// RFC 5322 date with English names and a numeric zone: "Tue, 05 Mar 2024 14:03:09 +0100".
std::string formatMailDate(const std::tm& time);

// The footer of every mail: "\r\n\r\nPaginor\r\nDate: " and "%A, %B %d, %H:%M:%S" in English.
std::string formatMailFooter(const std::tm& time);

}  // namespace paginor
