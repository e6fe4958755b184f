// Saving and loading the in-memory table: a round trip of every type, nulls,
// blobs and index definitions; damaged files refused without harm.
#include "DataSetFixture.h"
#include "Exceptions.h"
#include "MemTableFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <zlib.h>

namespace {

using dbtest::Ids;
using dbtest::MakeTable;

std::unique_ptr<TCustomMemTable> EveryType()
{
    auto table = std::make_unique<TCustomMemTable>();
    const struct
    {
        const char* name;
        TFieldType type;
        int size;
    } defs[] = {
        {"S", ftString, 30}, {"I16", ftSmallint, 0}, {"I32", ftInteger, 0},  {"W", ftWord, 0},
        {"B", ftBoolean, 0}, {"F", ftFloat, 0},      {"C", ftCurrency, 0},   {"BCD", ftBCD, 2},
        {"D", ftDate, 0},    {"T", ftTime, 0},       {"DT", ftDateTime, 0},  {"KEY", ftBytes, 8},
        {"BLOB", ftBlob, 0}, {"MEMO", ftMemo, 0},    {"I64", ftLargeint, 0},
    };
    for (const auto& d : defs)
        table->FieldDefs().Add(QLatin1String(d.name), d.type, d.size);
    table->FieldDefs()[0].SetRequired(true);
    table->AddIndex(QStringLiteral("BY_S"), QStringLiteral("S"), ixUnique | ixCaseInsensitive);
    table->Open();
    const std::vector<std::vector<Variant>> rows = {
        {"Привет", -5, 100000, 65535, true, 2.5, TCurrency{123456}, 12.34, Variant::FromDateTime(45000),
         Variant::FromDateTime(0.25), Variant::FromDateTime(45000.5), QByteArray("\x01\x02\x03\x04\x05\x06\x07\x08", 8),
         QByteArray("\x00\xFF"
                    "blob",
                    6),
         QStringLiteral("многострочный\nтекст"), int64_t(1) << 40},
        {"пусто", Variant::Null(), Variant::Null(), Variant::Null(), Variant::Null(), Variant::Null(), Variant::Null(),
         Variant::Null(), Variant::Null(), Variant::Null(), Variant::Null(), Variant::Null(), Variant::Null(),
         Variant::Null(), Variant::Null()},
    };
    for (const auto& row : rows) {
        table->Append();
        for (int i = 0; i < table->FieldCount(); ++i)
            table->Fields()[i]->SetValue(row[size_t(i)]);
        table->Post();
    }
    return table;
}

TEST(MemTableFile, RoundTripOfEveryTypeNullsBlobsAndIndexes)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("GOODS.CDS"));
    auto original = EveryType();
    original->SaveToFile(path);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList({"GOODS.CDS"})) << "no temporary file left";

    TCustomMemTable loaded;
    loaded.LoadFromFile(path);
    ASSERT_TRUE(loaded.Active());
    EXPECT_FALSE(loaded.DataModified());
    ASSERT_EQ(loaded.FieldDefs().Count(), original->FieldDefs().Count());
    EXPECT_TRUE(loaded.FieldDefs()[0].Required());
    EXPECT_EQ(loaded.FieldDefs().Find(QStringLiteral("BCD"))->Size(), 2);
    ASSERT_EQ(loaded.IndexDefs().Count(), 1);
    EXPECT_EQ(loaded.IndexDefs()[0].Options(), ixUnique | ixCaseInsensitive);
    ASSERT_EQ(loaded.RecordCount(), 2);

    original->First();
    for (loaded.First(); !loaded.Eof(); loaded.Next(), original->Next())
        for (int i = 0; i < loaded.FieldCount(); ++i) {
            const Variant a = original->Fields()[i]->Value();
            const Variant b = loaded.Fields()[i]->Value();
            EXPECT_EQ(a.IsNull(), b.IsNull()) << loaded.Fields()[i]->FieldName().toStdString();
            if (!a.IsNull()) {
                EXPECT_EQ(a.Compare(b), 0) << loaded.Fields()[i]->FieldName().toStdString();
            }
        }

    // The index came back and works.
    loaded.SetIndexName(QStringLiteral("BY_S"));
    EXPECT_TRUE(loaded.FindKey({"ПРИВЕТ"}));
}

// An empty table's index orders are empty: nothing of them may be copied
// (the sanitized build catches a copy from a null pointer).
TEST(MemTableFile, EmptyTableWithIndexesRoundTrips)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("EMPTY.CDS"));
    auto original = MakeTable();
    original->AddIndex(QStringLiteral("BY_NAME"), QStringLiteral("NAME"), {});
    original->SaveToFile(path);

    TCustomMemTable loaded;
    loaded.LoadFromFile(path);
    ASSERT_TRUE(loaded.Active());
    EXPECT_EQ(loaded.RecordCount(), 0);
    ASSERT_EQ(loaded.IndexDefs().Count(), original->IndexDefs().Count());
    loaded.SetIndexName(QStringLiteral("BY_NAME"));
    EXPECT_TRUE(loaded.Eof());
}

TEST(MemTableFile, TheIndexOfAFieldListOrderStaysOutOfTheFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("SORTED.CDS"));
    auto original = MakeTable({{2, "b", 1}, {1, "a", 2}});
    original->AddIndex(QStringLiteral("BY_NAME"), QStringLiteral("NAME"), {});
    original->SetIndexFieldNames(QStringLiteral("PRICE"));
    original->SaveToFile(path);
    EXPECT_EQ(Ids(*original), QList<int>({2, 1})) << "the order shown stays";

    TCustomMemTable loaded;
    loaded.LoadFromFile(path);
    ASSERT_EQ(loaded.IndexDefs().Count(), 1);
    EXPECT_EQ(loaded.IndexDefs()[0].Name(), QStringLiteral("BY_NAME"));
    loaded.SetIndexFieldNames(QStringLiteral("PRICE"));
    EXPECT_EQ(Ids(loaded), QList<int>({2, 1}));
}

TEST(MemTableFile, SavingReplacesTheOldFileWhole)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("T.CDS"));
    MakeTable({{1, "a", 1}, {2, "b", 2}})->SaveToFile(path);
    MakeTable({{3, "c", 3}})->SaveToFile(path);
    TCustomMemTable loaded;
    loaded.LoadFromFile(path);
    EXPECT_EQ(Ids(loaded), QList<int>({3}));
    EXPECT_THROW(MakeTable()->SaveToFile(dir.filePath(QStringLiteral("no/such/folder/T.CDS"))), EDatabaseError);
}

TEST(MemTableFile, ATagTravelsWithTheRows)
{
    const auto ReadBytes = [](const QString& fileName) {
        QFile file(fileName);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    const auto WriteBytes = [](const QString& fileName, const QByteArray& bytes) {
        QFile file(fileName);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    };
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("T.CDS"));
    MakeTable({{1, "a", 1}})->SaveToFile(path, QStringLiteral("T=версия =2"));
    EXPECT_EQ(ReadMemTableFileTag(path), QStringLiteral("T=версия =2"));
    EXPECT_EQ(DecodeMemTableImage(ReadBytes(path), path).Tag, QStringLiteral("T=версия =2"));

    // Files of the format before the tag still load, and say nothing.
    TMemTableImage image = DecodeMemTableImage(ReadBytes(path), path);
    image.Tag.clear();
    QByteArray untagged = EncodeMemTableImage(image);
    untagged.remove(20, 4); // the empty tag's length
    untagged[4] = 2;
    const quint64 length = quint64(untagged.size() - 20);
    for (int i = 0; i < 8; ++i)
        untagged[8 + i] = char((length >> (8 * i)) & 0xFF);
    const auto crc = quint32(crc32_z(0, reinterpret_cast<const Bytef*>(untagged.constData() + 20), size_t(length)));
    for (int i = 0; i < 4; ++i)
        untagged[16 + i] = char((crc >> (8 * i)) & 0xFF);
    WriteBytes(path, untagged);
    TCustomMemTable loaded;
    loaded.LoadFromFile(path);
    EXPECT_EQ(Ids(loaded), QList<int>({1}));
    EXPECT_TRUE(ReadMemTableFileTag(path).isEmpty());

    // Nor do a missing file or a stub.
    EXPECT_TRUE(ReadMemTableFileTag(dir.filePath(QStringLiteral("missing.CDS"))).isEmpty());
    WriteBytes(path, QByteArray("CSMT\x03\x00\x00\x00", 8));
    EXPECT_TRUE(ReadMemTableFileTag(path).isEmpty());
}

TEST(MemTableFile, DamagedFilesAreRefusedAndTheTableKept)
{
    QTemporaryDir dir;
    const QString good = dir.filePath(QStringLiteral("good.CDS"));
    MakeTable({{1, "a", 1}, {2, "b", 2}})->SaveToFile(good);
    QFile in(good);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    const QByteArray bytes = in.readAll();

    QByteArray wrongVersion = bytes;
    wrongVersion[4] = 9;
    QByteArray badChecksum = bytes;
    badChecksum[bytes.size() - 3] = char(badChecksum[bytes.size() - 3] ^ 0x40);
    const struct
    {
        const char* name;
        QByteArray bytes;
        const char* reason;
    } cases[] = {
        {"truncated", bytes.left(bytes.size() - 5), "truncated"},
        {"header only", bytes.left(10), "not a table file"},
        {"wrong version", wrongVersion, "unsupported format version 9"},
        {"bad checksum", badChecksum, "checksum mismatch"},
        {"not a table", QByteArray("PK\x03\x04 something else entirely"), "not a table file"},
        {"empty", QByteArray(), "not a table file"},
    };
    auto table = MakeTable({{7, "kept", 7}});
    for (const auto& c : cases) {
        const QString path = dir.filePath(QLatin1String(c.name));
        QFile out(path);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(c.bytes);
        out.close();
        try {
            table->LoadFromFile(path);
            ADD_FAILURE() << c.name;
        } catch (const EDatabaseError& e) {
            EXPECT_TRUE(e.Message().contains(QLatin1String(c.reason))) << c.name << ": " << e.Message().toStdString();
            EXPECT_TRUE(e.Message().contains(path)) << "the message names the file";
        }
        EXPECT_EQ(Ids(*table), QList<int>({7})) << c.name << ": the table is as it was";
    }
    EXPECT_THROW(table->LoadFromFile(dir.filePath(QStringLiteral("missing.CDS"))), EDatabaseError);

    // Payloads that lie, behind a correct header and checksum.
    const auto withHeader = [](const QByteArray& payload) {
        QByteArray file("CSMT\x02\x00\x00\x00", 8);
        for (quint64 length = quint64(payload.size()), i = 0; i < 8; ++i)
            file += char((length >> (8 * i)) & 0xFF);
        const auto crc = quint32(
            crc32_z(0, reinterpret_cast<const Bytef*>(payload.constData()), size_t(payload.size())));
        for (int i = 0; i < 4; ++i)
            file += char((crc >> (8 * i)) & 0xFF);
        return file + payload;
    };
    // One field definition, no indexes, then the row count and the rows.
    const auto payload = [](TFieldType type, quint64 rows, const QByteArray& forms) {
        QByteArray p;
        const auto put = [&](auto value) { p.append(reinterpret_cast<const char*>(&value), sizeof value); };
        put(quint32(1));
        put(quint32(1));
        p += 'X';
        put(quint8(type));
        put(qint32(20));
        put(qint32(0));
        put(quint8(0));
        put(quint8(0));
        put(qint32(1));
        put(quint32(0));
        put(rows);
        return p + forms + QByteArray(4, '\0');
    };
    const struct
    {
        const char* name;
        QByteArray payload;
        const char* reason;
    } lies[] = {
        {"row count", payload(ftInteger, 1000000000, QByteArray("\0\1\0\0\0", 5)), "bad row count"},
        {"text longer than the file",
         payload(ftString, 1,
                 QByteArray("\0\x40"
                            "ab",
                            4)),
         "the contents are damaged"},
        {"odd UTF-16 length",
         payload(ftString, 1,
                 QByteArray("\0\x07"
                            "abc",
                            5)),
         "the contents are damaged"},
        {"endless length", payload(ftString, 1, QByteArray("\0\xFF\xFF\xFF\xFF\xFF\x01", 7)),
         "the contents are damaged"},
    };
    for (const auto& lie : lies) {
        try {
            DecodeMemTableImage(withHeader(lie.payload), QStringLiteral("lying.CDS"));
            ADD_FAILURE() << lie.name;
        } catch (const EDatabaseError& e) {
            EXPECT_TRUE(e.Message().contains(QLatin1String(lie.reason)))
                << lie.name << ": " << e.Message().toStdString();
        }
    }
    // The same shape with an honest row loads.
    const TMemTableImage honest = DecodeMemTableImage(withHeader(payload(ftString, 1,
                                                                         QByteArray("\0\x06"
                                                                                    "abc",
                                                                                    5))),
                                                      QStringLiteral("honest.CDS"));
    ASSERT_EQ(honest.Rows->Count(), 1);
    EXPECT_EQ(honest.Rows->Get(honest.Rows->Order()[0], 0).AsString(), QStringLiteral("abc"));
}

TEST(MemTableFile, SavedIndexOrdersAreTakenOnlyWhenTheyAreRight)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("T.CDS"));
    auto table = MakeTable({{3, "c", 1}, {1, "a", 2}, {2, "b", 3}, {4, "a", 4}, {5, "abcdz", 5}, {6, "abcda", 6}});
    table->AddIndex(QStringLiteral("BY_NAME"), QStringLiteral("NAME"));
    table->SetIndexName(QStringLiteral("BY_NAME"));
    table->SaveToFile(path);

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    TMemTableImage image = DecodeMemTableImage(file.readAll(), path);
    file.close();
    ASSERT_EQ(image.IndexOrders.size(), 1u);
    EXPECT_EQ(image.IndexOrders[0].Rows, (std::vector<uint32_t>{1, 3, 5, 4, 2, 0})) << "by row number";

    const auto loadOrder = [&](const TMemTableImage& changed) {
        QFile out(path);
        EXPECT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(EncodeMemTableImage(changed));
        out.close();
        TCustomMemTable loaded;
        loaded.LoadFromFile(path);
        loaded.SetIndexName(QStringLiteral("BY_NAME"));
        return Ids(loaded);
    };
    const QList<int> sorted = {1, 4, 6, 5, 2, 3};
    EXPECT_EQ(loadOrder(image), sorted);

    // A wrong order behind a good checksum is not believed.
    const struct
    {
        const char* what;
        std::vector<uint32_t> rows;
    } bad[] = {
        {"natural order", {0, 1, 2, 3, 4, 5}},
        {"short", {1, 3}},
        {"a row twice", {1, 1, 5, 4, 2, 0}},
        {"equal keys out of natural order", {3, 1, 5, 4, 2, 0}},
        {"same first characters, wrong order", {1, 3, 4, 5, 2, 0}},
    };
    for (const auto& order : bad) {
        TMemTableImage changed = image;
        changed.IndexOrders[0].Rows = order.rows;
        EXPECT_EQ(loadOrder(changed), sorted) << order.what;
    }
}

TEST(MemTableFile, IndexesThatCannotBeBuiltLeaveTheTableClosed)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("T.CDS"));
    const auto write = [&](const TMemTableImage& image) {
        QFile out(path);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(EncodeMemTableImage(image));
    };
    // A well-formed file whose rows break its own unique index, one with an
    // index over a field it does not have, and one with an index over no field.
    TMemTableImage duplicates;
    duplicates.FieldDefs.push_back({QStringLiteral("ID"), ftInteger, 0, 0, 0, false, 1});
    duplicates.IndexDefs.push_back({QStringLiteral("BYID"), QStringLiteral("ID"), ixUnique});
    duplicates.Rows->SetColumns({{ftInteger, 0}});
    duplicates.Rows->Insert({Variant(1)});
    duplicates.Rows->Insert({Variant(1)});
    TMemTableImage unknownField = duplicates;
    unknownField.IndexDefs[0] = {QStringLiteral("BYX"), QStringLiteral("X"), 0};
    unknownField.Rows = std::make_shared<TMemRowStore>();
    unknownField.Rows->SetColumns({{ftInteger, 0}});
    TMemTableImage noField = unknownField;
    noField.IndexDefs[0] = {QStringLiteral("EMPTY"), QString(), 0};

    for (const TMemTableImage* image : {&duplicates, &unknownField, &noField}) {
        write(*image);
        auto table = MakeTable({{1, "a", 1}, {2, "b", 2}});
        table->AddIndex(QStringLiteral("OWN"), QStringLiteral("ID"));
        table->SetIndexName(QStringLiteral("OWN"));
        EXPECT_THROW(table->LoadFromFile(path), EDatabaseError);
        EXPECT_FALSE(table->Active());
        // The table is usable again.
        MakeTable({{3, "c", 3}})->SaveToFile(path);
        table->LoadFromFile(path);
        EXPECT_EQ(table->RecordCount(), 1);
    }
}

TEST(MemTableFile, PersistentFieldsMustMatchTheFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("T.CDS"));
    MakeTable({{1, "a", 1}})->SaveToFile(path);

    TCustomMemTable table;
    auto* name = new TIntegerField(&table); // NAME is a string in the file
    name->SetFieldName(QStringLiteral("NAME"));
    name->SetDataSet(&table);
    EXPECT_THROW(table.LoadFromFile(path), EDatabaseError);
    EXPECT_FALSE(table.Active());

    TCustomMemTable matching;
    auto* id = new TIntegerField(&matching);
    id->SetFieldName(QStringLiteral("ID"));
    id->SetDataSet(&matching);
    matching.LoadFromFile(path);
    EXPECT_EQ(matching.FieldCount(), 1);
    EXPECT_EQ(id->AsInteger(), 1);
}

} // namespace
