// Compact row storage of the in-memory table. A row is one block from the
// store's arena: its identifier, the block size, null flags, numbers and
// dates at fixed offsets, then the strings and blobs inline (text as Latin-1
// when every character fits, else UTF-16). The bytes after the block size
// are also the row's file form, so saving and loading copy rows whole.
// A row keeps its identifier and its address for life: an update that no
// longer fits moves only the strings out to a block of their own. Indexes
// therefore hold row handles and compare typed values without variants.
// Rows also keep a natural order (the order they were added or inserted in).
#pragma once

#include "FieldTypes.h"
#include "Variant.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <cstdint>
#include <cstring>
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

    TMemRowStore();
    ~TMemRowStore();
    TMemRowStore(const TMemRowStore&) = delete;
    TMemRowStore& operator=(const TMemRowStore&) = delete;

    // Drops every row and sets the columns.
    void SetColumns(const std::vector<TColumn>& columns);
    int ColumnCount() const { return static_cast<int>(FColumns.size()); }
    const std::vector<TColumn>& Columns() const { return FColumns; }

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
    // Hints that a row's place will be read soon (unknown rows are ignored).
    void PrefetchSlot(uint64_t id) const
    {
        const uint64_t index = id - FBaseId;
        Prefetch(index < FRows.size() ? FRows.data() + index : nullptr);
    }
    // Hints that a row will be read soon.
    static void PrefetchRow(TRowHandle row)
    {
        Prefetch(row);
        Prefetch(row ? row + 63 : nullptr); // a row may span two cache lines
    }
    // A prefetch that survives optimisation: GCC drops one whose address it
    // sees chosen by a condition, unless the address is used.
    static void Prefetch(const void* address)
    {
        asm volatile("" ::"r"(address));
        __builtin_prefetch(address);
    }
    // Rows pack their values unaligned.
    template <typename T>
    static T LoadAs(const std::byte* p)
    {
        T value;
        std::memcpy(&value, p, sizeof value);
        return value;
    }
    static uint64_t IdOf(TRowHandle row)
    {
        uint64_t id;
        std::memcpy(&id, row, sizeof id);
        return id;
    }
    Variant Get(TRowHandle row, int column) const { return ReadValue(row, column); }
    bool IsNull(TRowHandle row, int column) const { return NullAt(row, column); }
    // The value in place for integer, floating, date and text columns;
    // vkNone for the others (read them with Get).
    // Inline: a walk reads every field of every row through it.
    TValueView View(TRowHandle row, int column) const
    {
        TValueView view;
        const TViewRead read = FViewRead[static_cast<size_t>(column)];
        if (read == vrNone)
            return view;
        if (NullAt(row, column)) {
            view.Kind = TValueView::vkNull;
            return view;
        }
        const std::byte* at = Fixed(row, column);
        switch (read) {
        case vrText: {
            const TText text = TextAt(row, column);
            view.Kind = text.Wide ? TValueView::vkUtf16 : TValueView::vkLatin1;
            view.Data = text.Data;
            view.Length = text.Units();
            break;
        }
        case vrInt32:
            view.Kind = TValueView::vkInt;
            view.Int = LoadAs<int32_t>(at);
            break;
        case vrInt64:
            view.Kind = TValueView::vkInt;
            view.Int = LoadAs<int64_t>(at);
            break;
        case vrFloat:
            view.Kind = TValueView::vkFloat;
            view.Float = LoadAs<double>(at);
            break;
        case vrNone: break;
        }
        return view;
    }
    // One column's stored numbers read straight from rows, the column's
    // place and kind resolved once: for walks over many rows.
    class TNumberReader
    {
    public:
        // Whether the column holds integers or doubles; other numbers (such
        // as currency) are read by Get.
        bool Valid() const { return FKind != None; }
        // Where the value lies in a row (for prefetching).
        int Offset() const { return FOffset; }
        // The value as a double, null as 0.
        double operator()(TRowHandle row) const
        {
            if (std::to_integer<uint8_t>(row[FNullByte]) & FNullBit)
                return 0;
            switch (FKind) {
            case Int32: return static_cast<double>(LoadAs<int32_t>(row + FOffset));
            case Int64: return static_cast<double>(LoadAs<int64_t>(row + FOffset));
            case Float: return LoadAs<double>(row + FOffset);
            case None: break;
            }
            return 0;
        }

    private:
        friend class TMemRowStore;
        enum TKind : uint8_t { None, Int32, Int64, Float };
        int FOffset = 0;
        int FNullByte = 0;
        uint8_t FNullBit = 0;
        TKind FKind = None;
    };
    TNumberReader NumberReader(int column) const;
    // No two rows start closer than this many bytes: every row's block holds
    // at least its header, null flags and fixed values.
    int RowSpacing() const { return FFixedEnd; }
    // Changes whenever a row of any store is removed or a store is made or
    // cleared: a row address noted before may since belong to another row.
    static uint64_t RemovalStamp() { return FRemovalStamp.load(std::memory_order_relaxed); }
    // Orders by one column: nulls first, then by value (text by code point,
    // or ignoring case).
    int Compare(TRowHandle a, TRowHandle b, int column, bool caseInsensitive) const;
    int CompareKey(TRowHandle row, int column, const TKey& key, bool caseInsensitive) const;
    // Raises EConvertError when the value cannot be held by the column.
    TKey MakeKey(int column, const Variant& value) const;
    // A 64-bit value whose unsigned order agrees with Compare on the column,
    // for sorting and searching many rows without touching them: 0 for null,
    // else at least 1 (text: its first four characters). Rows whose sort keys
    // differ compare the same way; equal keys of at most 1, or of a column
    // without PrefixIsExact, need Compare to tell.
    uint64_t SortKey(TRowHandle row, int column, bool caseInsensitive) const;
    // The same for a search key of the column.
    uint64_t SortKey(int column, const TKey& key, bool caseInsensitive) const;
    bool PrefixIsExact(int column) const;
    // Whether a column holds text (ftString, ftMemo).
    bool IsText(int column) const;
    // The units [start, start + count) of a text column's value as Compare
    // orders them (case folded where caseInsensitive: then compared unit by
    // unit they order as the values do), fewer where the text ends first;
    // returns how many were written (none for null).
    uint32_t SortTextUnits(TRowHandle row, int column, bool caseInsensitive, uint32_t start, uint32_t count,
                           char16_t* out) const;
    // The sort key of a text from its (folded) units, as SortKey makes it.
    static uint64_t TextSortKey(const char16_t* units, size_t count);
    // A hash of the value mixed into seed: values that Compare finds equal
    // hash alike (NaN aside, which compares equal to everything).
    uint64_t KeyHash(TRowHandle row, int column, bool caseInsensitive, uint64_t seed) const;

    // The file form of a row: its bytes after the block header, which the
    // same columns read back as they are.
    qsizetype FormSize(TRowHandle row) const;
    // Writes the form at out; returns its end.
    char* CopyForm(TRowHandle row, char* out) const;
    // The length of the form at data, or -1 when the bytes cannot be one.
    qsizetype FormLength(const char* data, qsizetype size) const;
    // Appends a row from a checked form (see FormLength).
    void AppendForm(const char* data, qsizetype length);
    // Room for that many more rows.
    void Reserve(size_t rows);

    int Count() const { return FCount; }
    // Identifiers handed out since the last Clear lie in [FirstId, EndId).
    uint64_t FirstId() const { return FBaseId; }
    uint64_t EndId() const { return FNextId; }
    // The rows in natural order: a copy; ForEachId walks them without one.
    std::vector<uint64_t> Order() const;
    template <typename Fn>
    void ForEachId(Fn&& fn) const
    {
        if (FOrderKept) {
            for (uint64_t id : FOrder)
                fn(id);
            return;
        }
        for (size_t i = 0; i < FRows.size(); ++i)
            if (FRows[i])
                fn(FBaseId + i);
    }
    // Whether the natural order is kept as a list (else it is the order of identifiers).
    bool OrderKept() const { return FOrderKept; }
    // The last row of the natural order (0 without rows), and a row's place in it (-1: none).
    uint64_t LastId() const;
    int PositionOf(uint64_t id) const;

    // Whether rows were added, changed or removed since ResetModified.
    bool Modified() const { return FModified; }
    void ResetModified() { FModified = false; }

private:
    struct TText
    {
        const std::byte* Data = nullptr;
        uint32_t Bytes = 0;
        bool Wide = false; // UTF-16, else Latin-1
        uint32_t Units() const { return Wide ? Bytes / 2 : Bytes; }
    };
    class TArena;

    // The form of values into FScratch.
    void Encode(const std::vector<Variant>& values);
    std::byte* NewRow(const std::byte* form, size_t length);
    void FreeRow(std::byte* row);
    void Rewrite(std::byte* row, const std::byte* form, size_t length);
    uint64_t Append(std::byte* row, int position);
    Variant ReadValue(const std::byte* row, int column) const;
    const std::byte* Row(uint64_t id) const;
    // Row block: identifier, then the block size with the moved-out flag,
    // then the form (null flags, fixed values, tail).
    static constexpr int SizeOffset = 8;
    static constexpr int FormOffset = 12;
    bool NullAt(TRowHandle row, int column) const
    {
        return std::to_integer<uint8_t>(row[FormOffset + column / 8]) & (1u << (column % 8));
    }
    const std::byte* Fixed(TRowHandle row, int column) const { return row + FOffsets[static_cast<size_t>(column)]; }
    const std::byte* Tail(TRowHandle row) const;
    size_t TailLength(const std::byte* tail, const std::byte* nulls) const;
    TText TextAt(TRowHandle row, int column) const;
    static TText TextOf(const QString& text);
    static int CompareText(const TText& a, const TText& b, bool caseInsensitive);
    static uint64_t TextPrefix(const TText& text, bool caseInsensitive);

    std::vector<TColumn> FColumns;
    std::vector<int> FOffsets;     // in the row for fixed columns, place among the tail's for the others
    std::vector<uint8_t> FInTail;  // a byte each: read on every value of a walk
    std::vector<int> FTailColumns; // the tail's columns in their order
    // How View reads each column: decided once, not per value.
    enum TViewRead : uint8_t { vrNone, vrText, vrInt32, vrInt64, vrFloat };
    std::vector<TViewRead> FViewRead;
    int FNullBytes = 0;
    int FFixedEnd = 0; // header, null flags and fixed values
    bool FHasTail = false;
    std::vector<std::byte> FScratch;
    std::unique_ptr<TArena> FArena;
    // Rows by identifier: identifiers are handed out in order, so a vector
    // indexed from the first identifier since the last Clear finds them.
    const std::byte* const* Slot(uint64_t id) const
    {
        const uint64_t index = id - FBaseId;
        return id >= FBaseId && index < FRows.size() && FRows[index] ? &FRows[index] : nullptr;
    }
    std::vector<std::byte*> FRows;
    uint64_t FBaseId = 1;
    // The natural order is the order of identifiers until a row is inserted
    // before another; only from then on is it kept as a list.
    std::vector<uint64_t> FOrder;
    bool FOrderKept = false;
    int FCount = 0;
    uint64_t FNextId = 1;
    std::vector<TListener*> FListeners;
    bool FModified = false;
    static void Stamp() { FRemovalStamp.fetch_add(1, std::memory_order_relaxed); }
    static inline std::atomic<uint64_t> FRemovalStamp = 0;
};
