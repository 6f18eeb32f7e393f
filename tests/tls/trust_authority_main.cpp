// Puts the web side stand-in's test certificate authority into the machine's "Root" store
// of the Wine prefix before TLS tests, and takes it out again afterwards, so that the
// product's certificate checks trust the stand-in the way a real machine trusts a real
// authority, and nothing else is weakened.
//
//   trust_authority add CA.der      prints "added THUMBPRINT"
//   trust_authority remove CA.der   prints "removed THUMBPRINT" (also when it was not there)
//   trust_authority has CA.der      prints "present" or "absent"
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

bool ReadFile(const char* path, std::vector<BYTE>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !bytes.empty();
}

std::string Thumbprint(PCCERT_CONTEXT certificate) {
    BYTE hash[20];
    DWORD size = sizeof hash;
    if (!CertGetCertificateContextProperty(certificate, CERT_SHA1_HASH_PROP_ID, hash, &size))
        return "?";
    std::string text;
    char hex[3];
    for (DWORD i = 0; i < size; ++i) {
        std::snprintf(hex, sizeof hex, "%02X", hash[i]);
        text += hex;
    }
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: trust_authority add|remove|has CA.der\n");
        return 2;
    }
    const std::string action = argv[1];
    std::vector<BYTE> der;
    if (!ReadFile(argv[2], der)) {
        std::fprintf(stderr, "trust_authority: cannot read %s\n", argv[2]);
        return 1;
    }
    PCCERT_CONTEXT certificate =
        CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
    if (certificate == nullptr) {
        std::fprintf(stderr, "trust_authority: not a DER certificate (0x%08lX)\n", GetLastError());
        return 1;
    }
    // The registry store itself, not the system store: Wine's system "Root" store is a
    // collection that takes additions but drops deletions on the floor.
    HCERTSTORE root = CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_A, 0, 0,
                                    CERT_SYSTEM_STORE_LOCAL_MACHINE, "Root");
    if (root == nullptr) {
        std::fprintf(stderr, "trust_authority: cannot open the machine Root store (0x%08lX)\n",
                     GetLastError());
        CertFreeCertificateContext(certificate);
        return 1;
    }
    const std::string thumbprint = Thumbprint(certificate);
    int exitCode = 0;
    PCCERT_CONTEXT present = CertFindCertificateInStore(root, X509_ASN_ENCODING, 0,
                                                        CERT_FIND_EXISTING, certificate, nullptr);
    if (action == "add") {
        if (!CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING, der.data(),
                                              static_cast<DWORD>(der.size()),
                                              CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
            std::fprintf(stderr, "trust_authority: adding failed (0x%08lX)\n", GetLastError());
            exitCode = 1;
        } else {
            std::printf("added %s\n", thumbprint.c_str());
        }
    } else if (action == "remove") {
        if (present != nullptr) {
            // CertDeleteCertificateFromStore frees the context it is given, even on failure.
            PCCERT_CONTEXT doomed = CertDuplicateCertificateContext(present);
            if (!CertDeleteCertificateFromStore(doomed)) {
                std::fprintf(stderr, "trust_authority: removing failed (0x%08lX)\n",
                             GetLastError());
                exitCode = 1;
            }
        }
        if (exitCode == 0)
            std::printf("removed %s\n", thumbprint.c_str());
    } else if (action == "has") {
        std::printf("%s\n", present != nullptr ? "present" : "absent");
    } else {
        std::fprintf(stderr, "trust_authority: unknown action %s\n", action.c_str());
        exitCode = 2;
    }
    if (present != nullptr)
        CertFreeCertificateContext(present);
    CertCloseStore(root, 0);
    CertFreeCertificateContext(certificate);
    std::fflush(stdout);
    return exitCode;
}
