#include "TerminationSignals.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <iterator>
#include <mutex>
#include <pthread.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int HandledSignals[] = {SIGTERM, SIGINT};

// Written when a signal arrives, read by the GUI thread; -1 when nobody listens.
std::atomic<int> WriteFd{-1};
// A signal written but not yet read: a second one means the GUI thread does
// not get to it (a busy or hung loop, a test without one).
std::atomic<bool> Pending{false};

// What each signal had before, and what we chose for it; under the mutex.
std::mutex DispositionsMutex;
bool Installed = false;
struct sigaction Previous[std::size(HandledSignals)];
struct sigaction Chosen[std::size(HandledSignals)];

void EndTheSystemsWay(int signal)
{
    std::signal(signal, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    std::raise(signal);
}

// Async-signal-safe: from a handler or from the waiting thread.
void Deliver(int signal)
{
    const int fd = WriteFd.load();
    if (fd < 0 || Pending.exchange(true)) {
        EndTheSystemsWay(signal);
        return;
    }
    const int savedErrno = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    if (::write(fd, &number, 1) != 1)
        EndTheSystemsWay(signal);
    errno = savedErrno;
}

} // namespace

struct TTerminationSignals::TWaiter
{
    sigset_t Signals;
    int WakeSignal = 0; // one of Signals, to end the wait

    sigset_t PreviousMask;
    std::atomic<bool> Stopping{false};
    std::thread Thread;
};

TTerminationSignals::TTerminationSignals(std::function<void(int)> onSignal, QObject* parent)
    : QObject(parent), FOnSignal(std::move(onSignal))
{
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds) != 0)
        return; // the signals keep their default action
    FReadFd = fds[0];
    WriteFd.store(fds[1]);
    FNotifier = new QSocketNotifier(FReadFd, QSocketNotifier::Read, this);
    connect(FNotifier, &QSocketNotifier::activated, this, [this] { ReadSignals(); });

    FWaiter = std::make_unique<TWaiter>();
    sigemptyset(&FWaiter->Signals);
    {
        const std::lock_guard lock(DispositionsMutex);
        for (size_t i = 0; i < std::size(HandledSignals); ++i) {
            sigaction(HandledSignals[i], nullptr, &Previous[i]);
            Chosen[i] = {};
            sigemptyset(&Chosen[i].sa_mask);
            if (Previous[i].sa_handler == SIG_IGN) {
                Chosen[i].sa_handler = SIG_IGN;
            } else {
                Chosen[i].sa_handler = Deliver;
                Chosen[i].sa_flags = SA_RESTART;
                sigaddset(&FWaiter->Signals, HandledSignals[i]);
                FWaiter->WakeSignal = HandledSignals[i];
            }
            sigaction(HandledSignals[i], &Chosen[i], nullptr);
        }
        Installed = true;
    }
    if (FWaiter->WakeSignal == 0)
        return; // both ignored
    // Threads started from here on (the database engine's among them) never
    // see the signals, which would break their waits: one thread of ours
    // takes them. Threads that existed before reach the handler instead.
    pthread_sigmask(SIG_BLOCK, &FWaiter->Signals, &FWaiter->PreviousMask);
    FWaiter->Thread = std::thread([waiter = FWaiter.get()] {
        for (;;) {
            int signal = 0;
            if (sigwait(&waiter->Signals, &signal) != 0 || waiter->Stopping.load())
                return;
            Deliver(signal);
        }
    });
}

TTerminationSignals::~TTerminationSignals()
{
    if (FReadFd < 0)
        return;
    if (FWaiter->Thread.joinable()) {
        FWaiter->Stopping.store(true);
        pthread_kill(FWaiter->Thread.native_handle(), FWaiter->WakeSignal);
        FWaiter->Thread.join();
        pthread_sigmask(SIG_SETMASK, &FWaiter->PreviousMask, nullptr);
    }
    {
        const std::lock_guard lock(DispositionsMutex);
        for (size_t i = 0; i < std::size(HandledSignals); ++i)
            sigaction(HandledSignals[i], &Previous[i], nullptr);
        Installed = false;
    }
    // A handler still called by another library's finds nobody listening
    // and ends the process the system's way.
    ::close(WriteFd.exchange(-1));
    ::close(FReadFd);
}

void TTerminationSignals::ReadSignals()
{
    unsigned char numbers[16];
    const ssize_t count = ::read(FReadFd, numbers, sizeof numbers);
    Pending.store(false);
    for (ssize_t i = 0; i < count; ++i)
        if (FOnSignal)
            FOnSignal(numbers[i]);
}

void ReclaimTerminationSignals() noexcept
{
    const std::lock_guard lock(DispositionsMutex);
    if (!Installed)
        return;
    for (size_t i = 0; i < std::size(HandledSignals); ++i) {
        struct sigaction current = {};
        sigaction(HandledSignals[i], nullptr, &current);
        if (current.sa_handler != Chosen[i].sa_handler || (current.sa_flags & SA_SIGINFO))
            sigaction(HandledSignals[i], &Chosen[i], nullptr);
    }
}
