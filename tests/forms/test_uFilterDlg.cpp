// The filter dialog driven by clicks and keys on the offscreen platform.
#include "FilterFixture.h"

#include "Dialogs.h"
#include "Exceptions.h"
#include "FrameworkForms.h"
#include "SysUtils.h"
#include "uFilterDlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QToolButton>
#include <QtTest/QTest>
#include <functional>
#include <gtest/gtest.h>

using namespace filtertest;

namespace {

TDateTime Day(int year, int month, int day) { return EncodeDate(year, month, day); }

QStringList Lines(const QListWidget* list)
{
    QStringList lines;
    for (int i = 0; i < list->count(); ++i)
        lines << list->item(i)->text();
    return lines;
}

QStringList Captions(const QList<QRadioButton*>& items)
{
    QStringList captions;
    for (const QRadioButton* item : items)
        captions << item->text();
    return captions;
}

// The panel shown in the shared place.
QString ShownPanel(const TfFilterDlg& dlg)
{
    QString shown;
    for (const QFrame* panel : {dlg.pParam1, dlg.pParam2, dlg.pParam31, dlg.pParam32, dlg.pParamsBool})
        if (panel->isVisibleTo(&dlg))
            shown += panel->objectName();
    return shown;
}

std::vector<TRow> Goods()
{
    return {
        {1, QStringLiteral("Молоко свежее"), 10, 12.5, Variant::FromDateTime(Day(2026, 3, 15)),
         Variant::FromDateTime(Day(2026, 3, 15) + EncodeTime(10, 30, 0, 0)), true},
        {2, QStringLiteral("Хлеб"), 20, 3.25, Variant::FromDateTime(Day(2026, 4, 1)), Variant::Null(), false},
        {3, QStringLiteral("Молоко"), Variant::Null(), 0.1 + 0.2, Variant::Null(), Variant::Null(), Variant::Null()},
    };
}

class FilterDialogTest : public ::testing::Test
{
protected:
    FilterDialogTest() : data(Goods())
    {
        FSaved = FormatSettings();
        FormatSettings() = TFormatSettings{};
    }
    ~FilterDialogTest() override { FormatSettings() = FSaved; }

    // Opens the dialog on a field of the current record; drive acts once it
    // is shown and must close it.
    bool Open(const char* field, const std::function<void(TfFilterDlg&)>& drive)
    {
        bool driven = false;
        QTimer::singleShot(0, [&] {
            TfFilterDlg* dlg = fFilterDlg();
            if (!dlg || !dlg->isVisible())
                return;
            driven = true;
            EXPECT_TRUE(QTest::qWaitForWindowActive(dlg));
            drive(*dlg);
            if (dlg->isVisible()) {
                ADD_FAILURE() << "the test left the dialog open";
                dlg->Button1->click();
            }
        });
        const bool applied = ShowFilterDialog(&data.Source, field ? data.Field(field) : nullptr, filters);
        EXPECT_TRUE(driven);
        return applied;
    }

    TTable data;
    TFieldFilters& filters = data.Source.Filters();
    TScriptedDialogsGuard dialogs;

private:
    TFormatSettings FSaved;
};

TEST_F(FilterDialogTest, OpeningOnAStringFieldListsASubstringOfItsValueReadyToApply)
{
    EXPECT_TRUE(Open("NAME", [](TfFilterDlg& dlg) {
        EXPECT_EQ(Lines(dlg.lbAllFilters), QStringList({QStringLiteral("\"NAME\"   СОДЕРЖИТ   'Молоко свежее'")}));
        EXPECT_EQ(dlg.lbAllFilters->currentRow(), 0);
        EXPECT_EQ(dlg.cbFieldName->currentText(), QStringLiteral("NAME (строка)"));
        EXPECT_EQ(Captions(dlg.FilterTypeItems()),
                  QStringList({QStringLiteral("Точное соответствие"), QStringLiteral("Подстрока"),
                               QStringLiteral("Список значений"), QStringLiteral("Несколько подстрок")}));
        EXPECT_EQ(dlg.FilterTypeIndex(), 1);
        EXPECT_EQ(ShownPanel(dlg), QStringLiteral("pParam1"));
        EXPECT_EQ(QApplication::focusWidget(), dlg.eValue);
        EXPECT_EQ(dlg.eValue->selectedText(), QStringLiteral("Молоко свежее"));
        dlg.btnClose->click();
    }));
    ASSERT_EQ(filters.size(), 1u);
    EXPECT_EQ(filters[0]->Kind, fkSubstring);
    EXPECT_EQ(filters[0]->Field, data.Field("NAME"));
    EXPECT_EQ(filters[0]->Value, QStringLiteral("Молоко свежее"));
    EXPECT_TRUE(dialogs->Messages.empty());
}

TEST_F(FilterDialogTest, FieldsOfferedAndThePrefillOfEachCategory)
{
    const struct
    {
        const char* field;
        QString panel;
        QStringList kinds;
        QString line;
        std::function<void(TfFilterDlg&)> check;
    } cases[] = {
        {"QTY",
         QStringLiteral("pParam31"),
         {QStringLiteral("Интервал"), QStringLiteral("Список значений")},
         QStringLiteral("10 <= \"QTY\" <= 10"),
         [](TfFilterDlg& dlg) { EXPECT_EQ(QApplication::focusWidget(), dlg.eFloatBeg); }},
        {"PRICE",
         QStringLiteral("pParam31"),
         {QStringLiteral("Интервал"), QStringLiteral("Список значений")},
         QStringLiteral("12,5 <= \"PRICE\" <= 12,5"),
         nullptr},
        {"DT",
         QStringLiteral("pParam32"),
         {QStringLiteral("Интервал"), QStringLiteral("Список значений")},
         QStringLiteral("\"DT\"   С   '15.03.2026'   ПО   '15.03.2026'"),
         [](TfFilterDlg& dlg) {
             EXPECT_EQ(dlg.eDatBeg->inputMask(), QStringLiteral("00\\.00\\.9999;_"));
             EXPECT_EQ(dlg.eDatBeg->text(), QStringLiteral("15.03.2026"));
             EXPECT_EQ(QApplication::focusWidget(), dlg.eDatBeg);
         }},
        {"STAMP",
         QStringLiteral("pParam32"),
         {QStringLiteral("Интервал"), QStringLiteral("Список значений")},
         QStringLiteral("\"STAMP\"   С   '15.03.2026'   ПО   '15.03.2026'"),
         [](TfFilterDlg& dlg) {
             EXPECT_EQ(dlg.eDatEnd->inputMask(), QStringLiteral("00\\.00\\.9999 09\\:99\\:99;_"));
             EXPECT_EQ(dlg.eDatEnd->text(), QStringLiteral("15.03.2026 10:30:00"));
             EXPECT_EQ(dlg.Filters().at(0)->DateTo, Day(2026, 3, 15) + EncodeTime(10, 30, 0, 0));
         }},
        {"FLAG",
         QStringLiteral("pParamsBool"),
         {},
         QStringLiteral("\"FLAG\"= Да"),
         [](TfFilterDlg& dlg) { EXPECT_EQ(dlg.BoolValueIndex(), 0); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field);
        filters.clear();
        EXPECT_TRUE(Open(c.field, [&](TfFilterDlg& dlg) {
            EXPECT_EQ(ShownPanel(dlg), c.panel);
            EXPECT_EQ(Captions(dlg.FilterTypeItems()), c.kinds);
            EXPECT_EQ(Lines(dlg.lbAllFilters), QStringList({c.line}));
            QStringList offered;
            for (int i = 0; i < dlg.cbFieldName->count(); ++i)
                offered << dlg.cbFieldName->itemText(i);
            EXPECT_EQ(offered, QStringList({QStringLiteral("ID (целое)"), QStringLiteral("NAME (строка)"),
                                            QStringLiteral("QTY (целое)"), QStringLiteral("PRICE (дробное)"),
                                            QStringLiteral("DT (дата)"), QStringLiteral("STAMP (дата)"),
                                            QStringLiteral("FLAG (логическое)")}))
                << "no word field";
            if (c.check)
                c.check(dlg);
            dlg.btnClose->click();
        }));
        EXPECT_EQ(filters.size(), 1u);
    }

    // Empty values: no bounds (an empty bound is 0), the Boolean not set.
    data.Go(3);
    filters.clear();
    Open("QTY", [](TfFilterDlg& dlg) {
        EXPECT_EQ(dlg.eFloatBeg->text(), QString());
        EXPECT_EQ(Lines(dlg.lbAllFilters), QStringList({QStringLiteral("0 <= \"QTY\" <= 0")}));
        dlg.Button1->click();
    });
    Open("PRICE", [](TfFilterDlg& dlg) {
        EXPECT_EQ(dlg.eFloatBeg->text(), QStringLiteral("0,3")) << "rounded to 5 decimals";
        dlg.Button1->click();
    });
    Open("FLAG", [](TfFilterDlg& dlg) {
        EXPECT_EQ(dlg.BoolValueIndex(), 2);
        EXPECT_EQ(Lines(dlg.lbAllFilters), QStringList({QStringLiteral("\"FLAG\"= ?")}));
        dlg.Button1->click();
    });
}

TEST_F(FilterDialogTest, AFieldWithAFilterSelectsItsLineAndCancelKeepsTheList)
{
    filters.push_back(std::make_unique<TFieldFilter>(data.Field("NAME"), fkExact));
    filters.back()->Value = QStringLiteral("Хлеб");
    filters.push_back(std::make_unique<TFieldFilter>(data.Field("PRICE"), fkNumberRange));
    filters.back()->NumberFrom = 1;
    filters.back()->NumberTo = 20;
    const TFieldFilter* first = filters[0].get();
    EXPECT_FALSE(Open("PRICE", [](TfFilterDlg& dlg) {
        EXPECT_EQ(dlg.lbAllFilters->count(), 2) << "nothing added";
        EXPECT_EQ(dlg.lbAllFilters->currentRow(), 1);
        EXPECT_EQ(dlg.eFloatBeg->text(), QStringLiteral("1"));
        EXPECT_EQ(dlg.eFloatEnd->text(), QStringLiteral("20"));
        dlg.eFloatEnd->setText(QStringLiteral("5"));
        EXPECT_EQ(dlg.lbAllFilters->item(1)->text(), QStringLiteral("1 <= \"PRICE\" <= 5")) << "live";
        dlg.btnDel->click();
        EXPECT_EQ(dlg.lbAllFilters->count(), 1);
        QTest::keyClick(dlg.eFloatEnd, Qt::Key_Escape);
    }));
    ASSERT_EQ(filters.size(), 2u);
    EXPECT_EQ(filters[0].get(), first);
    EXPECT_EQ(filters[1]->NumberTo, 20);

    // Cancel by its button, after the silent add of a new filter.
    EXPECT_FALSE(Open("QTY", [](TfFilterDlg& dlg) {
        EXPECT_EQ(dlg.lbAllFilters->count(), 3);
        dlg.Button1->click();
    }));
    EXPECT_EQ(filters.size(), 2u);
}

TEST_F(FilterDialogTest, AFieldWhoseTextFailsLeavesTheDialogLiveForTheNextShowing)
{
    // The prefill fails half way: the error reaches the caller, and the
    // dialog (one for the whole program) is not left filling its editor.
    data.Field("NAME")->OnGetText = [](TField*, QString&, bool) { throw Exception(QStringLiteral("нет текста")); };
    EXPECT_THROW(ShowFilterDialog(&data.Source, data.Field("NAME"), filters), Exception);
    data.Field("NAME")->OnGetText = nullptr;
    EXPECT_TRUE(filters.empty());

    filters.push_back(std::make_unique<TFieldFilter>(data.Field("PRICE"), fkNumberRange));
    filters.back()->NumberFrom = 1;
    filters.back()->NumberTo = 20;
    EXPECT_FALSE(Open("PRICE", [](TfFilterDlg& dlg) {
        dlg.eFloatEnd->setText(QStringLiteral("5"));
        EXPECT_EQ(dlg.lbAllFilters->item(0)->text(), QStringLiteral("1 <= \"PRICE\" <= 5")) << "live";
        dlg.Button1->click();
    }));
}

TEST_F(FilterDialogTest, AddReplaceDeleteAndTheListKinds)
{
    EXPECT_TRUE(Open("QTY", [](TfFilterDlg& dlg) {
        dlg.eFloatEnd->setText(QStringLiteral("30"));
        EXPECT_EQ(Lines(dlg.lbAllFilters), QStringList({QStringLiteral("10 <= \"QTY\" <= 30")}));
        dlg.btnAdd->click();
        EXPECT_EQ(dlg.lbAllFilters->count(), 2);
        EXPECT_EQ(dlg.lbAllFilters->currentRow(), 1);

        dlg.SetFilterTypeIndex(1);
        EXPECT_EQ(ShownPanel(dlg), QStringLiteral("pParam2"));
        dlg.eSingleVar->setText(QStringLiteral("  15 "));
        dlg.SpeedButton1->click();
        dlg.eSingleVar->setText(QStringLiteral("2,5"));
        dlg.SpeedButton1->click();
        dlg.SpeedButton1->click(); // empty: nothing
        EXPECT_EQ(dlg.eSingleVar->text(), QString());
        EXPECT_EQ(dlg.lbAllFilters->item(1)->text(), QStringLiteral("\"QTY\"   ОДИН ИЗ   '15', '2,5'"));
        dlg.lbVariants->setCurrentRow(1);
        dlg.SpeedButton2->click();
        EXPECT_EQ(dlg.lbVariants->currentRow(), 0);
        EXPECT_EQ(dlg.lbAllFilters->item(1)->text(), QStringLiteral("\"QTY\"   ОДИН ИЗ   '15'"));

        dlg.lbAllFilters->setCurrentRow(0);
        EXPECT_EQ(dlg.FilterTypeIndex(), 0);
        EXPECT_EQ(dlg.eFloatEnd->text(), QStringLiteral("30"));
        dlg.btnDel->click();
        EXPECT_EQ(Lines(dlg.lbAllFilters), QStringList({QStringLiteral("\"QTY\"   ОДИН ИЗ   '15'")}));

        // A string list, chosen by field and kind, then added.
        dlg.cbFieldName->setCurrentIndex(1);
        dlg.SetFilterTypeIndex(3);
        dlg.lbVariants->clear();
        dlg.eSingleVar->setText(QStringLiteral("хлеб"));
        dlg.SpeedButton1->click();
        dlg.btnAdd->click();
        dlg.btnClose->click();
    }));
    ASSERT_EQ(filters.size(), 2u);
    EXPECT_EQ(filters[1]->Kind, fkSubstrings);
    EXPECT_EQ(filters[1]->Strings, QStringList({QStringLiteral("хлеб")}));
    data.Source.SetFilterActive(true);
    EXPECT_EQ(data.Ids(), QList<int>({2}));
}

TEST_F(FilterDialogTest, ReversedIntervalsAndBadValuesAreRefusedByAdd)
{
    Open("PRICE", [this](TfFilterDlg& dlg) {
        dlg.eFloatBeg->setText(QStringLiteral("20"));
        dlg.eFloatEnd->setText(QStringLiteral("10"));
        EXPECT_EQ(Lines(dlg.lbAllFilters), QStringList({QStringLiteral("20 <= \"PRICE\" <= 10")}))
            << "the replace path takes it";
        dlg.btnAdd->click();
        EXPECT_EQ(dlg.lbAllFilters->count(), 1);
        ASSERT_EQ(dialogs->Messages.size(), 1u);
        EXPECT_EQ(dialogs->Messages[0].Text, QStringLiteral("Конечное значение не должно быть больше начальнго!"));

        dlg.eFloatBeg->setText(QStringLiteral("abc"));
        EXPECT_EQ(dlg.lbAllFilters->item(0)->text(), QStringLiteral("20 <= \"PRICE\" <= 10")) << "kept";
        dlg.btnAdd->click();
        EXPECT_EQ(dlg.lbAllFilters->count(), 1);
        ASSERT_EQ(dialogs->Messages.size(), 2u);
        EXPECT_EQ(dialogs->Messages[1].Text, QStringLiteral("Заполните правильно параметры фильтра!"));
        EXPECT_EQ(dialogs->Messages[1].Icon, TMsgIcon::Warning);
        EXPECT_EQ(dialogs->Messages[1].Buttons, TMsgDlgButtons{mbOK});
        dlg.Button1->click();
    });
    dialogs->Messages.clear();
    Open("DT", [this](TfFilterDlg& dlg) {
        dlg.eDatBeg->setText(QStringLiteral("15.03.2026"));
        dlg.eDatEnd->setText(QStringLiteral("01.03.2026"));
        dlg.btnAdd->click();
        ASSERT_EQ(dialogs->Messages.size(), 1u);
        EXPECT_EQ(dialogs->Messages[0].Text, QStringLiteral("Конечная дата не должна быть больше начальной!"));
        dlg.eDatEnd->clear();
        dlg.btnAdd->click();
        ASSERT_EQ(dialogs->Messages.size(), 2u);
        EXPECT_EQ(dialogs->Messages[1].Text, QStringLiteral("Заполните правильно параметры фильтра!"));
        EXPECT_EQ(dlg.lbAllFilters->count(), 1);
        dlg.Button1->click();
    });
}

TEST_F(FilterDialogTest, MarkBoxesExcludeEachOtherAndAddAMarksFilterAtTheEnd)
{
    EXPECT_TRUE(Open("NAME", [](TfFilterDlg& dlg) {
        dlg.cbSelFilter->click();
        dlg.cbUnSelFilter->click();
        EXPECT_FALSE(dlg.cbSelFilter->isChecked());
        dlg.btnClose->click();
    }));
    ASSERT_EQ(filters.size(), 2u);
    EXPECT_EQ(filters[1]->Kind, fkMarks);
    EXPECT_EQ(filters[1]->Unmarked, 1);

    EXPECT_TRUE(Open("NAME", [](TfFilterDlg& dlg) {
        EXPECT_TRUE(dlg.cbUnSelFilter->isChecked());
        EXPECT_EQ(dlg.lbAllFilters->count(), 1) << "the marks filter has no line; NAME's line is selected";
        dlg.cbSelFilter->click();
        dlg.btnClose->click();
    }));
    ASSERT_EQ(filters.size(), 2u);
    EXPECT_EQ(filters[1]->Unmarked, 0);
}

TEST_F(FilterDialogTest, AFieldThatCannotBeFilteredAddsNothing)
{
    EXPECT_TRUE(Open("W", [](TfFilterDlg& dlg) {
        EXPECT_EQ(dlg.cbFieldName->currentIndex(), 0) << "the first offered field";
        EXPECT_EQ(dlg.lbAllFilters->count(), 0) << "no filter made from an empty editor";
        EXPECT_EQ(QApplication::focusWidget(), dlg.btnClose);
        dlg.btnClose->click();
    }));
    EXPECT_TRUE(filters.empty());
}

TEST_F(FilterDialogTest, ADateAndTimeListHoldsDateTimeValues)
{
    EXPECT_TRUE(Open("STAMP", [](TfFilterDlg& dlg) {
        dlg.SetFilterTypeIndex(1);
        dlg.eSingleVar->setText(QStringLiteral("15.03.2026 10:30:00"));
        dlg.SpeedButton1->click();
        dlg.eSingleVar->setText(QStringLiteral("01.04.2026"));
        dlg.SpeedButton1->click();
        dlg.btnClose->click();
    }));
    ASSERT_EQ(filters.size(), 1u);
    EXPECT_EQ(filters[0]->Kind, fkDateList);
    EXPECT_EQ(filters[0]->Dates,
              std::vector<TDateTime>({Day(2026, 3, 15) + EncodeTime(10, 30, 0, 0), Day(2026, 4, 1)}));
    data.Source.SetFilterActive(true);
    EXPECT_EQ(data.Ids(), QList<int>({1}));
}

TEST_F(FilterDialogTest, EnterMovesOnOrApplies)
{
    EXPECT_TRUE(Open("QTY", [](TfFilterDlg& dlg) {
        QTest::keyClick(dlg.eFloatBeg, Qt::Key_Return);
        EXPECT_EQ(QApplication::focusWidget(), dlg.eFloatEnd);
        QTest::keyClick(dlg.eFloatEnd, Qt::Key_Enter);
        EXPECT_FALSE(dlg.isVisible());
    }));
    EXPECT_TRUE(Open("DT", [](TfFilterDlg& dlg) {
        QTest::keyClick(dlg.eDatBeg, Qt::Key_Return);
        EXPECT_EQ(QApplication::focusWidget(), dlg.eDatEnd);
        QTest::keyClick(dlg.eDatEnd, Qt::Key_Return);
    }));
    EXPECT_TRUE(Open("NAME", [](TfFilterDlg& dlg) { QTest::keyClick(dlg.eValue, Qt::Key_Return); }));
}

TEST_F(FilterDialogTest, OneDialogWithItsLayout)
{
    TfFilterDlg* first = nullptr;
    Open("NAME", [&](TfFilterDlg& dlg) {
        first = &dlg;
        EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Фильтр записей"));
        EXPECT_EQ(dlg.size(), QSize(446, 244));
        EXPECT_EQ(dlg.minimumSize(), dlg.maximumSize());
        for (const QFrame* panel : {dlg.pParam2, dlg.pParam31, dlg.pParam32, dlg.pParamsBool})
            EXPECT_EQ(panel->geometry(), dlg.pParam1->geometry()) << "one place for the panels";
        for (const QWidget* control : dlg.findChildren<QWidget*>()) {
            if (control->isVisibleTo(&dlg) && control->parentWidget() == &dlg) {
                EXPECT_TRUE(dlg.rect().contains(control->geometry())) << control->objectName().toStdString();
            }
            // Whole texts (a push button's hint has a minimum width of the style's).
            if (const auto* button = qobject_cast<const QPushButton*>(control)) {
                EXPECT_GE(button->width(), button->fontMetrics().horizontalAdvance(button->text()) + 8)
                    << button->objectName().toStdString();
            } else if (qobject_cast<const QCheckBox*>(control) || qobject_cast<const QLabel*>(control)
                       || qobject_cast<const QRadioButton*>(control)) {
                EXPECT_GE(control->width(), control->sizeHint().width()) << control->objectName().toStdString();
            }
        }
        EXPECT_EQ(dlg.eValue->maxLength(), 200);
        EXPECT_EQ(dlg.eSingleVar->maxLength(), 30);
        EXPECT_EQ(dlg.eFloatBeg->maxLength(), 20);
        EXPECT_EQ(dlg.eFloatEnd->maxLength(), 20);
        EXPECT_EQ(dlg.Label1->text(), QStringLiteral("Список фильтров"));
        EXPECT_TRUE(dlg.Label1->font().bold());
        EXPECT_EQ(dlg.rgFType->title(), QStringLiteral("Тип фильтра"));
        EXPECT_EQ(dlg.rgBoolValue->title(), QStringLiteral("Значение:"));
        const QAbstractButton* buttons[] = {dlg.btnAdd,      dlg.btnReplace,    dlg.btnDel,
                                            dlg.cbSelFilter, dlg.cbUnSelFilter, dlg.btnClose,
                                            dlg.Button1,     dlg.SpeedButton1,  dlg.SpeedButton2};
        QStringList texts;
        for (const QAbstractButton* button : buttons)
            texts << button->text();
        EXPECT_EQ(texts, QStringList({QStringLiteral("Добавить"), QStringLiteral("Заменить"), QStringLiteral("Удалить"),
                                      QStringLiteral("Фильтр по отмеченным записям"),
                                      QStringLiteral("Фильтр по НЕ отмеченным записям"), QStringLiteral("Применить"),
                                      QStringLiteral("Отмена"), QStringLiteral("+"), QStringLiteral("-")}));
        dlg.Button1->click();
    });
    Open("NAME", [&](TfFilterDlg& dlg) {
        EXPECT_EQ(&dlg, first) << "one dialog for the program";
        dlg.Button1->click();
    });
}

// The picture CI keeps: a string field, a number range and a date range.
TEST_F(FilterDialogTest, ScreenshotSavedWhereTheEnvironmentSays)
{
    const QString path = qEnvironmentVariable("FILTER_DIALOG_SCREENSHOT");
    if (path.isEmpty())
        GTEST_SKIP() << "FILTER_DIALOG_SCREENSHOT is not set";
    data.Field("NAME")->SetDisplayLabel(QStringLiteral("Наименование"));
    data.Field("PRICE")->SetDisplayLabel(QStringLiteral("Цена"));
    data.Field("DT")->SetDisplayLabel(QStringLiteral("Дата поставки"));
    filters.push_back(std::make_unique<TFieldFilter>(data.Field("NAME"), fkSubstring));
    filters.back()->Value = QStringLiteral("молоко");
    filters.push_back(std::make_unique<TFieldFilter>(data.Field("PRICE"), fkNumberRange));
    filters.back()->NumberFrom = 10;
    filters.back()->NumberTo = 99.5;
    bool written = false;
    Open("DT", [&](TfFilterDlg& dlg) {
        dlg.eDatEnd->setText(QStringLiteral("31.03.2026"));
        dlg.cbSelFilter->setChecked(true);
        QApplication::processEvents();
        written = dlg.grab().save(path);
        dlg.Button1->click();
    });
    ASSERT_TRUE(written) << path.toStdString();
}

} // namespace

// The data source opens the dialog through the hook the forms set.
TEST(FilterDialogThroughDataSource, AppliesTheDialogsFiltersAndStaysOnTheRecord)
{
    InstallFrameworkForms();
    TTable data(PlainRows(6));
    data.Table->SetIndexFieldNames(QStringLiteral("ID"));
    data.Go(3);
    QTimer::singleShot(0, [] {
        if (TfFilterDlg* dlg = fFilterDlg())
            dlg->btnClose->click(); // the substring of the current value, at once
    });
    data.Source.FilterByField(data.Field("NAME"));
    ASSERT_EQ(data.Source.Filters().size(), 1u);
    EXPECT_EQ(data.Ids(), QList<int>({3}));
    EXPECT_EQ(data.Field("ID")->AsInteger(), 3);
    EXPECT_TRUE(data.Table->Filtered());

    // Deleting the last filter in the dialog hands the record filter back.
    QTimer::singleShot(0, [] {
        if (TfFilterDlg* dlg = fFilterDlg()) {
            dlg->btnDel->click();
            dlg->btnClose->click();
        }
    });
    data.Source.FilterByField(data.Field("NAME"));
    EXPECT_TRUE(data.Source.Filters().empty());
    EXPECT_FALSE(data.Table->Filtered());
    EXPECT_EQ(data.Field("ID")->AsInteger(), 3);
}
