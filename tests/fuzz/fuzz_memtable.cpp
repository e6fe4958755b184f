// Arbitrary bytes as the payload of a table file (the header and checksum
// are made to fit, so the payload's own reading is what gets exercised):
// loading may refuse them but must not crash, hang or read outside them, and
// whatever it accepts must be a table whose rows read back in every order.
#include "MemTable.h"
#include "MemTableFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <cstddef>
#include <cstdint>
#include <zlib.h>

namespace {

QByteArray WithHeader(const uint8_t* data, size_t size)
{
    QByteArray file(20, '\0');
    file.replace(0, 4, "CSMT");
    qToLittleEndian<quint16>(MemTableFileVersion, file.data() + 4);
    qToLittleEndian<quint64>(size, file.data() + 8);
    qToLittleEndian<quint32>(static_cast<quint32>(crc32_z(0, data, size)), file.data() + 16);
    file.append(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    return file;
}

void ReadEveryRow(TCustomMemTable& table)
{
    for (table.First(); !table.Eof(); table.Next())
        for (TField* field : table.Fields())
            (void)field->DisplayText();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("table.cds"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(WithHeader(data, size));
    }
    TCustomMemTable table;
    try {
        table.LoadFromFile(path);
    } catch (const Exception&) {
        return 0;
    }
    ReadEveryRow(table);
    for (int i = 0; i < table.IndexDefs().Count(); ++i) {
        try {
            table.SetIndexName(table.IndexDefs()[i].Name());
        } catch (const Exception&) {
            continue;
        }
        ReadEveryRow(table);
    }
    return 0;
}
