#pragma once

#include <QObject>
#include <QSqlDatabase>

// Owns the process's single SQLite connection and brings the schema up to date.
class DbManager : public QObject
{
    Q_OBJECT

public:
    explicit DbManager(QObject *parent = nullptr);
    ~DbManager() override;

    bool open(const QString &path);
    // The tables, then the indexes (initTables and createIndexes).
    void initSchema();
    // Brings the tables up to this program's version (schema.h); quick whatever the file holds.
    // False when a newer release wrote the file: it is left as it was, and refusal() says so.
    bool initTables();
    // Why the file is not used, to show to the person; empty when it is used.
    QString refusal() const { return m_refusal; }
    // The list, search and reminder indexes, made when missing; on a large file written
    // without them this takes seconds, once. inSlices makes them from the event loop, one
    // index or one slice of rows at a time, instead of before returning.
    void createIndexes(bool inSlices = false);
    // Makes the missing indexes at once when that is quick (a file of few tasks); false when
    // they are left for createIndexes(true).
    bool createIndexesIfQuick();
    QSqlDatabase database() const;

private:
    bool buildStep();
    bool fillTrigramSlice();

    QSqlDatabase m_connection;
    QString m_refusal;
};
