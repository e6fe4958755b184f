#include "CalcOpForm.h"

#include "Dialogs.h"

#include <QApplication>
#include <QKeyEvent>
#include <QToolButton>

namespace {

const QString Operators = QStringLiteral("+-*/");
constexpr int ButtonSize = 28;

} // namespace

TFormMathAction::TFormMathAction(QWidget* parent) : TForm(parent)
{
    setObjectName(QStringLiteral("FormMathAction"));
    setWindowTitle(QStringLiteral("Действие ?"));
    // A tool window without border icons.
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(117, ButtonSize);
    QFont font(QStringLiteral("Arial"));
    font.setBold(true);
    setFont(font);

    QToolButton** buttons[] = {&SpeedButton1, &SpeedButton2, &SpeedButton3, &SpeedButton4};
    for (int i = 0; i < 4; ++i) {
        auto* button = new QToolButton(this);
        button->setObjectName(QStringLiteral("SpeedButton%1").arg(i + 1));
        button->setText(Operators.at(i));
        button->setAutoRaise(true);
        button->setGeometry(1 + i * (ButtonSize + 1), 0, ButtonSize, ButtonSize);
        connect(button, &QToolButton::clicked, this, [this, button] { SpeedButton1Click(button); });
        *buttons[i] = button;
    }
}

void TFormMathAction::Choose(QChar op)
{
    FOperation = op;
    done(mrOk);
}

void TFormMathAction::SpeedButton1Click(QToolButton* sender)
{
    const QString caption = sender->text().trimmed();
    if (!caption.isEmpty())
        Choose(caption.front());
}

void TFormMathAction::keyPressEvent(QKeyEvent* event)
{
    const QString text = event->text();
    if (event->key() == Qt::Key_Escape) {
        FOperation = QLatin1Char(' ');
        done(mrCancel);
    } else if (text.size() == 1 && Operators.contains(text)) {
        Choose(text.front());
    } else {
        TForm::keyPressEvent(event);
    }
}

QChar ChooseOperation(int left, int top)
{
    // Over the window that asks, which may stay on top itself.
    TFormMathAction form(QApplication::activeWindow());
    form.move(left, top);
    form.exec();
    return form.Operation();
}
