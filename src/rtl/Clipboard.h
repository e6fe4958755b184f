// The toolkit's clipboard over the system's (QClipboard).
//
// Opening is counted: the first Open checks that the system clipboard can be
// had (else "Не могу открыть буфер обмена") and starts a session; later opens
// only count, and the Close that brings the count back to 0 ends the session.
// The first write of a session empties the clipboard, later writes add
// formats beside it; what a session wrote reaches the system clipboard, and
// other programs, when it ends. A call that is not inside an Open and Close
// of its caller makes a session of its own.
#pragma once

#include <QByteArray>
#include <QString>
#include <memory>

class QMimeData;

class TClipboard
{
public:
    TClipboard();
    // Ends a session left open, so what it wrote is not lost.
    virtual ~TClipboard();
    TClipboard(const TClipboard&) = delete;
    TClipboard& operator=(const TClipboard&) = delete;

    void Open();
    void Close();
    // Empties the clipboard.
    void Clear();

    // The plain text, or the empty text when there is none.
    QString AsText();
    void SetAsText(const QString& text);
    bool HasFormat(const QString& format);

protected:
    bool IsOpen() const { return FOpenRefCount > 0; }
    // Stores data as content: the first write of a session empties the clipboard.
    void SetBuffer(const QString& format, const QByteArray& data);
    // Stores data beside the content this session wrote, without emptying:
    // for data that describe the content. Data of another program are left
    // as they are. False when the clipboard is not open or holds nothing of
    // this session.
    bool SetClipboardData(const QString& format, const QByteArray& data);
    // Data of a format, or none.
    QByteArray GetClipboardData(const QString& format);

private:
    const QMimeData* Content() const;
    void Adding();

    int FOpenRefCount = 0;
    // What this session wrote; set once the session emptied the clipboard.
    std::unique_ptr<QMimeData> FWritten;
};
