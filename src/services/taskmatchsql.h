#pragma once

#include <QString>

// The statements that read a search's page from its matches alone, sorted in the list's order,
// instead of walking the list in that order until enough matches came by: for a search whose
// matches are few next to the account's tasks.
namespace TaskMatchSql {

// The rows of the tasks :ids (a JSON array of ids) of :uid whose name matches :name (and whose
// Done flag is :active), in the "due soonest" order or, from the end, reversed; the order's key
// as a sixth column; LIMIT :lim OFFSET :off.
QString soonestRowsOfIds(bool byDone, bool fromEnd);
// The same rows, their matches looked up by the trigram index.
QString soonestRowsByTrigram(bool byDone, bool fromEnd);

} // namespace TaskMatchSql
