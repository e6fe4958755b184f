// TDBEdit: a single-line edit of one field of a data source's current record.
// Typing starts an edit of the record (when the field and the data set allow
// it); the text goes into the field when the record is posted, on Enter, or
// when the edit loses the focus; Esc shows the field's value again.
#pragma once

#include "DataSource.h"

#include <QLineEdit>

class TDBEdit : public QLineEdit
{
    Q_OBJECT
public:
    explicit TDBEdit(QWidget* parent = nullptr);
    ~TDBEdit() override;

    TDataSource* DataSource() const { return FDataLink.DataSource(); }
    void SetDataSource(TDataSource* source);
    const QString& DataField() const { return FDataLink.FieldName(); }
    void SetDataField(const QString& name);
    TField* Field() const { return FDataLink.Field(); }
    TFieldDataLink& DataLink() { return FDataLink; }
    // The edit's own switch; a read-only field or data set is read-only anyway.
    bool ReadOnly() const { return FReadOnly; }
    void SetReadOnly(bool value);
    bool Modified() const { return FModified; }

    // The selected text, replaced as typing would.
    QString SelText() const { return selectedText(); }
    void SetSelText(const QString& text);
    // Writes a changed text into the field; shows the error and answers
    // false when the field refuses it.
    bool UpdateRecord();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void ShowFieldText();
    bool CanEdit();
    void UpdateReadOnly();

    TFieldDataLink FDataLink;
    bool FReadOnly = false;
    bool FModified = false;
    bool FShowing = false;
};
