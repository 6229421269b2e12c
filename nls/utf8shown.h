// How a text that is UTF-8 whatever the local code page (a certificate's
// subject and issuer, the signer's type) is shown on a line of output, so
// that it can neither send control sequences to a terminal nor forge a line
// of its own.  Names of files are shown by the local code page's characters
// instead (KovShown).  Header only: the crypto library quotes certificate
// names with it too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "nls/utf8char.h"

// Appends text to line with every control written as "\x" and two lower
// case hex digits: the bytes 0x00 to 0x1F and 0x7F, the characters U+0080
// to U+009F (as their two bytes), and every byte that is not part of a well
// formed UTF-8 character.  Every other character, a backslash among them,
// is appended as it is.
inline void KovAppendShownUtf8(std::string& line, std::string_view text)
{
    static constexpr char kHex[] = "0123456789abcdef";
    const auto* const start = reinterpret_cast<const uint8_t*>(text.data());
    const auto* const end = start + text.size();
    const uint8_t* plain = start;  // start of the bytes not yet appended
    const uint8_t* p = start;
    while (p < end) {
        const uint8_t c = *p;
        if (c >= 0x20 && c < 0x7F) {
            ++p;
            continue;
        }
        size_t escaped = 1;
        if (c >= 0x80) {
            const size_t length = KovUtf8CharLength(p, end);
            const bool c1 = length == 2 && c == 0xC2 && p[1] < 0xA0;
            if (length != 0 && !c1) {
                p += length;
                continue;
            }
            if (c1)
                escaped = 2;
        }
        line.append(reinterpret_cast<const char*>(plain), static_cast<size_t>(p - plain));
        for (size_t i = 0; i < escaped; ++i) {
            const char hex[4] = {'\\', 'x', kHex[p[i] >> 4], kHex[p[i] & 0x0F]};
            line.append(hex, sizeof hex);
        }
        p += escaped;
        plain = p;
    }
    line.append(reinterpret_cast<const char*>(plain), static_cast<size_t>(end - plain));
}

// The text as KovAppendShownUtf8 shows it.
inline std::string KovShownUtf8(std::string_view text)
{
    std::string line;
    KovAppendShownUtf8(line, text);
    return line;
}
