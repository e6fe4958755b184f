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

bool IsBlobType(TFieldType type)
{
    return type == ftBlob || type == ftMemo;
}

int FixedDataSize(TFieldType type, int size)
{
    switch (type) {
    case ftSmallint:
    case ftWord: return 2;
    case ftInteger:
    case ftAutoInc: return 4;
    case ftBoolean: return 1;
    case ftFloat:
    case ftCurrency:
    case ftBCD:
    case ftDate:
    case ftTime:
    case ftDateTime:
    case ftLargeint: return 8;
    case ftBytes: return size;
    case ftUnknown:
    case ftString:
    case ftBlob:
    case ftMemo: return 0;
    }
    return 0;
}
