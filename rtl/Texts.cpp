#include "Texts.h"

namespace {

// The whole-number part of each CLDR rule (plurals.xml), the operands being
// n = i and v = 0.
unsigned OneOther(uint64_t n) { return n == 1 ? IDS_PLURAL_ONE : IDS_PLURAL_OTHER; }

bool Millions(uint64_t n) { return n != 0 && n % 1000000 == 0; }

unsigned OneManyOther(uint64_t n) {  // it, es, pt_PT
    return n == 1 ? IDS_PLURAL_ONE : Millions(n) ? IDS_PLURAL_MANY : IDS_PLURAL_OTHER;
}

unsigned ZeroOneManyOther(uint64_t n) {  // fr, pt: "one" takes 0 too
    return n <= 1 ? IDS_PLURAL_ONE : Millions(n) ? IDS_PLURAL_MANY : IDS_PLURAL_OTHER;
}

unsigned OtherOnly(uint64_t) { return IDS_PLURAL_OTHER; }

unsigned Slavic(uint64_t n, bool elevenIsOne) {  // pl; ru and uk
    const uint64_t d = n % 10, h = n % 100;
    if (elevenIsOne ? (d == 1 && h != 11) : n == 1) return IDS_PLURAL_ONE;
    if (d >= 2 && d <= 4 && !(h >= 12 && h <= 14)) return IDS_PLURAL_FEW;
    return IDS_PLURAL_MANY;
}

unsigned Polish(uint64_t n) { return Slavic(n, false); }
unsigned EastSlavic(uint64_t n) { return Slavic(n, true); }

unsigned SerboCroatian(uint64_t n) {  // hr, sr: the East Slavic rule, "other" for "many"
    const unsigned category = EastSlavic(n);
    return category == IDS_PLURAL_MANY ? IDS_PLURAL_OTHER : category;
}

bool Teens(uint64_t n) { return n % 100 >= 11 && n % 100 <= 19; }

unsigned Latvian(uint64_t n) {
    if (n % 10 == 0 || Teens(n)) return IDS_PLURAL_ZERO;
    return n % 10 == 1 ? IDS_PLURAL_ONE : IDS_PLURAL_OTHER;
}

unsigned Lithuanian(uint64_t n) {
    if (Teens(n) || n % 10 == 0) return IDS_PLURAL_OTHER;
    return n % 10 == 1 ? IDS_PLURAL_ONE : IDS_PLURAL_FEW;
}

unsigned Romanian(uint64_t n) {
    if (n == 1) return IDS_PLURAL_ONE;
    return (n == 0 || (n % 100 >= 2 && n % 100 <= 19)) ? IDS_PLURAL_FEW : IDS_PLURAL_OTHER;
}

unsigned Slovenian(uint64_t n) {
    const uint64_t h = n % 100;
    return h == 1 ? IDS_PLURAL_ONE : h == 2 ? IDS_PLURAL_TWO : (h == 3 || h == 4) ? IDS_PLURAL_FEW : IDS_PLURAL_OTHER;
}

unsigned Czech(uint64_t n) {  // cs, sk
    return n == 1 ? IDS_PLURAL_ONE : (n >= 2 && n <= 4) ? IDS_PLURAL_FEW : IDS_PLURAL_OTHER;
}

unsigned Hebrew(uint64_t n) {
    if (n == 1) return IDS_PLURAL_ONE;
    if (n == 2) return IDS_PLURAL_TWO;
    return (n > 10 && n % 10 == 0) ? IDS_PLURAL_MANY : IDS_PLURAL_OTHER;
}

unsigned Arabic(uint64_t n) {
    const uint64_t h = n % 100;
    if (n <= 2) return static_cast<unsigned>(n);  // zero, one, two
    if (h >= 3 && h <= 10) return IDS_PLURAL_FEW;
    if (h >= 11) return IDS_PLURAL_MANY;
    return IDS_PLURAL_OTHER;
}

const struct {
    const char* language;
    unsigned (*rule)(uint64_t);
} Rules[] = {
    {"ja", OtherOnly}, {"ko", OtherOnly}, {"zh", OtherOnly}, {"th", OtherOnly},
    {"it", OneManyOther}, {"es", OneManyOther}, {"pt_PT", OneManyOther},
    {"fr", ZeroOneManyOther}, {"pt", ZeroOneManyOther},
    {"pl", Polish}, {"ru", EastSlavic}, {"uk", EastSlavic},
    {"hr", SerboCroatian}, {"sr", SerboCroatian},
    {"cs", Czech}, {"sk", Czech}, {"he", Hebrew}, {"ar", Arabic},
    {"lv", Latvian}, {"lt", Lithuanian}, {"ro", Romanian}, {"sl", Slovenian},
};

}  // namespace

unsigned PluralCategory(const std::string& language, int64_t n) {
    const uint64_t magnitude = n < 0 ? 0 - static_cast<uint64_t>(n) : static_cast<uint64_t>(n);
    for (const auto& r : Rules)
        if (language == r.language) return r.rule(magnitude);
    return OneOther(magnitude);  // en, de, nl, sv, da, fi, tr, bg, el, et, hu, nb and the like
}

std::string LoadPluralText(unsigned base, int64_t n) {
    std::string text = LoadText(base + PluralCategory(LoadText(IDS_LANGUAGE), n));
    return text.empty() ? LoadText(base + IDS_PLURAL_OTHER) : text;
}

bool TextsReadRightToLeft() { return LoadText(IDS_READING_ORDER) == "rtl"; }
