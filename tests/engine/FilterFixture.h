// A small in-memory table for the marker and filter tests: ID, NAME, QTY,
// PRICE, DT, STAMP, FLAG and a word field, behind the framework's data source.
#pragma once

#include "MemTable.h"
#include "SDataSource.h"
#include "Variant.h"

#include <QList>
#include <memory>
#include <vector>

namespace filtertest {

struct TRow
{
    int Id;
    Variant Name, Qty, Price, Dt, Stamp, Flag;
};

struct TTable
{
    std::unique_ptr<TCustomMemTable> Table = std::make_unique<TCustomMemTable>();
    TSDataSource Source;

    explicit TTable(const std::vector<TRow>& rows)
    {
        TCustomMemTable& t = *Table;
        t.setObjectName(QStringLiteral("Goods"));
        t.FieldDefs().Add(QStringLiteral("ID"), ftInteger, 0, true);
        t.FieldDefs().Add(QStringLiteral("NAME"), ftString, 30);
        t.FieldDefs().Add(QStringLiteral("QTY"), ftInteger);
        t.FieldDefs().Add(QStringLiteral("PRICE"), ftFloat);
        t.FieldDefs().Add(QStringLiteral("DT"), ftDate);
        t.FieldDefs().Add(QStringLiteral("STAMP"), ftDateTime);
        t.FieldDefs().Add(QStringLiteral("FLAG"), ftBoolean);
        t.FieldDefs().Add(QStringLiteral("W"), ftWord);
        t.Open();
        for (const TRow& row : rows) {
            t.Append();
            Field("ID")->SetAsInteger(row.Id);
            Field("NAME")->SetValue(row.Name);
            Field("QTY")->SetValue(row.Qty);
            Field("PRICE")->SetValue(row.Price);
            Field("DT")->SetValue(row.Dt);
            Field("STAMP")->SetValue(row.Stamp);
            Field("FLAG")->SetValue(row.Flag);
            t.Post();
        }
        t.First();
        Source.SetDataSet(Table.get());
    }

    TField* Field(const char* name) const { return Table->FieldByName(QLatin1String(name)); }

    // Moves to the record with the ID.
    void Go(int id) const { Table->Locate(QStringLiteral("ID"), Variant(id)); }

    // The IDs of the view, in order, the cursor left where it was.
    QList<int> Ids() const
    {
        QList<int> ids;
        TCustomMemTable& t = *Table;
        const TBookmark here = t.GetBookmark();
        t.DisableControls();
        for (t.First(); !t.Eof(); t.Next())
            ids << Field("ID")->AsInteger();
        if (t.BookmarkValid(here))
            t.GotoBookmark(here);
        t.EnableControls();
        return ids;
    }
};

// Rows 1..n named "Row <id>".
inline std::vector<TRow> PlainRows(int n)
{
    std::vector<TRow> rows;
    for (int id = 1; id <= n; ++id)
        rows.push_back({id, QStringLiteral("Row %1").arg(id), Variant(id), Variant(id * 1.5), Variant::Null(),
                        Variant::Null(), Variant::Null()});
    return rows;
}

// Counts what the data source's controls are told.
class TCountingLink : public TDataLink
{
public:
    int RecordChanges = 0;
    int LayoutChanges = 0;

protected:
    void RecordChanged(TField*) override { ++RecordChanges; }
    void LayoutChanged() override { ++LayoutChanges; }
};

} // namespace filtertest
