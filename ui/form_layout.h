// How the option pages lay out a group of fields: each group one form, labels
// in one column and fields beside them, the label column as wide on every
// group of a page so that all fields start at the same place, and numeric
// fields as wide as their digits rather than the whole row.
//
// User-interface thread only.
#pragma once

#include <QString>

#include <initializer_list>

class QFormLayout;
class QGroupBox;
class QLayout;
class QLineEdit;
class QWidget;

namespace kestrel {

// The form of `box`: fields grow to the row's width unless they say otherwise.
QFormLayout* GroupForm(QGroupBox* box);
// A row with the label `label` (its mnemonic leading to `field`).
void AddFormRow(QFormLayout* form, const QString& label, QWidget* field);
void AddFormRow(QFormLayout* form, const QString& label, QLayout* fields, QWidget* buddy);
// Gives every label of `forms` the width of the widest, so that the fields of
// all groups start in one column.
void AlignFormLabels(std::initializer_list<QFormLayout*> forms);
// A numeric field as wide as `digits` digits, not the whole row.
void SizeToDigits(QLineEdit* edit, int digits);

}  // namespace kestrel
