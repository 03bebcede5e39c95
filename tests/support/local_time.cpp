#include "tests/support/local_time.h"

#include <cstdio>
#include <cstdlib>

namespace kestrel::test {

std::time_t LocalTime(const std::string& dayMonthYearTime) {
  std::tm tm{};
  if (std::sscanf(dayMonthYearTime.c_str(), "%d/%d/%d %d:%d:%d", &tm.tm_mday, &tm.tm_mon, &tm.tm_year, &tm.tm_hour,
                  &tm.tm_min, &tm.tm_sec) != 6) {
    std::fprintf(stderr, "LocalTime: not dd/mm/yyyy hh:mm:ss: %s\n", dayMonthYearTime.c_str());
    std::abort();
  }
  tm.tm_mon -= 1;
  tm.tm_year -= 1900;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

}  // namespace kestrel::test
