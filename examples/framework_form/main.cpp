// The data-entry example of docs/framework.md: a form's data work without
// the form. Two users of one database (two connections in this process):
// the first opens the goods, filters them, edits a row under a record lock
// with audit; the second sees the lock and receives the change notice.
//   framework_form DATABASE        (a database made by scripts/sample-db)
// Prints what happens and exits 0, or prints the error and exits 1.
#include "Dialogs.h"
#include "Exceptions.h"
#include "IBDatabase.h"
#include "IBSQL.h"
#include "SDS.h"
#include "SDatabase.h"
#include "SDatabaseSession.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

namespace {

void Say(const QString& text) { std::printf("%s\n", qPrintable(text)); }

// [connect]
// A connection of the framework: a file path opens through the embedded
// engine, "host:path" (or "host/port:path") goes to a Firebird server. The
// framework's databases speak WIN1251.
std::unique_ptr<TSDatabase> Connect(const QString& name, int32_t userId)
{
    auto database = std::make_unique<TSDatabase>();
    database->SetDatabaseName(name);
    database->SetParams({QStringLiteral("user_name=SYSDBA"), QStringLiteral("lc_ctype=WIN1251")});
    database->Open();
    // After the application's login: the user's number, and a session on
    // the server for record locks, change notices and audit.
    database->SetCurrentUserID(userId);
    database->Session()->Register(userId);
    return database;
}
// [connect]

// [transaction]
// The transaction the data sets read and write in: committed reads that
// never wait on a lock.
void SetUpTransaction(TIBTransaction& transaction, TSDatabase& database)
{
    transaction.SetDefaultDatabase(&database);
    transaction.SetParams({QStringLiteral("write"), QStringLiteral("read_committed"), QStringLiteral("rec_version"),
                           QStringLiteral("nowait")});
}
// [transaction]

// [open]
// A data set on one relation: its fields, key and indexes come from the
// catalogue; opening loads the rows.
void OpenGoods(TSDS& goods, TSDatabase& database, TIBTransaction& transaction)
{
    goods.SetDatabase(&database);
    goods.SetTransaction(&transaction);
    goods.SetTableName(QStringLiteral("GOODS"));
    goods.SetOptions(goods.Options() + TSDSOptions{dsoPessimisticLock, dsoAudit, dsoSendNotification});
    goods.Open();
}
// [open]

void Run(const QString& databaseName)
{
    // The database and transaction are declared before the data set that
    // uses them, so they are destroyed after it.
    std::unique_ptr<TSDatabase> first = Connect(databaseName, 1);
    std::unique_ptr<TSDatabase> second = Connect(databaseName, 2);
    TIBTransaction transaction;
    SetUpTransaction(transaction, *first);

    // [listen]
    // The second user listens for the changes of the others; the GUI
    // thread takes what arrived, on a timer in a real form.
    second->Session()->StartListening(std::chrono::milliseconds(100));
    // [listen]

    TSDS goods;
    OpenGoods(goods, *first, transaction);
    Say(QStringLiteral("opened GOODS: %1 rows").arg(goods.RecordCount()));

    // [filter]
    // A server filter is a condition the select carries: setting it on an
    // open data set loads the rows again.
    goods.SetServerFilter(QStringLiteral("PRICE > 100"));
    Say(QStringLiteral("PRICE > 100: %1 rows").arg(goods.RecordCount()));
    goods.SetServerFilter(QString());
    // [filter]
    if (goods.RecordCount() != 10)
        throw Exception(QStringLiteral("the filter was not lifted"));

    // [edit]
    // Edit locks the record on the server (dsoPessimisticLock); Post writes
    // it, commits (dsoAutoCommit), writes the audit row in the same
    // transaction (dsoAudit), unlocks and tells the other sessions
    // (dsoSendNotification).
    if (!goods.Locate(QStringLiteral("SYS$ID"), 1))
        throw Exception(QStringLiteral("no row 1"));
    goods.Edit();
    TRecordID row{};
    const QByteArray address = goods.RowAddress();
    std::copy_n(address.begin(), std::min<qsizetype>(address.size(), row.size()), row.begin());
    // What another user is told about the record while it is being edited:
    const QString whileEditing = second->Session()->GetLockInfo(row);
    Say(QStringLiteral("while editing: %1").arg(whileEditing));
    goods.FieldByName(QStringLiteral("PRICE"))->SetAsFloat(47.90);
    goods.Post();
    // [edit]
    const QString afterPost = second->Session()->GetLockInfo(row);
    Say(QStringLiteral("after the post: %1").arg(afterPost));
    if (afterPost == whileEditing)
        throw Exception(QStringLiteral("the lock outlived the post"));

    // [notices]
    // The notice arrives with the listener's next poll.
    TMsgEventQueue notices;
    for (int attempt = 0; attempt < 50 && notices.empty(); ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        notices = second->Session()->TakeEvents();
    }
    for (const auto& notice : notices)
        Say(QStringLiteral("notice: %1 of record %2 in %3")
                .arg(notice->Operation == 0 ? QStringLiteral("change") : QString::number(notice->Operation))
                .arg(RecordIDHex(notice->RecordID), notice->TableName));
    // [notices]
    if (notices.empty())
        throw Exception(QStringLiteral("no change notice arrived"));

    // [audit]
    TIBSQL audit;
    audit.SetDatabase(first.get());
    audit.SetTransaction(&transaction);
    audit.SQL().Add(QStringLiteral("select first 1 USER_ID, MESSAGE from SYS$AUDIT order by AUDIT_ID desc"));
    audit.ExecQuery();
    Say(QStringLiteral("audit: user %1: %2")
            .arg(audit.FieldByName(QStringLiteral("USER_ID")).AsInteger())
            .arg(audit.FieldByName(QStringLiteral("MESSAGE")).AsString()));
    audit.Close();
    // [audit]

    goods.Close();
    // Disconnecting stops the listener and ends the session.
    second->Close();
    first->Close();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: framework_form DATABASE\n");
        return 2;
    }
    // Nobody is at the screen: messages go to standard error.
    SetDialogBackend(MakeHeadlessDialogs());
    try {
        Run(QString::fromLocal8Bit(argv[1]));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "framework_form: %s\n", error.what());
        return 1;
    }
    return 0;
}
