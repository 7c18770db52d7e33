#pragma once

#include <QHash>
#include <QSqlQuery>
#include <QString>

namespace sorna {

// The statements of one named SQLite connection, each prepared the first time
// it is asked for and kept: preparing costs about as much as running them.
class SqlStatements
{
public:
    void setConnection(const QString& connection) { m_connection = connection; }
    const QString& connection() const { return m_connection; }

    // The statement for `sql`, prepared once, forward-only.
    QSqlQuery& get(const QString& sql);

    // Drops every kept statement, then closes and removes the connection.
    void closeConnection();

private:
    QString m_connection;
    QHash<QString, QSqlQuery> m_statements;
};

} // namespace sorna
