#include "Clipboard.h"

#include "Exceptions.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace {

QClipboard* SystemClipboard()
{
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) ? QGuiApplication::clipboard() : nullptr;
}

// Open and Close around one call.
class TOpened
{
public:
    explicit TOpened(TClipboard& clipboard) : FClipboard(clipboard) { FClipboard.Open(); }
    ~TOpened() { FClipboard.Close(); }
    TOpened(const TOpened&) = delete;
    TOpened& operator=(const TOpened&) = delete;

private:
    TClipboard& FClipboard;
};

} // namespace

TClipboard::TClipboard() = default;

TClipboard::~TClipboard()
{
    if (FOpenRefCount > 0) {
        FOpenRefCount = 1;
        Close();
    }
}

void TClipboard::Open()
{
    if (FOpenRefCount == 0) {
        if (!SystemClipboard())
            throw Exception(QStringLiteral("Не могу открыть буфер обмена"));
        FWritten.reset();
    }
    ++FOpenRefCount;
}

void TClipboard::Close()
{
    if (FOpenRefCount == 0 || --FOpenRefCount > 0)
        return;
    if (FWritten) {
        if (QClipboard* clipboard = SystemClipboard())
            clipboard->setMimeData(FWritten.release()); // the clipboard owns it now
        FWritten.reset();
    }
}

void TClipboard::Adding()
{
    if (!FWritten)
        FWritten = std::make_unique<QMimeData>();
}

void TClipboard::Clear()
{
    TOpened opened(*this);
    FWritten.reset();
    Adding();
}

const QMimeData* TClipboard::Content() const
{
    if (FWritten)
        return FWritten.get();
    const QClipboard* clipboard = SystemClipboard();
    return clipboard ? clipboard->mimeData() : nullptr;
}

QString TClipboard::AsText()
{
    TOpened opened(*this);
    const QMimeData* content = Content();
    return content ? content->text() : QString();
}

void TClipboard::SetAsText(const QString& text)
{
    TOpened opened(*this);
    Adding();
    FWritten->setText(text);
}

bool TClipboard::HasFormat(const QString& format)
{
    TOpened opened(*this);
    const QMimeData* content = Content();
    return content && content->hasFormat(format);
}

void TClipboard::SetBuffer(const QString& format, const QByteArray& data)
{
    TOpened opened(*this);
    Adding();
    FWritten->setData(format, data);
}

bool TClipboard::SetClipboardData(const QString& format, const QByteArray& data)
{
    if (!IsOpen() || !FWritten)
        return false;
    FWritten->setData(format, data);
    return true;
}

QByteArray TClipboard::GetClipboardData(const QString& format)
{
    TOpened opened(*this);
    const QMimeData* content = Content();
    return content ? content->data(format) : QByteArray();
}
