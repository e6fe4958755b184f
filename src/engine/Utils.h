// Small helpers of the framework shared by its forms.
#pragma once

#include <QString>
#include <cstdint>

// value rounded to the given decimal places, halves away from zero (a tiny
// tolerance lifts values that sit on a half in their decimal form).
double RoundValue(int32_t digits, double value);

// Raises Exception with the two texts joined by a line feed and a carriage return.
[[noreturn]] void RaiseError(const QString& first, const QString& second);
