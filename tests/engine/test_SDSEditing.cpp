// Editing, posting and deleting through the data set, on embedded Firebird
// with the session functions (locks, audit); a lock held by another process
// through the server (FB_SERVER; skipped when unset).
#include "SDS.h"
#include "SDS_p.h"

#include "DataSource.h"
#include "Dialogs.h"
#include "IBSQL.h"
#include "IBTestDatabase.h"
#include "SDSFixture.h"
#include "SDatabase.h"
#include "SDatabaseSession.h"
#include "SysUtils.h"
#include "TempDir.h"

#include "QtPrinters.h"
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <memory>

namespace {

const char* const Schema = R"(
CREATE TABLE DOC (
  SYS$ID INTEGER NOT NULL PRIMARY KEY,
  SYS$PID INTEGER,
  SYS$STATE INTEGER,
  NAME VARCHAR(40),
  NOTE VARCHAR(20),
  QTY INTEGER CHECK (QTY IS NULL OR QTY >= 0),
  PRICE NUMERIC(15,2),
  MADE DATE,
  CODE VARCHAR(12),
  SYS$TIME TIMESTAMP);
SET TERM ^ ;
CREATE TRIGGER DOC_BI FOR DOC BEFORE INSERT AS
BEGIN
  NEW.CODE = 'T' || NEW.SYS$ID;
  IF (NEW.QTY IS NULL) THEN NEW.QTY = 5;
END^
SET TERM ; ^
INSERT INTO DOC (SYS$ID, SYS$STATE, NAME, QTY, PRICE) VALUES (1, 0, 'Первый', 1, 10.5);
INSERT INTO DOC (SYS$ID, SYS$STATE, NAME, QTY, PRICE) VALUES (2, 0, 'Второй', 2, 20);
INSERT INTO DOC (SYS$ID, SYS$STATE, NAME, QTY, PRICE) VALUES (3, 0, 'Третий', 3, 30);
CREATE TABLE LINE (SYS$ID INTEGER NOT NULL PRIMARY KEY, DOC_ID INTEGER, NAME VARCHAR(20), SYS$STATE INTEGER);
INSERT INTO LINE VALUES (11, 1, 'a', 0);
INSERT INTO LINE VALUES (12, 1, 'b', 0);
INSERT INTO LINE VALUES (21, 2, 'c', 0);
CREATE TABLE REF (ID INTEGER NOT NULL PRIMARY KEY, DOC_ID INTEGER REFERENCES DOC (SYS$ID));
INSERT INTO REF VALUES (1, 3);
ALTER SEQUENCE MAIN_GEN RESTART WITH 100;
CREATE TABLE NOKEY (A INTEGER, B VARCHAR(10));
INSERT INTO NOKEY VALUES (1, 'x');
INSERT INTO NOKEY VALUES (2, 'y');
CREATE TABLE DEF (
  SYS$ID INTEGER NOT NULL PRIMARY KEY,
  I INTEGER NOT NULL, F DOUBLE PRECISION NOT NULL, S VARCHAR(10) NOT NULL, D DATE NOT NULL,
  OPT_I INTEGER, OPT_S VARCHAR(10), OPT_D DATE);
)";

const QString BlockedText = QStringLiteral("Операция блокирована доп. ограничением");
const QString FinishMasterText = QStringLiteral("Завершите ввод/корректировку головной записи.");

// The session's identifier of a row address.
TRecordID SessionRecord(const QByteArray& address)
{
    TRecordID id{};
    std::copy_n(address.begin(), std::min<qsizetype>(address.size(), id.size()), id.begin());
    return id;
}

// Whether another session holds the record: this one's try to lock it is
// refused (a lock it gets is given back at once).
bool LockedElsewhere(TSDatabase& database, const TRecordID& id)
{
    try {
        database.Session()->LockRecord(id, false);
    } catch (const EAbort&) {
        return true;
    }
    database.Session()->UnlockRecord(id);
    return false;
}

template <typename E>
QString MessageOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const E& error) {
        return error.Message();
    }
    return QStringLiteral("<nothing raised>");
}

class SDSEditingTest : public TSDSFixture
{
protected:
    void SetUp() override { CreateAndConnect(Schema); }

    QStringList Committed(const char* text) const { return FTestDb.Committed(QString::fromUtf8(text)); }

    // A delete error handler that removes what refers to the documents (in
    // the write's transaction) and has the delete run again.
    TDataSetErrorEvent RemoveReferencesAndRetry(int* calls = nullptr)
    {
        return [this, calls](TDataSet*, const std::exception&, TDataAction& action) {
            if (calls)
                ++*calls;
            TIBSQL sql;
            sql.SetTransaction(&FTransaction);
            sql.SQL().SetText("DELETE FROM REF");
            sql.ExecQuery();
            action = daRetry;
        };
    }

    // Documents that delete their lines first, the lines following them.
    struct TDocumentLines
    {
        std::unique_ptr<TSDS> Documents;
        TDataSource Source;
        std::unique_ptr<TSDS> Lines;
    };
    std::unique_ptr<TDocumentLines> OpenDocumentLines()
    {
        auto result = std::make_unique<TDocumentLines>();
        result->Documents = NewSDS("DOC", {dsoCascadeDeleteDetail});
        result->Documents->Open();
        result->Source.SetDataSet(result->Documents.get());
        result->Lines = NewSDS("LINE");
        result->Lines->SetMasterSource(&result->Source);
        result->Lines->SetMasterFields("SYS$ID");
        result->Lines->SetDetailFields("DOC_ID");
        result->Lines->Open();
        return result;
    }
};

TEST_F(SDSEditingTest, InsertIsReadBackByKeyWithTheServersValues)
{
    auto sds = NewSDS("DOC");
    sds->Open();
    int logged = -1;
    sds->OnLogEvent = [&](TSDS*, TOperationType op) { logged = op; };
    sds->Append();
    sds->FieldByName("NAME")->SetAsString("Новый");
    sds->FieldByName("NOTE")->SetAsString(""); // a non-required empty text goes as null
    EXPECT_TRUE(sds->FieldByName("SYS$ID")->IsNull());
    sds->Post();
    EXPECT_EQ(logged, 0);

    const int id = sds->FieldByName("SYS$ID")->AsInteger();
    EXPECT_GT(id, 0);                                                               // from MAIN_GEN at post
    EXPECT_EQ(sds->FieldByName("CODE")->AsString(), QStringLiteral("T%1").arg(id)); // the trigger's
    EXPECT_EQ(sds->FieldByName("QTY")->AsInteger(), 5);
    EXPECT_FALSE(sds->FieldByName("SYS$TIME")->IsNull());
    EXPECT_EQ(sds->RowAddress().size(), 8);
    EXPECT_NE(sds->RowAddress(), QByteArray(8, '\0'));
    // Committed (retaining: the writes share the select's transaction).
    EXPECT_TRUE(FTransaction.InTransaction());
    EXPECT_EQ(Committed("select NAME, NOTE is null from DOC where SYS$ID > 3"),
              QStringList{QStringLiteral("Новый|True")});
}

TEST_F(SDSEditingTest, WritesInATransactionOfTheirOwnCommitInFull)
{
    TIBTransaction writes;
    writes.SetDefaultDatabase(FDb.get());
    FDb->SetDefaultTransactionRW(&writes);
    auto sds = NewSDS("DOC"); // the writing statements and the re-reads take it
    sds->Open();
    ASSERT_TRUE(sds->Locate("SYS$ID", 3));
    sds->Edit();
    sds->FieldByName("NAME")->SetAsString("Своя");
    sds->Post();
    EXPECT_FALSE(writes.InTransaction()); // committed, not retained
    EXPECT_EQ(Committed("select NAME from DOC where SYS$ID = 3"), QStringList{"Своя"});
    sds->Append();
    sds->FieldByName("NAME")->SetAsString("Ещё");
    sds->Post();
    EXPECT_FALSE(writes.InTransaction());
    EXPECT_EQ(sds->FieldByName("CODE")->AsString(), QStringLiteral("T%1").arg(sds->FieldByName("SYS$ID")->AsInteger()));
    sds->Close();
    FDb->SetDefaultTransactionRW(nullptr);
}

TEST_F(SDSEditingTest, NewRecordsTakeOwnerAndLeafBitsAndTheGeneratorOnAppend)
{
    FDb->SetCurrentUserID(0x10007);
    auto sds = NewSDS("DOC", {dsoIncOnNewRecord, dsoLevels});
    sds->Open();
    sds->Append();
    const int id = sds->FieldByName("SYS$ID")->AsInteger();
    EXPECT_GT(id, 0); // taken on append
    const int32_t state = sds->FieldByName("SYS$STATE")->AsInteger();
    EXPECT_EQ(StateOwner(state), 7);
    EXPECT_TRUE(IsLeafState(state));
    EXPECT_FALSE(IsDeletedState(state));
    EXPECT_EQ(sds->FieldByName("SYS$PID")->AsInteger(), 0);
    sds->Post();
    EXPECT_EQ(sds->FieldByName("SYS$ID")->AsInteger(), id);

    // A value the user's OnNewRecord gave is kept: no generator value is taken.
    sds->OnNewRecord = [](TDataSet* ds) { ds->FieldByName("SYS$ID")->SetAsInteger(500); };
    sds->Append();
    EXPECT_EQ(sds->FieldByName("SYS$ID")->AsInteger(), 500);
    sds->Post();
    EXPECT_EQ(sds->NextGeneratorValue(1), id + 1);
}

TEST_F(SDSEditingTest, UpdatesByRowAddressAndByKey)
{
    auto sds = NewSDS("DOC");
    sds->Open();
    ASSERT_TRUE(sds->Locate("SYS$ID", 1));
    const QByteArray address = sds->RowAddress();
    sds->Edit();
    sds->FieldByName("NAME")->SetAsString("Изменён");
    sds->Post();
    EXPECT_EQ(Committed("select NAME from DOC where SYS$ID = 1"), QStringList{"Изменён"});

    // Unknown address: by key, and the re-read brings the address back.
    sds->Edit();
    sds->DbKeyField()->Clear();
    sds->FieldByName("PRICE")->SetAsFloat(11.25);
    sds->Post();
    EXPECT_EQ(sds->RowAddress(), address);
    EXPECT_EQ(Committed("select PRICE from DOC where SYS$ID = 1"), QStringList{"11.25"});
}

TEST_F(SDSEditingTest, ARelationWithoutKeyUpdatesThroughAllFields)
{
    auto sds = NewSDS("NOKEY");
    sds->Open();
    ASSERT_TRUE(sds->Locate("A", 2));
    const QByteArray address = sds->RowAddress();
    // By address, any change.
    sds->Edit();
    sds->FieldByName("B")->SetAsString("z");
    sds->Post();
    EXPECT_EQ(Committed("select A, B from NOKEY order by A"), (QStringList{"1|x", "2|z"}));
    // Without the address: the all-fields condition finds the row, the re-read its address.
    sds->Edit();
    sds->DbKeyField()->Clear();
    sds->Post();
    EXPECT_EQ(sds->RowAddress(), address);
    // A changed value no longer matches its condition: said, not lost silently.
    sds->Edit();
    sds->DbKeyField()->Clear();
    sds->FieldByName("B")->SetAsString("w");
    EXPECT_EQ(MessageOf<Exception>([&] { sds->Post(); }),
              QStringLiteral("Текущая запись возможно удалена в базе.\n\rРекомендуется обновить набор данных !"));
    EXPECT_EQ(sds->State(), dsEdit);
    sds->Cancel();
    EXPECT_EQ(Committed("select A, B from NOKEY order by A"), (QStringList{"1|x", "2|z"}));
}

TEST_F(SDSEditingTest, DeletesByRowAddressAndByKey)
{
    auto sds = NewSDS("DOC");
    sds->Open();
    int logged = -1;
    sds->OnLogEvent = [&](TSDS*, TOperationType op) { logged = op; };
    ASSERT_TRUE(sds->Locate("SYS$ID", 1));
    sds->Delete();
    EXPECT_EQ(logged, 2);
    EXPECT_EQ(Committed("select SYS$ID from DOC order by 1"), (QStringList{"2", "3"}));

    // The address forgotten locally: the key finds the row.
    ASSERT_TRUE(sds->Locate("SYS$ID", 2));
    sds->SetOptions(sds->Options() - TSDSOptions{dsoChangesResolved});
    sds->Edit();
    sds->DbKeyField()->Clear();
    sds->Post();
    sds->SetOptions(sds->Options() + TSDSOptions{dsoChangesResolved});
    EXPECT_EQ(sds->RowAddress(), QByteArray(8, '\0'));
    sds->Delete();
    EXPECT_EQ(Committed("select SYS$ID from DOC order by 1"), QStringList{"3"});
    EXPECT_EQ(sds->RecordCount(), 1);
}

TEST_F(SDSEditingTest, PostErrorsRetryAbortOrRaiseWithTheStatement)
{
    auto sds = NewSDS("DOC");
    sds->Open();
    // Without a handler: the server's error with the statement and the operation.
    sds->Append();
    sds->FieldByName("QTY")->SetAsInteger(-1);
    try {
        sds->Post();
        FAIL() << "the check constraint must refuse the row";
    } catch (const ESDS_IBError& error) {
        EXPECT_EQ(error.Operation(), 1);
        EXPECT_EQ(error.SQL(), InsertSQL(*sds).SQL().Text());
        EXPECT_TRUE(error.SQL().startsWith("insert into DOC"));
        EXPECT_EQ(error.DataSet(), sds.get());
        EXPECT_NE(error.IBErrorCode(), 0);
        // The server's whole story comes with it.
        EXPECT_EQ(error.SQLState(), "23000");
        EXPECT_GE(error.Status().size(), 2u);
        EXPECT_TRUE(error.Message().contains("CHECK", Qt::CaseInsensitive)) << error.Message().toStdString();
    }
    EXPECT_EQ(sds->State(), dsInsert);

    // Abort: stays in insert state, nothing shown.
    int calls = 0;
    sds->OnPostError = [&](TDataSet*, const std::exception& error, TDataAction& action) {
        ++calls;
        EXPECT_NE(dynamic_cast<const EIBInterBaseError*>(&error), nullptr);
        action = daAbort;
    };
    EXPECT_THROW(sds->Post(), EAbort);
    EXPECT_EQ(sds->State(), dsInsert);
    EXPECT_EQ(calls, 1);

    // Retry: the handler mends the value, the insert runs again after the rollback.
    sds->OnPostError = [&](TDataSet* ds, const std::exception&, TDataAction& action) {
        ++calls;
        ds->FieldByName("QTY")->SetAsInteger(4);
        action = daRetry;
    };
    sds->Post();
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(sds->State(), dsBrowse);
    EXPECT_EQ(Committed("select QTY from DOC where SYS$ID > 3"), QStringList{"4"});

    // An update's error carries operation 0.
    sds->OnPostError = nullptr;
    ASSERT_TRUE(sds->Locate("SYS$ID", 2));
    sds->Edit();
    sds->FieldByName("QTY")->SetAsInteger(-5);
    try {
        sds->Post();
        FAIL();
    } catch (const ESDS_IBError& error) {
        EXPECT_EQ(error.Operation(), 0);
        EXPECT_TRUE(error.SQL().startsWith("update DOC set"));
    }
    sds->Cancel();
}

TEST_F(SDSEditingTest, DeleteErrorsRaiseAbortOrRetryTheDelete)
{
    auto sds = NewSDS("DOC");
    sds->Open();
    ASSERT_TRUE(sds->Locate("SYS$ID", 3)); // a row of REF refers to it
    try {
        sds->Delete();
        FAIL() << "the foreign key must refuse the delete";
    } catch (const ESDS_IBError& error) {
        EXPECT_EQ(error.Operation(), 2);
        EXPECT_EQ(error.SQL(), DeleteSQL(*sds).SQL().Text());
    }
    // Abort: the row stays, here and on the server.
    sds->OnDeleteError = [](TDataSet*, const std::exception&, TDataAction& action) { action = daAbort; };
    EXPECT_THROW(sds->Delete(), EAbort);
    EXPECT_EQ(sds->FieldByName("SYS$ID")->AsInteger(), 3);
    EXPECT_EQ(sds->RecordCount(), 3);

    // Retry: the handler removes the reference, the delete runs again.
    int calls = 0;
    sds->OnDeleteError = RemoveReferencesAndRetry(&calls);
    sds->Delete();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(sds->RecordCount(), 2);
    EXPECT_EQ(Committed("select SYS$ID from DOC order by 1"), (QStringList{"1", "2"}));
    EXPECT_EQ(Committed("select count(*) from REF"), QStringList{"0"});
}

// A commit the server refuses is the delete's own failure: rolled back, so
// that no later commit of the transaction takes the delete along, and
// reported through the delete's error with its statement.
TEST_F(SDSEditingTest, ARefusedCommitOfADeleteIsRolledBackAndReported)
{
    FTestDb.ExecuteScript(QStringLiteral(R"(
CREATE EXCEPTION E_REFUSED 'commit refused';
CREATE TABLE FRAGILE (SYS$ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(10));
INSERT INTO FRAGILE VALUES (1, 'a');
INSERT INTO FRAGILE VALUES (2, 'b');
SET TERM ^ ;
CREATE TRIGGER FRAGILE_AD FOR FRAGILE AFTER DELETE AS
  DECLARE R INTEGER;
BEGIN
  R = RDB$SET_CONTEXT('USER_TRANSACTION', 'REFUSE', '1');
END^
CREATE TRIGGER REFUSE_COMMIT ON TRANSACTION COMMIT AS
BEGIN
  IF (RDB$GET_CONTEXT('USER_TRANSACTION', 'REFUSE') = '1') THEN EXCEPTION E_REFUSED;
END^
SET TERM ; ^
)"));
    // An attachment reads the database's triggers when it connects.
    FDb->Close();
    FDb->Open();
    TIBTransaction writes;
    writes.SetDefaultDatabase(FDb.get());
    FDb->SetDefaultTransactionRW(&writes);
    auto sds = NewSDS("FRAGILE");
    sds->Open();
    ASSERT_TRUE(sds->Locate("SYS$ID", 1));
    int calls = 0;
    sds->OnDeleteError = [&](TDataSet*, const std::exception& error, TDataAction& action) {
        ++calls;
        EXPECT_TRUE(QString::fromUtf8(error.what()).contains("commit refused")) << error.what();
        action = daFail;
    };
    try {
        sds->Delete();
        FAIL() << "the commit must be refused";
    } catch (const ESDS_IBError& error) {
        EXPECT_EQ(error.Operation(), 2);
        EXPECT_EQ(error.SQL(), DeleteSQL(*sds).SQL().Text());
    }
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(writes.InTransaction());
    EXPECT_EQ(sds->RecordCount(), 2);
    EXPECT_EQ(sds->FieldByName("SYS$ID")->AsInteger(), 1);
    // The next write commits only itself.
    ASSERT_TRUE(sds->Locate("SYS$ID", 2));
    sds->Edit();
    sds->FieldByName("NAME")->SetAsString("c");
    sds->Post();
    EXPECT_EQ(Committed("select SYS$ID, NAME from FRAGILE order by 1"), (QStringList{"1|a", "2|c"}));
    sds->Close();
    FDb->SetDefaultTransactionRW(nullptr);
}

TEST_F(SDSEditingTest, AGroupWithChildrenIsNotDeleted)
{
    FTestDb.Execute("UPDATE DOC SET SYS$PID = 1 WHERE SYS$ID = 2");
    FTestDb.Execute("UPDATE DOC SET SYS$STATE = 1073741824 WHERE SYS$ID <> 1"); // leaves
    auto sds = NewSDS("DOC", {dsoLevels, dsoCheckChildRecordOnDelete});
    sds->SetLevelMode(dslmNone);
    sds->Open();
    ASSERT_TRUE(sds->Locate("SYS$ID", 1));
    EXPECT_EQ(MessageOf<EHintError>([&] { sds->Delete(); }),
              QStringLiteral("Удаление невозможно - есть уровневые записи !"));
    ASSERT_TRUE(sds->Locate("SYS$ID", 2)); // a leaf goes
    sds->Delete();
    EXPECT_EQ(Committed("select SYS$ID from DOC order by 1"), (QStringList{"1", "3"}));
}

TEST_F(SDSEditingTest, FillDefaultsInItsThreeModes)
{
    const struct
    {
        TSDSOptions Options;
        const char* Expected; // I|F|S|D|OPT_I|OPT_S|OPT_D, "-" for null
    } cases[] = {
        {{dsoInitRequiredFields}, "0|0|(empty)|-|-|(empty)|-"},
        {{dsoInitAllFields}, "0|0|(empty)|0001-01-01|0|(empty)|-"},
        {{}, "-|-|(empty)|-|-|-|-"},
    };
    for (const auto& c : cases) {
        auto sds = NewSDS("DEF", c.Options);
        sds->Open();
        sds->Append();
        sds->FieldByName("S")->SetAsString("");     // required: an empty text stays
        sds->FieldByName("OPT_S")->SetAsString(""); // not required: null unless filled
        sds->FillDefaults();
        QStringList got;
        for (const char* name : {"I", "F", "S", "D", "OPT_I", "OPT_S", "OPT_D"}) {
            const TField* field = sds->FieldByName(QString::fromLatin1(name));
            if (field->IsNull())
                got << "-";
            else if (field->DataType() == ftDate)
                got << FormatDateTime(QStringLiteral("yyyy-mm-dd"), field->AsDateTime());
            else
                got << (field->AsString().isEmpty() ? QStringLiteral("(empty)") : field->AsString());
        }
        EXPECT_EQ(got.join('|'), QString::fromLatin1(c.Expected)) << c.Options.Value();
        sds->Cancel();
    }

    // A required date left empty is posted as 01.01.0001.
    auto sds = NewSDS("DEF", {dsoInitAllFields});
    sds->Open();
    sds->Append();
    sds->FieldByName("SYS$ID")->SetAsInteger(1);
    sds->Post();
    EXPECT_EQ(Committed("select I, S, D from DEF"), QStringList{"0||0001-01-01"});
}

TEST_F(SDSEditingTest, AccessBelowFullRefusesEditPostAndDelete)
{
    auto sds = NewSDS("DOC");
    sds->Open();
    TAccess access = acReadOnly;
    sds->OnGetAccess = [&](TSDS*, TAccess& a) { a = access; };
    EXPECT_EQ(MessageOf<Exception>([&] { sds->Edit(); }), BlockedText);
    EXPECT_EQ(sds->State(), dsBrowse);
    EXPECT_EQ(MessageOf<Exception>([&] { sds->Delete(); }), BlockedText);
    sds->Append(); // inserting asks nobody
    sds->FieldByName("NAME")->SetAsString("x");
    EXPECT_EQ(MessageOf<Exception>([&] { sds->Post(); }), BlockedText);
    sds->Cancel();
    EXPECT_EQ(Committed("select count(*) from DOC"), QStringList{"3"});
}

TEST_F(SDSEditingTest, ADetailRefusesChangesWhileItsMasterIsEditedOrEmpty)
{
    auto master = NewSDS("DOC");
    master->Open();
    TDataSource source;
    source.SetDataSet(master.get());
    auto detail = NewSDS("LINE");
    detail->SetMasterSource(&source);
    detail->SetMasterFields("SYS$ID");
    detail->SetDetailFields("DOC_ID");
    detail->Open();
    ASSERT_EQ(detail->RecordCount(), 2);

    master->Edit();
    EXPECT_EQ(MessageOf<EHintError>([&] { detail->Edit(); }), FinishMasterText);
    EXPECT_EQ(MessageOf<EHintError>([&] { detail->Insert(); }), FinishMasterText);
    EXPECT_EQ(MessageOf<EHintError>([&] { detail->Delete(); }), FinishMasterText);
    master->Cancel();

    detail->SetOptions(detail->Options() + TSDSOptions{dsoDontCheckMasterInBrowse});
    master->Edit();
    detail->Edit(); // allowed now
    detail->Cancel();
    master->Cancel();

    master->SetFilter("SYS$ID = 99");
    master->SetFiltered(true);
    EXPECT_EQ(MessageOf<EHintError>([&] { detail->Insert(); }), QStringLiteral("Нет головной записи !"));
}

TEST_F(SDSEditingTest, RefreshBeforeEditFindsARowDeletedElsewhere)
{
    auto sds = NewSDS("DOC", {dsoRefreshBeforeEdit});
    sds->Open();
    ASSERT_TRUE(sds->Locate("SYS$ID", 2));
    FTestDb.Execute("UPDATE DOC SET NAME = 'Извне' WHERE SYS$ID = 2");
    FTransaction.Commit(); // a new snapshot sees the other attachment's change
    sds->Edit();
    EXPECT_EQ(sds->FieldByName("NAME")->AsString(), "Извне");
    sds->Cancel();

    FTestDb.Execute("DELETE FROM DOC WHERE SYS$ID = 2");
    FTransaction.Commit();
    EXPECT_EQ(MessageOf<Exception>([&] { sds->Edit(); }),
              QStringLiteral("Текущая запись возможно удалена в базе.\n\rРекомендуется обновить набор данных !"));
    EXPECT_EQ(sds->State(), dsBrowse);
}

TEST_F(SDSEditingTest, AuditTextsReachTheServer)
{
    FDb->SetCurrentUserID(3);
    FDb->Session()->Register(3);
    auto sds = NewSDS("DOC", {dsoAudit, dsoPessimisticLock});
    sds->Open();
    ASSERT_TRUE(sds->Locate("SYS$ID", 1));
    sds->Edit();
    sds->FieldByName("NAME")->SetAsString("O'Hara");
    sds->FieldByName("QTY")->SetAsInteger(7);
    sds->Post();
    sds->Append();
    sds->FieldByName("SYS$ID")->SetAsInteger(9);
    sds->FieldByName("NAME")->SetAsString("Н");
    sds->Post();
    sds->Delete();
    const QStringList audit = Committed("select MESSAGE from SYS$AUDIT order by AUDIT_ID");
    ASSERT_EQ(audit.size(), 3);
    EXPECT_EQ(audit[0], "<TABLE>DOC</TABLE><UPDATE><SYS$ID>1</SYS$ID>"
                        "<NAME><OLD>='Первый'<NEW>='O''Hara'</NAME><QTY><OLD>=1<NEW>=7</QTY></UPDATE>");
    EXPECT_EQ(audit[1], "<TABLE>DOC</TABLE><INSERT><SYS$ID>9</SYS$ID><SYS$PID>0</SYS$PID><SYS$STATE>3</SYS$STATE>"
                        "<NAME>Н</NAME><NOTE></NOTE><QTY>5</QTY><PRICE></PRICE><MADE></MADE><CODE>T9</CODE>"
                        "</INSERT>");
    EXPECT_TRUE(audit[2].startsWith("<TABLE>DOC</TABLE><DELETE><SYS$ID>9</SYS$ID>")) << audit[2].toStdString();
    // Every lock went with its post or delete.
    EXPECT_EQ(FDb->Session()->GetLockInfo(SessionRecord(sds->RowAddress())), QStringLiteral("Запись не заблокирована"));
}

// The audit row of a change is written in the change's own transaction: it is
// on the server exactly when the change is.
TEST_F(SDSEditingTest, AnAuditRowCommitsAndRollsBackWithItsChange)
{
    FDb->Session()->Register(3);
    auto sds = NewSDS("DOC", {dsoAudit, dsoPessimisticLock});
    sds->SetOptions(sds->Options() - TSDSOptions{dsoAutoCommit}); // the caller ends the transaction
    sds->Open();
    ASSERT_TRUE(sds->Locate("SYS$ID", 1));
    sds->Edit();
    sds->FieldByName("QTY")->SetAsInteger(7);
    sds->Post();
    FTransaction.Rollback();
    EXPECT_EQ(Committed("select QTY from DOC where SYS$ID = 1"), QStringList{"1"});
    EXPECT_EQ(Committed("select count(*) from SYS$AUDIT"), QStringList{"0"}) << "no audit of a rolled-back change";

    sds->Reload();
    ASSERT_TRUE(sds->Locate("SYS$ID", 1));
    sds->Edit();
    sds->FieldByName("QTY")->SetAsInteger(8);
    sds->Post();
    EXPECT_EQ(Committed("select count(*) from SYS$AUDIT"), QStringList{"0"}) << "not before the commit";
    FTransaction.Commit();
    EXPECT_EQ(Committed("select MESSAGE from SYS$AUDIT"),
              QStringList{"<TABLE>DOC</TABLE><UPDATE><SYS$ID>1</SYS$ID><QTY><OLD>=1<NEW>=8</QTY></UPDATE>"});
}

// An audit the server refuses fails the write before its commit: neither the
// change nor its audit is kept, for each kind of write.
TEST_F(SDSEditingTest, ARefusedAuditFailsTheWriteAndKeepsNothing)
{
    FTestDb.ExecuteScript(QStringLiteral(R"(
CREATE EXCEPTION NO_AUDIT 'audit refused';
SET TERM ^ ;
CREATE TRIGGER AUDIT_REFUSED FOR SYS$AUDIT BEFORE INSERT AS
BEGIN
  IF (NEW.MESSAGE CONTAINING 'Refused') THEN EXCEPTION NO_AUDIT;
END^
SET TERM ; ^
)"));
    FDb->Session()->Register(3);
    auto sds = NewSDS("DOC", {dsoAudit, dsoPessimisticLock});
    sds->Open();
    ASSERT_TRUE(sds->Locate("SYS$ID", 1));
    sds->Edit();
    sds->FieldByName("NAME")->SetAsString("Refused");
    EXPECT_THROW(sds->Post(), ESDS_IBError);
    sds->Cancel();
    sds->Append();
    sds->FieldByName("SYS$ID")->SetAsInteger(9);
    sds->FieldByName("NAME")->SetAsString("Refused");
    EXPECT_THROW(sds->Post(), ESDS_IBError);
    sds->Cancel();
    EXPECT_EQ(Committed("select NAME from DOC where SYS$ID in (1, 9)"), QStringList{"Первый"});
    EXPECT_EQ(Committed("select count(*) from SYS$AUDIT"), QStringList{"0"});
    // The lock went with the cancel.
    ASSERT_TRUE(sds->Locate("SYS$ID", 1));
    EXPECT_EQ(FDb->Session()->GetLockInfo(SessionRecord(sds->RowAddress())), QStringLiteral("Запись не заблокирована"));
}

// Once committed, a change is a posted one whatever fails afterwards: here
// the unlock (its function is gone from the database).
TEST_F(SDSEditingTest, AFailureAfterTheCommitLeavesThePostDone)
{
    FDb->Session()->Register(3);
    auto sds = NewSDS("DOC", {dsoAudit, dsoPessimisticLock, dsoSendNotification});
    sds->Open();
    ASSERT_TRUE(sds->Locate("SYS$ID", 2));
    sds->Edit();
    FTestDb.Execute("DROP FUNCTION F_UNLOCKRECORD");
    sds->FieldByName("QTY")->SetAsInteger(6);
    EXPECT_NO_THROW(sds->Post());
    EXPECT_EQ(sds->State(), dsBrowse);
    EXPECT_EQ(Committed("select QTY from DOC where SYS$ID = 2"), QStringList{"6"});
    EXPECT_EQ(Committed("select MESSAGE from SYS$AUDIT"),
              QStringList{"<TABLE>DOC</TABLE><UPDATE><SYS$ID>2</SYS$ID><QTY><OLD>=2<NEW>=6</QTY></UPDATE>"});
}

// With a re-read before the edit, the old values the audit reports are the
// server's under the lock, not the ones the data set had loaded.
TEST_F(SDSEditingTest, AuditOfARefreshedEditReportsTheServersOldValues)
{
    FDb->Session()->Register(3);
    auto sds = NewSDS("DOC", {dsoAudit, dsoPessimisticLock, dsoRefreshBeforeEdit});
    sds->Open();
    ASSERT_TRUE(sds->Locate("SYS$ID", 1));
    FTestDb.Execute("UPDATE DOC SET QTY = 4 WHERE SYS$ID = 1");
    FTransaction.Commit(); // a new snapshot sees the other attachment's change
    sds->Edit();
    EXPECT_EQ(sds->FieldByName("QTY")->AsInteger(), 4);
    sds->FieldByName("QTY")->SetAsInteger(9);
    sds->Post();
    EXPECT_EQ(Committed("select MESSAGE from SYS$AUDIT"),
              QStringList{"<TABLE>DOC</TABLE><UPDATE><SYS$ID>1</SYS$ID><QTY><OLD>=4<NEW>=9</QTY></UPDATE>"});
}

// The lock and the re-read before an edit go to the server as one statement,
// which still refuses a record another session holds, as a lock alone does
// (the question, then the holder when asked), reads the value committed
// elsewhere, and finds a row deleted elsewhere gone, its lock given back.
TEST_F(SDSEditingTest, ALockWithItsReReadInOneStatementRefusesReadsAndReleases)
{
    FDb->Session()->Register(3);
    auto other = NewDatabase();
    other->Open();
    other->Session()->Register(4);
    auto sds = NewSDS("DOC", {dsoPessimisticLock, dsoRefreshBeforeEdit});
    sds->Open();
    ASSERT_TRUE(sds->Locate("SYS$ID", 1));
    const TRecordID id = SessionRecord(sds->RowAddress());
    const auto lockedElsewhere = [&] { return LockedElsewhere(*other, id); };

    other->Session()->LockRecord(id, false);
    {
        TScriptedDialogsGuard dialogs;
        dialogs->Answers = {mrYes};
        EXPECT_EQ(MessageOf<EAbort>([&] { sds->Edit(); }), QStringLiteral("Запись блокирована другим пользователем"));
        EXPECT_EQ(sds->State(), dsBrowse);
        ASSERT_EQ(dialogs->Messages.size(), 2u);
        EXPECT_EQ(dialogs->Messages[0].Text,
                  QStringLiteral("Запись блокирована другим пользователем\n\rИнтересует дополнительная информация ?"));
        EXPECT_TRUE(dialogs->Messages[1].Text.startsWith(QStringLiteral("Запись заблокирована пользователем")))
            << dialogs->Messages[1].Text.toStdString();
    }
    EXPECT_TRUE(TSDSPrivate::Of(*sds).LockedReadPrepared()) << "the lock went with the re-read";
    other->Session()->UnlockRecord(id);

    FTestDb.Execute("UPDATE DOC SET QTY = 4 WHERE SYS$ID = 1");
    FTransaction.Commit(); // a new snapshot sees the other attachment's change
    sds->Edit();
    EXPECT_EQ(sds->FieldByName("QTY")->AsInteger(), 4);
    EXPECT_TRUE(lockedElsewhere());
    sds->Cancel();
    EXPECT_FALSE(lockedElsewhere());

    ASSERT_TRUE(sds->Locate("SYS$ID", 2));
    FTestDb.Execute("DELETE FROM DOC WHERE SYS$ID = 2");
    FTransaction.Commit();
    EXPECT_EQ(MessageOf<Exception>([&] { sds->Edit(); }),
              QStringLiteral("Текущая запись возможно удалена в базе.\n\rРекомендуется обновить набор данных !"));
    EXPECT_EQ(sds->State(), dsBrowse);
    EXPECT_EQ(FDb->Session()->GetLockInfo(SessionRecord(sds->RowAddress())), QStringLiteral("Запись не заблокирована"));
}

// An audited update carries its audit row in the same statement: a row gone
// meanwhile is reported gone, and no audit row is written for it.
TEST_F(SDSEditingTest, AnAuditedUpdateOfARowGoneWritesNoAudit)
{
    FDb->Session()->Register(3);
    auto sds = NewSDS("DOC", {dsoAudit, dsoPessimisticLock});
    sds->Open();
    ASSERT_TRUE(sds->Locate("SYS$ID", 2));
    sds->Edit();
    sds->FieldByName("QTY")->SetAsInteger(6);
    FTestDb.Execute("DELETE FROM DOC WHERE SYS$ID = 2"); // a writer outside the locks
    FTransaction.Commit();                               // the update's snapshot sees it gone
    EXPECT_EQ(MessageOf<Exception>([&] { sds->Post(); }),
              QStringLiteral("Текущая запись возможно удалена в базе.\n\rРекомендуется обновить набор данных !"));
    EXPECT_TRUE(TSDSPrivate::Of(*sds).AuditedUpdatePrepared()) << "the audit went with the update";
    sds->Cancel();
    EXPECT_EQ(Committed("select count(*) from SYS$AUDIT"), QStringList{"0"});

    ASSERT_TRUE(sds->Locate("SYS$ID", 1));
    sds->Edit();
    sds->FieldByName("QTY")->SetAsInteger(6);
    sds->Post();
    EXPECT_EQ(Committed("select MESSAGE from SYS$AUDIT"),
              QStringList{"<TABLE>DOC</TABLE><UPDATE><SYS$ID>1</SYS$ID><QTY><OLD>=1<NEW>=6</QTY></UPDATE>"});
}

TEST_F(SDSEditingTest, VirtualDeleteMarksTheRowAndHidesIt)
{
    auto sds = NewSDS("DOC", {dsoVirtualDelete});
    sds->Open();
    int afterDelete = 0;
    sds->AfterDelete = [&](TDataSet*) { ++afterDelete; };
    ASSERT_TRUE(sds->Locate("SYS$ID", 2));
    EXPECT_THROW(sds->Delete(), EAbort); // ends silently
    EXPECT_EQ(afterDelete, 1);
    EXPECT_EQ(sds->State(), dsBrowse);
    EXPECT_EQ(sds->StoredRowCount(), 3);
    EXPECT_FALSE(sds->Locate("SYS$ID", 2)) << "out of the view: its indexes apply the visibility rule";
    EXPECT_EQ(Committed("select SYS$STATE from DOC where SYS$ID = 2"),
              QStringList{QString::number(static_cast<int32_t>(0x80000000u))});
}

TEST_F(SDSEditingTest, CascadeDeleteIsCommittedWithTheMaster)
{
    const auto documentLines = OpenDocumentLines();
    TSDS* master = documentLines->Documents.get();
    TSDS* detail = documentLines->Lines.get();
    ASSERT_TRUE(master->Locate("SYS$ID", 1));
    ASSERT_EQ(detail->RecordCount(), 2);
    master->Delete();
    EXPECT_TRUE(detail->Options().Contains(dsoAutoCommit)); // given back
    EXPECT_EQ(Committed("select SYS$ID from LINE order by 1"), QStringList{"21"});
    EXPECT_EQ(Committed("select SYS$ID from DOC order by 1"), (QStringList{"2", "3"}));
}

TEST_F(SDSEditingTest, AFailedMasterDeleteKeepsTheDetailsItCascadedHereAndOnTheServer)
{
    FTestDb.Execute("INSERT INTO LINE VALUES (31, 3, 'd', 0)"); // document 3 is referred to by REF
    const auto documentLines = OpenDocumentLines();
    TSDS* master = documentLines->Documents.get();
    TSDS* detail = documentLines->Lines.get();
    ASSERT_TRUE(master->Locate("SYS$ID", 3));
    ASSERT_EQ(detail->RecordCount(), 1);

    EXPECT_THROW(master->Delete(), ESDS_IBError);
    EXPECT_EQ(master->RecordCount(), 3);
    EXPECT_EQ(detail->RecordCount(), 1);
    EXPECT_EQ(detail->FieldByName("SYS$ID")->AsInteger(), 31);
    EXPECT_EQ(Committed("select SYS$ID from LINE order by 1"), (QStringList{"11", "12", "21", "31"}));

    // A retry deletes the details again with the master.
    master->OnDeleteError = RemoveReferencesAndRetry();
    master->Delete();
    EXPECT_EQ(Committed("select SYS$ID from DOC order by 1"), (QStringList{"1", "2"}));
    EXPECT_EQ(Committed("select SYS$ID from LINE order by 1"), (QStringList{"11", "12", "21"}));
    EXPECT_EQ(detail->RecordCount(), master->FieldByName("SYS$ID")->AsInteger() == 1 ? 2 : 1);
}

TEST_F(SDSEditingTest, CancelRaisesAfterCancelOnlyForServerDataSets)
{
    for (const bool resolved : {false, true}) {
        auto sds = NewSDS("DOC");
        if (!resolved)
            sds->SetOptions(sds->Options() - TSDSOptions{dsoChangesResolved});
        sds->Open();
        int afterCancel = 0;
        sds->AfterCancel = [&](TDataSet*) { ++afterCancel; };
        sds->Edit();
        sds->Cancel();
        EXPECT_EQ(afterCancel, resolved ? 1 : 0) << resolved;
    }
}

TEST_F(SDSEditingTest, EveryEndOfAnEditReleasesItsLock)
{
    FDb->Session()->Register(3);
    auto other = NewDatabase();
    other->Open();
    other->Session()->Register(4);
    TScriptedDialogsGuard dialogs;
    auto sds = NewSDS("DOC", {dsoPessimisticLock});
    sds->Open();
    ASSERT_TRUE(sds->Locate("SYS$ID", 1));
    const TRecordID id = SessionRecord(sds->RowAddress());
    const auto lockedElsewhere = [&] { return LockedElsewhere(*other, id); };
    const std::pair<const char*, std::function<void()>> ends[] = {
        {"post", [&] { sds->Post(); }},     {"cancel", [&] { sds->Cancel(); }},
        {"reload", [&] { sds->Reload(); }}, {"server filter", [&] { sds->SetServerFilter("SYS$ID < 10"); }},
        {"close", [&] { sds->Close(); }},   {"free", [&] { sds.reset(); }},
    };
    for (const auto& [name, end] : ends) {
        if (!sds->Active())
            sds->Open();
        ASSERT_TRUE(sds->Locate("SYS$ID", 1)) << name;
        sds->Edit();
        EXPECT_TRUE(lockedElsewhere()) << name;
        end();
        EXPECT_FALSE(lockedElsewhere()) << name;
    }
}

// --- a row address from an earlier run

class SDSEditingCacheTest : public SDSEditingTest
{
protected:
    void SetUp() override
    {
        SDSEditingTest::SetUp();
        FDb->Close();
        FDb->SetLocalCache(true);
        FDb->Open();
    }
    QTemporaryDir FTemp;
    TEnvGuard FTempVar{"TEMP", FTemp.path().toLocal8Bit()};
};

TEST_F(SDSEditingCacheTest, AStaleRowAddressNeverTouchesAnotherRecord)
{
    QByteArray oldAddress;
    {
        auto first = NewSDS("DOC", {dsoLocalCachData, dsoPessimisticLock});
        first->Open();
        ASSERT_TRUE(first->Locate("SYS$ID", 1));
        oldAddress = first->RowAddress();
    } // the rows, with their addresses, go to the cache file
    if (FTransaction.InTransaction())
        FTransaction.Commit();
    FDb->Close();

    // On the server: row 1 is gone and another record holds its slot. (The
    // engine here does not hand a swept slot to the next insert at once, so
    // the other record is made in place: row 1 takes another key.)
    FTestDb.Execute("UPDATE DOC SET SYS$ID = 7, NAME = 'Чужая' WHERE SYS$ID = 1");
    const QStringList atOldAddress = Committed(QStringLiteral("select SYS$ID from DOC where RDB$DB_KEY = x'%1'")
                                                   .arg(QString::fromLatin1(oldAddress.toHex()))
                                                   .toUtf8()
                                                   .constData());
    ASSERT_EQ(atOldAddress, QStringList{"7"});
    FDb->Open();
    FDb->Session()->Register(3);

    auto second = NewSDS("DOC", {dsoLocalCachData, dsoPessimisticLock});
    second->Open();
    ASSERT_TRUE(second->Locate("SYS$ID", 1)); // still in the cache
    EXPECT_EQ(second->RowAddress(), oldAddress);
    second->Edit();
    // The address is not the record's any more: forgotten, and the other record not locked.
    EXPECT_EQ(second->RowAddress(), QByteArray(8, '\0'));
    EXPECT_EQ(FDb->Session()->GetLockInfo(SessionRecord(oldAddress)), QStringLiteral("Запись не заблокирована"));
    second->FieldByName("NAME")->SetAsString("Перезапись");
    EXPECT_THROW(second->Post(), Exception);
    second->Cancel();
    second->Delete(); // gone on the server already: only the local row goes
    EXPECT_FALSE(second->Locate("SYS$ID", 1));
    EXPECT_EQ(Committed("select SYS$ID, NAME from DOC order by 1"), (QStringList{"2|Второй", "3|Третий", "7|Чужая"}));

    // A row whose address still holds it is written by that address.
    ASSERT_TRUE(second->Locate("SYS$ID", 2));
    second->Edit();
    second->FieldByName("NAME")->SetAsString("Два");
    second->Post();
    EXPECT_EQ(Committed("select NAME from DOC where SYS$ID = 2"), QStringList{"Два"});
}

// --- two processes through the server

TEST(SDSEditingServer, ALockHeldByAnotherProcessStopsTheEdit)
{
    if (TIBTestDatabase::ServerName().isEmpty())
        GTEST_SKIP() << "FB_SERVER is not set (scripts/fbserver start)";
    TIBTestDatabase::PrepareEngine();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString name = TIBTestDatabase::CreateOnServer(dir.filePath(QStringLiteral("editing.fdb")),
                                                         QString::fromUtf8(Schema));
    const QStringList params = TIBTestDatabase::ServerParams();
    {
        TSDatabase db;
        db.SetDatabaseName(name);
        db.SetParams(params);
        db.Open();
        db.Session()->Register(9);
        TIBTransaction transaction;
        transaction.SetDefaultDatabase(&db);
        TSDS sds;
        sds.setObjectName("DOC");
        sds.SetDatabase(&db);
        sds.SetTransaction(&transaction);
        sds.SetTableName("DOC");
        sds.SetOptions(sds.Options() + TSDSOptions{dsoPessimisticLock});
        sds.Open();
        ASSERT_TRUE(sds.Locate("SYS$ID", 1));

        QProcess holder;
        holder.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        holder.start(QStringLiteral(USERSESSION_HOLDER),
                     {name, TIBTestDatabase::ServerPassword(), RecordIDHex(SessionRecord(sds.RowAddress()))});
        ASSERT_TRUE(holder.waitForStarted());
        ASSERT_TRUE(holder.waitForReadyRead(30000));
        ASSERT_EQ(holder.readLine().trimmed(), QByteArray("locked"));

        TScriptedDialogsGuard dialogs;
        dialogs->Answers = {mrNo};
        EXPECT_THROW(sds.Edit(), EAbort);
        EXPECT_EQ(sds.State(), dsBrowse);
        ASSERT_FALSE(dialogs->Messages.empty());
        EXPECT_TRUE(dialogs->Messages[0].Text.startsWith(QStringLiteral("Запись блокирована другим пользователем")));

        holder.closeWriteChannel(); // it unlocks and ends
        holder.waitForFinished();
        sds.Edit();
        sds.FieldByName("NAME")->SetAsString("Моё");
        sds.Post();
        sds.Close();
        if (transaction.InTransaction())
            transaction.Commit();
    }
    TIBTestDatabase::DropOnServer(name);
}

} // namespace

namespace {

// A generator behind the table's rows hands a new row a key that is taken:
// the error says so in words, not as the server's constraint report.
TEST_F(SDSEditingTest, AGeneratedKeyThatIsTakenIsReportedInWords)
{
    FTestDb.Execute("ALTER SEQUENCE MAIN_GEN RESTART WITH 0"); // the next key is 1, which DOC has
    auto sds = NewSDS("DOC");
    sds->Open();
    sds->Append();
    sds->FieldByName("NAME")->SetAsString("Новый");
    try {
        sds->Post();
        FAIL() << "posted";
    } catch (const ESDS_IBError& error) {
        EXPECT_EQ(error.Message(),
                  "Новая запись не сохранена: ей выдан ключ SYS$ID = 1, а в таблице DOC уже есть запись с таким "
                  "ключом. Генератор ключей MAIN_GEN отстаёт от записей таблицы: сообщите администратору базы "
                  "данных, что его нужно установить не ниже наибольшего ключа.");
        EXPECT_TRUE(error.HasCode(335544665)) << "the server's report stays in the status";
    }
    EXPECT_EQ(sds->State(), dsInsert) << "the row is kept";
}

} // namespace
