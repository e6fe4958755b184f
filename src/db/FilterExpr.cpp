#include "FilterExpr.h"

#include "Exceptions.h"

#include <limits>
#include <vector>

// One node of the parsed expression. Value gives the node's variant; Test its
// truth where the node may stand as a condition (CanTest).
struct TFilterNode
{
    struct TEvalContext
    {
        const TFilterExpression::TFieldValue& FieldValue;
        Qt::CaseSensitivity Sensitivity;
        bool PartialCompare;
    };

    virtual ~TFilterNode() = default;
    virtual Variant Value(const TEvalContext& context) const = 0;
    virtual bool Test(const TEvalContext& context) const { return Value(context).AsBoolean(); }
    virtual bool CanTest() const { return false; }
};

namespace {

using TNodePtr = std::unique_ptr<TFilterNode>;
using TEvalContext = TFilterNode::TEvalContext;

struct TConditionNode : TFilterNode
{
    Variant Value(const TEvalContext& context) const override { return Variant(Test(context)); }
    bool CanTest() const override { return true; }
};

struct TFieldNode final : TFilterNode
{
    explicit TFieldNode(const QString& name) : Name(name) {}
    Variant Value(const TEvalContext& context) const override { return context.FieldValue(Name); }
    // A bare Boolean field as a condition; null counts as false like any
    // comparison with null.
    bool Test(const TEvalContext& context) const override
    {
        const Variant value = Value(context);
        return !value.IsEmptyOrNull() && value.AsBoolean();
    }
    bool CanTest() const override { return true; }

    QString Name;
};

struct TLiteralNode final : TFilterNode
{
    explicit TLiteralNode(const Variant& value) : Literal(value) {}
    Variant Value(const TEvalContext&) const override { return Literal; }
    bool Test(const TEvalContext&) const override { return Literal.AsBoolean(); }
    bool CanTest() const override { return Literal.VarType() == varBoolean; }

    Variant Literal;
};

struct TNegateNode final : TFilterNode
{
    explicit TNegateNode(TNodePtr operand) : Operand(std::move(operand)) {}
    Variant Value(const TEvalContext& context) const override { return -Operand->Value(context); }

    TNodePtr Operand;
};

enum class TArithOp { Add, Subtract, Multiply, Divide };

struct TArithNode final : TFilterNode
{
    TArithNode(TArithOp op, TNodePtr left, TNodePtr right) : Op(op), Left(std::move(left)), Right(std::move(right)) {}
    Variant Value(const TEvalContext& context) const override
    {
        const Variant a = Left->Value(context);
        const Variant b = Right->Value(context);
        switch (Op) {
        case TArithOp::Add: return a + b;
        case TArithOp::Subtract: return a - b;
        case TArithOp::Multiply: return a * b;
        case TArithOp::Divide: return a / b;
        }
        return Variant::Null();
    }

    TArithOp Op;
    TNodePtr Left, Right;
};

enum class TCompareOp { Equal, NotEqual, Less, LessOrEqual, Greater, GreaterOrEqual };

struct TCompareNode final : TConditionNode
{
    TCompareNode(TCompareOp op, TNodePtr left, TNodePtr right) : Op(op), Left(std::move(left)), Right(std::move(right))
    {
        const auto* leftLiteral = dynamic_cast<const TLiteralNode*>(Left.get());
        const auto* rightLiteral = dynamic_cast<const TLiteralNode*>(Right.get());
        if (Op == TCompareOp::Equal || Op == TCompareOp::NotEqual) {
            const auto isPattern = [](const TLiteralNode* literal) {
                return literal && literal->Literal.IsString() && literal->Literal.AsString().endsWith(QLatin1Char('*'));
            };
            if (isPattern(rightLiteral))
                PatternSide = 1;
            else if (isPattern(leftLiteral))
                PatternSide = 0;
            if (PatternSide >= 0)
                Prefix = (PatternSide ? rightLiteral : leftLiteral)->Literal.AsString().chopped(1);
        }
    }

    bool Test(const TEvalContext& context) const override
    {
        const Variant left = Left->Value(context);
        if (left.IsEmptyOrNull())
            return false;
        const Variant right = Right->Value(context);
        if (right.IsEmptyOrNull())
            return false;

        if (PatternSide >= 0 && context.PartialCompare) {
            const bool match = VarToStr(PatternSide ? left : right).startsWith(Prefix, context.Sensitivity);
            return (Op == TCompareOp::Equal) == match;
        }

        // A string against a number, date or Boolean is converted to that
        // kind by the comparison itself (PRICE > '9' compares numbers, DT >=
        // '01.02.2024' dates); a failed conversion reaches the caller.
        const int order = left.Compare(right, context.Sensitivity == Qt::CaseInsensitive);
        switch (Op) {
        case TCompareOp::Equal: return order == 0;
        case TCompareOp::NotEqual: return order != 0;
        case TCompareOp::Less: return order < 0;
        case TCompareOp::LessOrEqual: return order <= 0;
        case TCompareOp::Greater: return order > 0;
        case TCompareOp::GreaterOrEqual: return order >= 0;
        }
        return false;
    }

    TCompareOp Op;
    TNodePtr Left, Right;
    int PatternSide = -1; // 0 left, 1 right: the literal that may match by prefix
    QString Prefix;
};

struct TIsNullNode final : TConditionNode
{
    TIsNullNode(TNodePtr operand, bool negated) : Operand(std::move(operand)), Negated(negated) {}
    bool Test(const TEvalContext& context) const override
    {
        return Operand->Value(context).IsEmptyOrNull() != Negated;
    }

    TNodePtr Operand;
    bool Negated;
};

struct TNotNode final : TConditionNode
{
    explicit TNotNode(TNodePtr operand) : Operand(std::move(operand)) {}
    bool Test(const TEvalContext& context) const override { return !Operand->Test(context); }

    TNodePtr Operand;
};

struct TAndNode final : TConditionNode
{
    TAndNode(TNodePtr left, TNodePtr right) : Left(std::move(left)), Right(std::move(right)) {}
    bool Test(const TEvalContext& context) const override { return Left->Test(context) && Right->Test(context); }

    TNodePtr Left, Right;
};

struct TOrNode final : TConditionNode
{
    TOrNode(TNodePtr left, TNodePtr right) : Left(std::move(left)), Right(std::move(right)) {}
    bool Test(const TEvalContext& context) const override { return Left->Test(context) || Right->Test(context); }

    TNodePtr Left, Right;
};

// ---------------------------------------------------------------------------

enum class TTokenKind { End, Name, Field, String, Number, Symbol };

struct TToken
{
    TTokenKind Kind;
    QString Value; // the name, the unquoted string or field name, the number or symbol text
    int Pos;       // 0-based index into the text
    int Length;
};

bool IsNameStart(QChar c)
{
    return c.isLetter() || c == QLatin1Char('_') || c == QLatin1Char('$');
}

bool IsNamePart(QChar c)
{
    return IsNameStart(c) || c.isDigit() || c == QLatin1Char('.');
}

[[noreturn]] void SyntaxError(const QString& message)
{
    throw EDatabaseError(message);
}

// A quoted run from text[start] (the opening quote) to the matching close;
// a doubled close quote stands for one when doubling is allowed.
QString ReadQuoted(const QString& text, int start, QChar close, bool doubling, int& end, const QString& missing)
{
    QString value;
    int i = start + 1;
    for (;;) {
        if (i >= text.size())
            SyntaxError(QStringLiteral("%1 at position %2").arg(missing).arg(start + 1));
        if (text[i] == close) {
            if (doubling && i + 1 < text.size() && text[i + 1] == close) {
                value += close;
                i += 2;
                continue;
            }
            end = i + 1;
            return value;
        }
        value += text[i++];
    }
}

std::vector<TToken> Tokenize(const QString& text)
{
    std::vector<TToken> tokens;
    int i = 0;
    const int n = static_cast<int>(text.size());
    while (i < n) {
        const QChar c = text[i];
        if (c.isSpace()) {
            ++i;
            continue;
        }
        const int start = i;
        if (c == QLatin1Char('\'')) {
            const QString value = ReadQuoted(text, start, c, true, i, QStringLiteral("Missing right quote"));
            tokens.push_back({TTokenKind::String, value, start, i - start});
        } else if (c == QLatin1Char('"')) {
            const QString value = ReadQuoted(text, start, c, true, i, QStringLiteral("Missing right quote"));
            if (value.trimmed().isEmpty())
                SyntaxError(QStringLiteral("Field name expected at position %1").arg(start + 1));
            tokens.push_back({TTokenKind::Field, value, start, i - start});
        } else if (c == QLatin1Char('[')) {
            const QString value =
                ReadQuoted(text, start, QLatin1Char(']'), false, i, QStringLiteral("Missing right bracket"));
            if (value.trimmed().isEmpty())
                SyntaxError(QStringLiteral("Field name expected at position %1").arg(start + 1));
            tokens.push_back({TTokenKind::Field, value, start, i - start});
        } else if (c.isDigit()) {
            while (i < n && text[i].isDigit())
                ++i;
            if (i + 1 < n && text[i] == QLatin1Char('.') && text[i + 1].isDigit()) {
                i += 2;
                while (i < n && text[i].isDigit())
                    ++i;
            }
            tokens.push_back({TTokenKind::Number, text.mid(start, i - start), start, i - start});
        } else if (IsNameStart(c)) {
            while (i < n && IsNamePart(text[i]))
                ++i;
            tokens.push_back({TTokenKind::Name, text.mid(start, i - start), start, i - start});
        } else {
            static const char* const symbols[] = {"<>", "!=", "<=", ">=", "=", "<", ">", "(", ")", "+", "-", "*", "/"};
            int length = 0;
            for (const char* symbol : symbols) {
                const QLatin1String s(symbol);
                if (QStringView(text).mid(i).startsWith(s)) {
                    length = static_cast<int>(s.size());
                    break;
                }
            }
            if (length == 0)
                SyntaxError(QStringLiteral("Invalid character '%1' at position %2").arg(c).arg(start + 1));
            i += length;
            tokens.push_back({TTokenKind::Symbol, text.mid(start, length), start, length});
        }
    }
    tokens.push_back({TTokenKind::End, QString(), n, 0});
    return tokens;
}

class TParser
{
public:
    explicit TParser(const QString& text) : FText(text), FTokens(Tokenize(text)) {}

    TNodePtr ParseAll()
    {
        TNodePtr root = ParseOr();
        if (Current().Kind != TTokenKind::End) {
            if (IsSymbol(")"))
                SyntaxError(QStringLiteral("Unmatched ')' at position %1").arg(Current().Pos + 1));
            if (Current().Kind == TTokenKind::Symbol || IsOperatorKeyword())
                SyntaxError(QStringLiteral("Unexpected '%1' at position %2").arg(Near()).arg(Current().Pos + 1));
            Expected(QStringLiteral("operator"));
        }
        RequireCondition(*root);
        return root;
    }

    QStringList FieldNames;

private:
    const TToken& Current() const { return FTokens[FIndex]; }
    void Next()
    {
        if (FIndex + 1 < FTokens.size())
            ++FIndex;
    }
    QString Near() const { return FText.mid(Current().Pos, Current().Length); }

    bool IsSymbol(const char* symbol) const
    {
        return Current().Kind == TTokenKind::Symbol && Current().Value == QLatin1String(symbol);
    }
    bool IsKeyword(const char* keyword) const
    {
        return Current().Kind == TTokenKind::Name
            && Current().Value.compare(QLatin1String(keyword), Qt::CaseInsensitive) == 0;
    }
    bool IsOperatorKeyword() const
    {
        return IsKeyword("AND") || IsKeyword("OR") || IsKeyword("NOT") || IsKeyword("IS");
    }

    [[noreturn]] void Expected(const QString& what) const
    {
        if (Current().Kind == TTokenKind::End)
            SyntaxError(QStringLiteral("Filter expression incorrectly terminated: %1 expected at position %2")
                            .arg(what)
                            .arg(Current().Pos + 1));
        QString message = QStringLiteral("%1 expected near '%2' at position %3").arg(what, Near()).arg(Current().Pos + 1);
        message[0] = message[0].toUpper();
        SyntaxError(message);
    }

    // Called while the current token is the one after node: the place where
    // the missing comparison would go.
    void RequireCondition(const TFilterNode& node) const
    {
        if (!node.CanTest())
            Expected(QStringLiteral("comparison operator"));
    }

    TNodePtr ParseOr()
    {
        TNodePtr left = ParseAnd();
        while (IsKeyword("OR")) {
            RequireCondition(*left);
            Next();
            TNodePtr right = ParseAnd();
            RequireCondition(*right);
            left = std::make_unique<TOrNode>(std::move(left), std::move(right));
        }
        return left;
    }

    TNodePtr ParseAnd()
    {
        TNodePtr left = ParseNot();
        while (IsKeyword("AND")) {
            RequireCondition(*left);
            Next();
            TNodePtr right = ParseNot();
            RequireCondition(*right);
            left = std::make_unique<TAndNode>(std::move(left), std::move(right));
        }
        return left;
    }

    TNodePtr ParseNot()
    {
        if (!IsKeyword("NOT"))
            return ParseComparison();
        Next();
        TNodePtr operand = ParseNot();
        RequireCondition(*operand);
        return std::make_unique<TNotNode>(std::move(operand));
    }

    TNodePtr ParseComparison()
    {
        TNodePtr left = ParseSum();
        static const struct
        {
            const char* Symbol;
            TCompareOp Op;
        } operators[] = {
            {"=", TCompareOp::Equal},        {"<>", TCompareOp::NotEqual},    {"!=", TCompareOp::NotEqual},
            {"<", TCompareOp::Less},         {"<=", TCompareOp::LessOrEqual}, {">", TCompareOp::Greater},
            {">=", TCompareOp::GreaterOrEqual},
        };
        for (const auto& entry : operators) {
            if (IsSymbol(entry.Symbol)) {
                Next();
                return std::make_unique<TCompareNode>(entry.Op, std::move(left), ParseSum());
            }
        }
        if (IsKeyword("IS")) {
            Next();
            const bool negated = IsKeyword("NOT");
            if (negated)
                Next();
            if (!IsKeyword("NULL"))
                Expected(QStringLiteral("NULL"));
            Next();
            return std::make_unique<TIsNullNode>(std::move(left), negated);
        }
        return left;
    }

    TNodePtr ParseSum()
    {
        TNodePtr left = ParseProduct();
        for (;;) {
            TArithOp op;
            if (IsSymbol("+"))
                op = TArithOp::Add;
            else if (IsSymbol("-"))
                op = TArithOp::Subtract;
            else
                return left;
            Next();
            left = std::make_unique<TArithNode>(op, std::move(left), ParseProduct());
        }
    }

    TNodePtr ParseProduct()
    {
        TNodePtr left = ParseUnary();
        for (;;) {
            TArithOp op;
            if (IsSymbol("*"))
                op = TArithOp::Multiply;
            else if (IsSymbol("/"))
                op = TArithOp::Divide;
            else
                return left;
            Next();
            left = std::make_unique<TArithNode>(op, std::move(left), ParseUnary());
        }
    }

    TNodePtr ParseUnary()
    {
        if (IsSymbol("+")) {
            Next();
            return ParseUnary();
        }
        if (!IsSymbol("-"))
            return ParseOperand();
        Next();
        TNodePtr operand = ParseUnary();
        // A negative number is folded into its literal.
        if (auto* literal = dynamic_cast<TLiteralNode*>(operand.get()); literal && literal->Literal.IsNumeric()) {
            literal->Literal = -literal->Literal;
            return operand;
        }
        return std::make_unique<TNegateNode>(std::move(operand));
    }

    TNodePtr ParseOperand()
    {
        const TToken& token = Current();
        switch (token.Kind) {
        case TTokenKind::Symbol:
            if (IsSymbol("(")) {
                Next();
                TNodePtr inner = ParseOr();
                if (!IsSymbol(")"))
                    Expected(QStringLiteral("')'"));
                Next();
                return inner;
            }
            break;
        case TTokenKind::Name:
            if (IsKeyword("NULL")) {
                Next();
                return std::make_unique<TLiteralNode>(Variant::Null());
            }
            if (IsKeyword("TRUE") || IsKeyword("FALSE")) {
                const bool value = IsKeyword("TRUE");
                Next();
                return std::make_unique<TLiteralNode>(Variant(value));
            }
            if (IsOperatorKeyword())
                break;
            return Field(token.Value);
        case TTokenKind::Field: return Field(token.Value);
        case TTokenKind::String: {
            auto node = std::make_unique<TLiteralNode>(Variant(token.Value));
            Next();
            return node;
        }
        case TTokenKind::Number: {
            auto node = std::make_unique<TLiteralNode>(NumberValue(token.Value));
            Next();
            return node;
        }
        case TTokenKind::End: break;
        }
        Expected(QStringLiteral("operand"));
    }

    TNodePtr Field(const QString& name)
    {
        if (!FieldNames.contains(name, Qt::CaseInsensitive))
            FieldNames << name;
        Next();
        return std::make_unique<TFieldNode>(name);
    }

    // Numbers are written with '.' whatever the user's decimal separator.
    static Variant NumberValue(const QString& text)
    {
        if (!text.contains(QLatin1Char('.'))) {
            bool ok = false;
            const qlonglong value = text.toLongLong(&ok);
            if (ok && value <= std::numeric_limits<int32_t>::max())
                return Variant(static_cast<int>(value));
            if (ok)
                return Variant(static_cast<int64_t>(value));
        }
        return Variant(text.toDouble());
    }

    const QString& FText;
    std::vector<TToken> FTokens;
    size_t FIndex = 0;
};

} // namespace

TFilterExpression::~TFilterExpression() = default;

std::unique_ptr<TFilterExpression> TFilterExpression::Parse(const QString& text)
{
    std::unique_ptr<TFilterExpression> expression(new TFilterExpression);
    expression->FText = text;
    if (text.trimmed().isEmpty())
        return expression;
    TParser parser(expression->FText);
    expression->FRoot = parser.ParseAll();
    expression->FFieldNames = parser.FieldNames;
    return expression;
}

bool TFilterExpression::Evaluate(const TFieldValue& fieldValue, TFilterOptions options) const
{
    if (!FRoot)
        return true;
    const TFilterNode::TEvalContext context{fieldValue,
                               (options & foCaseInsensitive) ? Qt::CaseInsensitive : Qt::CaseSensitive,
                               (options & foNoPartialCompare) == 0};
    return FRoot->Test(context);
}
