// Arbitrary bytes as a root bundle: Open may refuse them, but must not crash,
// hang or read outside them; whatever it accepts must be readable.
#include "uZip.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    TUnZip zip;
    try {
        zip.Open(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    } catch (const Exception&) {
        return 0;
    }
    QString name;
    QByteArray content;
    for (int i = 0; i < zip.Count(); ++i)
        zip.GetFile(i, name, content);
    return 0;
}
