#include "Dialogs.h"

#include "ApplicationTitle.h"

#include <QtGlobal>
#include <cstdio>

namespace {

// Where no message box can be shown (no application object with a GUI, or
// nobody at the screen): the text goes to standard error, where a script
// running the program sees it, and the cautious answer is taken.
class THeadlessDialogs : public TDialogBackend
{
public:
    TModalResult ShowMessageBox(const TMessageRequest& request) override
    {
        std::fprintf(stderr, "%s: %s\n", qUtf8Printable(request.Caption), qUtf8Printable(request.Text));
        std::fflush(stderr);
        return ModalResultOf(EscapeButton(request.Buttons));
    }
    bool InputQuery(const QString&, const QString&, QString&) override { return false; }
    void Beep() override {}
};

std::unique_ptr<TDialogBackend>& Backend()
{
    static std::unique_ptr<TDialogBackend> backend = std::make_unique<THeadlessDialogs>();
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

TMsgDlgBtn EscapeButton(TMsgDlgButtons buttons)
{
    for (TMsgDlgBtn b : {mbCancel, mbNo, mbAbort, mbClose, mbOK})
        if (buttons.Contains(b))
            return b;
    return mbOK;
}

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
    Backend() = backend ? std::move(backend) : std::make_unique<THeadlessDialogs>();
    return previous;
}

TDialogBackend& DialogBackend() { return *Backend(); }

std::unique_ptr<TDialogBackend> MakeHeadlessDialogs() { return std::make_unique<THeadlessDialogs>(); }

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

void ShowMessage(const QString& text) { MessageBox(text, ApplicationTitle(), TMsgIcon::None, {mbOK}); }

TModalResult MessageBox(const QString& text, const QString& caption, TMsgIcon icon, TMsgDlgButtons buttons)
{
    return DialogBackend().ShowMessageBox({icon, caption, text, buttons});
}

bool InputQuery(const QString& caption, const QString& prompt, QString& value)
{
    return DialogBackend().InputQuery(caption, prompt, value);
}

void Beep() { DialogBackend().Beep(); }

TModalResult TScriptedDialogs::ShowMessageBox(const TMessageRequest& request)
{
    Messages.push_back(request);
    if (!Answers.empty()) {
        const TModalResult answer = Answers.front();
        Answers.erase(Answers.begin());
        return answer;
    }
    for (TMsgDlgBtn b : MsgDlgButtonOrder)
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

TScriptedDialogsGuard::~TScriptedDialogsGuard() { SetDialogBackend(std::move(FPrevious)); }
