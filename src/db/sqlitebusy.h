#pragma once

#include <QSqlError>

namespace SqliteBusy {

// Whether a statement failed because another connection or process holds the database file:
// SQLite's "busy" and "locked", also in their extended forms.
inline bool lockedOut(const QSqlError &error)
{
    const int code = error.nativeErrorCode().toInt() & 0xff;
    return code == 5 || code == 6;
}

} // namespace SqliteBusy
