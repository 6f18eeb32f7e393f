// The download client's check of a TLS server's certificate: the chain must reach a root
// the machine trusts, be valid for server authentication and for the host name asked
// for, be inside its validity period and not be revoked. Where revocation information
// cannot be had (no CRL reachable, a responder offline) the certificate is accepted and
// the caller is told, so that it can log it; that is the soft fail browsers make.
#pragma once

#include <string>

#include <windows.h>
#include <wincrypt.h>

enum class CertificateVerdict {
    kTrusted,
    kTrustedRevocationUnknown,  // trusted, but revocation could not be checked
    kRejected,
};

struct CertificateCheck {
    CertificateVerdict verdict = CertificateVerdict::kRejected;
    // Why it was rejected: a CERT_E_* / CRYPT_E_* / TRUST_E_* code, or a Win32 error
    // when the chain could not even be built.
    unsigned long error = 0;
    // The chain's trust error bits (CERT_TRUST_*), for the log.
    unsigned long trustErrors = 0;
};

// `serverCertificate` is the end certificate the handshake delivered; its store holds the
// intermediates the server sent. `host` is the name or dotted address of the URL.
CertificateCheck CheckServerCertificate(PCCERT_CONTEXT serverCertificate, const std::string& host);

// A readable name for CheckServerCertificate's error code ("CERT_E_EXPIRED", ...).
const char* CertificateErrorName(unsigned long error);
