// One client of the session load test (test_SessionLoad): edits random rows of
// ITEM through a data set with pessimistic locks, audit, notices and a re-read
// before each edit, and listens to the other sessions' notices.
//   session_load_client DATABASE PASSWORD LOG SEED SECONDS ROLE
// It prints "ready" once connected, registered, listening and loaded, and
// waits for "go" on its standard input; then edits for SECONDS and prints
// "done". On "finish" it takes the notices still coming for three seconds,
// writes them to the log and ends.
// Every committed post is appended to LOG ("C <id> <delta> <record hex>")
// and synced before the next: what the log holds is on the server. The
// notices received from the server go to LOG at the end ("E <record hex>
// <count>"), the client's own ones not among them.
// ROLE "normal", or "hold": after a second, locks a row for an edit and prints
// "holding <id>"; "uncommitted": after two seconds, posts a change without
// committing it and prints "uncommitted <id>". Both then wait to be killed.
#include "Dialogs.h"
#include "Exceptions.h"
#include "IBDatabase.h"
#include "SDS.h"
#include "SDatabase.h"
#include "SDatabaseSession.h"

#include <QCoreApplication>
#include <QFile>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// A locked row is not this client's to see: the question is answered no.
class TAnswerNo : public TDialogBackend
{
public:
    TModalResult ShowMessageBox(const TMessageRequest&) override { return mrNo; }
    bool InputQuery(const QString&, const QString&, QString&) override { return false; }
    void Beep() override {}
};

// The log of committed posts: appended and synced line by line.
class TSyncedLog
{
public:
    explicit TSyncedLog(const QString& path) : FFile(path)
    {
        if (!FFile.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
            throw std::runtime_error("cannot write the log");
    }
    void Write(const QString& line)
    {
        const QByteArray bytes = (line + QLatin1Char('\n')).toUtf8();
        if (FFile.write(bytes) != bytes.size() || ::fsync(FFile.handle()) != 0)
            throw std::runtime_error("cannot write the log");
    }

private:
    QFile FFile;
};

void WaitForLine(const std::string& expected)
{
    std::string line;
    while (std::getline(std::cin, line))
        if (line == expected)
            return;
    std::exit(3); // the test is gone
}

[[noreturn]] void WaitToBeKilled()
{
    for (;;)
        std::this_thread::sleep_for(std::chrono::seconds(1));
}

class TClient
{
public:
    TClient(const QString& database, const QString& password, const QString& log, unsigned seed)
        : FLog(log), FRandom(seed)
    {
        FDb.SetDatabaseName(database);
        FDb.SetParams({QStringLiteral("user_name=SYSDBA"), QStringLiteral("password=") + password,
                       QStringLiteral("lc_ctype=WIN1251")});
        FDb.Open();
        FTransaction.SetDefaultDatabase(&FDb);
        FTransaction.SetParams({QStringLiteral("write"), QStringLiteral("read_committed"),
                                QStringLiteral("rec_version"), QStringLiteral("nowait")});
        FDb.Session()->Register(static_cast<int32_t>(seed));
        FDb.Session()->StartListening(); // polls as an office client does, once a second
        FItems.SetDatabase(&FDb);
        FItems.SetTransaction(&FTransaction);
        FItems.SetTableName(QStringLiteral("ITEM"));
        FItems.SetOptions(FItems.Options()
                          + TSDSOptions{dsoPessimisticLock, dsoAudit, dsoSendNotification, dsoRefreshBeforeEdit});
        FItems.Open();
        FRowCount = FItems.RecordCount();
    }

    // Edits random rows until the time is up.
    void Run(Clock::duration length, const QString& role)
    {
        const auto start = Clock::now();
        while (Clock::now() - start < length) {
            if (role == QLatin1String("hold") && Clock::now() - start > std::chrono::seconds(1))
                HoldALock();
            if (role == QLatin1String("uncommitted") && Clock::now() - start > std::chrono::seconds(2))
                PostWithoutCommit();
            EditOnce();
            TakeEvents();
        }
    }

    void Finish()
    {
        const auto end = Clock::now() + std::chrono::seconds(3);
        while (Clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            TakeEvents();
        }
        FDb.Session()->StopListening();
        TakeEvents();
        for (const auto& [hex, count] : FReceived)
            FLog.Write(QStringLiteral("E %1 %2").arg(hex).arg(count));
        if (!FDb.Session()->ListenerError().isEmpty())
            FLog.Write(QStringLiteral("L ") + FDb.Session()->ListenerError());
        FLog.Write(QStringLiteral("S %1 %2").arg(FConflicts).arg(FFailures));
        FItems.Close();
        FDb.Close();
    }

private:
    // The row chosen at random; false when another user holds its lock.
    bool EditRandomRow()
    {
        const int id = std::uniform_int_distribution<int>(1, FRowCount)(FRandom);
        if (!FItems.Locate(QStringLiteral("SYS$ID"), id))
            throw std::runtime_error("a row is missing");
        try {
            FItems.Edit();
        } catch (const EAbort&) {
            ++FConflicts;
            return false;
        }
        return true;
    }

    int AddDelta()
    {
        const int delta = std::uniform_int_distribution<int>(1, 9)(FRandom);
        TField* value = FItems.FieldByName(QStringLiteral("VAL"));
        value->SetAsInteger(value->AsInteger() + delta);
        return delta;
    }

    QString CurrentRecord() const
    {
        TRecordID id{};
        const QByteArray address = FItems.RowAddress();
        std::copy_n(address.begin(), std::min<qsizetype>(address.size(), id.size()), id.begin());
        return RecordIDHex(id);
    }

    void EditOnce()
    {
        if (!EditRandomRow())
            return;
        const int delta = AddDelta();
        try {
            FItems.Post();
        } catch (const std::exception&) {
            // Not on the server (a write conflict with a change not yet
            // rolled back): the edit is given up.
            ++FFailures;
            FItems.Cancel();
            return;
        }
        FLog.Write(QStringLiteral("C %1 %2 %3")
                       .arg(FItems.FieldByName(QStringLiteral("SYS$ID"))->AsInteger())
                       .arg(delta)
                       .arg(CurrentRecord()));
    }

    [[noreturn]] void HoldALock()
    {
        while (!EditRandomRow())
            TakeEvents();
        std::cout << "holding " << FItems.FieldByName(QStringLiteral("SYS$ID"))->AsInteger() << std::endl;
        WaitToBeKilled();
    }

    [[noreturn]] void PostWithoutCommit()
    {
        FItems.SetOptions(FItems.Options() - TSDSOptions{dsoAutoCommit, dsoSendNotification});
        for (;;) {
            if (!EditRandomRow())
                continue;
            AddDelta();
            try {
                FItems.Post();
                break;
            } catch (const std::exception&) {
                FItems.Cancel();
            }
        }
        std::cout << "uncommitted " << FItems.FieldByName(QStringLiteral("SYS$ID"))->AsInteger() << std::endl;
        WaitToBeKilled();
    }

    void TakeEvents()
    {
        for (const auto& event : FDb.Session()->TakeEvents())
            if (!event->Source) // this client's own notices are queued with their data set
                ++FReceived[RecordIDHex(event->RecordID)];
    }

    TSDatabase FDb;
    TIBTransaction FTransaction;
    TSDS FItems;
    TSyncedLog FLog;
    std::mt19937 FRandom;
    int FRowCount = 0;
    int FConflicts = 0;
    int FFailures = 0;
    std::map<QString, int> FReceived;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 7) {
        std::cerr << "usage: session_load_client DATABASE PASSWORD LOG SEED SECONDS ROLE\n";
        return 2;
    }
    SetDialogBackend(std::make_unique<TAnswerNo>());
    try {
        TClient client(QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]),
                       QString::fromLocal8Bit(argv[3]), static_cast<unsigned>(std::stoul(argv[4])));
        std::cout << "ready" << std::endl;
        WaitForLine("go");
        client.Run(std::chrono::seconds(std::stoi(argv[5])), QString::fromLocal8Bit(argv[6]));
        std::cout << "done" << std::endl;
        WaitForLine("finish");
        client.Finish();
        std::cout << "bye" << std::endl;
    } catch (const std::exception& e) {
        std::cerr << "session_load_client: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
