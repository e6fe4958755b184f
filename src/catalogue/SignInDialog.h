// Signing in: the user picks a name among the users of SYS_USER (the
// database's own login has already let the program in).
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <vector>

class QComboBox;
class TSDatabase;

struct TCatalogueUser
{
    int32_t ID = -1;
    QString Name;
};

// The users of the database, in the order of their numbers.
std::vector<TCatalogueUser> CatalogueUsers(TSDatabase& database);
// The user a name or number given on the command line means; raises with
// the known names when none matches.
TCatalogueUser UserNamed(TSDatabase& database, const QString& given);

class TSignInDialog : public QDialog
{
    Q_OBJECT
public:
    explicit TSignInDialog(std::vector<TCatalogueUser> users, QWidget* parent = nullptr);
    TCatalogueUser Chosen() const;

private:
    std::vector<TCatalogueUser> FUsers;
    QComboBox* FNames;
};
