#include <algorithm>
#include <ctime>

#include "common/dos_time.h"

void dos_date_time(int64_t seconds, uint16_t* date, uint16_t* time, bool utc) {
  const time_t t = static_cast<time_t>(seconds);
  struct tm local;
  if (!(utc ? gmtime_r(&t, &local) : localtime_r(&t, &local)) || local.tm_year < 80) {
    *date = 0;
    *time = 0;
    return;
  }
  const int year = std::min(local.tm_year - 80, 127);
  *date = static_cast<uint16_t>((year << 9) | ((local.tm_mon + 1) << 5) | local.tm_mday);
  *time = static_cast<uint16_t>((local.tm_hour << 11) | (local.tm_min << 5) | (local.tm_sec / 2));
}

int64_t dos_time_seconds(uint16_t date, uint16_t time) {
  const DosTime t = split_dos_time(date, time);
  struct tm tm {};
  tm.tm_year = static_cast<int>(t.year) - 1900;
  tm.tm_mon = static_cast<int>(t.month) - 1;
  tm.tm_mday = static_cast<int>(t.day);
  tm.tm_hour = static_cast<int>(t.hour);
  tm.tm_min = static_cast<int>(t.minute);
  tm.tm_sec = static_cast<int>(t.second);
  tm.tm_isdst = -1;
  return mktime(&tm);
}
