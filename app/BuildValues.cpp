// The per-build values that live in code rather than in the resources,
// compiled once for each variant of the program.
#include "BuildConfig.h"
#include "InstallerTrust.h"
#include "LightDialog.h"

const char* const DownloadHost = QD_DOWNLOAD_HOST;
const char* const ExpectedSigner = QD_EXPECTED_SIGNER;
const unsigned DownloadAttempts = QD_DOWNLOAD_ATTEMPTS;
