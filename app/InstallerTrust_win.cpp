#include "InstallerTrust.h"

#include <windows.h>

#include <wincrypt.h>
#include <softpub.h>
#include <wintrust.h>

#include "SystemError.h"
#include "WideText_win.h"

TKernelHandle HoldInstaller(const std::string& path) {
    TKernelHandle file(::CreateFileW(ToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) RaiseLastSystemError();
    return file;
}

namespace {

void FreeChain(PCCERT_CHAIN_CONTEXT chain) { ::CertFreeCertificateChain(chain); }
using TCertChain = TOwnedHandle<NullableTraits<PCCERT_CHAIN_CONTEXT, FreeChain>>;

// WinVerifyTrust's verdict on one file, with the state it keeps for the
// signer's details until it is closed.
class TTrustVerdict {
public:
    TTrustVerdict(HANDLE file, const WCHAR* path) {
        fileInfo_.cbStruct = sizeof fileInfo_;
        fileInfo_.pcwszFilePath = path;
        fileInfo_.hFile = file;
        data_.cbStruct = sizeof data_;
        data_.dwUIChoice = WTD_UI_NONE;
        data_.fdwRevocationChecks = WTD_REVOKE_NONE;
        data_.dwUnionChoice = WTD_CHOICE_FILE;
        data_.pFile = &fileInfo_;
        data_.dwStateAction = WTD_STATEACTION_VERIFY;
        // No owner window: the check never shows anything of its own.
        status_ = ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action_, &data_);
    }
    ~TTrustVerdict() {
        data_.dwStateAction = WTD_STATEACTION_CLOSE;
        ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action_, &data_);
    }
    TTrustVerdict(const TTrustVerdict&) = delete;
    TTrustVerdict& operator=(const TTrustVerdict&) = delete;

    bool Trusted() const { return status_ == ERROR_SUCCESS; }

    // The signer, with its certificate first in pasCertChain; valid while
    // this object lives.
    const CRYPT_PROVIDER_SGNR* Signer() const {
        CRYPT_PROVIDER_DATA* provider = ::WTHelperProvDataFromStateData(data_.hWVTStateData);
        CRYPT_PROVIDER_SGNR* signer = provider ? ::WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
        if (!signer || signer->csCertChain == 0 || !signer->pasCertChain || !signer->pasCertChain[0].pCert)
            return nullptr;
        return signer;
    }

private:
    GUID action_ = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    WINTRUST_FILE_INFO fileInfo_ = {};
    WINTRUST_DATA data_ = {};
    LONG status_ = 0;
};

std::string SubjectCommonName(PCCERT_CONTEXT cert) {
    wchar_t name[512] = {};
    ::CertGetNameStringW(cert, CERT_NAME_ATTR_TYPE, 0, const_cast<char*>(szOID_COMMON_NAME), name, 512);
    return ToUtf8(name);
}

// The check's own word on the signer: the platform's trust provider does not
// everywhere refuse a signer whose chain ends at an untrusted root, was not
// issued for code signing or runs through a certificate that is no CA, and its
// Authenticode policy does not everywhere see the last. So the chain is built
// here, for the code-signing usage, and must come out without any error and
// pass the Authenticode policy.
bool SignerChainTrusted(const CRYPT_PROVIDER_SGNR& signer) {
    PCCERT_CONTEXT cert = signer.pasCertChain[0].pCert;
    LPSTR usages[] = {const_cast<LPSTR>(szOID_PKIX_KP_CODE_SIGNING)};
    CERT_CHAIN_PARA para = {};
    para.cbSize = sizeof para;
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    para.RequestedUsage.Usage.cUsageIdentifier = 1;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;

    // As of the time the provider verified the signature for: a trusted
    // time-stamp's where there is one (so a time-stamped signature outlives
    // its certificate, as with the provider), the present otherwise. The
    // signature's own certificates (the signer's store) supply intermediates;
    // revocation is not checked, as in the provider's call.
    FILETIME asOf = signer.sftVerifyAsOf;
    FILETIME* time = (asOf.dwLowDateTime || asOf.dwHighDateTime) ? &asOf : nullptr;
    PCCERT_CHAIN_CONTEXT built = nullptr;
    if (!::CertGetCertificateChain(nullptr, cert, time, cert->hCertStore, &para, 0, nullptr, &built)) return false;
    TCertChain chain(built);
    if (chain.Get()->TrustStatus.dwErrorStatus != CERT_TRUST_NO_ERROR) return false;

    CERT_CHAIN_POLICY_PARA policy = {};
    policy.cbSize = sizeof policy;
    CERT_CHAIN_POLICY_STATUS status = {};
    status.cbSize = sizeof status;
    return ::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_AUTHENTICODE, chain.Get(), &policy, &status) &&
           status.dwError == 0;
}

}  // namespace

bool InstallerSignedBy(HANDLE file, const std::string& path, const std::string& signer) {
    const TWideText widePath = ToWide(path);
    TTrustVerdict verdict(file, widePath.c_str());
    if (!verdict.Trusted()) return false;
    const CRYPT_PROVIDER_SGNR* found = verdict.Signer();
    return found && SignerChainTrusted(*found) && SubjectCommonName(found->pasCertChain[0].pCert) == signer;
}
