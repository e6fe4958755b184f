#include "DateTime.h"
#include "Exceptions.h"

#include <gtest/gtest.h>

namespace {

TEST(DateTime, EncodingAndQtConversions)
{
    EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
    EXPECT_EQ(EncodeDate(1900, 1, 1), 2.0);
    EXPECT_EQ(EncodeDate(2000, 1, 1), 36526.0);
    EXPECT_EQ(EncodeDate(1899, 12, 29), -1.0);
    EXPECT_DOUBLE_EQ(EncodeTime(12, 0, 0, 0), 0.5);
    EXPECT_THROW(EncodeDate(2023, 2, 29), EConvertError);
    EXPECT_THROW(EncodeTime(24, 0, 0, 0), EConvertError);

    const QDateTime moment(QDate(2024, 2, 29), QTime(13, 45, 30, 250));
    const TDateTime value = QDateTimeToDateTime(moment);
    EXPECT_NEAR(value, EncodeDate(2024, 2, 29) + EncodeTime(13, 45, 30, 250), 1e-10);
    EXPECT_EQ(DateTimeToQDateTime(value), moment);
    // Before the base date the day counts back but the time still runs forward.
    const QDateTime old(QDate(1899, 12, 29), QTime(6, 0));
    EXPECT_DOUBLE_EQ(QDateTimeToDateTime(old), -1.25);
    EXPECT_EQ(DateTimeToQDateTime(-1.25), old);
}

TEST(DateTime, FatPackedDateTime)
{
    const auto fileTime = [](int64_t unixSeconds) {
        return static_cast<uint64_t>(unixSeconds) * 10000000ULL + FileTimeOfUnixEpoch;
    };
    EXPECT_FALSE(FileTimeToDosDateTime(fileTime(0)).has_value());
    const auto packed = FileTimeToDosDateTime(fileTime(946684800 + 59)); // 2000-01-01 00:00:59
    ASSERT_TRUE(packed.has_value());
    EXPECT_EQ(*packed, (20u << 25 | 1u << 21 | 1u << 16) | 29u);
    EXPECT_DOUBLE_EQ(DosDateTimeToDateTime(*packed), EncodeDate(2000, 1, 1) + EncodeTime(0, 0, 58, 0));
    EXPECT_THROW(DosDateTimeToDateTime(0), EConvertError);
}

} // namespace
