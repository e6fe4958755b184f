#include "DocumentForm.h"

#include "DBGridColumns.h"
#include "DBSGridEx.h"
#include "DataSet.h"
#include "Exceptions.h"
#include "PendingEdit.h"
#include "SDS.h"
#include "SDataSource.h"
#include "SDatabase.h"
#include "SysUtils.h"

#include <QCloseEvent>
#include <QLabel>
#include <QSplitter>
#include <QTimer>
#include <QVBoxLayout>

namespace {

struct TShownColumn
{
    const char* Field;
    const char* Caption;
    int Width;
};

std::unique_ptr<TSDS> OpenTable(const QString& table, TSDatabase& database, TIBTransaction* transaction,
                                TSDSOptions extra, const std::function<void(TSDS&)>& beforeOpen = {})
{
    auto data = std::make_unique<TSDS>();
    data->setObjectName(table);
    data->SetDatabase(&database);
    data->SetTransaction(transaction);
    data->SetTableName(table);
    data->SetOptions(data->Options() + extra);
    if (beforeOpen)
        beforeOpen(*data);
    data->Open();
    return data;
}

void ShowColumns(TDBSGridEx& grid, TSDS& data, std::initializer_list<TShownColumn> shown)
{
    TDBGridColumns& columns = grid.Columns();
    columns.BeginUpdate();
    columns.Clear();
    for (const TShownColumn& column : shown) {
        const QString name = QString::fromLatin1(column.Field);
        if (TField* field = data.FindField(name))
            field->SetDisplayLabel(QString::fromUtf8(column.Caption));
        TColumnEx* added = columns.Add();
        added->SetFieldName(name);
        added->SetWidth(column.Width);
    }
    columns.EndUpdate();
    grid.Loaded();
}

QLabel* Heading(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

} // namespace

TDocumentForm::TDocumentForm(TSDatabase& database, TIBTransaction* transaction, QWidget* parent)
    : QWidget(parent, Qt::Window)
{
    setWindowTitle(QStringLiteral("Документы"));
    FDocumentSource = new TSDataSource(this);
    FLineSource = new TSDataSource(this);
    const TSDSOptions shared{dsoPessimisticLock, dsoAudit, dsoSendNotification};
    FDocuments = OpenTable(QStringLiteral("DOCS"), database, transaction, shared + TSDSOptions{dsoCascadeDeleteDetail});
    FDocuments->SetIndexFieldNames(QStringLiteral("DOC_DATE;NUM"));
    FDocumentSource->SetDataSet(FDocuments.get());
    FLines = OpenTable(QStringLiteral("DOC_LINES"), database, transaction, shared, [this](TSDS& lines) {
        lines.SetMasterSource(FDocumentSource);
        lines.SetMasterFields(QStringLiteral("SYS$ID"));
        lines.SetDetailFields(QStringLiteral("DOC_ID"));
    });
    FLineSource->SetDataSet(FLines.get());

    auto* layout = new QVBoxLayout(this);
    auto* splitter = new QSplitter(Qt::Vertical, this);
    auto* top = new QWidget(splitter);
    auto* topLayout = new QVBoxLayout(top);
    topLayout->setContentsMargins(0, 0, 0, 0);
    topLayout->addWidget(Heading(QStringLiteral("Документы"), top));
    FDocumentGrid = new TDBSGridEx(top);
    FDocumentGrid->SetDataSource(FDocumentSource);
    ShowColumns(
        *FDocumentGrid, *FDocuments,
        {{"NUM", "Номер", 90}, {"DOC_DATE", "Дата", 90}, {"PARTNER", "Контрагент", 200}, {"NOTE", "Примечание", 220}});
    topLayout->addWidget(FDocumentGrid);
    auto* bottom = new QWidget(splitter);
    auto* bottomLayout = new QVBoxLayout(bottom);
    bottomLayout->setContentsMargins(0, 0, 0, 0);
    FLinesHeading = Heading(QStringLiteral("Строки документа"), bottom);
    bottomLayout->addWidget(FLinesHeading);
    FLineGrid = new TDBSGridEx(bottom);
    FLineGrid->SetDataSource(FLineSource);
    ShowColumns(
        *FLineGrid, *FLines,
        {{"GOODS_ID", "Код товара", 80}, {"NAME", "Наименование", 240}, {"QTY", "Кол-во", 70}, {"PRICE", "Цена", 90}});
    if (TField* price = FLines->FindField(QStringLiteral("PRICE")))
        price->SetDisplayFormat(QStringLiteral("#,##0.00"));
    bottomLayout->addWidget(FLineGrid);
    FTotal = new QLabel(bottom);
    FTotal->setAlignment(Qt::AlignRight);
    bottomLayout->addWidget(FTotal);
    splitter->addWidget(top);
    splitter->addWidget(bottom);
    layout->addWidget(splitter);

    // Counted once the change is over: the lines are walked, which a data
    // event must not do while it is being delivered.
    const auto later = [this](TDataSource*, TField*) {
        if (!std::exchange(FTotalDue, true))
            QTimer::singleShot(0, this, [this] {
                FTotalDue = false;
                HandleExceptions([this] { UpdateTotal(); });
            });
    };
    FLineSource->OnDataChange = later;
    FDocumentSource->OnDataChange = later;
    resize(720, 480);
    UpdateTotal();
}

TDocumentForm::~TDocumentForm()
{
    FLineSource->SetDataSet(nullptr);
    FDocumentSource->SetDataSet(nullptr);
    // The lines follow their documents: they go first.
    FLines.reset();
}

void TDocumentForm::UpdateTotal()
{
    if (!FLines || !FLines->Active() || FLines->State() != dsBrowse) {
        return;
    }
    // The lines of the document shown, read in place without moving the cursor.
    double total = 0;
    int count = 0;
    const TBookmark place = FLines->GetBookmark();
    FLines->DisableControls();
    for (FLines->First(); !FLines->Eof(); FLines->Next()) {
        total += FLines->FieldByName(QStringLiteral("QTY"))->AsFloat()
                 * FLines->FieldByName(QStringLiteral("PRICE"))->AsFloat();
        ++count;
    }
    if (FLines->BookmarkValid(place))
        FLines->GotoBookmark(place);
    FLines->EnableControls();
    const bool any = !FDocuments->IsEmpty();
    FLinesHeading->setText(any ? QStringLiteral("Строки документа %1 от %2 — %3")
                                     .arg(FDocuments->FieldByName(QStringLiteral("NUM"))->AsString(),
                                          FDocuments->FieldByName(QStringLiteral("DOC_DATE"))->DisplayText(),
                                          FDocuments->FieldByName(QStringLiteral("PARTNER"))->AsString())
                               : QStringLiteral("Строки документа"));
    FTotal->setText(
        QStringLiteral("Строк: %1   Сумма: %2").arg(count).arg(FormatFloat(QStringLiteral("#,##0.00"), total)));
}

void TDocumentForm::closeEvent(QCloseEvent* event)
{
    bool mayClose = false;
    HandleExceptions([&] { mayClose = ResolvePendingEdit(*FLines) && ResolvePendingEdit(*FDocuments); });
    if (mayClose)
        event->accept();
    else
        event->ignore();
}
