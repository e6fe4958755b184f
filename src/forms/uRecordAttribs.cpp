#include "uRecordAttribs.h"

#include "Application.h"
#include "Dialogs.h"
#include "Fields.h"
#include "SButton.h"
#include "SDS.h"
#include "SDataSource.h"
#include "SDatabase.h"
#include "ULevelChangeForm.h"
#include "URecordMarker.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QStyle>

namespace {

const QString UnknownOwner = QStringLiteral(" - ??? - ");

QFrame* NewBevel(QWidget* parent, const char* name, const QRect& geometry)
{
    auto* bevel = new QFrame(parent);
    bevel->setObjectName(QString::fromLatin1(name));
    bevel->setFrameShape(QFrame::HLine);
    bevel->setFrameShadow(QFrame::Sunken);
    bevel->setGeometry(geometry);
    return bevel;
}

QLabel* NewLabel(QWidget* parent, const char* name, const QString& text, const QRect& geometry)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(geometry);
    return label;
}

// Restores the cursor and the controls of a data set however a walk ends.
class TWalkScope
{
public:
    explicit TWalkScope(TSDS& data) : FData(data), FStart(data.IsEmpty() ? TBookmark() : data.GetBookmark())
    {
        data.DisableControls();
    }
    ~TWalkScope()
    {
        try {
            if (!FStart.isEmpty())
                FData.GotoBookmark(FStart);
        } catch (...) {
            // the starting record left the level: the cursor stays where the walk ended
        }
        FData.EnableControls();
    }
    TWalkScope(const TWalkScope&) = delete;
    TWalkScope& operator=(const TWalkScope&) = delete;

private:
    TSDS& FData;
    TBookmark FStart;
};

} // namespace

TfrmRecordAttrs::TfrmRecordAttrs(QWidget* parent) : TForm(parent)
{
    setObjectName(QStringLiteral("frmRecordAttrs"));
    SetDesignFont();
    setWindowTitle(QStringLiteral("Аттрибуты записи"));
    SetClientSize(276, 205);
    SetBorderStyle(bsDialog);
    SetPosition(poMainFormCenter);

    Label1 = NewLabel(this, "Label1", QStringLiteral("Владелец записи:"), {8, 8, 100, 16});
    Label1->setFont(BoldFont(Label1->font()));
    Label1->adjustSize();
    const int ownerLeft = Label1->geometry().right() + 6;
    lblOwner = NewLabel(this, "lblOwner", QString(), {ownerLeft, 8, 202 - ownerLeft, 16});
    btnChangeUser = new TSButton(this);
    btnChangeUser->setObjectName(QStringLiteral("btnChangeUser"));
    btnChangeUser->SetText(QStringLiteral("Сменить"));
    btnChangeUser->setGeometry(206, 5, 62, 21);
    btnChangeUser->OnClick = [this](TSButton*) { btnChangeUserClick(); };
    lblSYS_TIME = NewLabel(this, "lblSYS_TIME", QString(), {8, 30, 260, 16});
    Bevel1 = NewBevel(this, "Bevel1", {4, 50, 268, 2});

    Label2 = NewLabel(this, "Label2", QStringLiteral("Тип:"), {8, 58, 40, 16});
    Label2->setFont(BoldFont(Label2->font()));
    rbLevelRecord = new QRadioButton(QStringLiteral("\"Уровневая запись\""), this);
    rbLevelRecord->setObjectName(QStringLiteral("rbLevelRecord"));
    rbLevelRecord->setGeometry(50, 56, 190, 18);
    rgListRecord = new QRadioButton(QStringLiteral("\"Листовая запись\""), this);
    rgListRecord->setObjectName(QStringLiteral("rgListRecord"));
    rgListRecord->setGeometry(50, 76, 190, 18);
    btnCallMenu = new TSButton(this);
    btnCallMenu->setObjectName(QStringLiteral("btnCallMenu"));
    btnCallMenu->setGeometry(244, 60, 24, 24);
    btnCallMenu->SetGlyph(style()->standardIcon(QStyle::SP_ArrowDown).pixmap(12, 12));
    btnCallMenu->setToolTip(QStringLiteral("Изменить \"родителя\""));
    btnCallMenu->OnClick = [this](TSButton*) { btnCallMenuClick(); };
    Bevel2 = NewBevel(this, "Bevel2", {4, 98, 268, 2});

    chDeletedRecord = new QCheckBox(QStringLiteral("Запись удалена"), this);
    chDeletedRecord->setObjectName(QStringLiteral("chDeletedRecord"));
    chDeletedRecord->setGeometry(8, 106, 160, 18);
    SButton2 = new TSButton(this);
    SButton2->setObjectName(QStringLiteral("SButton2"));
    SButton2->SetText(QStringLiteral("История"));
    SButton2->setGeometry(206, 104, 62, 21);
    SButton2->OnClick = [this](TSButton*) { SButton2Click(); };
    Bevel3 = NewBevel(this, "Bevel3", {4, 130, 268, 2});

    lblID = NewLabel(this, "lblID", QString(), {8, 140, 120, 16});
    lblID->setToolTip(QStringLiteral("Двойной щелчок копирует идентификатор"));
    lblID->installEventFilter(this);
    btnSubjects = new QPushButton(QStringLiteral("Субъекты"), this);
    btnSubjects->setObjectName(QStringLiteral("btnSubjects"));
    btnSubjects->setGeometry(190, 136, 78, 24);
    connect(btnSubjects, &QPushButton::clicked, this, [this] { btnSubjectsClick(); });

    btnOk = new QPushButton(QStringLiteral("Ok"), this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setGeometry(110, 172, 75, 25);
    btnOk->setDefault(true);
    connect(btnOk, &QPushButton::clicked, this, [this] {
        HandleExceptions([this] {
            if (Apply())
                done(mrOk);
        });
    });
    btnCancel = new QPushButton(QStringLiteral("Отмена"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setGeometry(193, 172, 75, 25);
    connect(btnCancel, &QPushButton::clicked, this, [this] { done(mrCancel); });

    pmChangeLevel = new QMenu(this);
    pmChangeLevel->setObjectName(QStringLiteral("pmChangeLevel"));
    mChangeParentOne = pmChangeLevel->addAction(QStringLiteral("Изменить \"родителя\" текущей записи"));
    mChangeParentOne->setObjectName(QStringLiteral("mChangeParentOne"));
    mChangeParentMany = pmChangeLevel->addAction(QStringLiteral("Изменить \"родителя\" у выделенных записей"));
    mChangeParentMany->setObjectName(QStringLiteral("mChangeParentMany"));
    for (QAction* item : {mChangeParentOne, mChangeParentMany})
        connect(item, &QAction::triggered, this,
                [this, item] { HandleExceptions([this, item] { mChangeParentOneClick(item); }); });
}

std::function<bool(TSDS&, int32_t&, QWidget*)>& TfrmRecordAttrs::ChooseParent()
{
    static std::function<bool(TSDS&, int32_t&, QWidget*)> choose = ChooseLevel;
    return choose;
}

TSDS* TfrmRecordAttrs::Data() const
{
    return SourceDataSource ? dynamic_cast<TSDS*>(SourceDataSource->DataSet()) : nullptr;
}

bool TfrmRecordAttrs::Load(TSDataSource* source)
{
    const TDataSetState state = source ? source->State() : dsInactive;
    if (state != dsBrowse && state != dsEdit && state != dsInsert)
        return false;
    auto* data = dynamic_cast<TSDS*>(source->DataSet());
    TField* stateField = data ? data->FindField(QStringLiteral("SYS$STATE")) : nullptr;
    if (!stateField)
        return false;
    SourceDataSource = source;
    FState = stateField->AsInteger();
    OwnerNumber = StateOwner(FState);

    lblOwner->setText(UnknownOwner);
    auto* database = dynamic_cast<TSDatabase*>(data->Database());
    btnChangeUser->setEnabled(database != nullptr);
    if (database && database->Users() && database->Users()->Active()
        && database->Users()->FindKey({Variant(int32_t(OwnerNumber))}))
        lblOwner->setText(database->Users()->FieldByName(QStringLiteral("NAME"))->AsString());

    const bool deleted = IsDeletedState(FState);
    chDeletedRecord->setEnabled(deleted);
    chDeletedRecord->setChecked(deleted);
    (IsLeafState(FState) ? rgListRecord : rbLevelRecord)->setChecked(true);

    FRecordID = QVariant();
    if (TField* id = data->FindField(QStringLiteral("SYS$ID"))) {
        lblID->setText(QString::number(data->CurrentID()));
        if (!id->IsNull())
            FRecordID = data->CurrentID();
    }
    if (TField* time = data->FindField(QStringLiteral("SYS$TIME")))
        lblSYS_TIME->setText(QStringLiteral("последнее изменение: ") + time->DisplayText());
    return true;
}

bool TfrmRecordAttrs::ReturnToRecord()
{
    TSDS* data = Data();
    if (!data || !data->Active())
        return false;
    if (data->State() == dsEdit || data->State() == dsInsert || FRecordID.isNull())
        return !data->IsEmpty(); // the cursor cannot have left the edited record
    try {
        data->GotoID(FRecordID.toInt());
    } catch (const Exception&) {
        return false;
    }
    return true;
}

bool TfrmRecordAttrs::Apply()
{
    const bool deletedUnchanged = !chDeletedRecord->isEnabled() || chDeletedRecord->isChecked();
    if (deletedUnchanged && rgListRecord->isChecked() == IsLeafState(FState))
        return true;
    TSDS* data = Data();
    if (!data)
        return false;
    if (!ReturnToRecord()) {
        MessageDlg(QStringLiteral("Запись, для которой открыта форма, не найдена: изменения не записаны"), mtError,
                   {mbOK});
        return false;
    }
    // The state as it is now: a move may have rewritten the record.
    TField* stateField = data->FieldByName(QStringLiteral("SYS$STATE"));
    int32_t state = stateField->AsInteger();
    const bool toLeaf = rgListRecord->isChecked() && !IsLeafState(state);
    if (toLeaf && data->FindField(QStringLiteral("SYS$ID")) && data->FindField(QStringLiteral("SYS$PID"))
        && data->HasChildRows(QStringLiteral("SYS$PID"), data->CurrentID(), false)) {
        MessageDlg(QStringLiteral("Группа содержит записи: сделать её листовой записью нельзя"), mtError, {mbOK});
        return false;
    }
    if (chDeletedRecord->isEnabled() && !chDeletedRecord->isChecked())
        SetDeletedState(state, false);
    SetLeafState(state, rgListRecord->isChecked());
    if (data->State() == dsBrowse) {
        data->Edit();
        try {
            stateField->SetAsInteger(state);
            data->Post();
        } catch (...) {
            data->Cancel();
            throw;
        }
    } else {
        stateField->SetAsInteger(state);
    }
    FState = state;
    return true;
}

void TfrmRecordAttrs::btnChangeUserClick()
{
    MessageDlg(QStringLiteral("Извините,данная функция пока не реализована"), mtInformation, {mbOK});
}

void TfrmRecordAttrs::SButton2Click() { btnChangeUserClick(); }

void TfrmRecordAttrs::btnSubjectsClick() { ShowMessage(QStringLiteral("Запись принадлежит к субъектам:\n\r...")); }

void TfrmRecordAttrs::btnCallMenuClick()
{
    pmChangeLevel->popup(btnCallMenu->mapToGlobal(QPoint(0, btnCallMenu->height() + 1)));
}

void TfrmRecordAttrs::lblIDDblClick()
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    const QMimeData* offered = clipboard ? clipboard->mimeData() : nullptr;
    if (offered && offered->hasText())
        clipboard->setText(lblID->text());
}

bool TfrmRecordAttrs::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == lblID && event->type() == QEvent::MouseButtonDblClick)
        lblIDDblClick();
    return TForm::eventFilter(watched, event);
}

void TfrmRecordAttrs::CheckNoCycle(const std::vector<int32_t>& ids, int32_t parentId)
{
    TSDS& data = *Data();
    TField* parentField = data.FieldByName(QStringLiteral("SYS$PID"));
    const QSet<int32_t> moving(ids.begin(), ids.end());
    // Up from the new parent to the top: meeting a moved record means the
    // parent is that record or lies inside it.
    QSet<int32_t> seen;
    for (int32_t p = parentId; p != 0 && !seen.contains(p);) {
        if (moving.contains(p))
            RaiseHint(QStringLiteral("Запись нельзя перенести в саму себя или в подчинённую ей группу"));
        seen.insert(p);
        const TRecordId row = data.RowOfID(p);
        if (row == NoRecord)
            break;
        const Variant parent = data.RowValue(row, *parentField);
        if (parent.IsNull())
            break;
        p = parent.AsInteger();
    }
}

std::vector<int32_t> TfrmRecordAttrs::MarkedIDs()
{
    TSDS& data = *Data();
    TMemRecordMarker& marker = *SourceDataSource->RecordMarker();
    std::vector<int32_t> ids;
    if (marker.IsEmpty())
        return ids;
    const TWalkScope scope(data);
    for (data.First(); !data.Eof(); data.Next())
        if (marker.IsMarked())
            ids.push_back(data.CurrentID());
    return ids;
}

void TfrmRecordAttrs::MoveMarked(int32_t parentId)
{
    TSDS& data = *Data();
    TMemRecordMarker& marker = *SourceDataSource->RecordMarker();
    const TWalkScope scope(data); // position and controls back on every path
    data.First();
    while (!data.Eof()) {
        if (!marker.IsMarked()) {
            data.Next();
            continue;
        }
        // The following record first: the moved one may leave the level.
        data.Next();
        const bool last = data.Eof();
        const TBookmark following = last ? TBookmark() : data.GetBookmark();
        if (!last)
            data.Prior();
        data.SetParentID(parentId);
        if (last)
            break;
        data.GotoBookmark(following);
    }
}

void TfrmRecordAttrs::mChangeParentOneClick(QAction* sender)
{
    TSDS* data = Data();
    if (!data)
        return;
    const bool one = sender == mChangeParentOne;
    // The user's unfinished edit is posted as any edit is, before anything
    // moves; a failed check stops here with the edit still open.
    if (data->State() == dsEdit || data->State() == dsInsert) {
        data->Post();
        if (data->FindField(QStringLiteral("SYS$ID")))
            FRecordID = data->CurrentID();
    }
    const std::vector<int32_t> ids = one ? std::vector<int32_t>{data->CurrentID()} : MarkedIDs();
    if (ids.empty())
        return;
    int32_t parentId = 0;
    if (!ChooseParent()(*data, parentId, this))
        return;
    CheckNoCycle(ids, parentId);
    if (one)
        data->SetParentID(parentId);
    else
        MoveMarked(parentId);
}

void ShowRecordAttributesForm(TSDataSource* source)
{
    TfrmRecordAttrs form(QApplication::activeWindow());
    if (!form.Load(source))
        return;
    form.exec();
}
