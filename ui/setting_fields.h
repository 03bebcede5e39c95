// How the option pages put a setting into its control and take it back, one
// pair of functions per kind of value: texts in line edits, flags in check
// boxes, list choices in combo boxes (the entry's index is the stored number).
// The settings record holds flags as bool and choices as enumerations; the
// conversions here take the member as it is, so a page names only the member.
//
// User-interface thread only; nothing here fails (a choice outside the list
// shows as no selection and reads back as -1).
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QString>

#include <array>
#include <string>
#include <string_view>

namespace kestrel {

inline void ShowText(QLineEdit* field, const std::string& value) { field->setText(QString::fromStdString(value)); }
inline void ReadText(const QLineEdit* field, std::string& value) { value = field->text().toStdString(); }

template <class Flag>
void ShowFlag(QCheckBox* box, Flag value) {
  box->setChecked(static_cast<bool>(value));
}
template <class Flag>
void ReadFlag(const QCheckBox* box, Flag& value) {
  value = static_cast<Flag>(box->isChecked());
}

// Fills `box` with the words of a choice list (core/setting_choices.h).
template <std::size_t N>
void AddChoices(QComboBox* box, const std::array<std::string_view, N>& words) {
  for (std::string_view word : words) box->addItem(QString::fromLatin1(word.data(), static_cast<int>(word.size())));
}
template <class Choice>
void ShowChoice(QComboBox* box, Choice value) {
  const int index = static_cast<int>(value);
  box->setCurrentIndex(index >= 0 && index < box->count() ? index : -1);
}
template <class Choice>
void ReadChoice(const QComboBox* box, Choice& value) {
  value = static_cast<Choice>(box->currentIndex());
}

}  // namespace kestrel
