// The user session against the session functions of framework.sql, on the
// embedded engine (which loads them from build/fbroot), and a lock held by
// another process through the server (FB_SERVER; skipped when unset).
#include "SDatabaseSession.h"

#include "Dialogs.h"
#include "Exceptions.h"
#include "IBSQL.h"
#include "IBTestDatabase.h"
#include "SDatabase.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <chrono>
#include <functional>
#include <memory>

namespace {

const TRecordID Row1{1, 0, 0, 0, 0, 0, 0, 0};
const TRecordID Row2{2, 1, 0, 0, 0, 0, 0, 0};

const QString LockedText = QStringLiteral("Запись блокирована другим пользователем");
const QString PromptText = QStringLiteral(
    "Запись блокирована другим пользователем\n\rИнтересует дополнительная информация ?");

// Waits for a condition that another thread or process brings about.
bool Eventually(const std::function<bool()>& condition, std::chrono::seconds limit = std::chrono::seconds(30))
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QThread::msleep(20);
    }
    return true;
}

// Runs the lock request and returns the abort it ends with (null when it locked).
std::unique_ptr<EAbort> LockAborts(TUserSession& session, const TRecordID& id, bool prompt)
{
    try {
        session.LockRecord(id, prompt);
    } catch (const EAbort& abort) {
        return std::make_unique<EAbort>(abort);
    }
    return nullptr;
}

class UserSessionTest : public ::testing::Test
{
protected:
    void SetUp() override { FTestDb.CreateFrameworkSchema(); }

    std::unique_ptr<TSDatabase> Connect() const
    {
        auto db = std::make_unique<TSDatabase>();
        db->SetDatabaseName(FTestDb.Path());
        db->SetParams(FTestDb.ConnectParams());
        db->Open();
        return db;
    }

    // A connected database whose session is registered for the user.
    std::unique_ptr<TSDatabase> Registered(int32_t userId) const
    {
        auto db = Connect();
        db->Session()->Register(userId);
        return db;
    }

    QStringList Audit()
    {
        return TIBTestDatabase::Rows(
            FTestDb.Database(), QStringLiteral("select SESSION_ID, USER_ID, MESSAGE from SYS$AUDIT order by AUDIT_ID"));
    }

    TIBTestDatabase FTestDb;
};

TEST(UserSessionText, RecordHexAndQuoting)
{
    const struct
    {
        TRecordID Id;
        const char* Hex;
    } cases[] = {
        {{0, 0, 0, 0, 0, 0, 0, 0}, "0000000000000000"},
        {{1, 0, 0, 0, 0, 0, 0, 0}, "0100000000000000"},
        {{2, 1, 0, 0, 0, 0, 0, 0}, "0201000000000000"},
        {{0xab, 0xcd, 0xef, 0x10, 0, 0, 0, 0xff}, "ABCDEF10000000FF"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RecordIDHex(c.Id), QLatin1String(c.Hex));
    EXPECT_EQ(QuotedSQL(QStringLiteral("O'Brien''s")), QStringLiteral("'O''Brien''''s'"));
    EXPECT_EQ(QuotedSQL(QString()), QStringLiteral("''"));
}

// With handle -1 nothing reaches the server: on a database without the
// session functions, where any call would raise.
TEST(UserSessionNoProtocol, UnregisteredSessionSendsNothing)
{
    TIBTestDatabase testDb;
    testDb.Execute(QStringLiteral("CREATE TABLE SYS_USER (SYS$ID INTEGER NOT NULL PRIMARY KEY, "
                                  "SYS$STATE INTEGER DEFAULT 0 NOT NULL, NAME VARCHAR(60))"));
    TSDatabase db;
    db.SetDatabaseName(testDb.Path());
    db.SetParams(testDb.ConnectParams());
    TUserSession& session = *db.Session();
    EXPECT_FALSE(session.PostEvent(10, 0, 1, QStringLiteral("T"), Row1, nullptr)); // not connected
    db.Open();

    TScriptedDialogsGuard dialogs;
    ASSERT_EQ(session.SessionHandle(), -1);
    EXPECT_NO_THROW(session.LockRecord(Row1, true));
    EXPECT_NO_THROW(session.UnlockRecord(Row1));
    EXPECT_EQ(session.GetLockInfo(Row1), QString());
    EXPECT_NO_THROW(session.WriteAudit(QStringLiteral("x")));
    EXPECT_NO_THROW(session.UnlockAndAudit(Row1, QStringLiteral("x")));
    EXPECT_TRUE(session.PostEvent(10, 0, 1, QStringLiteral("T"), Row1, nullptr));
    EXPECT_TRUE(dialogs->Messages.empty());

    // A handle the server cannot end: it is dropped all the same, silently.
    session.SetSessionHandle(5);
    EXPECT_NO_THROW(session.Unregister());
    EXPECT_EQ(session.SessionHandle(), -1);
    // Disconnecting with a handle does the same.
    session.SetSessionHandle(6);
    EXPECT_NO_THROW(db.Close());
    EXPECT_EQ(session.SessionHandle(), -1);
}

// Every answer of the lock function the server may give, through a PSQL
// stand-in: 0 for row 1, otherwise the negated handle.
TEST(UserSessionNoProtocol, LockResultsBecomeTheirErrors)
{
    TIBTestDatabase testDb;
    testDb.ExecuteScript(QStringLiteral(
        "CREATE TABLE SYS_USER (SYS$ID INTEGER NOT NULL PRIMARY KEY, SYS$STATE INTEGER DEFAULT 0 NOT NULL);\n"
        "SET TERM ^;\n"
        "CREATE FUNCTION f_LockRecord (HS INTEGER, RN CHAR(8) CHARACTER SET OCTETS) RETURNS INTEGER AS\n"
        "BEGIN RETURN iif(RN = x'0100000000000000', 0, -HS); END^\n"
        "SET TERM ;^"));
    TSDatabase db;
    db.SetDatabaseName(testDb.Path());
    db.SetParams(testDb.ConnectParams());
    db.Open();
    TUserSession& session = *db.Session();
    TScriptedDialogsGuard dialogs;

    session.SetSessionHandle(450);
    EXPECT_NO_THROW(session.LockRecord(Row1, true));
    session.SetSessionHandle(1100);
    EXPECT_TRUE(LockAborts(session, Row2, false));

    const struct
    {
        int32_t Handle;
        const char* Message;
        int HelpContext;
    } cases[] = {
        {450, "Ошибка блокировки (неизвестная база)", 0},
        {400, "Ошибка блокировки (неизвестная сессия)", 0},
        {100, "Ошибка блокировки (отсутствует память)", 0},
        {7, "Ошибка блокировки", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Handle);
        session.SetSessionHandle(c.Handle);
        try {
            session.LockRecord(Row2, true);
            ADD_FAILURE() << "no exception";
        } catch (const EAbort&) {
            ADD_FAILURE() << "silent abort";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), QString::fromUtf8(c.Message));
            EXPECT_EQ(e.HelpContext(), c.HelpContext);
        }
        EXPECT_FALSE(session.LockStatement().Open()); // closed also when it raises
    }
    EXPECT_TRUE(dialogs->Messages.empty());
    session.SetSessionHandle(-1); // the stand-in database has nothing to unregister
}

TEST_F(UserSessionTest, LockConflictAsksAndAbortsSilently)
{
    auto first = Registered(5);
    auto second = Registered(6);
    TUserSession& holder = *first->Session();
    TUserSession& other = *second->Session();
    ASSERT_GE(holder.SessionHandle(), 0);
    ASSERT_NE(holder.SessionHandle(), other.SessionHandle());

    holder.LockRecord(Row1, true);
    EXPECT_NO_THROW(holder.LockRecord(Row1, true)); // asked twice: still the holder's

    TScriptedDialogsGuard dialogs;
    // Answered No: no lock information, still the silent abort.
    dialogs->Answers = {mrNo};
    auto abort = LockAborts(other, Row1, true);
    ASSERT_TRUE(abort);
    EXPECT_EQ(abort->Message(), LockedText);
    EXPECT_EQ(abort->HelpContext(), 1);
    ASSERT_EQ(dialogs->Messages.size(), 1u);
    EXPECT_EQ(dialogs->Messages[0].Text, PromptText);
    EXPECT_EQ(dialogs->Messages[0].Buttons, mbYesNo);
    EXPECT_EQ(dialogs->Messages[0].Icon, TMsgIcon::Information);

    // Answered Yes: who holds it, in a plain message box.
    dialogs->Messages.clear();
    dialogs->Answers = {mrYes};
    EXPECT_TRUE(LockAborts(other, Row1, true));
    ASSERT_EQ(dialogs->Messages.size(), 2u);
    const QString info = dialogs->Messages[1].Text;
    EXPECT_EQ(info, other.GetLockInfo(Row1));
    EXPECT_TRUE(info.contains(QStringLiteral("SYSDBA"))) << info.toStdString();
    EXPECT_TRUE(info.contains(QStringLiteral("код 5"))) << info.toStdString();
    EXPECT_EQ(info, info.trimmed());

    // Without Prompt: nothing asked.
    dialogs->Messages.clear();
    EXPECT_TRUE(LockAborts(other, Row1, false));
    EXPECT_TRUE(dialogs->Messages.empty());

    // Another record is free; an unlock frees the first.
    EXPECT_NO_THROW(other.LockRecord(Row2, false));
    other.UnlockRecord(Row1); // not its lock: the holder keeps it
    EXPECT_TRUE(LockAborts(other, Row1, false));
    holder.UnlockRecord(Row1);
    EXPECT_FALSE(LockAborts(other, Row1, false));
    EXPECT_TRUE(LockAborts(holder, Row1, false));
}

TEST_F(UserSessionTest, NoLockOutlivesItsSession)
{
    auto other = Registered(6);
    {
        // Killed from outside: its attachment is deleted from the monitoring table.
        auto killed = Registered(5);
        killed->Session()->LockRecord(Row1, false);
        EXPECT_TRUE(LockAborts(*other->Session(), Row1, false));
        const QString id =
            TIBTestDatabase::Rows(*killed, QStringLiteral("select current_connection from rdb$database")).value(0);
        TIBTestDatabase::ExecuteOn(*other,
                                   QStringLiteral("delete from mon$attachments where mon$attachment_id = ") + id);
        EXPECT_FALSE(LockAborts(*other->Session(), Row1, false));
        other->Session()->UnlockRecord(Row1);
    } // the killed connection goes away without raising

    // Disconnected, or destroyed while connected: both unregister.
    auto closed = Registered(7);
    closed->Session()->LockRecord(Row2, false);
    const int32_t closedHandle = closed->Session()->SessionHandle();
    closed->Close();
    EXPECT_EQ(closed->Session()->SessionHandle(), -1);
    EXPECT_FALSE(LockAborts(*other->Session(), Row2, false));
    other->Session()->UnlockRecord(Row2);

    auto destroyed = Registered(8);
    destroyed->Session()->LockRecord(Row2, false);
    destroyed.reset();
    EXPECT_FALSE(LockAborts(*other->Session(), Row2, false));

    // The server forgot the closed session: its handle is unknown now.
    other->Session()->SetSessionHandle(closedHandle);
    try {
        other->Session()->LockRecord(Row1, false);
        ADD_FAILURE() << "an unknown session locked";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Ошибка блокировки (неизвестная сессия)"));
    }
}

TEST_F(UserSessionTest, AuditTextsArriveAsSentAndWriteAuditCuts)
{
    auto db = Registered(5);
    TUserSession& session = *db->Session();
    const QString handle = QString::number(session.SessionHandle());
    const QString quoted = QStringLiteral("Изменена запись 'Иванов' ''");
    const QString longText = QString(4990, QLatin1Char('a')) + QStringLiteral("'b'ccccccc");
    ASSERT_EQ(longText.size(), 5000);

    session.WriteAudit(quoted);
    session.WriteAudit(longText);
    session.LockRecord(Row1, false);
    session.UnlockAndAudit(Row1, longText);
    EXPECT_EQ(Audit(),
              QStringList({handle + "|5|" + quoted, handle + "|5|" + longText.left(4000), handle + "|5|" + longText}));
    // UnlockAndAudit unlocked: another session may lock.
    auto other = Registered(6);
    EXPECT_FALSE(LockAborts(*other->Session(), Row1, false));

    // Without AuditEnabled nothing is written, and the unlock still happens.
    db->SetAuditEnabled(false);
    other->Session()->UnlockRecord(Row1);
    session.LockRecord(Row1, false);
    session.WriteAudit(QStringLiteral("x"));
    session.UnlockAndAudit(Row1, QStringLiteral("y"));
    EXPECT_EQ(Audit().size(), 3);
    EXPECT_FALSE(LockAborts(*other->Session(), Row1, false));
}

TEST_F(UserSessionTest, EventsReachEveryOtherSessionOnceInOrder)
{
    auto sender = Registered(5);
    auto reader = Registered(6);
    auto third = Registered(7);
    auto silent = Registered(8);
    TUserSession& session = *sender->Session();
    const QString handle = QString::number(session.SessionHandle());
    // Read as the listener reads them: GetEventsStatement's text.
    const auto poll = [](TSDatabase& db) {
        TIBSQL sql;
        sql.SetDatabase(&db);
        sql.SetTransaction(db.InternalTransaction());
        sql.SQL().SetText(db.Session()->GetEventsStatement().SQL().Text());
        sql.ParamByName(QStringLiteral("hs")).SetAsInteger(db.Session()->SessionHandle());
        sql.ExecQuery();
        return sql.Fields(0).AsString();
    };
    // Events reach the sessions that listen: those that asked once.
    EXPECT_EQ(poll(*reader), QString());
    EXPECT_EQ(poll(*third), QString());
    EXPECT_EQ(poll(*sender), QString());

    EXPECT_TRUE(session.PostEvent(10, 0, 0, QStringLiteral("SYS_USER"), Row1, nullptr));
    EXPECT_EQ(session.PostEventStatement().SQL().Text(),
              QStringLiteral("select F_PostEvent( ") + handle
                  + QStringLiteral(",0,10,0,'SYS_USER','0100000000000000' ) from rdb$database"));
    EXPECT_TRUE(session.PostEvent(10, 3, 2, QStringLiteral("O'Brien;s"), Row2, nullptr));
    EXPECT_EQ(session.PostEventStatement().SQL().Text(),
              QStringLiteral("select F_PostEvent( ") + handle
                  + QStringLiteral(",3,10,2,'O''Brien;s','0201000000000000' ) from rdb$database"));
    EXPECT_FALSE(session.PostEventStatement().Open());
    EXPECT_EQ(poll(*silent), QString()); // it never asked before: it collected nothing
    const QString expected = handle + QStringLiteral(";0;10;0;0100000000000000;SYS_USER\n") + handle
                             + QStringLiteral(";3;10;2;0201000000000000;O'Brien;s\n");
    EXPECT_EQ(poll(*reader), expected);
    EXPECT_EQ(poll(*reader), QString()); // consumed
    EXPECT_EQ(poll(*third), expected);
    EXPECT_EQ(poll(*sender), QString()); // not to itself

    const auto event = TEventListener::ParseEvent(expected.split(QLatin1Char('\n'))[1]);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->Kind, 10);
    EXPECT_EQ(event->Operation, 2);
    EXPECT_EQ(event->TableName, QStringLiteral("O'Brien;s"));
    EXPECT_EQ(event->RecordID, Row2);
    EXPECT_FALSE(TEventListener::ParseEvent(QStringLiteral("1;0;10;0;01;T"))); // short identifier
}

TEST_F(UserSessionTest, ListenerQueuesOtherSessionsEventsAndStopsAtOnce)
{
    auto sender = Registered(5);
    auto listener = Registered(6);
    TUserSession& session = *listener->Session();

    // The interval is far longer than any test: only the wake-up ends the wait.
    session.StartListening(std::chrono::minutes(10));
    EXPECT_TRUE(session.Listening());
    // Queued locally before sending, with the data set that made the change.
    auto* source = reinterpret_cast<TDataSet*>(&session);
    EXPECT_TRUE(session.PostEvent(10, 0, 1, QStringLiteral("OWN"), Row2, source));
    TMsgEventQueue own = session.TakeEvents();
    ASSERT_EQ(own.size(), 1u);
    EXPECT_EQ(own[0]->TableName, QStringLiteral("OWN"));
    EXPECT_EQ(own[0]->Source, source);
    EXPECT_EQ(own[0]->Operation, 1);

    const auto started = std::chrono::steady_clock::now();
    session.StopListening();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::minutes(1));
    EXPECT_FALSE(session.Listening());

    // A short interval: what another session posts arrives.
    session.StartListening(std::chrono::milliseconds(20));
    sender->Session()->PostEvent(10, 0, 0, QStringLiteral("SYS_USER"), Row1, nullptr);
    TMsgEventQueue events;
    ASSERT_TRUE(Eventually([&] {
        for (auto& e : session.TakeEvents())
            events.push_back(std::move(e));
        return !events.empty();
    })) << session.ListenerError().toStdString();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0]->TableName, QStringLiteral("SYS_USER"));
    EXPECT_EQ(events[0]->RecordID, Row1);
    EXPECT_EQ(events[0]->Source, nullptr);

    // Disconnecting stops it too.
    listener->Close();
    EXPECT_FALSE(session.Listening());
    EXPECT_EQ(session.SessionHandle(), -1);
}

// --- two processes through the server

TEST(UserSessionServer, LockHeldByAnotherProcessUntilItDies)
{
    if (TIBTestDatabase::ServerName().isEmpty())
        GTEST_SKIP() << "FB_SERVER is not set (scripts/fbserver start)";
    TIBTestDatabase::PrepareEngine();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString name = TIBTestDatabase::CreateOnServer(dir.filePath(QStringLiteral("sessions.fdb")));
    const QStringList params = TIBTestDatabase::ServerParams();

    // The other process registers, locks row 1 and waits for its end.
    QProcess holder;
    holder.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    holder.start(QStringLiteral(USERSESSION_HOLDER), {name, TIBTestDatabase::ServerPassword(), RecordIDHex(Row1)});
    ASSERT_TRUE(holder.waitForStarted());
    ASSERT_TRUE(holder.waitForReadyRead(30000));
    ASSERT_EQ(holder.readLine().trimmed(), QByteArray("locked"));

    TSDatabase db;
    db.SetDatabaseName(name);
    db.SetParams(params);
    db.Open();
    TUserSession& session = *db.Session();
    session.Register(9);
    TScriptedDialogsGuard dialogs;
    dialogs->Answers = {mrYes};
    EXPECT_TRUE(LockAborts(session, Row1, true));
    ASSERT_EQ(dialogs->Messages.size(), 2u);
    EXPECT_TRUE(dialogs->Messages[1].Text.contains(QStringLiteral("код 42")))
        << dialogs->Messages[1].Text.toStdString();
    EXPECT_NO_THROW(session.LockRecord(Row2, false));

    // Killed: the server drops its attachment and with it the lock.
    holder.kill();
    holder.waitForFinished();
    EXPECT_TRUE(Eventually([&] { return !LockAborts(session, Row1, false); }));
    db.Close();
    TIBTestDatabase::DropOnServer(name);
}

} // namespace
