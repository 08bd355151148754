// The per-build download host, compiled once for each variant of the program.
#include "BuildConfig.h"
#include "LightDialog.h"

const char* const DownloadHost = QD_DOWNLOAD_HOST;
