// Bundles made on the spot for the setup run tests.
#pragma once

#include "Text.h"
#include "ZipBuilder.h"

#include <QByteArray>
#include <QString>
#include <utility>
#include <vector>

namespace setuptest {

// A ZIP archive of the given (name, content) entries; "/" separates folders.
inline QByteArray Bundle(const std::vector<std::pair<QString, QByteArray>>& entries)
{
    ziptest::ZipBuilder zip;
    for (const auto& [name, content] : entries)
        zip.Add(StringToOem(name), content);
    return zip.Build();
}

} // namespace setuptest
