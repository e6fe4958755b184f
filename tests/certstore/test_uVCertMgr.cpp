// The certificate manager against the recording test library: what it asks
// the library, in which order, and what it makes of the answers.
#include "Text.h"
#include "VcertTestLib.h"
#include "Vcerterr.h"
#include "uVCertMgr.h"
#include "vcert1.h"

#include <QDateTime>
#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>

namespace {

using vcerttest::TakeLog;

class VCertMgrTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(VCertLibStatus(), 0) << VCertErrorText(VCertLibStatus()).toStdString();
        vcerttest::Reset();
    }
};

// A time zone for the length of a test.
class TTimeZoneGuard
{
public:
    explicit TTimeZoneGuard(const char* tz)
    {
        if (const char* old = std::getenv("TZ"))
            FOld = old;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~TTimeZoneGuard()
    {
        if (FOld.empty())
            unsetenv("TZ");
        else
            setenv("TZ", FOld.c_str(), 1);
        tzset();
    }

private:
    std::string FOld;
};

TEST_F(VCertMgrTest, CreationOpensReadsAndFreesThenDestructionCloses)
{
    {
        TVCertMgr manager(QStringLiteral("My"));
        EXPECT_EQ(manager.StoreHandle(), 7);
        EXPECT_EQ(TakeLog(), QStringList({"Initialize(4d79,1)", "FindCert(7,1,524287,0,0)", "FreeFindResult(7,1)"}));
        ASSERT_NE(manager.List1(), nullptr);
        EXPECT_EQ(manager.List1()->Count(), 0);
        ASSERT_NE(manager.List2(), nullptr);
    }
    EXPECT_EQ(TakeLog(), QStringList({"Uninitialize(7)"}));
}

TEST_F(VCertMgrTest, StoreNameRules)
{
    const struct
    {
        QString name;
        const char* passed; // hex of the bytes the library receives
    } cases[] = {
        {QString(), "4d79"},
        {QStringLiteral(" \t\r\n "), "4d79"},
        {QStringLiteral(" Root "), "20526f6f7420"},
        {QStringLiteral("Хран"), "d5f0e0ed"}, // CP1251
    };
    for (const auto& c : cases) {
        {
            TVCertMgr manager(c.name);
        }
        const QStringList log = TakeLog();
        ASSERT_FALSE(log.isEmpty());
        EXPECT_EQ(log.first(), QStringLiteral("Initialize(%1,1)").arg(QLatin1String(c.passed))) << c.name.toStdString();
    }
}

TEST_F(VCertMgrTest, DescriptionIsReadAndDecoded)
{
    TTimeZoneGuard zone("MSK-3");
    TVCertMgr manager(QStringLiteral("My"));
    EXPECT_EQ(manager.Text1, QStringLiteral("0A1B"));
    EXPECT_EQ(manager.Text2, QStringLiteral("CN=Тест"));
    EXPECT_EQ(manager.Text3, QStringLiteral("CN=И"));
    EXPECT_EQ(manager.Text4, QStringLiteral("fingerprint"));
    // 2000-01-01 00:00:00 UTC is 03:00 in Moscow; a second later is the same FAT time.
    EXPECT_DOUBLE_EQ(manager.Period1From, EncodeDate(2000, 1, 1) + EncodeTime(3, 0, 0, 0));
    EXPECT_DOUBLE_EQ(manager.Period1To, manager.Period1From);
    EXPECT_EQ(manager.Period2From, 0.0) << "1970 lies before the FAT range";
    EXPECT_NEAR(manager.Period2To, EncodeDate(2100, 1, 1) + EncodeTime(2, 59, 58, 0), 1e-9);
}

TEST_F(VCertMgrTest, EmptyStoreLeavesTheDescriptionEmpty)
{
    vcerttest::Set("FindCert.count", 0);
    TVCertMgr manager(QStringLiteral("My"));
    EXPECT_EQ(TakeLog().last(), QStringLiteral("FreeFindResult(7,0)"));
    EXPECT_TRUE(manager.Text1.isEmpty() && manager.Text2.isEmpty() && manager.Text3.isEmpty()
                && manager.Text4.isEmpty());
    EXPECT_EQ(manager.Period1From, 0.0);
    EXPECT_EQ(manager.Period2To, 0.0);
}

TEST_F(VCertMgrTest, FailedSearchStillFreesAndClosesTheStore)
{
    vcerttest::Set("FindCert.status", 77);
    try {
        TVCertMgr manager(QStringLiteral("My"));
        FAIL() << "creation must fail";
    } catch (const VCERT_Error& e) {
        EXPECT_EQ(e.Code, 77);
        EXPECT_EQ(e.Message(), QStringLiteral("Ошибка 77"));
    }
    EXPECT_EQ(TakeLog(), QStringList({"Initialize(4d79,1)", "FindCert(7,1,524287,0,0)", "GetErrorText(77,1024)",
                                      "FreeFindResult(7,1)", "Uninitialize(7)"}));
}

TEST_F(VCertMgrTest, FailedOpenClosesNothing)
{
    vcerttest::Set("Initialize.status", 9);
    EXPECT_THROW(TVCertMgr(QStringLiteral("My")), VCERT_Error);
    EXPECT_EQ(TakeLog(), QStringList({"Initialize(4d79,1)", "GetErrorText(9,1024)"}));
}

TEST_F(VCertMgrTest, ImportsPassKindAndBytesUnchanged)
{
    TVCertMgr manager(QStringLiteral("My"));
    TakeLog();
    manager.ImportCertificate(QByteArray("\x30\x82\x00", 3));
    manager.ImportCRL(QByteArray("abc"));
    manager.ImportCRL(QByteArray());
    EXPECT_EQ(TakeLog(), QStringList({"ImportMem(7,2,0,308200)", "ImportMem(7,4,0,616263)", "ImportMem(7,4,0,)"}));
}

TEST_F(VCertMgrTest, RefusedImportRaisesAndLeavesTheManagerUsable)
{
    TVCertMgr manager(QStringLiteral("My"));
    try {
        manager.ImportCertificate(QByteArray("\xEE\x01", 2));
        FAIL() << "the library refuses contents starting with 0xEE";
    } catch (const VCERT_Error& e) {
        EXPECT_EQ(e.Code, 4);
    }
    EXPECT_NO_THROW(manager.ImportCertificate(QByteArray("\x30", 1)));
}

TEST_F(VCertMgrTest, CheckTurnsStatusesIntoExceptions)
{
    EXPECT_NO_THROW(TVCertMgr::Check(0));
    for (int32_t code : {VCERT_LIB_NOT_LOADED, VCERT_FUNCTION_MISSING, 77, 123456}) {
        try {
            TVCertMgr::Check(code);
            FAIL() << code;
        } catch (const VCERT_Error& e) {
            EXPECT_EQ(e.Code, code);
            EXPECT_EQ(e.Message(), VCertErrorText(code));
        }
    }
    // The binding's codes are its own whatever the library says; -1 without a load error has no suffix.
    EXPECT_EQ(VCertErrorText(VCERT_LIB_NOT_LOADED),
              QStringLiteral("Не найдена библиотека VPKI1.DLL или один из ее компонентов"));
    EXPECT_EQ(VCertErrorText(77), QStringLiteral("Ошибка 77"));
    EXPECT_EQ(VCertErrorText(5), QString()) << "the library's empty text stays empty";
}

TEST_F(VCertMgrTest, CompanionLibrariesAbsentLeaveEntryPointsEmpty)
{
    TVCertMgr manager(QStringLiteral("My"));
    const TVCertMgr::TCompanionProcs& procs = manager.CompanionProcs();
    const void* const* first = &procs.InitKey;
    for (size_t i = 0; i < sizeof procs / sizeof(void*); ++i)
        EXPECT_EQ(first[i], nullptr) << i;
}

TEST(EscapeDecoding, Cases)
{
    const struct
    {
        QByteArray text;
        QString expected;
    } cases[] = {
        {"CN=\\xd0\\x98", QStringLiteral("CN=И")},
        {"\\x41\\x42", QStringLiteral("AB")},
        {"\\x41\\x00\\x42", QStringLiteral("AB")}, // 00 contributes nothing
        {"\\xzz\\x42", QStringLiteral("B")},       // not hexadecimal: skipped
        {"\\x4", QString(QChar(4))},               // one digit where the text ends
        {"\\xd0", QString()},                      // incomplete sequence
        {"\\xd0\\x41", QString()},                 // wrong continuation byte
        {"\\x41\\X42", QStringLiteral("A\\X42")},  // only a lower-case x escapes
        {"\\x41\\", QStringLiteral("A\\")},
        {"O=\\xe4\\xb8\\xad", QStringLiteral("O=?")}, // not in the ANSI code page
        {"plain", QStringLiteral("plain")},
        {"\xD2\xE5\xF1\xF2", QStringLiteral("Тест")}, // no escape: ANSI unchanged
    };
    for (const auto& c : cases)
        EXPECT_EQ(DecodeEscapedText(c.text), c.expected) << c.text.toStdString();
    // Without an escape the bytes come back as they are, even UTF-8 ones.
    const QByteArray utf8 = QStringLiteral("И").toUtf8();
    EXPECT_EQ(DecodeEscapedText(utf8), AnsiToString(utf8));
}

TEST(CertTime, FatResolutionAndTimeZoneBias)
{
    const struct
    {
        const char* zone;
        uint32_t seconds;
        TDateTime expected;
    } cases[] = {
        {"UTC0", 946684800, EncodeDate(2000, 1, 1)},
        {"UTC0", 946684801, EncodeDate(2000, 1, 1)},
        {"UTC0", 946684803, EncodeDate(2000, 1, 1) + EncodeTime(0, 0, 2, 0)},
        {"MSK-3", 946684800, EncodeDate(2000, 1, 1) + EncodeTime(3, 0, 0, 0)},
        {"EST5", 946684800, EncodeDate(1999, 12, 31) + EncodeTime(19, 0, 0, 0)},
        {"UTC0", 315532799, 0}, // 1979-12-31 23:59:59
        {"UTC0", 315532800, EncodeDate(1980, 1, 1)},
        {"UTC0", 0xFFFFFFFFu, EncodeDate(2106, 2, 7) + EncodeTime(6, 28, 14, 0)},
    };
    for (const auto& c : cases) {
        TTimeZoneGuard zone(c.zone);
        EXPECT_NEAR(CertTimeToDateTime(c.seconds), c.expected, 1e-9) << c.zone << " " << c.seconds;
    }
}

} // namespace
