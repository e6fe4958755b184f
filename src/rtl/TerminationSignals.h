// SIGTERM and SIGINT delivered as a call on the GUI thread. A thread of its
// own waits for them (sigwait) and writes the signal's number into a socket
// pair, which a notifier of the event loop reads. Every thread started after
// the constructor has both signals blocked: a signal that interrupted a wait
// of the database engine's threads would leave it hung at detach. (Programs
// started from such a thread inherit the blocked signals; ours take them
// back the same way.) Threads that existed before reach a handler that
// writes to the same pair. A signal the process was started with ignored (a
// background job's SIGINT) stays ignored.
//
// The Firebird client library puts handlers of its own on both signals at
// its first attachment; they shut every connection down behind the
// application's back. The database layer therefore calls
// ReclaimTerminationSignals after each attachment.
#pragma once

#include <QObject>
#include <functional>
#include <memory>

class QSocketNotifier;

class TTerminationSignals : public QObject
{
    Q_OBJECT
public:
    // One instance per process: the handlers reach it through a global.
    explicit TTerminationSignals(std::function<void(int signal)> onSignal, QObject* parent = nullptr);
    ~TTerminationSignals() override;

private:
    struct TWaiter;
    void ReadSignals();

    std::function<void(int)> FOnSignal;
    std::unique_ptr<TWaiter> FWaiter;
    int FReadFd = -1;
    QSocketNotifier* FNotifier = nullptr;
};

// Puts back the dispositions TTerminationSignals chose where a library has
// replaced them; does nothing while there is no TTerminationSignals.
void ReclaimTerminationSignals() noexcept;
