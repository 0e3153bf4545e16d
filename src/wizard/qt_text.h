#pragma once
#include <QString>
#include <string>
#include <string_view>

// The wizard's files hold bytes. Text that is valid UTF-8 is shown as such; anything else is
// taken as ISO-8859-1 (the code page older settings files were written in), so every byte shows
// as some character instead of being dropped. What the owner types goes back out as UTF-8.
QString ToQString(std::string_view bytes);
std::string FromQString(const QString& text);
