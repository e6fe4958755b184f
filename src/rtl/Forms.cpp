#include "Forms.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QScreen>

namespace {
QPointer<TForm> gActiveForm;
} // namespace

TForm::TForm(QWidget* parent) : QDialog(parent) {}

TForm::~TForm()
{
    if (gActiveForm == this)
        gActiveForm = nullptr;
}

TForm* TForm::ActiveForm() { return gActiveForm; }

void TForm::SetBorderStyle(TFormBorderStyle style)
{
    Qt::WindowFlags flags = Qt::Window;
    switch (style) {
    case bsNone: flags |= Qt::FramelessWindowHint; break;
    case bsDialog:
        flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                | Qt::WindowCloseButtonHint;
        break;
    case bsToolWindow:
    case bsSizeToolWin: flags = Qt::Tool; break;
    case bsSingle:
    case bsSizeable: break;
    }
    setWindowFlags(flags);
    FFixedSize = style == bsDialog || style == bsSingle || style == bsToolWindow;
    if (FFixedSize)
        setFixedSize(size());
}

void TForm::SetClientSize(int width, int height)
{
    if (FFixedSize)
        setFixedSize(width, height);
    else
        resize(width, height);
}

void TForm::SetDesignFont()
{
    QFont design(QStringLiteral("MS Sans Serif"));
    design.setPixelSize(11);
    setFont(design);
}

QFont BoldFont(QFont font)
{
    font.setBold(true);
    return font;
}

void TForm::WndProc(TMessage&) {}

void TForm::Activate()
{
    if (OnActivate)
        OnActivate(this);
}

bool TForm::event(QEvent* event)
{
    if (event->type() == TMessageEvent::EventType()) {
        TMessage message = static_cast<TMessageEvent*>(event)->Message();
        WndProc(message);
        return true;
    }
    const bool result = QDialog::event(event);
    if (event->type() == QEvent::WindowActivate && gActiveForm != this) {
        gActiveForm = this;
        Activate();
    }
    return result;
}

void TForm::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (FPosition == poScreenCenter || FPosition == poMainFormCenter) {
        if (const QScreen* screen = this->screen())
            move(screen->availableGeometry().center() - rect().center());
    }
    // A shown form asks for activation itself, so it becomes active even
    // where no window manager hands out the focus.
    activateWindow();
    raise();
}

void TForm::keyPressEvent(QKeyEvent* event)
{
    // A form closes by its own buttons, not by Escape.
    if (event->key() == Qt::Key_Escape) {
        event->ignore();
        return;
    }
    QDialog::keyPressEvent(event);
}
