#include "tls_pki.h"

#include "pump.h"

#include <QFile>

namespace testsupport {

TestPki::TestPki(const std::string& folder) : m_folder(folder)
{
    const QStringList ec = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
    auto request = [&](const std::string& name, const std::string& subject) {
        return run(QStringList{"req"} + ec +
                   QStringList{"-keyout", QString::fromStdString(file(name + ".key")), "-out",
                               QString::fromStdString(file(name + ".csr")), "-subj",
                               QString::fromStdString(subject)});
    };
    auto selfSigned = [&](const std::string& name, const std::string& subject) {
        return run(QStringList{"req", "-x509"} + ec +
                   QStringList{"-keyout", QString::fromStdString(file(name + ".key")), "-out",
                               QString::fromStdString(file(name + ".pem")), "-days", "3650", "-subj",
                               QString::fromStdString(subject)});
    };
    {
        QFile local(QString::fromStdString(file("local.ext")));
        QFile elsewhere(QString::fromStdString(file("elsewhere.ext")));
        if (!local.open(QIODevice::WriteOnly) || !elsewhere.open(QIODevice::WriteOnly)) {
            error = "cannot write into " + folder;
            return;
        }
        local.write("subjectAltName=IP:127.0.0.1,DNS:localhost\n");
        elsewhere.write("subjectAltName=DNS:elsewhere.example\n");
    }
    ok = selfSigned("ca", "/CN=Lintrel Test CA") && selfSigned("other-ca", "/CN=Other Test CA") &&
         request("server", "/CN=127.0.0.1") && request("client", "/CN=client") &&
         request("other-client", "/CN=other client") && request("elsewhere", "/CN=elsewhere.example") &&
         sign("server", "ca", "server.pem", "local.ext", 365) &&
         sign("server", "other-ca", "other-server.pem", "local.ext", 365) &&
         sign("elsewhere", "ca", "elsewhere.pem", "elsewhere.ext", 365) &&
         sign("client", "ca", "client.pem", "", 365) && sign("client", "ca", "expired.pem", "", -1) &&
         sign("other-client", "other-ca", "other-client.pem", "", 365);
}

bool TestPki::sign(const std::string& csr, const std::string& caName, const std::string& out,
                   const std::string& ext, int days)
{
    QStringList args = {"x509", "-req", "-in", QString::fromStdString(file(csr + ".csr")), "-CA",
                        QString::fromStdString(file(caName + ".pem")), "-CAkey",
                        QString::fromStdString(file(caName + ".key")), "-CAcreateserial", "-out",
                        QString::fromStdString(file(out)), "-days", QString::number(days)};
    if (!ext.empty())
        args << "-extfile" << QString::fromStdString(file(ext));
    return run(args);
}

bool TestPki::run(const QStringList& args)
{
    QProcess p;
    p.start("openssl", args);
    if (!p.waitForFinished(20000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        p.kill();
        error = "openssl " + args.join(' ').toStdString() + ": " + p.readAllStandardError().toStdString();
        return false;
    }
    return true;
}

PeerProcess::PeerProcess(const QString& program, const QStringList& args)
{
    m_process.start(program, args);
    m_started = m_process.waitForStarted(5000);
}

PeerProcess::~PeerProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

void PeerProcess::write(const std::string& bytes)
{
    m_process.write(bytes.data(), qint64(bytes.size()));
}

std::string PeerProcess::output()
{
    m_out += m_process.readAllStandardOutput().toStdString();
    return m_out;
}

std::string PeerProcess::errors()
{
    m_err += m_process.readAllStandardError().toStdString();
    return m_err;
}

std::string PeerProcess::waitOutput(std::size_t count, int ms)
{
    pumpUntil([&] { return output().size() >= count; }, ms);
    return output();
}

bool PeerProcess::waitFinished(int ms)
{
    return pumpUntil([&] { return m_process.state() == QProcess::NotRunning; }, ms);
}

}  // namespace testsupport
