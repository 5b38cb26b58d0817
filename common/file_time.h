#pragma once
// Time stamps as archives store them.
//   DOS date/time: 16-bit time (seconds/2, minutes, hours) and 16-bit date
//   (day, month, years since 1980), always local time.
//   Unix time: seconds since 1970-01-01 00:00 UTC.
//   Windows file time: 100 ns ticks since 1601-01-01 00:00 UTC.
#include <cstdint>
#include <optional>

namespace quindo {

struct DosDateTime {
  uint16_t date = 0;
  uint16_t time = 0;
};

// Broken-down calendar time, field meanings as in a Windows SYSTEMTIME.
struct CivilTime {
  int year = 1980, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};

constexpr int64_t kFileTimeUnixEpoch = 116444736000000000LL;

inline int64_t UnixFromFileTime(uint64_t ticks) {
  return (static_cast<int64_t>(ticks) - kFileTimeUnixEpoch) / 10000000;
}
inline uint64_t FileTimeFromUnix(int64_t seconds) {
  return static_cast<uint64_t>(seconds * 10000000 + kFileTimeUnixEpoch);
}

// Fields of a DOS date/time; no validation.
CivilTime CivilFromDos(DosDateTime dos);
// Packs a calendar time; years outside 1980..2107 clamp to the nearest end.
DosDateTime DosFromCivil(const CivilTime& t);

// Calendar conversions in UTC (proleptic Gregorian, no time zone involved).
CivilTime CivilFromUnixUtc(int64_t seconds);
int64_t UnixFromCivilUtc(const CivilTime& t);

// Local-time conversions through the C library's time zone rules.
DosDateTime DosFromUnixLocal(int64_t seconds);
// Empty when the DOS fields name no valid time (month 0, day 0, hour 25...).
std::optional<int64_t> UnixFromDosLocal(DosDateTime dos);

}  // namespace quindo
