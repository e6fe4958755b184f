#include "QtDialogs.h"

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

namespace {

QMessageBox::Icon QtIcon(TMsgIcon icon)
{
    switch (icon) {
    case TMsgIcon::Warning: return QMessageBox::Warning;
    case TMsgIcon::Stop: return QMessageBox::Critical;
    case TMsgIcon::Information: return QMessageBox::Information;
    case TMsgIcon::Question: return QMessageBox::Question;
    case TMsgIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::ButtonRole QtRole(TMsgDlgBtn button)
{
    switch (button) {
    case mbYes:
    case mbOK:
    case mbAll:
    case mbYesToAll:
    case mbRetry: return QMessageBox::AcceptRole;
    case mbNo:
    case mbNoToAll: return QMessageBox::NoRole;
    case mbCancel:
    case mbAbort:
    case mbClose: return QMessageBox::RejectRole;
    case mbIgnore: return QMessageBox::ActionRole;
    case mbHelp: return QMessageBox::HelpRole;
    }
    return QMessageBox::ActionRole;
}

class TQtDialogs : public TDialogBackend
{
public:
    TModalResult ShowMessageBox(const TMessageRequest& request) override
    {
        const TQtMessageBox shown = MakeQtMessageBox(request, QApplication::activeWindow());
        shown.Box->exec();
        for (const auto& [button, b] : shown.Buttons)
            if (shown.Box->clickedButton() == button)
                return ModalResultOf(b);
        return mrCancel;
    }

    bool InputQuery(const QString& caption, const QString& prompt, QString& value) override
    {
        bool ok = false;
        const QString answer = QInputDialog::getText(QApplication::activeWindow(), caption, prompt, QLineEdit::Normal,
                                                     value, &ok);
        if (ok)
            value = answer;
        return ok;
    }

    void Beep() override { QApplication::beep(); }
};

} // namespace

TQtMessageBox MakeQtMessageBox(const TMessageRequest& request, QWidget* parent)
{
    TQtMessageBox shown;
    shown.Box = std::make_unique<QMessageBox>(QtIcon(request.Icon), request.Caption, request.Text,
                                              QMessageBox::NoButton, parent);
    for (TMsgDlgBtn b : MsgDlgButtonOrder) {
        if (!request.Buttons.Contains(b))
            continue;
        QPushButton* button = shown.Box->addButton(MsgDlgButtonText(b), QtRole(b));
        shown.Buttons.emplace_back(button, b);
        if (shown.Buttons.size() == 1)
            shown.Box->setDefaultButton(button);
        if (b == EscapeButton(request.Buttons))
            shown.Box->setEscapeButton(button);
    }
    return shown;
}

std::unique_ptr<TDialogBackend> MakeQtDialogs() { return std::make_unique<TQtDialogs>(); }
