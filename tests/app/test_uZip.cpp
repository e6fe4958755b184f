// The root bundle reader against archives built on the spot (ZipBuilder.h)
// and against the bundle the program ships.
#include "Text.h"
#include "ZipBuilder.h"
#include "uZip.h"

#include <QFile>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <ostream>
#include <utility>

using namespace ziptest;

// Readable failures; contents only by size and head.
void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

void PrintTo(const QByteArray& bytes, std::ostream* os)
{
    *os << bytes.size() << " bytes: " << bytes.left(32).toHex(' ').toStdString();
}

namespace {

using Files = std::vector<std::pair<QString, QByteArray>>;

Files ReadAll(const QByteArray& archive)
{
    TUnZip zip;
    zip.Open(archive);
    Files files;
    for (int i = 0; i < zip.Count(); ++i) {
        QString name;
        QByteArray content;
        zip.GetFile(i, name, content);
        files.emplace_back(name, content);
    }
    return files;
}

QByteArray Noise(qsizetype size, quint32 seed)
{
    QByteArray out(size, '\0');
    for (char& c : out) {
        seed = seed * 1664525u + 1013904223u;
        c = static_cast<char>(seed >> 24);
    }
    return out;
}

QByteArray AllByteValues()
{
    QByteArray out;
    for (int i = 0; i < 256; ++i)
        out.append(static_cast<char>(i));
    return out;
}

// Two entries, one of each method: the archive most layout tests start from.
ZipBuilder Pair()
{
    ZipBuilder zip;
    zip.Add("stored.cer", "stored content", Stored);
    zip.Add("deflated.crl", QByteArray(5000, 'x') + "tail", Deflated);
    return zip;
}

const Files PairFiles = {{"stored.cer", "stored content"}, {"deflated.crl", QByteArray(5000, 'x') + "tail"}};

TEST(UnZipContent, EveryEntryComesBackByteForByte)
{
    const std::vector<std::pair<const char*, QByteArray>> contents = {
        {"empty", QByteArray()},
        {"short text", "hello"},
        {"all byte values", AllByteValues()},
        {"incompressible 100 KB", Noise(100 * 1024, 7)},
        {"compressible 3 MB", QByteArray(3 * 1024 * 1024, '\x30')},
    };
    ZipBuilder zip;
    Files expected;
    for (quint16 method : {Stored, Deflated}) {
        for (const auto& [label, data] : contents) {
            const QByteArray name = QByteArray(label) + (method == Stored ? ".stored" : ".deflated");
            zip.Add(name, data, method);
            expected.emplace_back(QString::fromLatin1(name), data);
        }
    }
    const Files files = ReadAll(zip.Build());
    ASSERT_EQ(files.size(), expected.size());
    for (size_t i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(expected[i].first.toStdString());
        EXPECT_EQ(files[i].first, expected[i].first);
        EXPECT_TRUE(files[i].second == expected[i].second);
    }
}

TEST(UnZipContent, ListsInDirectoryOrderNotLocalOrder)
{
    ZipBuilder zip = Pair();
    zip.Add("third", "3");
    zip.reverseLocalOrder = true;
    Files expected = PairFiles;
    expected.emplace_back("third", "3");
    EXPECT_EQ(ReadAll(zip.Build()), expected);
}

struct NameCase
{
    const char* label;
    QByteArray stored;
    quint16 flags;
    quint8 host;
    quint32 attributes;
    QString expected; // null: a folder, left out
};

TEST(UnZipNames, DecodedAndFoldersLeftOut)
{
    const quint32 unixDir = 0040755u << 16;
    const quint32 unixFile = 0100644u << 16;
    const NameCase cases[] = {
        {"plain", "root1.cer", 0, HostDos, 0x20, "root1.cer"},
        {"no dot", "README", 0, HostDos, 0x20, "README"},
        {"nested", "a/b/c.crl", 0, HostDos, 0x20, "a\\b\\c.crl"},
        {"CP866", "\x8f\xe0\xa8\xac\xa5\xe0 \xf1\xaa.cer", 0, HostDos, 0x20, "Пример ёк.cer"},
        {"UTF-8 flag", "Пример/ёк.cer", 0x0800, HostDos, 0x20, "Пример\\ёк.cer"},
        {"DOS folder", "folder/", 0, HostDos, 0x10, QString()},
        {"NTFS folder", "folder/", 0, HostNtfs, 0x30, QString()},
        {"VFAT folder without slash", "folder", 0, HostVfat, 0x10, QString()},
        {"Unix folder by slash", "dir/", 0, HostUnix, unixDir, QString()},
        {"Unix folder with DOS bit", "dir/", 0, HostUnix, unixDir | 0x10, QString()},
        {"Unix file", "dir/file", 0, HostUnix, unixFile, "dir\\file"},
        {"DOS hidden read-only file", "sys.cer", 0, HostDos, 0x07, "sys.cer"},
    };
    for (const NameCase& c : cases) {
        SCOPED_TRACE(c.label);
        ZipBuilder zip;
        ZipEntry& entry = zip.Add(c.stored, c.expected.isNull() ? QByteArray() : QByteArray("data"));
        entry.flags = c.flags;
        entry.host = c.host;
        entry.externalAttributes = c.attributes;
        const Files files = ReadAll(zip.Build());
        if (c.expected.isNull()) {
            EXPECT_TRUE(files.empty());
        } else {
            ASSERT_EQ(files.size(), 1u);
            EXPECT_EQ(files[0].first, c.expected);
        }
    }
}

TEST(UnZipNames, FolderEntryLeftOutItsFileListed)
{
    ZipBuilder zip;
    zip.Add("folder/", "", Stored).externalAttributes = 0x10;
    zip.Add("folder/file", "inside");
    EXPECT_EQ(ReadAll(zip.Build()), (Files{{"folder\\file", "inside"}}));
}

TEST(UnZipNames, LongCyrillicNameInOemCodePage)
{
    const QString stem = QStringLiteral("Тестовый подчинённый УЦ, АО Образец; ");
    QString name;
    while (name.size() < 246)
        name += stem;
    name = name.left(246) + QStringLiteral(".cer");
    const QByteArray oem = StringToOem(name);
    ASSERT_EQ(oem.size(), 250);

    ZipBuilder zip;
    zip.Add(oem, "long");
    EXPECT_EQ(ReadAll(zip.Build()), (Files{{name, "long"}}));
}

TEST(UnZipLayout, EmptyArchive)
{
    EXPECT_TRUE(ReadAll(ZipBuilder().Build()).empty());
    const QByteArray bareEnd("PK\x05\x06" + QByteArray(18, '\0'));
    EXPECT_TRUE(ReadAll(bareEnd).empty());
}

TEST(UnZipLayout, ArchiveVariantsReadTheSame)
{
    const QByteArray stub = "MZ" + Noise(3000, 1);
    const QByteArray fakeEnd = "PK\x05\x06" + QByteArray(16, '\0') + "\x05";
    const std::vector<std::pair<const char*, std::function<void(ZipBuilder&)>>> variants = {
        {"stub before, offsets from the archive", [&](ZipBuilder& z) { z.prefix = stub; }},
        {"stub before, offsets from the data",
         [&](ZipBuilder& z) {
             z.prefix = stub;
             z.prefixInOffsets = true;
         }},
        {"comment", [](ZipBuilder& z) { z.comment = "Root bundle"; }},
        {"comment holding an end signature", [&](ZipBuilder& z) { z.comment = "note " + fakeEnd + "!!"; }},
        {"longest comment", [](ZipBuilder& z) { z.comment = QByteArray(0xFFFF, 'c'); }},
        {"Zip64",
         [](ZipBuilder& z) {
             z.zip64 = true;
             for (ZipEntry& e : z.entries)
                 e.zip64 = true;
         }},
        {"Zip64 end records only", [](ZipBuilder& z) { z.zip64 = true; }},
        {"Zip64 with stub and comment",
         [&](ZipBuilder& z) {
             z.zip64 = true;
             for (ZipEntry& e : z.entries)
                 e.zip64 = true;
             z.prefix = stub;
             z.comment = "c";
         }},
        {"foreign extra fields",
         [](ZipBuilder& z) {
             for (ZipEntry& e : z.entries)
                 e.extra = QByteArray("\x0a\x00\x04\x00"
                                      "abcd",
                                      8);
         }},
    };
    for (const auto& [label, apply] : variants) {
        SCOPED_TRACE(label);
        ZipBuilder zip = Pair();
        apply(zip);
        EXPECT_EQ(ReadAll(zip.Build()), PairFiles);
    }
}

struct DamageCase
{
    const char* label;
    std::function<QByteArray()> archive;
    int error;
};

QString MessageOf(int error)
{
    switch (error) {
    case 8: return "Invalid size or check sum of file or unsupported compression format - Native error: 00008";
    case 35: return "Invalid archive file. - Native error: 00035";
    case 40: return "Cannot find Zip64 directory end record - Native error: 00040";
    case 55: return "Deflate64 compression method is not supported - Native error: 00055";
    case 57: return "Archive is damaged. Open failed - Native error: 00057";
    }
    return QString();
}

// One entry, changed by change; then built.
QByteArray OneEntry(const std::function<void(ZipEntry&)>& change, quint16 method = Deflated)
{
    ZipBuilder zip;
    change(zip.Add("e.cer", QByteArray(2000, 'a') + "b", method));
    return zip.Build();
}

QByteArray Archive(const std::function<void(ZipBuilder&)>& change)
{
    ZipBuilder zip = Pair();
    change(zip);
    return zip.Build();
}

TEST(UnZipDamage, FailsWithItsNumberAndMessage)
{
    const QByteArray good = Pair().Build();
    const QByteArray bigZeros = Deflate(QByteArray(8 * 1024 * 1024, '\0'));
    const DamageCase cases[] = {
        {"not a ZIP at all", [] { return QByteArray("This is plainly not an archive, just some text to read."); }, 35},
        {"no data", [] { return QByteArray(); }, 35},
        {"shorter than an end record", [] { return QByteArray("PK\x05\x06"); }, 35},
        {"tail cut off", [&] { return good.left(good.size() - 5); }, 35},
        {"second half cut off", [&] { return good.left(good.size() / 2); }, 35},
        {"comment longer than the data",
         [] {
             return Archive([](ZipBuilder& z) {
                 z.comment = "c";
                 z.commentLength = 2;
             });
         },
         35},
        {"central header signature", [] { return OneEntry([](ZipEntry& e) { e.centralSignature = 0x02014B51; }); }, 35},
        {"local header signature", [] { return OneEntry([](ZipEntry& e) { e.localSignature = 0x04034B51; }); }, 35},
        {"local header offset beyond the data",
         [] { return OneEntry([](ZipEntry& e) { e.localOffset = 0x10000000; }); }, 35},
        {"directory offset beyond the data",
         [] { return Archive([](ZipBuilder& z) { z.directoryOffset = 0x7FFFFFF0; }); }, 35},
        {"directory larger than the data", [] { return Archive([](ZipBuilder& z) { z.directorySize = 0x7FFFFFF0; }); },
         35},
        {"more entries than the directory holds", [] { return Archive([](ZipBuilder& z) { z.entryCount = 3; }); }, 35},
        {"Zip64 entry count beyond the directory",
         [] {
             return Archive([](ZipBuilder& z) {
                 z.zip64 = true;
                 z.entryCount = ~0ull;
             });
         },
         35},
        {"Zip64 extra field short of a value",
         [] {
             return OneEntry([](ZipEntry& e) {
                 e.zip64 = true;
                 e.zip64ExtraValues = 1;
             });
         },
         35},
        {"wrong CRC", [] { return OneEntry([](ZipEntry& e) { e.crc = 0x12345678; }); }, 8},
        {"wrong CRC, stored", [] { return OneEntry([](ZipEntry& e) { e.crc = 0; }, Stored); }, 8},
        {"size claimed larger", [] { return OneEntry([](ZipEntry& e) { e.uncompressedSize = 2002; }); }, 8},
        {"size claimed smaller", [] { return OneEntry([](ZipEntry& e) { e.uncompressedSize = 2000; }); }, 8},
        {"more data than claimed, CRC of the claimed part",
         [] {
             return OneEntry([](ZipEntry& e) {
                 e.uncompressedSize = 2000;
                 e.crc = Crc(e.data.left(2000));
             });
         },
         8},
        {"size claimed larger, stored", [] { return OneEntry([](ZipEntry& e) { e.uncompressedSize = 2002; }, Stored); },
         8},
        {"deflate stream cut short", [] { return OneEntry([](ZipEntry& e) { e.packed = Deflate(e.data).left(5); }); },
         8},
        {"deflate stream garbage", [] { return OneEntry([](ZipEntry& e) { e.packed = QByteArray(40, '\xff'); }); }, 8},
        {"no deflate stream", [] { return OneEntry([](ZipEntry& e) { e.packed = QByteArray(); }); }, 8},
        {"inflates far beyond its claim",
         [&] {
             return OneEntry([&](ZipEntry& e) {
                 e.packed = bigZeros;
                 e.uncompressedSize = 100;
             });
         },
         8},
        {"claims an enormous size",
         [] {
             return OneEntry([](ZipEntry& e) {
                 e.zip64 = true;
                 e.uncompressedSize = 1ull << 62;
             });
         },
         8},
        {"encrypted", [] { return OneEntry([](ZipEntry& e) { e.flags = 0x0001; }); }, 8},
        {"Deflate64", [] { return OneEntry([](ZipEntry& e) { e.method = 9; }); }, 55},
        {"BZIP2", [] { return OneEntry([](ZipEntry& e) { e.method = 12; }); }, 8},
        {"Zip64 announced, records missing",
         [] {
             return Archive([](ZipBuilder& z) {
                 z.zip64 = true;
                 z.zip64Records = false;
             });
         },
         40},
        {"Zip64 end record signature",
         [] {
             return Archive([](ZipBuilder& z) {
                 z.zip64 = true;
                 z.zip64EndSignature = 0x06064B51;
             });
         },
         40},
        {"compressed sizes add up beyond the archive",
         [] {
             ZipBuilder zip;
             zip.Add("a", QByteArray(2000, 'a'), Stored).compressedSize = 3000;
             zip.Add("b", QByteArray(2000, 'b'), Stored).compressedSize = 3000;
             return zip.Build();
         },
         57},
        {"one compressed size beyond the archive",
         [] { return OneEntry([](ZipEntry& e) { e.compressedSize = 0xFFFFFFF0; }); }, 57},
    };
    for (const DamageCase& c : cases) {
        SCOPED_TRACE(c.label);
        TUnZip zip;
        try {
            zip.Open(c.archive());
            ADD_FAILURE() << "opened";
        } catch (const EZipError& e) {
            EXPECT_EQ(e.NativeError(), c.error);
            EXPECT_EQ(e.Message(), MessageOf(c.error));
        }
        EXPECT_THROW(zip.Count(), EAssertionFailed);
    }
}

TEST(UnZipState, CountAndGetFileNeedAnOpenArchive)
{
    TUnZip zip;
    QString name;
    QByteArray content;
    EXPECT_THROW(zip.Count(), EAssertionFailed);
    EXPECT_THROW(zip.GetFile(0, name, content), EAssertionFailed);

    zip.Open(Pair().Build());
    ASSERT_EQ(zip.Count(), 2);
    EXPECT_THROW(zip.GetFile(-1, name, content), EAssertionFailed);
    EXPECT_THROW(zip.GetFile(2, name, content), EAssertionFailed);
}

TEST(UnZipState, SecondOpenReplacesTheFirst)
{
    TUnZip zip;
    zip.Open(Pair().Build());
    ZipBuilder other;
    other.Add("only.crl", "only");
    zip.Open(other.Build());
    ASSERT_EQ(zip.Count(), 1);
    QString name;
    QByteArray content;
    zip.GetFile(0, name, content);
    EXPECT_EQ(name, "only.crl");
    EXPECT_EQ(content, "only");
}

TEST(UnZipState, FailedOpenLeavesNothingOpen)
{
    TUnZip zip;
    zip.Open(Pair().Build());
    // The directory reads fine; the second entry fails.
    ZipBuilder broken = Pair();
    broken.entries[1].crc = 1;
    EXPECT_THROW(zip.Open(broken.Build()), EZipError);
    EXPECT_THROW(zip.Count(), EAssertionFailed);

    zip.Open(Pair().Build());
    EXPECT_EQ(zip.Count(), 2);
}

TEST(UnZipBundle, ShippedRootBundle)
{
    QFile file(QStringLiteral(ROOTS_ZIP));
    if (!file.exists())
        GTEST_SKIP() << "no " << ROOTS_ZIP;
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const Files files = ReadAll(file.readAll());
    ASSERT_EQ(files.size(), 19u);
    int certificates = 0;
    int crls = 0;
    int longNames = 0;
    for (const auto& [name, content] : files) {
        SCOPED_TRACE(name.toStdString());
        certificates += name.endsWith(".cer");
        crls += name.endsWith(".crl");
        ASSERT_FALSE(content.isEmpty());
        EXPECT_EQ(content.at(0), '\x30');
        if (name.size() == 250) {
            ++longNames;
            EXPECT_TRUE(std::any_of(name.begin(), name.end(), [](QChar c) { return c.unicode() > 0x7F; }));
            EXPECT_TRUE(name.startsWith(QStringLiteral("Тестовый")));
        }
    }
    EXPECT_EQ(certificates, 10);
    EXPECT_EQ(crls, 9);
    EXPECT_EQ(longNames, 1);
}

} // namespace
