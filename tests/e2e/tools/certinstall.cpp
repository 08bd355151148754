// Adds a CA certificate to the LocalMachine "Root" store of the Wine prefix it
// runs in, so the test server's chain is trusted without weakening any check.
// Usage: certinstall <certificate.der|.pem>
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

bool ReadAll(const char* path, std::vector<BYTE>& data) {
    HANDLE f = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD size = GetFileSize(f, nullptr);
    bool ok = size != INVALID_FILE_SIZE;
    if (ok) {
        data.resize(size);
        DWORD got = 0;
        ok = size == 0 || (ReadFile(f, data.data(), size, &got, nullptr) && got == size);
    }
    CloseHandle(f);
    return ok;
}

// PEM files carry the DER between BEGIN/END lines in base64.
bool PemToDer(const std::vector<BYTE>& pem, std::vector<BYTE>& der) {
    std::string text(pem.begin(), pem.end());
    const std::string begin = "-----BEGIN CERTIFICATE-----";
    const std::string end = "-----END CERTIFICATE-----";
    size_t b = text.find(begin);
    if (b == std::string::npos) return false;
    b += begin.size();
    size_t e = text.find(end, b);
    if (e == std::string::npos) return false;
    std::string body = text.substr(b, e - b);
    DWORD size = 0;
    if (!CryptStringToBinaryA(body.c_str(), static_cast<DWORD>(body.size()), CRYPT_STRING_BASE64,
                              nullptr, &size, nullptr, nullptr))
        return false;
    der.resize(size);
    return CryptStringToBinaryA(body.c_str(), static_cast<DWORD>(body.size()),
                                CRYPT_STRING_BASE64, der.data(), &size, nullptr, nullptr) != 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: certinstall <certificate.der|.pem>\n");
        return 2;
    }
    std::vector<BYTE> file;
    if (!ReadAll(argv[1], file)) {
        std::fprintf(stderr, "certinstall: cannot read %s (error %lu)\n", argv[1], GetLastError());
        return 1;
    }
    std::vector<BYTE> der;
    if (!PemToDer(file, der)) der = file;  // not PEM: take it as DER

    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0,
                                     CERT_SYSTEM_STORE_LOCAL_MACHINE, "Root");
    if (!store) {
        std::fprintf(stderr, "certinstall: CertOpenStore failed (error %lu)\n", GetLastError());
        return 1;
    }
    PCCERT_CONTEXT added = nullptr;
    BOOL ok = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                               static_cast<DWORD>(der.size()),
                                               CERT_STORE_ADD_REPLACE_EXISTING, &added);
    DWORD error = GetLastError();
    int rc = 0;
    if (!ok) {
        std::fprintf(stderr, "certinstall: CertAddEncodedCertificateToStore failed (error 0x%lx)\n",
                     error);
        rc = 1;
    } else {
        char name[256] = "";
        CertGetNameStringA(added, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name, sizeof name);
        std::printf("installed \"%s\" into LocalMachine\\Root\n", name);
        CertFreeCertificateContext(added);
    }
    CertCloseStore(store, 0);
    return rc;
}
