// Fetching rows from Firebird, each peer on the same embedded database with the
// same query, in one run:
//   Ours       TIBSQL with its typed getters (AsInteger, AsString, AsCurrency,
//              AsDateTime), as the framework reads rows
//   Floor      a plain OO API loop: the row buffer read in place, text decoded
//              to QString, the numeric kept as its scaled integer, the timestamp
//              turned into a TDateTime; the least work giving the same values
//   QSqlQuery  Qt's Firebird driver (QIBASE), forward only, values through
//              QVariant: what a Qt programmer would pick
// Rows: an integer key, two VARCHARs (Latin and Cyrillic), a NUMERIC(15,2) and
// a TIMESTAMP. Every connection uses lc_ctype UTF8 on a UTF8 database, so all
// peers decode the same bytes.
//
// BENCH_ROWS overrides the row count (default 500,000), for profiling.

#include "BenchFirebird.h"
#include "BenchSupport.h"
#include "IBApi.h"
#include "IBDatabase.h"
#include "IBSQL.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QVariant>
#include <benchmark/benchmark.h>
#include <firebird/Interface.h>

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace Firebird;

int RowCount()
{
    static const int rows = BenchRowCount(500'000);
    return rows;
}

const QString Query = QStringLiteral("select ID, NAME, CITY, AMOUNT, CREATED from BENCH_ROWS");

// What every peer adds up over the rows it read; equal sums show equal values.
struct TCheck
{
    int64_t Ids = 0;
    int64_t Chars = 0;
    int64_t Amount = 0; // in ten-thousandths
    double Days = 0;    // the timestamps as TDateTime
    int64_t Rows = 0;
};

// ------------------------------------------------------------------ database

const TScratchDatabase& Database()
{
    static const TScratchDatabase database([](TIBDatabase& connection) {
        ExecuteCommitted(connection, QStringLiteral("create table BENCH_ROWS (ID integer not null primary key, "
                                                    "NAME varchar(40), CITY varchar(30), AMOUNT numeric(15,2), "
                                                    "CREATED timestamp)"));
        InsertRows(connection, QStringLiteral("BENCH_ROWS"), ClientColumnValues(), RowCount());
    });
    return database;
}

// Ours and the floor must agree on every sum; QSqlQuery on all but the
// timestamps (its QDateTime is local time, not a day count).
const TCheck* Reference = nullptr;
TCheck ReferenceStore;

bool Agrees(benchmark::State& state, const TCheck& check, bool withDays)
{
    if (!Reference) {
        ReferenceStore = check;
        Reference = &ReferenceStore;
    }
    const bool same = check.Rows == RowCount() && check.Rows == Reference->Rows && check.Ids == Reference->Ids
                      && check.Chars == Reference->Chars && check.Amount == Reference->Amount
                      && (!withDays || std::fabs(check.Days - Reference->Days) < 1e-3);
    if (!same)
        state.SkipWithError("the values read differ from the other peers'");
    return same;
}

// ---------------------------------------------------------------------- Ours

void Fetch_Ours(benchmark::State& state)
{
    TIBDatabase database;
    database.SetDatabaseName(Database().Path());
    database.SetParams(ConnectParams);
    database.Open();
    TCheck check;
    for (auto _ : state) {
        check = {};
        TIBTransaction transaction;
        transaction.SetDefaultDatabase(&database);
        transaction.SetParams(ReadParams);
        transaction.StartTransaction();
        TIBSQL sql;
        sql.SetTransaction(&transaction);
        sql.SQL().SetText(Query);
        sql.ExecQuery();
        const TIBXSQLVAR& id = sql.Fields(0);
        const TIBXSQLVAR& name = sql.Fields(1);
        const TIBXSQLVAR& city = sql.Fields(2);
        const TIBXSQLVAR& amount = sql.Fields(3);
        const TIBXSQLVAR& created = sql.Fields(4);
        for (; !sql.Eof(); sql.Next()) {
            const int32_t idValue = id.AsInteger();
            const QString nameValue = name.AsString();
            const QString cityValue = city.AsString();
            const TCurrency amountValue = amount.AsCurrency();
            const TDateTime createdValue = created.AsDateTime();
            benchmark::DoNotOptimize(nameValue.constData());
            benchmark::DoNotOptimize(cityValue.constData());
            check.Ids += idValue;
            check.Chars += nameValue.size() + cityValue.size();
            check.Amount += amountValue.Scaled;
            check.Days += createdValue;
            ++check.Rows;
        }
        sql.Close();
        transaction.Commit();
    }
    if (Agrees(state, check, true))
        state.SetItemsProcessed(state.iterations() * check.Rows);
}

// --------------------------------------------------------------------- Floor

// The plain loop's own status wrapper: a failure ends the benchmark.
struct TFloorStatus : CheckStatusWrapper
{
    TFloorStatus() : CheckStatusWrapper(IBApi::Master()->getStatus()) {}
    ~TFloorStatus() { status->dispose(); }
    void Check()
    {
        if (getState() & IStatus::STATE_ERRORS) {
            char text[512];
            IBApi::Util()->formatStatus(text, sizeof text, this);
            throw std::runtime_error(text);
        }
    }
};

void Fetch_Floor(benchmark::State& state)
{
    IMaster* master = IBApi::Master();
    TFloorStatus status;
    IProvider* provider = master->getDispatcher();
    IXpbBuilder* dpb = IBApi::Util()->getXpbBuilder(&status, IXpbBuilder::DPB, nullptr, 0);
    dpb->insertString(&status, isc_dpb_user_name, "SYSDBA");
    dpb->insertString(&status, isc_dpb_lc_ctype, "UTF8");
    const QByteArray path = QFile::encodeName(Database().Path());
    IAttachment* attachment = provider->attachDatabase(&status, path.constData(), dpb->getBufferLength(&status),
                                                       dpb->getBuffer(&status));
    status.Check();
    dpb->dispose();

    const unsigned char tpb[] = {isc_tpb_version3, isc_tpb_read, isc_tpb_read_committed, isc_tpb_rec_version,
                                 isc_tpb_nowait};
    const QByteArray query = Query.toUtf8();
    TCheck check;
    for (auto _ : state) {
        check = {};
        ITransaction* transaction = attachment->startTransaction(&status, sizeof tpb, tpb);
        status.Check();
        IStatement* statement = attachment->prepare(&status, transaction, 0, query.constData(), 3,
                                                    IStatement::PREPARE_PREFETCH_METADATA);
        status.Check();
        IMessageMetadata* meta = statement->getOutputMetadata(&status);
        unsigned offset[5], nullOffset[5];
        for (unsigned i = 0; i < 5; ++i) {
            offset[i] = meta->getOffset(&status, i);
            nullOffset[i] = meta->getNullOffset(&status, i);
        }
        const int amountScale = meta->getScale(&status, 3);
        std::vector<unsigned char> row(meta->getMessageLength(&status));
        IResultSet* cursor = statement->openCursor(&status, transaction, nullptr, nullptr, meta, 0);
        status.Check();
        // ten-thousandths per unit of the column's scale
        int64_t toCurrency = 10000;
        for (int s = amountScale; s < 0; ++s)
            toCurrency /= 10;
        const unsigned char* data = row.data();
        auto isNull = [&](unsigned i) {
            int16_t flag;
            std::memcpy(&flag, data + nullOffset[i], sizeof flag);
            return flag != 0;
        };
        auto text = [&](unsigned i) {
            if (isNull(i))
                return QString();
            uint16_t length;
            std::memcpy(&length, data + offset[i], sizeof length);
            return QString::fromUtf8(reinterpret_cast<const char*>(data + offset[i] + 2), length);
        };
        while (cursor->fetchNext(&status, row.data()) == IStatus::RESULT_OK) {
            int32_t idValue = 0;
            int64_t amountValue = 0;
            TDateTime createdValue = 0;
            if (!isNull(0))
                std::memcpy(&idValue, data + offset[0], sizeof idValue);
            const QString nameValue = text(1);
            const QString cityValue = text(2);
            if (!isNull(3))
                std::memcpy(&amountValue, data + offset[3], sizeof amountValue);
            if (!isNull(4)) {
                int32_t date;
                uint32_t time;
                std::memcpy(&date, data + offset[4], sizeof date);
                std::memcpy(&time, data + offset[4] + 4, sizeof time);
                const double days = date - 15018; // ISC days start on 17 November 1858
                const double fraction = (time / 10) / 86400000.0;
                createdValue = days >= 0 ? days + fraction : days - fraction;
            }
            benchmark::DoNotOptimize(nameValue.constData());
            benchmark::DoNotOptimize(cityValue.constData());
            check.Ids += idValue;
            check.Chars += nameValue.size() + cityValue.size();
            check.Amount += amountValue * toCurrency;
            check.Days += createdValue;
            ++check.Rows;
        }
        status.Check();
        cursor->close(&status);
        status.Check();
        meta->release();
        statement->free(&status);
        status.Check();
        transaction->commit(&status);
        status.Check();
    }
    attachment->detach(&status);
    status.Check();
    provider->release();
    if (Agrees(state, check, true))
        state.SetItemsProcessed(state.iterations() * check.Rows);
}

// ----------------------------------------------------------------- QSqlQuery

void Fetch_QSqlQuery(benchmark::State& state)
{
    TCheck check;
    const QString connection = QStringLiteral("bench");
    {
        QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QIBASE"), connection);
        database.setDatabaseName(Database().Path());
        database.setUserName(QStringLiteral("SYSDBA"));
        database.setConnectOptions(QStringLiteral("ISC_DPB_LC_CTYPE=UTF8"));
        if (!database.open()) {
            state.SkipWithError(qPrintable(QStringLiteral("QIBASE: ") + database.lastError().text()));
            return;
        }
        for (auto _ : state) {
            check = {};
            database.transaction();
            QSqlQuery query(database);
            query.setForwardOnly(true);
            if (!query.exec(Query)) {
                state.SkipWithError(qPrintable(query.lastError().text()));
                break;
            }
            while (query.next()) {
                const int idValue = query.value(0).toInt();
                const QString nameValue = query.value(1).toString();
                const QString cityValue = query.value(2).toString();
                const double amountValue = query.value(3).toDouble();
                const QDateTime createdValue = query.value(4).toDateTime();
                benchmark::DoNotOptimize(nameValue.constData());
                benchmark::DoNotOptimize(cityValue.constData());
                benchmark::DoNotOptimize(createdValue);
                check.Ids += idValue;
                check.Chars += nameValue.size() + cityValue.size();
                check.Amount += std::llround(amountValue * 10000);
                ++check.Rows;
            }
            query.finish();
            database.commit();
        }
        database.close();
    }
    QSqlDatabase::removeDatabase(connection);
    if (!state.error_occurred() && Agrees(state, check, false))
        state.SetItemsProcessed(state.iterations() * check.Rows);
}

} // namespace

// goal: Fetch/Ours <= 1.25x Fetch/Floor
// goal: Fetch/Ours <= 0.5x Fetch/QSqlQuery
BENCHMARK(Fetch_Ours)->Name("Fetch/Ours")->Apply(EveryRowOnce);
BENCHMARK(Fetch_Floor)->Name("Fetch/Floor")->Apply(EveryRowOnce);
BENCHMARK(Fetch_QSqlQuery)->Name("Fetch/QSqlQuery")->Apply(EveryRowOnce);

int main(int argc, char** argv)
{
    return RunDatabaseBenchmarks(argc, argv, "bench_ibsql", [] { Database(); });
}
