// The calculator's operator chooser: four buttons "+", "-", "*", "/" in a
// tiny window, asked when a value is sent into the expression.
#pragma once

#include "Forms.h"

#include <QChar>

class QToolButton;

class TFormMathAction : public TForm
{
    Q_OBJECT
public:
    explicit TFormMathAction(QWidget* parent = nullptr);

    QToolButton* SpeedButton1;
    QToolButton* SpeedButton2;
    QToolButton* SpeedButton3;
    QToolButton* SpeedButton4;

    // The chosen operator, or a blank while none is chosen.
    QChar Operation() const { return FOperation; }

    // A button chooses the first character of its trimmed caption.
    void SpeedButton1Click(QToolButton* sender);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Choose(QChar op);

    QChar FOperation = QLatin1Char(' ');
};

// Shows the chooser modally at the screen position and returns "+", "-",
// "*" or "/", or a blank when the user pressed Esc.
QChar ChooseOperation(int left, int top);
