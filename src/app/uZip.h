// Reader of the root bundle: a ZIP archive held entirely in memory. Open
// lists every file entry (folders left out) and decompresses it; Count and
// GetFile then give the names and contents in central-directory order.
#pragma once

#include "Exceptions.h"

#include <QByteArray>
#include <QString>
#include <memory>
#include <vector>

// A failure of the archive reader. The message is the failure's text
// followed by " - Native error: " and its number as five digits.
class EZipError : public Exception
{
public:
    EZipError(int nativeError, const QString& text);
    int NativeError() const { return FNativeError; }

    enum : int {
        ZE_CRCError = 8,        // "Invalid size or check sum of file or unsupported compression format"
        ZE_InvalidArchive = 35, // "Invalid archive file."
        ZE_NoZip64End = 40,     // "Cannot find Zip64 directory end record"
        ZE_Deflate64 = 55,      // "Deflate64 compression method is not supported"
        ZE_Damaged = 57,        // "Archive is damaged. Open failed"
    };

private:
    int FNativeError;
};

class TUnZip
{
public:
    TUnZip();
    ~TUnZip();
    TUnZip(const TUnZip&) = delete;
    TUnZip& operator=(const TUnZip&) = delete;

    // Replaces whatever an earlier Open held. Raises EZipError.
    void Open(const QByteArray& data);
    // The number of file entries; the archive must be open (EAssertionFailed otherwise).
    int Count() const;
    // The entry's stored path ("\" separators) and its decompressed content.
    void GetFile(int index, QString& name, QByteArray& content) const;

private:
    class TArchive;
    void Close();

    std::unique_ptr<TArchive> FArchive; // open on FMemory while the reader is open
    std::vector<QString> FNames;
    std::vector<QByteArray> FContents;
    std::unique_ptr<QByteArray> FMemory; // the reader's own copy of the archive
};
