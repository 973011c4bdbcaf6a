// The program's icons, drawn in code so the program needs no resource files.
#pragma once

#include <QIcon>

namespace zibu {

QIcon MainIcon();    // the program and tray icon
QIcon FeedsIcon();   // the orange feeds icon
QIcon WebIcon();     // the web (page monitor) icon
QIcon SpiderIcon();  // web search
QIcon SaveIcon();
QIcon HomeIcon();

}  // namespace zibu
