// Local time values for tests written the way people read them.
#pragma once

#include <ctime>
#include <string>

namespace kestrel::test {

// The local time "dd/mm/yyyy hh:mm:ss" as a time value; aborts the test
// program on text of another shape.
std::time_t LocalTime(const std::string& dayMonthYearTime);

}  // namespace kestrel::test
