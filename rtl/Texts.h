// The texts the user reads, in the user's language: each language is a file
// of the program's resources, and the platform picks one the way it picks any
// resource (the thread's UI language, then the user's and the system's, then
// English). Host builds, which have no resources, read the English file.
#pragma once

#include <cstdint>
#include <string>

#include "TextIds.h"

// The text `id`, in UTF-8; empty when the language lacks it.
std::string LoadText(unsigned id);

// The form of the plural text `base` for the count `n`, by the plural rule of
// the language the texts come from; its "other" form where it has no own.
std::string LoadPluralText(unsigned base, int64_t n);

// The CLDR plural category (IDS_PLURAL_ZERO ... IDS_PLURAL_OTHER) of the
// whole number `n` in the language with the CLDR code `language` ("pl",
// "pt", "zh"); a code the table does not know gets English's rule.
unsigned PluralCategory(const std::string& language, int64_t n);

// True when the language of the texts reads right to left (Arabic, Hebrew):
// the dialog is then mirrored and message boxes read right to left.
bool TextsReadRightToLeft();
