#pragma once

#include "hostsim/demodata.h"

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>

#include <functional>

namespace sorna::test {

class TempRoot;

// The real reference host (`sorna-host`) in a process of its own, on a free
// port, with the demo data in a temporary database and its log in a
// temporary file.  Stopped when the object goes.
//
//   RefHost host;                       // or RefHost host({"--fault", "silent"});
//   QVERIFY2(host.isRunning(), qPrintable(host.error()));
//   host.writeClientSettings(root);     // the client now talks to it
class RefHost
{
public:
    explicit RefHost(const QStringList& extraArguments = {});
    // `childSetup` runs in the host's process before it starts (Unix), for
    // example to set its limits.
    RefHost(const QStringList& extraArguments, const std::function<void()>& childSetup);
    ~RefHost();
    RefHost(const RefHost&) = delete;
    RefHost& operator=(const RefHost&) = delete;

    bool isRunning() const;
    QString error() const { return m_error; }
    quint16 port() const { return m_port; }
    QString databasePath() const;
    QString logPath() const;
    void stop();
    // Starts the stopped host again on the same port, with the same data and
    // log (a host that was down and is back); without the extra arguments
    // it was started with (its fault modes) unless `keepExtra`.  False when
    // it does not come up (see error()).
    bool restart(bool keepExtra = true);
    // The same, with `extra` in place of the extra arguments it was started
    // with (a host back with its clock moved on, say).
    bool restartWith(const QStringList& extra);

    // Everything the host has logged so far.
    QByteArray log() const;
    // The plain requests it has received, in order, as the CP949 bytes the
    // client sent (length field included); likewise the plain answers sent.
    QList<QByteArray> requests() const;
    QList<QByteArray> answers() const;

    // Runs a query on the host's database, opened read-only under a
    // connection name of its own; one row per result row.  Empty on error
    // (see error()).
    QList<QVariantList> query(const QString& sql, const QVariantList& bindings = {}) const;
    // The first column of the first row.
    QVariant scalar(const QString& sql, const QVariantList& bindings = {}) const;

    // Sorna_setting.ini of the root: section KolbrinInfo with sorna_Ip,
    // sorna_Port and sorna_Issue_code pointing at this host.
    void writeClientSettings(const TempRoot& root) const;

private:
    QList<QByteArray> linesOfKind(const QByteArray& kind) const;

    QTemporaryDir m_dir;
    QProcess m_process;
    QStringList m_extra;
    quint16 m_port = 0;
    mutable QString m_error;
};

// Starts the real client (`sorna`) in a process of its own on the offscreen
// platform, with `root` as its root folder, its messages on standard error
// and `environment` on top (SORNA_TEST_DRIVE, SORNA_CRASH_AT, ...; neither
// is passed on from the test's own environment).  Not waited for.
QProcess* StartClient(const TempRoot& root, const QList<std::pair<QString, QString>>& environment,
                      QObject* parent);

// Runs a query on an SQLite file opened read-only (another process may be
// writing it), under a connection name of its own; one row per result row.
// Empty on error (*error tells why).
QList<QVariantList> QueryDatabase(const QString& path, const QString& sql, const QVariantList& bindings = {},
                                  QString* error = nullptr);

// One exchange through the client's host link: connects a HostSocket to
// 127.0.0.1:port, sends `record` with EnvelopeBuild (which logs it under
// `tag`) when connected, and returns the answer opened with EnvelopeOpen.
// Empty when no answer came within `timeoutMs` or the connection failed
// (`error` tells why).
QByteArray HostExchange(quint16 port, const QString& record, const QString& tag, int timeoutMs = 5000,
                        QString* error = nullptr);

} // namespace sorna::test
