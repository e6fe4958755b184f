#include "Application.h"
#include "Dialogs.h"
#include "Exceptions.h"
#include "Utils.h"

#include <cmath>
#include <gtest/gtest.h>

namespace {

TEST(RoundValue, HalvesAwayFromZeroWithTolerance)
{
    const struct
    {
        int digits;
        double value;
        double expected;
    } cases[] = {
        {5, 0.123456, 0.12346},
        {5, -0.123456, -0.12346},
        {2, 2.675, 2.68},
        {2, -2.675, -2.68},
        {0, 2.5, 3},
        {0, -2.5, -3},
        {0, 3.5, 4},
        {-2, 1234.5, 1235},
        {-1, 15.4, 15},
        {2, 1.005, 1.01},
        {3, 123456.0004, 123456.0},
        // Halves too large for the tolerance to reach them.
        {0, 16777218.5, 16777219},
        {0, -16777218.5, -16777219},
        {0, 4503599627370494.5, 4503599627370495},
        {1, 16777218.25, 16777218.3},
        {1, -16777218.25, -16777218.3},
        {2, 1099511627776.125, 1099511627776.13},
    };
    for (const auto& c : cases)
        EXPECT_NEAR(RoundValue(c.digits, c.value), c.expected, 1e-12) << c.digits << " " << c.value;

    const double zero = RoundValue(2, 0.0);
    EXPECT_EQ(zero, 0.0);
    EXPECT_TRUE(std::signbit(zero)) << "zero takes the negating branch";
    EXPECT_EQ(RoundValue(12, 0.123456789012), RoundValue(9, 0.123456789012)) << "more than 9 digits act as 9";
}

TEST(RaiseError, JoinsTheTextsAndReachesTheDisplay)
{
    try {
        RaiseError(QStringLiteral("Ошибочное обращение к запросной форме"), QStringLiteral("Не задан тип значения"));
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Ошибочное обращение к запросной форме\n\rНе задан тип значения"));
    }

    TScriptedDialogsGuard dialogs;
    HandleExceptions([] { RaiseError(QStringLiteral("Первый"), QStringLiteral("Второй")); });
    ASSERT_EQ(dialogs->Messages.size(), 1u);
    EXPECT_EQ(dialogs->Messages[0].Text, QStringLiteral("Первый\n\rВторой."));
}

} // namespace
