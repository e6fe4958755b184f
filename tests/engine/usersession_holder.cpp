// The other process of the lock tests: connects to DATABASE as USER (SYSDBA
// when not given), registers a session for user 42, locks the record given as
// 16 hex digits, prints "locked" and keeps the lock until its standard input
// closes or it is killed. A failure is printed to standard error, exit code 1.
//   usersession_holder DATABASE PASSWORD RECORD_HEX [USER]
#include "SDatabase.h"
#include "SDatabaseSession.h"

#include <QCoreApplication>
#include <cstdio>
#include <exception>
#include <iostream>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 4 && argc != 5) {
        std::cerr << "usage: usersession_holder DATABASE PASSWORD RECORD_HEX [USER]\n";
        return 2;
    }
    const QString user = argc == 5 ? QString::fromLocal8Bit(argv[4]) : QStringLiteral("SYSDBA");
    try {
        TSDatabase db;
        db.SetDatabaseName(QString::fromLocal8Bit(argv[1]));
        db.SetParams({QStringLiteral("user_name=") + user,
                      QStringLiteral("password=") + QString::fromLocal8Bit(argv[2]),
                      QStringLiteral("lc_ctype=WIN1251")});
        db.Open();
        db.Session()->Register(42);
        const QByteArray bytes = QByteArray::fromHex(argv[3]);
        TRecordID id{};
        if (bytes.size() != static_cast<qsizetype>(id.size()))
            throw std::runtime_error("RECORD_HEX must be 16 hexadecimal digits");
        std::copy(bytes.begin(), bytes.end(), id.begin());
        db.Session()->LockRecord(id, false);
        std::cout << "locked" << std::endl;
        std::string line;
        while (std::getline(std::cin, line)) {
        }
        db.Session()->UnlockRecord(id);
    } catch (const std::exception& e) {
        std::cerr << "usersession_holder: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
