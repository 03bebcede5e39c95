// The desktop programs' pictures, drawn in code so that no image files are
// needed: the program icon (also Jotter's), the tray icon and the 16-pixel
// images of the forwarding lists. Drawing cannot fail. User-interface thread
// only.
#pragma once

#include <QIcon>

namespace kestrel {

QIcon ProgramIcon();
QIcon TrayIconImage();
// Image `index` of the forwarding image strip: 0 a caller's fax (the
// Forwarding page), 1 a mail, 2 a subscriber number (the MSN page).
QIcon ForwardingImage(int index);

}  // namespace kestrel
