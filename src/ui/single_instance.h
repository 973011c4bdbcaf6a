// One running program per home folder answers a second start: the second start asks the first,
// over a local socket named after the home, to come to the front, and ends quietly when it says
// it did. Nothing answers when the home's lock is held by something else (a command-line tool,
// a program that hangs); the second start then explains that the home is in use.
#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <string>

class QLocalServer;
class QObject;

namespace zibu {

// The socket's name for a home: the same for every spelling of the same folder, different for
// different folders and different users.
QString InstanceSocketName(const std::string& homeFolder);

// Listens on the home's socket; every request to come forward calls `raise` on this thread's
// event loop and is answered. Call only while holding the home's lock: a socket left behind by
// a program that died is taken over. Null when the socket cannot be set up (the program runs on
// without it).
std::unique_ptr<QLocalServer> ListenForRaise(const std::string& homeFolder, std::function<void()> raise,
                                             QObject* parent = nullptr);

// Asks the program listening on the home's socket to come forward; true when it answered within
// `timeoutMs`. Blocks the calling thread (no event loop is needed).
bool AskRunningToRaise(const std::string& homeFolder, int timeoutMs = 2000);

}  // namespace zibu
