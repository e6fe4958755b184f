// The message-dialog facade. Every question and notice of the system goes
// through it, so tests can install a scripted backend that records each
// request and answers it.
#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

enum TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };

enum TMsgDlgBtn {
    mbYes,
    mbNo,
    mbOK,
    mbCancel,
    mbAbort,
    mbRetry,
    mbIgnore,
    mbAll,
    mbNoToAll,
    mbYesToAll,
    mbHelp,
    mbClose
};

// A set of buttons, one bit per TMsgDlgBtn.
class TMsgDlgButtons
{
public:
    constexpr TMsgDlgButtons() = default;
    constexpr TMsgDlgButtons(std::initializer_list<TMsgDlgBtn> buttons)
    {
        for (TMsgDlgBtn b : buttons)
            FBits |= 1u << b;
    }
    constexpr bool Contains(TMsgDlgBtn b) const { return FBits & (1u << b); }
    constexpr bool operator==(const TMsgDlgButtons&) const = default;

private:
    unsigned FBits = 0;
};

inline constexpr TMsgDlgButtons mbOKCancel{mbOK, mbCancel};
inline constexpr TMsgDlgButtons mbYesNo{mbYes, mbNo};
inline constexpr TMsgDlgButtons mbYesNoCancel{mbYes, mbNo, mbCancel};

// Modal results, in the toolkit's numbering.
enum TModalResult {
    mrNone = 0,
    mrOk = 1,
    mrCancel = 2,
    mrAbort = 3,
    mrRetry = 4,
    mrIgnore = 5,
    mrYes = 6,
    mrNo = 7,
    mrAll = 8,
    mrNoToAll = 9,
    mrYesToAll = 10,
    mrClose = 11
};

TModalResult ModalResultOf(TMsgDlgBtn button);

// The order in which a box shows its buttons.
inline constexpr TMsgDlgBtn MsgDlgButtonOrder[] = {mbYes,    mbNo,  mbOK,      mbCancel,   mbAbort, mbRetry,
                                                   mbIgnore, mbAll, mbNoToAll, mbYesToAll, mbHelp,  mbClose};
// What Escape means in a box: Cancel, else No, else the only OK.
TMsgDlgBtn EscapeButton(TMsgDlgButtons buttons);

// Icon of a message box.
enum class TMsgIcon { None, Warning, Stop, Information, Question };

// One message box as the backend is asked to show it.
struct TMessageRequest
{
    TMsgIcon Icon = TMsgIcon::None;
    QString Caption;
    QString Text;
    TMsgDlgButtons Buttons;
};

class TDialogBackend
{
public:
    virtual ~TDialogBackend() = default;
    virtual TModalResult ShowMessageBox(const TMessageRequest& request) = 0;
    // Asks for one line of text; false when the user cancelled.
    virtual bool InputQuery(const QString& caption, const QString& prompt, QString& value) = 0;
    virtual void Beep() = 0;
};

// Installs a backend and returns the previous one. Null, and the start of a
// process, give a backend that logs each message and takes its Escape answer;
// the application object (TApplication) installs the message boxes of Qt.
std::unique_ptr<TDialogBackend> SetDialogBackend(std::unique_ptr<TDialogBackend> backend);
// The backend for a process nobody watches: each message goes to standard
// error as "caption: text" and takes its Escape answer; input is cancelled.
std::unique_ptr<TDialogBackend> MakeHeadlessDialogs();
TDialogBackend& DialogBackend();

// The caption MessageDlg gives a dialog type ("Информация" for mtInformation, ...).
QString MsgDlgCaption(TMsgDlgType type);
// The button text the dialogs show ("OK", "Отмена", "&Да", ...).
QString MsgDlgButtonText(TMsgDlgBtn button);

TModalResult MessageDlg(const QString& text, TMsgDlgType type, TMsgDlgButtons buttons, int helpContext = 0);
// A message with the application title as caption and one OK button.
void ShowMessage(const QString& text);
TModalResult MessageBox(const QString& text, const QString& caption, TMsgIcon icon, TMsgDlgButtons buttons);
bool InputQuery(const QString& caption, const QString& prompt, QString& value);
void Beep();

// A backend for tests: records every request and answers from a queue.
// Without a queued answer a message box is answered with its first button
// (in toolkit order: Yes, No, OK, Cancel, ...) and an input query is cancelled.
class TScriptedDialogs : public TDialogBackend
{
public:
    struct Input
    {
        bool Accepted;
        QString Value;
    };

    std::vector<TMessageRequest> Messages;
    std::vector<TModalResult> Answers; // consumed front first
    std::vector<Input> Inputs;         // consumed front first
    QStringList InputPrompts;
    int Beeps = 0;

    TModalResult ShowMessageBox(const TMessageRequest& request) override;
    bool InputQuery(const QString& caption, const QString& prompt, QString& value) override;
    void Beep() override { ++Beeps; }
};

// Installs a scripted backend for the lifetime of the guard.
class TScriptedDialogsGuard
{
public:
    TScriptedDialogsGuard();
    ~TScriptedDialogsGuard();
    TScriptedDialogsGuard(const TScriptedDialogsGuard&) = delete;
    TScriptedDialogsGuard& operator=(const TScriptedDialogsGuard&) = delete;
    TScriptedDialogs& operator*() const { return *FDialogs; }
    TScriptedDialogs* operator->() const { return FDialogs; }

private:
    TScriptedDialogs* FDialogs;
    std::unique_ptr<TDialogBackend> FPrevious;
};
