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
    void initSchema();
    QSqlDatabase database() const;

private:
    QSqlDatabase m_connection;
};
