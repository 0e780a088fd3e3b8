#pragma once

#include <QString>

// The statements on the tasks table, as the task service runs them. A list statement takes
// " AND name LIKE :name" when filtered by name and " AND active = :active" when filtered by
// the Done flag.
namespace TaskSql {

QString stamp();
QString counters();
QString countMatching(bool byName, bool byDone);
QString pageRows(bool byName, bool byDone);
QString insert();
QString update();
QString remove();
QString removeDone();
QString firstDue();
QString dueBetween();

} // namespace TaskSql
