// The typed value dialog: asks for one value of a required kind (integer,
// fractional number, date or string) and returns it as a variant. The group
// operations ask their replacement values and operands with it.
#pragma once

#include "Forms.h"
#include "Variant.h"

#include <cstdint>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The kind of value asked for; one byte, as callers store it.
enum TValueKind : uint8_t {
    vkNone = 0,    // not set: the dialog refuses to open
    vkInteger = 1, // decimal integer
    vkFloat = 2,   // fractional number, with the user's decimal separator
    vkDate = 3,    // date in the user's short date format
    vkString = 4,  // text without leading and trailing blanks
};

class TFKORGR : public TForm
{
    Q_OBJECT
public:
    explicit TFKORGR(QWidget* parent = nullptr);

    QGroupBox* GroupBox1;
    QLineEdit* MaskEdit1;
    QLabel* Label1;
    QLabel* Label2;
    QPushButton* Button1;
    QPushButton* Button2;

    uint8_t ValueKind() const { return FValueKind; }
    void SetValueKind(uint8_t kind) { FValueKind = kind; }
    // The kind the entry converted to; 0 until an entry converts.
    uint8_t AcceptedKind() const { return FAcceptedKind; }
    // The converted entry; empty until an entry converts.
    const Variant& Value() const { return FValue; }

    // Prepares the dialog for a new question (raises when no kind is set),
    // then shows it modally and returns how it was closed.
    int ShowModal();

    // Raises when the value kind is not set, else empties the entry and the
    // result and shows the kind asked for.
    void FormShow();
    void Button1Click();
    void Button2Click();
    // Enter and Esc that no control took: OK and Cancel.
    bool FormKeyDown(QKeyEvent* event);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    uint8_t FValueKind = vkNone;
    uint8_t FAcceptedKind = vkNone;
    Variant FValue;
};

// Asks for a value of the kind with caption as the question; true with the
// value when the user confirmed an entry that converts. Raises when no kind
// is set.
bool AskTypedValue(const QString& caption, uint8_t kind, Variant& value);
