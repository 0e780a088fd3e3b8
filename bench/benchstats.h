#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QTextStream>
#include <QTimer>
#include <QtGlobal>

#include <algorithm>
#include <cmath>
#include <functional>

// The positive number an environment variable gives, else fallback.
inline int positiveSetting(const char *name, int fallback)
{
    const int value = qEnvironmentVariableIntValue(name);
    return value > 0 ? value : fallback;
}

// The word of a GOAL line.
inline QString verdict(bool met)
{
    return met ? QStringLiteral("met") : QStringLiteral("missed");
}

// The longest stretch in ms the event loop did not turn since start(), seen by a timer of the
// given interval.
class StallProbe
{
public:
    explicit StallProbe(int intervalMs = 1, Qt::TimerType type = Qt::CoarseTimer)
    {
        m_ticker.setTimerType(type);
        m_ticker.setInterval(intervalMs);
        QObject::connect(&m_ticker, &QTimer::timeout, [this] { turned(); });
    }
    void start()
    {
        m_sinceStart.start();
        m_sinceTurn.start();
        m_ticker.start();
    }
    void turned()
    {
        m_stall = std::max(m_stall, double(m_sinceTurn.nsecsElapsed()) / 1e6);
        m_sinceTurn.restart();
    }
    double stall() const { return m_stall; }
    // The stall counting the stretch since the last turn, and the time since start(), in ms.
    double stallToNow() const
    {
        return std::max(m_stall, double(m_sinceTurn.nsecsElapsed()) / 1e6);
    }
    double elapsedMs() const { return double(m_sinceStart.nsecsElapsed()) / 1e6; }

private:
    QElapsedTimer m_sinceStart;
    QElapsedTimer m_sinceTurn;
    QTimer m_ticker;
    double m_stall = 0;
};

// Samples of one figure in milliseconds, with the nearest-rank median and 95th percentile.
class Samples
{
public:
    void add(double value) { m_values.append(value); }
    int size() const { return int(m_values.size()); }
    double median() const { return percentile(50.0); }
    double p95() const { return percentile(95.0); }

    double percentile(double p) const
    {
        if (m_values.isEmpty())
            return std::nan("");
        QList<double> sorted = m_values;
        std::sort(sorted.begin(), sorted.end());
        const qsizetype rank = qsizetype(std::ceil(p / 100.0 * double(sorted.size())));
        return sorted.at(std::clamp<qsizetype>(rank - 1, 0, sorted.size() - 1));
    }

private:
    QList<double> m_values;
};

// Runs work once and returns its wall-clock time in milliseconds.
inline double timeMs(const std::function<void()> &work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return double(timer.nsecsElapsed()) / 1e6;
}

inline QString fixed(double value, int decimals = 3)
{
    return std::isnan(value) ? QStringLiteral("n/a") : QString::number(value, 'f', decimals);
}

// One Markdown table row per figure: the figure against its reference from the same run.
class ResultTable
{
public:
    explicit ResultTable(QTextStream &out, const QString &unit = QStringLiteral("ms"))
        : m_out(out)
        , m_unit(unit)
    {
    }

    void header()
    {
        m_out << "| Figure | N | median " << m_unit << " | p95 " << m_unit
              << " | Reference | ref. median " << m_unit << " | ratio | Goal |\n"
              << "|---|---:|---:|---:|---|---:|---:|---|\n";
        m_out.flush();
    }

    void row(const QString &figure, const QString &size, const Samples &subject,
             const QString &reference, const Samples &ref, const QString &goal, int decimals = 3)
    {
        const double ratio = subject.median() / ref.median();
        m_out << "| " << figure << " | " << size << " | " << fixed(subject.median(), decimals)
              << " | " << fixed(subject.p95(), decimals) << " | " << reference << " | "
              << fixed(ref.median(), decimals) << " | " << fixed(ratio, 2) << "x | " << goal
              << " |\n";
        m_out.flush();
    }

private:
    QTextStream &m_out;
    QString m_unit;
};
