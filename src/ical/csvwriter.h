#pragma once

#include "icaltask.h"

#include <QByteArray>
#include <QList>

// Writes tasks as CSV (RFC 4180, UTF-8) that a spreadsheet opens without running any cell.
class CsvWriter
{
public:
    static QByteArray write(const QList<IcalTask> &tasks);
    // The same in pieces: the header line, then the rows of tasks[from, to).
    static QByteArray header();
    static QByteArray writeRows(const QList<IcalTask> &tasks, qsizetype from, qsizetype to);
};
