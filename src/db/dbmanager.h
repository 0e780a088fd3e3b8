#pragma once

#include <QObject>
#include <QSqlDatabase>

// Owns the process's single SQLite connection and creates the schema.
class DbManager : public QObject
{
    Q_OBJECT

public:
    explicit DbManager(QObject *parent = nullptr);
    ~DbManager() override;

    bool open(const QString &path);
    // The tables, then the indexes (initTables and createIndexes).
    void initSchema();
    // The tables alone, made when missing; quick whatever the file holds.
    void initTables();
    // The list and reminder indexes and the search index, made when missing; on a large file
    // written without them this takes seconds, once. inSlices fills the search index from the
    // event loop, a slice at a time, instead of before returning.
    void createIndexes(bool inSlices = false);
    QSqlDatabase database() const;

private:
    bool fillTrigramSlice(bool next);

    QSqlDatabase m_connection;
};
