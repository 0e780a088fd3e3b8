#pragma once

#include <QString>

// The XDG autostart entry (~/.config/autostart/) that starts the program in the background
// when the person logs in.
class AutostartEntry
{
public:
    static QString path();
    static bool exists();
    // Writes the entry for the running executable, or removes it; false when that failed.
    static bool setEnabled(bool enabled);
};
