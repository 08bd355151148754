// Every language file against the English one and against CLDR: each defines
// every text, keeps each format's arguments, gives the plural forms its rule
// picks, and the rule picks CLDR's category for every whole-number sample
// that CLDR lists for the language.
#include <gtest/gtest.h>

#include <dirent.h>

#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Format.h"
#include "Texts.h"

namespace {

const char* const Categories[] = {"zero", "one", "two", "few", "many", "other"};
const char* const PluralTexts[] = {"IDS_SECONDS", "IDS_MINUTE_SECONDS", "IDS_MINUTES", "IDS_RETRY_IN"};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// "IDS_NAME" or "IDS_NAME+k" -> text, as the resource compiler reads them.
std::map<std::string, std::string> ReadLanguage(const std::string& path) {
    static const std::regex entry(R"re(^\s*(IDS_[A-Z_]+(\+[0-5])?),\s*"(.*)"\s*$)re");
    std::map<std::string, std::string> texts;
    std::istringstream in(ReadFile(path));
    std::smatch m;
    for (std::string line; std::getline(in, line);)
        if (std::regex_match(line, m, entry))
            texts[m[1]] = std::regex_replace(m[3].str(), std::regex("\"\""), "\"");
    return texts;
}

std::vector<std::string> LanguageFiles() {
    std::vector<std::string> files;
    const std::string dir = QD_SOURCE_DIR "/resources/lang/";
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (name.size() > 3 && name.compare(name.size() - 3, 3, ".rc") == 0) files.push_back(dir + name);
        }
        closedir(d);
    }
    return files;
}

// The argument each directive of a format takes, and its type.
std::set<std::pair<int, char>> Arguments(const std::string& format) {
    static const std::regex directive(R"(%(?:(\d+):)?-?\d*(?:\.\d+)?([a-zA-Z%]))");
    std::set<std::pair<int, char>> args;
    int next = 0;
    for (std::sregex_iterator i(format.begin(), format.end(), directive), end; i != end; ++i) {
        if ((*i)[2] == "%") continue;
        const int index = (*i)[1].matched ? std::stoi((*i)[1]) : next;
        args.insert({index, static_cast<char>(std::tolower((*i)[2].str()[0]))});
        next = index + 1;
    }
    return args;
}

// The same arguments, each of the same type, and the program's Format takes
// the text: formatted with a recognisable value per argument, each comes out.
void ExpectSameArguments(const std::string& english, const std::string& text) {
    const auto wanted = Arguments(english);
    EXPECT_EQ(Arguments(text), wanted) << "\"" << text << "\" for \"" << english << "\"";
    const std::string marks[4] = {"<0>", "<1>", "<2>", "<3>"};  // at most four; unused ones text
    auto number = [&](int i) { return wanted.count({i, 'd'}) || wanted.count({i, 'u'}); };
    auto arg = [&](int i) { return number(i) ? FormatArg(90000 + i) : FormatArg(marks[i]); };
    auto format = [&] { return Format(text, {arg(0), arg(1), arg(2), arg(3)}); };
    std::string out;
    EXPECT_NO_THROW(out = format()) << text;
    for (const auto& a : wanted)
        EXPECT_NE(out.find(number(a.first) ? std::to_string(90000 + a.first) : marks[a.first]), std::string::npos)
            << text;
}

// CLDR's whole-number samples of each category, for one language code.
std::map<std::string, std::vector<int64_t>> CldrSamples(const std::string& language) {
    const std::string xml = ReadFile("/usr/share/unicode/cldr/common/supplemental/plurals.xml");
    static const std::regex rules(R"re(<pluralRules locales="([^"]*)">([\s\S]*?)</pluralRules>)re");
    static const std::regex rule(R"re(<pluralRule count="(\w+)">[^<@]*@integer([^<@]*))re");
    std::map<std::string, std::vector<int64_t>> samples;
    for (std::sregex_iterator i(xml.begin(), xml.end(), rules), end; i != end; ++i) {
        std::istringstream codes((*i)[1]);
        std::set<std::string> locales{std::istream_iterator<std::string>(codes), {}};
        if (!locales.count(language)) continue;
        const std::string body = (*i)[2];
        for (std::sregex_iterator r(body.begin(), body.end(), rule); r != end; ++r) {
            std::istringstream list(std::regex_replace((*r)[2].str(), std::regex(","), " "));
            for (std::string s; list >> s;) {
                if (s.find_first_not_of("0123456789~") != std::string::npos) continue;  // "1c6", "…"
                const size_t tilde = s.find('~');
                const int64_t from = std::stoll(s.substr(0, tilde));
                const int64_t to = tilde == std::string::npos ? from : std::stoll(s.substr(tilde + 1));
                for (int64_t n = from; n <= to; ++n) samples[(*r)[1]].push_back(n);
            }
        }
    }
    return samples;
}

TEST(Languages, EveryFileDefinesEveryTextWithItsArgumentsAndCldrsPluralForms) {
    const auto english = ReadLanguage(QD_SOURCE_DIR "/resources/lang/en.rc");
    const auto files = LanguageFiles();
    EXPECT_GE(files.size(), 35u) << "English and at least 34 others";
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        const auto texts = ReadLanguage(file);
        const std::string code = texts.count("IDS_LANGUAGE") ? texts.at("IDS_LANGUAGE") : "";
        const auto samples = CldrSamples(code);
        ASSERT_FALSE(samples.empty()) << "no CLDR plural rules for \"" << code << "\"";
        EXPECT_TRUE(texts.at("IDS_READING_ORDER") == "ltr" || texts.at("IDS_READING_ORDER") == "rtl");

        std::set<std::string> wanted;
        for (const auto& e : english)
            if (e.first.find('+') == std::string::npos) wanted.insert(e.first);
        for (const char* base : PluralTexts) {
            wanted.insert(std::string(base) + "+5");
            for (const auto& s : samples)
                for (int k = 0; k < 6; ++k)
                    if (s.first == Categories[k]) wanted.insert(std::string(base) + "+" + std::to_string(k));
        }
        std::set<std::string> defined;
        for (const auto& t : texts) defined.insert(t.first);
        EXPECT_EQ(defined, wanted);

        for (const auto& t : texts) {
            if (t.first == "IDS_LANGUAGE" || t.first == "IDS_READING_ORDER") continue;
            const std::string base = t.first.substr(0, t.first.find('+'));
            const std::string source = english.count(t.first) ? english.at(t.first) : english.at(base + "+5");
            ExpectSameArguments(source, t.second);
        }

        for (const auto& s : samples)
            for (int64_t n : s.second)
                EXPECT_STREQ(Categories[PluralCategory(code, n)], s.first.c_str()) << code << " " << n;
    }
}

}  // namespace
