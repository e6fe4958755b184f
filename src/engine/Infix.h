// Arithmetic expression evaluator of the calculator, and the process-wide
// store of the calculator's user variables.
//
// An expression holds unsigned numbers (digits, optional "." fraction,
// optional e/E exponent up to 37), + - * /, parentheses, a sign in front of
// the first term (-2*3 is -(2*3); 2*-3 is an error), blanks (the space
// character only) between tokens, and the functions ABS, ARCTAN, COS, EXP,
// LN, PI, SIN, SQR and SQRT in any case. Values whose decimal magnitude falls
// below -37 become 0; above 37 they are an overflow error.
//
// Errors never throw: Evaluate returns the partial value, sets the error
// position and leaves "Error:  <what>." in LastErrorMessage (text left over
// after a complete expression: "Error:  expression followed by garbage").
//
// Positions are 1-based characters (UTF-16 units) of the text; an error found
// at the end of the text is at its length + 1. Texts of any length are
// evaluated whole, not cut at 255 characters, so an error past the 255th
// character is reported at its true position (256 and on), never wrapped to
// 0 or cut short. The one limit a long text can reach is nesting: more than
// 255 open parentheses (which no text of 255 characters can hold) fail with
// "parentheses are nested too deeply" at the 256th "(". Messages are cut to
// 255 characters.
//
// Not reentrant: one evaluation at a time, from the GUI thread.
#pragma once

#include <QString>

// The value of text; errorPosition is 0 when the text was evaluated in full.
long double Evaluate(const QString& text, qsizetype& errorPosition);

// Message of the most recent error; a successful evaluation leaves it as it is.
QString LastErrorMessage();

// Names are cut to 20 characters and compared with case. Entries are kept in
// insertion order and never removed.
void SetVariable(const QString& name, long double value);
// 0 with notFound set when no entry has that name.
long double GetVariable(const QString& name, bool& notFound);
