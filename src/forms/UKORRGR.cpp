#include "UKORRGR.h"

#include "Dialogs.h"
#include "SysUtils.h"
#include "Utils.h"

#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>
#include <optional>

namespace {

// The kind's text in the dialog; none for an unset or unknown kind.
QString KindText(uint8_t kind)
{
    switch (kind) {
    case vkInteger: return QStringLiteral("целое цисло");
    case vkFloat: return QStringLiteral("дробное число");
    case vkDate: return QStringLiteral("дата");
    case vkString: return QStringLiteral("строка");
    default: return {};
    }
}

std::optional<Variant> Convert(const QString& text, uint8_t kind)
{
    switch (kind) {
    case vkInteger: try { return Variant(StrToInt(text));
        } catch (const EConvertError&) {
            return std::nullopt;
        }
    case vkFloat:
        if (const std::optional<double> value = TryStrToFloat(text))
            return Variant(*value);
        return std::nullopt;
    case vkDate:
        if (const std::optional<TDateTime> value = TryStrToDate(text))
            return Variant::FromDateTime(*value);
        return std::nullopt;
    case vkString: return Variant(text.trimmed());
    default: return std::nullopt;
    }
}

void SetGrey(QLabel* label)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, QColor(128, 128, 128));
    label->setPalette(palette);
}

} // namespace

TFKORGR::TFKORGR(QWidget* parent) : TForm(parent)
{
    setObjectName(QStringLiteral("FKORGR"));
    SetDesignFont();
    SetClientSize(419, 109);
    SetBorderStyle(bsDialog);
    SetPosition(poScreenCenter);

    GroupBox1 = new QGroupBox(this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(8, 4, 407, 68);
    MaskEdit1 = new QLineEdit(GroupBox1);
    MaskEdit1->setObjectName(QStringLiteral("MaskEdit1"));
    MaskEdit1->setGeometry(8, 15, 391, 21);
    Label1 = new QLabel(QStringLiteral("Требуемый тип:"), GroupBox1);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->move(8, 47);
    Label1->adjustSize();
    SetGrey(Label1);
    Label2 = new QLabel(GroupBox1);
    Label2->setObjectName(QStringLiteral("Label2"));
    // Right after the first label where the font is wider than designed.
    const int kindLeft = std::max(96, Label1->geometry().right() + 5);
    Label2->setGeometry(kindLeft, 47, 399 - kindLeft, Label1->height());
    SetGrey(Label2);

    Button1 = new QPushButton(QStringLiteral("ОК"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(8, 79, 75, 25);
    Button1->setFont(BoldFont(this->font()));
    Button1->setDefault(true);
    Button2 = new QPushButton(QStringLiteral("Отмена"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setGeometry(349, 79, 65, 25);
    Button2->setFont(BoldFont(this->font()));
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
}

int TFKORGR::ShowModal()
{
    FormShow();
    return exec();
}

void TFKORGR::FormShow()
{
    MaskEdit1->setFocus();
    if (KindText(FValueKind).isEmpty())
        RaiseError(QStringLiteral("Ошибочное обращение к запросной форме"), QStringLiteral("Не задан тип значения"));
    FAcceptedKind = vkNone;
    FValue = Variant();
    MaskEdit1->clear();
    Label2->setText(KindText(FValueKind));
}

void TFKORGR::Button1Click()
{
    if (const std::optional<Variant> value = Convert(MaskEdit1->text(), FValueKind)) {
        FValue = *value;
        FAcceptedKind = FValueKind;
    } else {
        MessageDlg(QStringLiteral("Некорректное значение"), mtWarning, {mbOK});
    }
    // A failed entry closes the dialog too, and comes back as not accepted.
    done(mrOk);
}

void TFKORGR::Button2Click() { done(mrCancel); }

bool TFKORGR::FormKeyDown(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Escape: Button2Click(); return true;
    case Qt::Key_Return:
    case Qt::Key_Enter: Button1Click(); return true;
    default: return false;
    }
}

void TFKORGR::keyPressEvent(QKeyEvent* event)
{
    if (!FormKeyDown(event))
        TForm::keyPressEvent(event);
}

bool AskTypedValue(const QString& caption, uint8_t kind, Variant& value)
{
    TFKORGR form;
    form.SetValueKind(kind);
    form.setWindowTitle(caption);
    form.GroupBox1->setTitle(caption);
    const bool confirmed = form.ShowModal() == mrOk;
    value = form.Value();
    return confirmed && form.AcceptedKind() != vkNone;
}
