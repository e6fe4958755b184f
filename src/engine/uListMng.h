// The list kinds of a database: the names stored in SYS$LIST_KIND, read when
// the database connects and emptied when it disconnects. Other components
// may attach an object to a name; the list owns it from then on.
#pragma once

#include <QObject>
#include <QString>
#include <memory>
#include <vector>

class TSDatabase;

// The list kinds (TSDatabase::ListKinds()).
//
// Lifetimes. Made and owned by its TSDatabase, which outlives it. The list
// owns the objects attached to its names: FreeKinds, a disconnect (which
// calls it), SetObject on the same name and the list's destruction free
// them, so whoever attached one must not keep a pointer past those.
class TListColletion
{
public:
    // The database owns the list and outlives it.
    explicit TListColletion(TSDatabase& database) : FDatabase(database) {}
    TListColletion(const TListColletion&) = delete;
    TListColletion& operator=(const TListColletion&) = delete;

    TSDatabase& Database() const { return FDatabase; }

    int Count() const { return static_cast<int>(FItems.size()); }
    const QString& Strings(int index) const { return FItems.at(index).Name; }
    QObject* Objects(int index) const { return FItems.at(index).Object.get(); }
    // Attaches an object to a name; the previous one is freed.
    void SetObject(int index, std::unique_ptr<QObject> object) { FItems.at(index).Object = std::move(object); }
    // Names compare case-insensitively; -1 when absent.
    int IndexOf(const QString& name) const;
    // Adds a name (with no object) unless it is there already; its index.
    int Add(const QString& name);

    // Reads the names in query order, one entry per name. Never raises: a
    // database without the table (or any failure) leaves what was read.
    void Load() noexcept;
    // Frees every attached object, then empties the list.
    void FreeKinds();

private:
    struct TItem
    {
        QString Name;
        std::unique_ptr<QObject> Object;
    };

    TSDatabase& FDatabase;
    std::vector<TItem> FItems;
};
