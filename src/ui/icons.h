// The program's icons: its own, the one installed for the desktop, from the program's resources;
// the tool bar's drawn in code.
#pragma once

#include <QIcon>

namespace zibu {

QIcon MainIcon();    // the program's windows and tray icon
QIcon FeedsIcon();   // the orange feeds icon
QIcon WebIcon();     // the web (page monitor) icon
QIcon SpiderIcon();  // web search
QIcon SaveIcon();
QIcon HomeIcon();

}  // namespace zibu
