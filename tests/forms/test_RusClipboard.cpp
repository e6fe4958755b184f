// The clipboard with locale over the offscreen platform's clipboard.
#include "RusClipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <gtest/gtest.h>

namespace {

constexpr uint32_t Russian = 1049;
const QString Text = QStringLiteral("Сумма: 1 250,00 руб. (ёЁ)");

// Copy as the copy service does it: the locale before and after the text.
void Copy(TRusClipboard& clipboard, const QString& text)
{
    clipboard.Open();
    clipboard.SetLocale(Russian);
    clipboard.SetAsText(text);
    clipboard.SetLocale(Russian);
    clipboard.Close();
}

TEST(RusClipboard, CyrillicTextTravelsWithItsLocale)
{
    TRusClipboard copy;
    Copy(copy, Text);

    // What another program sees.
    const QMimeData* system = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(system, nullptr);
    EXPECT_EQ(system->text(), Text);
    EXPECT_EQ(system->data(TRusClipboard::LocaleFormat), QByteArray("\x19\x04\0\0", 4));

    // And what the paste service reads back.
    TRusClipboard paste;
    paste.Open();
    paste.SetLocale(Russian);
    EXPECT_EQ(paste.AsText(), Text);
    EXPECT_EQ(paste.Locale(), Russian);
    paste.SetLocale(Russian);
    paste.Close();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), Text) << "reading changes nothing";
}

TEST(RusClipboard, LocaleDoesNotEmptyAndIsWipedByTheFirstWrite)
{
    TRusClipboard clipboard;
    Copy(clipboard, QStringLiteral("первый"));

    // A locale set before the first write of a session goes with the
    // emptying; the one set after the text stays with it.
    clipboard.Open();
    clipboard.SetLocale(0x0409);
    clipboard.SetAsText(QStringLiteral("второй"));
    clipboard.Close();
    EXPECT_EQ(clipboard.AsText(), QStringLiteral("второй"));
    EXPECT_EQ(clipboard.Locale(), 0u);

    clipboard.Open();
    clipboard.SetAsText(QStringLiteral("третий"));
    clipboard.SetLocale(Russian);
    EXPECT_EQ(clipboard.AsText(), QStringLiteral("третий")) << "the locale did not empty the text";
    clipboard.Close();
    EXPECT_EQ(clipboard.Locale(), Russian);
}

TEST(RusClipboard, SetLocaleOnAClosedClipboardIsSilent)
{
    TRusClipboard clipboard;
    Copy(clipboard, QStringLiteral("текст"));
    EXPECT_NO_THROW(clipboard.SetLocale(0x0409));
    EXPECT_EQ(clipboard.Locale(), Russian);
    EXPECT_EQ(clipboard.AsText(), QStringLiteral("текст"));
}

TEST(RusClipboard, OpeningIsCountedAndTheLastCloseHandsTheDataOver)
{
    QGuiApplication::clipboard()->setText(QStringLiteral("прежний"));
    TRusClipboard clipboard;
    clipboard.Open();
    clipboard.Open();
    clipboard.SetAsText(QStringLiteral("новый"));
    clipboard.SetLocale(Russian);
    clipboard.Close();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("прежний")) << "still open once";
    clipboard.Close();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("новый"));
    clipboard.Close(); // one too many does no harm
    EXPECT_EQ(clipboard.Locale(), Russian);

    // A session left open still hands its data over.
    {
        TRusClipboard forgotten;
        forgotten.Open();
        forgotten.SetAsText(QStringLiteral("незакрытый"));
    }
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("незакрытый"));

    clipboard.Clear();
    EXPECT_EQ(clipboard.AsText(), QString());
    EXPECT_FALSE(clipboard.HasFormat(TRusClipboard::LocaleFormat));
}

} // namespace
