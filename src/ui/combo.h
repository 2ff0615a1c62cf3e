#pragma once
#include <QString>

class QComboBox;

// The list position a box holds: the entry its text equals, -1 when the text
// (typed or set) is not an entry. A pick-only box answers its current index.
int listPosition(const QComboBox* box);
// Sets a box's text; a text equal to an entry selects that entry.
void setBoxText(QComboBox* box, const QString& text);
// Selects a list position; -1 leaves the box with no entry and an empty text.
// A position the box does not have changes nothing.
void setListPosition(QComboBox* box, int position);
