#include "InstallerTrust.h"

#include <windows.h>

#include <wincrypt.h>
#include <softpub.h>
#include <wintrust.h>

#include "iTovInetUtils.h"

TKernelHandle HoldInstaller(const std::string& path) {
    TKernelHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) RaiseLastSystemError();
    return file;
}

namespace {

std::string SubjectCommonName(PCCERT_CONTEXT cert) {
    char name[512] = {};
    ::CertGetNameStringA(cert, CERT_NAME_ATTR_TYPE, 0, const_cast<char*>(szOID_COMMON_NAME), name,
                         sizeof name);
    return name;
}

}  // namespace

bool InstallerSignedBy(HANDLE file, const std::string& path, const std::string& signer) {
    WCHAR widePath[MAX_PATH * 2] = {};
    if (!::MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, widePath, MAX_PATH * 2)) return false;
    WINTRUST_FILE_INFO fileInfo = {};
    fileInfo.cbStruct = sizeof fileInfo;
    fileInfo.pcwszFilePath = widePath;
    fileInfo.hFile = file;

    WINTRUST_DATA data = {};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &fileInfo;
    data.dwStateAction = WTD_STATEACTION_VERIFY;

    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    // No owner window: the check never shows anything of its own.
    LONG status = ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);

    bool trusted = false;
    if (status == ERROR_SUCCESS) {
        CRYPT_PROVIDER_DATA* provider = ::WTHelperProvDataFromStateData(data.hWVTStateData);
        CRYPT_PROVIDER_SGNR* signerInfo =
            provider ? ::WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
        if (signerInfo && signerInfo->csCertChain > 0 && signerInfo->pasCertChain &&
            signerInfo->pasCertChain[0].pCert)
            trusted = SubjectCommonName(signerInfo->pasCertChain[0].pCert) == signer;
    }

    data.dwStateAction = WTD_STATEACTION_CLOSE;
    ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    return trusted;
}
