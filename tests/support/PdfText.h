// The text of a PDF file as Qt's PDF writer makes it: content streams
// (deflated) show glyph codes of Type0 fonts, which each font's ToUnicode map
// turns back into characters. One line per text object; enough for tests to
// look for the words a page shows, not a PDF reader.
#pragma once

#include <QByteArray>
#include <QMap>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <zlib.h>

namespace pdftest {

inline QByteArray Inflate(const QByteArray& data)
{
    QByteArray out;
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK)
        return {};
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = static_cast<uInt>(data.size());
    char buffer[65536];
    int result = Z_OK;
    while (result == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef*>(buffer);
        stream.avail_out = sizeof buffer;
        result = inflate(&stream, Z_NO_FLUSH);
        out.append(buffer, static_cast<qsizetype>(sizeof buffer - stream.avail_out));
    }
    inflateEnd(&stream);
    return out;
}

struct TPdfObject
{
    QByteArray Dictionary;
    QByteArray Stream; // inflated
};

inline QMap<int, TPdfObject> PdfObjects(const QByteArray& pdf)
{
    QMap<int, TPdfObject> objects;
    static const QRegularExpression start(QStringLiteral("(\\d+) 0 obj"));
    const QString text = QString::fromLatin1(pdf);
    auto match = start.globalMatch(text);
    while (match.hasNext()) {
        const auto m = match.next();
        const qsizetype begin = m.capturedEnd();
        const qsizetype end = pdf.indexOf("endobj", begin);
        if (end < 0)
            break;
        const QByteArray body = pdf.mid(begin, end - begin);
        TPdfObject object;
        const qsizetype streamAt = body.indexOf("stream");
        if (streamAt < 0) {
            object.Dictionary = body;
        } else {
            object.Dictionary = body.left(streamAt);
            qsizetype dataAt = streamAt + 6;
            if (body.mid(dataAt, 2) == "\r\n")
                dataAt += 2;
            else if (body.mid(dataAt, 1) == "\n")
                dataAt += 1;
            const qsizetype dataEnd = body.lastIndexOf("endstream");
            const QByteArray data = body.mid(dataAt, dataEnd - dataAt);
            object.Stream = object.Dictionary.contains("/FlateDecode") ? Inflate(data) : data;
        }
        objects[m.captured(1).toInt()] = object;
    }
    return objects;
}

// bfchar and bfrange entries of a ToUnicode map.
inline QMap<uint, QString> ToUnicodeMap(const QByteArray& cmap)
{
    QMap<uint, QString> map;
    const QString text = QString::fromLatin1(cmap);
    const auto unicode = [](const QString& hex) {
        QString result;
        for (qsizetype i = 0; i + 4 <= hex.size(); i += 4)
            result += QChar(static_cast<char16_t>(hex.mid(i, 4).toUInt(nullptr, 16)));
        return result;
    };
    static const QRegularExpression chars(QStringLiteral("<([0-9A-Fa-f]+)>\\s*<([0-9A-Fa-f]+)>\\s*(?=<|endbfchar)"));
    static const QRegularExpression ranges(
        QStringLiteral("<([0-9A-Fa-f]+)>\\s*<([0-9A-Fa-f]+)>\\s*(<[0-9A-Fa-f]+>|\\[[^\\]]*\\])"));
    for (const QString& section : text.split(QStringLiteral("beginbf"))) {
        if (section.startsWith(QStringLiteral("char"))) {
            auto it = chars.globalMatch(section);
            while (it.hasNext()) {
                const auto m = it.next();
                map[m.captured(1).toUInt(nullptr, 16)] = unicode(m.captured(2));
            }
        } else if (section.startsWith(QStringLiteral("range"))) {
            auto it = ranges.globalMatch(section);
            while (it.hasNext()) {
                const auto m = it.next();
                const uint low = m.captured(1).toUInt(nullptr, 16);
                const uint high = m.captured(2).toUInt(nullptr, 16);
                const QString target = m.captured(3);
                if (target.startsWith(QLatin1Char('['))) {
                    static const QRegularExpression item(QStringLiteral("<([0-9A-Fa-f]+)>"));
                    auto items = item.globalMatch(target);
                    for (uint code = low; code <= high && items.hasNext(); ++code)
                        map[code] = unicode(items.next().captured(1));
                } else {
                    const uint first = target.mid(1, target.size() - 2).toUInt(nullptr, 16);
                    for (uint code = low; code <= high; ++code)
                        map[code] = QString(QChar(static_cast<char16_t>(first + code - low)));
                }
            }
        }
    }
    return map;
}

// The texts drawn, one line per text object, pages one after the other.
inline QString PdfText(const QByteArray& pdf)
{
    const QMap<int, TPdfObject> objects = PdfObjects(pdf);
    static const QRegularExpression toUnicode(QStringLiteral("/ToUnicode (\\d+) 0 R"));
    QMap<int, QMap<uint, QString>> fonts; // by font object number
    for (auto it = objects.begin(); it != objects.end(); ++it) {
        const auto m = toUnicode.match(QString::fromLatin1(it->Dictionary));
        if (m.hasMatch())
            fonts[it.key()] = ToUnicodeMap(objects.value(m.captured(1).toInt()).Stream);
    }
    static const QRegularExpression fontRef(QStringLiteral("/F(\\d+) (\\d+) 0 R"));
    QMap<QString, int> fontNames; // resource name -> font object
    for (const TPdfObject& object : objects) {
        auto it = fontRef.globalMatch(QString::fromLatin1(object.Dictionary));
        while (it.hasNext()) {
            const auto m = it.next();
            fontNames[QStringLiteral("F") + m.captured(1)] = m.captured(2).toInt();
        }
    }
    static const QRegularExpression token(QStringLiteral("/(F\\d+) [\\d.]+ Tf|<([0-9A-Fa-f]+)> Tj|\\bET\\b"));
    QString text;
    for (const TPdfObject& object : objects) {
        if (object.Stream.isEmpty() || !object.Stream.contains(" Tj"))
            continue;
        const QMap<uint, QString>* font = nullptr;
        auto it = token.globalMatch(QString::fromLatin1(object.Stream));
        while (it.hasNext()) {
            const auto m = it.next();
            if (!m.captured(1).isEmpty()) {
                const auto found = fonts.constFind(fontNames.value(m.captured(1), -1));
                font = found == fonts.constEnd() ? nullptr : &found.value();
            } else if (!m.captured(2).isEmpty()) {
                const QString hex = m.captured(2);
                for (qsizetype i = 0; i + 4 <= hex.size(); i += 4)
                    text += font ? font->value(hex.mid(i, 4).toUInt(nullptr, 16)) : QStringLiteral("?");
            } else if (!text.endsWith(QLatin1Char('\n'))) {
                text += QLatin1Char('\n');
            }
        }
    }
    // Qt's writer maps the space glyph to a tab.
    return text.replace(QLatin1Char('\t'), QLatin1Char(' '));
}

} // namespace pdftest
