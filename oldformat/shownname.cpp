#include "oldformat/shownname.h"

#include <cstdint>

#include "krn/rscp/cputf8local.h"
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

void AppendEscaped(std::string& line, std::string_view bytes)
{
    for (char c : bytes)
        AppendHex(line, static_cast<unsigned char>(c));
}

// The rules of the bytes (ISO 8859-1, UTF-8): a well-formed UTF-8 character
// other than U+0080-U+009F and a byte 0xA0-0xFF outside UTF-8 are shown as
// they are.  The bytes before from are printable ASCII.
void AppendShownByBytes(std::string& line, std::string_view text, size_t from)
{
    const size_t n = text.size();
    size_t i = from;
    while (i < n && !kCandidates.byte[static_cast<unsigned char>(text[i])])
        ++i;
    if (i == n) {
        line.append(text);
        return;
    }
    // A candidate is judged with the character it belongs to: the walk goes
    // character by character from the first byte that is no printable ASCII.
    i = from;
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
        AppendEscaped(line, text.substr(i, escaped));
        i += escaped;
        plain = i;
    }
    line.append(text.substr(plain));
}

// The characters of the local code page: each is shown as it is, but a
// control character and a byte that starts none.  The bytes before from
// are printable ASCII.
void AppendShownByCharacters(std::string& line, std::string_view text, size_t from)
{
    const char* const start = text.data();
    const char* const end = start + text.size();
    const char* p = start + from;
    const char* plain = start;  // start of the bytes not yet appended
    while (p < end) {
        if (Between(static_cast<unsigned char>(*p), 0x20, 0x7E)) {
            ++p;
            continue;
        }
        size_t length = 1;
        if (LocalCharacterAt(p, end, &length) == LocalCharacter::kText) {
            p += length;
            continue;
        }
        line.append(plain, static_cast<size_t>(p - plain));
        AppendEscaped(line, std::string_view(p, length));
        p += length;
        plain = p;
    }
    line.append(plain, static_cast<size_t>(end - plain));
}

}  // namespace

void KovAppendShown(std::string& line, std::string_view text)
{
    // Printable ASCII is shown as it is under every code page: the whole of
    // nearly every name in one scan.
    const size_t n = text.size();
    size_t i = 0;
    while (i < n && Between(static_cast<unsigned char>(text[i]), 0x20, 0x7E))
        ++i;
    if (i == n) {
        line.append(text);
        return;
    }
    if (LocalNamesShownByBytes())
        AppendShownByBytes(line, text, i);
    else
        AppendShownByCharacters(line, text, i);
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
