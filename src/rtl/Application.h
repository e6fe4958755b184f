// The application object: the error display that every
// exception reaching the event loop ends in.
#pragma once

#include "ApplicationTitle.h"

#include <QApplication>
#include <QString>
#include <exception>
#include <functional>

class QWidget;

// The text the error display shows for a message: a full stop is appended
// when the last character sorts after ".".
QString ErrorDisplayText(const QString& message);

// Shows an exception in the error display: a message box with the message,
// captioned with the application title, stop icon, one OK. EAbort shows nothing.
void ShowException(std::exception_ptr error);
// Runs fn and shows whatever it throws; for entries the event loop does not wrap.
void HandleExceptions(const std::function<void()>& fn);

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
    int Run();

    // Called for every exception that an event handler lets escape; the
    // default shows it. Replace to log or count instead.
    std::function<void(std::exception_ptr)> OnException;

    bool notify(QObject* receiver, QEvent* event) override;

private:
    void RegisterForm(QWidget* form);

    QWidget* FMainForm = nullptr;
};

TApplication* Application();
