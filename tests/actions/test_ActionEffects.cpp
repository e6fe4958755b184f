// The actions driven as a user drives them: executed from the focused
// control (as a menu item or button runs them), by their keys, and with
// their states kept in step with the focus and the data.
#include "ActionFixture.h"
#include "Exceptions.h"
#include "InplaceEdit.h"
#include "RusClipboard.h"
#include "SDS.h"
#include "URecordMarker.h"
#include "uIterators.h"

#include <QClipboard>
#include <QMenu>
#include <QSignalSpy>

namespace {

class ActionTest : public TActionFixture
{
protected:
    // Whether the action reached RunGroupOperation: every group operation
    // clears the flag, whatever its outcome. With nothing marked the
    // operation is refused at once (a warning, then the silent abort), so
    // no row changes.
    bool RanGroupOperation(TAction& action)
    {
        TScriptedDialogsGuard dialogs;
        OnlyMarkedGroupOperations = true;
        try {
            action.Execute();
        } catch (const EAbort&) {
        }
        const bool ran = !OnlyMarkedGroupOperations;
        OnlyMarkedGroupOperations = false;
        return ran;
    }
    // A right-click through the window, as the platform delivers it: the
    // press makes the context menu event.
    static void RightClick(QWidget* widget)
    {
        QWidget* window = widget->window();
        QTest::mouseClick(window->windowHandle(), Qt::RightButton, Qt::NoModifier,
                          widget->mapTo(window, QPoint(5, widget->height() / 2)));
        QApplication::processEvents();
    }
    static QString ClipboardText() { return QGuiApplication::clipboard()->text(); }
    static void SetClipboardText(const QString& text) { QGuiApplication::clipboard()->setText(text); }
    static QString HintOf(const std::function<void()>& run)
    {
        try {
            run();
        } catch (const EHintError& e) {
            return e.Message();
        }
        return QString();
    }
};

} // namespace

TEST_F(ActionTest, MarkingWorksOnTheDataSourceBehindTheFocusedGridOrEdit)
{
    TAction& mark = Action("RecordMarkAction1");
    EXPECT_TRUE(mark.Execute());
    EXPECT_EQ(Marker().MarkedCount(), 1);
    EXPECT_TRUE(Marker().IsMarked());

    // The group marking: from here to there.
    FData->Go(2);
    Action("RecordMarkGroupAction1").Execute();
    FData->Go(4);
    Action("RecordMarkGroupAction1").Execute();
    EXPECT_EQ(Marker().MarkedCount(), 4);

    // From the data-aware edit, the edit's data source.
    Focus(FEdit);
    FData->Go(5);
    EXPECT_EQ(Table().State(), dsBrowse);
    EXPECT_EQ(FData->Field("ID")->AsInteger(), 5);
    EXPECT_TRUE(mark.Execute());
    EXPECT_EQ(Marker().MarkedCount(), 5);

    // Offered to a grid itself (not through the route), a grid without the
    // marking service has no marker to give.
    FGrid->SetServiceOptions(FGrid->ServiceOptions() - TServiceOptions{srvMarkRecord});
    mark.ExecuteTarget(FGrid);
    EXPECT_EQ(Marker().MarkedCount(), 5);
    FGrid->SetServiceOptions(DefaultServiceOptions);
    mark.ExecuteTarget(FGrid);
    EXPECT_EQ(Marker().MarkedCount(), 4);
}

TEST_F(ActionTest, SortAndFilterWorkOnTheSelectedColumn)
{
    FGrid->SetSelectedIndex(1); // NAME
    ASSERT_EQ(FGrid->SelectedField()->FieldName(), QStringLiteral("NAME"));
    Action("SortAction1").Execute();
    EXPECT_TRUE(Source().Sorting());
    EXPECT_EQ(Source().GetIndexFieldNames(), QStringLiteral("NAME"));
    Action("SortCancelAction1").Execute();
    EXPECT_FALSE(Source().Sorting());

    // Without the sort service the grid's column is not sorted.
    FGrid->SetServiceOptions(FGrid->ServiceOptions() - TServiceOptions{srvSort});
    Action("SortAction1").Execute();
    EXPECT_FALSE(Source().Sorting());

    // Filtering asks the filter dialog for the selected field.
    TField* asked = nullptr;
    const auto saved = TSDataSource::FilterDialog;
    TSDataSource::FilterDialog = [&asked](TSDataSource*, TField* field, TFieldFilters&) {
        asked = field;
        return false;
    };
    Action("FilterAction1").Execute();
    TSDataSource::FilterDialog = saved;
    EXPECT_EQ(asked, FGrid->SelectedField());
}

TEST_F(ActionTest, WithoutASelectedFieldOnlyCountingActs)
{
    FGrid->Columns().SetState(csCustomized);
    FGrid->Columns().Clear();
    ASSERT_EQ(FGrid->SelectedField(), nullptr);
    SetClipboardText(QStringLiteral("kept"));
    bool askedFilter = false;
    const auto saved = TSDataSource::FilterDialog;
    TSDataSource::FilterDialog = [&askedFilter](TSDataSource*, TField*, TFieldFilters&) {
        askedFilter = true;
        return false;
    };

    Action("SortAction1").Execute();
    Action("FilterAction1").Execute();
    Action("REditCopy1").Execute();
    TSDataSource::FilterDialog = saved;
    EXPECT_FALSE(Source().Sorting());
    EXPECT_FALSE(askedFilter);
    EXPECT_EQ(ClipboardText(), QStringLiteral("kept"));

    const struct
    {
        const char* Action;
        bool Runs;
    } cases[] = {{"SumAction1", false},       {"RecordCountAction1", true}, {"GroupReplaceAction1", false},
                 {"GroupFillAction1", false}, {"GroupAddAction1", false},   {"GroupMulAction1", false},
                 {"GroupDeleteAction1", true}};
    for (const auto& c : cases)
        EXPECT_EQ(RanGroupOperation(Action(c.Action)), c.Runs) << c.Action;
}

TEST_F(ActionTest, GroupOperationsRunOnTheFocusedColumnOnlyWhereTheGridAllowsTheirWrites)
{
    FGrid->SetSelectedIndex(2); // QTY
    const struct
    {
        const char* Action;
        TAllowedOperations Allowed;
        bool Runs;
    } cases[] = {
        {"SumAction1", {}, true},
        {"RecordCountAction1", {}, true},
        {"GroupDeleteAction1", AllAllowedOperations, true},
        {"GroupDeleteAction1", AllAllowedOperations - TAllowedOperations{alopDeleteEx}, false},
        {"GroupReplaceAction1", AllAllowedOperations, true},
        {"GroupReplaceAction1", AllAllowedOperations - TAllowedOperations{alopUpdateEx}, false},
        {"GroupAddAction1", AllAllowedOperations - TAllowedOperations{alopUpdateEx}, false},
    };
    for (const auto& c : cases) {
        FGrid->SetAllowedOperations(c.Allowed);
        TAction& action = Action(c.Action);
        // A state left from an earlier control must not let it run.
        action.SetEnabled(true);
        EXPECT_EQ(RanGroupOperation(action), c.Runs) << c.Action;
    }
    // From a data-aware edit, on the edit's field.
    FGrid->SetAllowedOperations(AllAllowedOperations);
    Focus(FEdit);
    EXPECT_TRUE(RanGroupOperation(Action("SumAction1")));
    // From a plain line edit, nothing.
    Focus(FLine);
    EXPECT_FALSE(RanGroupOperation(Action("SumAction1")));
}

TEST_F(ActionTest, RecordEditingFollowsTheGridsPermissions)
{
    const struct
    {
        const char* Action;
        TAllowedOperations Allowed;
        const char* Refusal;
        TDataSetState After;
    } cases[] = {
        {"RecordEditAction1", AllAllowedOperations, "", dsEdit},
        {"RecordEditAction1", AllAllowedOperations - TAllowedOperations{alopUpdateEx},
         "Корректировка записи запрешена !", dsBrowse},
        {"RecordInsertAction1", AllAllowedOperations, "", dsInsert},
        {"RecordInsertAction1", TAllowedOperations{alopUpdateEx, alopDeleteEx}, "Добавление запрещено !", dsBrowse},
        {"RecordDeleteAction1", TAllowedOperations{alopUpdateEx}, "Удаление запрешено !", dsBrowse},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Action);
        FGrid->SetAllowedOperations(c.Allowed);
        TAction& action = Action(c.Action);
        EXPECT_EQ(HintOf([&] { action.ExecuteTarget(&Source()); }), QString::fromUtf8(c.Refusal));
        EXPECT_EQ(Table().State(), c.After);
        Table().Cancel();
    }
}

TEST_F(ActionTest, EditingAnEmptyDataSetInsertsOnlyWhereInsertingIsAllowed)
{
    while (!Table().IsEmpty())
        Table().Delete();
    FGrid->SetAllowedOperations(TAllowedOperations{alopUpdateEx});
    EXPECT_EQ(HintOf([&] { Action("RecordEditAction1").ExecuteTarget(&Source()); }),
              QStringLiteral("Добавление запрещено !"));
    EXPECT_EQ(Table().State(), dsBrowse);
    EXPECT_EQ(Table().RecordCount(), 0);

    FGrid->SetAllowedOperations(AllAllowedOperations);
    Action("RecordEditAction1").ExecuteTarget(&Source());
    EXPECT_EQ(Table().State(), dsInsert);
    Table().Cancel();
}

TEST_F(ActionTest, PostingAndDeletingAskAndActOnlyWhenThereIsSomethingToDo)
{
    TScriptedDialogsGuard dialogs;
    // Browsing: nothing to post.
    Action("RecordPostAction1").Execute();
    EXPECT_EQ(Table().State(), dsBrowse);
    Table().Edit();
    FData->Field("NAME")->SetAsString(QStringLiteral("Изменено"));
    Action("RecordPostAction1").Execute();
    EXPECT_EQ(Table().State(), dsBrowse);
    EXPECT_EQ(FData->Field("NAME")->AsString(), QStringLiteral("Изменено"));

    dialogs->Answers = {mrCancel, mrOk};
    Action("RecordDeleteAction1").Execute();
    EXPECT_EQ(Table().RecordCount(), 5);
    Action("RecordDeleteAction1").Execute();
    EXPECT_EQ(Table().RecordCount(), 4);
    ASSERT_EQ(dialogs->Messages.size(), 2u);
    EXPECT_EQ(dialogs->Messages[0].Text, QStringLiteral("Удалить запись?"));
    EXPECT_EQ(dialogs->Messages[0].Buttons, mbOKCancel);
}

TEST_F(ActionTest, CopyPutsTheCellsTextAndPasteWritesOnlyWhereItMay)
{
    FGrid->SetSelectedIndex(1);
    Action("REditCopy1").Execute();
    EXPECT_EQ(ClipboardText(), QStringLiteral("Row 1"));
    TRusClipboard clipboard;
    EXPECT_EQ(clipboard.Locale(), 1049u);

    SetClipboardText(QStringLiteral("вставка"));
    const struct
    {
        bool ReadOnly;
        const char* After;
    } cases[] = {{false, "abвставка"}, {true, "ab"}};
    for (const auto& c : cases) {
        FLine->setText(QStringLiteral("ab"));
        FLine->setReadOnly(c.ReadOnly);
        Focus(FLine);
        Action("REditPaste1").Execute();
        EXPECT_EQ(FLine->text(), QString::fromUtf8(c.After)) << c.ReadOnly;
    }
}

TEST_F(ActionTest, TheGridsEditorTakesAPasteOnlyWhereTheGridLetsItsRecordsChange)
{
    FGrid->SetSelectedIndex(1);
    ASSERT_TRUE(FGrid->ShowEditor());
    TInplaceEditor* editor = FGrid->InplaceEditor();
    ASSERT_NE(editor, nullptr);
    Focus(editor->focusProxy() ? editor->focusProxy() : editor);
    // Copy takes the editor's selection.
    editor->SelectAll();
    Action("REditCopy1").Execute();
    EXPECT_EQ(ClipboardText(), QStringLiteral("Row 1"));

    SetClipboardText(QStringLiteral("X"));
    const struct
    {
        TAllowedOperations Allowed;
        const char* After;
    } cases[] = {{TAllowedOperations{alopInsertEx, alopDeleteEx}, "Row 1"}, {AllAllowedOperations, "XRow 1"}};
    for (const auto& c : cases) {
        FGrid->SetAllowedOperations(c.Allowed);
        editor->SetSelStart(0);
        Action("REditPaste1").Execute();
        EXPECT_EQ(editor->Text(), QString::fromUtf8(c.After));
    }
    FGrid->CancelEditor();
    Table().Cancel();
}

TEST_F(ActionTest, ThePopupMenusCopyKeepsTheClipboardWithoutASelectionAndPasteSparesReadOnlyEdits)
{
    SetClipboardText(QStringLiteral("kept"));
    FLine->setText(QStringLiteral("abc"));
    I()->SetPopupComponent(FLine);
    I()->mCopyPopupMenuClick();
    EXPECT_EQ(ClipboardText(), QStringLiteral("kept"));
    FLine->setSelection(0, 2);
    I()->mCopyPopupMenuClick();
    EXPECT_EQ(ClipboardText(), QStringLiteral("ab"));

    FLine->setReadOnly(true);
    FLine->setCursorPosition(3);
    I()->mPastePopupMenuClick();
    EXPECT_EQ(FLine->text(), QStringLiteral("abc"));
    FLine->setReadOnly(false);
    I()->mPastePopupMenuClick();
    EXPECT_EQ(FLine->text(), QStringLiteral("abcab"));

    // The popup's component must be a text edit.
    I()->SetPopupComponent(FGrid);
    EXPECT_THROW(I()->mCopyPopupMenuClick(), Exception);
}

TEST_F(ActionTest, ARightClickInTheFrameworksTextEditsOpensTheModulesPopupMenu)
{
    FGrid->SetSelectedIndex(1);
    ASSERT_TRUE(FGrid->ShowEditor());
    auto* inplace = qobject_cast<TInplaceEdit*>(FGrid->InplaceEditor());
    ASSERT_NE(inplace, nullptr);
    QLineEdit* gridEditor = inplace->LineEdit();
    // A data-aware edit whose form gives it a menu of its own keeps it.
    TDBEdit formsOwn(FForm.get());
    formsOwn.setContextMenuPolicy(Qt::CustomContextMenu);
    int ownMenuRequests = 0;
    QObject::connect(&formsOwn, &QWidget::customContextMenuRequested, [&] { ++ownMenuRequests; });
    formsOwn.show();
    QMenu* sysMenu = ServiceActions().SysEditPopupMenu;
    const struct
    {
        const char* Name;
        QLineEdit* Edit;
        bool ModulesMenu;
    } cases[] = {{"grid's editor", gridEditor, true},
                 {"data-aware edit", FEdit, true},
                 {"plain line edit: Qt's menu", FLine, false},
                 {"form's own menu", &formsOwn, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        I()->SetPopupComponent(nullptr);
        RightClick(c.Edit);
        QWidget* popup = QApplication::activePopupWidget();
        EXPECT_EQ(popup && popup == sysMenu, c.ModulesMenu);
        EXPECT_EQ(I()->PopupComponent(), c.ModulesMenu ? c.Edit : nullptr);
        if (popup)
            popup->close();
        QApplication::processEvents();
    }
    EXPECT_EQ(ownMenuRequests, 1);

    // Its items act on the editor it was opened on.
    gridEditor->deselect();
    RightClick(gridEditor);
    ASSERT_EQ(QApplication::activePopupWidget(), sysMenu);
    sysMenu->findChild<QAction*>(QStringLiteral("SelectAll1"))->trigger();
    sysMenu->close();
    EXPECT_EQ(gridEditor->selectedText(), QStringLiteral("Row 1"));
    FGrid->CancelEditor();
}

TEST_F(ActionTest, CommandSlotsStayDisabledUntilTheHostGivesThemAHandler)
{
    TAction& about = Action("AboutAction1");
    EXPECT_FALSE(about.Execute());
    EXPECT_FALSE(about.Enabled());
    int runs = 0;
    about.OnExecute = [&runs](TAction&) { ++runs; };
    EXPECT_TRUE(about.Execute());
    EXPECT_TRUE(about.Enabled());
    EXPECT_EQ(runs, 1);
}

TEST_F(ActionTest, StatesFollowTheFocusAndTheData)
{
    TAction& cut = Action("EditCut1");
    FLine->setText(QStringLiteral("text"));
    FLine->selectAll();
    Focus(FLine);
    EXPECT_TRUE(cut.Enabled());
    Focus(FGrid);
    EXPECT_FALSE(cut.Enabled()); // no text edit has the focus

    // A move of the focused grid's cursor brings the states up to date once events ran.
    TAction& mark = Action("RecordMarkAction1");
    mark.SetEnabled(false);
    Table().Next();
    EXPECT_FALSE(mark.Enabled());
    QApplication::processEvents();
    EXPECT_TRUE(mark.Enabled());
}

TEST_F(ActionTest, TheGridsKeysAreTheGridsAndTheWindowsKeysReachTheEdits)
{
    I()->AttachShortcuts(FForm.get());
    TAction& mark = Action("RecordMarkAction1");
    QSignalSpy fired(&mark, &QAction::triggered);

    // In the grid the key is the grid's own: the grid marks the record and
    // the window's shortcut stays quiet.
    QTest::keyClick(FGrid, Qt::Key_F3, Qt::ShiftModifier);
    EXPECT_EQ(fired.count(), 0);
    EXPECT_EQ(Marker().MarkedCount(), 1);

    // In the data-aware edit the window's shortcut runs the action on the
    // edit's data source: the same record's mark goes again.
    Focus(FEdit);
    QTest::keyClick(FEdit, Qt::Key_F3, Qt::ShiftModifier);
    EXPECT_EQ(fired.count(), 1);
    EXPECT_EQ(Marker().MarkedCount(), 0);

    // A key that two actions share reaches neither from the window.
    Focus(FLine);
    QSignalSpy add(&Action("GroupAddAction1"), &QAction::triggered);
    QSignalSpy mul(&Action("GroupMulAction1"), &QAction::triggered);
    QTest::keyClick(FLine, Qt::Key_Plus, Qt::ControlModifier | Qt::KeypadModifier);
    EXPECT_EQ(add.count(), 1);
    EXPECT_EQ(mul.count(), 0);
}

TEST_F(ActionTest, TheDuplicationActionsAreTheGridsAlone)
{
    TAction& duplicate = Action("RecordDoubleFieldAction1");
    auto& service = static_cast<TTarvoServiceAction&>(duplicate);
    EXPECT_FALSE(service.HandlesTarget(FEdit));
    EXPECT_TRUE(service.HandlesTarget(&Source()));
    EXPECT_TRUE(service.HandlesTarget(FGrid));
    EXPECT_FALSE(static_cast<TTarvoServiceAction&>(Action("RecordMarkAction1")).HandlesTarget(FLine));
    EXPECT_TRUE(static_cast<TTarvoServiceAction&>(Action("RecordMarkAction1")).HandlesTarget(FEdit));
}
