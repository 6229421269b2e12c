#include "app/entryinfo.h"

#include <ctime>

#include "oldformat/shownname.h"

CEntryInfo::CEntryInfo(const KoxHeaderInfo& info, const std::string& name, uint32_t digestVerified)
    : m_name(name),
      m_info(info),
      m_digestVerified(digestVerified)
{
    m_permissions = PermissionString(info.mode, m_digestVerified != 0);
    m_date = DateString(info.mtime);
}

std::string CEntryInfo::PermissionString(uint32_t mode, bool digestVerified)
{
    std::string p = "----------";
    if (digestVerified)
        p[0] = 's';
    if ((mode & KOX_MODE_TYPE_MASK) == KOX_MODE_DIRECTORY)
        p[0] = 'd';
    else if ((mode & KOX_MODE_TYPE_MASK) == KOX_MODE_SYMLINK)
        p[0] = 'l';
    static const char kLetters[3] = {'r', 'w', 'x'};
    for (int i = 0; i < 9; ++i)
        if (mode & (0400u >> i))
            p[1 + i] = kLetters[i % 3];
    if (mode & 04000)
        p[3] = 's';
    if (mode & 02000)
        p[6] = 's';
    if (mode & 01000)
        p[9] = 's';
    return p;
}

std::string CEntryInfo::DateString(uint64_t mtime)
{
    if (mtime > static_cast<uint64_t>(INT64_MAX))
        return std::string();
    const time_t t = static_cast<time_t>(mtime);
    struct tm parts;
    if (!localtime_r(&t, &parts))
        return std::string();
    char buffer[18];
    const size_t n = strftime(buffer, sizeof buffer, "%d %b %Y %H:%M", &parts);
    return std::string(buffer, n);
}

namespace {

// Decimal text of a value that may exceed 64 bits (size + size high * 2^32).
std::string Decimal(unsigned __int128 value)
{
    char digits[48];
    size_t n = 0;
    do {
        digits[n++] = static_cast<char>('0' + static_cast<int>(value % 10));
        value /= 10;
    } while (value);
    std::string out;
    out.reserve(n);
    while (n)
        out += digits[--n];
    return out;
}

void AppendRight(std::string& line, const std::string& text, size_t width)
{
    if (text.size() < width)
        line.append(width - text.size(), ' ');
    line += text;
}

}  // namespace

std::string CEntryInfo::GetText() const
{
    const unsigned __int128 size = static_cast<unsigned __int128>(m_info.size) +
                                   (static_cast<unsigned __int128>(m_info.sizeHigh) << 32);
    std::string line = m_permissions;
    AppendRight(line, Decimal(size), 12);
    line += ' ';
    AppendRight(line, m_date, 20);
    line += ' ';
    // A name is shown with its control bytes escaped.
    KovAppendShown(line, m_name);
    return line;
}
