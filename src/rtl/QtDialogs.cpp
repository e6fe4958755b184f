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
        QMessageBox box(QtIcon(request.Icon), request.Caption, request.Text, QMessageBox::NoButton,
                        QApplication::activeWindow());
        std::vector<std::pair<QAbstractButton*, TMsgDlgBtn>> buttons;
        for (TMsgDlgBtn b : MsgDlgButtonOrder) {
            if (!request.Buttons.Contains(b))
                continue;
            QPushButton* button = box.addButton(MsgDlgButtonText(b), QtRole(b));
            buttons.emplace_back(button, b);
            if (buttons.size() == 1)
                box.setDefaultButton(button);
            if (b == EscapeButton(request.Buttons))
                box.setEscapeButton(button);
        }
        box.exec();
        for (const auto& [button, b] : buttons)
            if (box.clickedButton() == button)
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

std::unique_ptr<TDialogBackend> MakeQtDialogs() { return std::make_unique<TQtDialogs>(); }
