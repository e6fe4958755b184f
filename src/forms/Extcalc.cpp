#include "Extcalc.h"

#include "CalcOpForm.h"
#include "Dialogs.h"
#include "Infix.h"
#include "SysUtils.h"

#include <QActionGroup>
#include <QApplication>
#include <QComboBox>
#include <QDrag>
#include <QDragMoveEvent>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

bool CalcConfirmReplace = true;
bool CalcMulDivWholeExpression = true;

const QString SCalcConfirmReplace = QStringLiteral("Заменить значение поля \"%s\" на значение %f из калькулятора");

namespace {

const QString SError = QStringLiteral("Ошибка");
const QString SBadNumber = QStringLiteral("Неверное число: %s");
const QString SNewVariableCaption = QStringLiteral("Ввод новой переменной");
const QString SNewVariablePrompt = QStringLiteral("Введите имя новой переменной и нажмите OK");
const QString SNewVariableName = QStringLiteral("Результат ");

constexpr int ClientWidth = 312;
constexpr int VariableNameLength = 20;
// The format the dragged result travels in: only our own drop targets know it.
const QString ResultMimeType = QStringLiteral("application/x-calculator-result");
const QString Operators = QStringLiteral("+-*/");
const QString ExpressionChars = QStringLiteral("0123456789()+-*/.");

QPointer<TfrmCalculator> gCalculator;

TfrmCalculator& Calculator()
{
    if (!gCalculator) {
        gCalculator = new TfrmCalculator();
        // Lives as long as the program's event loop, like any form the
        // application owns.
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, gCalculator, &QObject::deleteLater);
    }
    return *gCalculator;
}

// Settings that write numbers as the evaluator reads them.
const TFormatSettings& ExpressionFormat()
{
    static const TFormatSettings settings = [] {
        TFormatSettings s;
        s.DecimalSeparator = QLatin1Char('.');
        return s;
    }();
    return settings;
}

QString FixedPattern(int decimals) { return QStringLiteral("0.") + QString(decimals, QLatin1Char('0')); }

bool ContainsAnyOf(const QString& text, const QString& chars)
{
    return std::any_of(chars.begin(), chars.end(), [&](QChar c) { return text.contains(c); });
}

// True when the "(" that opens text is closed by its last character, so the
// parentheses hold all of it: "(1+2)" but not "(1+2)+(3+4)".
bool IsParenthesisedWhole(const QString& text)
{
    if (!text.startsWith(QLatin1Char('(')) || !text.endsWith(QLatin1Char(')')))
        return false;
    int depth = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('('))
            ++depth;
        else if (text[i] == QLatin1Char(')') && --depth == 0)
            return i == text.size() - 1;
    }
    return false;
}

// The number a text holds; a text that holds none is reported.
std::optional<double> NumberOrWarning(const QString& text)
{
    const std::optional<double> number = TryStrToFloat(text);
    if (!number)
        MessageDlg(QString(SBadNumber).replace(QLatin1String("%s"), text), mtWarning, {mbCancel});
    return number;
}

// A number as it joins an expression after an operator: the evaluator takes
// no sign there, so a negative number goes in parentheses.
QString Operand(double value)
{
    const QString text = FloatToStr(value, ExpressionFormat());
    return value < 0 ? QLatin1Char('(') + text + QLatin1Char(')') : text;
}

QFrame* NewPanel(QWidget* parent, const QString& name)
{
    auto* panel = new QFrame(parent);
    panel->setObjectName(name);
    panel->setFrameShape(QFrame::StyledPanel);
    panel->setFrameShadow(QFrame::Raised);
    panel->setFixedWidth(ClientWidth);
    return panel;
}

QToolButton* NewSpeedButton(QWidget* parent, const QString& name, QStyle::StandardPixmap icon, const QString& hint)
{
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    button->setAutoRaise(true);
    button->setIcon(parent->style()->standardIcon(icon));
    button->setToolTip(hint);
    button->setFixedSize(23, 22);
    return button;
}

QAction* NewItem(QMenu* menu, const QString& name, const QString& caption, bool checkable = false, bool checked = false)
{
    QAction* item = menu->addAction(caption);
    item->setObjectName(name);
    item->setCheckable(checkable);
    item->setChecked(checked);
    return item;
}

} // namespace

TfrmCalculator::TfrmCalculator(QWidget* parent) : TForm(parent)
{
    setObjectName(QStringLiteral("frmCalculator"));
    setWindowTitle(QStringLiteral("Калькулятор"));
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    // The window is as high as its shown panels: each one toggled grows or
    // shrinks it by its own height.
    layout->setSizeConstraint(QLayout::SetFixedSize);

    BuildMainPanel();
    BuildVariablesPanel();
    BuildHistoryPanel();
    BuildButtonsPanel();
    BuildMenu();
    for (QFrame* panel : {MainPanel, Panel1, Panel2, Panel3})
        layout->addWidget(panel);
    Panel1->hide();
    Panel2->hide();
    Panel3->hide();

    InstallKeyPreview();
    OnActivate = [this](QObject*) { FormActivate(); };
    FormCreate();
}

void TfrmCalculator::BuildMainPanel()
{
    MainPanel = NewPanel(this, QStringLiteral("MainPanel"));
    auto* row = new QHBoxLayout(MainPanel);
    row->setContentsMargins(4, 4, 4, 4);
    row->setSpacing(4);

    QFont bold = font();
    bold.setBold(true);
    edtExpression = new QLineEdit(MainPanel);
    edtExpression->setObjectName(QStringLiteral("edtExpression"));
    edtExpression->setFont(bold);
    lblEqualSign = new QLabel(QStringLiteral("="), MainPanel);
    lblEqualSign->setObjectName(QStringLiteral("lblEqualSign"));
    lblResult = new QLabel(MainPanel);
    lblResult->setObjectName(QStringLiteral("lblResult"));
    lblResult->setFont(bold);
    lblResult->setFixedWidth(100);
    lblResult->setFrameShape(QFrame::Panel);
    lblResult->setFrameShadow(QFrame::Sunken);
    lblResult->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lblResult->setCursor(Qt::OpenHandCursor);
    SpeedButton1 = NewSpeedButton(MainPanel, QStringLiteral("SpeedButton1"), QStyle::SP_ArrowDown,
                                  QStringLiteral("В память"));

    row->addWidget(edtExpression, 1);
    row->addWidget(lblEqualSign);
    row->addWidget(lblResult);
    row->addWidget(SpeedButton1);
    connect(SpeedButton1, &QToolButton::clicked, this, [this] { SpeedButton1Click(); });
}

void TfrmCalculator::BuildVariablesPanel()
{
    Panel1 = NewPanel(this, QStringLiteral("Panel1"));
    auto* row = new QHBoxLayout(Panel1);
    row->setContentsMargins(4, 4, 4, 4);
    row->setSpacing(4);

    SpeedButton2 = NewSpeedButton(Panel1, QStringLiteral("SpeedButton2"), QStyle::SP_ArrowUp,
                                  QStringLiteral("В калькулятор"));
    cbVariables = new QComboBox(Panel1);
    cbVariables->setObjectName(QStringLiteral("cbVariables"));
    cbVariables->setToolTip(QStringLiteral("Список \r\nпеременных\r\nпользователя"));
    cbVariables->setAcceptDrops(true);
    edtVariable = new QLineEdit(Panel1);
    edtVariable->setObjectName(QStringLiteral("edtVariable"));
    edtVariable->setReadOnly(true);
    edtVariable->setToolTip(QStringLiteral("Значение\r\nпеременной"));
    edtVariable->setAcceptDrops(true);

    row->addWidget(SpeedButton2);
    row->addWidget(cbVariables, 1);
    row->addWidget(edtVariable, 1);
    connect(SpeedButton2, &QToolButton::clicked, this, [this] { SpeedButton2Click(); });
    // A choice of the user's; names listed by the program change nothing.
    connect(cbVariables, &QComboBox::activated, this, [this] { cbVariablesChange(); });
}

void TfrmCalculator::BuildHistoryPanel()
{
    Panel2 = NewPanel(this, QStringLiteral("Panel2"));
    auto* row = new QHBoxLayout(Panel2);
    row->setContentsMargins(4, 4, 4, 4);
    row->setSpacing(4);

    btnClearHistory = NewSpeedButton(Panel2, QStringLiteral("btnClearHistory"), QStyle::SP_DialogResetButton,
                                     QStringLiteral("Очистить историю"));
    cbHistory = new QComboBox(Panel2);
    cbHistory->setObjectName(QStringLiteral("cbHistory"));
    cbHistory->setToolTip(QStringLiteral("Результаты предыдущих вычислений"));

    row->addWidget(btnClearHistory);
    row->addWidget(cbHistory, 1);
    connect(btnClearHistory, &QToolButton::clicked, this, [this] { btnClearHistoryClick(); });
}

void TfrmCalculator::BuildButtonsPanel()
{
    Panel3 = NewPanel(this, QStringLiteral("Panel3"));
    auto* grid = new QGridLayout(Panel3);
    grid->setContentsMargins(4, 4, 4, 4);
    grid->setSpacing(3);

    const auto add = [&](const QString& caption, int row, int column, int columnSpan = 1) {
        auto* button = new QPushButton(caption, Panel3);
        button->setAutoDefault(false);
        button->setMinimumHeight(26);
        grid->addWidget(button, row, column, 1, columnSpan);
        return button;
    };
    const auto addChar = [&](const QString& caption, int row, int column) {
        QPushButton* button = add(caption, row, column);
        connect(button, &QPushButton::clicked, this, [this, button] { btn1Click(button); });
    };
    addChar(QStringLiteral("7"), 0, 0);
    addChar(QStringLiteral("8"), 0, 1);
    addChar(QStringLiteral("9"), 0, 2);
    addChar(QStringLiteral("+"), 0, 3);
    addChar(QStringLiteral("("), 0, 4);
    addChar(QStringLiteral(")"), 0, 5);
    addChar(QStringLiteral("4"), 1, 0);
    addChar(QStringLiteral("5"), 1, 1);
    addChar(QStringLiteral("6"), 1, 2);
    addChar(QStringLiteral("-"), 1, 3);
    btnBackSpace = add(QStringLiteral("Забой"), 1, 4, 2);
    addChar(QStringLiteral("1"), 2, 0);
    addChar(QStringLiteral("2"), 2, 1);
    addChar(QStringLiteral("3"), 2, 2);
    addChar(QStringLiteral("*"), 2, 3);
    btnClear = add(QStringLiteral("&Очистить"), 2, 4, 2);
    addChar(QStringLiteral("0"), 3, 0);
    addChar(QStringLiteral("00"), 3, 1);
    addChar(QStringLiteral("000"), 3, 2);
    addChar(QStringLiteral("/"), 3, 3);
    addChar(QStringLiteral("."), 3, 4);
    btnEquals = add(QStringLiteral("="), 3, 5);
    btnEnter = add(QStringLiteral("Enter"), 4, 0, 3);
    btnEsc = add(QStringLiteral("Закрыть"), 4, 3, 3);
    btnEnter->setDefault(true);

    btnBackSpace->setObjectName(QStringLiteral("btnBackSpace"));
    btnClear->setObjectName(QStringLiteral("btnClear"));
    btnEquals->setObjectName(QStringLiteral("btnEquals"));
    btnEnter->setObjectName(QStringLiteral("btnEnter"));
    btnEsc->setObjectName(QStringLiteral("btnEsc"));
    connect(btnBackSpace, &QPushButton::clicked, this, [this] { btnBackSpaceClick(); });
    connect(btnClear, &QPushButton::clicked, this, [this] { btnClearClick(); });
    connect(btnEquals, &QPushButton::clicked, this, [this] { btnEqualsClick(); });
    connect(btnEnter, &QPushButton::clicked, this, [this] { btnEnterClick(); });
    connect(btnEsc, &QPushButton::clicked, this, [this] { btnEscClick(); });
}

void TfrmCalculator::BuildMenu()
{
    auto* bar = new QMenuBar(this);
    bar->setObjectName(QStringLiteral("MainMenu1"));
    static_cast<QVBoxLayout*>(layout())->setMenuBar(bar);

    QMenu* N1 = bar->addMenu(QStringLiteral("Вид"));
    N1->setObjectName(QStringLiteral("N1"));
    Up1 = NewItem(N1, QStringLiteral("Up1"), QStringLiteral("Расположить  поверх"), true, true);
    N2 = NewItem(N1, QStringLiteral("N2"), QStringLiteral("Кнопки"), true);
    N5 = NewItem(N1, QStringLiteral("N5"), QStringLiteral("Историю"), true);
    N6 = NewItem(N1, QStringLiteral("N6"), QStringLiteral("Переменные"), true);
    QMenu* N10 = N1->addMenu(QStringLiteral("Точность"));
    N10->setObjectName(QStringLiteral("N10"));
    auto* decimals = new QActionGroup(this);
    N11 = NewItem(N10, QStringLiteral("N11"), QStringLiteral("1 знак"), true);
    N21 = NewItem(N10, QStringLiteral("N21"), QStringLiteral("2 знака"), true, true);
    N31 = NewItem(N10, QStringLiteral("N31"), QStringLiteral("3 знака"), true);
    N41 = NewItem(N10, QStringLiteral("N41"), QStringLiteral("4 знака"), true);
    int places = 1;
    for (QAction* item : {N11, N21, N31, N41}) {
        item->setData(places++);
        decimals->addAction(item);
        connect(item, &QAction::triggered, this, [this, item] { N11Click(item); });
    }

    QMenu* Ht1 = bar->addMenu(QStringLiteral("Правка"));
    Ht1->setObjectName(QStringLiteral("Ht1"));
    N7 = NewItem(Ht1, QStringLiteral("N7"), QStringLiteral("Запомнить результат в переменную"));
    N8 = NewItem(Ht1, QStringLiteral("N8"), QStringLiteral("Очистить историю"));
    N14 = NewItem(Ht1, QStringLiteral("N14"), QStringLiteral("Запрашивать подтверждение"), true, true);
    QMenu* N15 = Ht1->addMenu(QStringLiteral("Умножение (деление) применять к..."));
    N15->setObjectName(QStringLiteral("N15"));
    auto* mulDiv = new QActionGroup(this);
    N17 = NewItem(N15, QStringLiteral("N17"), QStringLiteral("Всему выражению"), true, CalcMulDivWholeExpression);
    N16 = NewItem(N15, QStringLiteral("N16"), QStringLiteral("Последнему числу"), true, !CalcMulDivWholeExpression);
    for (QAction* item : {N17, N16}) {
        mulDiv->addAction(item);
        connect(item, &QAction::triggered, this, [this, item] { N17Click(item); });
    }

    N3 = bar->addAction(QStringLiteral("Помощь"));
    N3->setObjectName(QStringLiteral("N3"));
    N4 = bar->addAction(QStringLiteral("Закрыть"));
    N4->setObjectName(QStringLiteral("N4"));

    connect(Up1, &QAction::triggered, this, [this] { Up1Click(); });
    connect(N2, &QAction::triggered, this, [this] { N2Click(); });
    connect(N5, &QAction::triggered, this, [this] { N5Click(); });
    connect(N6, &QAction::triggered, this, [this] { N6Click(); });
    connect(N7, &QAction::triggered, this, [this] { N7Click(); });
    connect(N8, &QAction::triggered, this, [this] { N8Click(); });
    connect(N14, &QAction::triggered, this, [this] { N14Click(); });
    connect(N4, &QAction::triggered, this, [this] { N4Click(); });
}

// The window sees every key before the control that has the focus; the
// lists' drop-downs are windows of their own and keep their keys.
void TfrmCalculator::InstallKeyPreview()
{
    for (QWidget* child : findChildren<QWidget*>())
        child->installEventFilter(this);
}

void TfrmCalculator::FormCreate()
{
    FDecimals = 2;
    N14->setChecked(CalcConfirmReplace);
}

void TfrmCalculator::FormActivate()
{
    edtExpression->setFocus();
    edtExpression->deselect();
    edtExpression->end(false);
    FLastResult = 0;
    lblResult->clear();
}

// ---------------------------------------------------------------------------
// Evaluation

QString TfrmCalculator::ResultText(long double value) const
{
    return FormatFloat(FixedPattern(FDecimals), static_cast<double>(value));
}

QString TfrmCalculator::ExpressionText(long double value) const
{
    return FormatFloat(FixedPattern(FDecimals), static_cast<double>(value), ExpressionFormat());
}

void TfrmCalculator::ShowResult(long double value)
{
    FLastResult = value;
    lblResult->setText(ResultText(value));
}

void TfrmCalculator::SetExpression(const QString& text)
{
    edtExpression->setText(text);
    edtExpression->end(false);
}

void TfrmCalculator::EvaluateExp(const QString& text)
{
    // A failed evaluation shows how far it got; the error itself is not reported.
    qsizetype errorPosition = 0;
    const long double value = Evaluate(text, errorPosition);
    ShowResult(value);
    cbHistory->addItem(text + QLatin1Char('=') + FloatToStr(static_cast<double>(value)));
    cbHistory->setCurrentIndex(cbHistory->count() - 1);
}

void TfrmCalculator::EvaluateExp2()
{
    const QString text = edtExpression->text().trimmed();
    if (text.isEmpty())
        return;
    qsizetype errorPosition = 0;
    const long double value = Evaluate(text, errorPosition);
    ShowResult(value);
    SetExpression(ExpressionText(value));
}

void TfrmCalculator::addChar(const QString& text) { SetExpression(edtExpression->text() + text); }

QChar TfrmCalculator::GetOp(const QString& caption)
{
    const QString text = caption.trimmed();
    if (!text.isEmpty() && Operators.contains(text.front()))
        return text.front();
    return QLatin1Char(' ');
}

void TfrmCalculator::AddNumber(const QString& numberText, QChar op)
{
    const std::optional<double> number = NumberOrWarning(numberText);
    if (!number)
        return;
    const QString expression = edtExpression->text().trimmed();
    const QString operand = Operand(*number);
    QString result;
    if (op == QLatin1Char('*') || op == QLatin1Char('/')) {
        if (expression.isEmpty())
            return;
        if (CalcMulDivWholeExpression && ContainsAnyOf(expression, QStringLiteral("+-"))
            && !IsParenthesisedWhole(expression))
            result = QLatin1Char('(') + expression + QLatin1Char(')') + op + operand;
        else
            result = expression + op + operand;
    } else if (op == QLatin1Char('+') || op == QLatin1Char('-')) {
        result = expression.isEmpty() ? FloatToStr(*number, ExpressionFormat()) : expression + op + operand;
    } else {
        return;
    }
    SetExpression(result);
}

// ---------------------------------------------------------------------------
// Buttons

void TfrmCalculator::btn1Click(QPushButton* sender)
{
    addChar(sender->text());
    edtExpression->setFocus();
    edtExpression->end(false);
}

void TfrmCalculator::btnEqualsClick() { EvaluateExp(edtExpression->text()); }

void TfrmCalculator::btnClearClick()
{
    edtExpression->clear();
    lblResult->clear();
}

void TfrmCalculator::btnBackSpaceClick()
{
    QString text = edtExpression->text();
    text.chop(1);
    SetExpression(text);
}

void TfrmCalculator::btnEnterClick()
{
    EvaluateExp(edtExpression->text());
    if (isModal())
        done(mrOk);
}

void TfrmCalculator::btnEscClick()
{
    if (isModal())
        done(mrCancel);
    else
        close();
}

void TfrmCalculator::btnClearHistoryClick() { cbHistory->clear(); }

// ---------------------------------------------------------------------------
// User variables

void TfrmCalculator::NewVariable()
{
    const std::optional<double> value = TryStrToFloat(lblResult->text());
    if (!value)
        return;
    QString name = SNewVariableName + QString::number(cbVariables->count() + 1);
    if (!InputQuery(SNewVariableCaption, SNewVariablePrompt, name))
        return;
    name.truncate(VariableNameLength);
    if (name.trimmed().isEmpty())
        return;
    SetVariable(name, *value);
    if (cbVariables->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive) < 0) {
        const int chosen = cbVariables->currentIndex();
        cbVariables->addItem(name);
        // Listing a name does not choose it.
        cbVariables->setCurrentIndex(chosen);
    }
}

void TfrmCalculator::StoreInVariable()
{
    const QString name = cbVariables->currentText();
    const std::optional<double> value = TryStrToFloat(lblResult->text());
    if (name.isEmpty() || !value)
        return;
    SetVariable(name, *value);
    edtVariable->setText(lblResult->text());
}

void TfrmCalculator::SpeedButton1Click()
{
    if (lblResult->text().isEmpty()) {
        if (edtExpression->text().trimmed().isEmpty())
            return;
        EvaluateExp(edtExpression->text());
    }
    if (cbVariables->currentIndex() >= 0)
        StoreInVariable();
    else
        NewVariable();
}

void TfrmCalculator::SpeedButton2Click()
{
    const QString value = edtVariable->text();
    if (value.isEmpty())
        return;
    if (edtExpression->text().trimmed().isEmpty()) {
        AddNumber(value, QLatin1Char('+'));
        return;
    }
    const QPoint below = edtExpression->mapToGlobal(QPoint(0, edtExpression->height()));
    const QChar op = ChooseOperation(below.x(), below.y());
    if (op != QLatin1Char(' '))
        AddNumber(value, op);
}

void TfrmCalculator::cbVariablesChange()
{
    bool notFound = false;
    const long double value = GetVariable(cbVariables->currentText(), notFound);
    edtVariable->setText(notFound ? SError : FloatToStr(static_cast<double>(value)));
}

bool TfrmCalculator::cbVariablesDragOver(QObject* source) const { return source == lblResult; }

bool TfrmCalculator::edtVariableDragOver(QObject* source) const { return source == lblResult; }

void TfrmCalculator::lblResultEndDrag(QObject* target)
{
    if (target == cbVariables)
        NewVariable();
    else if (target == edtVariable)
        StoreInVariable();
}

// ---------------------------------------------------------------------------
// Menu

void TfrmCalculator::TogglePanel(QFrame* panel, QAction* item)
{
    panel->setVisible(panel->isHidden());
    item->setChecked(!panel->isHidden());
}

void TfrmCalculator::N2Click() { TogglePanel(Panel3, N2); }

void TfrmCalculator::N5Click() { TogglePanel(Panel2, N5); }

void TfrmCalculator::N6Click() { TogglePanel(Panel1, N6); }

void TfrmCalculator::N4Click() { close(); }

void TfrmCalculator::N7Click() { NewVariable(); }

void TfrmCalculator::N8Click() { btnClearHistoryClick(); }

void TfrmCalculator::N11Click(QAction* sender)
{
    sender->setChecked(true);
    FDecimals = sender->data().toInt();
    if (!lblResult->text().isEmpty())
        lblResult->setText(ResultText(FLastResult));
}

void TfrmCalculator::N14Click() { CalcConfirmReplace = N14->isChecked(); }

void TfrmCalculator::N17Click(QAction* sender)
{
    sender->setChecked(true);
    CalcMulDivWholeExpression = N17->isChecked();
}

void TfrmCalculator::Up1Click()
{
    const bool shown = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, Up1->isChecked());
    if (shown)
        show(); // changing the flags hides a window
}

// ---------------------------------------------------------------------------
// Keys, mouse and dragging

bool TfrmCalculator::FormKeyDown(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: EvaluateExp2(); return true;
    case Qt::Key_Escape: edtExpression->clear(); return true;
    default: return false;
    }
}

bool TfrmCalculator::FormKeyPress(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Backspace) {
        btnBackSpaceClick();
        return true;
    }
    const QString text = event->text();
    if (text.size() != 1)
        return false;
    if (text == QLatin1String("=")) {
        EvaluateExp(edtExpression->text());
        return true;
    }
    if (ExpressionChars.contains(text)) {
        addChar(text);
        return true;
    }
    return false;
}

bool TfrmCalculator::edtExpressionKeyPress(QKeyEvent* event)
{
    const QString text = event->text();
    // Keys that type nothing (arrows, Delete, shortcuts) keep their meaning.
    if (text.size() != 1 || !text.front().isPrint() || event->key() == Qt::Key_Backspace)
        return false;
    if (text == QLatin1String("=")) {
        EvaluateExp(edtExpression->text());
        return true;
    }
    const QChar op = GetOp(text);
    if (op != QLatin1Char(' ') && CalcMulDivWholeExpression && ContainsAnyOf(edtExpression->text(), Operators)) {
        // A chained calculation: what was typed so far becomes its value.
        EvaluateExp2();
        addChar(op);
        return true;
    }
    // Only numbers and operators can be typed: no names of functions.
    return !ExpressionChars.contains(text);
}

bool TfrmCalculator::lblResultMouseMove(QMouseEvent* event)
{
    if (!(event->buttons() & Qt::LeftButton) || lblResult->text().isEmpty()
        || (event->position().toPoint() - FDragStart).manhattanLength() < QApplication::startDragDistance())
        return false;
    auto* drag = new QDrag(lblResult);
    auto* data = new QMimeData;
    data->setData(ResultMimeType, lblResult->text().toUtf8());
    drag->setMimeData(data);
    drag->exec(Qt::CopyAction);
    QObject* target = drag->target();
    drag->deleteLater();
    lblResultEndDrag(target);
    return true;
}

bool TfrmCalculator::DragTargetEvent(QObject* target, QEvent* event)
{
    auto* drag = static_cast<QDropEvent*>(event);
    const bool accepted = drag->mimeData()->hasFormat(ResultMimeType)
                          && (target == cbVariables ? cbVariablesDragOver(drag->source())
                                                    : edtVariableDragOver(drag->source()));
    if (accepted)
        drag->acceptProposedAction();
    else
        drag->ignore();
    // The result is stored when its drag ends, not here.
    return true;
}

bool TfrmCalculator::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::KeyPress: {
        // Keys are taken where they start, at a control that can have the
        // focus, not again while a refused key travels up to the panels.
        const auto* widget = qobject_cast<QWidget*>(watched);
        if (!widget || widget->focusPolicy() == Qt::NoFocus)
            break;
        auto* key = static_cast<QKeyEvent*>(event);
        if (FormKeyDown(key))
            return true;
        if (watched == edtExpression)
            return edtExpressionKeyPress(key);
        // The edits have rules of their own.
        return !qobject_cast<QLineEdit*>(watched) && FormKeyPress(key);
    }
    case QEvent::MouseButtonPress:
        if (watched == lblResult)
            FDragStart = static_cast<QMouseEvent*>(event)->position().toPoint();
        break;
    case QEvent::MouseMove:
        if (watched == lblResult)
            return lblResultMouseMove(static_cast<QMouseEvent*>(event));
        break;
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
        if (watched == cbVariables || watched == edtVariable)
            return DragTargetEvent(watched, event);
        break;
    default: break;
    }
    return TForm::eventFilter(watched, event);
}

void TfrmCalculator::keyPressEvent(QKeyEvent* event)
{
    // What arrives here was refused by a control, or found no control to
    // start at; only Enter and Esc keep their meaning everywhere.
    if (!FormKeyDown(event))
        TForm::keyPressEvent(event);
}

// ---------------------------------------------------------------------------
// The unit's functions

TfrmCalculator* frmCalculator() { return gCalculator; }

void ShowCalculator()
{
    TfrmCalculator& calculator = Calculator();
    calculator.show();
    calculator.raise();
    calculator.activateWindow();
}

void AddToCalculator(const QString& numberText, QChar op)
{
    if (!NumberOrWarning(numberText))
        return;
    Calculator().AddNumber(numberText, op);
}

long double GetCalculatorValue()
{
    TfrmCalculator& calculator = Calculator();
    calculator.EvaluateExp(calculator.edtExpression->text());
    return calculator.LastResult();
}
