// The one place where the program's Windows-1252 byte strings meet Qt's Unicode strings.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace zibu {

QString ToQ(std::string_view cp1252);
// Characters with no Windows-1252 byte become "?".
std::string FromQ(const QString& text);

}  // namespace zibu
