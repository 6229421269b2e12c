#include "oldformat/shownname.h"

#include <cstdint>

#include "nls/utf8char.h"

namespace {

constexpr char kHex[] = "0123456789abcdef";

void AppendHex(std::string& line, unsigned char c)
{
    const char hex[4] = {'\\', 'x', kHex[c >> 4], kHex[c & 0x0F]};
    line.append(hex, sizeof hex);
}

bool Between(unsigned char c, unsigned char low, unsigned char high)
{
    return c >= low && c <= high;
}

// Bytes that may belong to a control: C0, DEL, the bytes 0x80 to 0x9F and
// 0xC2, the first byte of U+0080 to U+009F.  Text without any of them (all
// of ASCII and most UTF-8 letters) holds no control.
struct ControlCandidates {
    bool byte[256] = {};
    constexpr ControlCandidates()
    {
        for (int c = 0; c < 0x20; ++c)
            byte[c] = true;
        for (int c = 0x7F; c <= 0x9F; ++c)
            byte[c] = true;
        byte[0xC2] = true;
    }
};
constexpr ControlCandidates kCandidates;

}  // namespace

void KovAppendShown(std::string& line, std::string_view text)
{
    const size_t n = text.size();
    size_t i = 0;
    // The whole of nearly every name in one scan.
    while (i < n && !kCandidates.byte[static_cast<unsigned char>(text[i])])
        ++i;
    if (i == n) {
        line.append(text);
        return;
    }
    // A candidate is judged with the character it belongs to: the walk goes
    // from the start, character by character.
    i = 0;
    size_t plain = 0;  // start of the bytes not yet appended
    while (i < n) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        size_t escaped = 1;
        if (Between(c, 0x20, 0x7E)) {
            ++i;
            continue;
        }
        if (c >= 0x80) {
            const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
            const size_t length = KovUtf8CharLength(bytes + i, bytes + n);
            const bool c1 = length == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
            if (length != 0 && !c1) {
                i += length;
                continue;
            }
            if (length == 0 && c >= 0xA0) {  // a letter of an 8-bit code page
                ++i;
                continue;
            }
            if (c1)
                escaped = 2;
        }
        line.append(text.substr(plain, i - plain));
        for (size_t k = 0; k < escaped; ++k)
            AppendHex(line, static_cast<unsigned char>(text[i + k]));
        i += escaped;
        plain = i;
    }
    line.append(text.substr(plain));
}

std::string KovShown(std::string_view text)
{
    std::string line;
    KovAppendShown(line, text);
    return line;
}

std::string KovEscapedBytes(std::string_view bytes)
{
    std::string out;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '\\')
            out += static_cast<char>(c);
        else
            AppendHex(out, c);
    }
    return out;
}

std::string KovShownLines(std::string_view text)
{
    std::string lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string_view::npos; start = end + 1) {
        KovAppendShown(lines, text.substr(start, end - start));
        lines += '\n';
    }
    KovAppendShown(lines, text.substr(start));
    return lines;
}
