// Without a graphical application there is no clipboard to open.
#include "RusClipboard.h"

#include "Exceptions.h"

#include <QCoreApplication>
#include <functional>
#include <gtest/gtest.h>

namespace {

TEST(RusClipboardWithoutGui, OpeningIsRefused)
{
    int argc = 0;
    QCoreApplication application(argc, nullptr);
    TRusClipboard clipboard;
    for (const auto& use : std::initializer_list<std::function<void()>>{
             [&] { clipboard.Open(); },
             [&] { clipboard.SetAsText(QStringLiteral("текст")); },
             [&] { (void)clipboard.AsText(); },
         }) {
        try {
            use();
            ADD_FAILURE() << "no exception";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), QStringLiteral("Не могу открыть буфер обмена"));
        }
    }
    EXPECT_NO_THROW(clipboard.SetLocale(1049));
}

} // namespace
