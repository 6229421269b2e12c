// Diagnostic helpers of the crypto-library loader: the shown form of quoted
// names, a traced hex dump, a traced signer/recipient list and a reader of
// "name = value" files.
#include <cstdio>
#include <cstring>
#include <string>

#include "crypto/ssfload.h"
#include "trace/dptrc.h"

std::string SsfShownName(const char* name, std::size_t length)
{
    static const char kHex[] = "0123456789abcdef";
    std::string shown;
    shown.reserve(length);
    for (std::size_t i = 0; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(name[i]);
        if (byte >= 0x20 && byte != 0x7F) {
            shown += static_cast<char>(byte);
        } else {
            const char escaped[] = {'\\', 'x', kHex[byte >> 4], kHex[byte & 15]};
            shown.append(escaped, sizeof escaped);
        }
    }
    return shown;
}

void SsfSupTraceHexDump(const void* data, std::size_t length)
{
    if (ct_level < 2 || data == nullptr)
        return;
    const auto* p = static_cast<const unsigned char*>(data);
    DpTrcLockAcquire();
    for (std::size_t at = 0; at < length; at += 16) {
        char offset[16];
        char hex[16 * 3 + 1] = {};
        char text[17] = {};
        std::snprintf(offset, sizeof offset, "%08X", static_cast<unsigned>(at));
        for (std::size_t i = 0; i < 16; ++i) {
            if (at + i < length) {
                std::snprintf(hex + 3 * i, 4, i == 15 ? "%02X" : "%02X ", p[at + i]);
                text[i] = p[at + i] >= 0x20 && p[at + i] < 0x7f ? static_cast<char>(p[at + i]) : '.';
            } else {
                std::memcpy(hex + 3 * i, i == 15 ? "  " : "   ", i == 15 ? 3 : 4);
            }
        }
        DpTrcSaveLoc(__FILE__, __LINE__);
        DpTrc(tf, "%s  %s  %s\n", offset, hex, text);
    }
    DpTrcLockRelease();
}

namespace {

// A field of a signer entry (may be null) as the trace quotes it.
std::string Shown(const char* field, uint32_t length)
{
    return field != nullptr ? SsfShownName(field, length) : std::string();
}

}  // namespace

void SsfSupTraceSigRcpList(const SsfSigRcpList* list)
{
    if (ct_level < 2)
        return;
    DpTrcLockAcquire();
    DpTrcSaveLoc(__FILE__, __LINE__);
    DpTrc(tf, "SIGNER/RECIPIENT SECURITY INFORMATION LIST :\n");
    int n = 0;
    for (const SsfSigRcpList* node = list; node != nullptr; node = node->next) {
        const SsfSigRcpInfo* e = node->info;
        DpTrcBare(tf, "\n%d. ", ++n);
        DpTrcBare(tf, "Signer/Recipient Security Information :\n");
        if (e == nullptr)
            continue;
        // The profile is the caller's key store path, the others come from
        // certificates: each is quoted as shown.
        DpTrcBare(tf, "Id     : %s (%d)\n", Shown(e->id, e->idLen).c_str(), static_cast<int>(e->idLen));
        DpTrcBare(tf, "Reserved: %s (%d)\n", Shown(e->reserved, e->reservedLen).c_str(),
                  static_cast<int>(e->reservedLen));
        DpTrcBare(tf, "Profile: %s (%d)\n", Shown(e->profile, e->profileLen).c_str(), static_cast<int>(e->profileLen));
        DpTrcBare(tf, "Result : %s\n", e->result == 0 ? "OK" : SsfErrorName(e->result));
    }
    DpTrcLockRelease();
}

int SsfSupReadNameValueFile(const char* path, void (*pair)(const char* name, const char* value, void* info), void* info)
{
    FILE* f = path != nullptr ? std::fopen(path, "r") : nullptr;
    if (f == nullptr)
        return -1;
    // 254 characters, the line feed and the terminator.
    char line[256];
    while (std::fgets(line, sizeof line, f) != nullptr) {
        std::size_t n = std::strlen(line);
        if (n == sizeof line - 1 && line[n - 1] != '\n') {
            // Longer than a line may be: skip the rest of it.
            int c;
            while ((c = std::fgetc(f)) != EOF && c != '\n') {
            }
            continue;
        }
        while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r' || line[n - 1] == ' ' || line[n - 1] == '\t'))
            line[--n] = '\0';
        char* eq = std::strchr(line, '=');
        if (n == 0 || line[0] == '*' || eq == nullptr || pair == nullptr)
            continue;
        std::string name(line, static_cast<std::size_t>(eq - line));
        while (!name.empty() && (name.back() == ' ' || name.back() == '\t'))
            name.pop_back();
        name.erase(0, name.find_first_not_of(" \t") == std::string::npos ? name.size() : name.find_first_not_of(" \t"));
        for (char& c : name)
            if (c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 'a' + 'A');
        const char* value = eq + 1;
        while (*value == ' ' || *value == '\t')
            ++value;
        pair(name.c_str(), value, info);
    }
    std::fclose(f);
    return 0;
}
