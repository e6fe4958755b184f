// Opens the windows named on its command line on the X display, as
// "shown:TITLE" or "hidden:TITLE" (created but never mapped), prints the id of
// each shown one in order, one a line, once they are all mapped, and stays
// until it is killed.
#include <QGuiApplication>
#include <QWindow>

#include <cstdio>
#include <memory>
#include <vector>

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    std::vector<std::unique_ptr<QWindow>> windows;
    std::vector<QWindow*> shown;
    for (const QString& argument : app.arguments().mid(1)) {
        const qsizetype colon = argument.indexOf(u':');
        auto window = std::make_unique<QWindow>();
        window->setTitle(argument.mid(colon + 1));
        window->resize(120, 80);
        if (argument.left(colon) == QLatin1String("shown")) {
            window->show();
            shown.push_back(window.get());
        } else {
            window->create();
        }
        windows.push_back(std::move(window));
    }
    // Mapping is asynchronous: report once the server has seen every request.
    app.processEvents();
    app.sync();
    for (QWindow* window : shown)
        std::printf("%llu\n", static_cast<unsigned long long>(window->winId()));
    std::fflush(stdout);
    return app.exec();
}
