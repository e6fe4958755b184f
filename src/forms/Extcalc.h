// The desk calculator of data-entry work: an expression typed or clicked
// together, its value, a history of results and named user variables (kept
// in the evaluator's store), and the exchange of numbers with the grid.
//
// One window serves the whole program: created on first use, hidden (never
// freed) when closed, so its expression, history and variables persist
// between showings; it is freed when the application's event loop ends.
//
// Numbers written into the expression always use "." as the decimal point,
// because that is the only one the evaluator reads; numbers shown to the user
// (the result, a variable's value, the history) use the user's separator.
#pragma once

#include "Forms.h"

#include <QChar>
#include <QPoint>
#include <QString>

class QAction;
class QComboBox;
class QFrame;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QMouseEvent;
class QPushButton;
class QToolButton;

// The grid asks before it writes the calculator's value into a cell.
extern bool CalcConfirmReplace;
// "*" and "/" apply to the whole expression so far, not to its last number.
extern bool CalcMulDivWholeExpression;

// The grid's question before replacing a cell: the field's name and the value.
extern const QString SCalcConfirmReplace;

class TfrmCalculator : public TForm
{
    Q_OBJECT
public:
    explicit TfrmCalculator(QWidget* parent = nullptr);

    QFrame* MainPanel;
    QLineEdit* edtExpression;
    QLabel* lblEqualSign;
    QLabel* lblResult;
    QToolButton* SpeedButton1;
    QFrame* Panel1; // variables
    QToolButton* SpeedButton2;
    QComboBox* cbVariables;
    QLineEdit* edtVariable;
    QFrame* Panel2; // history
    QToolButton* btnClearHistory;
    QComboBox* cbHistory;
    QFrame* Panel3; // buttons
    QPushButton* btnEquals;
    QPushButton* btnClear;
    QPushButton* btnBackSpace;
    QPushButton* btnEnter;
    QPushButton* btnEsc;

    QAction* Up1;
    QAction* N2;
    QAction* N5;
    QAction* N6;
    QAction* N11;
    QAction* N21;
    QAction* N31;
    QAction* N41;
    QAction* N7;
    QAction* N8;
    QAction* N14;
    QAction* N16;
    QAction* N17;
    QAction* N3;
    QAction* N4;

    long double LastResult() const { return FLastResult; }
    int Decimals() const { return FDecimals; }

    // Evaluates text, shows and keeps the value, and adds "text=value" to the history.
    void EvaluateExp(const QString& text);
    // Enter: the expression becomes its own value; no history line.
    void EvaluateExp2();
    // Appends to the expression.
    void addChar(const QString& text);
    // Adds a number with an operator, as AddToCalculator does for this window.
    void AddNumber(const QString& numberText, QChar op);
    // The operator of an operator button or key, or a blank.
    static QChar GetOp(const QString& caption);
    // Stores the result in a new user variable, named by the user.
    void NewVariable();
    // Stores the result in the chosen variable.
    void StoreInVariable();

    void btn1Click(QPushButton* sender);
    void btnEqualsClick();
    void btnClearClick();
    void btnBackSpaceClick();
    void btnEnterClick();
    void btnEscClick();
    void FormActivate();
    void btnClearHistoryClick();
    void cbVariablesChange();
    // Where the dragged result may be dropped.
    bool cbVariablesDragOver(QObject* source) const;
    bool edtVariableDragOver(QObject* source) const;
    // The result was dropped on target (nothing when it was dropped elsewhere).
    void lblResultEndDrag(QObject* target);
    void SpeedButton1Click();
    void SpeedButton2Click();
    void N2Click();
    void N4Click();
    void N5Click();
    void N6Click();
    void N7Click();
    void N8Click();
    void N11Click(QAction* sender);
    void N14Click();
    void N17Click(QAction* sender);
    void Up1Click();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void FormCreate();
    void BuildMainPanel();
    void BuildVariablesPanel();
    void BuildHistoryPanel();
    void BuildButtonsPanel();
    void BuildMenu();
    void InstallKeyPreview();
    void TogglePanel(QFrame* panel, QAction* item);

    // Key preview: true when the key was dealt with before the focused
    // control. Enter and Esc anywhere; typing outside the edits; typing in
    // the expression.
    bool FormKeyDown(QKeyEvent* event);
    bool FormKeyPress(QKeyEvent* event);
    bool edtExpressionKeyPress(QKeyEvent* event);
    bool lblResultMouseMove(QMouseEvent* event);
    bool DragTargetEvent(QObject* target, QEvent* event);

    void ShowResult(long double value);
    void SetExpression(const QString& text);
    QString ResultText(long double value) const;
    QString ExpressionText(long double value) const;

    long double FLastResult = 0;
    int FDecimals = 2;
    QPoint FDragStart;
};

// Creates the calculator window if needed and shows it (not modally).
void ShowCalculator();
// Adds a number to the calculator's expression with an operator: + and -
// append (or start the expression); * and / need an expression and, in
// whole-expression mode, apply to all of it. A text that is no number is
// reported ("Неверное число: %s") and changes nothing.
void AddToCalculator(const QString& numberText, QChar op);
// Creates the window if needed, evaluates its expression and returns the value.
long double GetCalculatorValue();
// The calculator window, or none before its first use.
TfrmCalculator* frmCalculator();
