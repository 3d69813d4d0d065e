#include "winsock/tls_context.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

namespace lt::winsock {
namespace {

constexpr qint64 kMaxPemBytes = 1 << 20;

// The file's bytes, or empty with the reason in why.
QByteArray readPem(const std::string& path, const std::string& what, std::string& why)
{
    const QString name = QString::fromStdString(path);
    const QFileInfo info(name);
    why.clear();
    if (!info.exists())
        why = what + " " + path + " does not exist";
    else if (!info.isFile())
        why = what + " " + path + " is not a file";
    else if (info.size() > kMaxPemBytes)
        why = what + " " + path + " is too large for a PEM file";
    if (!why.empty())
        return {};
    QFile f(name);
    if (!f.open(QIODevice::ReadOnly)) {
        why = what + " " + path + " cannot be read: " + f.errorString().toStdString();
        return {};
    }
    QByteArray data = f.read(kMaxPemBytes);
    if (data.isEmpty())
        why = what + " " + path + " is empty";
    return data;
}

QList<QSslCertificate> readCertificates(const std::string& path, const std::string& what, std::string& why)
{
    const QByteArray data = readPem(path, what, why);
    if (!why.empty())
        return {};
    QList<QSslCertificate> list = QSslCertificate::fromData(data, QSsl::Pem);
    if (list.isEmpty())
        why = what + " " + path + " holds no PEM certificate";
    return list;
}

int noPassphrase(char*, int, int, void*)
{
    return -1;   // never ask on a terminal: a session runs unattended
}

struct PkeyFree {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct X509Free {
    void operator()(X509* x) const { X509_free(x); }
};
struct BioFree {
    void operator()(BIO* b) const { BIO_free(b); }
};

// The private key, checked to be the owner's alone.
std::unique_ptr<EVP_PKEY, PkeyFree> readKey(const std::string& path, std::string& why)
{
    const QByteArray data = readPem(path, "TLS key", why);
    if (!why.empty())
        return nullptr;
    const auto perms = QFileInfo(QString::fromStdString(path)).permissions();
    if (perms & (QFileDevice::ReadGroup | QFileDevice::ReadOther)) {
        why = "TLS key " + path + " is readable by others: allow its owner only (chmod 600)";
        return nullptr;
    }
    std::unique_ptr<BIO, BioFree> bio(BIO_new_mem_buf(data.constData(), int(data.size())));
    std::unique_ptr<EVP_PKEY, PkeyFree> key(
        bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, noPassphrase, nullptr) : nullptr);
    ERR_clear_error();
    if (!key)
        why = "TLS key " + path +
              (data.contains("ENCRYPTED") ? " needs a passphrase, which a session cannot give"
                                          : " holds no PEM private key");
    return key;
}

bool keyFitsCertificate(EVP_PKEY* key, const QByteArray& certificatePem)
{
    std::unique_ptr<BIO, BioFree> bio(BIO_new_mem_buf(certificatePem.constData(), int(certificatePem.size())));
    std::unique_ptr<X509, X509Free> x(bio ? PEM_read_bio_X509(bio.get(), nullptr, noPassphrase, nullptr) : nullptr);
    const bool fits = x && X509_check_private_key(x.get(), key) == 1;
    ERR_clear_error();
    return fits;
}

}  // namespace

std::shared_ptr<const TlsContext> TlsContext::load(const TlsFiles& files, bool server, std::string& why)
{
    why.clear();
    if (!QSslSocket::supportsSsl()) {
        why = "TLS is not available: Qt's OpenSSL back end cannot be loaded";
        return nullptr;
    }
    if (server && files.certificate.empty()) {
        why = "a TLS server needs a certificate file";
        return nullptr;
    }
    if (files.certificate.empty() != files.key.empty()) {
        why = files.key.empty() ? "the TLS certificate needs its key file" : "the TLS key needs its certificate file";
        return nullptr;
    }

    std::shared_ptr<TlsContext> c(new TlsContext);
    c->m_server = server;
    QSslConfiguration& cfg = c->m_configuration;
    cfg = QSslConfiguration::defaultConfiguration();
    cfg.setProtocol(QSsl::TlsV1_2OrLater);
    if (!files.certificate.empty()) {
        const QList<QSslCertificate> chain = readCertificates(files.certificate, "TLS certificate", why);
        if (!why.empty())
            return nullptr;
        auto key = readKey(files.key, why);
        if (!why.empty())
            return nullptr;
        if (!keyFitsCertificate(key.get(), chain.first().toPem())) {
            why = "TLS key " + files.key + " does not belong to the certificate " + files.certificate;
            return nullptr;
        }
        cfg.setLocalCertificateChain(chain);
        cfg.setPrivateKey(QSslKey(Qt::HANDLE(key.release()), QSsl::PrivateKey));   // the QSslKey owns it
    }
    if (!files.caFile.empty()) {
        const QList<QSslCertificate> cas = readCertificates(files.caFile, "TLS CA file", why);
        if (!why.empty())
            return nullptr;
        cfg.setCaCertificates(cas);
    }
    if (server)
        cfg.setPeerVerifyMode(files.requireClientCertificate ? QSslSocket::VerifyPeer : QSslSocket::VerifyNone);
    else
        cfg.setPeerVerifyMode(QSslSocket::VerifyPeer);
    return c;
}

std::vector<std::string> tlsFileProblems(const TlsFiles& files, bool server)
{
    std::string why;
    if (!TlsContext::load(files, server, why))
        return {why};
    std::vector<std::string> problems;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    auto dates = [&](const std::string& path, const std::string& what) {
        if (path.empty())
            return;
        std::string ignored;
        for (const QSslCertificate& c : readCertificates(path, what, ignored)) {
            const std::string subject = c.subjectDisplayName().toStdString();
            if (c.expiryDate() < now)
                problems.push_back(what + " " + path + ": \"" + subject + "\" expired on " +
                                   c.expiryDate().toString(Qt::ISODate).toStdString());
            else if (c.effectiveDate() > now)
                problems.push_back(what + " " + path + ": \"" + subject + "\" is not valid before " +
                                   c.effectiveDate().toString(Qt::ISODate).toStdString());
        }
    };
    dates(files.certificate, "TLS certificate");
    dates(files.caFile, "TLS CA file");
    return problems;
}

}  // namespace lt::winsock
