// The catalogue program as a process in its scripted mode: a command
// written to its standard input, its one-line answer read back.
#pragma once

#include <QDeadlineTimer>
#include <QProcess>
#include <QStringList>
#include <QThread>
#include <gtest/gtest.h>

#include <functional>

class TCatalogueProcess
{
public:
    // Starts "catalogue DATABASE --script --user USER" without a screen and
    // waits for its "ready" line (empty when it never came).
    QString Start(const QString& database, const QString& user,
                  const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
    {
        QProcessEnvironment headless = environment;
        headless.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        FProcess.setProcessEnvironment(headless);
        FProcess.start(QStringLiteral(CATALOGUE),
                       {database, QStringLiteral("--script"), QStringLiteral("--user"), user});
        if (!FProcess.waitForStarted())
            return QString();
        return ReadLine(60000);
    }
    ~TCatalogueProcess()
    {
        if (FProcess.state() != QProcess::NotRunning) {
            FProcess.kill();
            FProcess.waitForFinished();
        }
    }

    // One command and its answer ("ok ..." or "error ..."); empty when none
    // came within the time.
    QString Ask(const QString& command, int timeoutMs = 30000)
    {
        FProcess.write(command.toUtf8() + '\n');
        FProcess.waitForBytesWritten();
        return ReadLine(timeoutMs);
    }

    // Asks until the answer satisfies the test or the time is up; the last answer.
    QString AskUntil(const QString& command, const std::function<bool(const QString&)>& done, int timeoutMs)
    {
        const QDeadlineTimer deadline(timeoutMs);
        QString answer;
        do {
            answer = Ask(command);
            if (done(answer))
                break;
            QThread::msleep(100);
        } while (!deadline.hasExpired());
        return answer;
    }

    // Quits and waits for the end; the exit code, -1 when it did not end.
    int Quit()
    {
        if (FProcess.state() == QProcess::Running) {
            Ask(QStringLiteral("quit"));
            FProcess.closeWriteChannel();
        }
        if (FProcess.state() != QProcess::NotRunning && !FProcess.waitForFinished(30000))
            return -1;
        return FProcess.exitStatus() == QProcess::NormalExit ? FProcess.exitCode() : -1;
    }

    QString Errors() { return QString::fromUtf8(FProcess.readAllStandardError()); }

private:
    QString ReadLine(int timeoutMs)
    {
        const QDeadlineTimer deadline(timeoutMs);
        while (!FProcess.canReadLine()) {
            if (deadline.hasExpired() || FProcess.state() == QProcess::NotRunning)
                return FProcess.canReadLine() ? QString::fromUtf8(FProcess.readLine()).trimmed() : QString();
            FProcess.waitForReadyRead(std::max<qint64>(1, std::min<qint64>(deadline.remainingTime(), 200)));
        }
        return QString::fromUtf8(FProcess.readLine()).trimmed();
    }

    QProcess FProcess;
};
