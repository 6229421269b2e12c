// The long listing of an old-format archive ('t' with verbose).
#include <cstdio>
#include <cstring>
#include <ctime>

#include "oldformat/ofinternal.h"
#include "oldformat/shownname.h"

std::string OfPermissionString(uint32_t mode)
{
    std::string s(10, '-');
    if (mode & 0x4000u)
        s[0] = 'd';
    static constexpr struct {
        uint32_t bit;
        size_t pos;
        char letter;
    } kBits[] = {
        {0400, 1, 'r'}, {0200, 2, 'w'}, {0100, 3, 'x'}, {040, 4, 'r'}, {020, 5, 'w'},
        {010, 6, 'x'},  {04, 7, 'r'},   {02, 8, 'w'},   {01, 9, 'x'},
    };
    for (const auto& b : kBits)
        if (mode & b.bit)
            s[b.pos] = b.letter;
    if (mode & 04000u)
        s[3] = 's';
    if (mode & 02000u)
        s[6] = 's';
    if (mode & 01000u)
        s[9] = 's';
    return s;
}

void OfListEntries(const OfHandle& h)
{
    if (!h.verbose)
        return;
    for (const OfEntry& e : h.entries) {
        if (!e.selected)
            continue;
        const std::time_t t = static_cast<std::time_t>(e.mtime);
        std::tm tm;
        char date[64] = "";
        if (localtime_r(&t, &tm) == nullptr)
            std::memset(&tm, 0, sizeof tm);
        if (std::strftime(date, sizeof date, "%b %d %H:%M", &tm) == 0)
            date[0] = '\0';
        std::printf("%s  %9lu  %s   %s\n", OfPermissionString(e.mode).c_str(), static_cast<unsigned long>(e.size), date,
                    KovShown(e.name).c_str());
    }
}
