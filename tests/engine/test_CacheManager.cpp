#include "CacheManager.h"

#include "Exceptions.h"
#include "MemTable.h"
#include "MemTableFile.h"
#include "SDatabase.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <memory>

namespace {

QByteArray ReadBytes(const QString& fileName)
{
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteBytes(const QString& fileName, const QByteArray& bytes)
{
    QFile file(fileName);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << fileName.toStdString();
    file.write(bytes);
}

// A table file as its owner writes it for key and version.
void WriteCacheFile(const QString& fileName, const QString& key, const QString& version)
{
    TMemTableImage image;
    image.Tag = TCacheManager::FileTag(key, version);
    WriteBytes(fileName, EncodeMemTableImage(image));
}

class CacheManagerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        FDb.SetDatabaseName(QStringLiteral("c:\\data\\main.gdb"));
        FDb.SetLocalCache(true);
    }

    // A manager as a new run of the program gets it: opened, index read.
    std::unique_ptr<TCacheManager> Run()
    {
        auto manager = std::make_unique<TCacheManager>(&FDb);
        manager->Open();
        return manager;
    }

    QString Folder() const { return FTemp.Path() + QStringLiteral("/C$-DATA-MAIN.GDB/"); }
    QString IndexFile() const { return Folder() + QStringLiteral("cache.ini"); }

    bool Check(TCacheManager& manager, const QString& key, const QString& version)
    {
        QString fileName;
        return manager.CheckEntry(&FTable, fileName, key, version);
    }

    TTempFolder FTemp;
    TSDatabase FDb;
    TCustomMemTable FTable;
};

TEST_F(CacheManagerTest, FolderIsNamedAfterTheDatabase)
{
    const QString t = FTemp.Path();
    const struct
    {
        QString temp;
        QString database;
        QString folder;
    } cases[] = {
        {t, "c:\\data\\main.gdb", t + "/C$-DATA-MAIN.GDB/"},
        {t + "/", "c:/data/main.gdb", t + "/C$-DATA-MAIN.GDB/"}, // same folder, one separator
        {t, "server:/db/файл.fdb", t + "/SERVER$-DB-ФАЙЛ.FDB/"},
        {t + "/not/yet", "x.fdb", t + "/not/yet/X.FDB/"}, // missing parents are made
        {"", "rel.fdb", "REL.FDB/"},                      // no TEMP: below the current folder
    };
    const QString current = QDir::currentPath();
    QDir::setCurrent(t);
    for (const auto& c : cases) {
        TTempFolder::Set(c.temp);
        FDb.SetDatabaseName(c.database);
        TCacheManager manager(&FDb);
        EXPECT_TRUE(manager.CacheFolder().isEmpty());
        manager.Open();
        EXPECT_EQ(manager.CacheFolder(), c.folder) << c.database.toStdString();
        EXPECT_TRUE(QDir(c.folder).exists()) << c.folder.toStdString();
    }
    QDir::setCurrent(current);
}

TEST_F(CacheManagerTest, FirstRunRecordsKeysAndTheNextRunTrustsTheirFiles)
{
    auto first = Run();
    EXPECT_TRUE(QDir(Folder()).exists());
    EXPECT_TRUE(first->Entries().isEmpty());
    QString tablesFile;
    QString indexesFile;
    EXPECT_FALSE(first->CheckEntry(&FTable, tablesFile, "APP_TABLES", ""));
    EXPECT_FALSE(first->CheckEntry(&FTable, indexesFile, "APP_INDEXES", ""));
    EXPECT_EQ(tablesFile, Folder() + "APP_TABLES.CDS");
    EXPECT_EQ(indexesFile, Folder() + "APP_INDEXES.CDS");
    EXPECT_EQ(first->Entries(), QStringList({"APP_TABLES=", "APP_INDEXES="}));
    EXPECT_FALSE(QFile::exists(IndexFile())); // only Save writes it
    first->Save();
    EXPECT_EQ(ReadBytes(IndexFile()), "APP_TABLES=\nAPP_INDEXES=\n");
    WriteCacheFile(tablesFile, "APP_TABLES", "");
    WriteCacheFile(indexesFile, "APP_INDEXES", "");

    auto second = Run();
    EXPECT_EQ(second->Entries(), QStringList({"APP_TABLES=", "APP_INDEXES="}));
    EXPECT_TRUE(Check(*second, "APP_TABLES", ""));
    EXPECT_TRUE(Check(*second, "APP_INDEXES", ""));
}

TEST_F(CacheManagerTest, CheckAfterARestart)
{
    const struct
    {
        const char* key;
        QString before;
        QString after;
        bool fileWritten;
        bool valid;
    } cases[] = {
        {"SAME", "v1", "v1", true, true},
        {"CHANGED", "v1", "v2", true, false},
        {"EMPTY", "", "", true, true},
        {"EQUALS", "a=b==c", "a=b==c", true, true}, // only the first "=" separates
        {"EQUALS_PART", "a=b", "a", true, false},
        {"LF", "line1\nline2", "line1\nline2", true, false},
        {"CRLF", "line1\r\nline2", "line1\r\nline2", true, false},
        {"CR", "line1\rline2", "line1\rline2", true, false},
        {"RU", "версия 2", "версия 2", true, true},
        {"NO_FILE", "v", "v", false, false},
        {"Case_TABLES", "lower", "lower", true, true}, // keys are case-sensitive...
        {"CASE_TABLES", "upper", "upper", true, true}, // ...so these are two entries
    };
    auto first = Run();
    for (const auto& c : cases) {
        QString fileName;
        first->CheckEntry(&FTable, fileName, c.key, c.before);
        if (c.fileWritten)
            WriteCacheFile(fileName, c.key, c.before);
    }
    first->Save();

    auto second = Run();
    for (const auto& c : cases)
        EXPECT_EQ(Check(*second, c.key, c.after), c.valid) << c.key;
    EXPECT_FALSE(Check(*second, "case_tables", "lower")) << "a third key";

    // Every check records the version it was asked with. The file of the
    // old version is gone, so only the owner's rewrite makes it current.
    EXPECT_EQ(second->Entries().filter("CHANGED=").first(), "CHANGED=v2");
    QString changedFile;
    EXPECT_FALSE(second->CheckEntry(&FTable, changedFile, "CHANGED", "v2"));
    EXPECT_FALSE(QFile::exists(changedFile));
    WriteCacheFile(changedFile, "CHANGED", "v2");
    EXPECT_TRUE(Check(*second, "CHANGED", "v2"));
}

TEST_F(CacheManagerTest, OwnerThatSavesOnlyChangedTablesNeverLoadsAnotherVersion)
{
    // A data set writes its file when the table changed or the file is
    // missing; a table read afresh under a new filter is unchanged.
    auto saveIfNeeded = [&](bool changed, const QString& fileName, const QString& filter) {
        if (changed || !QFile::exists(fileName))
            WriteCacheFile(fileName, "ORDERS", filter);
    };
    QString fileName;
    for (const char* filter : {"A", "B"}) {
        auto run = Run();
        EXPECT_FALSE(run->CheckEntry(&FTable, fileName, "ORDERS", filter)) << filter;
        saveIfNeeded(false, fileName, filter);
        run->Save();
    }
    auto third = Run();
    EXPECT_TRUE(third->CheckEntry(&FTable, fileName, "ORDERS", "B"));
    EXPECT_EQ(ReadMemTableFileTag(fileName), "ORDERS=B") << "the rows of filter A under the version of B";
}

TEST_F(CacheManagerTest, VersionsWithLineBreaksNeverGrowTheIndex)
{
    for (int run = 0; run < 3; ++run) {
        auto manager = Run();
        EXPECT_FALSE(Check(*manager, "NOTE", "first line\nsecond=line")) << "run " << run;
        EXPECT_EQ(Check(*manager, "PLAIN", "v"), run > 0);
        WriteCacheFile(Folder() + "NOTE.CDS", "NOTE", "first line\nsecond=line");
        WriteCacheFile(Folder() + "PLAIN.CDS", "PLAIN", "v");
        manager->Save();
        // The second line would otherwise come back as a stray entry, one
        // more on every run.
        EXPECT_EQ(ReadBytes(IndexFile()), "PLAIN=v\n") << "run " << run;
    }
}

TEST_F(CacheManagerTest, IndexIsCp1251TextWithAnyLineBreaks)
{
    QDir().mkpath(Folder());
    // "R=Версия" in CP1251, lines ended by CR LF, CR and LF, the last by none.
    WriteBytes(IndexFile(), "A=1\r\nB=2\rC=3\nR=\xC2\xE5\xF0\xF1\xE8\xFF\nD=x=y");
    auto manager = Run();
    EXPECT_EQ(manager->Entries(), QStringList({"A=1", "B=2", "C=3", "R=Версия", "D=x=y"}));

    // Found lines are replaced where they stand, new keys go to the end.
    Check(*manager, "B", "Тест");
    Check(*manager, "NEW", "");
    manager->Save();
    EXPECT_EQ(ReadBytes(IndexFile()), "A=1\nB=\xD2\xE5\xF1\xF2\nC=3\nR=\xC2\xE5\xF0\xF1\xE8\xFF\nD=x=y\nNEW=\n");

    // Opening again replaces what the manager held.
    WriteBytes(IndexFile(), "ONLY=1\n");
    manager->Open();
    EXPECT_EQ(manager->Entries(), QStringList({"ONLY=1"}));
}

TEST_F(CacheManagerTest, OnlyARecordedVersionTrustsAFile)
{
    // A file left by a run whose index was lost (another program's Save
    // won): an empty version must not take it for current.
    QDir().mkpath(Folder());
    WriteBytes(Folder() + "APP_TABLES.CDS", "x");
    auto manager = Run();
    EXPECT_FALSE(Check(*manager, "APP_TABLES", ""));
    EXPECT_FALSE(QFile::exists(Folder() + "APP_TABLES.CDS"));

    // No table, or no folder yet: no answer and no file name.
    QString fileName = "unchanged";
    EXPECT_FALSE(manager->CheckEntry(nullptr, fileName, "APP_TABLES", ""));
    EXPECT_EQ(manager->Entries(), QStringList({"APP_TABLES="}));
    TCacheManager unopened(&FDb);
    EXPECT_FALSE(unopened.CheckEntry(&FTable, fileName, "APP_TABLES", ""));
    EXPECT_TRUE(fileName.isEmpty());
}

TEST_F(CacheManagerTest, OnlyAFileThatSaysItsVersionIsCurrent)
{
    // A run ends between writing a file and writing the index (killed): the
    // index still names the old version, the file holds the new one's rows.
    {
        auto first = Run();
        QString fileName;
        first->CheckEntry(&FTable, fileName, "ORDERS", "A");
        WriteCacheFile(fileName, "ORDERS", "A");
        first->Save();
    }
    {
        auto killed = Run();
        QString fileName;
        EXPECT_FALSE(killed->CheckEntry(&FTable, fileName, "ORDERS", "B"));
        WriteCacheFile(fileName, "ORDERS", "B");
        FDb.SetLocalCache(false); // so that going away saves nothing, as a killed run
        killed.reset();
        FDb.SetLocalCache(true);
    }
    EXPECT_EQ(ReadBytes(IndexFile()), "ORDERS=A\n");
    for (int run = 0; run < 2; ++run) {
        auto next = Run();
        EXPECT_FALSE(Check(*next, "ORDERS", "A")) << "run " << run << ": filter B's rows under version A";
        next->Save();
    }

    // What a file says must be all of the key's tag; files of builds
    // before the tag say nothing.
    const struct
    {
        const char* name;
        QByteArray bytes;
    } files[] = {
        {"another key",
         [] {
             TMemTableImage i;
             i.Tag = "OTHER=A";
             return EncodeMemTableImage(i);
         }()},
        {"untagged", QByteArray::fromHex("43534d5402000000") + QByteArray(12, '\0')},
        {"damaged", "CSMT"},
    };
    for (const auto& f : files) {
        auto run = Run();
        QString fileName;
        run->CheckEntry(&FTable, fileName, "ORDERS", "A");
        WriteBytes(fileName, f.bytes);
        EXPECT_FALSE(Check(*run, "ORDERS", "A")) << f.name;
        EXPECT_FALSE(QFile::exists(fileName)) << f.name;
    }

    // A written file is recorded only where it belongs.
    auto run = Run();
    run->Record(Folder() + "ORDERS.CDS", "ORDERS", "C");
    run->Record(FTemp.Path() + "/ELSEWHERE/ORDERS.CDS", "ORDERS", "D");
    run->Record(Folder() + "ORDERS.CDS", "OTHER", "E");
    EXPECT_EQ(run->Entries().filter("ORDERS=").first(), "ORDERS=C");
    EXPECT_TRUE(run->Entries().filter("OTHER=").isEmpty());
}

TEST_F(CacheManagerTest, SaveNeedsLocalCacheAndAFolder)
{
    {
        TCacheManager unopened(&FDb);
        unopened.Save(); // no folder: nothing to write
    }
    FDb.SetLocalCache(false);
    {
        auto manager = Run();
        Check(*manager, "K", "v");
        manager->Save();
    } // nor on destruction
    EXPECT_FALSE(QFile::exists(IndexFile()));

    FDb.SetLocalCache(true);
    {
        auto manager = Run();
        Check(*manager, "K", "v");
    } // destruction saves
    EXPECT_EQ(ReadBytes(IndexFile()), "K=v\n");
}

TEST_F(CacheManagerTest, FolderThatCannotBeMade)
{
    // Below a plain file no folder can be made, whoever runs the test.
    WriteBytes(FTemp.Path() + "/file", "x");
    auto manager = Run();
    Check(*manager, "KEPT", "1");
    TTempFolder::Set(FTemp.Path() + "/file");
    manager->Open();
    EXPECT_EQ(manager->CacheFolder(), FTemp.Path() + "/file/C$-DATA-MAIN.GDB/");
    EXPECT_EQ(manager->Entries(), QStringList({"KEPT=1"})) << "nothing read";
    EXPECT_FALSE(Check(*manager, "KEPT", "1"));
    try {
        manager->Save();
        ADD_FAILURE() << "Save did not raise";
    } catch (const Exception& e) {
        EXPECT_TRUE(e.Message().contains(manager->CacheFolder() + "cache.ini")) << e.what();
    }
    manager.reset(); // the destructor's own Save raises nothing
}

} // namespace
