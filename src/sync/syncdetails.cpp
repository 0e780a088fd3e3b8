#include "syncdetails.h"

#include "icalreader.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace SyncDetails {

// [notes, priority, priority as received or -1, [tags]]
QString encode(const TaskDetails &details)
{
    const QJsonArray array { details.notes, details.priority, details.priorityRaw,
                             QJsonArray::fromStringList(details.tags) };
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

std::optional<TaskDetails> decode(const QVariant &value)
{
    if (value.isNull())
        return std::nullopt;
    const QJsonArray array = QJsonDocument::fromJson(value.toString().toUtf8()).array();
    if (array.size() != 4)
        return std::nullopt; // unreadable: read again from the text
    TaskDetails details;
    details.notes = array.at(0).toString();
    details.priority = qBound(0, array.at(1).toInt(), int(TaskDetails::High));
    details.priorityRaw = array.at(2).toInt(-1);
    for (const QJsonValue &tag : array.at(3).toArray())
        details.tags.append(tag.toString());
    return details;
}

TaskDetails ofText(const QString &ical)
{
    if (ical.isEmpty())
        return {};
    const IcalReadResult read = IcalReader::read(ical.toUtf8(), IcalReader::Mode::Resource);
    return read.tasks.isEmpty() ? TaskDetails() : read.tasks.first().details;
}

const TaskDetails &acknowledged(SyncItem &item)
{
    if (!item.syncedDetails)
        item.syncedDetails = ofText(item.ical);
    return *item.syncedDetails;
}

TaskDetails local(SyncItem &item)
{
    return item.details ? *item.details : acknowledged(item);
}

// Details without a row here are those of the text: unchanged.
bool changedHere(SyncItem &item)
{
    return item.local != item.acknowledged || (item.details && *item.details != acknowledged(item))
           || item.resend;
}

} // namespace SyncDetails
