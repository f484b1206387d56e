// DOS dates and times, as the archive stores them: a date of 7 bits of year since 1980,
// 4 of month and 5 of day; a time of 5 bits of hour, 6 of minute and 5 of seconds / 2.
// A date of 0 stands for none.
#pragma once

#include <cstdint>

struct DosTime {
  uint32_t year;  // 1980 to 2107
  uint32_t month;
  uint32_t day;
  uint32_t hour;
  uint32_t minute;
  uint32_t second;  // even
};

inline DosTime split_dos_time(uint16_t date, uint16_t time) {
  return {((date >> 9) & 0x7Fu) + 1980u, (date >> 5) & 0x0Fu, date & 0x1Fu,
          (time >> 11) & 0x1Fu,          (time >> 5) & 0x3Fu, (time & 0x1Fu) * 2};
}

#if !defined(_WIN32)
// DOS date and time of a POSIX time, in local time or UTC; date 0 when before 1980, the
// year held at 2107 past it.
void dos_date_time(int64_t seconds, uint16_t* date, uint16_t* time, bool utc = false);
// The POSIX time of a DOS local date and time.
int64_t dos_time_seconds(uint16_t date, uint16_t time);
#endif
