// A small in-memory table for data set tests: ID, NAME, PRICE, DT.
#pragma once

#include "MemTable.h"

#include <QStringList>
#include <memory>
#include <utility>

namespace dbtest {

struct TRowData
{
    int Id;
    const char* Name;
    double Price;
};

inline std::unique_ptr<TCustomMemTable> MakeTable(std::initializer_list<TRowData> rows = {})
{
    auto table = std::make_unique<TCustomMemTable>();
    table->setObjectName(QStringLiteral("Goods"));
    table->FieldDefs().Add(QStringLiteral("ID"), ftInteger, 0, true);
    table->FieldDefs().Add(QStringLiteral("NAME"), ftString, 20);
    table->FieldDefs().Add(QStringLiteral("PRICE"), ftFloat);
    table->FieldDefs().Add(QStringLiteral("DT"), ftDate);
    table->Open();
    for (const TRowData& row : rows) {
        table->Append();
        table->FieldByName(QStringLiteral("ID"))->SetAsInteger(row.Id);
        table->FieldByName(QStringLiteral("NAME"))->SetAsString(QString::fromUtf8(row.Name));
        table->FieldByName(QStringLiteral("PRICE"))->SetAsFloat(row.Price);
        table->Post();
    }
    table->First();
    return table;
}

// Fields of an order table (open it afterwards): GOOD_ID, and GOOD_NAME
// looked up in a table of MakeTable's layout by its ID.
inline std::pair<TIntegerField*, TStringField*> AddGoodsLookup(TDataSet& orders, TDataSet& goods)
{
    auto* goodId = new TIntegerField(&orders);
    goodId->SetFieldName(QStringLiteral("GOOD_ID"));
    goodId->SetDataSet(&orders);
    auto* goodName = new TStringField(&orders);
    goodName->SetFieldName(QStringLiteral("GOOD_NAME"));
    goodName->SetFieldKind(fkLookup);
    goodName->SetLookupDataSet(&goods);
    goodName->SetKeyFields(QStringLiteral("GOOD_ID"));
    goodName->SetLookupKeyFields(QStringLiteral("ID"));
    goodName->SetLookupResultField(QStringLiteral("NAME"));
    goodName->SetDataSet(&orders);
    return {goodId, goodName};
}

// The IDs of the view, in order, without moving the cursor for good.
inline QList<int> Ids(TDataSet& table)
{
    QList<int> ids;
    const TBookmark here = table.GetBookmark();
    table.DisableControls();
    for (table.First(); !table.Eof(); table.Next())
        ids << table.FieldByName(QStringLiteral("ID"))->AsInteger();
    if (table.BookmarkValid(here))
        table.GotoBookmark(here);
    table.EnableControls();
    return ids;
}

// Records the data set's events in order.
struct TEventLog
{
    QStringList Events;

    void Attach(TDataSet& ds)
    {
        const auto note = [this](const char* name) {
            return [this, name](TDataSet*) { Events << QLatin1String(name); };
        };
        ds.BeforeInsert = note("BeforeInsert");
        ds.AfterInsert = note("AfterInsert");
        ds.BeforeEdit = note("BeforeEdit");
        ds.AfterEdit = note("AfterEdit");
        ds.BeforePost = note("BeforePost");
        ds.AfterPost = note("AfterPost");
        ds.BeforeCancel = note("BeforeCancel");
        ds.AfterCancel = note("AfterCancel");
        ds.BeforeDelete = note("BeforeDelete");
        ds.AfterDelete = note("AfterDelete");
        ds.BeforeScroll = note("BeforeScroll");
        ds.AfterScroll = note("AfterScroll");
        ds.OnNewRecord = note("OnNewRecord");
        ds.BeforeOpen = note("BeforeOpen");
        ds.AfterOpen = note("AfterOpen");
        ds.BeforeClose = note("BeforeClose");
        ds.AfterClose = note("AfterClose");
    }
    QStringList Take()
    {
        QStringList taken;
        taken.swap(Events);
        return taken;
    }
};

} // namespace dbtest
