#pragma once

#include <QIcon>

// The program's icon at every size it is drawn in (task bar, title bar,
// About box), built into the executable so that a moved or uninstalled
// copy keeps it.
QIcon DuoramicIcon();
