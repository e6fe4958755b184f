// Arbitrary bytes as an expression, read as Latin-1 and as UTF-8: Evaluate
// must not crash or read outside the text, must report an error inside the
// text or just past it, and must keep its value inside the magnitude window.
#include "Infix.h"

#include <QString>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void Check(const QString& text)
{
    qsizetype position = -1;
    const long double value = Evaluate(text, position);
    if (position < 0 || position > text.size() + 1)
        std::abort();
    // No literal or operation leaves [-10^37, 10^37] by more than rounding.
    if (!std::isfinite(value) || std::fabs(value) > 1.000001e37L)
        std::abort();
    if (position > 0) {
        const QString message = LastErrorMessage();
        if (!message.startsWith(QLatin1String("Error:  ")) || message.size() > 255)
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto* text = reinterpret_cast<const char*>(data);
    const auto length = static_cast<qsizetype>(size);
    Check(QString::fromLatin1(text, length));
    Check(QString::fromUtf8(text, length));
    return 0;
}
