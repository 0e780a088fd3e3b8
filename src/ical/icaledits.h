#pragma once

#include <QByteArray>
#include <QList>

// The lines that replace every property of a name in a VTODO; an empty text removes them. A
// property the program comes to own is one more name set here.
class IcalEdits
{
public:
    void set(const QByteArray &name, const QByteArray &text)
    {
        if (Edit *edit = find(name))
            edit->text = text;
        else
            m_edits.append({ name, text, false });
    }
    bool contains(const QByteArray &name) { return find(name) != nullptr; }
    // The replacement the first time a name is met, then nothing.
    QByteArray take(const QByteArray &name)
    {
        Edit *edit = find(name);
        const bool first = !edit->written;
        edit->written = true;
        return first ? edit->text : QByteArray();
    }
    // The replacements of the names not met, in the order they were set.
    QByteArray rest()
    {
        QByteArray text;
        for (Edit &edit : m_edits) {
            if (!edit.written)
                text += edit.text;
            edit.written = true;
        }
        return text;
    }

private:
    struct Edit
    {
        QByteArray name;
        QByteArray text;
        bool written = false;
    };
    Edit *find(const QByteArray &name)
    {
        for (Edit &edit : m_edits) {
            if (edit.name == name)
                return &edit;
        }
        return nullptr;
    }
    QList<Edit> m_edits; // a handful
};
