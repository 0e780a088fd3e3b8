// The calendar written in slices, as a file is written while it is made: part of IcalWriter.
#include "icalconvert.h"
#include "icalwriter.h"

#include <future>

namespace {

// Fewer tasks than this are made on one thread: a second one would cost more than it saves.
constexpr qsizetype kShareAbove = 64;

QList<QList<IcalWriter::Piece>> piecesOf(const QList<IcalTask> &tasks, qsizetype from, qsizetype to,
                                         const QDateTime &stamp)
{
    QList<QList<IcalWriter::Piece>> pieces;
    pieces.reserve(to - from);
    for (qsizetype i = from; i < to; ++i)
        pieces.append(IcalWriter::pieces(tasks.at(i), stamp));
    return pieces;
}

} // namespace

QByteArray IcalWriter::joinPieces(const QList<QList<Piece>> &tasks, QSet<QByteArray> &zones)
{
    QByteArray text;
    for (const QList<Piece> &task : tasks) {
        for (const Piece &piece : task) {
            if (piece.zone && zones.contains(piece.tzid))
                continue;
            if (piece.zone)
                zones.insert(piece.tzid);
            text += piece.text;
        }
    }
    return foldIcalLines(text);
}

// Each task's text is made of the task alone: the first half of the slice is made on a thread
// of its own while this one makes the second, and the zones are then taken in the tasks' order.
QByteArray IcalWriter::writeSlice(const QList<IcalTask> &tasks, qsizetype from, qsizetype to,
                                  const QDateTime &stamp, QSet<QByteArray> &zones)
{
    to = std::min(to, tasks.size());
    if (from >= to)
        return {};
    if (to - from < kShareAbove)
        return joinPieces(piecesOf(tasks, from, to, stamp), zones);
    const qsizetype middle = from + (to - from) / 2;
    std::future<QList<QList<Piece>>> first =
            std::async(std::launch::async, piecesOf, std::cref(tasks), from, middle, stamp);
    const QList<QList<Piece>> second = piecesOf(tasks, middle, to, stamp);
    QList<QList<Piece>> all = first.get();
    all += second;
    return joinPieces(all, zones);
}
