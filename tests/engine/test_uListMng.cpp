// The list kinds of a database, read on connect from SYS$LIST_KIND and
// emptied on disconnect, on embedded Firebird.
#include "uListMng.h"

#include "IBDatabase.h"
#include "IBTestDatabase.h"
#include "SDatabase.h"

#include <gtest/gtest.h>

#include <QPointer>
#include <memory>

namespace {

class ListKindsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        FTestDb.CreateFrameworkSchema();
        FDb.SetDatabaseName(FTestDb.Path());
        FDb.SetParams(FTestDb.ConnectParams());
    }

    void AddKind(int id, const QString& name)
    {
        FTestDb.Execute(QStringLiteral("insert into SYS$LIST_KIND (SYS$ID, NAME) values (%1, '%2')").arg(id).arg(name));
    }

    QStringList Names() const
    {
        QStringList names;
        for (int i = 0; i < FDb.ListKinds()->Count(); ++i)
            names << FDb.ListKinds()->Strings(i);
        return names;
    }

    TIBTestDatabase FTestDb;
    TSDatabase FDb;
};

TEST_F(ListKindsTest, LoadedOnConnectOnceEachAndEmptiedOnDisconnect)
{
    AddKind(1, QStringLiteral("Склады"));
    AddKind(2, QStringLiteral("Кассы"));
    AddKind(3, QStringLiteral("Склады"));
    AddKind(4, QStringLiteral("СКЛАДЫ")); // names compare case-insensitively
    TIBTransaction transaction;
    transaction.SetDefaultDatabase(&FDb);
    FDb.SetDefaultTransaction(&transaction);
    EXPECT_EQ(FDb.ListKinds()->Count(), 0);
    EXPECT_EQ(&FDb.ListKinds()->Database(), &FDb);

    FDb.Open();
    EXPECT_EQ(Names(), QStringList({QStringLiteral("Склады"), QStringLiteral("Кассы")}));
    EXPECT_EQ(FDb.ListKinds()->Objects(0), nullptr);
    EXPECT_EQ(FDb.ListKinds()->IndexOf(QStringLiteral("кассы")), 1);

    auto attached = std::make_unique<QObject>();
    QPointer<QObject> watch = attached.get();
    FDb.ListKinds()->SetObject(1, std::move(attached));
    FDb.Close();
    EXPECT_EQ(FDb.ListKinds()->Count(), 0);
    EXPECT_TRUE(watch.isNull()) << "attached objects are freed on disconnect";

    AddKind(5, QStringLiteral("Банки"));
    FDb.Open();
    EXPECT_EQ(Names(), QStringList({QStringLiteral("Склады"), QStringLiteral("Кассы"), QStringLiteral("Банки")}));
    FDb.Close();
    FDb.SetDefaultTransaction(nullptr);
}

TEST_F(ListKindsTest, ADatabaseWithoutListKindsConnects)
{
    FTestDb.Execute(QStringLiteral("drop table SYS$LIST_KIND"));
    ASSERT_NO_THROW(FDb.Open());
    EXPECT_TRUE(FDb.Connected());
    EXPECT_EQ(FDb.ListKinds()->Count(), 0);
    // Without a transaction of the application's the connection's own reads them.
    FDb.Close();
    FTestDb.Execute(
        QStringLiteral("create table SYS$LIST_KIND (SYS$ID integer not null primary key, NAME varchar(60))"));
    FTestDb.Execute(QStringLiteral("insert into SYS$LIST_KIND (SYS$ID, NAME) values (1, 'Кассы')"));
    FDb.Open();
    EXPECT_EQ(Names(), QStringList({QStringLiteral("Кассы")}));
}

} // namespace
