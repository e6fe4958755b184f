#include "DataSource.h"

namespace {

bool IsEditState(TDataSetState state) { return state == dsEdit || state == dsInsert || state == dsSetKey; }

} // namespace

// --- TDataSource

TDataSource::TDataSource(QObject* owner) : QObject(owner) {}

TDataSource::~TDataSource()
{
    OnStateChange = nullptr;
    OnDataChange = nullptr;
    SetDataSet(nullptr);
    while (!FDataLinks.isEmpty())
        FDataLinks.last()->SetDataSource(nullptr);
}

void TDataSource::SetDataSet(TDataSet* dataSet)
{
    if (dataSet == FDataSet)
        return;
    // Links leave the old data set before they see the new one, so that
    // field links bind afresh even when both are open.
    if (TDataSet* old = FDataSet) {
        QObject::disconnect(old, nullptr, this, nullptr);
        FDataSet = nullptr;
        old->RemoveDataSource(this);
        DataEvent(deUpdateState, nullptr);
    }
    FDataSet = dataSet;
    if (dataSet) {
        dataSet->AddDataSource(this);
        // A data set destroyed first takes its fields along: the links must
        // let go of them.
        connect(dataSet, &QObject::destroyed, this, [this] {
            FDataSet = nullptr;
            DataEvent(deUpdateState, nullptr);
        });
        FDataSet = dataSet;
        DataEvent(deUpdateState, nullptr);
    }
}

void TDataSource::SetEnabled(bool value)
{
    if (FEnabled == value)
        return;
    FEnabled = value;
    DataEvent(deUpdateState, nullptr);
}

TDataSetState TDataSource::State() const { return FState; }

bool TDataSource::Edit()
{
    if (!FDataSet || !FEnabled)
        return false;
    if (FAutoEdit && FDataSet->State() == dsBrowse)
        FDataSet->Edit();
    // The data set's own state: while its controls are disabled ours lags.
    return IsEditState(FDataSet->State());
}

void TDataSource::DataEvent(TDataEvent event, const void* info)
{
    if (event == deUpdateState) {
        const TDataSetState state = FEnabled && FDataSet ? FDataSet->State() : dsInactive;
        if (state == FState)
            return;
        const TDataSetState prior = FState;
        FState = state;
        NotifyLinks(deUpdateState, nullptr);
        if (OnStateChange)
            OnStateChange(this);
        // Controls that just became active show the first record.
        if (prior == dsInactive && OnDataChange)
            OnDataChange(this, nullptr);
        return;
    }
    if (FState == dsInactive)
        return;
    NotifyLinks(event, info);
    switch (event) {
    case deFieldChange:
    case deRecordChange:
        if (OnDataChange)
            OnDataChange(this, static_cast<TField*>(const_cast<void*>(info)));
        break;
    case deDataSetChange:
    case deDataSetScroll:
    case deLayoutChange:
        if (OnDataChange)
            OnDataChange(this, nullptr);
        break;
    case deUpdateRecord:
        if (OnUpdateData)
            OnUpdateData(this, nullptr);
        break;
    default: break;
    }
}

void TDataSource::NotifyLinks(TDataEvent event, const void* info)
{
    // A link may detach (or others attach) while it handles the event.
    const QList<TDataLink*> links = FDataLinks;
    for (TDataLink* link : links)
        if (FDataLinks.contains(link))
            link->DataEvent(event, info);
}

// --- TDataLink

TDataLink::~TDataLink()
{
    // Too late for the hooks of a derived link: detach quietly.
    if (FDataSource)
        FDataSource->FDataLinks.removeOne(this);
    FDataSource = nullptr;
}

void TDataLink::SetDataSource(TDataSource* source)
{
    if (source == FDataSource)
        return;
    if (FDataSource)
        FDataSource->FDataLinks.removeOne(this);
    FDataSource = source;
    if (source)
        source->FDataLinks.append(this);
    UpdateState();
}

bool TDataLink::Edit() { return FDataSource && FDataSource->Edit(); }

void TDataLink::UpdateRecord()
{
    // The control's own write raises deFieldChange: it must not reload the control.
    struct TUpdating
    {
        bool& Flag;
        explicit TUpdating(bool& flag) : Flag(flag) { Flag = true; }
        ~TUpdating() { Flag = false; }
    } updating(FUpdating);
    UpdateData();
}

void TDataLink::UpdateState()
{
    const TDataSetState state = FDataSource ? FDataSource->State() : dsInactive;
    const bool active = state != dsInactive;
    if (FActive != active) {
        FActive = active;
        ActiveChanged();
    }
    const bool editing = IsEditState(state);
    if (FEditing != editing) {
        FEditing = editing;
        EditingChanged();
    }
}

void TDataLink::DataEvent(TDataEvent event, const void* info)
{
    if (event == deUpdateState) {
        UpdateState();
        return;
    }
    if (!FActive)
        return;
    switch (event) {
    case deFieldChange:
    case deRecordChange:
        if (!FUpdating)
            RecordChanged(static_cast<TField*>(const_cast<void*>(info)));
        break;
    case deDataSetChange: DataSetChanged(); break;
    case deDataSetScroll: DataSetScrolled(0); break;
    case deLayoutChange: LayoutChanged(); break;
    case deUpdateRecord: UpdateRecord(); break;
    case deCheckBrowseMode: CheckBrowseMode(); break;
    case deUpdateState: break;
    }
}

// --- TFieldDataLink

void TFieldDataLink::SetFieldName(const QString& name)
{
    if (FFieldName == name)
        return;
    FFieldName = name;
    UpdateField();
}

void TFieldDataLink::UpdateField()
{
    TField* field = nullptr;
    if (Active() && !FFieldName.isEmpty())
        field = DataSet()->FieldByName(FFieldName);
    if (field == FField)
        return;
    FField = field;
    EditingChanged();
    RecordChanged(nullptr);
}

bool TFieldDataLink::CanModify() const
{
    if (!Active() || !FField || FField->ReadOnly() || FField->FieldKind() != fkData)
        return false;
    TDataSet* dataSet = DataSet();
    if (!dataSet || !dataSet->CanModify())
        return false;
    return DataSource()->Edit();
}

void TFieldDataLink::Reset() { RecordChanged(nullptr); }

void TFieldDataLink::ActiveChanged()
{
    UpdateField();
    if (OnActiveChange)
        OnActiveChange();
}

void TFieldDataLink::EditingChanged()
{
    FModified = false;
    if (OnEditingChange)
        OnEditingChange();
}

void TFieldDataLink::LayoutChanged() { UpdateField(); }

void TFieldDataLink::RecordChanged(TField* field)
{
    if (field && field != FField)
        return;
    if (OnDataChange)
        OnDataChange();
    FModified = false;
}

void TFieldDataLink::UpdateData()
{
    if (!FModified)
        return;
    if (FField && OnUpdateData)
        OnUpdateData();
    FModified = false;
}
