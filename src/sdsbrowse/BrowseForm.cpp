#include "BrowseForm.h"

#include "Application.h"
#include "DBGridEx.h"
#include "DBGridExport.h"
#include "DBGridPrinter.h"
#include "DBGridSearch.h"
#include "DBNavigator.h"
#include "IBSQL.h"
#include "PendingEdit.h"
#include "SDS.h"
#include "SDatabase.h"
#include "SysUtils.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

TBrowseForm::TBrowseForm(TSDatabase& database, QWidget* parent)
    : QWidget(parent), FDatabase(database), FTransaction(std::make_unique<TIBTransaction>()),
      FWriteTransaction(std::make_unique<TIBTransaction>())
{
    // Rows are read in a read-only transaction and written in one of their
    // own, committed with every post.
    FTransaction->SetDefaultDatabase(&database);
    FTransaction->SetParams({QStringLiteral("read"), QStringLiteral("read_committed"), QStringLiteral("rec_version"),
                             QStringLiteral("nowait")});
    FWriteTransaction->SetDefaultDatabase(&database);
    FWriteTransaction->SetParams({QStringLiteral("write"), QStringLiteral("read_committed"),
                                  QStringLiteral("rec_version"), QStringLiteral("nowait")});
    FSource = new TDataSource(this);

    auto* layout = new QVBoxLayout(this);
    auto* bar = new QHBoxLayout;
    bar->addWidget(new QLabel(QStringLiteral("Таблица:"), this));
    FTables = new QComboBox(this);
    FTables->setMinimumContentsLength(24);
    bar->addWidget(FTables);
    FNavigator = new TDBNavigator(this);
    FNavigator->SetDataSource(FSource);
    bar->addWidget(FNavigator, 1);
    const auto addButton = [&](const QString& text, const QString& hint, auto action) {
        auto* button = new QToolButton(this);
        button->setText(text);
        button->setToolTip(hint);
        button->setAutoRaise(true);
        connect(button, &QToolButton::clicked, this, [action] { HandleExceptions(action); });
        bar->addWidget(button);
    };
    addButton(QStringLiteral("Поиск"), QStringLiteral("Поиск значения в графе"), [this] {
        if (FDataSet)
            ShowGridSearchDialog(*FGrid);
    });
    addButton(QStringLiteral("Печать"), QStringLiteral("Просмотр перед печатью"), [this] { PrintPreview(); });
    addButton(QStringLiteral("CSV"), QStringLiteral("Выгрузка строк в файл CSV"), [this] { Export(false); });
    addButton(QStringLiteral("Excel"), QStringLiteral("Выгрузка строк в книгу Excel (.xlsx)"),
              [this] { Export(true); });
    layout->addLayout(bar);

    FGrid = new TDBGridEx(this);
    FGrid->SetDataSource(FSource);
    layout->addWidget(FGrid, 1);
    FStatus = new QLabel(this);
    layout->addWidget(FStatus);

    FTables->addItems(Relations());
    connect(FTables, &QComboBox::textActivated, this,
            [this](const QString& name) { HandleExceptions([&] { OpenTable(name); }); });
    FSource->OnDataChange = [this](TDataSource*, TField*) { UpdateStatus(); };
    resize(860, 480);
}

TBrowseForm::~TBrowseForm() { FSource->SetDataSet(nullptr); }

QStringList TBrowseForm::Relations() const
{
    TIBTransaction transaction;
    transaction.SetDefaultDatabase(&FDatabase);
    transaction.SetParams(FTransaction->Params());
    transaction.StartTransaction();
    TIBSQL sql;
    sql.SetTransaction(&transaction);
    sql.SQL().SetText(QStringLiteral("select trim(rdb$relation_name) from rdb$relations "
                                     "where coalesce(rdb$system_flag, 0) = 0 order by 1"));
    QStringList names;
    for (sql.ExecQuery(); !sql.Eof(); sql.Next())
        names << sql.Fields(0).AsString();
    sql.Close();
    transaction.Commit();
    return names;
}

QString TBrowseForm::RelationNamed(const QString& given) const
{
    const QChar quote(QLatin1Char('"'));
    if (given.size() >= 2 && given.front() == quote && given.back() == quote)
        return given.mid(1, given.size() - 2).replace(QStringLiteral("\"\""), QString(quote));
    const QString upper = given.toUpper();
    if (upper != given) {
        const QStringList relations = Relations();
        if (!relations.contains(upper) && relations.contains(given))
            return given;
    }
    return upper;
}

void TBrowseForm::OpenTable(const QString& name)
{
    FSource->SetDataSet(nullptr);
    FDataSet.reset();
    auto dataSet = std::make_unique<TSDS>();
    dataSet->setObjectName(name);
    dataSet->SetDatabase(&FDatabase);
    dataSet->SetTransaction(FTransaction.get());
    dataSet->SetWriteTransaction(FWriteTransaction.get());
    dataSet->SetTableName(name);
    dataSet->Open();
    if (FTransaction->InTransaction())
        FTransaction->Commit();
    FDataSet = std::move(dataSet);
    FSource->SetDataSet(FDataSet.get());
    FTables->setCurrentText(name);
    setWindowTitle(QStringLiteral("%1 — %2").arg(name, FDatabase.DatabaseName()));
    UpdateStatus();
    if (isVisible())
        FitColumns();
}

void TBrowseForm::FitColumns()
{
    if (!FDataSet)
        return;
    FGrid->OptimizeColumnWidths();
    int wanted = FGrid->verticalHeader()->width() + 2 * FGrid->frameWidth()
                 + FGrid->verticalScrollBar()->sizeHint().width();
    for (int column = 0; column < FGrid->model()->columnCount(); ++column)
        if (!FGrid->isColumnHidden(column))
            wanted += FGrid->columnWidth(column);
    const int missing = wanted - FGrid->width();
    if (missing <= 0)
        return;
    const QScreen* shown = screen();
    const int room = shown ? shown->availableGeometry().width() - frameGeometry().width() : missing;
    resize(width() + std::min(missing, std::max(room, 0)), height());
}

void TBrowseForm::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Once laid out: the widths follow the rows in view.
    if (!event->spontaneous())
        QTimer::singleShot(0, this, [this] { HandleExceptions([this] { FitColumns(); }); });
}

void TBrowseForm::closeEvent(QCloseEvent* event)
{
    bool mayClose = false;
    HandleExceptions([&] { mayClose = !FDataSet || ResolvePendingEdit(*FDataSet); });
    if (mayClose)
        event->accept();
    else
        event->ignore();
}

void TBrowseForm::PrintPreview()
{
    if (!FDataSet)
        return;
    TDBGridPrinter printer;
    printer.SetDBGrid(FGrid);
    printer.SetSubstitution(QStringLiteral("%[Today]"), DateToStr(QDateTimeToDateTime(QDateTime::currentDateTime())));
    printer.SetTitle(FDataSet->TableName());
    printer.PageHeader().LeftText = QStringLiteral("&[ShortDate] ") + FDatabase.DatabaseName();
    printer.PageHeader().RightText = QStringLiteral("Стр. &[Page] из &[Pages]");
    printer.SetOrientation(printer.GridWidth() > 700 ? QPageLayout::Landscape : QPageLayout::Portrait);
    printer.Preview(this);
}

void TBrowseForm::Export(bool workbook)
{
    if (!FDataSet)
        return;
    const QString file = QFileDialog::getSaveFileName(
        this, QStringLiteral("Выгрузка"),
        FDataSet->TableName() + (workbook ? QStringLiteral(".xlsx") : QStringLiteral(".csv")),
        workbook ? QStringLiteral("Книга Excel (*.xlsx)") : QStringLiteral("CSV (*.csv)"));
    if (file.isEmpty())
        return;
    if (workbook)
        ExportGridToXLSX(*FGrid, file);
    else
        ExportGridToCSV(*FGrid, file);
}

void TBrowseForm::UpdateStatus()
{
    if (!FDataSet || !FDataSet->Active()) {
        FStatus->clear();
        return;
    }
    FStatus->setText(QStringLiteral("Запись %1 из %2").arg(FDataSet->RecNo()).arg(FDataSet->RecordCount()));
}
