#include "IBApi.h"

#include "Text.h"

#include <QStringDecoder>
#include <vector>

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
            case isc_att_shutdown: return true;
            default: break;
            }
        }
        item += 2;
    }
    return false;
}

namespace {

// Server texts may carry data in any character set; keep what is UTF-8 and
// read the rest as the legacy code page.
QString ServerText(const QByteArray& bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (utf8.hasError())
        text = AnsiToString(bytes);
    return text;
}

QString FormatStatus(IStatus* status)
{
    char text[4096];
    Util()->formatStatus(text, sizeof text, status);
    return ServerText(QByteArray(text)).trimmed();
}

// The errors one by one: each code with the arguments that follow it, and
// its own line formatted by the client library from just that part.
std::vector<TIBStatusEntry> StatusEntries(const intptr_t* errors)
{
    std::vector<TIBStatusEntry> entries;
    IStatus* one = Master()->getStatus();
    const intptr_t* item = errors;
    while (*item != isc_arg_end) {
        const intptr_t* start = item;
        TIBStatusEntry entry;
        switch (item[0]) {
        case isc_arg_gds:
        case isc_arg_warning: entry.Code = static_cast<int>(item[1]); break;
        case isc_arg_interpreted:
            entry.Args.append(ServerText(QByteArray(reinterpret_cast<const char*>(item[1]))));
            break;
        case isc_arg_cstring: // a stray argument: type, length, text
            item += 3;
            continue;
        case isc_arg_sql_state: // it goes to SQLState()
        case isc_arg_string:
        case isc_arg_number: item += 2; continue;
        default: // an operating system's error number
            entry.Args.append(QString::number(item[1]));
            break;
        }
        item += 2;
        for (bool more = true; more;) {
            switch (item[0]) {
            case isc_arg_string:
                entry.Args.append(ServerText(QByteArray(reinterpret_cast<const char*>(item[1]))));
                item += 2;
                break;
            case isc_arg_cstring:
                entry.Args.append(
                    ServerText(QByteArray(reinterpret_cast<const char*>(item[2]), static_cast<qsizetype>(item[1]))));
                item += 3;
                break;
            case isc_arg_number:
                entry.Args.append(QString::number(item[1]));
                item += 2;
                break;
            default: more = false; break;
            }
        }
        std::vector<intptr_t> part(start, item);
        part.push_back(isc_arg_end);
        one->init();
        one->setErrors(part.data());
        entry.Text = FormatStatus(one);
        entries.push_back(std::move(entry));
    }
    one->dispose();
    return entries;
}

} // namespace

void RaiseStatus(IStatus* status, const QString& sql)
{
    const intptr_t* errors = status->getErrors();
    const int sqlCode = isc_sqlcode(errors);
    char sqlState[8] = {};
    fb_sqlstate(sqlState, errors);
    const QString message = FormatStatus(status);
    std::vector<TIBStatusEntry> entries = StatusEntries(errors);
    if (ConnectionLost(status))
        throw EIBConnectionLost(sqlCode, message, std::move(entries), QString::fromLatin1(sqlState), sql);
    throw EIBInterBaseError(sqlCode, message, std::move(entries), QString::fromLatin1(sqlState), sql);
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
    case csUtf8: return 4;
    case csUnicodeFss: return 3;
    default: return 1;
    }
}

QString TCharset::Decode(unsigned id, const char* data, qsizetype length) const
{
    switch (id) {
    case csWin1251: return AnsiToString(QByteArray::fromRawData(data, length));
    case csUtf8:
    case csUnicodeFss: return QString::fromUtf8(data, length);
    case csOctets:
    case csIso8859_1: return QString::fromLatin1(data, length);
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
    case csWin1251: return StringToAnsi(text);
    case csUtf8:
    case csUnicodeFss: return text.toUtf8();
    default: return text.toLatin1();
    }
}

} // namespace IBApi

void IBClientError(const char* message) { throw EIBClientError(QString::fromUtf8(message)); }

void IBClientError(const char* pattern, const QString& arg)
{
    throw EIBClientError(QString::fromUtf8(pattern).arg(arg));
}
