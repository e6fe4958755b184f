// The documents window: the documents above, the lines of the chosen one
// below (master and detail). Deleting a document deletes its lines with it,
// in the same transaction.
#pragma once

#include <QWidget>
#include <memory>

class QLabel;
class TDBSGridEx;
class TIBTransaction;
class TSDS;
class TSDataSource;
class TSDatabase;

class TDocumentForm : public QWidget
{
    Q_OBJECT
public:
    // The database and the transaction must outlive the form.
    TDocumentForm(TSDatabase& database, TIBTransaction* transaction, QWidget* parent = nullptr);
    ~TDocumentForm() override;

    TSDS* Documents() const { return FDocuments.get(); }
    TSDS* Lines() const { return FLines.get(); }
    TDBSGridEx* DocumentGrid() const { return FDocumentGrid; }
    TDBSGridEx* LineGrid() const { return FLineGrid; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void UpdateTotal();

    std::unique_ptr<TSDS> FDocuments;
    std::unique_ptr<TSDS> FLines;
    TSDataSource* FDocumentSource;
    TSDataSource* FLineSource;
    TDBSGridEx* FDocumentGrid;
    TDBSGridEx* FLineGrid;
    QLabel* FLinesHeading;
    QLabel* FTotal;
    bool FTotalDue = false;
};
