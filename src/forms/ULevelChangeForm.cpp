#include "ULevelChangeForm.h"

#include "DBSTreeView.h"
#include "Dialogs.h"
#include "SDS.h"
#include "SDataSource.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

TfrmLevelChoice::TfrmLevelChoice(QWidget* parent) : TForm(parent)
{
    setObjectName(QStringLiteral("frmLevelChoice"));
    SetDesignFont();
    setWindowTitle(QStringLiteral("Укажите новое местоположение:"));
    SetBorderStyle(bsSizeToolWin);
    SetPosition(poMainFormCenter);
    resize(520, 480);

    sdsLeveledStructure = new TSDS(this);
    sdsLeveledStructure->setObjectName(QStringLiteral("sdsLeveledStructure"));
    sdsLeveledStructure->SetAttachMaxCount(1);
    sdsLeveledStructure->SetOptions(TSDSOptions{dsoLoadData, dsoLoadAllFields, dsoPermissions, dsoLevels});
    sdsLeveledStructure->SetLevelMode(dslmShowAll);
    sdsLeveledStructure->OnFilterRecord = [this](TDataSet* dataSet, bool& accept) {
        sdsLeveledStructureFilterRecord(dataSet, accept);
    };
    DataSource = new TSDataSource(this);
    DataSource->setObjectName(QStringLiteral("DataSource"));
    DataSource->SetDataSet(sdsLeveledStructure);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    TreeView = new TDBSTreeView(this);
    TreeView->setObjectName(QStringLiteral("TreeView"));
    TreeView->SetReadOnly(true);
    TreeView->setIndentation(19);
    TreeView->SetDataField(QStringLiteral("NAME"));
    TreeView->SetIDNode(QStringLiteral("SYS$ID"));
    TreeView->SetIDParentNode(QStringLiteral("SYS$PID"));
    TreeView->SetDataSource(DataSource);
    layout->addWidget(TreeView);

    Panel1 = new QWidget(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFixedHeight(33);
    auto* buttons = new QHBoxLayout(Panel1);
    buttons->setContentsMargins(8, 4, 8, 4);
    buttons->addStretch();
    Ok = new QPushButton(QStringLiteral("Ok"), Panel1);
    Ok->setObjectName(QStringLiteral("Ok"));
    Ok->setDefault(true);
    connect(Ok, &QPushButton::clicked, this, [this] {
        OkClick();
        done(mrOk);
    });
    btnCancel = new QPushButton(QStringLiteral("Отмена"), Panel1);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    connect(btnCancel, &QPushButton::clicked, this, [this] { done(mrCancel); });
    buttons->addWidget(Ok);
    buttons->addWidget(btnCancel);
    layout->addWidget(Panel1);
}

TfrmLevelChoice::~TfrmLevelChoice()
{
    // The tree lets go of the rows before the data set does.
    TreeView->SetDataSource(nullptr);
}

void TfrmLevelChoice::OkClick()
{
    int32_t id = TreeView->RootNodeID();
    TreeView->SelectedID(id);
    FChosenID = id;
}

void TfrmLevelChoice::sdsLeveledStructureFilterRecord(TDataSet*, bool& accept)
{
    accept = !sdsLeveledStructure->IsLeaf();
}

bool TfrmLevelChoice::Prepare(TSDS& data)
{
    TField* caption = LevelCaptionField(data);
    if (!caption) {
        MessageDlg(QStringLiteral("Нет поля для визуализации"), mtError, {mbCancel});
        return false;
    }
    sdsLeveledStructure->SetMasterDataset(data.MasterDataset() ? data.MasterDataset() : &data);
    TreeView->SetDataField(caption->FieldName());
    // Opening a table attached to the rows moves the caller's cursor: the
    // caller gets its record back.
    const TBookmark callersRecord = data.Active() && !data.IsEmpty() ? data.GetBookmark() : TBookmark();
    sdsLeveledStructure->Open();
    if (!callersRecord.isEmpty() && data.BookmarkValid(callersRecord))
        data.GotoBookmark(callersRecord);
    sdsLeveledStructure->SetFiltered(true);
    TreeView->BuildTree(QStringLiteral("\\"));
    TreeView->FullExpand();
    // Browsing the tree leaves even the form's own cursor alone.
    TreeView->SetPositionsDataSet(false);
    TreeView->setCurrentIndex(TreeView->model()->index(0, 0));
    return true;
}

TField* LevelCaptionField(const TDataSet& data)
{
    for (const char* name : {"NAME", "KNAME"})
        if (TField* field = data.FindField(QString::fromLatin1(name)))
            return field;
    TField* firstString = nullptr;
    for (TField* field : data.Fields()) {
        if (field->DataType() != ftString)
            continue;
        if (field->Size() > 10 && !field->DisplayLabel().isEmpty() && field->DisplayLabel() != field->FieldName())
            return field;
        if (!firstString)
            firstString = field;
    }
    return firstString;
}

bool ChooseLevel(TSDS& data, int32_t& chosenId, QWidget* owner)
{
    TfrmLevelChoice form(owner);
    if (!form.Prepare(data))
        return false;
    if (form.exec() != mrOk)
        return false;
    chosenId = form.ChosenID();
    return true;
}
