#include "Utils.h"

#include "Exceptions.h"

#include <cmath>

namespace {

// Round to nearest, halves to even: the processor's default rounding.
double RoundPositive(int32_t digits, int32_t scale, double a)
{
    if (digits <= 0)
        return std::nearbyint(a);
    const double whole = std::trunc(a);
    return whole + std::nearbyint((a - whole) * scale) / scale;
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
