#include "common/file_time.h"

#include <ctime>

namespace quindo {

CivilTime CivilFromDos(DosDateTime dos) {
  CivilTime t;
  t.second = (dos.time & 0x1F) * 2;
  t.minute = (dos.time >> 5) & 0x3F;
  t.hour = dos.time >> 11;
  t.day = dos.date & 0x1F;
  t.month = (dos.date >> 5) & 0x0F;
  t.year = 1980 + (dos.date >> 9);
  return t;
}

DosDateTime DosFromCivil(const CivilTime& in) {
  CivilTime t = in;
  if (t.year < 1980) t = CivilTime{1980, 1, 1, 0, 0, 0};
  if (t.year > 2107) t = CivilTime{2107, 12, 31, 23, 59, 58};
  DosDateTime d;
  d.date = static_cast<uint16_t>(((t.year - 1980) << 9) | (t.month << 5) | t.day);
  d.time = static_cast<uint16_t>((t.hour << 11) | (t.minute << 5) | (t.second / 2));
  return d;
}

// Days from 1970-01-01 to the given civil date (Howard Hinnant's algorithm).
static int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

CivilTime CivilFromUnixUtc(int64_t seconds) {
  int64_t days = seconds / 86400;
  int64_t rem = seconds % 86400;
  if (rem < 0) {
    rem += 86400;
    --days;
  }
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t doe = days - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  CivilTime t;
  t.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  t.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  t.year = static_cast<int>(yoe + era * 400 + (t.month <= 2));
  t.hour = static_cast<int>(rem / 3600);
  t.minute = static_cast<int>(rem / 60 % 60);
  t.second = static_cast<int>(rem % 60);
  return t;
}

int64_t UnixFromCivilUtc(const CivilTime& t) {
  return DaysFromCivil(t.year, t.month, t.day) * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}

DosDateTime DosFromUnixLocal(int64_t seconds) {
  std::time_t tt = static_cast<std::time_t>(seconds);
  std::tm tm{};
#ifdef _WIN32
  if (localtime_s(&tm, &tt) != 0) return DosFromCivil(CivilTime{});
#else
  if (!localtime_r(&tt, &tm)) return DosFromCivil(CivilTime{});
#endif
  return DosFromCivil(CivilTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                                tm.tm_sec > 59 ? 59 : tm.tm_sec});
}

std::optional<int64_t> UnixFromDosLocal(DosDateTime dos) {
  CivilTime c = CivilFromDos(dos);
  if (c.month < 1 || c.month > 12 || c.day < 1 || c.day > 31 || c.hour > 23 || c.minute > 59 ||
      c.second > 59)
    return std::nullopt;
  std::tm tm{};
  tm.tm_year = c.year - 1900;
  tm.tm_mon = c.month - 1;
  tm.tm_mday = c.day;
  tm.tm_hour = c.hour;
  tm.tm_min = c.minute;
  tm.tm_sec = c.second;
  tm.tm_isdst = -1;
  std::time_t tt = std::mktime(&tm);
  if (tt == static_cast<std::time_t>(-1)) return std::nullopt;
  return static_cast<int64_t>(tt);
}

}  // namespace quindo
