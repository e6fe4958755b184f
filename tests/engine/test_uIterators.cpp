// Group operations over a data set on embedded Firebird: every kind over
// marked rows and over all rows, the questions and messages as the user
// reads them, the refusals, a row the server refuses, virtual deletes,
// marks of deleted rows, a missing column, nested busy cursors and disabled
// controls, and stopping a long walk.
#include "uIterators.h"

#include "Dialogs.h"
#include "Exceptions.h"
#include "SDSFixture.h"
#include "SDataSource.h"
#include "SysUtils.h"
#include "URecordMarker.h"

#include <QCursor>
#include <QGuiApplication>
#include <deque>
#include <gtest/gtest.h>

namespace {

const char* const Schema = R"(
CREATE TABLE ITEM (
  SYS$ID INTEGER NOT NULL PRIMARY KEY,
  SYS$STATE INTEGER,
  NAME VARCHAR(20),
  QTY INTEGER CHECK (QTY IS NULL OR QTY < 1000),
  PRICE NUMERIC(15,2),
  MADE DATE,
  SYS$TIME TIMESTAMP,
  N INTEGER);
INSERT INTO ITEM VALUES (1, 0, 'Alpha', 5, 1.5, '2024-01-01', NULL, NULL);
INSERT INTO ITEM VALUES (2, 0, 'beta', 5, 2.5, '2024-01-02', NULL, NULL);
INSERT INTO ITEM VALUES (3, 0, 'Gamma', 7, NULL, NULL, NULL, NULL);
INSERT INTO ITEM VALUES (4, 0, NULL, NULL, 4, NULL, NULL, NULL);
INSERT INTO ITEM VALUES (5, 0, 'Эхо', 5, 5, NULL, NULL, NULL);
INSERT INTO ITEM VALUES (6, 0, 'жук', 9, 6, NULL, NULL, NULL);
UPDATE ITEM SET N = SYS$ID * 1000;
)";

// What the typed value question was asked with.
struct TAsked
{
    QString Caption;
    uint8_t Kind;
};

class GroupOperationsTest : public TSDSFixture
{
protected:
    void SetUp() override
    {
        CreateAndConnect(Schema);
        FSettings = FormatSettings();
        FormatSettings() = TFormatSettings{};
        GroupOperationAskValue = [this](const QString& caption, uint8_t kind, Variant& value) {
            Asked.push_back({caption, kind});
            if (Values.empty())
                return false;
            value = Values.front();
            Values.pop_front();
            return true;
        };
        OpenItems();
    }

    void TearDown() override
    {
        GroupOperationAskValue = nullptr;
        GroupOperationProgress = nullptr;
        GroupOperationProgressThreshold = 5000;
        OnlyMarkedGroupOperations = false;
        FormatSettings() = FSettings;
    }

    void OpenItems(TSDSOptions extra = {})
    {
        Source.SetDataSet(nullptr);
        Items.reset();
        // A fresh snapshot sees what the test changed behind the data set's back.
        if (FTransaction.InTransaction())
            FTransaction.Commit();
        Items = NewSDS(QStringLiteral("ITEM"), extra);
        Items->SetIndexFieldNames(QStringLiteral("SYS$ID"));
        Items->Open();
        Source.SetDataSet(Items.get());
    }

    TField* Field(const char* name) const { return Items->FieldByName(QLatin1String(name)); }
    void Go(int id) const { ASSERT_TRUE(Items->Locate(QStringLiteral("SYS$ID"), Variant(id))); }
    int CurrentId() const { return Field("SYS$ID")->AsInteger(); }
    void Mark(const QList<int>& ids)
    {
        for (int id : ids) {
            Go(id);
            Source.RecordMarker()->ToggleCurrent();
        }
    }

    void Run(const char* field, TGroupOperationKind kind)
    {
        RunGroupOperation(&Source, field ? Field(field) : nullptr, kind);
    }

    // A column as committed on the server, by SYS$ID: "1=5,2=5,...", null as "-".
    QString Committed(const char* column) const
    {
        QStringList parts;
        for (const QString& row : FTestDb.Committed(
                 QStringLiteral("select SYS$ID, coalesce(cast(%1 as varchar(30)), '-') from ITEM order by SYS$ID")
                     .arg(QLatin1String(column))))
            parts << row.section(QLatin1Char('|'), 0, 0) + QLatin1Char('=') + row.section(QLatin1Char('|'), 1);
        return parts.join(QLatin1Char(','));
    }

    QStringList Texts() const
    {
        QStringList texts;
        for (const TMessageRequest& m : dialogs->Messages)
            texts << m.Text;
        return texts;
    }

    TScriptedDialogsGuard dialogs;
    std::deque<Variant> Values;
    std::vector<TAsked> Asked;
    std::unique_ptr<TSDS> Items;
    TSDataSource Source;

private:
    TFormatSettings FSettings;
};

// ------------------------------------------------------- the changing kinds

struct TChangeCase
{
    const char* Name;
    TGroupOperationKind Kind;
    const char* Field;
    QList<int> Marked; // none: all rows
    int StartId;       // the row current when the operation starts
    Variant Answer;    // the typed value; empty: none asked
    TModalResult Reply;
    QString Question; // the typed value's caption or the box's question
    uint8_t AskedKind;
    QString Expected; // the column as committed afterwards
};

class ChangeKinds : public GroupOperationsTest, public ::testing::WithParamInterface<TChangeCase>
{};

TEST_P(ChangeKinds, AskChangeAndCommit)
{
    const TChangeCase& c = GetParam();
    Mark(c.Marked);
    Go(c.StartId);
    if (!c.Answer.IsEmpty())
        Values.push_back(c.Answer);
    dialogs->Answers.push_back(c.Reply);

    Run(c.Field, c.Kind);

    if (c.AskedKind) {
        ASSERT_EQ(Asked.size(), 1u);
        EXPECT_EQ(Asked[0].Caption, c.Question);
        EXPECT_EQ(Asked[0].Kind, c.AskedKind);
        EXPECT_TRUE(dialogs->Messages.empty()) << Texts().join('\n').toStdString();
    } else if (!c.Question.isEmpty()) {
        EXPECT_TRUE(Asked.empty());
        ASSERT_EQ(dialogs->Messages.size(), 1u);
        EXPECT_EQ(dialogs->Messages[0].Text, c.Question);
        EXPECT_EQ(dialogs->Messages[0].Icon, TMsgIcon::Question);
        EXPECT_EQ(dialogs->Messages[0].Buttons, mbYesNo);
    }
    EXPECT_EQ(Committed(c.Field ? c.Field : "QTY"), c.Expected);
    EXPECT_EQ(Items->State(), dsBrowse);
    EXPECT_FALSE(Items->ControlsDisabled());
    if (c.Kind != goDelete) {
        EXPECT_EQ(CurrentId(), c.StartId) << "the cursor returns where it was";
    }
    EXPECT_FALSE(OnlyMarkedGroupOperations);
}

INSTANTIATE_TEST_SUITE_P(
    GroupOperations, ChangeKinds,
    ::testing::Values(TChangeCase{"ReplaceAll",
                                  goReplace,
                                  "QTY",
                                  {},
                                  1,
                                  Variant(8),
                                  mrNone,
                                  QStringLiteral("Заменить в ГРАФЕ одно значение на другое"),
                                  1,
                                  QStringLiteral("1=8,2=8,3=7,4=-,5=8,6=9")},
                      TChangeCase{"ReplaceMarked",
                                  goReplace,
                                  "QTY",
                                  {2, 3, 6},
                                  2,
                                  Variant(8),
                                  mrNone,
                                  QStringLiteral("Заменить в ПОМЕЧЕННЫХ строках одно значение на другое"),
                                  1,
                                  QStringLiteral("1=5,2=8,3=7,4=-,5=5,6=9")},
                      TChangeCase{"ReplaceEmptyMatchesEmpty",
                                  goReplace,
                                  "QTY",
                                  {},
                                  4,
                                  Variant(1),
                                  mrNone,
                                  QStringLiteral("Заменить в ГРАФЕ одно значение на другое"),
                                  1,
                                  QStringLiteral("1=5,2=5,3=7,4=1,5=5,6=9")},
                      TChangeCase{"FillMarkedString",
                                  goFill,
                                  "NAME",
                                  {1, 4},
                                  3,
                                  Variant("Zed"),
                                  mrNone,
                                  QStringLiteral("Заменить в ПОМЕЧЕННЫХ строках все значения на заданное"),
                                  4,
                                  QStringLiteral("1=Zed,2=beta,3=Gamma,4=Zed,5=Эхо,6=жук")},
                      TChangeCase{"FillAllFloat",
                                  goFill,
                                  "PRICE",
                                  {},
                                  1,
                                  Variant(2.25),
                                  mrNone,
                                  QStringLiteral("Заменить в ГРАФЕ все значения на заданное"),
                                  2,
                                  QStringLiteral("1=2.25,2=2.25,3=2.25,4=2.25,5=2.25,6=2.25")},
                      TChangeCase{"FillMarkedDate",
                                  goFill,
                                  "MADE",
                                  {3},
                                  1,
                                  Variant::FromDateTime(45658),
                                  mrNone,
                                  QStringLiteral("Заменить в ПОМЕЧЕННЫХ строках все значения на заданное"),
                                  3,
                                  QStringLiteral("1=2024-01-01,2=2024-01-02,3=2025-01-01,4=-,5=-,6=-")},
                      TChangeCase{"FillDeclined",
                                  goFill,
                                  "QTY",
                                  {},
                                  1,
                                  Variant(),
                                  mrNone,
                                  QStringLiteral("Заменить в ГРАФЕ все значения на заданное"),
                                  1,
                                  QStringLiteral("1=5,2=5,3=7,4=-,5=5,6=9")},
                      TChangeCase{"AddMarked",
                                  goAdd,
                                  "QTY",
                                  {1, 3, 4},
                                  6,
                                  Variant(10.0),
                                  mrNone,
                                  QStringLiteral("Добавить значение(в ПОМЕЧЕННЫХ строках)"),
                                  2,
                                  QStringLiteral("1=15,2=5,3=17,4=-,5=5,6=9")},
                      TChangeCase{"MultiplyAll",
                                  goMultiply,
                                  "PRICE",
                                  {},
                                  2,
                                  Variant(2.0),
                                  mrNone,
                                  QStringLiteral("Умножить на значение(в графе)"),
                                  2,
                                  QStringLiteral("1=3.00,2=5.00,3=-,4=8.00,5=10.00,6=12.00")},
                      TChangeCase{"AddOnStringAsksNothing",
                                  goAdd,
                                  "NAME",
                                  {},
                                  1,
                                  Variant(),
                                  mrNone,
                                  QString(),
                                  0,
                                  QStringLiteral("1=Alpha,2=beta,3=Gamma,4=-,5=Эхо,6=жук")},
                      TChangeCase{"UpperAll",
                                  goUpperCase,
                                  "NAME",
                                  {},
                                  1,
                                  Variant(),
                                  mrYes,
                                  QStringLiteral("Заменить графу заглавными буквами ?"),
                                  0,
                                  QStringLiteral("1=ALPHA,2=BETA,3=GAMMA,4=-,5=ЭХО,6=ЖУК")},
                      TChangeCase{"LowerMarked",
                                  goLowerCase,
                                  "NAME",
                                  {1, 5},
                                  1,
                                  Variant(),
                                  mrYes,
                                  QStringLiteral("Заменить ПОМЕЧЕННЫЕ строки малыми буквами ?"),
                                  0,
                                  QStringLiteral("1=alpha,2=beta,3=Gamma,4=-,5=эхо,6=жук")},
                      TChangeCase{"LowerDeclined",
                                  goLowerCase,
                                  "NAME",
                                  {},
                                  1,
                                  Variant(),
                                  mrNo,
                                  QStringLiteral("Заменить графу малыми буквами ?"),
                                  0,
                                  QStringLiteral("1=Alpha,2=beta,3=Gamma,4=-,5=Эхо,6=жук")},
                      TChangeCase{"CaseOnNumberAsksNothing",
                                  goUpperCase,
                                  "QTY",
                                  {},
                                  1,
                                  Variant(),
                                  mrNone,
                                  QString(),
                                  0,
                                  QStringLiteral("1=5,2=5,3=7,4=-,5=5,6=9")},
                      TChangeCase{"DeleteMarked",
                                  goDelete,
                                  "QTY",
                                  {2, 6},
                                  1,
                                  Variant(),
                                  mrYes,
                                  QStringLiteral("Удалить ПОМЕЧЕННЫЕ записи?"),
                                  0,
                                  QStringLiteral("1=5,3=7,4=-,5=5")},
                      TChangeCase{"DeleteAll",
                                  goDelete,
                                  nullptr,
                                  {},
                                  1,
                                  Variant(),
                                  mrYes,
                                  QStringLiteral("Удалить все записи?"),
                                  0,
                                  QString()},
                      TChangeCase{"DeleteDeclined",
                                  goDelete,
                                  "QTY",
                                  {},
                                  1,
                                  Variant(),
                                  mrNo,
                                  QStringLiteral("Удалить все записи?"),
                                  0,
                                  QStringLiteral("1=5,2=5,3=7,4=-,5=5,6=9")}),
    [](const auto& info) { return std::string(info.param.Name); });

// ------------------------------------------------------------ sum and count

TEST_F(GroupOperationsTest, SumAndCountShowTheirTotals)
{
    Field("QTY")->SetDisplayLabel(QStringLiteral(" Кол-во "));
    struct Case
    {
        QList<int> Marked;
        TGroupOperationKind Kind;
        const char* Field;
        QString Text; // empty: nothing shown
    } cases[] = {
        {{}, goCount, "QTY", QStringLiteral("Количество  строк = 6")},
        {{1, 2, 3}, goCount, "QTY", QStringLiteral("Количество ПОМЕЧЕННЫХ строк = 3")},
        {{}, goCount, nullptr, QStringLiteral("Количество  строк = 6")},
        {{1, 3, 6}, goSum, "QTY", QStringLiteral("Итого по ПОМЕЧЕННЫМ строкам в графе Кол-во  21")},
        {{}, goSum, "PRICE", QStringLiteral("Итого по ВСЕЙ графе PRICE  19,00")},
        {{}, goSum, "NAME", QString()},
        {{}, goSum, nullptr, QString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Text.toStdString());
        Source.RecordMarker()->Clear();
        Mark(c.Marked);
        Go(2);
        dialogs->Messages.clear();
        Run(c.Field, c.Kind);
        if (c.Text.isEmpty()) {
            EXPECT_TRUE(dialogs->Messages.empty());
        } else {
            ASSERT_EQ(dialogs->Messages.size(), 1u);
            EXPECT_EQ(dialogs->Messages[0].Text, c.Text);
            EXPECT_EQ(dialogs->Messages[0].Icon, TMsgIcon::Information);
            EXPECT_EQ(dialogs->Messages[0].Buttons, TMsgDlgButtons{mbOK});
        }
        EXPECT_EQ(CurrentId(), 2);
    }
}

TEST_F(GroupOperationsTest, SumGroupsThousandsOfIntegers)
{
    Mark({1, 2, 3});
    Run("N", goSum);
    ASSERT_EQ(dialogs->Messages.size(), 1u);
    EXPECT_EQ(dialogs->Messages[0].Text,
              QStringLiteral("Итого по ПОМЕЧЕННЫМ строкам в графе N  6") + QChar(0x00A0) + QStringLiteral("000"));
}

TEST_F(GroupOperationsTest, TheSumReadInPlaceAddsWhatAWalkOfTheCursorAdds)
{
    // Sums that depend on the order of adding, over rows whose view order (by
    // name) is not the order they were loaded in; nulls among them.
    FTestDb.ExecuteScript(
        QStringLiteral("INSERT INTO ITEM VALUES (7, 0, 'zeta', 1, 0.1, NULL, NULL, NULL);"
                       "INSERT INTO ITEM VALUES (8, 0, 'eta', 2, 1000000000000.01, NULL, NULL, NULL);"
                       "INSERT INTO ITEM VALUES (9, 0, 'theta', 3, 0.2, NULL, NULL, NULL);"
                       "INSERT INTO ITEM VALUES (10, 0, 'iota', 4, -999999999999.7, NULL, NULL, NULL);"
                       "INSERT INTO ITEM VALUES (11, 0, 'kappa', NULL, 0.3, NULL, NULL, NULL);"
                       "INSERT INTO ITEM VALUES (12, 0, NULL, 6, NULL, NULL, NULL, NULL);"));
    OpenItems();
    Items->SetIndexFieldNames(QStringLiteral("NAME"));
    Mark({1, 3, 4, 7, 8, 9, 10, 11, 12});
    TMemRecordMarker& marker = *Source.RecordMarker();
    // What a walk of the cursor adds, in view order, or in the order of loading.
    const auto walked = [&](const char* field, bool markedOnly) {
        double sum = 0;
        for (Items->First(); !Items->Eof(); Items->Next())
            if (!markedOnly || marker.IsMarked())
                sum += Field(field)->IsNull() ? 0.0 : Field(field)->AsFloat();
        return sum;
    };
    double loadOrder = 0;
    for (int id = 1; id <= 12; ++id) {
        Go(id);
        if (marker.IsMarked())
            loadOrder += Field("PRICE")->AsFloat();
    }
    ASSERT_NE(loadOrder, walked("PRICE", true)) << "the rows must tell one order of adding from another";

    for (const bool markedOnly : {true, false}) {
        if (!markedOnly)
            marker.Clear();
        for (const char* field : {"PRICE", "QTY"}) {
            SCOPED_TRACE(std::string(field) + (markedOnly ? " marked" : " all"));
            Go(2);
            TInfoIterator sum(&Source, Field(field), goSum);
            sum.Execute();
            TInfoIterator count(&Source, Field(field), goCount);
            count.Execute();
            EXPECT_EQ(CurrentId(), 2) << "the cursor stays";
            EXPECT_EQ(sum.Sum(), walked(field, markedOnly));
            EXPECT_EQ(count.Count(), markedOnly ? 9 : 12);
        }
    }
}

TEST_F(GroupOperationsTest, TheSumInPlaceFollowsChangedMarksAndRows)
{
    // The in-place walk knows marked rows by where they are stored, kept
    // from one sum to the next: toggling, deleting a marked row and adding
    // one that takes its place must each be seen.
    TMemRecordMarker& marker = *Source.RecordMarker();
    const auto expectWalkedTotals = [&](const char* step) {
        SCOPED_TRACE(step);
        double sum = 0;
        int count = 0;
        for (Items->First(); !Items->Eof(); Items->Next())
            if (marker.IsMarked()) {
                sum += Field("PRICE")->IsNull() ? 0.0 : Field("PRICE")->AsFloat();
                ++count;
            }
        TInfoIterator total(&Source, Field("PRICE"), goSum);
        total.Execute();
        TInfoIterator counted(&Source, Field("PRICE"), goCount);
        counted.Execute();
        EXPECT_EQ(total.Sum(), sum);
        EXPECT_EQ(counted.Count(), count);
    };
    Mark({2, 4, 6});
    expectWalkedTotals("marked");
    Mark({2, 5});
    expectWalkedTotals("toggled");
    Go(6);
    Items->Delete();
    expectWalkedTotals("a marked row deleted");
    // The same values as the deleted row: its storage is used again.
    Items->Append();
    Field("SYS$ID")->SetAsInteger(7);
    Field("NAME")->SetAsString(QStringLiteral("жук"));
    Field("QTY")->SetAsInteger(9);
    Field("PRICE")->SetAsFloat(6);
    Items->Post();
    expectWalkedTotals("a row added in its place");
    EXPECT_EQ(marker.MarkedCount(), 2);
}

// ----------------------------------------------------------------- refusals

TEST_F(GroupOperationsTest, RefusalsChangeNothingAndResetTheSwitch)
{
    const QString unchanged = QStringLiteral("1=5,2=5,3=7,4=-,5=5,6=9");
    Field("PRICE")->SetReadOnly(true);
    struct Case
    {
        std::function<void()> Setup;
        const char* Field;
        TGroupOperationKind Kind;
        QString Text;
        TMsgIcon Icon;
    } cases[] = {
        {[this] { Items->Edit(); }, "QTY", goCount, QStringLiteral("Набор данных не в режиме просмотра."),
         TMsgIcon::Stop},
        {[] {}, "PRICE", goFill, QStringLiteral("Поле НД не может быть изменено."), TMsgIcon::Stop},
        {[] {}, "SYS$ID", goAdd, QStringLiteral("Операция не применима к полям индекса и сортировки."), TMsgIcon::Stop},
        {[] {}, nullptr, goReplace, QStringLiteral("Поле не найдено."), TMsgIcon::Stop},
        {[] {}, "QTY", goFill,
         QStringLiteral("Применение групповых операций ко ВСЕМ записям заблокировано, возможно - только к ВЫДЕЛЕННЫМ."),
         TMsgIcon::Warning},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Text.toStdString());
        dialogs->Messages.clear();
        c.Setup();
        OnlyMarkedGroupOperations = true;
        try {
            Run(c.Field, c.Kind);
        } catch (const EAbort&) {
            EXPECT_EQ(c.Icon, TMsgIcon::Warning) << "only the blocked call aborts";
        }
        if (Items->State() != dsBrowse)
            Items->Cancel();
        ASSERT_EQ(dialogs->Messages.size(), 1u);
        EXPECT_EQ(dialogs->Messages[0].Text, c.Text);
        EXPECT_EQ(dialogs->Messages[0].Icon, c.Icon);
        EXPECT_EQ(dialogs->Messages[0].Buttons, TMsgDlgButtons{mbCancel});
        EXPECT_FALSE(OnlyMarkedGroupOperations) << "the switch restricts one call only";
        EXPECT_TRUE(Asked.empty());
    }
    EXPECT_EQ(Committed("QTY"), unchanged);

    dialogs->Messages.clear();
    RunGroupOperation(nullptr, nullptr, goCount);
    TSDataSource empty;
    RunGroupOperation(&empty, nullptr, goCount);
    EXPECT_EQ(Texts(), QStringList(2, QStringLiteral("Неинициализированный набор данных.")));

    // With marks the switch lets the operation through.
    Mark({3});
    OnlyMarkedGroupOperations = true;
    Values.push_back(Variant(1));
    Run("QTY", goFill);
    EXPECT_EQ(Committed("QTY"), QStringLiteral("1=5,2=5,3=1,4=-,5=5,6=9"));
    EXPECT_FALSE(OnlyMarkedGroupOperations);
}

// ---------------------------------------------------------- a refused row

TEST_F(GroupOperationsTest, RefusedRowIsCancelledAndEndsTheWalkWithItsError)
{
    Go(4);
    Values.push_back(Variant(993.0)); // 5 and 5 pass, 7 + 993 breaks the check
    EXPECT_THROW(Run("QTY", goAdd), std::exception);
    EXPECT_EQ(Items->State(), dsBrowse) << "nothing of the refused row stays pending";
    EXPECT_EQ(Committed("QTY"), QStringLiteral("1=998,2=998,3=7,4=-,5=5,6=9"));
    Go(3);
    EXPECT_EQ(Field("QTY")->AsInteger(), 7);
    Go(5);
    EXPECT_EQ(Field("QTY")->AsInteger(), 5) << "the walk ended at the refused row";
    EXPECT_FALSE(Items->ControlsDisabled());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

// ------------------------------------------------------------ virtual delete

TEST_F(GroupOperationsTest, VirtualDeleteGoesOnOverEveryMarkedRow)
{
    for (const bool showDeleted : {false, true}) {
        SCOPED_TRACE(showDeleted ? "deleted rows shown" : "deleted rows hidden");
        FTestDb.Execute(QStringLiteral("update ITEM set SYS$STATE = 0"));
        TSDSOptions options{dsoVirtualDelete};
        if (showDeleted)
            options = options + TSDSOptions{dsoShowDeleted};
        OpenItems(options);
        Mark({2, 3, 5});
        dialogs->Answers = {mrYes};
        Run(nullptr, goDelete);
        EXPECT_EQ(FTestDb.Committed(QStringLiteral("select SYS$ID from ITEM where SYS$STATE < 0 order by 1")),
                  QStringList({"2", "3", "5"}));
        EXPECT_FALSE(Items->ControlsDisabled());
    }
    // All rows: the walk ends although every row stays.
    FTestDb.Execute(QStringLiteral("update ITEM set SYS$STATE = 0"));
    OpenItems(TSDSOptions{dsoVirtualDelete, dsoShowDeleted});
    dialogs->Answers = {mrYes};
    Run(nullptr, goDelete);
    EXPECT_EQ(FTestDb.Committed(QStringLiteral("select count(*) from ITEM where SYS$STATE < 0")), QStringList({"6"}));
}

// ------------------------------------------------------ marks of gone rows

TEST_F(GroupOperationsTest, MarksOfDeletedRowsNoLongerCount)
{
    Mark({2, 6});
    dialogs->Answers = {mrYes};
    Run(nullptr, goDelete);
    TMemRecordMarker& marker = *Source.RecordMarker();
    EXPECT_TRUE(marker.IsEmpty());
    EXPECT_EQ(marker.MarkedCount(), 0);

    dialogs->Messages.clear();
    Run("QTY", goCount);
    EXPECT_EQ(Texts(), QStringList{QStringLiteral("Количество  строк = 4")}) << "nothing marked: all rows";

    Mark({1});
    Go(1);
    Items->Delete();
    EXPECT_TRUE(marker.IsEmpty());
    Mark({3});
    EXPECT_EQ(marker.MarkedCount(), 1);
}

// ------------------------------------------- nested cursors and controls

TEST_F(GroupOperationsTest, EndingAWalkRestoresOnlyWhatItChanged)
{
    QGuiApplication::setOverrideCursor(Qt::CrossCursor);
    Items->DisableControls();
    for (const TGroupOperationKind kind : {goSum, goCount, goFill}) {
        Values.push_back(Variant(6));
        Run("QTY", kind);
        ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
        EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::CrossCursor) << "the caller's cursor stays";
        EXPECT_TRUE(Items->ControlsDisabled()) << "the caller's switch stays";
    }
    Items->EnableControls();
    EXPECT_FALSE(Items->ControlsDisabled());
    QGuiApplication::restoreOverrideCursor();
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

// ------------------------------------------------------ stopping a long walk

// Stops once the walk has passed a number of rows.
class TStoppingProgress : public TGroupOperationProgress
{
public:
    TStoppingProgress(int stopAfter, int& total) : FStopAfter(stopAfter), FTotal(total) {}
    bool Advance(int walked) override
    {
        ++FTotal;
        return walked <= FStopAfter;
    }

private:
    int FStopAfter;
    int& FTotal;
};

TEST_F(GroupOperationsTest, LongWalksShowProgressAndStopBetweenRows)
{
    GroupOperationProgressThreshold = 3;
    int advances = 0;
    int shownTotal = 0;
    QStringList captions;
    GroupOperationProgress = [&](const QString& caption, int total) -> std::unique_ptr<TGroupOperationProgress> {
        captions << caption;
        shownTotal = total;
        return std::make_unique<TStoppingProgress>(2, advances);
    };

    Go(1);
    Values.push_back(Variant(3));
    Run("QTY", goFill);
    EXPECT_EQ(shownTotal, 6);
    EXPECT_EQ(Committed("QTY"), QStringLiteral("1=3,2=3,3=7,4=-,5=5,6=9")) << "rows written stay written";
    EXPECT_EQ(Texts(), QStringList{QStringLiteral("Операция прервана. Изменено строк: 2.")});
    EXPECT_EQ(CurrentId(), 1);

    dialogs->Messages.clear();
    dialogs->Answers = {mrYes};
    Run(nullptr, goDelete);
    EXPECT_EQ(Committed("QTY"), QStringLiteral("3=7,4=-,5=5,6=9"));
    EXPECT_EQ(Texts(), QStringList({QStringLiteral("Удалить все записи?"),
                                    QStringLiteral("Операция прервана. Удалено строк: 2.")}));

    dialogs->Messages.clear();
    Run("QTY", goCount);
    EXPECT_EQ(Texts(), QStringList{QStringLiteral("Операция прервана.")}) << "no partial total";
    EXPECT_EQ(captions, QStringList({QStringLiteral("Замена значений"), QStringLiteral("Удаление записей"),
                                     QStringLiteral("Подсчёт строк")}));

    // Short walks and walks over few marked rows show none.
    shownTotal = 0;
    Mark({3, 4});
    dialogs->Messages.clear();
    Run("QTY", goCount);
    EXPECT_EQ(shownTotal, 0);
    EXPECT_EQ(Texts(), QStringList{QStringLiteral("Количество ПОМЕЧЕННЫХ строк = 2")});
}

} // namespace
