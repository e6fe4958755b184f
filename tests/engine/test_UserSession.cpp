// The user session against the session functions of framework.sql, on the
// embedded engine (which loads them from build/fbroot); a lock held by another
// process through the server (FB_SERVER; skipped when unset), and two
// programs with the embedded engine on one file.
#include "SDatabaseSession.h"

#include "Dialogs.h"
#include "Exceptions.h"
#include "IBSQL.h"
#include "IBTestDatabase.h"
#include "SDatabase.h"
#include "SessionProtocol.h"
#include "SessionRegistry.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <chrono>
#include <functional>
#include <memory>

namespace {

const TRecordID Row1{1, 0, 0, 0, 0, 0, 0, 0};
const TRecordID Row2{2, 1, 0, 0, 0, 0, 0, 0};

// What an ordinary user needs to connect through TSDatabase; the session
// functions are granted to everyone by framework.sql.
const QString ReadGrants = QStringLiteral("grant select on SYS_USER to public;\n"
                                          "grant select on SYS$LIST_KIND to public;\n");

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

// Waits until the session's listener has taken events in; appends them to
// events and answers whether any arrived.
bool EventsArrive(TUserSession& session, TMsgEventQueue& events)
{
    return Eventually([&] {
        for (auto& e : session.TakeEvents())
            events.push_back(std::move(e));
        return !events.empty();
    });
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

    // The same, logged in as another database user (the embedded engine
    // takes any name).
    std::unique_ptr<TSDatabase> RegisteredAs(const QString& user, int32_t userId) const
    {
        auto db = std::make_unique<TSDatabase>();
        db->SetDatabaseName(FTestDb.Path());
        db->SetParams({QStringLiteral("user_name=") + user, QStringLiteral("lc_ctype=WIN1251")});
        db->Open();
        db->Session()->Register(userId);
        return db;
    }

    // Starts listening at once and stops again: what the session reads
    // later comes from the first poll of the next StartListening.
    static void Listen(TUserSession& session)
    {
        session.StartListening(std::chrono::minutes(10));
        session.StopListening();
    }

    // The events a first poll drains: StartListening runs it before it returns.
    static TMsgEventQueue Drain(TUserSession& session)
    {
        Listen(session);
        return session.TakeEvents();
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
    // The session by its public number, never by the handle that reaches it.
    EXPECT_TRUE(info.contains(QStringLiteral("сессия 1)"))) << info.toStdString();
    EXPECT_FALSE(info.contains(QString::number(holder.SessionHandle()))) << info.toStdString();
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
        // A holder found alive is believed for a quarter of a second.
        EXPECT_TRUE(Eventually([&] { return !LockAborts(*other->Session(), Row1, false); }, std::chrono::seconds(2)));
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
    // One statement, prepared once: the values travel as parameters.
    EXPECT_TRUE(session.PostEventStatement().Prepared());
    EXPECT_EQ(session.PostEventStatement().SQL().Text(), QString::fromLatin1(TUserSession::PostEventText));
    EXPECT_TRUE(session.PostEvent(10, 3, 2, QStringLiteral("O'Brien;s"), Row2, nullptr));
    EXPECT_FALSE(session.PostEventStatement().Open());
    EXPECT_EQ(poll(*silent), QString()); // it never asked before: it collected nothing
    // The sender by its session's public number, the first of the database.
    const QString expected = QStringLiteral("1;0;10;0;0100000000000000;SYS_USER\n")
                             + QStringLiteral("1;3;10;2;0201000000000000;O'Brien;s\n");
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
    ASSERT_TRUE(EventsArrive(session, events)) << session.ListenerError().toStdString();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0]->TableName, QStringLiteral("SYS_USER"));
    EXPECT_EQ(events[0]->RecordID, Row1);
    EXPECT_EQ(events[0]->Source, nullptr);

    // Disconnecting stops it too.
    listener->Close();
    EXPECT_FALSE(session.Listening());
    EXPECT_EQ(session.SessionHandle(), -1);
}

// A listener connected in UTF8 reads what a WIN1251 client posted, its
// Cyrillic table name intact.
TEST_F(UserSessionTest, AListenerConnectedInUtf8ReceivesEvents)
{
    auto sender = Registered(5);
    auto listener = std::make_unique<TSDatabase>();
    listener->SetDatabaseName(FTestDb.Path());
    listener->SetParams({QStringLiteral("user_name=SYSDBA"), QStringLiteral("lc_ctype=UTF8")});
    listener->Open();
    listener->Session()->Register(6);
    TUserSession& session = *listener->Session();
    session.StartListening(std::chrono::milliseconds(20));
    ASSERT_TRUE(session.Listening()) << session.ListenerError().toStdString();
    sender->Session()->PostEvent(10, 0, 1, QStringLiteral("ТОВАРЫ"), Row1, nullptr);
    TMsgEventQueue events;
    ASSERT_TRUE(EventsArrive(session, events)) << session.ListenerError().toStdString();
    EXPECT_EQ(events[0]->TableName, QStringLiteral("ТОВАРЫ"));
    EXPECT_EQ(events[0]->RecordID, Row1);
}

// Each call hands over what its declared result holds, and what it takes
// off the queue arrives: no call fails, nothing is lost.
TEST_F(UserSessionTest, EveryQueuedEventArrivesThroughCallsThatFitTheirResult)
{
    auto sender = Registered(5);
    auto reader = Registered(6);
    const auto call = [&] {
        return TIBTestDatabase::Rows(*reader, QStringLiteral("select cast(F_GetEvents(%1) as varchar(32000)) from "
                                                             "rdb$database")
                                                  .arg(reader->Session()->SessionHandle()))
            .value(0);
    };
    call();                 // now it listens
    const int posted = 300; // ~11,000 characters of lines
    for (int i = 0; i < posted; ++i)
        ASSERT_TRUE(sender->Session()->PostEvent(10, i, 0, QStringLiteral("ТОВАРЫ_%1").arg(i), Row1, nullptr));

    QStringList lines;
    int calls = 0;
    for (; calls < 100; ++calls) {
        QString text;
        try {
            text = call();
        } catch (const std::exception& e) {
            ADD_FAILURE() << "call " << calls << ": " << e.what();
            continue;
        }
        if (text.isEmpty())
            break;
        EXPECT_LE(text.size(), 8000);
        lines += text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    EXPECT_GT(calls, 1) << "more than one result's worth";
    ASSERT_EQ(lines.size(), posted);
    for (int i = 0; i < posted; ++i)
        EXPECT_EQ(lines[i], QStringLiteral("1;%1;10;0;0100000000000000;ТОВАРЫ_%1").arg(i));
}

// One poll takes everything queued, however many results' worth.
TEST_F(UserSessionTest, APollDrainsTheQueue)
{
    auto sender = Registered(5);
    auto reader = Registered(6);
    TUserSession& session = *reader->Session();
    Listen(session);
    const int posted = 3000;
    for (int i = 0; i < posted; ++i)
        sender->Session()->PostEvent(10, 0, i % 3, QStringLiteral("GOODS_%1").arg(i), Row2, nullptr);

    const TMsgEventQueue events = Drain(session);
    ASSERT_EQ(static_cast<int>(events.size()), posted);
    for (int i = 0; i < posted; ++i) {
        EXPECT_EQ(events[i]->TableName, QStringLiteral("GOODS_%1").arg(i));
        EXPECT_EQ(events[i]->Operation, i % 3);
    }
    EXPECT_TRUE(Drain(session).empty());
}

// A reader too far behind gets one event that says it missed changes, then
// the newest ones.
TEST_F(UserSessionTest, AReaderThatFellBehindIsToldItMissedEvents)
{
    auto sender = Registered(5);
    auto reader = Registered(6);
    Listen(*reader->Session());
    const int extra = 7;
    // Posted by the server itself, in one statement: quicker than one call each.
    TIBTestDatabase::ExecuteOn(*sender, QStringLiteral("execute block as declare i integer = 0; declare r integer; "
                                                       "begin while (i < %1) do begin "
                                                       "r = F_PostEvent(%2, 0, 10, 0, 'T' || i, '0100000000000000'); "
                                                       "i = i + 1; end end")
                                            .arg(UserSessions::MaxQueue + extra)
                                            .arg(sender->Session()->SessionHandle()));

    const TMsgEventQueue events = Drain(*reader->Session());
    ASSERT_EQ(events.size(), 1u + extra);
    EXPECT_EQ(events[0]->Kind, SessionProtocol::EventsLostKind);
    EXPECT_TRUE(events[0]->TableName.isEmpty());
    EXPECT_EQ(events[0]->RecordID, TRecordID{});
    EXPECT_EQ(events[1]->Kind, SessionProtocol::RecordChangeKind);
    EXPECT_EQ(events[1]->TableName, QStringLiteral("T%1").arg(UserSessions::MaxQueue));
    EXPECT_EQ(events.back()->TableName, QStringLiteral("T%1").arg(UserSessions::MaxQueue + extra - 1));
}

// A handle reaches its session only from an attachment of the database user
// that registered it: another user who knows it gets nowhere, her own
// listener keeps working.
TEST_F(UserSessionTest, ASessionAnswersOnlyItsOwnersAttachments)
{
    FTestDb.ExecuteScript(ReadGrants);
    auto anna = RegisteredAs(QStringLiteral("ANNA"), 7);
    auto boris = RegisteredAs(QStringLiteral("BORIS"), 8);
    TUserSession& hers = *anna->Session();
    ASSERT_GT(hers.SessionHandle(), 0);
    ASSERT_GT(boris->Session()->SessionHandle(), 0);
    hers.LockRecord(Row1, false);
    hers.StartListening(std::chrono::milliseconds(20)); // an attachment of her own, as ANNA

    const QString handle = QString::number(hers.SessionHandle());
    const auto asBoris = [&](const QString& call) {
        return TIBTestDatabase::Rows(*boris, QStringLiteral("select ") + call + QStringLiteral(" from rdb$database"))
            .value(0);
    };
    const struct
    {
        QString Call;
        const char* Answer;
    } calls[] = {
        {QStringLiteral("F_UNLOCKRECORD(%1, x'0100000000000000')"), "0"},
        {QStringLiteral("f_LockRecord(%1, x'0200000000000000')"), "-400"},
        {QStringLiteral("F_PostEvent(%1, 0, 10, 0, 'FORGED', '0100000000000000')"), "-400"},
        {QStringLiteral("F_GetEvents(%1)"), ""},
        {QStringLiteral("f_UnregisterUserSession(%1)"), "-400"},
    };
    for (const auto& c : calls)
        EXPECT_EQ(asBoris(c.Call.arg(handle)), QLatin1String(c.Answer)) << c.Call.toStdString();
    EXPECT_TRUE(LockAborts(*boris->Session(), Row1, false)) << "her lock stays";

    // Boris's own events reach her listener, nothing forged in her name.
    boris->Session()->PostEvent(10, 0, 0, QStringLiteral("GOODS"), Row2, nullptr);
    TMsgEventQueue events;
    ASSERT_TRUE(EventsArrive(hers, events)) << hers.ListenerError().toStdString();
    QThread::msleep(100);
    for (auto& e : hers.TakeEvents())
        events.push_back(std::move(e));
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0]->TableName, QStringLiteral("GOODS"));
    EXPECT_TRUE(hers.ListenerError().isEmpty());

    // Her session is whole.
    hers.UnlockRecord(Row1);
    EXPECT_FALSE(LockAborts(*boris->Session(), Row1, false));
}

// --- two processes through the server

// Two ordinary users, who see none of each other's attachments in
// MON$ATTACHMENTS: the lock of one that is killed still goes, at once.
TEST(UserSessionServer, ADeadHoldersLocksGoWhateverTheUsers)
{
    if (TIBTestDatabase::ServerName().isEmpty())
        GTEST_SKIP() << "FB_SERVER is not set (scripts/fbserver start)";
    TIBTestDatabase::PrepareEngine();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString name = TIBTestDatabase::CreateOnServer(
        dir.filePath(QStringLiteral("sessions.fdb")),
        QStringLiteral("create or alter user SESSION_ANNA password 'anna' using plugin Srp;\n"
                       "create or alter user SESSION_BORIS password 'boris' using plugin Srp;\n")
            + ReadGrants);

    // The other process registers as SESSION_ANNA, locks row 1 and waits for its end.
    QProcess holder;
    holder.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    holder.start(QStringLiteral(USERSESSION_HOLDER),
                 {name, QStringLiteral("anna"), RecordIDHex(Row1), QStringLiteral("SESSION_ANNA")});
    ASSERT_TRUE(holder.waitForStarted());
    ASSERT_TRUE(holder.waitForReadyRead(30000));
    ASSERT_EQ(holder.readLine().trimmed(), QByteArray("locked"));

    TSDatabase db;
    db.SetDatabaseName(name);
    db.SetParams({QStringLiteral("user_name=SESSION_BORIS"), QStringLiteral("password=boris"),
                  QStringLiteral("lc_ctype=WIN1251")});
    db.Open();
    EXPECT_EQ(TIBTestDatabase::Rows(db, QStringLiteral("select count(*) from mon$attachments where mon$user <> "
                                                       "current_user and mon$system_flag = 0")),
              QStringList({QStringLiteral("0")}))
        << "an ordinary user sees only his own attachments";
    TUserSession& session = *db.Session();
    session.Register(9);
    TScriptedDialogsGuard dialogs;
    dialogs->Answers = {mrYes};
    EXPECT_TRUE(LockAborts(session, Row1, true));
    ASSERT_EQ(dialogs->Messages.size(), 2u);
    EXPECT_TRUE(dialogs->Messages[1].Text.contains(QStringLiteral("SESSION_ANNA (код 42")))
        << dialogs->Messages[1].Text.toStdString();
    EXPECT_NO_THROW(session.LockRecord(Row2, false));

    // Killed: the server closes its attachment, and its sessions go with it.
    holder.kill();
    holder.waitForFinished();
    EXPECT_TRUE(Eventually([&] { return !LockAborts(session, Row1, false); }, std::chrono::seconds(10)));
    db.Close();
    TIBTestDatabase::DropOnServer(name);
}

// Two programs with the embedded engine on one file (the engine in a shared
// mode): sessions of one process cannot see the other's, so the second is
// told so as it registers, and may once the first has gone.
TEST(UserSessionProcesses, OnlyOneProcessKeepsTheSessionsOfAFile)
{
    TIBTestDatabase testDb;
    testDb.CreateFrameworkSchema();
    testDb.Database().Close(); // the programs open it, not this one
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    {
        QFile conf(root.filePath(QStringLiteral("firebird.conf")));
        ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
        conf.write("ServerMode = Classic\n");
    }
    ASSERT_EQ(QProcess::execute(QStringLiteral(MAKE_ROOT), {root.path(), QStringLiteral(UDR_DIR)}), 0);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("FIREBIRD"), root.path());
    environment.insert(QStringLiteral("FIREBIRD_LOCK"), root.filePath(QStringLiteral("lock")));
    const auto start = [&](QProcess& program) {
        program.setProcessEnvironment(environment);
        program.start(QStringLiteral(USERSESSION_HOLDER), {testDb.Path(), QString(), RecordIDHex(Row1)});
        return program.waitForStarted();
    };

    QProcess first;
    ASSERT_TRUE(start(first));
    ASSERT_TRUE(first.waitForReadyRead(30000)) << first.readAllStandardError().toStdString();
    ASSERT_EQ(first.readLine().trimmed(), QByteArray("locked"));

    QProcess second;
    ASSERT_TRUE(start(second));
    ASSERT_TRUE(second.waitForFinished(30000));
    const QString error = QString::fromUtf8(second.readAllStandardError());
    EXPECT_EQ(second.readAllStandardOutput(), QByteArray()) << "it never locked";
    EXPECT_EQ(second.exitCode(), 1);
    EXPECT_TRUE(error.contains(QStringLiteral("kept by another process (pid %1)").arg(first.processId())))
        << error.toStdString();
    EXPECT_TRUE(error.contains(QStringLiteral("SuperServer"))) << error.toStdString();

    first.closeWriteChannel(); // it unlocks, disconnects and ends
    ASSERT_TRUE(first.waitForFinished(30000));
    EXPECT_EQ(first.exitCode(), 0) << first.readAllStandardError().toStdString();
    QProcess third;
    ASSERT_TRUE(start(third));
    ASSERT_TRUE(third.waitForReadyRead(30000)) << third.readAllStandardError().toStdString();
    EXPECT_EQ(third.readLine().trimmed(), QByteArray("locked"));
    third.closeWriteChannel();
    EXPECT_TRUE(third.waitForFinished(30000));
}

} // namespace
