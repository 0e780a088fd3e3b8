#pragma once

#include <QList>
#include <QStringList>

namespace Schema {

// A released step is never changed: a new column, table or conversion is a new step at the end
// of the list, and the version a file has says exactly which steps it went through. A step is
// SQL only (ALTER TABLE ... ADD COLUMN, CREATE TABLE, UPDATE to fill a new column from the old
// ones); it runs in one transaction with the new version number, so that a file never holds
// half of it. A step that replaces an index, the search index or its triggers drops them, and
// DbManager makes them again from the definitions in schema.cpp.
struct Step
{
    int version;
    const char *what;
    QStringList statements;
};

// Every step, in order, the first numbered 1.
const QList<Step> &steps();

} // namespace Schema
