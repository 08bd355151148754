// What the system's signature check says about files, beside the program's
// own verdict: the smallest program that shows which cases the platform's
// WinVerifyTrust tells apart.
//
//   trustprobe <expected signer> <file>...
// One line per file, the fields separated by tabs:
//   <file> wvt=0x<WinVerifyTrust result> signer=<subject CN or -> chain=0x<the
//   signer chain's TrustStatus.dwErrorStatus, or -> verdict=<accepted|refused>
// verdict is InstallerSignedBy (app/InstallerTrust_win.cpp) on the file held
// open the way the program holds it.
#include <windows.h>

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cstdio>
#include <string>

#include "Exceptions.h"
#include "InstallerTrust.h"
#include "WideText_win.h"

namespace {

void Probe(const char* path, std::string& signer, std::string& chain, LONG& status) {
    WCHAR wide[MAX_PATH * 2] = {};
    ::MultiByteToWideChar(CP_ACP, 0, path, -1, wide, MAX_PATH * 2);
    WINTRUST_FILE_INFO file = {};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = wide;
    WINTRUST_DATA data = {};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    status = ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    signer = "-";
    chain = "-";
    CRYPT_PROVIDER_DATA* provider = ::WTHelperProvDataFromStateData(data.hWVTStateData);
    CRYPT_PROVIDER_SGNR* sgnr = provider ? ::WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
    if (sgnr && sgnr->csCertChain > 0 && sgnr->pasCertChain && sgnr->pasCertChain[0].pCert) {
        wchar_t name[512] = {};
        ::CertGetNameStringW(sgnr->pasCertChain[0].pCert, CERT_NAME_ATTR_TYPE, 0,
                             const_cast<char*>(szOID_COMMON_NAME), name, 512);
        signer = ToUtf8(name);
    }
    if (sgnr && sgnr->pChainContext) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%lx", sgnr->pChainContext->TrustStatus.dwErrorStatus);
        chain = hex;
    }
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: trustprobe <expected signer> <file>...\n");
        return 2;
    }
    for (int i = 2; i < argc; ++i) {
        std::string signer, chain;
        LONG status = 0;
        Probe(argv[i], signer, chain, status);
        std::string verdict;
        try {
            TKernelHandle held = HoldInstaller(argv[i]);
            verdict = InstallerSignedBy(held.Get(), argv[i], argv[1]) ? "accepted" : "refused";
        } catch (const Exception& e) {
            verdict = "error";
        }
        std::printf("%s\twvt=0x%08lx\tsigner=%s\tchain=%s\tverdict=%s\n", argv[i], static_cast<unsigned long>(status),
                    signer.c_str(), chain.c_str(), verdict.c_str());
    }
    return 0;
}
