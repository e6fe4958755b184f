#include "UPwd.h"

#include "Dialogs.h"
#include "Exceptions.h"
#include "Resources.h"
#include "uVCertMgr.h"
#include "uZip.h"

#include <QPushButton>

TForm1* Form1 = nullptr;

namespace {

const QString StoreName = QStringLiteral("My");
const QString CertificateExt = QStringLiteral(".cer");
const QString CrlExt = QStringLiteral(".crl");
constexpr int PassCount = 3;

// From the last "." on, provided it stands after the last "\" or ":".
QString ExtractFileExt(const QString& name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const qsizetype delimiter = std::max(name.lastIndexOf(QLatin1Char('\\')), name.lastIndexOf(QLatin1Char(':')));
    return dot > delimiter ? name.mid(dot) : QString();
}

// Offers every entry with the extension to the store; a refused object is
// no reason to stop, so its failure is dropped.
void ImportEntries(const TUnZip& zip, const QString& ext, const std::function<void(const QByteArray&)>& import)
{
    const int count = zip.Count();
    for (int i = 0; i < count; ++i) {
        QString name;
        QByteArray content;
        zip.GetFile(i, name, content);
        if (QString::compare(ExtractFileExt(name), ext, Qt::CaseInsensitive) != 0)
            continue;
        try {
            import(content);
        } catch (...) {
        }
    }
}

} // namespace

QByteArray LoadRootBundle() { return LoadResourceBytes(QStringLiteral("ROOTS")); }

void RunCertificateSetup(const std::function<QByteArray()>& loadBundle)
{
    {
        TVCertMgr manager(StoreName);
        const QByteArray bundle = loadBundle();
        if (bundle.isEmpty())
            throw Exception(QStringLiteral("Не найдена информация о корневых сертификатах"));
        TUnZip zip;
        zip.Open(bundle);
        for (int pass = 0; pass < PassCount; ++pass) {
            ImportEntries(zip, CertificateExt, [&](const QByteArray& c) { manager.ImportCertificate(c); });
            ImportEntries(zip, CrlExt, [&](const QByteArray& c) { manager.ImportCRL(c); });
        }
    }
    MessageDlg(QStringLiteral("Настройка произведена !"), mtInformation, {mbOK});
}

TForm1::TForm1(QWidget* parent) : TForm(parent)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Настроить справочник сертификатов"));
    SetDesignFont();
    SetClientSize(363, 60);
    SetBorderStyle(bsDialog);
    SetPosition(poScreenCenter);

    Button1 = new QPushButton(QStringLiteral("Настроить справочник сертификатов"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(8, 8, 345, 45);
    Button1->setFocus();
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(Button1); });

    OnActivate = [this](QObject* sender) { FormActivate(sender); };
}

void TForm1::FormActivate(QObject*) { PostMessage(this, WM_USER, 0, 0); }

void TForm1::Button1Click(QObject*) { RunCertificateSetup(BundleSource); }

void TForm1::WndProc(TMessage& message)
{
    if (message.Msg == WM_USER)
        Button1Click(nullptr);
    else
        TForm::WndProc(message);
}
