#include "DBEdit.h"

#include "Application.h"
#include "Dialogs.h"

#include <QKeyEvent>

TDBEdit::TDBEdit(QWidget* parent) : QLineEdit(parent)
{
    FDataLink.OnDataChange = [this] { ShowFieldText(); };
    FDataLink.OnEditingChange = [this] { UpdateReadOnly(); };
    FDataLink.OnActiveChange = [this] {
        UpdateReadOnly();
        ShowFieldText();
    };
    FDataLink.OnUpdateData = [this] {
        if (TField* field = FDataLink.Field(); field && FModified)
            field->SetText(text());
        FModified = false;
    };
    connect(this, &QLineEdit::textEdited, this, [this] {
        FModified = true;
        FDataLink.Modified();
    });
    UpdateReadOnly();
}

TDBEdit::~TDBEdit()
{
    FDataLink.OnDataChange = nullptr;
    FDataLink.OnEditingChange = nullptr;
    FDataLink.OnActiveChange = nullptr;
    FDataLink.OnUpdateData = nullptr;
    FDataLink.SetDataSource(nullptr);
}

void TDBEdit::SetDataSource(TDataSource* source)
{
    FDataLink.SetDataSource(source);
    UpdateReadOnly();
    ShowFieldText();
}

void TDBEdit::SetDataField(const QString& name)
{
    FDataLink.SetFieldName(name);
    UpdateReadOnly();
    ShowFieldText();
}

void TDBEdit::SetReadOnly(bool value)
{
    FReadOnly = value;
    UpdateReadOnly();
}

void TDBEdit::UpdateReadOnly()
{
    TField* field = FDataLink.Field();
    TDataSet* dataSet = FDataLink.DataSet();
    const bool writable = field && dataSet && dataSet->CanModify() && !field->ReadOnly()
                          && field->FieldKind() == fkData;
    setReadOnly(FReadOnly || !writable);
}

void TDBEdit::ShowFieldText()
{
    TField* field = FDataLink.Field();
    FModified = false;
    if (!field) {
        clear();
        return;
    }
    // The edit text while the user works in it, the display text otherwise.
    setText(hasFocus() || FDataLink.Editing() ? field->Text() : field->DisplayText());
    if (field->DataType() == ftString && field->Size() > 0)
        setMaxLength(field->Size());
}

bool TDBEdit::CanEdit()
{
    if (isReadOnly())
        return false;
    // Starting the edit shows the field again: the user's selection stays.
    const QString before = text();
    const int start = selectionStart();
    const int length = selectionLength();
    const int cursor = cursorPosition();
    bool editing = false;
    HandleExceptions([&] { editing = FDataLink.CanModify(); });
    if (text() == before) {
        if (start >= 0)
            setSelection(start, length);
        else
            setCursorPosition(cursor);
    }
    return editing;
}

bool TDBEdit::UpdateRecord()
{
    if (!FModified)
        return true;
    bool written = false;
    HandleExceptions([&] {
        FDataLink.UpdateRecord();
        written = true;
    });
    return written;
}

void TDBEdit::SetSelText(const QString& text)
{
    if (!CanEdit())
        return;
    insert(text);
    FModified = true;
    FDataLink.Modified();
}

void TDBEdit::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
        if (FModified) {
            FDataLink.Reset();
            selectAll();
            event->accept();
            return;
        }
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        UpdateRecord();
        selectAll();
        event->accept();
        return;
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
        if (!CanEdit()) {
            event->accept();
            return;
        }
        break;
    default:
        if (!event->text().isEmpty() && event->text().front().isPrint()
            && !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) && !CanEdit()) {
            Beep();
            event->accept();
            return;
        }
    }
    QLineEdit::keyPressEvent(event);
}

void TDBEdit::focusInEvent(QFocusEvent* event)
{
    if (!FModified)
        ShowFieldText();
    QLineEdit::focusInEvent(event);
}

void TDBEdit::focusOutEvent(QFocusEvent* event)
{
    // A text the field refuses keeps the edit as it is, the error shown.
    if (UpdateRecord() && !FDataLink.Editing())
        ShowFieldText();
    QLineEdit::focusOutEvent(event);
}
