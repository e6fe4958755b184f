#include "Text.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace {

QString decode(const char* codec, const QByteArray& bytes)
{
    QStringDecoder decoder(codec);
    return decoder.isValid() ? decoder.decode(bytes) : QString::fromLatin1(bytes);
}

// Characters the code page lacks become '?', its default character (the
// converter itself writes the control character SUB for them).
QByteArray encode(const char* codec, const QString& text)
{
    constexpr char Sub = '\x1A';
    QStringEncoder encoder(codec, QStringConverter::Flag::Stateless);
    if (!encoder.isValid())
        return text.toLatin1();
    QByteArray bytes = encoder.encode(text);
    if (!bytes.contains(Sub))
        return bytes;
    if (!text.contains(QChar(Sub)))
        return bytes.replace(Sub, '?');
    bytes.clear();
    for (QChar c : text)
        bytes += c == QChar(Sub) ? QByteArray(1, Sub) : QByteArray(encoder.encode(QString(c))).replace(Sub, '?');
    return bytes;
}

// The part between leading and trailing characters whose code is below 33.
template <typename Text, typename Code>
Text TrimBelow33(const Text& text, Code code)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && code(text.at(begin)) < 33)
        ++begin;
    while (end > begin && code(text.at(end - 1)) < 33)
        --end;
    return text.mid(begin, end - begin);
}

} // namespace

QString AnsiToString(const QByteArray& ansi) { return decode("windows-1251", ansi); }
QByteArray StringToAnsi(const QString& text) { return encode("windows-1251", text); }
QString OemToString(const QByteArray& oem) { return decode("IBM866", oem); }
QByteArray StringToOem(const QString& text) { return encode("IBM866", text); }

QString Trim(const QString& text)
{
    return TrimBelow33(text, [](QChar c) { return unsigned(c.unicode()); });
}

QByteArray Trim(const QByteArray& bytes)
{
    return TrimBelow33(bytes, [](char c) { return unsigned(static_cast<unsigned char>(c)); });
}

QString TrimRight(const QString& text)
{
    qsizetype end = text.size();
    while (end > 0 && text.at(end - 1).unicode() < 33)
        --end;
    return text.left(end);
}

QString TrimSystemMessage(const QString& text)
{
    qsizetype end = text.size();
    while (end > 0) {
        const QChar c = text.at(end - 1);
        if (c != QLatin1Char('.') && c != QLatin1Char('\r') && c != QLatin1Char('\n') && !c.isSpace())
            break;
        --end;
    }
    return text.left(end);
}
