.pragma library

// The first item, item itself or one below it, that predicate accepts; null when there is none.
function findItem(item, predicate) {
    if (predicate(item))
        return item
    for (let i = 0; i < item.children.length; ++i) {
        const found = findItem(item.children[i], predicate)
        if (found)
            return found
    }
    return null
}
