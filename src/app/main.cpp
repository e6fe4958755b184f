#include "Application.h"
#include "UPwd.h"

#include <QCommandLineParser>

int main(int argc, char* argv[])
{
    TApplication application(argc, argv);
    application.Initialize();
    // The program takes no arguments; --help says so and what it does,
    // rather than running the setup.
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Sets up the certificate directory: imports the root certificates and CRLs it carries "
                       "into the VCERT store \"My\" ($VCERT_STORE_DIR/My or ~/.local/share/vcert/My)."));
    parser.addHelpOption();
    parser.process(application);
    if (!parser.positionalArguments().isEmpty())
        parser.showHelp(2);
    Form1 = application.CreateForm<TForm1>();
    return application.Run();
}
