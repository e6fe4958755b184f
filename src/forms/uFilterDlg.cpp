#include "uFilterDlg.h"

#include "Dialogs.h"
#include "InplaceEdit.h"
#include "SDataSource.h"
#include "SysUtils.h"
#include "Utils.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScopedValueRollback>
#include <QTimer>
#include <QToolButton>

namespace {

const QString DateMask = QStringLiteral("!99/99/0000;1;_");
const QString DateTimeMask = QStringLiteral("!99/99/0000 90:00:00;1;_");
const QString DateTimePattern = QStringLiteral("dd.mm.yyyy hh:nn:ss");
const QString SBadParameters = QStringLiteral("Заполните правильно параметры фильтра!");
const QString SNumbersReversed = QStringLiteral("Конечное значение не должно быть больше начальнго!");
const QString SDatesReversed = QStringLiteral("Конечная дата не должна быть больше начальной!");

constexpr int ValueLength = 200;
constexpr int VariantLength = 30;
constexpr int NumberLength = 20;

QPointer<TfFilterDlg> gFilterDlg;

// A masked date edit's text without the blanks of parts left empty; empty
// when no digit was typed.
QString DateEditText(const QLineEdit* edit)
{
    QString text = edit->text();
    if (!std::any_of(text.begin(), text.end(), [](QChar c) { return c.isDigit(); }))
        return QString();
    while (!text.isEmpty() && !text.back().isDigit())
        text.chop(1);
    return text;
}

// An empty bound counts as 0.
double BoundNumber(const QString& text)
{
    const QString trimmed = text.trimmed();
    return trimmed.isEmpty() ? 0.0 : StrToFloat(trimmed);
}

struct TKindItem
{
    const char* Caption;
    uint8_t Kind;
};

std::vector<TKindItem> KindItems(TFieldCategory category)
{
    switch (category) {
    case fcString:
        return {{"Точное соответствие", fkExact},
                {"Подстрока", fkSubstring},
                {"Список значений", fkValueList},
                {"Несколько подстрок", fkSubstrings}};
    case fcInteger:
    case fcFloat: return {{"Интервал", fkNumberRange}, {"Список значений", fkNumberList}};
    case fcDate:
    case fcDateTime: return {{"Интервал", fkDateRange}, {"Список значений", fkDateList}};
    default: return {};
    }
}

uint8_t DefaultKind(TFieldCategory category)
{
    switch (category) {
    case fcString: return fkSubstring;
    case fcInteger:
    case fcFloat: return fkNumberRange;
    case fcDate:
    case fcDateTime: return fkDateRange;
    case fcBoolean: return fkBoolean;
    default: return fkMarks;
    }
}

QString NumberBoundText(double value)
{
    return FloatToStr(RoundValue(5, value) + 0.0); // + 0.0: no "-0" for a rounded zero
}

QFrame* NewPanel(QWidget* parent, const char* name)
{
    auto* panel = new QFrame(parent);
    panel->setObjectName(QLatin1String(name));
    panel->setGeometry(224, 94, 214, 84);
    return panel;
}

template <typename Widget>
Widget* Named(Widget* widget, const char* name, const QRect& geometry)
{
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(geometry);
    return widget;
}

QLabel* NewLabel(const QString& text, QWidget* parent, const char* name, const QPoint& at)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->move(at);
    label->adjustSize();
    return label;
}

QPushButton* NewButton(const QString& text, QWidget* parent, const char* name, const QRect& geometry)
{
    auto* button = Named(new QPushButton(text, parent), name, geometry);
    button->setAutoDefault(false); // Enter is the form's own business
    return button;
}

} // namespace

TfFilterDlg::TfFilterDlg(QWidget* parent) : TForm(parent)
{
    setObjectName(QStringLiteral("fFilterDlg"));
    setWindowTitle(QStringLiteral("Фильтр записей"));
    SetDesignFont();
    SetClientSize(446, 244);
    SetBorderStyle(bsDialog);
    SetPosition(poMainFormCenter);
    BuildList();
    BuildEditor();
    BuildButtons();
    Connect();
    // Key preview: the form sees the keys of its controls first.
    for (QWidget* child : findChildren<QWidget*>())
        child->installEventFilter(this);
}

TfFilterDlg::~TfFilterDlg() = default;

void TfFilterDlg::BuildList()
{
    Label1 = NewLabel(QStringLiteral("Список фильтров"), this, "Label1", {8, 4});
    Label1->setFont(BoldFont(font()));
    QPalette blue = Label1->palette();
    blue.setColor(QPalette::WindowText, Qt::blue);
    Label1->setPalette(blue);
    Label1->adjustSize();
    lbAllFilters = Named(new QListWidget(this), "lbAllFilters", {8, 20, 430, 68});
}

void TfFilterDlg::BuildEditor()
{
    Label2 = NewLabel(QStringLiteral("Поле фильтрации"), this, "Label2", {8, 94});
    cbFieldName = Named(new QComboBox(this), "cbFieldName", {8, 108, 208, 21});
    rgFType = Named(new QGroupBox(QStringLiteral("Тип фильтра"), this), "rgFType", {8, 132, 208, 78});
    FTypeGroup = new QButtonGroup(this);

    pParam1 = NewPanel(this, "pParam1");
    Label3 = NewLabel(QStringLiteral("Значение"), pParam1, "Label3", {0, 8});
    eValue = Named(new QLineEdit(pParam1), "eValue", {0, 24, 214, 21});
    eValue->setMaxLength(ValueLength);

    pParam2 = NewPanel(this, "pParam2");
    eSingleVar = Named(new QLineEdit(pParam2), "eSingleVar", {0, 0, 162, 21});
    eSingleVar->setMaxLength(VariantLength);
    SpeedButton1 = Named(new QToolButton(pParam2), "SpeedButton1", {166, 0, 22, 21});
    SpeedButton1->setText(QStringLiteral("+"));
    SpeedButton2 = Named(new QToolButton(pParam2), "SpeedButton2", {192, 0, 22, 21});
    SpeedButton2->setText(QStringLiteral("-"));
    lbVariants = Named(new QListWidget(pParam2), "lbVariants", {0, 25, 214, 59});

    pParam31 = NewPanel(this, "pParam31");
    Label4 = NewLabel(QStringLiteral("ОТ"), pParam31, "Label4", {0, 11});
    eFloatBeg = Named(new QLineEdit(pParam31), "eFloatBeg", {28, 8, 186, 21});
    Label5 = NewLabel(QStringLiteral("ДО"), pParam31, "Label5", {0, 39});
    eFloatEnd = Named(new QLineEdit(pParam31), "eFloatEnd", {28, 36, 186, 21});
    eFloatBeg->setMaxLength(NumberLength);
    eFloatEnd->setMaxLength(NumberLength);

    pParam32 = NewPanel(this, "pParam32");
    Label6 = NewLabel(QStringLiteral("С"), pParam32, "Label6", {0, 11});
    eDatBeg = Named(new QLineEdit(pParam32), "eDatBeg", {28, 8, 186, 21});
    Label7 = NewLabel(QStringLiteral("ПО"), pParam32, "Label7", {0, 39});
    eDatEnd = Named(new QLineEdit(pParam32), "eDatEnd", {28, 36, 186, 21});
    SetDateMasks(false);

    pParamsBool = NewPanel(this, "pParamsBool");
    rgBoolValue = Named(new QGroupBox(QStringLiteral("Значение:"), pParamsBool), "rgBoolValue", {0, 0, 214, 84});
    FBoolGroup = new QButtonGroup(this);
    const QString boolItems[] = {QStringLiteral("Да  (есть отметка)"), QStringLiteral("Нет (нет отметки)"),
                                 QStringLiteral("Не задано (серый фон)")};
    for (int i = 0; i < 3; ++i) {
        auto* item = new QRadioButton(boolItems[i], rgBoolValue);
        item->setGeometry(8, 18 + i * 20, 200, 18);
        FBoolGroup->addButton(item, i);
    }
    for (QFrame* panel : {pParam1, pParam2, pParam31, pParam32, pParamsBool})
        panel->hide();
}

void TfFilterDlg::BuildButtons()
{
    btnAdd = NewButton(QStringLiteral("Добавить"), this, "btnAdd", {224, 184, 68, 23});
    btnReplace = NewButton(QStringLiteral("Заменить"), this, "btnReplace", {297, 184, 68, 23});
    btnDel = NewButton(QStringLiteral("Удалить"), this, "btnDel", {370, 184, 68, 23});
    cbSelFilter = Named(new QCheckBox(QStringLiteral("Фильтр по отмеченным записям"), this), "cbSelFilter",
                        {8, 212, 240, 16});
    cbUnSelFilter = Named(new QCheckBox(QStringLiteral("Фильтр по НЕ отмеченным записям"), this), "cbUnSelFilter",
                          {8, 228, 240, 16});
    btnClose = NewButton(QStringLiteral("Применить"), this, "btnClose", {252, 214, 90, 25});
    btnClose->setFont(BoldFont(font()));
    Button1 = NewButton(QStringLiteral("Отмена"), this, "Button1", {348, 214, 90, 25});
}

void TfFilterDlg::Connect()
{
    connect(btnAdd, &QPushButton::clicked, this, [this] { btnAddClick(); });
    connect(btnReplace, &QPushButton::clicked, this, [this] { btnReplaceClick(); });
    connect(btnDel, &QPushButton::clicked, this, [this] { btnDelClick(); });
    connect(btnClose, &QPushButton::clicked, this, [this] { done(mrOk); });
    connect(Button1, &QPushButton::clicked, this, [this] { done(mrCancel); });
    connect(SpeedButton1, &QToolButton::clicked, this, [this] { SpeedButton1Click(); });
    connect(SpeedButton2, &QToolButton::clicked, this, [this] { SpeedButton2Click(); });
    connect(lbAllFilters, &QListWidget::currentRowChanged, this, [this] { lbAllFiltersClick(); });
    connect(cbFieldName, &QComboBox::currentIndexChanged, this, [this] { cbFieldNameChange(); });
    connect(FTypeGroup, &QButtonGroup::idToggled, this, [this](int, bool checked) {
        if (checked)
            rgFTypeClick();
    });
    connect(FBoolGroup, &QButtonGroup::idToggled, this, [this](int, bool checked) {
        if (checked)
            LiveUpdate();
    });
    for (QLineEdit* edit : {eValue, eFloatBeg, eFloatEnd, eDatBeg, eDatEnd})
        connect(edit, &QLineEdit::textChanged, this, [this] { LiveUpdate(); });
    // The two mark boxes exclude each other.
    connect(cbSelFilter, &QCheckBox::toggled, this, [this](bool on) {
        if (on)
            cbUnSelFilter->setChecked(false);
    });
    connect(cbUnSelFilter, &QCheckBox::toggled, this, [this](bool on) {
        if (on)
            cbSelFilter->setChecked(false);
    });
}

// ---------------------------------------------------------------- the editor

TField* TfFilterDlg::ChosenField() const
{
    const int index = cbFieldName->currentIndex();
    return index >= 0 && static_cast<size_t>(index) < FFields.size() ? FFields[static_cast<size_t>(index)] : nullptr;
}

TFieldCategory TfFilterDlg::ChosenCategory() const
{
    const TField* field = ChosenField();
    return field ? FieldCategory(*field) : fcOther;
}

uint8_t TfFilterDlg::ChosenKind() const
{
    const TFieldCategory category = ChosenCategory();
    if (category == fcBoolean || category == fcOther)
        return DefaultKind(category);
    const int index = FilterTypeIndex();
    return index >= 0 && static_cast<size_t>(index) < FTypeKinds.size() ? FTypeKinds[static_cast<size_t>(index)]
                                                                        : DefaultKind(category);
}

int TfFilterDlg::FilterTypeIndex() const { return FTypeGroup->checkedId(); }

void TfFilterDlg::SetFilterTypeIndex(int index)
{
    if (QAbstractButton* item = FTypeGroup->button(index))
        item->setChecked(true);
}

int TfFilterDlg::BoolValueIndex() const { return FBoolGroup->checkedId(); }

void TfFilterDlg::SetBoolValueIndex(int index)
{
    if (QAbstractButton* item = FBoolGroup->button(index))
        item->setChecked(true);
}

QList<QRadioButton*> TfFilterDlg::FilterTypeItems() const
{
    QList<QRadioButton*> items;
    for (QAbstractButton* button : FTypeGroup->buttons())
        items << static_cast<QRadioButton*>(button);
    std::sort(items.begin(), items.end(), [this](auto* a, auto* b) { return FTypeGroup->id(a) < FTypeGroup->id(b); });
    return items;
}

void TfFilterDlg::OfferKinds()
{
    OfferKindsOfField();
    ShowPanel();
}

void TfFilterDlg::OfferKindsOfField()
{
    const QScopedValueRollback<bool> loading(FLoading, true);
    for (QAbstractButton* button : FTypeGroup->buttons()) {
        FTypeGroup->removeButton(button);
        delete button;
    }
    FTypeKinds.clear();
    const TFieldCategory category = ChosenCategory();
    const std::vector<TKindItem> items = KindItems(category);
    for (size_t i = 0; i < items.size(); ++i) {
        auto* item = new QRadioButton(QString::fromUtf8(items[i].Caption), rgFType);
        item->setGeometry(8, 16 + static_cast<int>(i) * 15, 194, 15);
        item->installEventFilter(this);
        item->show();
        FTypeGroup->addButton(item, static_cast<int>(i));
        FTypeKinds.push_back(items[i].Kind);
        if (items[i].Kind == DefaultKind(category))
            item->setChecked(true);
    }
    SetDateMasks(category == fcDateTime);
}

void TfFilterDlg::ShowPanel()
{
    QFrame* shown = nullptr;
    switch (ChosenKind()) {
    case fkSubstring:
    case fkExact: shown = pParam1; break;
    case fkValueList:
    case fkNumberList:
    case fkDateList:
    case fkSubstrings: shown = pParam2; break;
    case fkNumberRange: shown = pParam31; break;
    case fkDateRange: shown = pParam32; break;
    case fkBoolean: shown = pParamsBool; break;
    default: break;
    }
    for (QFrame* panel : {pParam1, pParam2, pParam31, pParam32, pParamsBool})
        panel->setVisible(panel == shown);
}

void TfFilterDlg::SetDateMasks(bool withTime)
{
    FDateMaskWithTime = withTime;
    const QString mask = QtInputMask(withTime ? DateTimeMask : DateMask, TMaskSeparators::Escaped);
    const QScopedValueRollback<bool> loading(FLoading, true);
    for (QLineEdit* edit : {eDatBeg, eDatEnd})
        if (edit->inputMask() != mask)
            edit->setInputMask(mask);
}

void TfFilterDlg::cbFieldNameChange()
{
    OfferKinds();
    if (FReady && !FLoading)
        LiveUpdate();
}

void TfFilterDlg::rgFTypeClick()
{
    ShowPanel();
    if (FReady)
        LiveUpdate();
}

void TfFilterDlg::Prefill(const TField& field)
{
    const QScopedValueRollback<bool> loading(FLoading, true);
    switch (FieldCategory(field)) {
    case fcString: eValue->setText(field.Text()); break;
    case fcDate:
        eDatBeg->setText(field.Text());
        eDatEnd->setText(field.Text());
        break;
    case fcDateTime: {
        const QString text = field.IsNull() ? QString() : FormatDateTime(DateTimePattern, field.AsDateTime());
        eDatBeg->setText(text);
        eDatEnd->setText(text);
        break;
    }
    case fcBoolean: SetBoolValueIndex(field.IsNull() ? 2 : field.AsBoolean() ? 0 : 1); break;
    case fcInteger:
    case fcFloat: {
        // An empty field leaves the bounds empty rather than at 0.
        const QString text = field.IsNull() ? QString() : NumberBoundText(field.AsFloat());
        eFloatBeg->setText(text);
        eFloatEnd->setText(text);
        break;
    }
    case fcOther: break;
    }
}

void TfFilterDlg::LoadFilter(const TFieldFilter& filter)
{
    const auto at = std::find(FFields.begin(), FFields.end(), filter.Field);
    if (at == FFields.end())
        return;
    const QScopedValueRollback<bool> loading(FLoading, true);
    cbFieldName->setCurrentIndex(static_cast<int>(at - FFields.begin()));
    OfferKinds();
    switch (filter.Kind) {
    case fkSubstring:
    case fkNumberList:
    case fkDateList: SetFilterTypeIndex(1); break;
    case fkValueList: SetFilterTypeIndex(2); break;
    case fkSubstrings: SetFilterTypeIndex(3); break;
    default: SetFilterTypeIndex(0); break;
    }
    ShowPanel();
    const auto dateText = [this](TDateTime value) {
        if (!FDateMaskWithTime)
            return DateToStr(value);
        return value == 0 ? QString() : FormatDateTime(DateTimePattern, value);
    };
    switch (filter.Kind) {
    case fkSubstring:
    case fkExact: eValue->setText(filter.Value); break;
    case fkValueList:
    case fkSubstrings:
        lbVariants->clear();
        lbVariants->addItems(filter.Strings);
        break;
    case fkNumberList:
        lbVariants->clear();
        for (double number : filter.Numbers)
            lbVariants->addItem(FloatToStr(number));
        break;
    case fkDateList:
        lbVariants->clear();
        for (TDateTime date : filter.Dates)
            lbVariants->addItem(dateText(date));
        break;
    case fkNumberRange:
        eFloatBeg->setText(FloatToStr(filter.NumberFrom));
        eFloatEnd->setText(FloatToStr(filter.NumberTo));
        break;
    case fkDateRange:
        eDatBeg->setText(dateText(filter.DateFrom));
        eDatEnd->setText(dateText(filter.DateTo));
        break;
    case fkBoolean: SetBoolValueIndex(filter.BoolValue == 1 ? 0 : filter.BoolValue == 0 ? 1 : 2); break;
    default: break;
    }
}

std::unique_ptr<TFieldFilter> TfFilterDlg::BuildFilter(bool showErrors) const
{
    TField* field = ChosenField();
    if (!field)
        return nullptr;
    auto filter = std::make_unique<TFieldFilter>(field, ChosenKind());
    try {
        FillFilter(*filter, showErrors);
        return filter;
    } catch (const EConvertError&) {
        if (showErrors)
            MessageDlg(SBadParameters, mtWarning, {mbOK});
    } catch (const Exception& error) {
        if (showErrors)
            MessageDlg(error.Message(), mtError, {mbOK});
    }
    return nullptr;
}

void TfFilterDlg::FillFilter(TFieldFilter& filter, bool showErrors) const
{
    QStringList items;
    for (int i = 0; i < lbVariants->count(); ++i)
        items << lbVariants->item(i)->text();
    const bool withTime = ChosenCategory() == fcDateTime;
    const auto toDate = [withTime](const QString& text) { return withTime ? StrToDateTime(text) : StrToDate(text); };
    switch (filter.Kind) {
    case fkSubstring:
    case fkExact: filter.Value = eValue->text(); break;
    case fkValueList:
    case fkSubstrings: filter.Strings = items; break;
    case fkNumberRange:
        filter.NumberFrom = BoundNumber(eFloatBeg->text());
        filter.NumberTo = BoundNumber(eFloatEnd->text());
        if (showErrors && filter.NumberTo < filter.NumberFrom)
            throw Exception(SNumbersReversed);
        break;
    case fkNumberList:
        for (const QString& item : items)
            filter.Numbers.push_back(StrToFloat(item));
        break;
    case fkDateRange:
        filter.DateFrom = toDate(DateEditText(eDatBeg));
        filter.DateTo = toDate(DateEditText(eDatEnd));
        if (showErrors && filter.DateTo < filter.DateFrom)
            throw Exception(SDatesReversed);
        break;
    case fkDateList:
        for (const QString& item : items)
            filter.Dates.push_back(toDate(item));
        break;
    case fkBoolean: filter.BoolValue = BoolValueIndex() == 0 ? 1 : BoolValueIndex() == 1 ? 0 : -1; break;
    default: break;
    }
}

// ---------------------------------------------------------------- the list

void TfFilterDlg::AddFilter(bool showErrors)
{
    std::unique_ptr<TFieldFilter> filter = BuildFilter(showErrors);
    if (!filter)
        return;
    FFilters.push_back(std::move(filter));
    RebuildLines();
    const QSignalBlocker quiet(lbAllFilters);
    lbAllFilters->setCurrentRow(lbAllFilters->count() - 1);
}

void TfFilterDlg::btnAddClick() { AddFilter(true); }

void TfFilterDlg::btnReplaceClick()
{
    const int row = lbAllFilters->currentRow();
    if (row < 0 || static_cast<size_t>(row) >= FFilters.size())
        return;
    std::unique_ptr<TFieldFilter> filter = BuildFilter(false);
    if (!filter)
        return;
    FFilters[static_cast<size_t>(row)] = std::move(filter);
    RebuildLines();
}

void TfFilterDlg::btnDelClick()
{
    const int row = lbAllFilters->currentRow();
    if (row < 0 || static_cast<size_t>(row) >= FFilters.size())
        return;
    FFilters.erase(FFilters.begin() + row);
    RebuildLines();
}

void TfFilterDlg::lbAllFiltersClick()
{
    const int row = lbAllFilters->currentRow();
    if (row >= 0 && static_cast<size_t>(row) < FFilters.size())
        LoadFilter(*FFilters[static_cast<size_t>(row)]);
}

void TfFilterDlg::RebuildLines()
{
    const QSignalBlocker quiet(lbAllFilters);
    const int selected = lbAllFilters->currentRow();
    lbAllFilters->clear();
    for (const auto& filter : FFilters)
        lbAllFilters->addItem(filter->Description());
    const int count = lbAllFilters->count();
    lbAllFilters->setCurrentRow(selected >= 0 && selected < count ? selected : count - 1);
}

void TfFilterDlg::LiveUpdate()
{
    if (FReady && !FLoading)
        btnReplaceClick();
}

void TfFilterDlg::SpeedButton1Click()
{
    const QString item = eSingleVar->text().trimmed();
    if (!item.isEmpty())
        lbVariants->addItem(item);
    eSingleVar->clear();
    LiveUpdate();
}

void TfFilterDlg::SpeedButton2Click()
{
    delete lbVariants->currentItem();
    if (lbVariants->count() > 0)
        lbVariants->setCurrentRow(0);
    LiveUpdate();
}

// ---------------------------------------------------------------- showing

bool TfFilterDlg::Execute(TSDataSource* dataSource, TField* field, TFieldFilters& filters)
{
    FReady = false;
    FAddOnShow = false;
    FDataSet = dataSource ? dataSource->DataSet() : nullptr;
    ClearEditor();
    CopyFilters(filters);
    OfferFields();
    RebuildLines();
    StartAt(field);
    const bool applied = exec() == mrOk;
    FReady = false;
    if (applied)
        HandOver(filters);
    FFilters.clear();
    return applied;
}

void TfFilterDlg::ClearEditor()
{
    const QScopedValueRollback<bool> loading(FLoading, true);
    FFilters.clear();
    FFields.clear();
    const QSignalBlocker quietFields(cbFieldName);
    cbFieldName->clear();
    cbSelFilter->setChecked(false);
    cbUnSelFilter->setChecked(false);
    for (QLineEdit* edit : {eValue, eSingleVar, eFloatBeg, eFloatEnd, eDatBeg, eDatEnd})
        edit->clear();
    lbVariants->clear();
}

void TfFilterDlg::CopyFilters(const TFieldFilters& filters)
{
    for (const auto& filter : filters) {
        if (filter->Kind == fkMarks)
            (filter->Unmarked ? cbUnSelFilter : cbSelFilter)->setChecked(true);
        else
            FFilters.push_back(std::make_unique<TFieldFilter>(*filter));
    }
}

void TfFilterDlg::OfferFields()
{
    if (!FDataSet)
        return;
    const QSignalBlocker quietFields(cbFieldName);
    for (TField* field : FDataSet->Fields()) {
        const TFieldCategory category = FieldCategory(*field);
        if (category == fcOther)
            continue;
        FFields.push_back(field);
        cbFieldName->addItem(field->DisplayName() + QStringLiteral(" (") + FieldCategoryText(category)
                             + QLatin1Char(')'));
    }
}

void TfFilterDlg::StartAt(TField* field)
{
    const auto offered = std::find(FFields.begin(), FFields.end(), field);
    FFieldOffered = offered != FFields.end();
    const auto existing = std::find_if(FFilters.begin(), FFilters.end(),
                                       [field](const auto& filter) { return filter->Field == field; });
    if (FFieldOffered && existing != FFilters.end()) {
        const QSignalBlocker quiet(lbAllFilters);
        lbAllFilters->setCurrentRow(static_cast<int>(existing - FFilters.begin()));
        LoadFilter(**existing);
        return;
    }
    {
        const QSignalBlocker quietFields(cbFieldName);
        cbFieldName->setCurrentIndex(FFieldOffered ? static_cast<int>(offered - FFields.begin())
                                                   : (FFields.empty() ? -1 : 0));
    }
    OfferKinds();
    // A field that cannot be filtered prefills nothing and adds nothing: a
    // filter made from an empty editor would hide records at random.
    if (FFieldOffered) {
        Prefill(*field);
        FAddOnShow = true;
    }
}

void TfFilterDlg::HandOver(TFieldFilters& filters)
{
    filters = std::move(FFilters);
    if (cbSelFilter->isChecked() || cbUnSelFilter->isChecked()) {
        auto marks = std::make_unique<TFieldFilter>(nullptr, fkMarks);
        marks->Unmarked = cbUnSelFilter->isChecked() ? 1 : 0;
        filters.push_back(std::move(marks));
    }
}

QWidget* TfFilterDlg::EditorOfChosenField() const
{
    switch (ChosenKind()) {
    case fkSubstring:
    case fkExact: return eValue;
    case fkValueList:
    case fkNumberList:
    case fkDateList:
    case fkSubstrings: return eSingleVar;
    case fkNumberRange: return eFloatBeg;
    case fkDateRange: return eDatBeg;
    case fkBoolean: {
        QAbstractButton* checked = FBoolGroup->checkedButton();
        return checked ? checked : FBoolGroup->button(2);
    }
    default: return btnClose;
    }
}

void TfFilterDlg::showEvent(QShowEvent* event)
{
    TForm::showEvent(event);
    if (FAddOnShow) {
        FAddOnShow = false;
        AddFilter(false);
    }
    QWidget* editor = FFieldOffered ? EditorOfChosenField() : btnClose;
    editor->setFocus();
    if (auto* edit = qobject_cast<QLineEdit*>(editor))
        edit->selectAll();
    FReady = true;
}

bool TfFilterDlg::FormKeyDown(QKeyEvent* event, QObject* watched)
{
    switch (event->key()) {
    case Qt::Key_Escape: done(mrCancel); return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (watched == eValue || watched == eFloatEnd || watched == eDatEnd)
            done(mrOk);
        else if (watched == eDatBeg)
            eDatEnd->setFocus();
        else if (watched == eFloatBeg)
            eFloatEnd->setFocus();
        else if (auto* button = qobject_cast<QPushButton*>(watched))
            button->click();
        else
            focusNextChild();
        return true;
    default: return false;
    }
}

bool TfFilterDlg::eventFilter(QObject* watched, QEvent* event)
{
    const auto* widget = qobject_cast<QWidget*>(watched);
    // Keys are taken where they start, at a control that can have the focus.
    if (event->type() == QEvent::KeyPress && widget && widget->focusPolicy() != Qt::NoFocus
        && FormKeyDown(static_cast<QKeyEvent*>(event), watched))
        return true;
    // Entering an edit selects its text (after the click that entered it).
    if (event->type() == QEvent::FocusIn)
        if (auto* edit = qobject_cast<QLineEdit*>(watched))
            QTimer::singleShot(0, edit, &QLineEdit::selectAll);
    return TForm::eventFilter(watched, event);
}

void TfFilterDlg::keyPressEvent(QKeyEvent* event)
{
    if (!FormKeyDown(event, this))
        TForm::keyPressEvent(event);
}

// ---------------------------------------------------------------- the unit

TfFilterDlg* fFilterDlg() { return gFilterDlg; }

bool ShowFilterDialog(TSDataSource* dataSource, TField* field, TFieldFilters& filters)
{
    if (!gFilterDlg) {
        gFilterDlg = new TfFilterDlg();
        // Lives as long as the program's event loop, like any form the
        // application owns.
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, gFilterDlg, &QObject::deleteLater);
    }
    return gFilterDlg->Execute(dataSource, field, filters);
}
