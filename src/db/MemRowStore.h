// Compact row storage of the in-memory table. A row is one allocation: its
// identifier, a fixed part (null flags, then numbers and dates at fixed
// offsets) and out-of-line slots for strings and blobs. A row keeps its
// identifier and its address for life (updates write in place), so indexes
// hold row handles and compare typed values without variants. Rows also keep
// a natural order (the order they were added or inserted in).
#pragma once

#include "FieldTypes.h"
#include "Variant.h"

#include <QByteArray>
#include <QString>

class QDataStream;
#include <cstdint>
#include <memory>
#include <vector>

class TMemRowStore
{
public:
    struct TColumn
    {
        TFieldType Type = ftUnknown;
        int Size = 0;
    };

    // A row's address; valid until the row is removed.
    using TRowHandle = const std::byte*;

    // A search value converted once to a column's stored kind.
    struct TKey
    {
        bool Null = true;
        int64_t Int = 0;
        double Float = 0;
        QString Text;
        QByteArray Bytes;
    };

    // Tables sharing the store hear of each other's changes.
    class TListener
    {
    public:
        virtual ~TListener() = default;
        virtual void RowInserted(uint64_t id) = 0;
        virtual void RowUpdated(uint64_t id) = 0;
        virtual void RowRemoving(uint64_t id) = 0; // before the row goes
        virtual void RowsCleared() = 0;
    };
    void AddListener(TListener* listener) { FListeners.push_back(listener); }
    void RemoveListener(TListener* listener);
    // Tells every listener but the one that made the change.
    template <typename Fn>
    void Notify(const TListener* origin, Fn&& fn) const
    {
        const std::vector<TListener*> listeners = FListeners;
        for (TListener* listener : listeners)
            if (listener != origin)
                fn(*listener);
    }
    int ListenerCount() const { return static_cast<int>(FListeners.size()); }

    TMemRowStore() = default;
    ~TMemRowStore();
    TMemRowStore(const TMemRowStore&) = delete;
    TMemRowStore& operator=(const TMemRowStore&) = delete;

    // Drops every row and sets the columns.
    void SetColumns(const std::vector<TColumn>& columns);
    int ColumnCount() const { return static_cast<int>(FColumns.size()); }

    // Values by column; a value the column cannot hold raises EConvertError.
    // position: before the row at that place of the natural order, -1 at the end.
    uint64_t Insert(const std::vector<Variant>& values, int position = -1);
    void Update(uint64_t id, const std::vector<Variant>& values);
    void Remove(uint64_t id);
    void Clear();

    bool Exists(uint64_t id) const { return Slot(id) != nullptr; }
    Variant Get(uint64_t id, int column) const;
    bool IsNull(uint64_t id, int column) const;

    TRowHandle Handle(uint64_t id) const { return Row(id); }
    static uint64_t IdOf(TRowHandle row);
    Variant Get(TRowHandle row, int column) const { return ReadValue(row, column); }
    // Orders by one column: nulls first, then by value (text by code point,
    // or ignoring case).
    int Compare(TRowHandle a, TRowHandle b, int column, bool caseInsensitive) const;
    int CompareKey(TRowHandle row, int column, const TKey& key, bool caseInsensitive) const;
    // Raises EConvertError when the value cannot be held by the column.
    TKey MakeKey(int column, const Variant& value) const;
    // A 64-bit value whose unsigned order agrees with Compare on the column
    // (for text: its first four characters), for sorting many rows without
    // touching them again; exact tells whether equal prefixes mean equal values.
    uint64_t SortPrefix(TRowHandle row, int column, bool caseInsensitive, bool& isNull) const;
    // The same for a search key of the column.
    uint64_t KeyPrefix(int column, const TKey& key, bool caseInsensitive) const;
    bool PrefixIsExact(int column) const;

    // The file form of one value: a null flag, then the value in the
    // column's stored kind. ReadRow appends a row read column by column;
    // false when the stream ran dry or holds something else.
    void WriteValue(QDataStream& out, TRowHandle row, int column) const;
    static void WriteNull(QDataStream& out);
    bool ReadRow(QDataStream& in);
    int Count() const { return static_cast<int>(FOrder.size()); }
    // Identifiers handed out since the last Clear lie in [FirstId, EndId).
    uint64_t FirstId() const { return FBaseId; }
    uint64_t EndId() const { return FNextId; }
    // The rows in natural order.
    const std::vector<uint64_t>& Order() const { return FOrder; }

    // Whether rows were added, changed or removed since ResetModified.
    bool Modified() const { return FModified; }
    void ResetModified() { FModified = false; }

private:
    struct TRowDeleter
    {
        const TMemRowStore* Store;
        void operator()(std::byte* row) const;
    };
    using TRowPtr = std::unique_ptr<std::byte[], TRowDeleter>;

    TRowPtr NewRow() const;
    void Write(std::byte* row, const std::vector<Variant>& values) const;
    void WriteValue(std::byte* row, int column, const Variant& value) const;
    Variant ReadValue(const std::byte* row, int column) const;
    const std::byte* Row(uint64_t id) const;
    bool NullAt(TRowHandle row, int column) const;
    const std::byte* At(TRowHandle row, int column) const;

    std::vector<TColumn> FColumns;
    std::vector<int> FOffsets;   // fixed part, or slot number for out-of-line columns
    std::vector<bool> FOutOfLine;
    int FNullOffset = 8; // after the identifier
    int FNullBytes = 0;
    int FFixedSize = 0;          // null flags and fixed values, aligned for the slots
    int FSlotCount = 0;          // strings and blobs, each a QByteArray or QString
    int FRowSize = 0;
    // Rows by identifier: identifiers are handed out in order, so a vector
    // indexed from the first identifier since the last Clear finds them.
    const TRowPtr* Slot(uint64_t id) const
    {
        const uint64_t index = id - FBaseId;
        return id >= FBaseId && index < FRows.size() && FRows[index] ? &FRows[index] : nullptr;
    }
    std::vector<TRowPtr> FRows;
    uint64_t FBaseId = 1;
    std::vector<uint64_t> FOrder;
    uint64_t FNextId = 1;
    std::vector<TListener*> FListeners;
    bool FModified = false;
};
