// The toolkit's form: a top-level window with the activation event of the
// platform the system was written for, design-time placement and frame, and a
// message handler for posted messages.
#pragma once

#include "Messages.h"

#include <QDialog>
#include <QFont>
#include <functional>

enum TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
enum TPosition { poDesigned, poDefault, poScreenCenter, poMainFormCenter };

class TForm : public QDialog
{
    Q_OBJECT
public:
    explicit TForm(QWidget* parent = nullptr);
    ~TForm() override;

    // Fires when the form becomes the application's active form. A message
    // box of the form's own closing, or a return from another program, does
    // not count: the form was the active form all along.
    std::function<void(QObject* sender)> OnActivate;

    void SetBorderStyle(TFormBorderStyle style);
    void SetPosition(TPosition position) { FPosition = position; }
    // The client area in design pixels (96 dots per inch).
    void SetClientSize(int width, int height);
    // The font the forms were designed with (MS Sans Serif, 11 pixels);
    // Qt takes the nearest sans serif where it is missing.
    void SetDesignFont();

    // The form that was last activated, or none.
    static TForm* ActiveForm();

protected:
    // Handles a message posted to the form; the default ignores it.
    virtual void WndProc(TMessage& message);
    virtual void Activate();

    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    TPosition FPosition = poDesigned;
    bool FFixedSize = false;
};

// The font in bold.
QFont BoldFont(QFont font);
