// The programs as a script or a service manager meets them: sdsbrowse and
// certsetup without a screen (the offscreen platform) report every error on
// standard error with exit code 1 instead of waiting on an invisible box;
// SIGTERM and SIGINT close their windows and end them; certsetup --help
// prints its usage; the sample database takes new rows.
#include "EmployeeDatabase.h"
#include "IBTestDatabase.h"
#include "SDS.h"
#include "SDatabase.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>

namespace {

struct TRun
{
    bool Finished = false;
    int ExitCode = -1;
    QString Err;
    QString Out;
};

QProcessEnvironment Headless()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return environment;
}

// Runs a program to its end (at most 30 s: a hang fails the test, it does not stall it).
TRun RunProgram(const QString& program, const QStringList& arguments,
                const QProcessEnvironment& environment = Headless())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    TRun run;
    run.Finished = process.waitForStarted() && process.waitForFinished(30000);
    if (!run.Finished) {
        process.kill();
        process.waitForFinished();
    }
    run.ExitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.Err = QString::fromUtf8(process.readAllStandardError());
    run.Out = QString::fromUtf8(process.readAllStandardOutput());
    return run;
}

// A database with the framework's tables and a small table of goods.
QString GoodsDatabase(TIBTestDatabase& testDb)
{
    testDb.CreateFrameworkSchema();
    testDb.ExecuteScript(QStringLiteral("CREATE TABLE GOODS (SYS$ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(40));\n"
                                        "INSERT INTO GOODS VALUES (1, 'a');\n"));
    testDb.Database().Close(); // the program opens it alone
    return testDb.Path();
}

TEST(BrowseProgram, WithoutAScreenEveryErrorGoesToStandardErrorWithExitCodeOne)
{
    TIBTestDatabase testDb;
    const QString goods = GoodsDatabase(testDb);
    QTemporaryDir dir;
    const QString notADatabase = dir.filePath(QStringLiteral("text.fdb"));
    QFile text(notADatabase);
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write(QByteArray(8192, 'x'));
    text.close();
    const QString picture = dir.filePath(QStringLiteral("shot.png"));

    const struct
    {
        const char* Name;
        QStringList Arguments;
        const char* Expected; // a part of what standard error says
    } cases[] = {
        {"missing file", {dir.filePath(QStringLiteral("none.fdb"))}, "No such file"},
        {"not a database", {notADatabase}, "is not a valid database"},
        {"unknown table", {goods, QStringLiteral("NO_SUCH")}, "NO_SUCH"},
        {"unknown table, screenshot", {goods, QStringLiteral("NO_SUCH"), "--screenshot", picture}, "NO_SUCH"},
        {"no server", {QStringLiteral("127.0.0.1/1:") + goods}, "127.0.0.1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const TRun run = RunProgram(QStringLiteral(SDSBROWSE), c.Arguments);
        ASSERT_TRUE(run.Finished) << "hangs";
        EXPECT_EQ(run.ExitCode, 1);
        EXPECT_TRUE(run.Err.contains(QString::fromUtf8(c.Expected))) << run.Err.toStdString();
    }
    EXPECT_FALSE(QFile::exists(picture));

    // The same program with a good table saves its picture and succeeds.
    const TRun good = RunProgram(QStringLiteral(SDSBROWSE), {goods, QStringLiteral("goods"), "--screenshot", picture});
    EXPECT_EQ(good.ExitCode, 0) << good.Err.toStdString();
    EXPECT_TRUE(QFile::exists(picture));
}

// The program runs until a signal ends it, as a user's close would.
TEST(BrowseProgram, TerminationSignalsCloseTheWindowAndEndTheProgram)
{
    TIBTestDatabase testDb;
    const QString goods = GoodsDatabase(testDb);
    const struct
    {
        const char* Program;
        QStringList Arguments;
    } programs[] = {{SDSBROWSE, {goods, QStringLiteral("GOODS")}}, {CERTSETUP, {}}};
    QTemporaryDir store;
    QProcessEnvironment environment = Headless();
    environment.insert(QStringLiteral("VCERT_STORE_DIR"), store.path());
    for (const auto& p : programs) {
        for (const int signal : {SIGTERM, SIGINT}) {
            SCOPED_TRACE(std::string(p.Program) + " " + std::to_string(signal));
            QProcess process;
            process.setProcessEnvironment(environment);
            process.start(QString::fromUtf8(p.Program), p.Arguments);
            ASSERT_TRUE(process.waitForStarted());
            // Long enough to be connected and showing its window.
            EXPECT_FALSE(process.waitForFinished(2500)) << process.readAllStandardError().toStdString();
            ::kill(static_cast<pid_t>(process.processId()), signal);
            const bool ended = process.waitForFinished(15000);
            if (!ended)
                process.kill();
            ASSERT_TRUE(ended) << "the signal was swallowed";
            EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
            EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
        }
    }
    // Nothing was left behind on the database: it opens again at once.
    TSDatabase database;
    database.SetDatabaseName(goods);
    database.SetParams(testDb.ConnectParams());
    EXPECT_NO_THROW(database.Open());
}

TEST(CertsetupProgram, HelpPrintsTheUsageAndImportsNothing)
{
    QTemporaryDir store;
    QProcessEnvironment environment = Headless();
    environment.insert(QStringLiteral("VCERT_STORE_DIR"), store.path());
    const TRun run = RunProgram(QStringLiteral(CERTSETUP), {QStringLiteral("--help")}, environment);
    ASSERT_TRUE(run.Finished) << "ran the setup instead";
    EXPECT_EQ(run.ExitCode, 0);
    EXPECT_TRUE(run.Out.contains(QStringLiteral("Usage:"))) << run.Out.toStdString();
    EXPECT_FALSE(QFile::exists(store.filePath(QStringLiteral("My"))));
}

TEST(CertsetupProgram, AStoreThatCannotBeMadeIsNamedOnStandardError)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("file"));
    QFile plain(file);
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    QProcessEnvironment environment = Headless();
    environment.insert(QStringLiteral("VCERT_STORE_DIR"), file); // a file where the folder should be
    const TRun run = RunProgram(QStringLiteral(CERTSETUP), {}, environment);
    ASSERT_TRUE(run.Finished);
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_TRUE(run.Err.contains(file + QStringLiteral("/My"))) << run.Err.toStdString();
}

// The README's sample: a new row takes its key from MAIN_GEN, past the rows.
TEST(SampleDatabase, TakesNewRows)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("sample.fdb"));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("FIREBIRD")); // the script's own root folder
    const TRun made = RunProgram(QStringLiteral(SAMPLE_DB), {path}, environment);
    ASSERT_EQ(made.ExitCode, 0) << made.Err.toStdString();

    TIBTestDatabase::PrepareEngine();
    TSDatabase database;
    database.SetDatabaseName(path);
    database.SetParams({QStringLiteral("user_name=SYSDBA"), QStringLiteral("lc_ctype=UTF8")});
    database.Open();
    TIBTransaction read;
    TIBTransaction write;
    read.SetDefaultDatabase(&database);
    write.SetDefaultDatabase(&database);
    write.SetParams({QStringLiteral("write"), QStringLiteral("read_committed"), QStringLiteral("rec_version"),
                     QStringLiteral("nowait")});
    for (int row = 0; row < 2; ++row) {
        TSDS goods;
        goods.SetDatabase(&database);
        goods.SetTransaction(&read);
        goods.SetWriteTransaction(&write);
        goods.SetTableName(QStringLiteral("GOODS"));
        goods.Open();
        goods.Append();
        goods.FieldByName(QStringLiteral("NAME"))->SetAsString(QStringLiteral("Новый товар"));
        ASSERT_NO_THROW(goods.Post());
        EXPECT_EQ(goods.FieldByName(QStringLiteral("SYS$ID"))->AsInteger(), 11 + row);
    }
}

} // namespace
