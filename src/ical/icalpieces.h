#pragma once

#include "icallines.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

class QIODevice;

// A calendar file read a piece at a time: the components each piece completes, in the text they
// lie in, holding no more of the file than the component being read and one piece.
class IcalPieces
{
public:
    explicit IcalPieces(QIODevice *file);

    // The next components complete, in text(); false at the end of the file, or with error()
    // set when it is not iCalendar or cannot be read. The text of the components given before
    // is let go.
    bool next(QList<IcalBlock> &blocks);
    // What a first reading of a file finds: its VTODOs, whether one of them is an occurrence
    // (RECURRENCE-ID), and the texts of its time zones with their first lines.
    struct Survey
    {
        qsizetype todos = 0;
        bool occurrences = false;
        QList<std::pair<QByteArray, int>> zones;
    };
    // Reads the whole file once, asking goOn after each piece; false when it is not iCalendar
    // or cannot be read (error() says why), or goOn said no.
    bool survey(Survey &found, const std::function<bool()> &goOn);
    // Reads the file from its start again, as ImportTexts::asUtf8 reads it with recode; the
    // file is to be as long as the first time.
    bool restart(bool recode);

    const QByteArray &text() const { return m_text; }
    const QString &error() const { return m_error; }
    bool validUtf8() const { return m_valid; } // all read so far
    qsizetype recoded() const { return m_recoded; } // characters read as Windows-1252

private:
    QIODevice *m_file;
    IcalSplitter m_splitter;
    QByteArray m_raw; // read, and not yet a whole line
    QByteArray m_text; // whole lines, from the component being read on
    QString m_error;
    qint64 m_read = 0;
    qint64 m_length = -1; // as the first reading found it
    qsizetype m_recoded = 0;
    bool m_recode = false;
    bool m_valid = true;
    bool m_ended = false;
};
