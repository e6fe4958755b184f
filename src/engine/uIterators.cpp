#include "uIterators.h"

#include "BusyCursor.h"
#include "Dialogs.h"
#include "Exceptions.h"
#include "FieldTypes.h"
#include "Fields.h"
#include "SDS.h"
#include "SDataSource.h"
#include "SysUtils.h"
#include "URecordMarker.h"

#include <QLocale>
#include <QScopeGuard>

#include <algorithm>
#include <vector>

bool OnlyMarkedGroupOperations = false;
TGroupAskValue GroupOperationAskValue;
TGroupProgressFactory GroupOperationProgress;
int GroupOperationProgressThreshold = 5000;

namespace {

// The kinds of the typed value dialog.
enum : uint8_t { AskNone = 0, AskInteger = 1, AskFloat = 2, AskDate = 3, AskString = 4 };

void ErrorBox(const QString& text) { MessageDlg(text, mtError, {mbCancel}); }
void InformationBox(const QString& text) { MessageDlg(text, mtInformation, {mbOK}); }
bool Confirmed(const QString& question) { return MessageDlg(question, mtConfirmation, mbYesNo) == mrYes; }

bool IsNumeric(const TField* field) { return field && IsNumericType(field->DataType()); }
bool IsString(const TField* field) { return field && field->DataType() == ftString; }

bool IsIntegerType(TFieldType type)
{
    switch (type) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
    case ftLargeint: return true;
    default: return false;
    }
}

uint8_t AskKindOf(const TField& field)
{
    switch (field.DataType()) {
    case ftString: return AskString;
    case ftSmallint:
    case ftInteger: return AskInteger;
    case ftFloat:
    case ftBCD: return AskFloat;
    case ftDate:
    case ftDateTime: return AskDate;
    default: return AskNone;
    }
}

bool AskValue(const QString& caption, uint8_t kind, Variant& value)
{
    return GroupOperationAskValue && GroupOperationAskValue(caption, kind, value);
}

// What the progress window says it is doing.
QString ProgressCaption(TGroupOperationKind kind)
{
    switch (kind) {
    case goReplace:
    case goFill: return QStringLiteral("Замена значений");
    case goSum: return QStringLiteral("Подсчёт итога");
    case goCount: return QStringLiteral("Подсчёт строк");
    case goAdd: return QStringLiteral("Добавление значения");
    case goMultiply: return QStringLiteral("Умножение на значение");
    case goLowerCase:
    case goUpperCase: return QStringLiteral("Замена букв");
    case goDelete: return QStringLiteral("Удаление записей");
    }
    return {};
}

bool IsEditing(const TDataSet& dataSet) { return dataSet.State() == dsEdit || dataSet.State() == dsInsert; }

// The refusals before anything is asked; true when the operation may go on.
bool Admitted(TSDataSource* source, TField* field, TGroupOperationKind kind)
{
    if (!source || !source->DataSet()) {
        ErrorBox(QStringLiteral("Неинициализированный набор данных."));
        return false;
    }
    if (source->DataSet()->State() != dsBrowse) {
        ErrorBox(QStringLiteral("Набор данных не в режиме просмотра."));
        return false;
    }
    if (kind == goSum || kind == goCount || kind == goDelete)
        return true;
    switch (field ? source->GetFieldAccess(field) : faForeign) {
    case faModifiable: return true;
    case faReadOnly: ErrorBox(QStringLiteral("Поле НД не может быть изменено.")); return false;
    case faKey: ErrorBox(QStringLiteral("Операция не применима к полям индекса и сортировки.")); return false;
    case faForeign: ErrorBox(QStringLiteral("Поле не найдено.")); return false;
    }
    return false;
}

std::unique_ptr<TIterator> NewIterator(TSDataSource* source, TField* field, TGroupOperationKind kind)
{
    switch (kind) {
    case goReplace:
    case goFill: return std::make_unique<TReplaceIterator>(source, field, kind);
    case goSum:
    case goCount: return std::make_unique<TInfoIterator>(source, field, kind);
    case goAdd:
    case goMultiply: return std::make_unique<TArifmeticIterator>(source, field, kind);
    case goLowerCase:
    case goUpperCase: return std::make_unique<TRegIterator>(source, field, kind);
    case goDelete: return std::make_unique<TDelIterator>(source, field, kind);
    }
    return nullptr;
}

// Marked records as bits over the span of their identifiers: a test per
// row of a walk costs a bit, not a hash lookup.
class TMarkBits
{
public:
    explicit TMarkBits(const std::vector<TRecordId>& records)
    {
        if (records.empty())
            return;
        const auto [lowest, highest] = std::minmax_element(records.begin(), records.end());
        FFirst = *lowest;
        FBits.assign(static_cast<size_t>((*highest - FFirst) / 64 + 1), 0);
        for (const TRecordId record : records)
            FBits[static_cast<size_t>((record - FFirst) / 64)] |= uint64_t(1) << ((record - FFirst) % 64);
    }
    bool Contains(TRecordId record) const
    {
        const uint64_t bit = record - FFirst;
        return record >= FFirst && bit / 64 < FBits.size() && (FBits[static_cast<size_t>(bit / 64)] >> (bit % 64)) & 1;
    }

private:
    TRecordId FFirst = 0;
    std::vector<uint64_t> FBits;
};

} // namespace

void RunGroupOperation(TSDataSource* source, TField* field, TGroupOperationKind kind)
{
    // The switch restricts this call only, whichever way it ends.
    const auto reset = qScopeGuard([] { OnlyMarkedGroupOperations = false; });
    if (!Admitted(source, field, kind))
        return;
    const std::unique_ptr<TIterator> iterator = NewIterator(source, field, kind);
    if (!iterator)
        return;
    if (iterator->AllRows() && OnlyMarkedGroupOperations) {
        MessageDlg(QStringLiteral("Применение групповых операций ко ВСЕМ записям заблокировано, возможно - только к "
                                  "ВЫДЕЛЕННЫМ."),
                   mtWarning, {mbCancel});
        Abort();
    }
    iterator->Execute();
}

// ----------------------------------------------------------------- TIterator

TIterator::TIterator(TSDataSource* source, TField* field, TGroupOperationKind kind)
    : FAllRows(source->RecordMarker()->IsEmpty()), FKind(kind), FDataSet(source->DataSet()), FField(field),
      FDataSource(source)
{
}

TIterator::~TIterator() { EndWalk(); }

void TIterator::BeginWalk()
{
    if (FWalking)
        return;
    FWalking = true;
    FCursor = std::make_unique<TBusyCursor>();
    FControlsDisabled = NeedDisableControls();
    if (FControlsDisabled)
        FDataSet->DisableControls();
    FProceed = true;
    FSavedPosition = FDataSet->GetBookmark();
}

void TIterator::EndWalk()
{
    if (!FWalking)
        return;
    FWalking = false;
    FProgress.reset();
    FCursor.reset();
    if (FControlsDisabled) {
        FControlsDisabled = false;
        FDataSet->EnableControls();
    }
    try {
        // Finding a bookmark searches the view: not when the cursor stayed.
        if (!FSavedPosition.isEmpty() && FDataSet->GetBookmark() != FSavedPosition
            && FDataSet->BookmarkValid(FSavedPosition))
            FDataSet->GotoBookmark(FSavedPosition);
    } catch (const std::exception&) {
        // Not being back where the user was is no reason to fail.
    }
}

bool TIterator::Walked() const { return FAllRows || FDataSource->RecordMarker()->IsMarked(); }

int TIterator::RowsToWalk() const
{
    return FAllRows ? FDataSet->RecordCount() : FDataSource->RecordMarker()->MarkedCount();
}

bool TIterator::StartWalk()
{
    Prepare();
    if (!FProceed)
        return false;
    StartProgress();
    FDataSet->First();
    return true;
}

bool TIterator::ToWalkedRow()
{
    while (!FDataSet->Eof() && !Walked())
        FDataSet->Next();
    return !FDataSet->Eof();
}

void TIterator::StartProgress()
{
    if (!GroupOperationProgress)
        return;
    const int total = RowsToWalk();
    if (total > GroupOperationProgressThreshold)
        FProgress = GroupOperationProgress(ProgressCaption(FKind), total);
}

bool TIterator::Advance()
{
    ++FWalkedCount;
    if (FProgress && !FProgress->Advance(FWalkedCount))
        FStopped = true;
    return !FStopped;
}

void TIterator::ReportStopped(const QString& what) const
{
    InformationBox(QStringLiteral("Операция прервана. %1 строк: %2.").arg(what).arg(FChangedCount));
}

void TIterator::WriteValue(const Variant& value)
{
    FDataSet->Edit();
    try {
        FField->SetValue(value);
        FDataSet->Post();
    } catch (...) {
        // The refused value must not stay pending for the next move to post.
        if (IsEditing(*FDataSet))
            FDataSet->Cancel();
        throw;
    }
}

void TIterator::Execute()
{
    BeginWalk();
    if (!StartWalk())
        return;
    while (ToWalkedRow() && Advance()) {
        // The row after this one, found before the change can move this one
        // out of the view.
        FDataSet->Next();
        TBookmark followUp;
        if (!FDataSet->Eof()) {
            followUp = FDataSet->GetBookmark();
            FDataSet->Prior();
        }
        if (ProcessRecord())
            ++FChangedCount;
        // Usually the row keeps its place and the follow-up is next to it;
        // finding a bookmark searches the whole view.
        FDataSet->Next();
        if (!followUp.isEmpty() && (FDataSet->Eof() || FDataSet->GetBookmark() != followUp))
            FDataSet->GotoBookmark(followUp);
    }
    EndWalk();
    if (FStopped)
        ReportStopped(QStringLiteral("Изменено"));
}

// ---------------------------------------------------------- TReplaceIterator

void TReplaceIterator::Prepare()
{
    FOldValue = FField->Value();
    const QString place = FAllRows ? QStringLiteral("в ГРАФЕ") : QStringLiteral("в ПОМЕЧЕННЫХ строках");
    const QString caption = FKind == goFill ? QStringLiteral("Заменить %1 все значения на заданное").arg(place)
                                            : QStringLiteral("Заменить %1 одно значение на другое").arg(place);
    Variant value;
    FProceed = AskValue(caption, AskKindOf(*FField), value);
    FNewValue = FProceed ? value : Variant();
}

bool TReplaceIterator::ProcessRecord()
{
    if (FKind == goReplace && FField->Value() != FOldValue)
        return false;
    WriteValue(FNewValue);
    return true;
}

// ------------------------------------------------------------- TInfoIterator

void TInfoIterator::Execute()
{
    BeginWalk();
    // Without a column there is nothing to add up; counting needs none.
    if (FKind == goSum && !IsNumeric(FField))
        return;
    StartProgress();
    if (!WalkInPlace())
        WalkByCursor();
    EndWalk();
    if (FStopped)
        InformationBox(QStringLiteral("Операция прервана."));
    else if (FKind == goSum)
        ShowSum();
    else
        ShowCount();
}

bool TInfoIterator::Take(double value)
{
    if (!Advance())
        return false;
    if (FKind == goSum)
        FSum += value;
    else
        ++FCount;
    return true;
}

bool TInfoIterator::WalkInPlace()
{
    auto* table = qobject_cast<TCustomMemTable*>(FDataSet);
    const TMemRecordMarker& marker = *FDataSource->RecordMarker();
    if (!table || (!FAllRows && marker.DataSet() != table))
        return false;
    // The totals and the rows walked are kept in locals over each batch, not
    // in members written back per row; progress as Advance tells it.
    const auto take = [this](const double* values, size_t count) {
        double sum = FSum;
        int walked = FWalkedCount;
        size_t taken = 0;
        for (; taken < count; ++taken) {
            ++walked;
            if (FProgress && !FProgress->Advance(walked)) {
                FStopped = true;
                break;
            }
            sum += values[taken];
        }
        FWalkedCount = walked;
        if (FKind == goSum)
            FSum = sum;
        else
            FCount += static_cast<int32_t>(taken);
        return !FStopped;
    };
    using TRowHandle = TMemRowStore::TRowHandle;
    const TField* field = FKind == goSum ? FField : nullptr;
    if (FAllRows)
        return table->WalkViewNumbers(
            field, [](TRowHandle) { return true; }, take);
    // By the rows' places where the marker can tell them, else by their
    // identifiers (which reads every row).
    if (const TMarkedRowBits* rows = marker.MarkedRowBits()) {
        TMarkedRowBits::TLookup marked(*rows);
        return table->WalkViewNumbers(
            field, [&marked](TRowHandle row) { return marked.Contains(row); }, take);
    }
    const TMarkBits marks(marker.MarkedRecords());
    return table->WalkViewNumbers(
        field, [&marks](TRowHandle row) { return marks.Contains(TMemRowStore::IdOf(row)); }, take);
}

void TInfoIterator::WalkByCursor()
{
    for (FDataSet->First(); !FDataSet->Eof(); FDataSet->Next())
        if (Walked() && !Take(FKind == goSum && !FField->IsNull() ? FField->AsFloat() : 0.0))
            break;
}

void TInfoIterator::ShowSum() const
{
    const QString pattern = IsIntegerType(FField->DataType()) ? QStringLiteral("#,##0") : QStringLiteral("#,##0.00");
    const QString place = FAllRows ? QStringLiteral("по ВСЕЙ графе ")
                                   : QStringLiteral("по ПОМЕЧЕННЫМ строкам в графе ");
    InformationBox(QStringLiteral("Итого ") + place + FDataSource->GetFieldCaption(FField).trimmed()
                   + QStringLiteral("  ") + FormatFloat(pattern, FSum));
}

void TInfoIterator::ShowCount() const
{
    InformationBox(QStringLiteral("Количество ") + (FAllRows ? QString() : QStringLiteral("ПОМЕЧЕННЫХ"))
                   + QStringLiteral(" строк = ") + QString::number(FCount));
}

// -------------------------------------------------------- TArifmeticIterator

void TArifmeticIterator::Prepare()
{
    FProceed = false;
    if (!IsNumeric(FField))
        return;
    const QString place = FAllRows ? QStringLiteral("в графе") : QStringLiteral("в ПОМЕЧЕННЫХ строках");
    const QString caption = FKind == goAdd ? QStringLiteral("Добавить значение(%1)").arg(place)
                                           : QStringLiteral("Умножить на значение(%1)").arg(place);
    Variant value;
    if (AskValue(caption, AskFloat, value)) {
        FProceed = true;
        FOperand = value.AsDouble();
    }
}

bool TArifmeticIterator::ProcessRecord()
{
    const Variant value = FField->Value();
    WriteValue(FKind == goAdd ? value + Variant(FOperand) : value * Variant(FOperand));
    return true;
}

// -------------------------------------------------------------- TRegIterator

void TRegIterator::Prepare()
{
    FProceed = false;
    if (!IsString(FField))
        return;
    const QString place = FAllRows ? QStringLiteral("графу") : QStringLiteral("ПОМЕЧЕННЫЕ строки");
    const QString question = FKind == goLowerCase ? QStringLiteral("Заменить %1 малыми буквами ?").arg(place)
                                                  : QStringLiteral("Заменить %1 заглавными буквами ?").arg(place);
    FProceed = Confirmed(question);
}

bool TRegIterator::ProcessRecord()
{
    // An empty value stays empty.
    if (FField->IsNull())
        return false;
    const QLocale locale;
    const QString text = FField->AsString();
    WriteValue(FKind == goLowerCase ? locale.toLower(text) : locale.toUpper(text));
    return true;
}

// -------------------------------------------------------------- TDelIterator

bool TDelIterator::NeedDisableControls()
{
    const auto* sds = qobject_cast<const TSDS*>(FDataSet);
    return !(sds && sds->HasDetailDataSets());
}

void TDelIterator::Prepare()
{
    FProceed = Confirmed(FAllRows ? QStringLiteral("Удалить все записи?")
                                  : QStringLiteral("Удалить ПОМЕЧЕННЫЕ записи?"));
}

void TDelIterator::Execute()
{
    BeginWalk();
    FSavedPosition.clear(); // the walk ends where the deleting left the cursor
    if (!StartWalk())
        return;
    while (ToWalkedRow() && Advance() && DeleteCurrent()) {
    }
    EndWalk();
    if (FStopped)
        ReportStopped(QStringLiteral("Удалено"));
}

bool TDelIterator::DeleteCurrent()
{
    const TBookmark row = FDataSet->GetBookmark();
    try {
        FDataSet->Delete(); // the following row becomes current
        ++FChangedCount;
        return true;
    } catch (const EAbort&) {
        // A virtual delete marks the row and ends in a silent abort: the row
        // either left the view or stays, marked deleted, and the walk goes
        // past it. An abort that deleted nothing (a lock the user did not
        // wait for) ends the operation as silently.
        if (FDataSet->GetBookmark() != row) {
            ++FChangedCount;
            return true;
        }
        const auto* sds = qobject_cast<const TSDS*>(FDataSet);
        const TField* state = sds ? sds->StateField() : nullptr;
        if (!state || state->IsNull() || !IsDeletedState(state->AsInteger()))
            throw;
        ++FChangedCount;
        FDataSet->Next();
        return true;
    }
}
