// The toolkit's date-time: days since 30 December 1899 as a double, the
// fraction being the time of day. Also the packed MS-DOS (FAT) date-time and
// the platform's time-zone bias.
#pragma once

#include <QDateTime>
#include <cstdint>
#include <optional>

using TDateTime = double;

// Raise EConvertError for an impossible date or time.
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second, int msec);
std::optional<TDateTime> TryEncodeDate(int year, int month, int day);
std::optional<TDateTime> TryEncodeTime(int hour, int minute, int second, int msec);

QDateTime DateTimeToQDateTime(TDateTime value); // local, millisecond precision
TDateTime QDateTimeToDateTime(const QDateTime& value);

// Windows file time: 100-nanosecond units since 1601-01-01 UTC.
inline constexpr uint64_t FileTimeOfUnixEpoch = 116444736000000000ULL;
// The packed FAT date (high word) and time (low word, 2-second resolution);
// none outside 1980..2107, where the format has no place for it.
std::optional<uint32_t> FileTimeToDosDateTime(uint64_t fileTime);
// Raises EConvertError for a packed value that is no valid date-time.
TDateTime DosDateTimeToDateTime(uint32_t dosDateTime);

// The current time-zone bias in minutes (UTC minus local time, daylight
// saving included when in effect); none when the platform cannot tell.
std::optional<int> TimeZoneBias();
