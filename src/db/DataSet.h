// The data set: a cursor over records with fields, states, events and data
// links. Storage is the derived class's: it answers through the Internal*
// hooks by row identifiers and positions in the current view (its order,
// filter and range), so reading record n never walks the table.
#pragma once

#include "FieldDefs.h"
#include "Fields.h"
#include "FilterExpr.h"
#include "IndexDefs.h"
#include "Variant.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <exception>
#include <functional>
#include <memory>
#include <vector>

class TDataSource;

enum TDataSetState { dsInactive, dsBrowse, dsEdit, dsInsert, dsSetKey, dsCalcFields, dsFilter };

// What a data set tells its data sources (and they their links).
enum TDataEvent {
    deFieldChange,     // info: the field
    deRecordChange,    // info: the field, or none for the whole record
    deDataSetChange,   // rows changed: redraw everything
    deDataSetScroll,   // the cursor moved
    deLayoutChange,    // fields or their visibility changed
    deUpdateRecord,    // Post is about to read the editors
    deUpdateState,     // the state changed
    deCheckBrowseMode, // an operation needs the editors written back
};

enum TDataAction { daFail, daAbort, daRetry };

enum TLocateOption : uint8_t { loCaseInsensitive = 1, loPartialKey = 2 };
using TLocateOptions = uint8_t;

// A record's identity: stable while the record exists, whatever the order.
using TRecordId = uint64_t;
inline constexpr TRecordId NoRecord = 0;
// Bookmarks are byte strings, compared as strings.
using TBookmark = QByteArray;

class TDataSet;
using TDataSetNotifyEvent = std::function<void(TDataSet* dataSet)>;
using TDataSetErrorEvent = std::function<void(TDataSet* dataSet, const std::exception& error, TDataAction& action)>;
using TFilterRecordEvent = std::function<void(TDataSet* dataSet, bool& accept)>;

class TDataSet : public QObject
{
    Q_OBJECT
public:
    explicit TDataSet(QObject* owner = nullptr);
    ~TDataSet() override;

    // --- Structure
    TFieldDefs& FieldDefs() { return FFieldDefs; }
    const TFieldDefs& FieldDefs() const { return FFieldDefs; }
    TIndexDefs& IndexDefs() { return FIndexDefs; }
    const TIndexDefs& IndexDefs() const { return FIndexDefs; }
    const TFields& Fields() const { return FFields; }
    int FieldCount() const { return FFields.Count(); }
    TField* FindField(const QString& name) const { return FFields.FindField(name); }
    TField* FieldByName(const QString& name) const { return FFields.FieldByName(name); }
    // Fields for a ';'-separated list; raises for an unknown name.
    std::vector<TField*> GetFieldList(const QString& names) const;
    // True when the fields were created at open from the definitions (and
    // are destroyed at close), false for persistent fields.
    bool DefaultFields() const { return FDefaultFields; }
    Variant FieldValues(const QString& name) const { return FieldByName(name)->Value(); }
    void SetFieldValues(const QString& name, const Variant& value) { FieldByName(name)->SetValue(value); }

    // --- Opening and closing
    bool Active() const { return FState != dsInactive; }
    virtual void SetActive(bool value);
    void Open() { SetActive(true); }
    void Close() { SetActive(false); }
    TDataSetState State() const { return FState; }
    // Raises EDatabaseError "<name>: Cannot perform this operation on a closed dataset".
    void CheckActive() const;
    void CheckInactive() const;

    // --- Navigation in the current view
    void First();
    void Last();
    void Next();
    void Prior();
    int MoveBy(int distance); // returns the distance moved
    bool Bof() const { return FBof; }
    bool Eof() const { return FEof; }
    bool IsEmpty() const;
    int RecordCount() const;
    int RecNo() const; // 1-based; 0 without a current record
    // The view position of the record the fields show: the cursor's, or for
    // an unposted insert the one its row takes (RecordCount() when
    // appending); -1 without a record. Grids place the new row by it.
    int ActivePosition() const;
    void SetRecNo(int recNo);
    // Redraws from the storage: the current row kept when it is still in view.
    void Resync();
    void Refresh();

    // --- Editing
    void Append();
    void Insert();
    void Edit();
    void Post();
    void Cancel();
    void Delete();
    // Posts a pending edit or insert (raises when it fails).
    void CheckBrowseMode();
    // Has the controls write the values they hold into the fields, as Post
    // does first; only in edit and insert.
    void UpdateRecord();
    bool Modified() const { return FModified; }
    bool CanModify() const { return Active() && !FReadOnly; }
    bool ReadOnly() const { return FReadOnly; }
    void SetReadOnly(bool value) { FReadOnly = value; }
    void ClearFields();

    // --- Bookmarks
    TBookmark GetBookmark() const;
    void GotoBookmark(const TBookmark& bookmark); // raises "Record not found" when invalid
    bool BookmarkValid(const TBookmark& bookmark) const;
    static int CompareBookmarks(const TBookmark& a, const TBookmark& b);

    // --- Key buffer: SetKey switches the fields to a buffer of search values
    // (state dsSetKey), empty; EditKey does so keeping the values it held. A
    // derived class's GotoKey reads it back. Virtual, as the key searches of
    // a derived class are.
    virtual void SetKey();
    virtual void EditKey();
    // Fields assigned in the key buffer; unassigned ones are empty.
    const std::vector<Variant>& KeyBuffer() const { return FKeyRecord; }

    // --- Searching
    // Key values: one variant per key field (an array for two or more).
    bool Locate(const QString& keyFields, const Variant& keyValues, TLocateOptions options = 0);
    // The result fields of the first matching record without moving (an
    // array for two or more fields); null when none matches.
    virtual Variant Lookup(const QString& keyFields, const Variant& keyValues, const QString& resultFields);

    // --- Filtering
    const QString& Filter() const { return FFilterText; }
    void SetFilter(const QString& text);
    bool Filtered() const { return FFiltered; }
    void SetFiltered(bool value);
    TFilterOptions FilterOptions() const { return FFilterOptions; }
    void SetFilterOptions(TFilterOptions options);
    // A second expression, independent of Filtered, that an incremental
    // search sets; empty text switches it off.
    const QString& SearchFilter() const { return FSearchText; }
    void SetSearchFilter(const QString& text);
    // Whether the filters (expression and OnFilterRecord when Filtered, and
    // the search filter) admit a row.
    bool RecordPassesFilter(TRecordId row);

    // --- Calculated fields and controls
    bool AutoCalcFields() const { return FAutoCalcFields; }
    void SetAutoCalcFields(bool value) { FAutoCalcFields = value; }
    void DisableControls();
    void EnableControls();
    bool ControlsDisabled() const { return FDisableCount > 0; }
    // Data sets linked to this one as their master.
    QList<TDataSet*> GetDetailDataSets() const;

    // Makes the fields read the row at a view position without moving the
    // cursor or raising events (for painting many rows); returns the
    // previous position. A negative position returns to the cursor.
    int SetDisplayPosition(int position);
    // The fields read the row at a view position (-1: the cursor's) until
    // the scope ends; the position found is given back then.
    class TDisplayScope
    {
    public:
        TDisplayScope(TDataSet& dataSet, int position)
            : FDataSet(dataSet), FPrevious(dataSet.SetDisplayPosition(position))
        {
        }
        ~TDisplayScope() { FDataSet.SetDisplayPosition(FPrevious); }
        TDisplayScope(const TDisplayScope&) = delete;
        TDisplayScope& operator=(const TDisplayScope&) = delete;

    private:
        TDataSet& FDataSet;
        int FPrevious;
    };

    // --- Events
    TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;
    TDataSetNotifyEvent BeforeInsert, AfterInsert, BeforeEdit, AfterEdit;
    TDataSetNotifyEvent BeforePost, AfterPost, BeforeCancel, AfterCancel;
    TDataSetNotifyEvent BeforeDelete, AfterDelete, BeforeScroll, AfterScroll;
    TDataSetNotifyEvent OnNewRecord, OnCalcFields;
    TFilterRecordEvent OnFilterRecord;
    TDataSetErrorEvent OnPostError, OnDeleteError, OnEditError;

protected:
    // Before an edit, insert or delete: raises unless the data set may be
    // changed; a derived class may refuse for reasons of its own, in its own words.
    virtual void CheckCanModify() const;

    // Whether a user's event is held back instead of raised: every event
    // passes here, so a data set that holds some while it fills itself says
    // so in this one place.
    virtual bool HoldsEvent(const TDataSetNotifyEvent& event) const
    {
        (void)event;
        return false;
    }

    // Event hooks: each raises its event; derived classes wrap them.
    virtual void DoBeforeOpen() { Raise(BeforeOpen); }
    virtual void DoAfterOpen() { Raise(AfterOpen); }
    virtual void DoBeforeClose() { Raise(BeforeClose); }
    virtual void DoAfterClose() { Raise(AfterClose); }
    virtual void DoBeforeInsert() { Raise(BeforeInsert); }
    virtual void DoAfterInsert() { Raise(AfterInsert); }
    virtual void DoBeforeEdit() { Raise(BeforeEdit); }
    virtual void DoAfterEdit() { Raise(AfterEdit); }
    virtual void DoBeforePost() { Raise(BeforePost); }
    virtual void DoAfterPost() { Raise(AfterPost); }
    virtual void DoBeforeCancel() { Raise(BeforeCancel); }
    virtual void DoAfterCancel() { Raise(AfterCancel); }
    virtual void DoBeforeDelete() { Raise(BeforeDelete); }
    virtual void DoAfterDelete() { Raise(AfterDelete); }
    virtual void DoBeforeScroll() { Raise(BeforeScroll); }
    virtual void DoAfterScroll() { Raise(AfterScroll); }
    virtual void DoOnNewRecord() { Raise(OnNewRecord); }
    virtual void DoOnCalcFields() { Raise(OnCalcFields); }

    // --- Storage, by the derived class
    virtual void InternalOpen() = 0; // field definitions ready, rows loaded
    virtual void InternalClose() = 0;
    virtual void InternalInitFieldDefs() {}
    virtual int InternalViewCount() const = 0;
    virtual TRecordId InternalViewRow(int position) const = 0;
    virtual int InternalViewPosition(TRecordId row) const = 0; // -1 when not in view
    virtual bool InternalRowExists(TRecordId row) const = 0;
    // Stored values by field index (only stored fields are asked).
    virtual Variant InternalGetValue(TRecordId row, const TField& field) const = 0;
    // Writes a new row (before the row at position, or at the end for -1)
    // or replaces a row's stored values; values are by field index.
    virtual TRecordId InternalInsertRow(const std::vector<Variant>& values, int position) = 0;
    virtual void InternalUpdateRow(TRecordId row, const std::vector<Variant>& values) = 0;
    virtual void InternalDeleteRow(TRecordId row) = 0;
    // The view must be rebuilt: the filter changed.
    virtual void InternalRefreshView() = 0;
    // Before an edit starts; may refuse it by raising.
    virtual void InternalEdit() {}
    // The stored fields' values of a row into record (by field index): every
    // stored field's slot is written, other slots are left alone; the
    // default asks InternalGetValue per field.
    virtual void InternalReadRecord(TRecordId row, std::vector<Variant>& record) const;
    // Whether fields may read the shown row straight from the storage
    // (InternalViewValue), so a move need not fill the record: a walk then
    // reads only the fields it asks for, and those without variants. A data
    // set saying so reads every stored value through InternalViewValue or
    // InternalGetValue, never through an override of InternalReadRecord.
    virtual bool InternalReadsInPlace() const { return false; }
    // A stored field's value of a row in place (see TValueView); vkNone
    // where the storage has no view of it.
    virtual TValueView InternalViewValue(TRecordId row, const TField& field) const
    {
        (void)row;
        (void)field;
        return {};
    }
    // Locate over the view; the default scans it.
    virtual int InternalLocate(const std::vector<TField*>& fields, const std::vector<Variant>& values,
                               TLocateOptions options);

    // Decides whether a row passes while Filtered is on, after the filter
    // expression: the default raises OnFilterRecord. A derived class adds its
    // own visibility rule here; it reads the row being tested through the
    // fields (which show FilterRow() meanwhile) or by FilterRow() itself,
    // never through the cursor, which stays on the current record.
    virtual void DoFilterRecord(bool& accept)
    {
        if (OnFilterRecord)
            OnFilterRecord(this, accept);
    }
    // Switches to dsSetKey with these values in the key buffer (by field
    // index; missing ones empty): for a derived class that keeps several
    // buffers (range start and end).
    void BeginKeyEdit(std::vector<Variant> values);
    // The row a filter is testing, NoRecord while none is.
    TRecordId FilterRow() const { return FFilterRow; }
    // Runs test with the fields showing row, as a filter sees it (for a rule
    // that asks handlers about rows other than the current one); the cursor
    // stays where it is.
    bool TestRow(TRecordId row, const std::function<bool()>& test);
    // The edited record's values as they were when Edit began, by field
    // index; empty outside dsEdit (Post, Cancel and Delete clear them, and an
    // inserted record has none). For a derived class that must know what
    // changed, or find the stored row by its old key.
    const std::vector<Variant>& OldRecord() const { return FOldRecord; }
    // The edited record's values as they are now become its old ones: for an
    // edit that has just read the record again from its source.
    void KeepRecordAsOld()
    {
        if (FState == dsEdit)
            FOldRecord = FRecord;
    }

    // Called when the record shown changes (after moves and posts): refreshes
    // calculated and lookup fields and tells the data sources.
    void DataEvent(TDataEvent event, const void* info = nullptr);
    // The master of a detail link, for GetDetailDataSets.
    virtual TDataSet* MasterDataSetOf() const { return nullptr; }

    void SetState(TDataSetState state);
    // Raises EDatabaseError with the data set's name before the message.
    [[noreturn]] void DatabaseError(const QString& message) const;
    // Creates one field per definition that has none (default fields).
    void CreateFields();
    // A field shaped by a definition (type, size, flags), not yet in any data set.
    static std::unique_ptr<TField> NewFieldFromDef(const TFieldDef& def, QObject* owner);
    void DestroyDefaultFields();
    // Runs op; a failure goes to the error event, which may retry it, abort
    // silently or let it fail.
    void CheckOperation(const std::function<void()>& op, const TDataSetErrorEvent& errorEvent);
    TRecordId CurrentRow() const { return FCurrentRow; }
    // The row the fields show: the one at the display position while one is
    // set (a row being painted), else the cursor's.
    TRecordId ShownRow() const { return FDisplayPosition >= 0 ? FDisplayRow : FCurrentRow; }
    // Re-reads calculated and lookup fields of the shown record.
    void CalculateFields();

private:
    friend class TField;
    friend class TDataSource;

    void Raise(const TDataSetNotifyEvent& event)
    {
        if (event && !HoldsEvent(event))
            event(this);
    }
    void OpenCursor();
    void CloseCursor();
    void MoveTo(int position); // no events; sets Bof/Eof
    void ScrollTo(int position, bool bofAtStart, bool eofAtEnd);
    void BeginInsertAppend(bool append);
    void CheckRequiredFields();
    void FillRecordBuffer(TRecordId row);
    // Shows the row the cursor moved to: the record is filled, or only
    // marked pending where fields read the row in place.
    void ShowRow(TRecordId row);
    // Fills a pending record (the record caches the row; const for reads).
    void EnsureRecord() const;
    bool LocateRecord(const QString& keyFields, const Variant& keyValues, TLocateOptions options, int& position);
    void ApplyFilterChange();
    void AddDataSource(TDataSource* source);
    void RemoveDataSource(TDataSource* source);

    // Field values for the fields' reads and writes.
    Variant GetFieldValue(const TField& field) const;
    // Where GetFieldValue reads the value from a record buffer: that slot
    // (valid until the next move or write); null otherwise.
    const Variant* ShownFieldValue(const TField& field) const;
    // The shown row's stored value in place, while the record is pending;
    // vkNone otherwise (read ShownFieldValue then).
    TValueView ShownFieldView(const TField& field) const
    {
        if (!FRecordPending || FState != dsBrowse || FDisplayPosition >= 0 || FFilterRow != NoRecord
            || !field.IsStored())
            return {};
        return InternalViewValue(FCurrentRow, field);
    }
    void SetFieldValue(TField& field, const Variant& value);
    Variant GetOldFieldValue(const TField& field) const;
    void AddField(TField* field);
    void RemoveField(TField* field);
    // Tells every field its place in the list after the list changed.
    void NumberFields();

    TFieldDefs FFieldDefs;
    TIndexDefs FIndexDefs;
    TFields FFields;
    bool FDefaultFields = false;
    TDataSetState FState = dsInactive;
    bool FBof = true;
    bool FEof = true;
    TRecordId FCurrentRow = NoRecord;
    int FCurrentPosition = -1;
    int FInsertPosition = -1;         // where an Insert puts its row (-1: append)
    std::vector<Variant> FRecord;     // the shown record's values, by field index
    bool FRecordPending = false;      // FRecord is still to be read from FCurrentRow
    std::vector<Variant> FOldRecord;  // before the edit started
    int FDisplayPosition = -1;        // a row shown without moving, or -1
    TRecordId FDisplayRow = NoRecord; // the row at FDisplayPosition
    std::vector<Variant> FDisplayRecord;
    std::vector<Variant> FKeyRecord; // search values while in dsSetKey
    TRecordId FFilterRow = NoRecord; // the row a filter is testing
    bool FModified = false;
    bool FReadOnly = false;
    bool FAutoCalcFields = true;
    bool FInCalcFields = false;
    QString FFilterText;
    bool FFiltered = false;
    TFilterOptions FFilterOptions = 0;
    std::unique_ptr<TFilterExpression> FFilterExpression;
    QString FSearchText;
    std::unique_ptr<TFilterExpression> FSearchExpression;
    int FDisableCount = 0;
    bool FStateChangedWhileDisabled = false;
    QList<TDataSource*> FDataSources;
};
