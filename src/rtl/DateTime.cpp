#include "DateTime.h"

#include "Exceptions.h"

#include <QDate>
#include <QTime>
#include <QTimeZone>
#include <cmath>
#include <ctime>

namespace {

constexpr double MSecsPerDay = 86400000.0;
// A function, not a global: other units' start-up code may encode dates.
QDate BaseDate()
{
    return QDate::fromJulianDay(2415019); // 1899-12-30
}

} // namespace

std::optional<TDateTime> TryEncodeDate(int year, int month, int day)
{
    const QDate date(year, month, day);
    if (!date.isValid() || year < 1 || year > 9999)
        return std::nullopt;
    return static_cast<TDateTime>(BaseDate().daysTo(date));
}

std::optional<TDateTime> TryEncodeTime(int hour, int minute, int second, int msec)
{
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || msec < 0 || msec > 999)
        return std::nullopt;
    return (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + msec) / MSecsPerDay;
}

TDateTime EncodeDate(int year, int month, int day)
{
    if (const auto value = TryEncodeDate(year, month, day))
        return *value;
    throw EConvertError(QStringLiteral("Invalid argument to date encode"));
}

TDateTime EncodeTime(int hour, int minute, int second, int msec)
{
    if (const auto value = TryEncodeTime(hour, minute, second, msec))
        return *value;
    throw EConvertError(QStringLiteral("Invalid argument to time encode"));
}

QDateTime DateTimeToQDateTime(TDateTime value)
{
    // Negative values count days backwards but the time of day forwards.
    const double days = std::trunc(value);
    auto msecs = static_cast<qint64>(std::llround(std::fabs(value - days) * MSecsPerDay));
    QDate date = BaseDate().addDays(static_cast<qint64>(days));
    if (msecs >= qint64(MSecsPerDay)) { // rounded up to the next midnight
        date = date.addDays(1);
        msecs = 0;
    }
    // The wall-clock time as it stands, whatever daylight saving does that day.
    return QDateTime(date, QTime::fromMSecsSinceStartOfDay(static_cast<int>(msecs)));
}

TDateTime QDateTimeToDateTime(const QDateTime& value)
{
    const double days = static_cast<double>(BaseDate().daysTo(value.date()));
    const double time = value.time().msecsSinceStartOfDay() / MSecsPerDay;
    return days >= 0 ? days + time : days - time;
}

std::optional<uint32_t> FileTimeToDosDateTime(uint64_t fileTime)
{
    const auto unixSeconds = static_cast<int64_t>(fileTime / 10000000ULL)
                             - static_cast<int64_t>(FileTimeOfUnixEpoch / 10000000ULL);
    const QDateTime utc = QDateTime::fromSecsSinceEpoch(unixSeconds, Qt::UTC);
    const QDate date = utc.date();
    const QTime time = utc.time();
    if (date.year() < 1980 || date.year() > 2107)
        return std::nullopt;
    const uint32_t dosDate = ((date.year() - 1980) << 9) | (date.month() << 5) | date.day();
    const uint32_t dosTime = (time.hour() << 11) | (time.minute() << 5) | (time.second() / 2);
    return (dosDate << 16) | dosTime;
}

TDateTime DosDateTimeToDateTime(uint32_t dosDateTime)
{
    const uint32_t date = dosDateTime >> 16;
    const uint32_t time = dosDateTime & 0xFFFF;
    return EncodeDate(1980 + (date >> 9), (date >> 5) & 0x0F, date & 0x1F)
           + EncodeTime(time >> 11, (time >> 5) & 0x3F, (time & 0x1F) * 2, 0);
}

std::optional<int> TimeZoneBias()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (!localtime_r(&now, &local))
        return std::nullopt;
    return static_cast<int>(-local.tm_gmtoff / 60);
}
