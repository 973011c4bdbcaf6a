// The one place where the program's Windows-1252 byte strings meet Qt's Unicode strings.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace zibu {

QString ToQ(std::string_view cp1252);
// A text held twice, as Windows-1252 and in UTF-8 with the characters Windows-1252 lacks: the
// UTF-8 one where there is one (an empty one means the two are the same).
QString ToQ(std::string_view cp1252, std::string_view utf8);
// Characters with no Windows-1252 byte become "?".
std::string FromQ(const QString& text);

}  // namespace zibu
