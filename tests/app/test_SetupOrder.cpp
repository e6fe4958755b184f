// The setup run against the recording test library: which objects are
// offered to the store, in which order, and when the store is closed.
#include "Dialogs.h"
#include "Exceptions.h"
#include "SetupRunFixture.h"
#include "UPwd.h"
#include "VcertTestLib.h"

#include <gtest/gtest.h>

namespace {

using vcerttest::TakeLog;

// Notes the calls the library had seen when each message was shown.
class TLogAtMessage : public TScriptedDialogs
{
public:
    std::vector<QStringList> Logs;
    TModalResult ShowMessageBox(const TMessageRequest& request) override
    {
        Logs.push_back(TakeLog());
        return TScriptedDialogs::ShowMessageBox(request);
    }
};

class SetupOrderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        auto dialogs = std::make_unique<TLogAtMessage>();
        FDialogs = dialogs.get();
        FPrevious = SetDialogBackend(std::move(dialogs));
    }
    void TearDown() override { SetDialogBackend(std::move(FPrevious)); }

    TLogAtMessage* FDialogs = nullptr;
    std::unique_ptr<TDialogBackend> FPrevious;
};

TEST_F(SetupOrderTest, CertificatesThenCrlsThreeTimesOverAndTheStoreClosedFirst)
{
    const QByteArray bundle = setuptest::Bundle({
        {QStringLiteral("a.cer"), "\x30\x01"},
        {QStringLiteral("b.crl"), "\x30\x02"},
        {QStringLiteral("C.CER"), "\x30\x03"},
        {QStringLiteral("refused.cer"), "\xEE\x04"}, // the library refuses it
        {QStringLiteral("d.cer.bak"), "\x30\x05"},
        {QStringLiteral("noext"), "\x30\x06"},
        {QStringLiteral("sub/e.Crl"), "\x30\x07"},
        {QStringLiteral("f.cer"), "\x30\x08"},
    });
    RunCertificateSetup([&] { return bundle; });

    const QStringList pass = {
        "ImportMem(7,2,0,3001)", "ImportMem(7,2,0,3003)", "ImportMem(7,2,0,ee04)",
        "GetErrorText(4,1024)", // the refusal's text goes into the exception that is dropped
        "ImportMem(7,2,0,3008)", "ImportMem(7,4,0,3002)", "ImportMem(7,4,0,3007)",
    };
    QStringList expected = {"Initialize(4d79,1)", "FindCert(7,1,524287,0,0)", "FreeFindResult(7,1)"};
    for (int i = 0; i < 3; ++i)
        expected << pass;
    expected << "Uninitialize(7)";

    ASSERT_EQ(FDialogs->Messages.size(), 1u);
    EXPECT_EQ(FDialogs->Messages[0].Text, QStringLiteral("Настройка произведена !"));
    EXPECT_EQ(FDialogs->Logs[0], expected);
}

TEST_F(SetupOrderTest, MissingBundleClosesTheStoreBeforeTheError)
{
    bool asked = false;
    const auto noBundle = [&] {
        asked = true;
        EXPECT_EQ(TakeLog().size(), 3) << "the store is open before the bundle is read";
        return QByteArray();
    };
    EXPECT_THROW(RunCertificateSetup(noBundle), Exception);
    EXPECT_TRUE(asked);
    EXPECT_EQ(TakeLog(), QStringList({"Uninitialize(7)"}));
    EXPECT_TRUE(FDialogs->Messages.empty());
}

} // namespace
