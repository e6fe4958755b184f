// Form activation and posted messages.
#include "Forms.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <QtTest/QTest>
#include <gtest/gtest.h>

namespace {

class TCountingForm : public TForm
{
public:
    TCountingForm()
    {
        OnActivate = [this](QObject*) { ++Activations; };
    }
    int Activations = 0;
    std::vector<TMessage> Received;

protected:
    void WndProc(TMessage& message) override { Received.push_back(message); }
};

bool WaitActive(QWidget& form)
{
    return QTest::qWaitFor([&] { return QApplication::activeWindow() == &form; }, 2000);
}

TEST(Forms, ActivationCountsOnlyChangesOfTheActiveForm)
{
    TCountingForm first;
    first.show();
    ASSERT_TRUE(WaitActive(first));
    QApplication::processEvents();
    EXPECT_EQ(first.Activations, 1);
    EXPECT_EQ(TForm::ActiveForm(), &first);

    // A message box of the form's own takes the focus and gives it back.
    QTimer::singleShot(50, [] {
        if (QWidget* box = QApplication::activeModalWidget())
            box->close();
    });
    QMessageBox::information(&first, QStringLiteral("Информация"), QStringLiteral("Готово"));
    first.activateWindow();
    ASSERT_TRUE(WaitActive(first));
    QApplication::processEvents();
    EXPECT_EQ(first.Activations, 1);

    // Another form in between does make the first one active again.
    TCountingForm second;
    second.show();
    ASSERT_TRUE(WaitActive(second));
    EXPECT_EQ(second.Activations, 1);
    first.activateWindow();
    ASSERT_TRUE(WaitActive(first));
    QApplication::processEvents();
    EXPECT_EQ(first.Activations, 2);
}

TEST(Forms, PostedMessagesArriveFromTheEventLoopInOrder)
{
    TCountingForm form;
    PostMessage(&form, WM_USER, 1, 2);
    PostMessage(&form, WM_USER + 51);
    EXPECT_TRUE(form.Received.empty()) << "posting must not deliver at once";
    QApplication::processEvents();
    ASSERT_EQ(form.Received.size(), 2u);
    EXPECT_EQ(form.Received[0].Msg, WM_USER);
    EXPECT_EQ(form.Received[0].WParam, 1);
    EXPECT_EQ(form.Received[0].LParam, 2);
    EXPECT_EQ(form.Received[1].Msg, WM_USER + 51);
}

TEST(Forms, DialogFrameKeepsTheClientSize)
{
    TCountingForm form;
    form.SetClientSize(363, 60);
    form.SetBorderStyle(bsDialog);
    EXPECT_EQ(form.size(), QSize(363, 60));
    EXPECT_EQ(form.minimumSize(), form.maximumSize());
    EXPECT_FALSE(form.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(form.windowFlags() & Qt::WindowCloseButtonHint);
}

} // namespace
