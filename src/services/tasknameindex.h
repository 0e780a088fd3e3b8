#pragma once

#include "taskcountcache.h"

#include <QByteArray>
#include <QString>

#include <string>
#include <vector>

// The names and Done flags of one account's tasks, in the list's order, held so that a search
// finds all its matches and any page of them without reading the table: SQLite's LIKE has to
// look at every name of the account, and at a million tasks that takes several frames.
//
// A name is held as the bytes LIKE compares (ASCII letters in small letters, cut at the first
// NUL); one that LIKE never matches (NULL, a BLOB where this SQLite refuses those) is held as
// such. Matching follows SQLite's own LIKE exactly: "%" any run of characters, "_" one UTF-8
// character as SQLite reads it, ASCII letters regardless of case, other letters as they are.
class TaskNameIndex
{
public:
    // What the index holds nothing of, or of another account or data.
    bool holds(const DataStamp &stamp, qint64 userId) const
    {
        return m_ready && m_userId == userId && m_stamp == stamp;
    }
    bool isReady() const { return m_ready; }
    qint64 userId() const { return m_userId; }
    qsizetype size() const { return qsizetype(m_ids.size() - m_removed); }
    // Changes whenever an entry may have moved to another place: places found by match()
    // hold only while it stays the same.
    quint64 generation() const { return m_generation; }
    // The memory the index takes, in bytes.
    size_t bytes() const;

    void clear();
    // Filling: begin, then the tasks from the front of the list to its end, then finish with
    // the stamp of the data they were read from.
    void begin(qint64 userId);
    // A name LIKE never matches (NULL, or a BLOB where this SQLite refuses those) is not
    // matchable.
    void append(qint64 id, const QByteArray &name, bool matchable, int active);
    void finish(const DataStamp &stamp);
    // Whether the names held would outgrow what the index can address.
    bool full() const { return m_names.size() > kLargestText; }

    // The program's own writes, made while nothing else wrote: the index then stands for after.
    void insert(qsizetype fromFront, qint64 id, const QString &name, int active);
    bool update(qint64 id, const QString &name, int active);
    bool remove(qint64 id);
    void removeDone();
    void restamp(const DataStamp &after) { m_stamp = after; }

    // The places (from the front of the list) of the tasks whose name matches the LIKE pattern
    // and whose Done flag is filterActive (-1: any), front first; only those among within when
    // given (the matches of a pattern that this one narrows, found at this generation).
    std::vector<quint32> match(const QString &pattern, int filterActive,
                               const std::vector<quint32> *within = nullptr) const;
    // Whether every name that matches pattern also matches wider ("%report%" and "%rep%": a
    // keystroke that adds to the search).
    static bool narrows(const QString &pattern, const QString &wider);
    // The id at a place, or 0 past the end.
    qint64 idAt(quint32 fromFront) const
    {
        return fromFront < m_ids.size() ? m_ids[m_ids.size() - 1 - fromFront] : 0;
    }

    // Whether LIKE on this pattern is answered here just as SQLite answers it.
    static bool answers(const QString &pattern);

private:
    static constexpr size_t kLargestText = size_t(1) << 31;
    static constexpr quint32 kNoText = 0xffffffff;

    // The index keeps the list back to front, so that a new task, which comes first, is added
    // at the end.
    struct Entry
    {
        quint32 offset = 0;
        quint32 length = kNoText;
        qint8 active = -1;
        // The name is not plain UTF-8: a byte search could find what LIKE does not.
        bool irregular = false;
    };

    Entry store(const QByteArray &name, bool matchable, int active);
    qsizetype find(qint64 id) const;
    void release(const Entry &entry);
    void keepOnly(bool pending);

    bool m_ready = false;
    qint64 m_userId = -1;
    DataStamp m_stamp;
    std::vector<qint64> m_ids;
    std::vector<Entry> m_entries;
    // Every name followed by a NUL, so that a name is the C string LIKE walks.
    std::string m_names;
    size_t m_unused = 0;
    size_t m_removed = 0;
    quint64 m_generation = 0;
};
