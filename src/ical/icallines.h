#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <vector>

// The content lines of an iCalendar text (RFC 5545, 3.1), as the reader and the writer walk it.

// "line 12: what"
QString icalLineError(int line, const QString &what);

// A content line, unfolded, with the number of the physical line it starts on.
struct IcalLine
{
    int number = 0;
    qsizetype begin = 0; // offset of its first octet
    qsizetype end = 0; // offset after its last line break
    QByteArray head; // the first octets, unfolded
};

// A component directly inside a VCALENDAR, and where its text lies.
struct IcalBlock
{
    QByteArray kind;
    int firstLine = 0;
    qsizetype begin = 0;
    qsizetype end = 0;
};

// Walks the logical lines of a text.
class IcalLineReader
{
public:
    // Lines are numbered from linesBefore + 1 on.
    explicit IcalLineReader(const QByteArray &data, qsizetype from = 0, qsizetype to = -1,
                            int linesBefore = 0);

    int physicalLines() const { return m_line; }
    // The next logical line; false at the end. nul is set when the line holds a NUL octet.
    bool next(IcalLine &line, bool &nul);

private:
    const QByteArray &m_data;
    qsizetype m_position = 0;
    qsizetype m_end = 0;
    int m_line = 0;
};

// The property name of a content line in upper case; empty when the line is not one.
QByteArray icalPropertyName(const IcalLine &line, const QByteArray &data);

// The whole line, unfolded, without its line break.
QByteArray icalUnfoldedLine(const IcalLine &line, const QByteArray &data);

// The value of an unfolded content line: what follows the first colon outside quotes.
QByteArray icalLineValue(const QByteArray &line);

// Splits a calendar into its components, checking that every line is a content line and that
// every BEGIN has its END; the components of several VCALENDARs come one after the other.
// Empty with error set when the text is not iCalendar.
QList<IcalBlock> splitIcalCalendar(const QByteArray &data, QString &error);

// Splits a calendar as splitIcalCalendar does while its text comes, whole logical lines at a
// time, so that the text before the component being read can be let go.
class IcalSplitter
{
public:
    // Splits the lines of data from from on (last: the text ends with them), appending the
    // components they complete; false with error set when the text is not iCalendar.
    bool split(const QByteArray &data, qsizetype from, bool last, QList<IcalBlock> &blocks);
    // Where the component not complete yet begins, or -1 when none is open.
    qsizetype openBegin() const;
    // The first count octets of the text were let go.
    void dropped(qsizetype count);
    int physicalLines() const { return m_lines; }

    QString error;

private:
    bool fail(int line, const QString &what);

    struct Open
    {
        QByteArray kind;
        int line;
    };
    std::vector<Open> m_open;
    IcalBlock m_block;
    bool m_seenCalendar = false;
    int m_lines = 0;
};
