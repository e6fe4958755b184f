#include "Utils.h"

#include "Exceptions.h"

#include <cmath>

namespace {

// a is the value pushed past a half written in decimal (2.675 is stored as
// 2.67499...). From 2^24 on the push is lost in the value's last bit, so the
// halves themselves round away from zero too.
double RoundPositive(int32_t digits, int32_t scale, double a)
{
    if (digits <= 0)
        return std::round(a);
    const double whole = std::trunc(a);
    return whole + std::round((a - whole) * scale) / scale;
}

} // namespace

double RoundValue(int32_t digits, double value)
{
    int32_t scale = 1;
    for (int32_t i = 0; i < digits && i < 9; ++i)
        scale *= 10;
    if (value > 1e-8)
        return RoundPositive(digits, scale, value + 1e-9);
    return -RoundPositive(digits, scale, std::fabs(value) + 1e-9);
}

void RaiseError(const QString& first, const QString& second)
{
    throw Exception(first + QStringLiteral("\n\r") + second);
}
