// A small tree in embedded Firebird for the tree view and the forms that move
// records: groups, leaves, a record without a parent, and in ODD the records
// that make a naive tree walk run for ever (an identifier equal to the
// root's or to an ancestor's, a null identifier, two groups that are each
// other's parent).
#pragma once

#include "DBSTreeView.h"
#include "Dialogs.h"
#include "SDSFixture.h"
#include "SDataSource.h"

#include <QStringList>
#include <memory>

namespace tree_fixture {

inline constexpr int Leaf = 1073741824; // bit 30

inline const char* const Schema = R"(
CREATE TABLE TREE (
  SYS$ID INTEGER NOT NULL PRIMARY KEY,
  SYS$PID INTEGER,
  SYS$STATE INTEGER,
  NAME VARCHAR(20),
  SYS$TIME TIMESTAMP);
INSERT INTO TREE VALUES (1, 0, 0, 'Еда', '2026-01-01 10:00:00');
INSERT INTO TREE VALUES (2, 0, 0, 'Напитки', '2026-01-01 10:00:00');
INSERT INTO TREE VALUES (3, 0, 0, 'Пусто', '2026-01-01 10:00:00');
INSERT INTO TREE VALUES (10, 1, 1073741824, 'Хлеб', '2026-01-01 10:00:00');
INSERT INTO TREE VALUES (11, 1, 1073741824, 'Соль', '2026-01-01 10:00:00');
INSERT INTO TREE VALUES (12, 2, 0, 'Соки', '2026-01-01 10:00:00');
INSERT INTO TREE VALUES (13, 12, 1073741824, 'Яблочный', '2026-01-01 10:00:00');
INSERT INTO TREE VALUES (14, 2, 1073741824, 'Вода', '2026-01-01 10:00:00');
INSERT INTO TREE VALUES (20, 0, 1073741824, 'Чай', '2026-01-01 10:00:00');
INSERT INTO TREE VALUES (21, 20, 1073741824, 'Зелёный', '2026-01-01 10:00:00');
INSERT INTO TREE VALUES (30, NULL, 1073741824, 'Без родителя', '2026-01-01 10:00:00');
CREATE TABLE ODD (
  SYS$ID INTEGER,
  SYS$PID INTEGER,
  SYS$STATE INTEGER,
  NAME VARCHAR(20));
INSERT INTO ODD VALUES (0, 0, 0, 'Ноль');
INSERT INTO ODD VALUES (NULL, 0, 1073741824, 'Без кода');
INSERT INTO ODD VALUES (5, 0, 0, 'Группа');
INSERT INTO ODD VALUES (6, 5, 0, 'Вложенная');
INSERT INTO ODD VALUES (5, 6, 0, 'Двойник');
INSERT INTO ODD VALUES (100, 101, 0, 'Кольцо А');
INSERT INTO ODD VALUES (101, 100, 0, 'Кольцо Б');
)";

// Answers every box with its first button and keeps the texts.
class TRecordingDialogs : public TDialogBackend
{
public:
    explicit TRecordingDialogs(QStringList& texts) : FTexts(texts) {}
    TModalResult ShowMessageBox(const TMessageRequest& request) override
    {
        FTexts.append(request.Text);
        for (TMsgDlgBtn button : MsgDlgButtonOrder)
            if (request.Buttons.Contains(button))
                return ModalResultOf(button);
        return mrOk;
    }
    bool InputQuery(const QString&, const QString&, QString&) override { return false; }
    void Beep() override {}

private:
    QStringList& FTexts;
};

// The captions under a node of a tree view, in order.
inline QStringList Captions(TDBSTreeView& tree, const QModelIndex& node)
{
    QStringList captions;
    for (int row = 0; row < tree.model()->rowCount(node); ++row)
        captions.append(tree.NodeCaption(tree.model()->index(row, 0, node)));
    return captions;
}

} // namespace tree_fixture

class TTreeFixture : public TSDSFixture
{
protected:
    void SetUp() override
    {
        CreateAndConnect(tree_fixture::Schema);
        FPreviousDialogs = SetDialogBackend(std::make_unique<tree_fixture::TRecordingDialogs>(FMessages));
    }
    void TearDown() override { SetDialogBackend(std::move(FPreviousDialogs)); }

    // The tree as a data set of its own behind a framework data source.
    std::unique_ptr<TSDS> OpenTree(const QString& table = QStringLiteral("TREE"), TSDSOptions extra = {})
    {
        auto data = NewSDS(table, extra);
        data->Open();
        FSource.SetDataSet(data.get());
        return data;
    }

    int StateOf(TSDS& data, int id)
    {
        const TRecordId row = data.RowOfID(id);
        return data.RowValue(row, *data.FieldByName(QStringLiteral("SYS$STATE"))).AsInteger();
    }
    int ParentOf(TSDS& data, int id)
    {
        const TRecordId row = data.RowOfID(id);
        return data.RowValue(row, *data.FieldByName(QStringLiteral("SYS$PID"))).AsInteger();
    }

    TSDataSource FSource;
    QStringList FMessages;
    std::unique_ptr<TDialogBackend> FPreviousDialogs;
};
