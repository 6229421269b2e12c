// Reading the version text of a crypto library without a version record.
#include "crypto/ssfversiontext.h"

namespace ssfsup {

namespace {

bool Digit(char c)
{
    return c >= '0' && c <= '9';
}

// The decimal number of a run of at most nine digits at pos; false when none.
bool Number(const std::string& s, std::size_t pos, std::size_t* end, uint32_t* value)
{
    std::size_t i = pos;
    uint32_t v = 0;
    while (i < s.size() && Digit(s[i]) && i - pos < 9)
        v = v * 10 + static_cast<uint32_t>(s[i++] - '0');
    if (i == pos || (i < s.size() && Digit(s[i])))
        return false;
    *end = i;
    *value = v;
    return true;
}

}  // namespace

std::string RewriteVersionText(const std::string& text)
{
    if (text.size() < 31 || text.find("KOVTELMIRLIB") == std::string::npos)
        return text;
    const std::size_t telmir = text.find("TELMIR");
    const std::size_t version = text.find("Version ", telmir);
    if (version == std::string::npos)
        return text;
    const std::size_t start = version + 8;
    const std::size_t blank = text.find(' ', start);
    if (blank == std::string::npos || blank == start)
        return text;
    return "KOVTELMIRLIB Version " + text.substr(start, blank - start);
}

void ParseVersionText(const std::string& text, uint32_t* version, uint32_t* patchLevel)
{
    static const std::string kVersion = "Version 1.";
    const std::size_t at = text.find(kVersion);
    if (text.size() < 31 || text.find("KOVTELMIRLIB") == std::string::npos || at == std::string::npos)
        return;
    std::size_t end = 0;
    uint32_t v = 0;
    if (!Number(text, at + kVersion.size(), &end, &v) || end >= text.size() || text[end] != '.')
        return;
    if (version != nullptr)
        *version = v;
    uint32_t level = 0;
    std::size_t levelEnd = 0;
    if (patchLevel != nullptr && Number(text, end + 1, &levelEnd, &level) &&
        text.find(' ', levelEnd) != std::string::npos)
        *patchLevel = level;
}

}  // namespace ssfsup
