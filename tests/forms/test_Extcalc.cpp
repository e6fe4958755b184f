// The calculator window and its operator chooser, driven by keys and clicks
// on the offscreen platform.
#include "CalcOpForm.h"
#include "Dialogs.h"
#include "Extcalc.h"
#include "Infix.h"
#include "SysUtils.h"

#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QtTest/QTest>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>

namespace {

TEST(CalculatorSwitches, BothOnWhenTheProgramStarts)
{
    EXPECT_TRUE(CalcConfirmReplace);
    EXPECT_TRUE(CalcMulDivWholeExpression);
    EXPECT_EQ(SCalcConfirmReplace, QStringLiteral("Заменить значение поля \"%s\" на значение %f из калькулятора"));
}

// Records the text an input box proposes before the scripted answer replaces it.
class TProposals : public TScriptedDialogs
{
public:
    QStringList Proposed;
    bool InputQuery(const QString& caption, const QString& prompt, QString& value) override
    {
        Proposed << value;
        return TScriptedDialogs::InputQuery(caption, prompt, value);
    }
};

// Runs action on the modal window that the next step opens.
void OnNextModal(std::function<void(QWidget*)> action)
{
    QTimer::singleShot(0, [action] {
        if (QWidget* modal = QApplication::activeModalWidget())
            action(modal);
    });
}

QPushButton* ButtonOf(const TfrmCalculator& form, const QString& caption)
{
    for (QPushButton* button : form.Panel3->findChildren<QPushButton*>())
        if (button->text() == caption)
            return button;
    return nullptr;
}

// The user's settings write numbers with a comma; the expression keeps ".".
class CalculatorTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        FSavedSettings = FormatSettings();
        FormatSettings() = TFormatSettings{};
        auto proposals = std::make_unique<TProposals>();
        Dialogs = proposals.get();
        FPreviousDialogs = SetDialogBackend(std::move(proposals));
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
        QApplication::processEvents();
    }

    void TearDown() override
    {
        form.hide();
        CalcMulDivWholeExpression = true;
        CalcConfirmReplace = true;
        SetDialogBackend(std::move(FPreviousDialogs));
        FormatSettings() = FSavedSettings;
    }

    void Type(const QString& text) { QTest::keyClicks(form.edtExpression, text); }
    void Key(Qt::Key key) { QTest::keyClick(form.edtExpression, key); }
    QString Expression() const { return form.edtExpression->text(); }
    QStringList History() const
    {
        QStringList lines;
        for (int i = 0; i < form.cbHistory->count(); ++i)
            lines << form.cbHistory->itemText(i);
        return lines;
    }

    TfrmCalculator form;
    TProposals* Dialogs = nullptr;

private:
    TFormatSettings FSavedSettings;
    std::unique_ptr<TDialogBackend> FPreviousDialogs;
};

TEST_F(CalculatorTest, EqualsKeepsTheExpressionEnterReplacesItEscEmptiesIt)
{
    Type(QStringLiteral("(1+2)"));
    Type(QStringLiteral("="));
    EXPECT_EQ(Expression(), QStringLiteral("(1+2)")) << "\"=\" is swallowed";
    EXPECT_EQ(form.lblResult->text(), QStringLiteral("3,00"));
    EXPECT_EQ(History(), QStringList{QStringLiteral("(1+2)=3")});

    Type(QStringLiteral("/8"));
    Key(Qt::Key_Return);
    EXPECT_EQ(Expression(), QStringLiteral("0.38")) << "the value, readable by the evaluator";
    EXPECT_EQ(form.lblResult->text(), QStringLiteral("0,38"));
    EXPECT_EQ(form.LastResult(), 0.375L);
    EXPECT_EQ(History().size(), 1) << "Enter adds no history line";

    Key(Qt::Key_Escape);
    EXPECT_EQ(Expression(), QString());
    EXPECT_TRUE(form.isVisible()) << "Esc does not close the window";
    Key(Qt::Key_Enter);
    EXPECT_EQ(Expression(), QString()) << "an empty expression stays empty";
}

TEST_F(CalculatorTest, EnterButtonAndEqualsButtonFillTheHistory)
{
    CalcMulDivWholeExpression = false;
    form.N2->trigger();
    form.N5->trigger();
    Type(QStringLiteral("1+2*3"));
    QTest::mouseClick(form.btnEnter, Qt::LeftButton);
    Type(QStringLiteral("/4"));
    QTest::mouseClick(form.btnEquals, Qt::LeftButton);
    EXPECT_EQ(History(), (QStringList{QStringLiteral("1+2*3=7"), QStringLiteral("1+2*3/4=2,5")}));
    EXPECT_EQ(form.cbHistory->currentIndex(), 1) << "the newest line is shown";
    EXPECT_EQ(form.lblResult->text(), QStringLiteral("2,50"));
    EXPECT_TRUE(form.isVisible()) << "shown without a modal loop, Enter does not close";

    QTest::mouseClick(form.btnClearHistory, Qt::LeftButton);
    EXPECT_TRUE(History().isEmpty());
}

TEST_F(CalculatorTest, OnlyNumbersAndOperatorsCanBeTyped)
{
    Type(QStringLiteral("sqrt(16) x,2 .5"));
    EXPECT_EQ(Expression(), QStringLiteral("(16)2.5"));
    QTest::keyClick(form.edtExpression, Qt::Key_Backspace);
    QTest::keyClick(form.edtExpression, Qt::Key_Home);
    QTest::keyClick(form.edtExpression, Qt::Key_Delete);
    EXPECT_EQ(Expression(), QStringLiteral("16)2.")) << "editing keys keep their meaning";
}

TEST_F(CalculatorTest, OperatorsChainInWholeExpressionMode)
{
    Type(QStringLiteral("2+3*"));
    EXPECT_EQ(Expression(), QStringLiteral("5.00*"));
    EXPECT_EQ(form.lblResult->text(), QStringLiteral("5,00"));
    Type(QStringLiteral("4-"));
    EXPECT_EQ(Expression(), QStringLiteral("20.00-"));

    Key(Qt::Key_Escape);
    CalcMulDivWholeExpression = false;
    Type(QStringLiteral("2+3*4"));
    Key(Qt::Key_Return);
    EXPECT_EQ(Expression(), QStringLiteral("14.00"));
}

TEST_F(CalculatorTest, KeysOutsideTheEditsBuildTheExpression)
{
    form.N2->trigger();
    form.N5->trigger();
    form.N6->trigger();
    QPushButton* seven = ButtonOf(form, QStringLiteral("7"));
    ASSERT_NE(seven, nullptr);
    QTest::keyClicks(seven, QStringLiteral("7+(2)*3.5a"));
    EXPECT_EQ(Expression(), QStringLiteral("7+(2)*3.5"));
    QTest::keyClick(seven, Qt::Key_Backspace);
    QTest::keyClicks(seven, QStringLiteral("4="));
    EXPECT_EQ(Expression(), QStringLiteral("7+(2)*3.4"));
    EXPECT_EQ(History(), QStringList{QStringLiteral("7+(2)*3.4=13,8")});

    form.EvaluateExp(QStringLiteral("2 3"));
    EXPECT_EQ(form.lblResult->text(), QStringLiteral("2,00")) << "a failed evaluation shows its partial value";
    EXPECT_EQ(History().last(), QStringLiteral("2 3=2"));

    QTest::keyClick(form.cbHistory, Qt::Key_Escape);
    EXPECT_EQ(Expression(), QString());
    QTest::keyClicks(form.edtVariable, QStringLiteral("12"));
    EXPECT_EQ(Expression(), QString()) << "the variable's edit is no place for typing";
}

TEST_F(CalculatorTest, ButtonsAppendAndEdit)
{
    form.N2->trigger();
    for (const char* caption : {"1", "000", "+", "00", "(", "9", ")", "-", ".", "/", "*", "5", "4", "6", "8"})
        QTest::mouseClick(ButtonOf(form, QString::fromLatin1(caption)), Qt::LeftButton);
    EXPECT_EQ(Expression(), QStringLiteral("1000+00(9)-./*5468"));
    EXPECT_EQ(QApplication::focusWidget(), form.edtExpression);
    EXPECT_EQ(form.edtExpression->cursorPosition(), Expression().size());

    QTest::mouseClick(form.btnBackSpace, Qt::LeftButton);
    EXPECT_EQ(Expression(), QStringLiteral("1000+00(9)-./*546"));
    form.edtExpression->setText(QStringLiteral("6*7"));
    QTest::mouseClick(ButtonOf(form, QStringLiteral("=")), Qt::LeftButton);
    EXPECT_EQ(form.lblResult->text(), QStringLiteral("42,00"));
    QTest::mouseClick(form.btnClear, Qt::LeftButton);
    EXPECT_EQ(Expression(), QString());
    EXPECT_EQ(form.lblResult->text(), QString());
}

TEST_F(CalculatorTest, DecimalsChangeTheShownResultButNotTheHistory)
{
    Type(QStringLiteral("1/3="));
    EXPECT_EQ(form.lblResult->text(), QStringLiteral("0,33"));
    const struct
    {
        QAction* item;
        const char* shown;
    } cases[] = {{form.N41, "0,3333"}, {form.N11, "0,3"}, {form.N31, "0,333"}, {form.N21, "0,33"}};
    for (const auto& c : cases) {
        c.item->trigger();
        EXPECT_EQ(form.lblResult->text(), QString::fromUtf8(c.shown));
        int ticked = 0;
        for (QAction* item : {form.N11, form.N21, form.N31, form.N41})
            ticked += item->isChecked();
        EXPECT_EQ(ticked, 1);
        EXPECT_TRUE(c.item->isChecked());
    }
    form.N41->trigger();
    Type(QStringLiteral("="));
    EXPECT_EQ(form.Decimals(), 4);
    EXPECT_EQ(History().last(), QStringLiteral("1/3=0,333333333333333"));
}

TEST_F(CalculatorTest, MenuStartsTickedAndTogglesPanelsAndSwitches)
{
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Калькулятор"));
    EXPECT_EQ(form.width(), 312);
    EXPECT_TRUE(form.windowFlags() & Qt::WindowStaysOnTopHint);
    for (QAction* ticked : {form.Up1, form.N21, form.N14, form.N17})
        EXPECT_TRUE(ticked->isChecked()) << ticked->text().toStdString();
    EXPECT_FALSE(form.N16->isChecked());
    for (QFrame* panel : {form.Panel1, form.Panel2, form.Panel3})
        EXPECT_TRUE(panel->isHidden());

    const struct
    {
        QAction* item;
        QFrame* panel;
    } toggles[] = {{form.N2, form.Panel3}, {form.N5, form.Panel2}, {form.N6, form.Panel1}};
    for (const auto& t : toggles) {
        const int before = form.height();
        t.item->trigger();
        QApplication::processEvents();
        EXPECT_TRUE(t.panel->isVisible());
        EXPECT_EQ(form.height(), before + t.panel->height()) << t.item->text().toStdString();
        t.item->trigger();
        QApplication::processEvents();
        EXPECT_TRUE(t.panel->isHidden());
        EXPECT_EQ(form.height(), before);
    }

    form.N14->trigger();
    EXPECT_FALSE(CalcConfirmReplace);
    form.N16->trigger();
    EXPECT_FALSE(CalcMulDivWholeExpression);
    EXPECT_FALSE(form.N17->isChecked());
    form.N16->trigger();
    EXPECT_FALSE(CalcMulDivWholeExpression) << "choosing the ticked item keeps it";
    form.N17->trigger();
    EXPECT_TRUE(CalcMulDivWholeExpression);
    EXPECT_FALSE(form.N16->isChecked());

    form.Up1->trigger();
    EXPECT_FALSE(form.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(form.isVisible());

    form.N4->trigger();
    EXPECT_FALSE(form.isVisible());
}

TEST_F(CalculatorTest, ActivationFocusesTheExpressionAndForgetsTheResult)
{
    Type(QStringLiteral("6*7="));
    form.edtExpression->selectAll();
    TfrmCalculator other;
    other.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    QApplication::processEvents();
    EXPECT_EQ(form.lblResult->text(), QString());
    EXPECT_EQ(form.LastResult(), 0.0L);
    EXPECT_EQ(QApplication::focusWidget(), form.edtExpression);
    EXPECT_FALSE(form.edtExpression->hasSelectedText());
    EXPECT_EQ(form.edtExpression->cursorPosition(), 3);
}

TEST_F(CalculatorTest, ModalButtonsCloseWithTheirResults)
{
    form.hide();
    form.N2->trigger();
    form.edtExpression->setText(QStringLiteral("2*21"));
    OnNextModal([this](QWidget*) { QTest::mouseClick(form.btnEnter, Qt::LeftButton); });
    EXPECT_EQ(form.exec(), mrOk);
    EXPECT_EQ(form.LastResult(), 42.0L);
    OnNextModal([this](QWidget*) { QTest::mouseClick(form.btnEsc, Qt::LeftButton); });
    EXPECT_EQ(form.exec(), mrCancel);

    // Shown without a modal loop, "Закрыть" hides the window all the same.
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    QTest::mouseClick(form.btnEsc, Qt::LeftButton);
    EXPECT_FALSE(form.isVisible());
}

TEST_F(CalculatorTest, ResultStoredInNewAndChosenVariables)
{
    form.N6->trigger();
    Type(QStringLiteral("6*7="));
    Dialogs->Inputs = {{true, QStringLiteral("Итог")}};
    QTest::mouseClick(form.SpeedButton1, Qt::LeftButton);
    EXPECT_EQ(Dialogs->InputPrompts,
              QStringList{QStringLiteral("Ввод новой переменной|Введите имя новой переменной и нажмите OK")});
    EXPECT_EQ(Dialogs->Proposed, QStringList{QStringLiteral("Результат 1")});
    ASSERT_EQ(form.cbVariables->count(), 1);
    EXPECT_EQ(form.cbVariables->itemText(0), QStringLiteral("Итог"));
    EXPECT_EQ(form.cbVariables->currentIndex(), -1) << "listing a name does not choose it";
    bool notFound = true;
    EXPECT_EQ(GetVariable(QStringLiteral("Итог"), notFound), 42.0L);
    EXPECT_FALSE(notFound);

    // The result dropped on the list makes another; a long name is cut.
    Key(Qt::Key_Escape);
    Type(QStringLiteral("7/2="));
    Dialogs->Inputs = {{true, QStringLiteral("Двадцать одна буква!X")}};
    EXPECT_TRUE(form.cbVariablesDragOver(form.lblResult));
    EXPECT_FALSE(form.cbVariablesDragOver(form.edtExpression));
    form.lblResultEndDrag(form.cbVariables);
    EXPECT_EQ(Dialogs->Proposed.last(), QStringLiteral("Результат 2"));
    ASSERT_EQ(form.cbVariables->count(), 2);
    EXPECT_EQ(form.cbVariables->itemText(1), QStringLiteral("Двадцать одна буква!"));
    EXPECT_EQ(GetVariable(QStringLiteral("Двадцать одна буква!"), notFound), 3.5L);

    // A cancelled name stores nothing; the proposal counts the listed names.
    form.N7->trigger();
    EXPECT_EQ(Dialogs->Proposed.last(), QStringLiteral("Результат 3"));
    EXPECT_EQ(form.cbVariables->count(), 2);

    // Choosing a name shows its value; the result then goes into it.
    form.cbVariables->setCurrentIndex(0);
    emit form.cbVariables->activated(0);
    EXPECT_EQ(form.edtVariable->text(), QStringLiteral("42"));
    Key(Qt::Key_Escape);
    Type(QStringLiteral("0.25="));
    QTest::mouseClick(form.SpeedButton1, Qt::LeftButton);
    EXPECT_EQ(form.edtVariable->text(), QStringLiteral("0,25"));
    EXPECT_EQ(GetVariable(QStringLiteral("Итог"), notFound), 0.25L);
    EXPECT_EQ(Dialogs->Proposed.size(), 3) << "a chosen variable is not asked for";

    // Dropped on the value, the result also goes into the chosen variable.
    Key(Qt::Key_Escape);
    Type(QStringLiteral("1.5="));
    EXPECT_TRUE(form.edtVariableDragOver(form.lblResult));
    EXPECT_FALSE(form.edtVariableDragOver(form.cbVariables));
    form.lblResultEndDrag(form.edtVariable);
    EXPECT_EQ(form.edtVariable->text(), QStringLiteral("1,50"));
    EXPECT_EQ(GetVariable(QStringLiteral("Итог"), notFound), 1.5L);
    form.lblResultEndDrag(form.edtExpression);
    EXPECT_EQ(form.cbVariables->count(), 2) << "dropped elsewhere, nothing happens";
    EXPECT_EQ(Dialogs->Proposed.size(), 3);
}

TEST_F(CalculatorTest, MemoryButtonEvaluatesFirstAndNeedsAnExpression)
{
    Dialogs->Inputs = {{true, QStringLiteral("Память")}};
    QTest::mouseClick(form.SpeedButton1, Qt::LeftButton);
    EXPECT_TRUE(Dialogs->InputPrompts.isEmpty()) << "nothing at all without an expression";
    EXPECT_TRUE(History().isEmpty());

    Type(QStringLiteral("2*8"));
    QTest::mouseClick(form.SpeedButton1, Qt::LeftButton);
    EXPECT_EQ(History(), QStringList{QStringLiteral("2*8=16")});
    bool notFound = true;
    EXPECT_EQ(GetVariable(QStringLiteral("Память"), notFound), 16.0L);
}

TEST_F(CalculatorTest, VariableSentIntoTheExpressionThroughTheOperatorChooser)
{
    form.N6->trigger();
    Type(QStringLiteral("1.5*2="));
    Dialogs->Inputs = {{true, QStringLiteral("Три")}};
    form.N7->trigger();
    form.cbVariables->setCurrentIndex(0);
    emit form.cbVariables->activated(0);
    ASSERT_EQ(form.edtVariable->text(), QStringLiteral("3"));

    Key(Qt::Key_Escape);
    QTest::mouseClick(form.SpeedButton2, Qt::LeftButton);
    EXPECT_EQ(Expression(), QStringLiteral("3")) << "an empty expression takes the value as it is";

    Type(QStringLiteral("+4"));
    QPoint shownAt;
    OnNextModal([&](QWidget* chooser) {
        shownAt = chooser->pos();
        QTest::keyClicks(chooser, QStringLiteral("*"));
    });
    QTest::mouseClick(form.SpeedButton2, Qt::LeftButton);
    EXPECT_EQ(Expression(), QStringLiteral("(3+4)*3"));
    EXPECT_EQ(shownAt, form.edtExpression->mapToGlobal(QPoint(0, form.edtExpression->height())));

    OnNextModal([](QWidget* chooser) { QTest::keyClick(chooser, Qt::Key_Escape); });
    QTest::mouseClick(form.SpeedButton2, Qt::LeftButton);
    EXPECT_EQ(Expression(), QStringLiteral("(3+4)*3")) << "Esc sends nothing";
    Key(Qt::Key_Return);
    EXPECT_EQ(Expression(), QStringLiteral("21.00"));
}

TEST(OperatorChooser, ButtonsAndKeysChooseEscGivesABlank)
{
    TFormMathAction form;
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Действие ?"));
    EXPECT_EQ(form.size(), QSize(117, 28));
    EXPECT_TRUE(form.font().bold());
    EXPECT_FALSE(form.windowFlags() & Qt::WindowCloseButtonHint);
    QStringList captions;
    for (QToolButton* button : {form.SpeedButton1, form.SpeedButton2, form.SpeedButton3, form.SpeedButton4})
        captions << button->text();
    EXPECT_EQ(captions, (QStringList{"+", "-", "*", "/"}));

    const std::vector<std::pair<std::function<void(TFormMathAction*)>, QChar>> cases = {
        {[](TFormMathAction* f) { QTest::mouseClick(f->SpeedButton2, Qt::LeftButton); }, QLatin1Char('-')},
        {[](TFormMathAction* f) { QTest::mouseClick(f->SpeedButton4, Qt::LeftButton); }, QLatin1Char('/')},
        {[](TFormMathAction* f) { QTest::keyClicks(f, QStringLiteral("x+")); }, QLatin1Char('+')},
        {[](TFormMathAction* f) { QTest::keyClick(f, Qt::Key_Escape); }, QLatin1Char(' ')},
    };
    for (const auto& [act, expected] : cases) {
        OnNextModal([act](QWidget* modal) { act(qobject_cast<TFormMathAction*>(modal)); });
        EXPECT_EQ(ChooseOperation(40, 50), expected);
    }
    QPoint shownAt;
    OnNextModal([&](QWidget* modal) {
        shownAt = modal->pos();
        modal->close();
    });
    EXPECT_EQ(ChooseOperation(40, 50), QLatin1Char(' ')) << "closed without a choice";
    EXPECT_EQ(shownAt, QPoint(40, 50));
}

// The unit's functions work on the one calculator window of the program.
class CalculatorUnitTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        FSavedSettings = FormatSettings();
        FormatSettings() = TFormatSettings{};
    }
    void TearDown() override
    {
        CalcMulDivWholeExpression = true;
        if (frmCalculator())
            frmCalculator()->hide();
        FormatSettings() = FSavedSettings;
    }

    TScriptedDialogsGuard dialogs;

private:
    TFormatSettings FSavedSettings;
};

TEST_F(CalculatorUnitTest, AddToCalculatorByOperatorExpressionAndMode)
{
    const struct
    {
        bool whole;
        const char* expression;
        const char* text;
        char op;
        const char* expected;
    } cases[] = {
        {true, "", "7", '*', ""},
        {true, "", "7", '/', ""},
        {true, "1+2", "7", '*', "(1+2)*7"},
        {true, " (1+2) ", "7", '*', "(1+2)*7"},
        {true, "(1+2)+(3+4)", "7", '*', "((1+2)+(3+4))*7"},
        {true, "2*3", "7", '/', "2*3/7"},
        {true, "-5", "2", '/', "(-5)/2"},
        {false, "1+2", "7", '*', "1+2*7"},
        {false, "(1+2)", "7", '/', "(1+2)/7"},
        {true, "", "5", '-', "5"},
        {false, "", "5", '+', "5"},
        {true, "1+2", "5", '+', "1+2+5"},
        {false, "1", "5", '-', "1-5"},
        {true, "1", "2,5", '+', "1+2.5"},
        {true, "1", " 2.5 ", '-', "1-2.5"},
        {true, "1", "-5", '+', "1+(-5)"},
        {false, "4", "-2", '*', "4*(-2)"},
        {true, "", "-5", '+', "-5"},
        {true, "1", "5", 'x', "1"},
    };
    for (const auto& c : cases) {
        CalcMulDivWholeExpression = c.whole;
        ShowCalculator();
        frmCalculator()->edtExpression->setText(QString::fromUtf8(c.expression));
        AddToCalculator(QString::fromUtf8(c.text), QLatin1Char(c.op));
        EXPECT_EQ(frmCalculator()->edtExpression->text(), QString::fromUtf8(c.expected))
            << c.whole << " [" << c.expression << "] " << c.op << " " << c.text;
    }
    EXPECT_TRUE(dialogs->Messages.empty());
    qsizetype errorPosition = 0;
    EXPECT_EQ(Evaluate(QStringLiteral("((1+2)+(3+4))*7"), errorPosition), 70.0L);
}

TEST_F(CalculatorUnitTest, BadNumberIsReportedAndChangesNothing)
{
    ShowCalculator();
    frmCalculator()->edtExpression->setText(QStringLiteral("1+2"));
    AddToCalculator(QStringLiteral("12abc"), QLatin1Char('+'));
    ASSERT_EQ(dialogs->Messages.size(), 1u);
    EXPECT_EQ(dialogs->Messages[0].Text, QStringLiteral("Неверное число: 12abc"));
    EXPECT_EQ(dialogs->Messages[0].Icon, TMsgIcon::Warning);
    EXPECT_EQ(dialogs->Messages[0].Buttons, TMsgDlgButtons{mbCancel});
    EXPECT_EQ(frmCalculator()->edtExpression->text(), QStringLiteral("1+2"));
}

TEST_F(CalculatorUnitTest, OneWindowHiddenOnCloseAndKeptWithItsState)
{
    ShowCalculator();
    TfrmCalculator* window = frmCalculator();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    window->edtExpression->setText(QStringLiteral("10/4"));
    EXPECT_EQ(GetCalculatorValue(), 2.5L);
    window->close();
    QApplication::processEvents();
    ASSERT_EQ(frmCalculator(), window) << "closing hides the window, it is not freed";
    EXPECT_FALSE(window->isVisible());

    ShowCalculator();
    EXPECT_EQ(frmCalculator(), window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->edtExpression->text(), QStringLiteral("10/4"));
    EXPECT_EQ(window->cbHistory->itemText(window->cbHistory->count() - 1), QStringLiteral("10/4=2,5"));
}

// The picture CI keeps: the calculator with a history and two variables.
TEST(CalculatorScreenshot, SavedWhereTheEnvironmentSays)
{
    const QString path = qEnvironmentVariable("CALCULATOR_SCREENSHOT");
    if (path.isEmpty())
        GTEST_SKIP() << "CALCULATOR_SCREENSHOT is not set";
    TScriptedDialogsGuard dialogs;
    const TFormatSettings saved = FormatSettings();
    FormatSettings() = TFormatSettings{};
    TfrmCalculator form;
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    form.N2->trigger();
    form.N5->trigger();
    form.N6->trigger();
    const auto evaluate = [&](const QString& expression) {
        form.edtExpression->setText(expression);
        QTest::keyClicks(form.edtExpression, QStringLiteral("="));
    };
    dialogs->Inputs = {{true, QStringLiteral("Ставка")}, {true, QStringLiteral("Итого за месяц")}};
    evaluate(QStringLiteral("(1250+750)/8"));
    form.N7->trigger();
    evaluate(QStringLiteral("250*22"));
    form.N7->trigger();
    form.cbVariables->setCurrentIndex(1);
    emit form.cbVariables->activated(1);
    evaluate(QStringLiteral("5500*0.13"));
    QApplication::processEvents();
    const bool written = form.grab().save(path);
    FormatSettings() = saved;
    ASSERT_TRUE(written) << path.toStdString();
}

// The picture CI keeps of the operator chooser.
TEST(OperatorChooserScreenshot, SavedWhereTheEnvironmentSays)
{
    const QString path = qEnvironmentVariable("OPERATOR_CHOOSER_SCREENSHOT");
    if (path.isEmpty())
        GTEST_SKIP() << "OPERATOR_CHOOSER_SCREENSHOT is not set";
    TFormMathAction form;
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    ASSERT_TRUE(form.grab().save(path)) << path.toStdString();
}

} // namespace
