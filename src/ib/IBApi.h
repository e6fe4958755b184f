// Internal: the OO API entry point, the status wrapper that raises our
// exceptions, owning pointers for interfaces, and connection character sets.
#pragma once

#include "IBError.h"

#include <firebird/Interface.h>

#include <QByteArray>
#include <QString>
#include <functional>
#include <utility>

namespace IBApi {

Firebird::IMaster* Master();
Firebird::IUtil* Util();

// Whether the errors say that the attachment is gone (network failure,
// server or database shut down, attachment killed).
bool ConnectionLost(Firebird::IStatus* status);

// Turns the errors of a status into EIBInterBaseError (EIBConnectionLost when
// the attachment is gone); `sql` is the text of the statement that failed.
[[noreturn]] void RaiseStatus(Firebird::IStatus* status, const QString& sql = QString());

// A status wrapper whose failed calls raise EIBInterBaseError. Owns its IStatus.
class TStatus : public Firebird::BaseStatusWrapper<TStatus>
{
public:
    TStatus() : BaseStatusWrapper(Master()->getStatus()) {}
    ~TStatus() { status->dispose(); }
    TStatus(const TStatus&) = delete;
    TStatus& operator=(const TStatus&) = delete;

    // Runs before the error is raised when a call finds the attachment gone,
    // so that the owner's database lets go of its dead handles first. It
    // runs after the failed call has returned: it may release the interface
    // that was called. It must not throw nor call the API with this status.
    std::function<void()> OnConnectionLost;
    // The text of the statement this status serves, for its errors' SQL().
    std::function<QString()> StatementText;

    static void checkException(TStatus* s)
    {
        if (!s->dirty || !(s->getState() & Firebird::IStatus::STATE_ERRORS))
            return;
        if (s->OnConnectionLost && ConnectionLost(s->status))
            s->OnConnectionLost();
        RaiseStatus(s->status, s->StatementText ? s->StatementText() : QString());
    }
};

// A status wrapper that only records: for cleanup, where nothing may throw.
class TQuietStatus
{
public:
    TQuietStatus() : FStatus(Master()->getStatus()), FWrapper(FStatus) {}
    ~TQuietStatus() { FStatus->dispose(); }
    TQuietStatus(const TQuietStatus&) = delete;
    TQuietStatus& operator=(const TQuietStatus&) = delete;
    Firebird::CheckStatusWrapper* operator&() { return &FWrapper; }
    bool Failed() const { return FWrapper.getState() & Firebird::IStatus::STATE_ERRORS; }

private:
    Firebird::IStatus* FStatus;
    Firebird::CheckStatusWrapper FWrapper;
};

// Holds one reference of a reference-counted interface.
template <class T>
class TRef
{
public:
    TRef() = default;
    explicit TRef(T* p) : FPtr(p) {}
    ~TRef() { reset(); }
    TRef(TRef&& other) noexcept : FPtr(std::exchange(other.FPtr, nullptr)) {}
    TRef& operator=(TRef&& other) noexcept
    {
        if (this != &other)
            reset(std::exchange(other.FPtr, nullptr));
        return *this;
    }
    TRef(const TRef&) = delete;
    TRef& operator=(const TRef&) = delete;

    void reset(T* p = nullptr)
    {
        if (FPtr)
            FPtr->release();
        FPtr = p;
    }
    // Forget the interface without releasing it: commit(), rollback(),
    // close(), free() and detach() have already done so on success.
    void abandon() { FPtr = nullptr; }
    T* get() const { return FPtr; }
    T* operator->() const { return FPtr; }
    explicit operator bool() const { return FPtr != nullptr; }

private:
    T* FPtr = nullptr;
};

// A parameter block builder, disposed rather than released.
class TXpb
{
public:
    TXpb(TStatus& status, unsigned kind);
    ~TXpb() { FBuilder->dispose(); }
    TXpb(const TXpb&) = delete;
    TXpb& operator=(const TXpb&) = delete;
    Firebird::IXpbBuilder* operator->() const { return FBuilder; }
    unsigned Length(TStatus& status) { return FBuilder->getBufferLength(&status); }
    const unsigned char* Buffer(TStatus& status) { return FBuilder->getBuffer(&status); }

private:
    Firebird::IXpbBuilder* FBuilder;
};

// Character set ids as the server numbers them.
enum : unsigned { csNone = 0, csOctets = 1, csUnicodeFss = 3, csUtf8 = 4, csIso8859_1 = 21, csWin1251 = 52 };

// How text travels over one connection.
class TCharset
{
public:
    // From the lc_ctype name; empty means NONE.
    static TCharset FromName(const QString& name);

    unsigned Id() const { return FId; }
    QString Decode(const char* data, qsizetype length) const;
    QByteArray Encode(const QString& text) const;
    // The decoding of a value that came with character set `id`.
    QString Decode(unsigned id, const char* data, qsizetype length) const;
    static int BytesPerChar(unsigned id);

private:
    unsigned FId = csNone;
};

} // namespace IBApi
