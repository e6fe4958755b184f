#include "Dialogs.h"

#include "Application.h"

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

namespace {

constexpr TMsgDlgBtn kButtonOrder[] = {mbYes, mbNo, mbOK, mbCancel, mbAbort, mbRetry,
                                       mbIgnore, mbAll, mbNoToAll, mbYesToAll, mbHelp, mbClose};

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
    case mbYes: case mbOK: case mbAll: case mbYesToAll: case mbRetry: return QMessageBox::AcceptRole;
    case mbNo: case mbNoToAll: return QMessageBox::NoRole;
    case mbCancel: case mbAbort: case mbClose: return QMessageBox::RejectRole;
    case mbIgnore: return QMessageBox::ActionRole;
    case mbHelp: return QMessageBox::HelpRole;
    }
    return QMessageBox::ActionRole;
}

// What Escape means in a box: Cancel, else No, else the only OK.
TMsgDlgBtn EscapeButton(TMsgDlgButtons buttons)
{
    for (TMsgDlgBtn b : {mbCancel, mbNo, mbAbort, mbClose, mbOK})
        if (buttons.Contains(b))
            return b;
    return mbOK;
}

class TQtDialogs : public TDialogBackend
{
public:
    TModalResult ShowMessageBox(const TMessageRequest& request) override
    {
        QMessageBox box(QtIcon(request.Icon), request.Caption, request.Text, QMessageBox::NoButton,
                        QApplication::activeWindow());
        std::vector<std::pair<QAbstractButton*, TMsgDlgBtn>> buttons;
        for (TMsgDlgBtn b : kButtonOrder) {
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
        const QString answer = QInputDialog::getText(QApplication::activeWindow(), caption, prompt,
                                                     QLineEdit::Normal, value, &ok);
        if (ok)
            value = answer;
        return ok;
    }

    void Beep() override { QApplication::beep(); }
};

std::unique_ptr<TDialogBackend>& Backend()
{
    static std::unique_ptr<TDialogBackend> backend = std::make_unique<TQtDialogs>();
    return backend;
}

TMsgIcon IconOf(TMsgDlgType type)
{
    switch (type) {
    case mtWarning: return TMsgIcon::Warning;
    case mtError: return TMsgIcon::Stop;
    case mtInformation: return TMsgIcon::Information;
    case mtConfirmation: return TMsgIcon::Question;
    case mtCustom: break;
    }
    return TMsgIcon::None;
}

} // namespace

TModalResult ModalResultOf(TMsgDlgBtn button)
{
    switch (button) {
    case mbYes: return mrYes;
    case mbNo: return mrNo;
    case mbOK: return mrOk;
    case mbCancel: return mrCancel;
    case mbAbort: return mrAbort;
    case mbRetry: return mrRetry;
    case mbIgnore: return mrIgnore;
    case mbAll: return mrAll;
    case mbNoToAll: return mrNoToAll;
    case mbYesToAll: return mrYesToAll;
    case mbHelp: return mrNone;
    case mbClose: return mrClose;
    }
    return mrNone;
}

std::unique_ptr<TDialogBackend> SetDialogBackend(std::unique_ptr<TDialogBackend> backend)
{
    std::unique_ptr<TDialogBackend> previous = std::move(Backend());
    Backend() = backend ? std::move(backend) : std::make_unique<TQtDialogs>();
    return previous;
}

TDialogBackend& DialogBackend()
{
    return *Backend();
}

QString MsgDlgCaption(TMsgDlgType type)
{
    switch (type) {
    case mtWarning: return QStringLiteral("Предупреждение");
    case mtError: return QStringLiteral("Ошибка");
    case mtInformation: return QStringLiteral("Информация");
    case mtConfirmation: return QStringLiteral("Подтверждение");
    case mtCustom: break;
    }
    return ApplicationTitle();
}

QString MsgDlgButtonText(TMsgDlgBtn button)
{
    switch (button) {
    case mbYes: return QStringLiteral("&Да");
    case mbNo: return QStringLiteral("&Нет");
    case mbOK: return QStringLiteral("OK");
    case mbCancel: return QStringLiteral("Отмена");
    case mbAbort: return QStringLiteral("&Прервать");
    case mbRetry: return QStringLiteral("П&овторить");
    case mbIgnore: return QStringLiteral("&Пропустить");
    case mbAll: return QStringLiteral("&Все");
    case mbNoToAll: return QStringLiteral("Н&ет для всех");
    case mbYesToAll: return QStringLiteral("Д&а для всех");
    case mbHelp: return QStringLiteral("&Справка");
    case mbClose: return QStringLiteral("&Закрыть");
    }
    return {};
}

TModalResult MessageDlg(const QString& text, TMsgDlgType type, TMsgDlgButtons buttons, int)
{
    return MessageBox(text, MsgDlgCaption(type), IconOf(type), buttons);
}

void ShowMessage(const QString& text)
{
    MessageBox(text, ApplicationTitle(), TMsgIcon::None, {mbOK});
}

TModalResult MessageBox(const QString& text, const QString& caption, TMsgIcon icon,
                        TMsgDlgButtons buttons)
{
    return DialogBackend().ShowMessageBox({icon, caption, text, buttons});
}

bool InputQuery(const QString& caption, const QString& prompt, QString& value)
{
    return DialogBackend().InputQuery(caption, prompt, value);
}

void Beep()
{
    DialogBackend().Beep();
}

TModalResult TScriptedDialogs::ShowMessageBox(const TMessageRequest& request)
{
    Messages.push_back(request);
    if (!Answers.empty()) {
        const TModalResult answer = Answers.front();
        Answers.erase(Answers.begin());
        return answer;
    }
    for (TMsgDlgBtn b : kButtonOrder)
        if (request.Buttons.Contains(b))
            return ModalResultOf(b);
    return mrOk;
}

bool TScriptedDialogs::InputQuery(const QString& caption, const QString& prompt, QString& value)
{
    InputPrompts << caption + QLatin1Char('|') + prompt;
    if (Inputs.empty())
        return false;
    const Input input = Inputs.front();
    Inputs.erase(Inputs.begin());
    if (input.Accepted)
        value = input.Value;
    return input.Accepted;
}

TScriptedDialogsGuard::TScriptedDialogsGuard()
{
    auto dialogs = std::make_unique<TScriptedDialogs>();
    FDialogs = dialogs.get();
    FPrevious = SetDialogBackend(std::move(dialogs));
}

TScriptedDialogsGuard::~TScriptedDialogsGuard()
{
    SetDialogBackend(std::move(FPrevious));
}
