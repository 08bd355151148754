// The optional check that the installer carries a valid Authenticode
// signature from the expected signer, before it is offered or run.
#pragma once

#include <string>

#include "Handles_win.h"

// The expected signer's subject common name; empty in builds without the check.
extern const char* const ExpectedSigner;

// Opens the installer for the check with read sharing only, so nothing can
// replace it until the handle is released (once the installer has started).
TKernelHandle HoldInstaller(const std::string& path);

// True when `file` (open on `path`) has a signature the system trusts, its
// signer's chain is trusted for code signing, and the signer's subject common
// name is exactly `signer`.
bool InstallerSignedBy(HANDLE file, const std::string& path, const std::string& signer);
