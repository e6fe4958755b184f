// The binding when "VPKI1.DLL" lacks one function of the table (the last).
#include "VcertTestLib.h"
#include "Vcerterr.h"
#include "uVCertMgr.h"
#include "vcert1.h"

#include <gtest/gtest.h>

namespace {

TEST(VCertBindingMissing, StatusIsMinusTwoAndNamesTheFunction)
{
    int32_t handle = 0;
    EXPECT_EQ(VCERT_Initialize("My", 1, &handle), VCERT_FUNCTION_MISSING);
    EXPECT_EQ(VCertLibStatus(), VCERT_FUNCTION_MISSING);
    EXPECT_EQ(VCertMissingFunction(), QStringLiteral("VCERT_AttachSignFile"));
    EXPECT_EQ(VCertErrorText(VCERT_FUNCTION_MISSING),
              QStringLiteral("В библиотеке VPKI1.DLL отсутствует функция VCERT_AttachSignFile"));
    EXPECT_TRUE(VCertLoadError().isEmpty());
}

TEST(VCertBindingMissing, EntriesBeforeTheMissingOneAreResolvedButNeverCalled)
{
    ASSERT_EQ(VCertLibStatus(), VCERT_FUNCTION_MISSING);
    for (int i = 0; i < fnAttachSignFile; ++i)
        EXPECT_NE(VCertProc(TDLLProcs(i)), nullptr) << VCertProcName(TDLLProcs(i)).toStdString();
    EXPECT_EQ(VCertProc(fnAttachSignFile), nullptr);

    vcerttest::TakeLog();
    int32_t handle = 0;
    VCERT_Initialize("My", 1, &handle);
    VCERT_ImportMem(1, nullptr, nullptr);
    VCERT_Uninitialize(1);
    EXPECT_EQ(VCertErrorText(77), QStringLiteral("Неизвестная ошибка"));
    EXPECT_TRUE(vcerttest::TakeLog().isEmpty()) << "no call may reach an unusable library";
}

TEST(VCertBindingMissing, ManagerCreationRaisesWithMinusTwo)
{
    try {
        TVCertMgr manager(QString{});
        FAIL() << "creation must fail";
    } catch (const VCERT_Error& e) {
        EXPECT_EQ(e.Code, VCERT_FUNCTION_MISSING);
        EXPECT_EQ(e.Message(), QStringLiteral("В библиотеке VPKI1.DLL отсутствует функция VCERT_AttachSignFile"));
    }
}

TEST(VCertBindingMissing, ProcNamesFollowTheTable)
{
    EXPECT_EQ(VCertProcName(fnAddCRL), QStringLiteral("VCERT_AddCRL"));
    EXPECT_EQ(VCertProcName(fnInitialize), QStringLiteral("VCERT_Initialize"));
    EXPECT_EQ(VCertProcName(fnUpdateCRLs), QStringLiteral("VCERT_UpdateCRLs"));
    EXPECT_EQ(int(fnVerifyMem) + 1, int(fnUpdateCRLs));
    EXPECT_EQ(int(fnImportMem), 43);
}

} // namespace
