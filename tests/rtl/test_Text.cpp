#include "Text.h"

#include <gtest/gtest.h>

namespace {

TEST(Text, CodePages)
{
    const QString russian = QStringLiteral("Настройка произведена !");
    const QByteArray ansi = StringToAnsi(russian);
    EXPECT_EQ(ansi.size(), russian.size());
    EXPECT_EQ(static_cast<unsigned char>(ansi[0]), 0xCD); // Н in CP1251
    EXPECT_EQ(AnsiToString(ansi), russian);

    const QByteArray oem = StringToOem(russian);
    EXPECT_EQ(static_cast<unsigned char>(oem[0]), 0x8D); // Н in CP866
    EXPECT_EQ(OemToString(oem), russian);
    EXPECT_EQ(OemToString(QByteArray("\x8D\xA5\xE2.cer")), QStringLiteral("Нет.cer"));

    // What the code page lacks becomes its default character.
    EXPECT_EQ(StringToAnsi(QStringLiteral("a中b")), QByteArray("a?b"));
    EXPECT_EQ(StringToAnsi(QStringLiteral("\x1a中")), QByteArray("\x1a?")) << "a real SUB stays";
}

TEST(Text, Trimming)
{
    EXPECT_EQ(Trim(QStringLiteral(" \t\r\n текст \x01")), QStringLiteral("текст"));
    EXPECT_EQ(Trim(QByteArray(" \x1f abc \r\n")), QByteArray("abc"));
    EXPECT_EQ(Trim(QStringLiteral("   ")), QString());
    EXPECT_EQ(TrimSystemMessage(QStringLiteral("No such file or directory.\r\n ")),
              QStringLiteral("No such file or directory"));
    EXPECT_EQ(TrimSystemMessage(QStringLiteral("v1.2 ...")), QStringLiteral("v1.2"));
}

} // namespace
