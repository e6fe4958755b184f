#include "RusClipboard.h"

#include <QtEndian>

const QString TRusClipboard::LocaleFormat = QStringLiteral("application/x-clipboard-locale");

void TRusClipboard::SetLocale(uint32_t localeId)
{
    QByteArray data(sizeof localeId, '\0');
    qToLittleEndian(localeId, data.data());
    SetClipboardData(LocaleFormat, data);
}

uint32_t TRusClipboard::Locale()
{
    const QByteArray data = GetClipboardData(LocaleFormat);
    if (data.size() != sizeof(uint32_t))
        return 0;
    return qFromLittleEndian<uint32_t>(data.constData());
}
