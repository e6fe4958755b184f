#include "FilterExpr.h"

#include "Exceptions.h"

#include <initializer_list>
#include <limits>
#include <utility>
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

// A run of unary minus signs. Once negated, a value is a number, a date or
// null, and negating it twice gives it back: an odd run acts as one sign, an
// even run as two.
struct TNegateNode final : TFilterNode
{
    TNegateNode(TNodePtr operand, int times) : Operand(std::move(operand)), Times(times) {}
    Variant Value(const TEvalContext& context) const override
    {
        Variant value = Operand->Value(context);
        for (int i = 0; i < Times; ++i)
            value = -value;
        return value;
    }

    TNodePtr Operand;
    int Times; // 1 or 2
};

enum class TArithOp { Add, Subtract, Multiply, Divide };

// A chain a op b op c ... of one precedence, left to right. Held flat so that
// neither evaluation nor destruction recurses along a long chain.
struct TArithNode final : TFilterNode
{
    explicit TArithNode(TNodePtr first) : First(std::move(first)) {}
    Variant Value(const TEvalContext& context) const override
    {
        Variant value = First->Value(context);
        for (const auto& [op, operand] : Rest)
            value = Apply(op, value, operand->Value(context));
        return value;
    }

    static Variant Apply(TArithOp op, const Variant& a, const Variant& b)
    {
        switch (op) {
        case TArithOp::Add: return a + b;
        case TArithOp::Subtract: return a - b;
        case TArithOp::Multiply: return a * b;
        case TArithOp::Divide: return a / b;
        }
        return Variant::Null();
    }

    TNodePtr First;
    std::vector<std::pair<TArithOp, TNodePtr>> Rest;
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
    bool Test(const TEvalContext& context) const override { return Operand->Value(context).IsEmptyOrNull() != Negated; }

    TNodePtr Operand;
    bool Negated;
};

// A run of NOTs: an odd run negates, an even one keeps the operand's truth.
struct TNotNode final : TConditionNode
{
    TNotNode(TNodePtr operand, bool negate) : Operand(std::move(operand)), Negate(negate) {}
    bool Test(const TEvalContext& context) const override { return Operand->Test(context) != Negate; }

    TNodePtr Operand;
    bool Negate;
};

// a AND b AND c ... (or OR), held flat like arithmetic chains and tested left
// to right until the outcome is known.
template <bool IsOr>
struct TJunctionNode final : TConditionNode
{
    bool Test(const TEvalContext& context) const override
    {
        for (const TNodePtr& operand : Operands)
            if (operand->Test(context) == IsOr)
                return IsOr;
        return !IsOr;
    }

    std::vector<TNodePtr> Operands;
};
using TAndNode = TJunctionNode<false>;
using TOrNode = TJunctionNode<true>;

// ---------------------------------------------------------------------------

enum class TTokenKind { End, Name, Field, String, Number, Symbol };

struct TToken
{
    TTokenKind Kind;
    QString Value; // the name, the unquoted string or field name, the number or symbol text
    int Pos;       // 0-based index into the text
    int Length;
};

bool IsNameStart(QChar c) { return c.isLetter() || c == QLatin1Char('_') || c == QLatin1Char('$'); }

bool IsNamePart(QChar c) { return IsNameStart(c) || c.isDigit() || c == QLatin1Char('.'); }

[[noreturn]] void SyntaxError(const QString& message) { throw EDatabaseError(message); }

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
            const QString value = ReadQuoted(text, start, QLatin1Char(']'), false, i,
                                             QStringLiteral("Missing right bracket"));
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
        QString message =
            QStringLiteral("%1 expected near '%2' at position %3").arg(what, Near()).arg(Current().Pos + 1);
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

    TNodePtr ParseOr() { return ParseJunction<TOrNode>("OR", &TParser::ParseAnd); }
    TNodePtr ParseAnd() { return ParseJunction<TAndNode>("AND", &TParser::ParseNot); }

    // operand { keyword operand }, each operand a condition once there are two.
    template <typename TNode>
    TNodePtr ParseJunction(const char* keyword, TNodePtr (TParser::*parseOperand)())
    {
        TNodePtr first = (this->*parseOperand)();
        if (!IsKeyword(keyword))
            return first;
        RequireCondition(*first);
        auto junction = std::make_unique<TNode>();
        junction->Operands.push_back(std::move(first));
        while (IsKeyword(keyword)) {
            Next();
            TNodePtr operand = (this->*parseOperand)();
            RequireCondition(*operand);
            junction->Operands.push_back(std::move(operand));
        }
        return junction;
    }

    TNodePtr ParseNot()
    {
        int count = 0;
        for (; IsKeyword("NOT"); Next())
            ++count;
        if (count == 0)
            return ParseComparison();
        TNodePtr operand = ParseComparison();
        RequireCondition(*operand);
        return std::make_unique<TNotNode>(std::move(operand), count % 2 != 0);
    }

    TNodePtr ParseComparison()
    {
        TNodePtr left = ParseSum();
        static const struct
        {
            const char* Symbol;
            TCompareOp Op;
        } operators[] = {
            {"=", TCompareOp::Equal},           {"<>", TCompareOp::NotEqual},
            {"!=", TCompareOp::NotEqual},       {"<", TCompareOp::Less},
            {"<=", TCompareOp::LessOrEqual},    {">", TCompareOp::Greater},
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
        return ParseChain({{"+", TArithOp::Add}, {"-", TArithOp::Subtract}}, &TParser::ParseProduct);
    }

    TNodePtr ParseProduct()
    {
        return ParseChain({{"*", TArithOp::Multiply}, {"/", TArithOp::Divide}}, &TParser::ParseUnary);
    }

    struct TChainOperator
    {
        const char* Symbol;
        TArithOp Op;
    };

    // operand { op operand } with the operators of one precedence.
    TNodePtr ParseChain(std::initializer_list<TChainOperator> operators, TNodePtr (TParser::*parseOperand)())
    {
        const auto currentOperator = [&]() -> const TChainOperator* {
            for (const TChainOperator& entry : operators)
                if (IsSymbol(entry.Symbol))
                    return &entry;
            return nullptr;
        };
        TNodePtr first = (this->*parseOperand)();
        if (!currentOperator())
            return first;
        auto chain = std::make_unique<TArithNode>(std::move(first));
        while (const TChainOperator* entry = currentOperator()) {
            Next();
            chain->Rest.emplace_back(entry->Op, (this->*parseOperand)());
        }
        return chain;
    }

    TNodePtr ParseUnary()
    {
        int minuses = 0;
        for (; IsSymbol("+") || IsSymbol("-"); Next())
            minuses += IsSymbol("-") ? 1 : 0;
        TNodePtr operand = ParseOperand();
        if (minuses == 0)
            return operand;
        const int times = minuses % 2 != 0 ? 1 : 2;
        // A negative number is folded into its literal.
        if (auto* literal = dynamic_cast<TLiteralNode*>(operand.get()); literal && literal->Literal.IsNumeric()) {
            for (int i = 0; i < times; ++i)
                literal->Literal = -literal->Literal;
            return operand;
        }
        return std::make_unique<TNegateNode>(std::move(operand), times);
    }

    TNodePtr ParseOperand()
    {
        const TToken& token = Current();
        switch (token.Kind) {
        case TTokenKind::Symbol:
            if (IsSymbol("(")) {
                // Parentheses are the one way the parser recurses: bound them
                // so that no text can exhaust the stack.
                if (FNesting == kMaxNesting)
                    SyntaxError(QStringLiteral("Parentheses nested too deeply at position %1").arg(token.Pos + 1));
                ++FNesting;
                Next();
                TNodePtr inner = ParseOr();
                if (!IsSymbol(")"))
                    Expected(QStringLiteral("')'"));
                Next();
                --FNesting;
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

    static constexpr int kMaxNesting = 255;

    const QString& FText;
    std::vector<TToken> FTokens;
    size_t FIndex = 0;
    int FNesting = 0;
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
