#include "Infix.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <vector>

namespace {

constexpr long double kMaxMagnitude = 37; // decimal magnitude window is [-37, 37]
constexpr int kMaxDigits = 37;            // 10^36 has 37 digits; one more digit could leave the window
constexpr int kMaxExponent = 37;
constexpr qsizetype kMaxMessage = 255;
constexpr int kMaxNesting = 255;
constexpr qsizetype kMaxName = 20;
// The x87 range reduction behind SIN and COS ends at 2^63; larger angles give 0.
constexpr long double kMaxAngle = 9223372036854775808.0L;

QString& LastMessage()
{
    static QString message;
    return message;
}

struct TVariable
{
    QString Name;
    long double Value;
};

std::vector<TVariable>& Variables()
{
    static std::vector<TVariable> variables;
    return variables;
}

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

bool IsLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

QString Quoted(const QString& name) { return u'"' + name + u'"'; }

enum class TFunction { Abs, ArcTan, Cos, Exp, Ln, Pi, Sin, Sqr, Sqrt };

const struct
{
    QLatin1String Name;
    TFunction Function;
} kFunctions[] = {
    {QLatin1String("ABS"), TFunction::Abs},   {QLatin1String("ARCTAN"), TFunction::ArcTan},
    {QLatin1String("COS"), TFunction::Cos},   {QLatin1String("EXP"), TFunction::Exp},
    {QLatin1String("LN"), TFunction::Ln},     {QLatin1String("PI"), TFunction::Pi},
    {QLatin1String("SIN"), TFunction::Sin},   {QLatin1String("SQR"), TFunction::Sqr},
    {QLatin1String("SQRT"), TFunction::Sqrt},
};

// Recursive descent over one text. Every level returns at once after the
// first error, with what it has computed so far.
class TEvaluator
{
public:
    explicit TEvaluator(const QString& text) : Text(text), Length(text.size()) {}

    long double Run(qsizetype& errorPosition)
    {
        const long double value = SimpleExpression();
        if (Failed) {
            errorPosition = Pos;
            return value;
        }
        SkipBlanks();
        if (!AtEnd()) {
            LastMessage() = QStringLiteral("Error:  expression followed by garbage");
            errorPosition = Pos;
            return value;
        }
        errorPosition = 0;
        return value;
    }

private:
    const QString& Text;
    const qsizetype Length;
    qsizetype Pos = 1;
    bool Failed = false;
    int Nesting = 0;

    bool AtEnd() const { return Pos > Length; }
    // Only when !AtEnd().
    char16_t Ch() const { return Text.at(Pos - 1).unicode(); }
    bool At(char16_t c) const { return !AtEnd() && Ch() == c; }
    bool AtDigit() const { return !AtEnd() && IsDigit(Ch()); }

    void SkipBlanks()
    {
        while (At(u' '))
            ++Pos;
    }

    void Fail(const QString& what)
    {
        Failed = true;
        LastMessage() = (QStringLiteral("Error:  ") + what + u'.').left(kMaxMessage);
    }

    // Consumes an opening parenthesis, refusing a depth that could exhaust the stack.
    bool Open()
    {
        if (Nesting >= kMaxNesting) {
            Fail(QStringLiteral("parentheses are nested too deeply"));
            return false;
        }
        ++Nesting;
        ++Pos;
        return true;
    }

    long double SimpleExpression()
    {
        SkipBlanks();
        if (AtEnd()) {
            Fail(QStringLiteral("end of expression encountered where simple expression expected"));
            return 0;
        }
        const bool negate = At(u'-');
        if (negate || At(u'+')) {
            ++Pos;
            SkipBlanks();
            if (AtEnd()) {
                Fail(QStringLiteral("end of expression encountered where term was expected"));
                return 0;
            }
        }
        long double value = Term();
        if (negate)
            value = -value;
        if (Failed)
            return value;

        for (SkipBlanks(); At(u'+') || At(u'-'); SkipBlanks()) {
            const bool add = Ch() == u'+';
            ++Pos;
            SkipBlanks();
            if (AtEnd()) {
                Fail(QStringLiteral("end of expression encountered where term was expected"));
                return value;
            }
            const long double b = Term();
            if (Failed)
                return value;
            value = add ? Add(value, b) : Subtract(value, b);
            if (Failed)
                return value;
        }
        return value;
    }

    long double Term()
    {
        long double value = Factor();
        if (Failed)
            return value;
        for (SkipBlanks(); At(u'*') || At(u'/'); SkipBlanks()) {
            const bool multiply = Ch() == u'*';
            ++Pos;
            SkipBlanks();
            if (AtEnd()) {
                Fail(QStringLiteral("end of expression encountered where factor expected"));
                return value;
            }
            const long double b = Factor();
            if (Failed)
                return value;
            value = multiply ? Multiply(value, b) : Divide(value, b);
            if (Failed)
                return value;
        }
        return value;
    }

    long double Factor()
    {
        SkipBlanks();
        if (AtEnd()) {
            Fail(QStringLiteral("end of expression encountered where factor expected"));
            return 0;
        }
        if (At(u'(')) {
            if (!Open())
                return 0;
            const long double value = SimpleExpression();
            if (Failed)
                return value;
            SkipBlanks();
            if (AtEnd())
                Fail(QStringLiteral("end of expression encountered where \")\" was expected"));
            else if (!At(u')'))
                Fail(QStringLiteral("expression not followed by \")\""));
            else {
                ++Pos;
                --Nesting;
            }
            return value;
        }
        if (AtDigit())
            return Number();
        if (IsLetter(Ch()))
            return FunctionCall();
        Fail(QStringLiteral("function, unsigned number, or \"(\" expected"));
        return 0;
    }

    // digit {digit}, as the integer part of a number or its exponent. Whether
    // the digits so far exceed 10^36 is decided on the digits themselves: the
    // accumulated value is rounded past 2^64, and 36 nines would already
    // compare above 10^36.
    long double Digits()
    {
        long double value = 0;
        int significant = 0;     // digits from the first non-zero one
        bool powerOfTen = false; // the digits so far are 1 followed by zeros
        for (; AtDigit(); ++Pos) {
            if (significant > kMaxDigits || (significant == kMaxDigits && !powerOfTen)) {
                Fail(QStringLiteral("constant is too big"));
                return value;
            }
            const int digit = Ch() - u'0';
            if (significant > 0) {
                ++significant;
                powerOfTen = powerOfTen && digit == 0;
            } else if (digit != 0) {
                significant = 1;
                powerOfTen = digit == 1;
            }
            value = value * 10 + digit;
        }
        return value;
    }

    long double Number()
    {
        long double mantissa = Digits();
        if (Failed)
            return mantissa;

        if (At(u'.')) {
            ++Pos;
            if (AtEnd()) {
                Fail(QStringLiteral("end of expression encountered where decimal part expected"));
                return mantissa;
            }
            if (!AtDigit()) {
                Fail(QStringLiteral("decimal part of real number is missing"));
                return mantissa;
            }
            for (long double place = 1; AtDigit(); ++Pos, ++place)
                mantissa += (Ch() - u'0') * std::pow(10.0L, -place);
        }

        long double scale = 1;
        if (At(u'e') || At(u'E')) {
            ++Pos;
            if (AtEnd()) {
                Fail(QStringLiteral("end of expression encountered where exponent expected"));
                return mantissa;
            }
            const bool negative = At(u'-');
            if (negative || At(u'+')) {
                ++Pos;
                if (AtEnd()) {
                    Fail(QStringLiteral("end of expression encountered where exponent magnitude expected"));
                    return mantissa;
                }
            }
            if (!AtDigit()) {
                Fail(QStringLiteral("nonnumeric exponent encountered"));
                return mantissa;
            }
            const long double exponent = Digits();
            if (Failed)
                return mantissa;
            if (exponent > kMaxExponent) {
                Fail(QStringLiteral("magnitude of exponent is too large"));
                return mantissa;
            }
            for (int i = 0; i < exponent; ++i)
                scale *= 10;
            if (negative)
                scale = 1 / scale;
        }

        if (mantissa == 0)
            return 0;
        const long double magnitude = std::log10(std::fabs(mantissa * scale));
        if (magnitude < -kMaxMagnitude)
            return 0;
        if (magnitude > kMaxMagnitude) {
            Fail(QStringLiteral("constant is too big"));
            return mantissa;
        }
        return mantissa * scale;
    }

    long double FunctionCall()
    {
        QString name;
        for (; !AtEnd() && IsLetter(Ch()); ++Pos)
            name += QChar(Ch() >= u'a' ? Ch() - (u'a' - u'A') : Ch());
        SkipBlanks();

        // Only the count matters: no function takes more than one argument.
        qsizetype count = 0;
        long double argument = 0;
        if (At(u'(')) {
            if (!Open())
                return 0;
            for (;;) {
                const long double value = SimpleExpression();
                if (Failed)
                    return value;
                if (count++ == 0)
                    argument = value;
                SkipBlanks();
                if (AtEnd()) {
                    Fail(QStringLiteral("\")\" to terminate function arguments is missing"));
                    return argument;
                }
                if (At(u')')) {
                    ++Pos;
                    --Nesting;
                    break;
                }
                if (!At(u',')) {
                    Fail(QStringLiteral("comma missing from function arguments"));
                    return argument;
                }
                ++Pos;
            }
        }
        return Call(name, count, argument);
    }

    long double Call(const QString& name, qsizetype count, long double x)
    {
        const auto* entry = std::find_if(std::begin(kFunctions), std::end(kFunctions),
                                         [&](const auto& f) { return f.Name == name; });
        if (entry == std::end(kFunctions)) {
            Fail(QStringLiteral("the function ") + Quoted(name) + QStringLiteral(" is unrecognized"));
            return 0;
        }
        const TFunction function = entry->Function;
        if (function == TFunction::Pi) {
            if (count > 0) {
                Fail(QStringLiteral("extraneous argument supplied to function ") + Quoted(name));
                return 0;
            }
            return 4 * std::atan(1.0L);
        }
        if (count == 0) {
            Fail(QStringLiteral("argument to ") + Quoted(name) + QStringLiteral(" is missing"));
            return 0;
        }
        if (count > 1) {
            Fail(QStringLiteral("extraneous argument supplied to function ") + Quoted(name));
            return 0;
        }

        switch (function) {
        case TFunction::Abs: return std::fabs(x);
        case TFunction::ArcTan: return std::atan(x);
        case TFunction::Cos: return std::fabs(x) >= kMaxAngle ? 0 : std::cos(x);
        case TFunction::Sin: return std::fabs(x) >= kMaxAngle ? 0 : std::sin(x);
        case TFunction::Exp: {
            const long double magnitude = x / std::log(10.0L);
            if (magnitude < -kMaxMagnitude)
                return 0;
            if (magnitude > kMaxMagnitude) {
                Fail(QStringLiteral("overflow detected while calculating ") + Quoted(name));
                return 0;
            }
            return std::exp(x);
        }
        case TFunction::Ln:
            if (x <= 0) {
                Fail(QStringLiteral("argument to ") + Quoted(name) + QStringLiteral(" is other than positive"));
                return 0;
            }
            return std::log(x);
        case TFunction::Sqr: {
            if (x == 0)
                return 0;
            const long double magnitude = 2 * std::log10(std::fabs(x));
            if (magnitude < -kMaxMagnitude)
                return 0;
            if (magnitude > kMaxMagnitude) {
                Fail(QStringLiteral("overflow detected during calculation of ") + Quoted(name));
                return 0;
            }
            return x * x;
        }
        case TFunction::Sqrt:
            if (x < 0) {
                Fail(QStringLiteral("argument to ") + Quoted(name) + QStringLiteral(" is negative"));
                return 0;
            }
            return std::sqrt(x);
        case TFunction::Pi: break;
        }
        return 0;
    }

    // Sums are held to the window that literals and products are held to,
    // decided by the same decimal magnitude: a constant 10^37 (1e37L) and
    // the literal "1e37" (10 multiplied up 37 times) differ in the last bit,
    // so comparing one with the other refused 5e36+5e36.
    static bool BeyondWindow(long double sum) { return sum != 0 && std::log10(std::fabs(sum)) > kMaxMagnitude; }

    long double Add(long double a, long double b)
    {
        if (BeyondWindow(a + b)) {
            Fail(QStringLiteral("overflow detected during addition"));
            return a;
        }
        return a + b;
    }

    long double Subtract(long double a, long double b)
    {
        if (BeyondWindow(a - b)) {
            Fail(QStringLiteral("overflow detected during subtraction"));
            return a;
        }
        return a - b;
    }

    long double Multiply(long double a, long double b)
    {
        if (a == 0 || b == 0)
            return 0;
        const long double magnitude = std::log10(std::fabs(a)) + std::log10(std::fabs(b));
        if (magnitude < -kMaxMagnitude)
            return 0;
        if (magnitude > kMaxMagnitude) {
            Fail(QStringLiteral("overflow detected during multiplication"));
            return a;
        }
        return a * b;
    }

    long double Divide(long double a, long double b)
    {
        if (b == 0) {
            Fail(QStringLiteral("division by zero attempted"));
            return a;
        }
        if (a == 0)
            return 0;
        const long double magnitude = std::log10(std::fabs(a)) - std::log10(std::fabs(b));
        if (magnitude < -kMaxMagnitude)
            return 0;
        if (magnitude > kMaxMagnitude) {
            Fail(QStringLiteral("overflow detected during division"));
            return a;
        }
        return a / b;
    }
};

} // namespace

long double Evaluate(const QString& text, qsizetype& errorPosition) { return TEvaluator(text).Run(errorPosition); }

QString LastErrorMessage() { return LastMessage(); }

void SetVariable(const QString& name, long double value)
{
    const QString key = name.left(kMaxName);
    for (TVariable& variable : Variables()) {
        if (variable.Name == key) {
            variable.Value = value;
            return;
        }
    }
    Variables().push_back({key, value});
}

long double GetVariable(const QString& name, bool& notFound)
{
    const QString key = name.left(kMaxName);
    for (const TVariable& variable : Variables()) {
        if (variable.Name == key) {
            notFound = false;
            return variable.Value;
        }
    }
    notFound = true;
    return 0;
}
