// Test entry for code that needs the application object: a TApplication on
// the offscreen platform unless a display is asked for explicitly.
#include "Application.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    TApplication application(argc, argv);
    // The tests answer the boxes themselves (scripted, or closing real ones).
    application.SetInteractive(true);
    return RUN_ALL_TESTS();
}
