#include "IBApi.h"

#include "Text.h"

#include <QStringDecoder>

using namespace Firebird;

namespace IBApi {

IMaster* Master()
{
    static IMaster* master = fb_get_master_interface();
    return master;
}

IUtil* Util()
{
    static IUtil* util = Master()->getUtilInterface();
    return util;
}

bool ConnectionLost(IStatus* status)
{
    // The telling code may follow a general one ("connection shutdown" after
    // "Error reading data from the connection"): walk the whole vector.
    const intptr_t* item = status->getErrors();
    while (*item != isc_arg_end) {
        if (*item == isc_arg_cstring) { // type, length, text
            item += 3;
            continue;
        }
        if (*item == isc_arg_gds) {
            switch (item[1]) {
            case isc_network_error:
            case isc_net_read_err:
            case isc_net_write_err:
            case isc_lost_db_connection:
            case isc_shutdown:
            case isc_att_shutdown:
                return true;
            default:
                break;
            }
        }
        item += 2;
    }
    return false;
}

void RaiseStatus(IStatus* status)
{
    char text[4096];
    Util()->formatStatus(text, sizeof text, status);
    const intptr_t* errors = status->getErrors();
    const int sqlCode = isc_sqlcode(errors);
    const int code = errors[0] == isc_arg_gds ? static_cast<int>(errors[1]) : 0;
    // Server texts may carry data in any character set; keep what is UTF-8
    // and read the rest as the legacy code page.
    QByteArray bytes(text);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString message = utf8.decode(bytes);
    if (utf8.hasError())
        message = AnsiToString(bytes);
    if (ConnectionLost(status))
        throw EIBConnectionLost(sqlCode, code, message.trimmed());
    throw EIBInterBaseError(sqlCode, code, message.trimmed());
}

TXpb::TXpb(TStatus& status, unsigned kind) : FBuilder(Util()->getXpbBuilder(&status, kind, nullptr, 0)) {}

TCharset TCharset::FromName(const QString& name)
{
    TCharset result;
    const QString upper = name.trimmed().toUpper();
    if (upper == QLatin1String("WIN1251"))
        result.FId = csWin1251;
    else if (upper == QLatin1String("UTF8"))
        result.FId = csUtf8;
    else if (upper == QLatin1String("UNICODE_FSS"))
        result.FId = csUnicodeFss;
    else if (upper == QLatin1String("OCTETS"))
        result.FId = csOctets;
    else if (upper == QLatin1String("ISO8859_1"))
        result.FId = csIso8859_1;
    return result;
}

int TCharset::BytesPerChar(unsigned id)
{
    switch (id) {
    case csUtf8:
        return 4;
    case csUnicodeFss:
        return 3;
    default:
        return 1;
    }
}

QString TCharset::Decode(unsigned id, const char* data, qsizetype length) const
{
    switch (id) {
    case csWin1251:
        return AnsiToString(QByteArray::fromRawData(data, length));
    case csUtf8:
    case csUnicodeFss:
        return QString::fromUtf8(data, length);
    case csOctets:
    case csIso8859_1:
        return QString::fromLatin1(data, length);
    default: // NONE and the rest: as the connection reads them
        return id == FId ? QString::fromLatin1(data, length) : Decode(data, length);
    }
}

QString TCharset::Decode(const char* data, qsizetype length) const
{
    return FId == csNone ? QString::fromLatin1(data, length) : Decode(FId, data, length);
}

QByteArray TCharset::Encode(const QString& text) const
{
    switch (FId) {
    case csWin1251:
        return StringToAnsi(text);
    case csUtf8:
    case csUnicodeFss:
        return text.toUtf8();
    default:
        return text.toLatin1();
    }
}

} // namespace IBApi

void IBClientError(const char* message)
{
    throw EIBClientError(QString::fromUtf8(message));
}

void IBClientError(const char* pattern, const QString& arg)
{
    throw EIBClientError(QString::fromUtf8(pattern).arg(arg));
}
