// Data sources connect a data set to its controls: every data event of the
// data set reaches each link of each enabled source.
#pragma once

#include "DataSet.h"

#include <QList>
#include <QObject>
#include <functional>

class TDataLink;
class TDataSource;

using TDataChangeEvent = std::function<void(TDataSource* sender, TField* field)>;
using TNotifyEvent = std::function<void(QObject* sender)>;

class TDataSource : public QObject
{
    Q_OBJECT
public:
    explicit TDataSource(QObject* owner = nullptr);
    ~TDataSource() override;

    TDataSet* DataSet() const { return FDataSet; }
    void SetDataSet(TDataSet* dataSet);
    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool value);
    // Typing into a control of a browsing data set starts an edit.
    bool AutoEdit() const { return FAutoEdit; }
    void SetAutoEdit(bool value) { FAutoEdit = value; }
    // The data set's state, or inactive without one or while disabled.
    TDataSetState State() const;
    // Starts an edit when AutoEdit allows it; false when the data set stays browsing.
    bool Edit();

    TDataChangeEvent OnDataChange; // record changed (field or none), scrolled, data set changed
    TNotifyEvent OnStateChange;
    TDataChangeEvent OnUpdateData; // Post is about to read the editors

    const QList<TDataLink*>& DataLinks() const { return FDataLinks; }
    // Tells every link of an event, whatever the data set's state (a record
    // marker redraws the controls so).
    void NotifyLinks(TDataEvent event, const void* info);

protected:
    virtual void DataEvent(TDataEvent event, const void* info);

private:
    friend class TDataSet;
    friend class TDataLink;

    TDataSet* FDataSet = nullptr;
    bool FEnabled = true;
    bool FAutoEdit = true;
    TDataSetState FState = dsInactive;
    QList<TDataLink*> FDataLinks;
};

// A control's connection to a data source. Override the hooks.
class TDataLink
{
public:
    TDataLink() = default;
    virtual ~TDataLink();
    TDataLink(const TDataLink&) = delete;
    TDataLink& operator=(const TDataLink&) = delete;

    TDataSource* DataSource() const { return FDataSource; }
    void SetDataSource(TDataSource* source);
    TDataSet* DataSet() const { return FDataSource ? FDataSource->DataSet() : nullptr; }
    // The data set is open and the source enabled.
    bool Active() const { return FActive; }
    bool Editing() const { return FEditing; }
    bool Edit(); // asks the source to start an edit
    // Called by Post through deUpdateRecord: write the control's value.
    void UpdateRecord();

protected:
    virtual void ActiveChanged() {}
    virtual void EditingChanged() {}
    virtual void DataSetChanged() { RecordChanged(nullptr); }
    virtual void DataSetScrolled(int /*distance*/) { DataSetChanged(); }
    virtual void LayoutChanged() { DataSetChanged(); }
    virtual void RecordChanged(TField* /*field*/) {}
    virtual void UpdateData() {}
    virtual void CheckBrowseMode() {}

private:
    friend class TDataSource;
    void DataEvent(TDataEvent event, const void* info);
    void UpdateState();

    TDataSource* FDataSource = nullptr;
    bool FActive = false;
    bool FEditing = false;
    bool FUpdating = false;
};

// The link of a control that shows one field.
class TFieldDataLink : public TDataLink
{
public:
    const QString& FieldName() const { return FFieldName; }
    void SetFieldName(const QString& name);
    TField* Field() const { return FField; }
    // Whether the field can be changed now (starting an edit if allowed).
    bool CanModify() const;
    void Modified() { FModified = true; }
    void Reset(); // shows the field's value again, dropping the change

    std::function<void()> OnDataChange; // the field's value changed
    std::function<void()> OnEditingChange;
    std::function<void()> OnUpdateData; // write the control's value into the field
    std::function<void()> OnActiveChange;

protected:
    void ActiveChanged() override;
    void EditingChanged() override;
    void LayoutChanged() override;
    void RecordChanged(TField* field) override;
    void UpdateData() override;

private:
    void UpdateField();

    QString FFieldName;
    TField* FField = nullptr;
    bool FModified = false;
};
