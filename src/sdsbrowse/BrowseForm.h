// The table browser's window: the relations of one database in a list, the
// chosen one opened as a TSDS in the grid, a navigator bar above it; edits
// are written back to the server with every post.
#pragma once

#include <QStringList>
#include <QWidget>
#include <memory>

class QComboBox;
class QLabel;
class TDataSource;
class TDBGridEx;
class TDBNavigator;
class TIBTransaction;
class TSDS;
class TSDatabase;

class TBrowseForm : public QWidget
{
    Q_OBJECT
public:
    // The database must be connected and outlive the form.
    explicit TBrowseForm(TSDatabase& database, QWidget* parent = nullptr);
    ~TBrowseForm() override;

    // The user tables and views of the database, by name.
    QStringList Relations() const;
    // The relation a name given by the user means: "Quoted" as it stands,
    // otherwise upper-cased as SQL reads it (or as written, when only that
    // names a relation).
    QString RelationNamed(const QString& given) const;
    // Opens a relation in the grid; raises when the data set cannot open it.
    void OpenTable(const QString& name);
    TDBGridEx* Grid() const { return FGrid; }
    TSDS* DataSet() const { return FDataSet.get(); }

    // Column widths fitted to the title and the rows in view, the window
    // widened (within the screen) until every column shows.
    void FitColumns();

protected:
    // A pending edit is settled first (PendingEdit.h): post, discard, or stay.
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void PrintPreview();
    // The shown rows to a CSV file or an .xlsx workbook the user names.
    void Export(bool workbook);
    void UpdateStatus();

    TSDatabase& FDatabase;
    std::unique_ptr<TIBTransaction> FTransaction;
    std::unique_ptr<TIBTransaction> FWriteTransaction;
    std::unique_ptr<TSDS> FDataSet;
    TDataSource* FSource;
    QComboBox* FTables;
    TDBNavigator* FNavigator;
    TDBGridEx* FGrid;
    QLabel* FStatus;
};
