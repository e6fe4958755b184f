#include "ScriptMode.h"

#include "DBSGridEx.h"
#include "DBSTreeView.h"
#include "DataSet.h"
#include "DocumentForm.h"
#include "Exceptions.h"
#include "MainForm.h"
#include "QtDialogs.h"
#include "SDS.h"
#include "SDataSource.h"
#include "URecordMarker.h"
#include "uFieldFilter.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>
#include <unistd.h>

namespace {

// The box as the Qt dialogs show it, drawn over the window with a title bar
// of its own (the offscreen platform draws no frames), saved as a picture.
void SaveQuestionPicture(const TMessageRequest& request, QWidget* window, const QString& file)
{
    const TQtMessageBox shown = MakeQtMessageBox(request, window);
    QMessageBox& box = *shown.Box;
    box.show();
    QApplication::processEvents();
    const QPixmap boxPicture = box.grab();
    box.hide();

    const QPixmap windowPicture = window ? window->grab() : QPixmap();
    QImage picture(std::max(windowPicture.width(), boxPicture.width() + 8),
                   std::max(windowPicture.height(), boxPicture.height() + 40), QImage::Format_RGB32);
    picture.fill(Qt::white);
    QPainter painter(&picture);
    painter.drawPixmap(0, 0, windowPicture);
    // The window behind a modal box looks inactive.
    painter.fillRect(picture.rect(), QColor(0, 0, 0, 40));
    const int titleHeight = 24;
    const QPoint at((picture.width() - boxPicture.width()) / 2,
                    (picture.height() - boxPicture.height() - titleHeight) / 2);
    const QRect frame(at.x() - 1, at.y() - 1, boxPicture.width() + 1, boxPicture.height() + titleHeight + 1);
    painter.fillRect(frame.adjusted(3, 3, 3, 3), QColor(0, 0, 0, 60));
    painter.fillRect(QRect(at, QSize(boxPicture.width(), titleHeight)), QColor(0x3b, 0x6e, 0xa8));
    painter.setPen(Qt::white);
    QFont font = painter.font();
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(QRect(at + QPoint(8, 0), QSize(boxPicture.width() - 16, titleHeight)), Qt::AlignVCenter,
                     request.Caption);
    painter.drawPixmap(at + QPoint(0, titleHeight), boxPicture);
    painter.setPen(QColor(0x2a, 0x50, 0x80));
    painter.drawRect(frame);
    painter.end();
    if (!picture.save(file))
        throw Exception(QStringLiteral("Не удалось записать %1").arg(file));
}

QString StateName(TDataSetState state)
{
    switch (state) {
    case dsBrowse: return QStringLiteral("browse");
    case dsEdit: return QStringLiteral("edit");
    case dsInsert: return QStringLiteral("insert");
    case dsInactive: return QStringLiteral("inactive");
    default: return QStringLiteral("other");
    }
}

TModalResult AnswerNamed(const QString& name)
{
    static const QHash<QString, TModalResult> answers{{QStringLiteral("yes"), mrYes},
                                                      {QStringLiteral("no"), mrNo},
                                                      {QStringLiteral("ok"), mrOk},
                                                      {QStringLiteral("cancel"), mrCancel}};
    const auto found = answers.find(name.toLower());
    if (found == answers.end())
        throw Exception(QStringLiteral("unknown answer %1").arg(name));
    return found.value();
}

} // namespace

QString OneLine(QString text)
{
    return text.replace(QLatin1Char('\r'), QString()).replace(QLatin1Char('\n'), QStringLiteral("\\n"));
}

TModalResult TScriptDialogs::ShowMessageBox(const TMessageRequest& request)
{
    Questions << request.Text;
    const QString picture = std::exchange(PictureFile, QString());
    if (!picture.isEmpty())
        SaveQuestionPicture(request, Window, picture);
    if (!Answers.empty()) {
        const TModalResult answer = Answers.front();
        Answers.pop_front();
        return answer;
    }
    return ModalResultOf(EscapeButton(request.Buttons));
}

bool TScriptDialogs::InputQuery(const QString& caption, const QString& prompt, QString&)
{
    Questions << caption + QStringLiteral(": ") + prompt;
    return false;
}

TScriptMode::TScriptMode(TCatalogueForm& form, TScriptDialogs& dialogs, QObject* parent)
    : QObject(parent), FForm(form), FDialogs(dialogs),
      FInput(new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this))
{
    connect(FInput, &QSocketNotifier::activated, this, &TScriptMode::ReadInput);
}

void TScriptMode::ReadInput()
{
    char buffer[4096];
    const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (got <= 0) {
        // The driver has gone: the program ends as its window would close.
        FInput->setEnabled(false);
        QTimer::singleShot(0, qApp, [] { QApplication::quit(); });
        return;
    }
    FPending.append(buffer, got);
    qsizetype end = 0;
    while ((end = FPending.indexOf('\n')) >= 0) {
        const QString line = QString::fromUtf8(FPending.left(end)).trimmed();
        FPending.remove(0, end + 1);
        if (line.isEmpty())
            continue;
        const QString answer = Run(line);
        std::printf("%s\n", answer.toUtf8().constData());
        std::fflush(stdout);
    }
}

QString TScriptMode::Run(const QString& line)
{
    const QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const QString verb = words.value(0).toLower();
    // What follows the first two words, spaces kept (a value to type).
    const QString rest = line.section(QLatin1Char(' '), 2, -1, QString::SectionSkipEmpty);
    try {
        return Command(verb, words, rest);
    } catch (const EAbort& abort) {
        return QStringLiteral("ok aborted %1 state=%2")
            .arg(OneLine(abort.Message()), StateName(FForm.Items()->State()));
    } catch (const std::exception& error) {
        return QStringLiteral("error ") + OneLine(QString::fromUtf8(error.what()));
    }
}

QString TScriptMode::Command(const QString& verb, const QStringList& words, const QString& rest)
{
    TSDS& items = *FForm.Items();
    const auto number = [&](int index) {
        bool ok = false;
        const int value = words.value(index).toInt(&ok);
        if (!ok)
            throw Exception(QStringLiteral("a number expected: %1").arg(words.value(index)));
        return value;
    };
    if (verb == QLatin1String("group")) {
        FForm.ShowGroup(number(1));
        return QStringLiteral("ok rows=%1").arg(items.RecordCount());
    }
    if (verb == QLatin1String("goto")) {
        if (!items.Locate(QStringLiteral("SYS$ID"), Variant(number(1))))
            throw Exception(QStringLiteral("no item %1 in the grid").arg(words.value(1)));
        // The cell a user clicks: the name, or the column given.
        if (const TColumnEx* column = FForm.Grid()->ColumnByFieldName(words.value(2, QStringLiteral("NAME"))))
            FForm.Grid()->SetSelectedIndex(column->Index());
        return QStringLiteral("ok");
    }
    if (verb == QLatin1String("edit")) {
        items.Edit();
        return QStringLiteral("ok state=") + StateName(items.State());
    }
    if (verb == QLatin1String("append")) {
        items.Append();
        return QStringLiteral("ok state=") + StateName(items.State());
    }
    if (verb == QLatin1String("delete")) {
        items.Delete();
        return QStringLiteral("ok rows=%1").arg(items.RecordCount());
    }
    if (verb == QLatin1String("current"))
        return QStringLiteral("ok %1").arg(items.IsEmpty() ? 0
                                                           : items.FieldByName(QStringLiteral("SYS$ID"))->AsInteger());
    if (verb == QLatin1String("service-menu")) {
        // What the menu bar's "Сервис" offers as it opens.
        QMenu* menu = FForm.ServiceMenu();
        emit menu->aboutToShow();
        QStringList items;
        for (const QAction* action : menu->actions())
            if (!action->isSeparator())
                items << QString(action->text()).remove(QLatin1Char('&'));
        return QStringLiteral("ok ") + items.join(QStringLiteral(" | "));
    }
    if (verb == QLatin1String("key")) {
        // A key the user presses in the grid (or in its cell editor).
        const QKeySequence sequence = QKeySequence::fromString(words.value(1));
        if (sequence.isEmpty())
            throw Exception(QStringLiteral("unknown key %1").arg(words.value(1)));
        const QKeyCombination combination = sequence[0];
        // The user's keys go where the focus is: in the grid unless moved.
        if (!QApplication::focusWidget()) {
            FForm.activateWindow();
            FForm.Grid()->setFocus();
            QApplication::processEvents();
        }
        QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : FForm.Grid();
        QKeyEvent press(QEvent::KeyPress, combination.key(), combination.keyboardModifiers());
        QKeyEvent release(QEvent::KeyRelease, combination.key(), combination.keyboardModifiers());
        QApplication::sendEvent(target, &press);
        QApplication::sendEvent(target, &release);
        QApplication::processEvents();
        return QStringLiteral("ok rows=%1 state=%2 marked=%3")
            .arg(items.RecordCount())
            .arg(StateName(items.State()))
            .arg(FForm.ItemsSource()->RecordMarker()->MarkedCount());
    }
    if (verb == QLatin1String("tree")) {
        int32_t id = -1;
        FForm.Tree()->SelectedID(id);
        return QStringLiteral("ok %1").arg(id);
    }
    if (verb == QLatin1String("rows"))
        return QStringLiteral("ok %1").arg(items.RecordCount());
    if (verb == QLatin1String("set")) {
        items.FieldByName(words.value(1))->SetAsString(rest);
        return QStringLiteral("ok");
    }
    if (verb == QLatin1String("post")) {
        items.Post();
        return QStringLiteral("ok state=") + StateName(items.State());
    }
    if (verb == QLatin1String("cancel")) {
        items.Cancel();
        return QStringLiteral("ok state=") + StateName(items.State());
    }
    if (verb == QLatin1String("state"))
        return QStringLiteral("ok ") + StateName(items.State());
    if (verb == QLatin1String("cell")) {
        const QAbstractItemModel* model = FForm.Grid()->model();
        const TColumnEx* idColumn = FForm.Grid()->ColumnByFieldName(QStringLiteral("SYS$ID"));
        const TColumnEx* column = FForm.Grid()->ColumnByFieldName(words.value(2));
        if (!idColumn || !column)
            throw Exception(QStringLiteral("no such column"));
        for (int row = 0; row < model->rowCount(); ++row)
            if (model->index(row, idColumn->Index()).data().toString() == words.value(1))
                return QStringLiteral("ok ") + model->index(row, column->Index()).data().toString();
        throw Exception(QStringLiteral("item %1 is not in the grid").arg(words.value(1)));
    }
    if (verb == QLatin1String("mark")) {
        if (!items.Locate(QStringLiteral("SYS$ID"), Variant(number(1))))
            throw Exception(QStringLiteral("no item %1 in the grid").arg(words.value(1)));
        FForm.ItemsSource()->RecordMarker()->ToggleCurrent();
        return QStringLiteral("ok marked=%1").arg(FForm.ItemsSource()->RecordMarker()->MarkedCount());
    }
    if (verb == QLatin1String("filter")) {
        auto filter = std::make_unique<TFieldFilter>(items.FieldByName(words.value(1)), fkNumberRange);
        filter->NumberFrom = words.value(2).toDouble();
        filter->NumberTo = words.value(3).toDouble();
        FForm.ItemsSource()->Filters().push_back(std::move(filter));
        FForm.ItemsSource()->SetFilterActive(true);
        return QStringLiteral("ok rows=%1").arg(items.RecordCount());
    }
    if (verb == QLatin1String("answer")) {
        FDialogs.Answers.push_back(AnswerNamed(words.value(1)));
        return QStringLiteral("ok");
    }
    if (verb == QLatin1String("questions"))
        return QStringLiteral("ok ") + OneLine(FDialogs.Questions.join(QStringLiteral(" | ")));
    if (verb == QLatin1String("notices"))
        return QStringLiteral("ok %1").arg(FForm.NoticesApplied());
    if (verb == QLatin1String("picture-question")) {
        FDialogs.PictureFile = words.value(1);
        FDialogs.Window = &FForm;
        return QStringLiteral("ok");
    }
    if (verb == QLatin1String("shot")) {
        QApplication::processEvents();
        if (!FForm.grab().save(words.value(1)))
            throw Exception(QStringLiteral("cannot write %1").arg(words.value(1)));
        return QStringLiteral("ok");
    }
    if (verb == QLatin1String("documents")) {
        TDocumentForm* documents = FForm.ShowDocuments();
        QApplication::processEvents();
        if (words.size() > 1 && !documents->grab().save(words.value(1)))
            throw Exception(QStringLiteral("cannot write %1").arg(words.value(1)));
        return QStringLiteral("ok documents=%1 lines=%2")
            .arg(documents->Documents()->RecordCount())
            .arg(documents->Lines()->RecordCount());
    }
    if (verb == QLatin1String("delete-document")) {
        TDocumentForm* documents = FForm.ShowDocuments();
        TSDS& master = *documents->Documents();
        if (!master.Locate(QStringLiteral("SYS$ID"), Variant(number(1))))
            throw Exception(QStringLiteral("no document %1").arg(words.value(1)));
        if (MessageDlg(QStringLiteral("Удалить запись?"), mtConfirmation, mbOKCancel) != mrOk)
            return QStringLiteral("ok kept documents=%1").arg(master.RecordCount());
        master.Delete();
        return QStringLiteral("ok documents=%1 lines=%2")
            .arg(master.RecordCount())
            .arg(documents->Lines()->RecordCount());
    }
    if (verb == QLatin1String("quit")) {
        QTimer::singleShot(0, qApp, [] { QApplication::quit(); });
        return QStringLiteral("ok");
    }
    throw Exception(QStringLiteral("unknown command %1").arg(verb));
}
