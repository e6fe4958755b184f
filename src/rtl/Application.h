// The application object: the error display that every
// exception reaching the event loop ends in, and the way the program ends
// when it is told to (SIGTERM, SIGINT).
#pragma once

#include "ApplicationTitle.h"
#include "Exceptions.h"

#include <QApplication>
#include <QString>
#include <exception>
#include <functional>

class QWidget;
class TTerminationSignals;

// Shows an exception in the error display: a message box with the message,
// captioned with the application title, stop icon, one OK. EAbort shows nothing.
void ShowException(std::exception_ptr error);

class TApplication : public QApplication
{
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);
    ~TApplication() override;

    void Initialize() {}
    QString Title() const { return ApplicationTitle(); }
    void SetTitle(const QString& title) { SetApplicationTitle(title); }

    // Creates the form (owned by the application until it is closed); the
    // first form created is the main form, which Run shows.
    template <typename Form>
    Form* CreateForm()
    {
        auto* form = new Form();
        RegisterForm(form);
        return form;
    }
    QWidget* MainForm() const { return FMainForm; }
    // Shows the main form and runs the message loop; returns at once with 1
    // when an error was already reported with nobody at the screen.
    int Run();

    // Whether a person answers the message boxes: not on the offscreen and
    // minimal platforms, nor where the program says so (a run that only saves
    // a picture). Without one, questions take the dialog facade's headless
    // answers, and the error display writes to standard error and ends the
    // program with exit code 1: nobody could read it or go on after it.
    bool Interactive() const { return FInteractive; }
    void SetInteractive(bool value);
    // An error was reported while nobody was at the screen.
    bool Failed() const { return FFailed; }

    // SIGTERM and SIGINT close the top-level windows as a user's close
    // would (a window may still ask, and stay); the program ends when the
    // last one has closed, or at once when none is shown. A second signal
    // that arrives before the first was handled ends the process the
    // system's way. Replace to do something else.
    std::function<void(int signal)> OnTerminationSignal;
    void CloseWindowsAsUser();

    // Called for every exception that an event handler lets escape; the
    // default shows it. Replace to log or count instead.
    std::function<void(std::exception_ptr)> OnException;

    bool notify(QObject* receiver, QEvent* event) override;

private:
    void RegisterForm(QWidget* form);
    friend void ShowException(std::exception_ptr error);
    void ReportedWithoutScreen();

    QWidget* FMainForm = nullptr;
    bool FInteractive = true;
    bool FFailed = false;
    TTerminationSignals* FSignals = nullptr; // a child of the application
};

TApplication* Application();
