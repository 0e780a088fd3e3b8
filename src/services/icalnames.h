#pragma once

#include <QLatin1String>
#include <QStringView>

// Property and component names of iCalendar text, which compare regardless of case.
namespace IcalNames {

// Whether text holds name (in capitals) in any mix of cases: a search for its first letter in
// either case, the rest compared where it is found. (A search regardless of case through every
// character costs several times as much, for each task an import saves.)
inline bool mentions(QStringView text, QLatin1String name)
{
    const QChar first(QLatin1Char(name.front()));
    for (const QChar letter : { first, first.toLower() }) {
        for (qsizetype at = text.indexOf(letter); at >= 0 && at + name.size() <= text.size();
             at = text.indexOf(letter, at + 1)) {
            if (text.sliced(at, name.size()).compare(name, Qt::CaseInsensitive) == 0)
                return true;
        }
    }
    return false;
}

} // namespace IcalNames
