// sdsbrowse DATABASE [TABLE] [--screenshot FILE]
// Browses the tables of a Firebird database (a file for the embedded engine,
// or host:path) in the framework's data set and grid. With --screenshot the
// window is saved as a PNG image once shown and the program ends. Without a
// screen (the offscreen platform) or with --screenshot, errors go to standard
// error and the exit code is 1.
#include "Application.h"
#include "BrowseForm.h"
#include "CommonInterfaceRes.h"
#include "DBGridEx.h"
#include "SDatabase.h"

#include <QCommandLineParser>
#include <QTimer>
#include <cstdio>

int main(int argc, char** argv)
{
    TApplication application(argc, argv);
    application.SetTitle(QStringLiteral("Sdsbrowse"));
    // The framework's action catalogue, freed before the application goes.
    TCommonInterfaceScope commonInterface;
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Browses the tables of a Firebird database."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("DATABASE"), QStringLiteral("a database file, or host:path"));
    parser.addPositionalArgument(QStringLiteral("TABLE"),
                                 QStringLiteral("the table to open first; \"Quoted\" keeps its case"),
                                 QStringLiteral("[TABLE]"));
    const QCommandLineOption screenshot(QStringLiteral("screenshot"),
                                        QStringLiteral("save the window as a PNG image and quit"),
                                        QStringLiteral("FILE"));
    parser.addOption(screenshot);
    parser.process(application);
    const QStringList arguments = parser.positionalArguments();
    if (arguments.isEmpty() || arguments.size() > 2)
        parser.showHelp(2);
    // A picture is all such a run leaves: nobody answers its questions.
    if (parser.isSet(screenshot))
        application.SetInteractive(false);

    TSDatabase database;
    database.SetDatabaseName(arguments[0]);
    QStringList params{QStringLiteral("user_name=") + qEnvironmentVariable("ISC_USER", QStringLiteral("SYSDBA")),
                       QStringLiteral("lc_ctype=UTF8")};
    if (qEnvironmentVariableIsSet("ISC_PASSWORD"))
        params << QStringLiteral("password=") + qEnvironmentVariable("ISC_PASSWORD");
    database.SetParams(params);
    // Any Firebird database: the framework's users and list kinds where it has them.
    database.SetFrameworkTablesRequired(false);

    std::unique_ptr<TBrowseForm> form;
    HandleExceptions([&] {
        database.Open();
        form = std::make_unique<TBrowseForm>(database);
        const QString first = arguments.size() > 1 ? form->RelationNamed(arguments[1]) : form->Relations().value(0);
        if (!first.isEmpty())
            form->OpenTable(first);
    });
    if (!form || application.Failed())
        return 1;
    form->show();
    if (parser.isSet(screenshot)) {
        const QString file = parser.value(screenshot);
        // The view lays itself out for the fitted widths (its scroll bars)
        // on a timer of its own first.
        QTimer::singleShot(300, [&] {
            const bool saved = form->grab().save(file);
            if (!saved)
                std::fprintf(stderr, "sdsbrowse: cannot write %s\n", qPrintable(file));
            application.exit(saved ? 0 : 1);
        });
    }
    return application.Run();
}
