#include "icalpieces.h"

#include "importtexts.h"

#include <QIODevice>

namespace {

// Octets read at a time.
constexpr qint64 kPiece = 1024 * 1024;

// The length of the whole logical lines text begins with: up to a line break after which no
// folded line goes on.
qsizetype wholeLines(const QByteArray &text)
{
    for (qsizetype i = text.size() - 2; i >= 0; --i) {
        i = text.lastIndexOf('\n', i);
        if (i < 0)
            break;
        if (text.at(i + 1) != ' ' && text.at(i + 1) != '\t')
            return i + 1;
    }
    return 0;
}

} // namespace

IcalPieces::IcalPieces(QIODevice *file)
    : m_file(file)
{
}

bool IcalPieces::restart(bool recode)
{
    m_length = m_read;
    m_read = 0;
    m_splitter = IcalSplitter();
    m_raw.clear();
    m_text.clear();
    m_recoded = 0;
    m_recode = recode;
    m_ended = false;
    if (!m_error.isEmpty() || m_file->seek(0))
        return m_error.isEmpty();
    m_error = QStringLiteral("cannot read the file again: ") + m_file->errorString();
    return false;
}

bool IcalPieces::next(QList<IcalBlock> &blocks)
{
    blocks.clear();
    while (blocks.isEmpty() && !m_ended && m_error.isEmpty()) {
        const qsizetype open = m_splitter.openBegin();
        const qsizetype done = open < 0 ? m_text.size() : open;
        m_text.remove(0, done);
        m_splitter.dropped(done);
        QByteArray piece(kPiece, Qt::Uninitialized);
        const qint64 got = m_file->read(piece.data(), kPiece);
        if (got < 0) {
            m_error = QStringLiteral("cannot read the file: ") + m_file->errorString();
            break;
        }
        m_read += got;
        const bool last = got == 0;
        if (m_length >= 0 && (m_read > m_length || (last && m_read != m_length))) {
            m_error = QStringLiteral("the file changed while it was read");
            break;
        }
        m_raw.append(piece.constData(), got);
        const qsizetype whole = last ? m_raw.size() : wholeLines(m_raw);
        if (whole == 0 && !last)
            continue;
        QByteArray lines = m_raw.left(whole);
        m_raw.remove(0, whole);
        qsizetype recoded = 0;
        if (m_recode)
            lines = ImportTexts::asUtf8(lines, &recoded);
        else
            m_valid = m_valid && QUtf8StringView(lines).isValidUtf8();
        m_recoded += recoded;
        const qsizetype from = m_text.size();
        m_text += lines;
        m_ended = last;
        if (!m_splitter.split(m_text, from, last, blocks))
            m_error = m_splitter.error;
    }
    if (!m_error.isEmpty())
        blocks.clear();
    return !blocks.isEmpty();
}

bool IcalPieces::survey(Survey &found, const std::function<bool()> &goOn)
{
    QList<IcalBlock> blocks;
    while (next(blocks)) {
        if (!goOn())
            return false;
        for (const IcalBlock &block : std::as_const(blocks)) {
            const QLatin1StringView text(m_text.constData() + block.begin, block.end - block.begin);
            if (block.kind == "VTIMEZONE")
                found.zones.append({ QByteArray(text.data(), text.size()), block.firstLine });
            if (block.kind != "VTODO")
                continue;
            ++found.todos;
            found.occurrences =
                    found.occurrences
                    || text.contains(QLatin1String("RECURRENCE-ID"), Qt::CaseInsensitive);
        }
    }
    return m_error.isEmpty();
}
