// The dialog facade in a process without a GUI (it links the runtime's core
// alone): no question blocks, each takes its cautious answer.
#include "Dialogs.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

TEST(HeadlessDialogs, QuestionsTakeTheirEscapeAnswerAndInputIsCancelled)
{
    int argc = 1;
    char name[] = "test_rtl_headless";
    char* argv[] = {name, nullptr};
    QCoreApplication application(argc, argv);

    struct Case
    {
        TMsgDlgButtons Buttons;
        TModalResult Answer;
    };
    const Case cases[] = {
        {{mbOK}, mrOk},
        {mbYesNo, mrNo},
        {mbYesNoCancel, mrCancel},
        {mbOKCancel, mrCancel},
        {{mbAbort, mbRetry, mbIgnore}, mrAbort},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MessageDlg(QStringLiteral("Удалить?"), mtConfirmation, c.Buttons), c.Answer);
    ShowMessage(QStringLiteral("Готово"));

    QString value = QStringLiteral("old");
    EXPECT_FALSE(InputQuery(QStringLiteral("Поиск"), QStringLiteral("Текст"), value));
    EXPECT_EQ(value, QStringLiteral("old"));
    Beep();
}
