#include "tasknameindex.h"

#include "sqlitelike.h"

#include <algorithm>
#include <cstring>

namespace {

// What reading over-allocated is given back, keeping a sixteenth as room for the tasks that
// come next: growing a full container copies all of it, a pause for the person who adds a task.
template<typename Container> void fitWithRoom(Container &container)
{
    const size_t wanted = container.size() + container.size() / 16 + 1024;
    if (container.capacity() <= wanted + wanted / 8)
        return;
    Container fitted;
    fitted.reserve(wanted);
    fitted.assign(container.begin(), container.end());
    container.swap(fitted);
}

} // namespace

void TaskNameIndex::clear()
{
    m_ready = false;
    m_userId = -1;
    m_stamp = {};
    std::vector<qint64>().swap(m_ids);
    std::vector<Entry>().swap(m_entries);
    std::string().swap(m_names);
    m_unused = 0;
    m_removed = 0;
    ++m_generation;
}

size_t TaskNameIndex::bytes() const
{
    return m_ids.capacity() * sizeof(qint64) + m_entries.capacity() * sizeof(Entry)
           + m_names.capacity();
}

void TaskNameIndex::begin(qint64 userId)
{
    clear();
    m_userId = userId;
}

TaskNameIndex::Entry TaskNameIndex::store(const QByteArray &bytes, bool matchable, int active)
{
    Entry entry;
    entry.active = qint8(active == 0 || active == 1 ? active : -1);
    if (!matchable)
        return entry;
    const qsizetype end = bytes.indexOf('\0');
    const size_t length = size_t(end < 0 ? bytes.size() : end);
    entry.offset = quint32(m_names.size());
    entry.length = quint32(length);
    m_names.append(bytes.constData(), length);
    m_names.push_back('\0');
    SqliteLike::foldAscii(&m_names[entry.offset], length);
    entry.irregular = !SqliteLike::plainUtf8(
            reinterpret_cast<const uchar *>(m_names.data() + entry.offset), length);
    return entry;
}

void TaskNameIndex::append(qint64 id, const QByteArray &name, bool matchable, int active)
{
    m_ids.push_back(id);
    m_entries.push_back(store(name, matchable, active));
}

// The tasks came front first; the index keeps them back to front.
void TaskNameIndex::finish(const DataStamp &stamp)
{
    std::reverse(m_ids.begin(), m_ids.end());
    std::reverse(m_entries.begin(), m_entries.end());
    fitWithRoom(m_ids);
    fitWithRoom(m_entries);
    fitWithRoom(m_names);
    m_stamp = stamp;
    m_ready = true;
    ++m_generation;
}

qsizetype TaskNameIndex::find(qint64 id) const
{
    // Recent tasks, the ones changed most, are at the end.
    const auto found = std::find(m_ids.rbegin(), m_ids.rend(), id);
    return found == m_ids.rend() ? -1 : qsizetype(m_ids.rend() - found) - 1;
}

// Text no entry uses any more is dropped once it is as large as the text in use.
void TaskNameIndex::release(const Entry &entry)
{
    if (entry.length == kNoText)
        return;
    m_unused += entry.length + 1;
    if (m_unused < (1 << 20) || m_unused * 2 < m_names.size())
        return;
    std::string kept;
    kept.reserve(m_names.size() - m_unused);
    for (Entry &e : m_entries) {
        if (e.length == kNoText)
            continue;
        const quint32 offset = quint32(kept.size());
        kept.append(m_names, e.offset, e.length + 1);
        e.offset = offset;
    }
    m_names.swap(kept);
    m_unused = 0;
}

void TaskNameIndex::insert(qsizetype fromFront, qint64 id, const QString &name, int active)
{
    // Places count tasks, not gaps.
    if (fromFront > 0 && m_removed > 0)
        keepOnly(false);
    const qsizetype at = std::max<qsizetype>(0, qsizetype(m_ids.size()) - fromFront);
    m_ids.insert(m_ids.begin() + at, id);
    m_entries.insert(m_entries.begin() + at, store(name.toUtf8(), true, active));
    ++m_generation;
}

bool TaskNameIndex::update(qint64 id, const QString &name, int active)
{
    const qsizetype at = find(id);
    if (at < 0)
        return false;
    const Entry old = m_entries[at];
    m_entries[at] = store(name.toUtf8(), true, active);
    release(old);
    return true;
}

// A removed task leaves a gap (id 0, no name), so that removing an old task does not move all
// the newer ones; the gaps are closed once they are an eighth of the index.
bool TaskNameIndex::remove(qint64 id)
{
    const qsizetype at = find(id);
    if (at < 0)
        return false;
    const Entry old = m_entries[at];
    m_entries[at] = Entry {};
    m_ids[at] = 0;
    ++m_removed;
    release(old);
    if (m_removed * 8 > m_ids.size())
        keepOnly(false);
    return true;
}

void TaskNameIndex::removeDone()
{
    keepOnly(true);
}

// Closes the gaps, and drops the Done tasks too when asked.
void TaskNameIndex::keepOnly(bool pending)
{
    size_t kept = 0;
    for (size_t i = 0; i < m_entries.size(); ++i) {
        if (m_ids[i] == 0)
            continue;
        if (pending && m_entries[i].active == 1) {
            m_unused += m_entries[i].length == kNoText ? 0 : m_entries[i].length + 1;
            continue;
        }
        m_ids[kept] = m_ids[i];
        m_entries[kept++] = m_entries[i];
    }
    if (kept == m_ids.size())
        return;
    m_ids.resize(kept);
    m_entries.resize(kept);
    m_removed = 0;
    ++m_generation;
}

bool TaskNameIndex::answers(const QString &pattern)
{
    if (!QStringView(pattern).isValidUtf16())
        return false;
    // SQLite reads these two as U+FFFD, which a byte search would not.
    return !pattern.contains(QChar(0xfffe)) && !pattern.contains(QChar(0xffff));
}

namespace {

// The pattern as LIKE compares it: cut at a NUL, ASCII letters in small letters.
QByteArray foldedPattern(const QString &pattern)
{
    QByteArray folded = pattern.toUtf8();
    const qsizetype end = folded.indexOf('\0');
    if (end >= 0)
        folded.truncate(end);
    SqliteLike::foldAscii(folded.data(), size_t(folded.size()));
    return folded;
}

// Whether the needle's bytes occur in the name's: its first byte found by memchr, the rest
// compared. For names of a few dozen bytes this is several times faster than memmem, which
// prepares each call for long texts.
bool containsBytes(const char *name, size_t length, const char *needle, size_t needleLength)
{
    if (length < needleLength)
        return false;
    const char *end = name + (length - needleLength) + 1;
    for (const char *at = name; at < end; ++at) {
        at = static_cast<const char *>(std::memchr(at, needle[0], size_t(end - at)));
        if (!at)
            return false;
        if (std::memcmp(at + 1, needle + 1, needleLength - 1) == 0)
            return true;
    }
    return false;
}

// The text of "%text%" without other wildcards, the search field's usual pattern; else empty.
QByteArray literalOf(const QByteArray &folded)
{
    if (folded.size() <= 2 || !folded.startsWith('%') || !folded.endsWith('%'))
        return {};
    const QByteArray literal = folded.mid(1, folded.size() - 2);
    return literal.contains('%') || literal.contains('_') ? QByteArray() : literal;
}

} // namespace

// A name that holds the longer text holds the shorter one: with valid UTF-8 on both sides the
// shorter one's characters are a run of the longer one's, as LIKE reads any name.
bool TaskNameIndex::narrows(const QString &pattern, const QString &wider)
{
    if (!answers(pattern) || !answers(wider))
        return false;
    const QByteArray literal = literalOf(foldedPattern(pattern));
    const QByteArray widerLiteral = literalOf(foldedPattern(wider));
    return !literal.isEmpty() && !widerLiteral.isEmpty() && literal.contains(widerLiteral);
}

std::vector<quint32> TaskNameIndex::match(const QString &pattern, int filterActive,
                                          const std::vector<quint32> *within) const
{
    const QByteArray folded = foldedPattern(pattern);
    const auto *like = reinterpret_cast<const uchar *>(folded.constData());
    // "%text%" is a byte search.
    const QByteArray literal = literalOf(folded);
    const char *needle = literal.constData();
    const size_t needleLength = size_t(literal.size());

    std::vector<quint32> found;
    const char *names = m_names.data();
    const quint32 count = quint32(m_entries.size());
    auto test = [&](quint32 fromFront) {
        const Entry &entry = m_entries[count - 1 - fromFront];
        if (entry.length == kNoText || (filterActive != -1 && entry.active != filterActive))
            return;
        const char *name = names + entry.offset;
        bool matches;
        if (needleLength > 0 && !entry.irregular) {
            matches = containsBytes(name, entry.length, needle, needleLength);
        } else {
            matches = SqliteLike::matches(like, reinterpret_cast<const uchar *>(name));
        }
        if (matches)
            found.push_back(fromFront);
    };
    if (within) {
        // The places are spread over the index: their entries and names are asked for from
        // memory a few places ahead, so that the waits overlap.
        constexpr size_t kAhead = 8;
        const size_t places = within->size();
        for (size_t i = 0; i < places; ++i) {
            if (i + 2 * kAhead < places && (*within)[i + 2 * kAhead] < count)
                __builtin_prefetch(&m_entries[count - 1 - (*within)[i + 2 * kAhead]]);
            if (i + kAhead < places && (*within)[i + kAhead] < count)
                __builtin_prefetch(names + m_entries[count - 1 - (*within)[i + kAhead]].offset);
            if ((*within)[i] < count)
                test((*within)[i]);
        }
    } else {
        for (quint32 fromFront = 0; fromFront < count; ++fromFront)
            test(fromFront);
    }
    return found;
}
