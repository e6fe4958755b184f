#include "SDatabase.h"

#include "CacheManager.h"
#include "IBSQL.h"
#include "MemTable.h"
#include "SDS.h"
#include "SDatabaseSession.h"
#include "uListMng.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <exception>
#include <span>

namespace {

const QString RelationName = QStringLiteral("RDB$RELATION_NAME");
const QString FieldName = QStringLiteral("RDB$FIELD_NAME");
const QString FieldPosition = QStringLiteral("RDB$FIELD_POSITION");
const QString IndexName = QStringLiteral("RDB$INDEX_NAME");
const QString FieldNamesIndex = QStringLiteral("RELATIONS_FIELDNAMES");
const QString FieldPositionIndex = QStringLiteral("RELATIONS_FIELDPOSITION");
const QString IndexesCacheOrder = RelationName + QLatin1Char(';') + IndexName + QLatin1Char(';') + FieldPosition;

struct TColumn
{
    const char* Name;
    TFieldType Type;
    int Size;
};

const TColumn TablesColumns[] = {
    {"RDB$RELATION_NAME", ftString, 31},
    {"RDB$FIELD_NAME", ftString, 31},
    {"RDB$FIELD_POSITION", ftSmallint, 0},
    {"RDB$COMPUTED_BLR", ftBlob, 80},
    {"RDB$DEFAULT_VALUE", ftBlob, 80},
    {"RDB$NULL_FLAG", ftSmallint, 0},
    {"RDB$FIELD_LENGTH", ftSmallint, 0},
    {"RDB$FIELD_SCALE", ftSmallint, 0},
    {"RDB$FIELD_TYPE", ftSmallint, 0},
    {"RDB$FIELD_SUB_TYPE", ftSmallint, 0},
    {"RDB$EXTERNAL_LENGTH", ftSmallint, 0},
    {"RDB$EXTERNAL_SCALE", ftSmallint, 0},
    {"RDB$EXTERNAL_TYPE", ftSmallint, 0},
    // Last, so that a file written before it is told apart (and read again from the server).
    {"RDB$DIMENSIONS", ftSmallint, 0},
};

const TColumn IndexesColumns[] = {
    {"RDB$RELATION_NAME", ftString, 31}, {"RDB$INDEX_NAME", ftString, 31},  {"RDB$FIELD_POSITION", ftSmallint, 0},
    {"RDB$UNIQUE_FLAG", ftSmallint, 0},  {"RDB$INDEX_TYPE", ftSmallint, 0}, {"RDB$SEGMENT_COUNT", ftSmallint, 0},
    {"RDB$FIELD_NAME", ftString, 31},    {"RDB$FOREIGN_KEY", ftString, 31},
};

// Closes the table and opens it again empty, with these columns and no indexes.
void Define(TCustomMemTable& table, std::span<const TColumn> columns)
{
    table.Close();
    table.FieldDefs().Clear();
    table.DeleteIndexes();
    for (const TColumn& column : columns)
        table.FieldDefs().Add(QString::fromLatin1(column.Name), column.Type, column.Size);
    table.Open();
}

// The metadata tables' cache keys: the program's name and these.
const QString TablesKeySuffix = QStringLiteral("_TABLES");
const QString IndexesKeySuffix = QStringLiteral("_INDEXES");

void DefineTablesCache(TCustomMemTable& table)
{
    Define(table, TablesColumns);
    table.AddIndex(FieldNamesIndex, RelationName + QLatin1Char(';') + FieldName);
    table.AddIndex(FieldPositionIndex, RelationName + QLatin1Char(';') + FieldPosition);
}

void DefineIndexesCache(TCustomMemTable& table)
{
    Define(table, IndexesColumns);
    table.SetIndexFieldNames(IndexesCacheOrder);
}

// Loads a metadata table from its cache file. A file of another layout (an
// older build, or a data set's file under the same name) is as useless as a
// damaged one: it raises like one.
void LoadCacheFile(TCustomMemTable& table, const QString& fileName, std::span<const TColumn> columns)
{
    table.LoadFromFile(fileName);
    const TFieldDefs& defs = table.FieldDefs();
    bool same = defs.Count() == static_cast<int>(columns.size());
    for (int i = 0; same && i < defs.Count(); ++i)
        same = defs[i].Name() == QLatin1String(columns[i].Name) && defs[i].DataType() == columns[i].Type
               && defs[i].Size() == columns[i].Size;
    if (!same)
        throw EDatabaseError(QStringLiteral("%1 holds other columns").arg(fileName));
}

// The cache index records the current version for the file whatever it
// holds: a file that is not rewritten now must not pass for current later.
// The file carries what it was written for (see TCacheManager).
void SaveCacheFile(const TCustomMemTable& table, const QString& fileName, const QString& tag)
{
    if (fileName.isEmpty())
        return;
    try {
        if (table.Active())
            table.SaveToFile(fileName, tag);
        else
            QFile::remove(fileName);
    } catch (...) {
        QFile::remove(fileName);
        throw;
    }
}

// Catalogue names are blank-padded CHAR values.
QString TrimRight(const QString& text)
{
    qsizetype end = text.size();
    while (end > 0 && text.at(end - 1) == QLatin1Char(' '))
        --end;
    return text.left(end);
}

Variant TrimmedText(const TIBXSQLVAR& column)
{
    return column.IsNull() ? Variant::Null() : Variant(TrimRight(column.AsString()));
}

Variant Number(const TIBXSQLVAR& column) { return column.IsNull() ? Variant::Null() : Variant(column.AsInteger()); }

Variant Bytes(const TIBXSQLVAR& column) { return column.IsNull() ? Variant::Null() : Variant(column.AsBytes()); }

// A statement on the connection's internal transaction, started when idle.
void UseInternalTransaction(TIBSQL& sql, TSDatabase& database)
{
    sql.SetDatabase(&database);
    sql.SetTransaction(database.InternalTransaction());
    if (!database.InternalTransaction()->InTransaction())
        database.InternalTransaction()->StartTransaction();
}

std::vector<TField*> FieldsInOrder(const TCustomMemTable& table)
{
    return {table.Fields().begin(), table.Fields().end()};
}

// Rows go in with the indexes off; they are built once at the end.
class TBulkLoad
{
public:
    explicit TBulkLoad(TCustomMemTable& table) : FTable(table) { FTable.SetEnableIndexes(false); }
    ~TBulkLoad()
    {
        if (FDone)
            return;
        try {
            FTable.Close(); // a partial load is never left visible
            FTable.SetEnableIndexes(true);
        } catch (...) {
        }
    }
    void Done()
    {
        FTable.SetEnableIndexes(true);
        FDone = true;
    }

private:
    TCustomMemTable& FTable;
    bool FDone = false;
};

} // namespace

int SConstraint::CodeOf(const QString& constraintType)
{
    if (constraintType == QLatin1String("PRIMARY KEY"))
        return Constraint | PrimaryKey;
    if (constraintType == QLatin1String("UNIQUE"))
        return Constraint | Unique;
    if (constraintType == QLatin1String("FOREIGN KEY"))
        return Constraint | ForeignKey;
    return 0;
}

const char* const TSDatabase::ConstraintsQueryText =
    "select RDB$INDEX_NAME,RDB$CONSTRAINT_NAME,RDB$CONSTRAINT_TYPE from RDB$RELATION_CONSTRAINTS "
    "where RDB$INDEX_NAME is not null";

TSDatabase::TSDatabase(QObject* owner)
    : TIBDatabase(owner), FSession(std::make_unique<TUserSession>(*this)),
      FCacheManager(std::make_unique<TCacheManager>(this)), FTablesCache(std::make_unique<TCustomMemTable>()),
      FIndexesCache(std::make_unique<TCustomMemTable>()), FUsersWriteTransaction(std::make_unique<TIBTransaction>()),
      FUsers(std::make_unique<TSDS>()), FListKinds(std::make_unique<TListColletion>(*this))
{
    FUsersWriteTransaction->SetParams({QStringLiteral("write"), QStringLiteral("read_committed"),
                                       QStringLiteral("rec_version"), QStringLiteral("nowait")});
    FUsersWriteTransaction->SetDefaultDatabase(this);
    FUsers->setObjectName(QStringLiteral("Users"));
    FTablesCache->setObjectName(QStringLiteral("TablesCache"));
    FIndexesCache->setObjectName(QStringLiteral("IndexesCache"));
    InternalTransaction()->SetParams(QString::fromLatin1(InternalTransactionParamsText).split(QStringLiteral("\r\n")));
}

TSDatabase::~TSDatabase()
{
    FSession.reset(); // unregisters while still connected
    FUsers.reset();   // may still ask the cache manager
    // Also with MetadataCache switched off while connected: files whose
    // version the index records must be rewritten or dropped.
    try {
        ReleaseMetadata();
    } catch (...) {
        // A cache file that cannot be written is only a slower next start.
    }
    FCacheManager.reset(); // writes "cache.ini"
}

QString TSDatabase::ApplicationKey()
{
    const QString path = QCoreApplication::instance() ? QCoreApplication::applicationFilePath()
                                                      : QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    QString key = QFileInfo(path).completeBaseName();
    for (QChar& c : key)
        if (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
            c = QChar(c.unicode() - 'a' + 'A');
    return key;
}

QString TSDatabase::MetadataVersion()
{
    TIBSQL sql;
    UseInternalTransaction(sql, *this);
    sql.SQL().SetText(QStringLiteral("select RDB$DESCRIPTION FROM RDB$DATABASE"));
    sql.ExecQuery();
    const QString version = sql.Eof() ? QString() : sql.Fields(0).AsString();
    sql.Close();
    return version;
}

QString TSDatabase::TablesQueryText(const QString& filter)
{
    return QStringLiteral(
               "Select R.RDB$RELATION_NAME,R.RDB$FIELD_NAME, R.RDB$FIELD_POSITION, F.RDB$COMPUTED_BLR, "
               "F.RDB$DEFAULT_VALUE,R.RDB$NULL_FLAG,F.RDB$FIELD_LENGTH, F.RDB$FIELD_SCALE,F.RDB$FIELD_TYPE, "
               "F.RDB$FIELD_SUB_TYPE,F.RDB$EXTERNAL_LENGTH, F.RDB$EXTERNAL_SCALE, F.RDB$EXTERNAL_TYPE, "
               "F.RDB$DIMENSIONS from RDB$RELATION_FIELDS R, RDB$FIELDS F where  R.RDB$FIELD_SOURCE = F.RDB$FIELD_NAME  "
               "AND ((R.RDB$SYSTEM_FLAG IS NULL) or (R.RDB$SYSTEM_FLAG <> 1) ) ")
           + filter + QStringLiteral(" order by R.RDB$RELATION_NAME, R.RDB$FIELD_POSITION");
}

QString TSDatabase::IndexesQueryText(const QString& filter)
{
    return QStringLiteral("Select I.RDB$RELATION_NAME, I.RDB$INDEX_NAME,S.RDB$FIELD_POSITION ,I.RDB$UNIQUE_FLAG, "
                          "I.RDB$INDEX_TYPE,I.RDB$SEGMENT_COUNT, S.RDB$FIELD_NAME,I.RDB$FOREIGN_KEY  "
                          "from RDB$INDICES I,RDB$INDEX_SEGMENTS S where I.RDB$INDEX_NAME = S.RDB$INDEX_NAME ")
           + filter + QStringLiteral("ORDER BY  I.RDB$RELATION_NAME, I.RDB$INDEX_NAME,S.RDB$FIELD_POSITION");
}

QString TSDatabase::FilterText() const
{
    if (FMetadataCacheFilter.isEmpty())
        return QString();
    return QStringLiteral(" AND ( ") + FMetadataCacheFilter + QStringLiteral(")");
}

void TSDatabase::DoConnect()
{
    // A connection that was lost rather than closed left its tables and
    // users behind; they describe what the server had then.
    if (FTablesCache->Active() || FUsers->Active()) {
        try {
            ReleaseConnectionState();
        } catch (...) {
            // A cache file that cannot be written is only a slower next start.
        }
    }
    TIBDatabase::DoConnect();
    // A constraint table from an earlier connection may describe another
    // database or an older schema; it is read again on first use.
    FConstraintsCache.reset();
    try {
        if (FLocalCache)
            FCacheManager->Open();
        if (!Connected())
            return;
        if (FMetadataCache)
            LoadMetadata();
        OpenUsers();
        FListKinds->Load(); // never raises
    } catch (...) {
        // Half a connect would look connected with missing metadata, and a
        // second Open would then be a no-op: fail the connect as a whole.
        // Releasing drops cache files the index now calls current but that
        // were never rewritten.
        try {
            ReleaseMetadata(); // closes the tables whatever it raises
        } catch (...) {
        }
        try {
            TIBDatabase::DoDisconnect();
        } catch (...) {
        }
        throw;
    }
}

void TSDatabase::DoDisconnect()
{
    if (Connected() && FSession->SessionHandle() != -1) {
        FSession->StopListening();
        FSession->Unregister(); // never raises
    }
    std::exception_ptr failure;
    try {
        TIBDatabase::DoDisconnect();
    } catch (...) {
        failure = std::current_exception(); // the attachment is gone anyway
    }
    try {
        ReleaseConnectionState();
    } catch (...) {
        if (!failure)
            failure = std::current_exception();
    }
    if (failure)
        std::rethrow_exception(failure);
}

void TSDatabase::ReleaseConnectionState()
{
    std::exception_ptr failure;
    FListKinds->FreeKinds();
    // Also when MetadataCache was switched off while connected: tables left
    // open would block the next server read.
    try {
        ReleaseMetadata();
    } catch (...) {
        if (!failure)
            failure = std::current_exception();
    }
    // After the table files, so the index never gets ahead of them on disk.
    try {
        if (FLocalCache)
            FCacheManager->Save();
    } catch (...) {
        if (!failure)
            failure = std::current_exception();
    }
    try {
        FUsers->Close();
    } catch (...) {
        if (!failure)
            failure = std::current_exception();
    }
    if (failure)
        std::rethrow_exception(failure);
}

void TSDatabase::OpenUsers()
{
    FUsers->SetDatabase(this);
    // Without a default transaction of the application's, the users are read
    // in the internal read-only one rather than not at all, and written in a
    // read-write one.
    if (!DefaultTransaction()) {
        FUsers->SetTransaction(InternalTransaction());
        if (!DefaultTransactionRW())
            FUsers->SetWriteTransaction(FUsersWriteTransaction.get());
    }
    FUsers->SetTableName(QStringLiteral("SYS_USER"));
    FUsers->SetOptions(FUsers->Options() + TSDSOptions{dsoVirtualDelete});
    FUsers->SetAttachMaxCount(4);
    if (Connected() && (FFrameworkTablesRequired || RelationExists(FUsers->TableName())))
        FUsers->Open();
}

bool TSDatabase::RelationExists(const QString& name)
{
    TIBSQL sql;
    UseInternalTransaction(sql, *this);
    sql.SQL().SetText(QStringLiteral("select 1 from RDB$RELATIONS where RDB$RELATION_NAME = :NAME"));
    sql.ParamByName(QStringLiteral("NAME")).SetAsString(name);
    sql.ExecQuery();
    const bool exists = !sql.Eof();
    sql.Close();
    return exists;
}

void TSDatabase::LoadMetadata()
{
    if (!Connected())
        return;
    if (FLocalCache && LoadMetadataFromLocalCache())
        return;
    ReadMetadataFromServer();
}

bool TSDatabase::LoadMetadataFromLocalCache()
{
    const QString key = ApplicationKey();
    const QString version = MetadataVersion();
    FMetadataCacheVersion = version;
    // Both questions, so that both keys record the current version.
    const bool tablesValid = FCacheManager->CheckEntry(FTablesCache.get(), FTablesCacheFile, key + TablesKeySuffix,
                                                       version);
    const bool indexesValid = FCacheManager->CheckEntry(FIndexesCache.get(), FIndexesCacheFile, key + IndexesKeySuffix,
                                                        version);
    if (!tablesValid || !indexesValid)
        return false;
    try {
        LoadCacheFile(*FTablesCache, FTablesCacheFile, TablesColumns);
        FTablesCache->SetIndexName(FieldPositionIndex); // both orders the engine walks must exist
        FTablesCache->SetIndexName(FieldNamesIndex);
        FTablesCache->First();
        LoadCacheFile(*FIndexesCache, FIndexesCacheFile, IndexesColumns);
        FIndexesCache->SetIndexFieldNames(IndexesCacheOrder);
        FIndexesCache->First();
        return true;
    } catch (...) {
        // A damaged file costs only the server read.
        CloseMetadata();
        return false;
    }
}

void TSDatabase::ReadMetadataFromServer()
{
    if (!Connected() || FTablesCache->Active())
        return;

    TIBSQL sql;
    sql.SetDatabase(this);
    sql.SetTransaction(InternalTransaction());
    // A fresh read-committed start, so the catalogue read is current.
    if (InternalTransaction()->InTransaction())
        InternalTransaction()->Commit();
    InternalTransaction()->StartTransaction();
    const QString filter = FilterText();

    // Both tables close again when either read fails: half a catalogue
    // would make data sets miss fields or indexes without a word.
    try {
        DefineTablesCache(*FTablesCache);
        {
            TBulkLoad load(*FTablesCache);
            const std::vector<TField*> fields = FieldsInOrder(*FTablesCache);
            sql.SQL().SetText(TablesQueryText(filter));
            for (sql.ExecQuery(); !sql.Eof(); sql.Next()) {
                FTablesCache->Append();
                fields[0]->SetValue(TrimmedText(sql.Fields(0)));
                fields[1]->SetValue(TrimmedText(sql.Fields(1)));
                fields[2]->SetValue(Number(sql.Fields(2)));
                fields[3]->SetValue(Bytes(sql.Fields(3)));
                fields[4]->SetValue(Bytes(sql.Fields(4)));
                for (int i = 5; i < 14; ++i)
                    fields[i]->SetValue(Number(sql.Fields(i)));
                FTablesCache->Post();
            }
            load.Done();
        }
        FTablesCache->SetIndexName(FieldNamesIndex);
        FTablesCache->First();
        sql.Close();

        DefineIndexesCache(*FIndexesCache);
        {
            TBulkLoad load(*FIndexesCache);
            const std::vector<TField*> fields = FieldsInOrder(*FIndexesCache);
            sql.SQL().SetText(IndexesQueryText(filter));
            for (sql.ExecQuery(); !sql.Eof(); sql.Next()) {
                FIndexesCache->Append();
                fields[0]->SetValue(TrimmedText(sql.Fields(0)));
                fields[1]->SetValue(TrimmedText(sql.Fields(1)));
                for (int i = 2; i < 6; ++i)
                    fields[i]->SetValue(Number(sql.Fields(i)));
                fields[6]->SetValue(TrimmedText(sql.Fields(6)));
                fields[7]->SetValue(TrimmedText(sql.Fields(7)));
                FIndexesCache->Post();
            }
            load.Done();
        }
        FIndexesCache->First();
        sql.Close();
    } catch (...) {
        CloseMetadata();
        throw;
    }
}

void TSDatabase::RefreshMetadata()
{
    CloseMetadata();
    FConstraintsCache.reset();
    ReadMetadataFromServer();
}

void TSDatabase::ReleaseMetadata()
{
    std::exception_ptr failure;
    if (FLocalCache) {
        const QString key = ApplicationKey();
        for (auto [table, fileName, suffix] : {std::tuple{FTablesCache.get(), &FTablesCacheFile, TablesKeySuffix},
                                               std::tuple{FIndexesCache.get(), &FIndexesCacheFile, IndexesKeySuffix}}) {
            try {
                SaveCacheFile(*table, *fileName, TCacheManager::FileTag(key + suffix, FMetadataCacheVersion));
            } catch (...) {
                if (!failure)
                    failure = std::current_exception();
            }
            fileName->clear();
        }
    }
    CloseMetadata();
    if (failure)
        std::rethrow_exception(failure);
}

void TSDatabase::CloseMetadata()
{
    FTablesCache->Close();
    FIndexesCache->Close();
}

int TSDatabase::GetConstraintType(const QString& indexName)
{
    if (!FConstraintsCache) {
        // Built aside and kept only when complete: a partial table would
        // answer 0 for the constraints it missed.
        auto table = std::make_unique<TCustomMemTable>();
        table->setObjectName(QStringLiteral("ConstraintsCache"));
        table->FieldDefs().Add(IndexName, ftString, 32);
        table->FieldDefs().Add(QStringLiteral("RDB$CONSTRAINT_NAME"), ftString, 32);
        table->FieldDefs().Add(QStringLiteral("RDB$CONSTRAINT_TYPE"), ftInteger);
        table->Open();
        table->SetIndexFieldNames(IndexName);
        {
            TBulkLoad load(*table);
            const std::vector<TField*> fields = FieldsInOrder(*table);
            TIBSQL sql;
            UseInternalTransaction(sql, *this);
            sql.SQL().SetText(QString::fromLatin1(ConstraintsQueryText));
            for (sql.ExecQuery(); !sql.Eof(); sql.Next()) {
                table->Append();
                fields[0]->SetValue(TrimmedText(sql.Fields(0)));
                fields[1]->SetValue(TrimmedText(sql.Fields(1)));
                fields[2]->SetAsInteger(SConstraint::CodeOf(TrimRight(sql.Fields(2).AsString())));
                table->Post();
            }
            sql.Close();
            load.Done();
        }
        FConstraintsCache = std::move(table);
    }
    if (!FConstraintsCache->FindKey({Variant(indexName)}))
        return 0;
    return FConstraintsCache->FieldByName(QStringLiteral("RDB$CONSTRAINT_TYPE"))->AsInteger();
}
