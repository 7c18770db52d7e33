#include "foundation/sqlstatements.h"

#include <QSqlDatabase>

namespace sorna {

QSqlQuery& SqlStatements::get(const QString& sql)
{
    auto it = m_statements.find(sql);
    if (it == m_statements.end()) {
        QSqlQuery q(QSqlDatabase::database(m_connection, false));
        q.setForwardOnly(true);
        q.prepare(sql);
        it = m_statements.insert(sql, q);
    }
    return *it;
}

void SqlStatements::closeConnection()
{
    m_statements.clear();
    if (!QSqlDatabase::contains(m_connection))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_connection);
}

} // namespace sorna
