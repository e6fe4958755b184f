// The grid's search: the first row at or after a start (or before it, going
// up) whose text in a column matches, and the modal dialog that asks for the
// text and the column and moves the grid there. The grid opens the dialog
// with the search shortcut (GridSearchShortcut).
#pragma once

#include <QDialog>
#include <QKeyCombination>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QRadioButton;
class TDBGridEx;

enum class TSearchMatch { Anywhere, FromStart, Whole };

struct TGridSearchOptions
{
    TSearchMatch Match = TSearchMatch::Anywhere;
    bool CaseSensitive = false;
    bool Backward = false;
};

// The model row of the first match from start (inclusive) in the search's
// direction; -1 when none. The data set's cursor does not move.
int FindInGrid(const TDBGridEx& grid, int column, const QString& text, const TGridSearchOptions& options, int start);

// The key that opens the search dialog in every grid (Ctrl+F unless set).
QKeyCombination& GridSearchShortcut();

class TDBGridSearchDlg : public QDialog
{
    Q_OBJECT
public:
    // An empty text or field leaves the dialog's own choice (the selected column).
    TDBGridSearchDlg(TDBGridEx& grid, const QString& text = {}, const QString& fieldName = {});

    QLineEdit* TextEdit() const { return FText; }
    QComboBox* ColumnBox() const { return FColumns; }
    QComboBox* MatchBox() const { return FMatch; }
    QCheckBox* CaseBox() const { return FCase; }
    QRadioButton* BackwardButton() const { return FBackward; }
    // Searches from the row after the current one (before it, going up);
    // moves the grid to the match, or tells the user there is none.
    bool FindNext();

private:
    TDBGridEx& FGrid;
    QLineEdit* FText;
    QComboBox* FColumns;
    QComboBox* FMatch;
    QCheckBox* FCase;
    QRadioButton* FBackward;
};

// Opens the dialog for the grid, modally.
void ShowGridSearchDialog(TDBGridEx& grid, const QString& text = {}, const QString& fieldName = {});
