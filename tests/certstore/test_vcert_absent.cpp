// The binding when "VPKI1.DLL" is nowhere to be found.
#include "VcertTestLib.h"
#include "Vcerterr.h"
#include "uVCertMgr.h"
#include "vcert1.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace {

const QString LibDir = QStringLiteral(VCERT_LIB_DIR);
const QString Placed = LibDir + QStringLiteral("/VPKI1.DLL");

TEST(VCertBindingAbsent, FailsOnceAndNeverTriesAgain)
{
    QFile::remove(Placed);
    const int32_t handleBefore = 42;
    int32_t handle = handleBefore;
    EXPECT_EQ(VCERT_Initialize("My", 1, &handle), VCERT_LIB_NOT_LOADED);
    EXPECT_EQ(handle, handleBefore);
    EXPECT_EQ(VCertLibStatus(), VCERT_LIB_NOT_LOADED);
    EXPECT_TRUE(VCertLoadError().contains(QStringLiteral("VPKI1.DLL")));
    for (int i = 0; i < VCertProcCount; ++i)
        EXPECT_EQ(VCertProc(TDLLProcs(i)), nullptr);

    // Once the library is there, a new attempt would succeed: none is made.
    ASSERT_TRUE(QFile::copy(QStringLiteral(VCERT_FIXTURE_DIR "/recording/VPKI1.DLL"), Placed));
    EXPECT_EQ(VCertLibStatus(), VCERT_LIB_NOT_LOADED);
    EXPECT_EQ(VCERT_ImportMem(7, nullptr, nullptr), VCERT_LIB_NOT_LOADED);
    EXPECT_EQ(VCertErrorText(5), QStringLiteral("Неизвестная ошибка"));
    EXPECT_EQ(vcerttest::Entry<void*>("RecTest_Log"), nullptr) << "the library must not be loaded";
    QFile::remove(Placed);
}

TEST(VCertBindingAbsent, MessageNamesTheLibraryAndTheSystemText)
{
    ASSERT_EQ(VCertLibStatus(), VCERT_LIB_NOT_LOADED);
    const QString text = VCertErrorText(VCERT_LIB_NOT_LOADED);
    const QString prefix = QStringLiteral("Не найдена библиотека VPKI1.DLL или один из ее компонентов: ");
    ASSERT_TRUE(text.startsWith(prefix)) << text.toStdString();
    const QString system = text.mid(prefix.size());
    EXPECT_TRUE(system.contains(QStringLiteral("No such file or directory"))) << text.toStdString();
    EXPECT_FALSE(system.endsWith(QLatin1Char('.')) || system.endsWith(QLatin1Char(' '))
                 || system.endsWith(QLatin1Char('\n')));
}

TEST(VCertBindingAbsent, ManagerCreationRaisesTheLibraryMessage)
{
    try {
        TVCertMgr manager(QStringLiteral("My"));
        FAIL() << "creation must fail";
    } catch (const VCERT_Error& e) {
        EXPECT_EQ(e.Code, VCERT_LIB_NOT_LOADED);
        EXPECT_EQ(e.Message(), VCertErrorText(VCERT_LIB_NOT_LOADED));
    }
}

} // namespace
