// A framework database on embedded Firebird with a schema of the test's own,
// a connection to it, a transaction for the data sets and data sets on its
// relations.
#pragma once

#include "IBTestDatabase.h"
#include "SDS.h"
#include "SDatabase.h"

#include <gtest/gtest.h>
#include <memory>

// A field of the given class added to a data set (owned by it).
template <typename T>
T* AddField(TDataSet& dataSet, const char* name, TFieldKind kind = fkData)
{
    auto* field = new T(&dataSet);
    field->SetFieldName(QString::fromUtf8(name));
    field->SetFieldKind(kind);
    field->SetDataSet(&dataSet);
    return field;
}

class TSDSFixture : public ::testing::Test
{
protected:
    // The framework's objects, then the schema; the connection opened.
    void CreateAndConnect(const char* schema)
    {
        FTestDb.CreateFrameworkSchema();
        FTestDb.ExecuteScript(QString::fromUtf8(schema));
        FDb = NewDatabase();
        FDb->Open();
        FTransaction.SetDefaultDatabase(FDb.get());
    }

    // Another connection to the same database, not opened.
    std::unique_ptr<TSDatabase> NewDatabase() const
    {
        auto db = std::make_unique<TSDatabase>();
        db->SetDatabaseName(FTestDb.Path());
        db->SetParams(FTestDb.ConnectParams());
        return db;
    }

    // A data set on a relation, its default options with the extra ones.
    std::unique_ptr<TSDS> NewSDS(const QString& table, TSDSOptions extra = {})
    {
        auto sds = std::make_unique<TSDS>();
        sds->setObjectName(table);
        sds->SetDatabase(FDb.get());
        sds->SetTransaction(&FTransaction);
        sds->SetTableName(table);
        sds->SetOptions(sds->Options() + extra);
        return sds;
    }

    TIBTestDatabase FTestDb;
    std::unique_ptr<TSDatabase> FDb;
    TIBTransaction FTransaction;
};
