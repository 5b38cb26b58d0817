#include <gtest/gtest.h>

#include <tuple>

#include "common/code_page.h"
#include "common/crc16.h"
#include "common/crc32.h"
#include "common/file_time.h"
#include "common/path_text.h"
#include "platform/platform.h"

namespace quindo {
namespace {

auto Fields(const CivilTime& t) { return std::make_tuple(t.year, t.month, t.day, t.hour, t.minute, t.second); }

TEST(FileTime, DosUnixAndWindowsTimes) {
  DosDateTime dos = DosFromCivil({2006, 7, 30, 12, 0, 0});
  EXPECT_EQ((std::pair<int, int>{dos.date, dos.time}), (std::pair{((2006 - 1980) << 9) | (7 << 5) | 30, 12 << 11}));
  EXPECT_EQ(Fields(CivilFromDos(dos)), std::make_tuple(2006, 7, 30, 12, 0, 0));
  // Odd seconds round down to the two-second step; years the format cannot
  // hold clamp to its ends.
  EXPECT_EQ((std::vector{CivilFromDos(DosFromCivil({2000, 1, 1, 0, 0, 59})).second,
                         CivilFromDos(DosFromCivil({1970, 5, 5, 5, 5, 5})).year,
                         CivilFromDos(DosFromCivil({2200, 5, 5, 5, 5, 5})).year}),
            (std::vector{58, 1980, 2107}));

  EXPECT_EQ(UnixFromFileTime(116444736000000000ULL), 0);
  EXPECT_EQ(FileTimeFromUnix(1), 116444736010000000ULL);
  EXPECT_EQ(Fields(CivilFromUnixUtc(1154260800)), std::make_tuple(2006, 7, 30, 12, 0, 0));
  EXPECT_EQ(UnixFromCivilUtc({2006, 7, 30, 12, 0, 0}), 1154260800);
  EXPECT_EQ(UnixFromCivilUtc({1969, 12, 31, 23, 59, 59}), -1);

  auto unix = UnixFromDosLocal(dos);
  ASSERT_TRUE(unix.has_value());
  EXPECT_EQ(Fields(CivilFromDos(DosFromUnixLocal(*unix))), Fields(CivilFromDos(dos)));
  EXPECT_FALSE(UnixFromDosLocal(DosDateTime{0, 0}).has_value());  // month 0, day 0
}

}  // namespace
}  // namespace quindo
