#include "SignInDialog.h"

#include "Exceptions.h"
#include "SDS.h"
#include "SDatabase.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

std::vector<TCatalogueUser> CatalogueUsers(TSDatabase& database)
{
    std::vector<TCatalogueUser> users;
    TSDS* table = database.Users();
    if (!table || !table->Active())
        return users;
    const TBookmark place = table->GetBookmark();
    for (table->First(); !table->Eof(); table->Next())
        users.push_back({table->FieldByName(QStringLiteral("SYS$ID"))->AsInteger(),
                         table->FieldByName(QStringLiteral("NAME"))->AsString()});
    if (table->BookmarkValid(place))
        table->GotoBookmark(place);
    std::sort(users.begin(), users.end(), [](const auto& a, const auto& b) { return a.ID < b.ID; });
    return users;
}

TCatalogueUser UserNamed(TSDatabase& database, const QString& given)
{
    const std::vector<TCatalogueUser> users = CatalogueUsers(database);
    bool number = false;
    const int id = given.toInt(&number);
    QStringList names;
    for (const TCatalogueUser& user : users) {
        if ((number && user.ID == id) || user.Name.compare(given.trimmed(), Qt::CaseInsensitive) == 0)
            return user;
        names << QStringLiteral("%1 %2").arg(user.ID).arg(user.Name);
    }
    throw Exception(
        QStringLiteral("Нет пользователя «%1». Пользователи: %2").arg(given, names.join(QStringLiteral(", "))));
}

TSignInDialog::TSignInDialog(std::vector<TCatalogueUser> users, QWidget* parent)
    : QDialog(parent), FUsers(std::move(users))
{
    setWindowTitle(QStringLiteral("Вход в каталог"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Выберите пользователя:"), this));
    FNames = new QComboBox(this);
    for (const TCatalogueUser& user : FUsers)
        FNames->addItem(user.Name);
    layout->addWidget(FNames);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Войти"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Отмена"));
    buttons->button(QDialogButtonBox::Ok)->setEnabled(!FUsers.empty());
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

TCatalogueUser TSignInDialog::Chosen() const
{
    const int index = FNames->currentIndex();
    return index >= 0 && index < static_cast<int>(FUsers.size()) ? FUsers[index] : TCatalogueUser{};
}
