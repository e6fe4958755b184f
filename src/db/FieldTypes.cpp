#include "FieldTypes.h"

QString FieldTypeName(TFieldType type)
{
    switch (type) {
    case ftUnknown: return QStringLiteral("Unknown");
    case ftString: return QStringLiteral("String");
    case ftSmallint: return QStringLiteral("SmallInt");
    case ftInteger: return QStringLiteral("Integer");
    case ftWord: return QStringLiteral("Word");
    case ftBoolean: return QStringLiteral("Boolean");
    case ftFloat: return QStringLiteral("Float");
    case ftCurrency: return QStringLiteral("Currency");
    case ftBCD: return QStringLiteral("BCD");
    case ftDate: return QStringLiteral("Date");
    case ftTime: return QStringLiteral("Time");
    case ftDateTime: return QStringLiteral("DateTime");
    case ftBytes: return QStringLiteral("Bytes");
    case ftAutoInc: return QStringLiteral("AutoInc");
    case ftBlob: return QStringLiteral("Blob");
    case ftMemo: return QStringLiteral("Memo");
    case ftLargeint: return QStringLiteral("LargeInt");
    }
    return QStringLiteral("Unknown");
}

bool IsBlobType(TFieldType type) { return type == ftBlob || type == ftMemo; }

bool IsNumericType(TFieldType type)
{
    switch (type) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftFloat:
    case ftCurrency:
    case ftBCD:
    case ftAutoInc:
    case ftLargeint: return true;
    default: return false;
    }
}
