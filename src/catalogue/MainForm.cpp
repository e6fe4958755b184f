#include "MainForm.h"

#include "Action.h"
#include "CommonInterfaceRes.h"
#include "DBGridColumns.h"
#include "DBGridExport.h"
#include "DBSGridEx.h"
#include "DBSTreeView.h"
#include "DataSet.h"
#include "DocumentForm.h"
#include "Exceptions.h"
#include "Extcalc.h"
#include "IBSQL.h"
#include "PendingEdit.h"
#include "SDS.h"
#include "SDataSource.h"
#include "SDatabase.h"
#include "SDatabaseSession.h"
#include "ServiceActions.h"
#include "URecordMarker.h"
#include "uFieldFilter.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QScopeGuard>
#include <QSplitter>
#include <QStatusBar>
#include <QTime>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

namespace {

const QString GoodsTable = QStringLiteral("GOODS");
// Rows a server stamped this long before the last reading are read again:
// a write stamps its row before its commit makes it visible.
constexpr double ReadAgainDays = 10.0 / 86400.0;

void Label(TSDS& data, const char* field, const QString& caption, const QString& format = QString())
{
    if (TField* f = data.FindField(QString::fromLatin1(field))) {
        f->SetDisplayLabel(caption);
        if (!format.isEmpty())
            f->SetDisplayFormat(format);
    }
}

TAction* ServiceAction(const char* name) { return I() ? I()->Action(QString::fromLatin1(name)) : nullptr; }

} // namespace

TCatalogueForm::TCatalogueForm(TSDatabase& database, TCatalogueUser user, QWidget* parent)
    : QMainWindow(parent), FDatabase(database), FUser(std::move(user)), FTransaction(std::make_unique<TIBTransaction>())
{
    // Committed reads that never wait on a lock; every post commits at once.
    FTransaction->SetDefaultDatabase(&database);
    FTransaction->SetParams({QStringLiteral("write"), QStringLiteral("read_committed"), QStringLiteral("rec_version"),
                             QStringLiteral("nowait")});
    FItemsSource = new TSDataSource(this);
    FGroupsSource = new TSDataSource(this);

    auto* splitter = new QSplitter(this);
    FTree = new TDBSTreeView(splitter);
    FTree->SetDataField(QStringLiteral("NAME"));
    FTree->SetReadOnly(true);
    FTree->setHeaderHidden(true);
    FGrid = new TDBSGridEx(splitter);
    FGrid->SetShowState(true);
    splitter->addWidget(FTree);
    splitter->addWidget(FGrid);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({230, 650});
    setCentralWidget(splitter);

    FUserLabel = new QLabel(this);
    FCountLabel = new QLabel(this);
    FNoticeLabel = new QLabel(this);
    statusBar()->addWidget(FUserLabel);
    statusBar()->addWidget(FCountLabel);
    statusBar()->addPermanentWidget(FNoticeLabel);

    OpenData();
    BuildGrid();
    BuildMenus();
    ConnectActions();

    setWindowTitle(QStringLiteral("Каталог товаров — %1").arg(FUser.Name));
    FUserLabel->setText(QStringLiteral("Пользователь: %1   База: %2").arg(FUser.Name, database.DatabaseName()));
    FNoticeTimer = new QTimer(this);
    FNoticeTimer->setInterval(250);
    connect(FNoticeTimer, &QTimer::timeout, this, [this] { HandleExceptions([this] { TakeChangeNotices(); }); });
    FNoticeTimer->start();
    resize(900, 540);
    // The user starts in the grid: its keys and the toolbar's actions work at once.
    FGrid->setFocus();
    UpdateStatus();
}

TCatalogueForm::~TCatalogueForm()
{
    delete FDocuments.data();
    FItemsSource->SetDataSet(nullptr);
    FGroupsSource->SetDataSet(nullptr);
}

void TCatalogueForm::OpenData()
{
    // The items: the levelled relation, one group at a time, edited under a
    // record lock, audited and announced to the other users.
    FItems = std::make_unique<TSDS>();
    FItems->setObjectName(QStringLiteral("Items"));
    FItems->SetDatabase(&FDatabase);
    FItems->SetTransaction(FTransaction.get());
    FItems->SetTableName(GoodsTable);
    FItems->SetOptions(
        FItems->Options()
        + TSDSOptions{dsoLevels, dsoPessimisticLock, dsoAudit, dsoSendNotification, dsoCheckChildRecordOnDelete});
    FReadSince = ServerTime();
    FItems->Open();
    FItems->SetIndexFieldNames(QStringLiteral("NAME"));
    Label(*FItems, "NAME", QStringLiteral("Наименование"));
    Label(*FItems, "PRICE", QStringLiteral("Цена"), QStringLiteral("#,##0.00"));
    Label(*FItems, "QTY", QStringLiteral("Кол-во"));
    Label(*FItems, "ARRIVED", QStringLiteral("Поступление"));
    Label(*FItems, "SYS$ID", QStringLiteral("Код"));
    FItemsSource->SetDataSet(FItems.get());

    // The tree: the groups alone, in a data set of their own.
    FGroups = std::make_unique<TSDS>();
    FGroups->setObjectName(QStringLiteral("Groups"));
    FGroups->SetDatabase(&FDatabase);
    FGroups->SetTransaction(FTransaction.get());
    FGroups->SetTableName(GoodsTable);
    FGroups->SetServerFilter(QStringLiteral("bin_and(SYS$STATE, 1073741824) = 0"));
    FGroups->Open();
    FGroups->SetIndexFieldNames(QStringLiteral("SYS$PID;NAME"));
    FGroupsSource->SetDataSet(FGroups.get());
    FTree->SetDataSource(FGroupsSource);
    FTree->BuildTree(QStringLiteral("Все товары"));
    FTree->FullExpand();
    connect(FTree->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { HandleExceptions([this] { TreeNodeChosen(); }); });
    FItemsSource->OnDataChange = [this](TDataSource*, TField*) { UpdateStatus(); };
    // Entering or leaving a group in the grid moves the tree along.
    FItems->OnLevelDown = FItems->OnLevelUp = [this](TDataSet*) { FollowGridLevel(); };
    FItemsSource->RecordMarker()->OnChange = [this](TMemRecordMarker*) { UpdateStatus(); };
}

void TCatalogueForm::BuildGrid()
{
    FGrid->SetDataSource(FItemsSource);
    TDBGridColumns& columns = FGrid->Columns();
    columns.BeginUpdate();
    columns.Clear();
    const struct
    {
        const char* Field;
        int Width;
    } shown[] = {{"SYS$ID", 56}, {"NAME", 300}, {"PRICE", 90}, {"QTY", 70}, {"ARRIVED", 100}};
    for (const auto& column : shown) {
        TColumnEx* added = columns.Add();
        added->SetFieldName(QString::fromLatin1(column.Field));
        added->SetWidth(column.Width);
    }
    columns.EndUpdate();
    FGrid->Loaded();
    FGrid->GetPrintParams = [this](QObject*, int paramNo, Variant& value) {
        if (paramNo == 100)
            value = Variant(QStringLiteral("Каталог товаров"));
        else if (paramNo == 10)
            value = Variant(FUser.Name);
    };
}

void TCatalogueForm::BuildMenus()
{
    QMenu* file = menuBar()->addMenu(QStringLiteral("&Каталог"));
    QAction* documents = file->addAction(QStringLiteral("&Документы..."), this,
                                         [this] { HandleExceptions([this] { ShowDocuments(); }); });
    documents->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
    documents->setToolTip(QStringLiteral("Приходные и расходные документы с их строками"));
    file->addSeparator();
    file->addAction(QStringLiteral("В&ыход"), this, &QWidget::close);

    // The grid's own service menu, built for its state each time it opens.
    QMenu* service = menuBar()->addMenu(QStringLiteral("&Сервис"));
    FServiceMenu = service;
    connect(service, &QMenu::aboutToShow, this, [this, service] {
        HandleExceptions([&] {
            for (QAction* own : service->actions())
                if (own->data().toInt() != ServiceMenuTag)
                    service->removeAction(own);
            FGrid->BuildServiceMenu(*service);
            service->addSeparator();
            if (TAction* calculator = ServiceAction("CalcAction1"))
                service->addAction(calculator);
        });
    });

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Справка"));
    if (TAction* about = ServiceAction("AboutAction1"))
        help->addAction(about);

    QToolBar* bar = addToolBar(QStringLiteral("Главная"));
    bar->setObjectName(QStringLiteral("MainToolBar"));
    bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    bar->setIconSize(QSize(16, 16));
    documents->setIcon(style()->standardIcon(QStyle::SP_FileDialogDetailedView));
    bar->addAction(documents);
    bar->addSeparator();
    for (const char* name : {"RecordInsertAction1", "RecordEditAction1", "RecordPostAction1", "RecordDeleteAction1"})
        if (TAction* action = ServiceAction(name))
            bar->addAction(action);
    bar->addSeparator();
    for (const char* name : {"FilterAction1", "FilterCancelAction1", "RecordMarkAction1", "SumAction1",
                             "RecordAttributesAction1", "CalcAction1", "StdPrintAction1", "StdExcelAction1"})
        if (TAction* action = ServiceAction(name))
            bar->addAction(action);
    // Icons alone where the actions have them: the bar stays one row.
    for (QAction* action : bar->actions())
        if (auto* button = qobject_cast<QToolButton*>(bar->widgetForAction(action)))
            button->setToolButtonStyle(action->icon().isNull() || action == documents ? Qt::ToolButtonTextBesideIcon
                                                                                      : Qt::ToolButtonIconOnly);
    if (I())
        I()->AttachShortcuts(this);
}

void TCatalogueForm::ConnectActions()
{
    // The application's commands the framework leaves to its host.
    if (TAction* calculator = ServiceAction("CalcAction1"))
        calculator->OnExecute = [](TAction&) { ShowCalculator(); };
    if (TAction* print = ServiceAction("StdPrintAction1"))
        print->OnExecute = [this](TAction&) {
            TDBSGridEx* grid = qobject_cast<TDBSGridEx*>(QApplication::focusWidget());
            (grid ? grid : FGrid)->PrintGrid();
        };
    if (TAction* excel = ServiceAction("StdExcelAction1"))
        excel->OnExecute = [this](TAction&) { ExportGrid(); };
    if (TAction* about = ServiceAction("AboutAction1"))
        about->OnExecute = [this](TAction&) {
            QMessageBox::about(this, QStringLiteral("О программе"),
                               QStringLiteral("Каталог товаров\nПример прикладной программы на каркасе форм ввода."));
        };
}

void TCatalogueForm::TreeNodeChosen()
{
    int32_t id = 0;
    if (FFollowingGrid || !FTree->SelectedID(id))
        return;
    if (FItems->State() != dsBrowse && !ResolvePendingEdit(*FItems))
        return;
    // The grid's level moves below come from the tree: it needs no following.
    FFollowingGrid = true;
    const auto done = qScopeGuard([this] { FFollowingGrid = false; });
    if (id == 0) {
        while (FItems->LevelUp()) {
        }
    } else {
        FItems->GotoID(id);
        FItems->LevelDown();
    }
    FItems->First();
    UpdateStatus();
}

void TCatalogueForm::FollowGridLevel()
{
    if (FFollowingGrid)
        return;
    const TLevelInfo* level = FItems->LevelInfos().Last();
    const int32_t id = level ? level->ID : 0;
    int32_t shown = -1;
    if (FTree->SelectedID(shown) && shown == id)
        return;
    FFollowingGrid = true;
    const auto done = qScopeGuard([this] { FFollowingGrid = false; });
    SelectTreeNode(id);
}

bool TCatalogueForm::SelectTreeNode(int32_t groupId)
{
    const std::function<bool(const QModelIndex&)> select = [&](const QModelIndex& node) {
        int32_t id = 0, parent = 0;
        if (FTree->NodeKey(node, id, parent) && id == groupId) {
            FTree->setCurrentIndex(node);
            return true;
        }
        for (int row = 0; row < FTree->model()->rowCount(node); ++row)
            if (select(FTree->model()->index(row, 0, node)))
                return true;
        return false;
    };
    for (int row = 0; row < FTree->model()->rowCount(); ++row)
        if (select(FTree->model()->index(row, 0)))
            return true;
    return false;
}

void TCatalogueForm::ShowGroup(int32_t groupId)
{
    // The tree's node moves the grid.
    if (!SelectTreeNode(groupId))
        throw Exception(QStringLiteral("Нет группы %1").arg(groupId));
}

void TCatalogueForm::TakeChangeNotices()
{
    for (const auto& notice : FDatabase.Session()->TakeEvents()) {
        // Our own writes are in our rows already.
        if (notice->Source)
            continue;
        if (!notice->TableName.isEmpty() && notice->TableName.compare(GoodsTable, Qt::CaseInsensitive) != 0)
            continue;
        FChangesWaiting = true;
        FStructureChanged = FStructureChanged || notice->Operation != 0 || notice->TableName.isEmpty();
    }
    // An edit in progress keeps its values, and a question open (the lock's,
    // asked before an edit begins) is answered first: the changes come in
    // after them.
    if (FChangesWaiting && FItems->State() == dsBrowse && !QApplication::activeModalWidget())
        ReadOtherUsersChanges();
}

void TCatalogueForm::ReadOtherUsersChanges()
{
    const double since = FReadSince - ReadAgainDays;
    FReadSince = ServerTime();
    const int32_t current = FItems->IsEmpty() ? 0 : FItems->CurrentID();
    if (FStructureChanged) {
        // Records came or went: the rows are read anew, and the tree (whose
        // rebuilding must not move the grid) shows the grid's group again.
        FItems->Reload();
        FGroups->Reload();
        {
            FFollowingGrid = true;
            const auto done = qScopeGuard([this] { FFollowingGrid = false; });
            FTree->BuildTree(QStringLiteral("Все товары"));
            FTree->FullExpand();
        }
        FollowGridLevel();
    } else {
        FItems->MergeChangesSince(since);
    }
    if (current != 0 && FItems->RowOfID(current) != NoRecord && (FItems->IsEmpty() || FItems->CurrentID() != current))
        FItems->GotoID(current);
    FChangesWaiting = FStructureChanged = false;
    ++FNoticesApplied;
    FNoticeLabel->setText(QStringLiteral("Изменения других пользователей: %1")
                              .arg(QTime::currentTime().toString(QStringLiteral("HH:mm:ss"))));
    UpdateStatus();
}

double TCatalogueForm::ServerTime()
{
    TIBSQL sql;
    sql.SetDatabase(&FDatabase);
    sql.SetTransaction(FTransaction.get());
    if (!FTransaction->InTransaction())
        FTransaction->StartTransaction();
    sql.SQL().SetText(QStringLiteral("select current_timestamp from rdb$database"));
    sql.ExecQuery();
    const double now = sql.Fields(0).AsDateTime();
    sql.Close();
    return now;
}

TDocumentForm* TCatalogueForm::ShowDocuments()
{
    if (!FDocuments)
        FDocuments = new TDocumentForm(FDatabase, FTransaction.get(), this);
    FDocuments->show();
    FDocuments->raise();
    FDocuments->activateWindow();
    return FDocuments;
}

void TCatalogueForm::ExportGrid()
{
    TDBGridEx* grid = qobject_cast<TDBGridEx*>(QApplication::focusWidget());
    if (!grid)
        grid = FGrid;
    const QString file = QFileDialog::getSaveFileName(this, QStringLiteral("Экспорт"), QStringLiteral("catalogue.xlsx"),
                                                      QStringLiteral("Книга Excel (*.xlsx);;CSV (*.csv)"));
    if (file.isEmpty())
        return;
    if (file.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive))
        ExportGridToCSV(*grid, file);
    else
        ExportGridToXLSX(*grid, file);
}

void TCatalogueForm::UpdateStatus()
{
    if (!FItems || !FItems->Active())
        return;
    const int marked = FItemsSource->RecordMarker()->MarkedCount();
    QString text = QStringLiteral("Записей: %1").arg(FItems->RecordCount());
    if (marked > 0)
        text += QStringLiteral("   Отмечено: %1").arg(marked);
    QStringList filters;
    for (const auto& filter : FItemsSource->Filters())
        filters << filter->Description();
    if (!filters.isEmpty())
        text += QStringLiteral("   Фильтр: ") + filters.join(QStringLiteral("; "));
    FCountLabel->setText(text);
}

void TCatalogueForm::closeEvent(QCloseEvent* event)
{
    bool mayClose = false;
    HandleExceptions([&] { mayClose = (!FDocuments || FDocuments->close()) && ResolvePendingEdit(*FItems); });
    if (mayClose)
        event->accept();
    else
        event->ignore();
}
