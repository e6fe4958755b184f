#include "uListMng.h"

#include "IBDatabase.h"
#include "IBSQL.h"
#include "SDatabase.h"

int TListColletion::IndexOf(const QString& name) const
{
    for (int i = 0; i < Count(); ++i)
        if (FItems[i].Name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

int TListColletion::Add(const QString& name)
{
    if (const int index = IndexOf(name); index >= 0)
        return index;
    FItems.push_back({name, nullptr});
    return Count() - 1;
}

void TListColletion::Load() noexcept
{
    try {
        TIBSQL sql;
        sql.SetDatabase(&FDatabase);
        // The application's transaction; a database given none reads in its
        // own internal one rather than not at all.
        TIBTransaction* transaction = FDatabase.DefaultTransaction() ? FDatabase.DefaultTransaction()
                                                                     : FDatabase.InternalTransaction();
        sql.SetTransaction(transaction);
        if (!transaction->InTransaction())
            transaction->StartTransaction();
        sql.SQL().SetText(QStringLiteral("select NAME from SYS$LIST_KIND"));
        sql.ExecQuery();
        for (; !sql.Eof(); sql.Next())
            Add(sql.FieldByName(QStringLiteral("NAME")).AsString());
        sql.Close();
    } catch (...) {
        // A database without list kinds is still a database.
    }
}

void TListColletion::FreeKinds()
{
    for (TItem& item : FItems)
        item.Object.reset();
    FItems.clear();
}
