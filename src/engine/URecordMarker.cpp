#include "URecordMarker.h"

#include "Dialogs.h"
#include "Exceptions.h"
#include "MemTable.h"

#include <algorithm>
#include <utility>

namespace {

// A walk through the table: its controls stay still and are told once at
// the end; the cursor then returns to a record (a record that left the view
// meanwhile is not worth an error). Both also when the walk fails.
class TWalkScope
{
public:
    TWalkScope(TDataSet& dataSet, TBookmark returnTo) : FDataSet(dataSet), FReturnTo(std::move(returnTo))
    {
        FDataSet.DisableControls();
    }
    ~TWalkScope()
    {
        try {
            if (!FReturnTo.isEmpty() && FDataSet.BookmarkValid(FReturnTo))
                FDataSet.GotoBookmark(FReturnTo);
        } catch (const std::exception&) {
        }
        FDataSet.EnableControls();
    }
    TWalkScope(const TWalkScope&) = delete;
    TWalkScope& operator=(const TWalkScope&) = delete;

private:
    TDataSet& FDataSet;
    TBookmark FReturnTo;
};

} // namespace

TMarkedRowBits::TMarkedRowBits(const TMemRowStore& rows, const std::unordered_set<TRecordId>& records)
{
    constexpr unsigned PageBytesShift = 16;
    while ((uintptr_t(2) << FShift) <= static_cast<uintptr_t>(rows.RowSpacing()))
        ++FShift;
    FPageShift = FShift + 6 <= PageBytesShift ? PageBytesShift - FShift : 6; // at least a word a page
    FPageMask = (uintptr_t(1) << FPageShift) - 1;
    FWordsPerPage = (size_t(1) << FPageShift) / 64;

    std::vector<uintptr_t> steps;
    steps.reserve(records.size());
    std::unordered_set<uintptr_t> pages;
    uintptr_t lastPage = ~uintptr_t(0);
    for (const TRecordId record : records) {
        const uintptr_t step = reinterpret_cast<uintptr_t>(rows.Handle(record)) >> FShift;
        steps.push_back(step);
        if (step >> FPageShift != lastPage) // marks of neighbouring rows mostly share a page
            pages.insert(lastPage = step >> FPageShift);
    }
    if (pages.size() * FWordsPerPage > 8 * records.size() + 65536) {
        FUsable = false;
        return;
    }
    FPages.assign(pages.begin(), pages.end());
    std::sort(FPages.begin(), FPages.end());
    FWords.assign(FPages.size() * FWordsPerPage, 0);
    uint64_t* words = nullptr;
    lastPage = ~uintptr_t(0);
    for (const uintptr_t step : steps) {
        if (step >> FPageShift != lastPage) {
            lastPage = step >> FPageShift;
            words = FWords.data() + PageIndex(lastPage) * FWordsPerPage;
        }
        const uintptr_t bit = step & FPageMask;
        words[bit / 64] |= uint64_t(1) << (bit % 64);
    }
}

size_t TMarkedRowBits::PageIndex(uintptr_t page) const
{
    const auto at = std::lower_bound(FPages.begin(), FPages.end(), page);
    return at == FPages.end() || *at != page ? NoPage : static_cast<size_t>(at - FPages.begin());
}

const uint64_t* TMarkedRowBits::PageWords(uintptr_t page) const
{
    const size_t index = PageIndex(page);
    return index == NoPage ? nullptr : FWords.data() + index * FWordsPerPage;
}

void TMemRecordMarker::SetDataSource(TDataSource* source)
{
    auto* dataSource = qobject_cast<TSDataSource*>(source);
    if (source && !dataSource)
        throw Exception(QStringLiteral("DataSource must be TDataSource !"));
    FDataSource = dataSource;
}

bool TMemRecordMarker::IsMarked() const { return FMarked && FDataSet && FMarked->contains(FDataSet->RecordId()); }

bool TMemRecordMarker::IsEmpty() const
{
    if (!FMarked)
        return true;
    if (!FDataSet) { // the table went away: none of its records exists
        FMarked->clear();
        return true;
    }
    for (auto it = FMarked->begin(); it != FMarked->end();) {
        if (FDataSet->RowExists(*it))
            return false;
        it = FMarked->erase(it);
    }
    return true;
}

int TMemRecordMarker::MarkedCount() const
{
    DropGone();
    return FMarked ? static_cast<int>(FMarked->size()) : 0;
}

const TMarkedRowBits* TMemRecordMarker::MarkedRowBits() const
{
    DropGone();
    if (!FMarked || !FDataSet)
        return nullptr;
    if (!FRowBits)
        FRowBits = std::make_unique<TMarkedRowBits>(FDataSet->StoredRows(), *FMarked);
    return FRowBits->Usable() ? FRowBits.get() : nullptr;
}

std::vector<TRecordId> TMemRecordMarker::MarkedRecords() const
{
    DropGone();
    return FMarked ? std::vector<TRecordId>(FMarked->begin(), FMarked->end()) : std::vector<TRecordId>();
}

void TMemRecordMarker::DropGone() const
{
    if (!FMarked)
        return;
    if (!FDataSet) {
        FMarked->clear();
        FRowBits.reset();
        return;
    }
    // Rows are only removed with the stamp changing: checking every mark
    // again is needed only then.
    const uint64_t stamp = TMemRowStore::RemovalStamp();
    if (stamp == FCheckedStamp)
        return;
    FCheckedStamp = stamp;
    FRowBits.reset(); // a removed row's place may be another row's now
    std::erase_if(*FMarked, [this](TRecordId row) { return !FDataSet->RowExists(row); });
}

void TMemRecordMarker::BindOnDemand()
{
    if (FMarked && FDataSet)
        return;
    if (FMarked)
        FMarked->clear();
    FRowBits.reset();
    FDataSet = nullptr;
    auto* table = FDataSource ? qobject_cast<TCustomMemTable*>(FDataSource->DataSet()) : nullptr;
    if (!table)
        return;
    if (!FMarked)
        FMarked.emplace();
    FDataSet = table;
}

bool TMemRecordMarker::CanMark() const
{
    return FMarked && FDataSource && FDataSet && FDataSet->State() == dsBrowse && !(FDataSet->Bof() && FDataSet->Eof());
}

void TMemRecordMarker::Toggle(TRecordId record)
{
    if (!FMarked->erase(record))
        FMarked->insert(record);
}

void TMemRecordMarker::NotifyLinks(TLinksNotify kind)
{
    if (FDataSource)
        FDataSource->NotifyLinks(kind);
}

void TMemRecordMarker::Changed()
{
    FRowBits.reset(); // built again from the marks when a walk asks
    if (OnChange)
        OnChange(this);
}

void TMemRecordMarker::ToggleCurrent()
{
    BindOnDemand();
    if (!CanMark())
        return;
    Toggle(FDataSet->RecordId());
    NotifyLinks(lnRecordChanged);
    Changed();
}

void TMemRecordMarker::ToggleRange()
{
    BindOnDemand();
    if (!CanMark())
        return;
    TCustomMemTable& table = *FDataSet;
    if (FGroupStart.isEmpty()) {
        FGroupStart = table.GetBookmark();
        return;
    }
    const TBookmark end = table.GetBookmark();
    // A start that has left the view (filtered out, another level) cannot
    // bound a range: the end record alone is toggled, rather than every
    // record from it to the end of the table.
    const TBookmark start = table.BookmarkValid(FGroupStart) ? FGroupStart : end;
    {
        const TRangeScope scope(*this);
        const TWalkScope walk(table, end);
        ToggleStretch(table, start, end);
    }
    NotifyLinks(lnLayoutChanged);
    Changed();
}

void TMemRecordMarker::ToggleStretch(TCustomMemTable& table, const TBookmark& start, const TBookmark& end)
{
    enum { Outside, FromStart, FromEnd } state = Outside;
    for (table.First(); !table.Eof(); table.Next()) {
        const TBookmark here = table.GetBookmark();
        if (state == Outside && here == start)
            state = FromStart;
        else if (state == Outside && here == end)
            state = FromEnd;
        if (state == Outside)
            continue;
        Toggle(table.RecordId());
        if ((state == FromEnd && here == start) || (state == FromStart && here == end))
            return;
    }
}

TMemRecordMarker::TRangeScope::TRangeScope(TMemRecordMarker& marker)
    : FMarker(marker), FSavedOnChange(std::exchange(marker.OnChange, nullptr))
{
}

TMemRecordMarker::TRangeScope::~TRangeScope()
{
    FMarker.FGroupStart.clear();
    FMarker.OnChange = std::move(FSavedOnChange);
}

void TMemRecordMarker::ToggleAll()
{
    BindOnDemand();
    if (!CanMark())
        return;
    const bool markAll = IsEmpty();
    const QString question = markAll ? QStringLiteral("Отметить все записи ?")
                                     : QStringLiteral("Сделать все записи неотмеченными ?");
    if (MessageDlg(question, mtConfirmation, mbYesNo) != mrYes)
        return;
    if (markAll) {
        TCustomMemTable& table = *FDataSet;
        const TWalkScope walk(table, table.GetBookmark());
        FMarked->reserve(static_cast<size_t>(table.RecordCount()));
        for (table.First(); !table.Eof(); table.Next())
            FMarked->insert(table.RecordId());
    } else {
        Clear();
    }
    NotifyLinks(lnLayoutChanged);
    Changed();
}

void TMemRecordMarker::Clear()
{
    if (FMarked)
        FMarked->clear();
    Changed();
}

QString TMemRecordMarker::GetMarkedValues(const QString& fieldName)
{
    QString values;
    if (!FDataSet)
        return values;
    TCustomMemTable& table = *FDataSet;
    table.CheckBrowseMode();
    const QString name = fieldName.isEmpty() ? FSelectFieldName : fieldName;
    if (name.isEmpty())
        throw Exception(QStringLiteral("Не задано поле для выбора!"));
    const TField* field = table.FindField(name);
    if (!field)
        throw Exception(QStringLiteral("Поле для выбора \"%1\" не найдено !").arg(name));
    if (IsEmpty())
        return values;
    const TWalkScope walk(table, table.GetBookmark());
    for (table.First(); !table.Eof(); table.Next()) {
        if (!IsMarked())
            continue;
        if (!values.isEmpty())
            values += QLatin1Char(',');
        values += field->AsString();
    }
    return values;
}
