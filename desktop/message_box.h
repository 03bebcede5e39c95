// Message boxes of the desktop programs: modal, captioned with the program's
// title ("Brightwater Kestrel" in the tray program, "Jotter" in the viewer),
// with one icon rule: a box with only OK and no icon of its own shows the
// exclamation icon, a yes/no question the question icon.
//
// Call on the user-interface thread only.
#pragma once

#include <QString>

class QWidget;

namespace kestrel {

enum class BoxButtons { kOk, kYesNo };
enum class BoxIcon { kDefault, kInformation, kExclamation, kStop, kQuestion };
enum class BoxResult { kOk, kYes, kNo };

// Shows `text` modally over `parent` (may be null) and returns the button
// pressed; closing a yes/no box counts as No, an OK box as OK.
BoxResult ShowMessageBox(QWidget* parent, const QString& text, BoxButtons buttons = BoxButtons::kOk,
                         BoxIcon icon = BoxIcon::kDefault);

// The caption every box carries. Not Qt's application display name: Qt would
// append that to every window title ("Kestrel Settings — ...").
void SetMessageBoxCaption(const QString& caption);
QString MessageBoxCaption();

}  // namespace kestrel
