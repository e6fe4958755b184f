// catalogue [DATABASE] [--user USER] [--screenshot FILE] [--script]
// The goods catalogue: groups and items, documents and their lines, for one
// user on the embedded engine or for several through a Firebird server.
// Without DATABASE it opens the user's own sample database, made at the
// first start. A user of SYS_USER signs in (by name or number with --user).
// --screenshot saves the main window as a PNG once shown and quits;
// --script takes commands from standard input (ScriptMode.h). Without a
// screen, with --screenshot or --script, errors go to standard error and
// the exit code is 1.
#include "Application.h"
#include "CatalogueDatabase.h"
#include "CommonInterfaceRes.h"
#include "FrameworkForms.h"
#include "MainForm.h"
#include "SDatabase.h"
#include "SDatabaseSession.h"
#include "ScriptMode.h"
#include "SignInDialog.h"

#include <QCommandLineParser>
#include <QTimer>
#include <cstdio>

namespace {

// How often the listener asks the server for other users' changes.
constexpr std::chrono::milliseconds NoticeInterval{300};

TCatalogueUser SignIn(TSDatabase& database, const QString& given, bool interactive)
{
    if (!given.isEmpty())
        return UserNamed(database, given);
    if (!interactive)
        throw Exception(QStringLiteral("Без экрана пользователь задаётся ключом --user"));
    TSignInDialog dialog(CatalogueUsers(database));
    if (dialog.exec() != QDialog::Accepted)
        throw EAbort();
    return dialog.Chosen();
}

} // namespace

int main(int argc, char** argv)
{
    TApplication application(argc, argv);
    application.SetTitle(QStringLiteral("Каталог товаров"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("The goods catalogue on the data-entry framework."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("DATABASE"),
                                 QStringLiteral("a database file, or host:path (default: %1, made when missing)")
                                     .arg(Catalogue::DefaultDatabaseName()),
                                 QStringLiteral("[DATABASE]"));
    const QCommandLineOption userOption(QStringLiteral("user"), QStringLiteral("the user's name or number"),
                                        QStringLiteral("USER"));
    const QCommandLineOption screenshot(QStringLiteral("screenshot"),
                                        QStringLiteral("save the main window as a PNG image and quit"),
                                        QStringLiteral("FILE"));
    const QCommandLineOption script(QStringLiteral("script"),
                                    QStringLiteral("take commands from standard input, answer on standard output"));
    parser.addOptions({userOption, screenshot, script});
    parser.process(application);
    if (parser.positionalArguments().size() > 1)
        parser.showHelp(2);
    // The framework's action catalogue and forms, freed before the application goes.
    TCommonInterfaceScope commonInterface;
    InstallFrameworkForms();

    // Nobody answers the questions of a picture or a script.
    const bool scripted = parser.isSet(script);
    if (parser.isSet(screenshot) || scripted)
        application.SetInteractive(false);
    Catalogue::PrepareEngine();
    const QString name = parser.positionalArguments().value(0, Catalogue::DefaultDatabaseName());
    std::unique_ptr<TSDatabase> database;
    std::unique_ptr<TCatalogueForm> form;
    HandleExceptions([&] {
        if (Catalogue::CreateWhenMissing(name))
            std::fprintf(stderr, "catalogue: made the sample database %s\n", qPrintable(name));
        database = Catalogue::Connect(name);
        const TCatalogueUser user = SignIn(*database, parser.value(userOption), application.Interactive());
        // The session: record locks between users, audit, change notices.
        database->SetCurrentUserID(user.ID);
        database->Session()->Register(user.ID);
        database->Session()->StartListening(NoticeInterval);
        form = std::make_unique<TCatalogueForm>(*database, user);
    });
    if (!form || application.Failed())
        return 1;
    form->show();

    std::unique_ptr<TScriptMode> driver;
    if (scripted) {
        // From here on the script answers the questions; errors of the
        // start went to standard error.
        auto backend = std::make_unique<TScriptDialogs>();
        driver = std::make_unique<TScriptMode>(*form, *backend);
        SetDialogBackend(std::move(backend));
        std::printf("ready user=%d %s\n", form->User().ID, form->User().Name.toUtf8().constData());
        std::fflush(stdout);
    }
    if (parser.isSet(screenshot)) {
        const QString file = parser.value(screenshot);
        QTimer::singleShot(300, form.get(), [&] {
            const bool saved = form->grab().save(file);
            if (!saved)
                std::fprintf(stderr, "catalogue: cannot write %s\n", qPrintable(file));
            application.exit(saved ? 0 : 1);
        });
    }
    const int result = application.Run();
    driver.reset();
    form.reset();
    return result;
}
