// The listing line of one archive entry, in the style of a long directory
// listing: permission string, size, modification date and name.
#pragma once

#include <cstdint>
#include <string>

#include "app/koxformat.h"
#include "app/userinfo.h"

class CEntryInfo : public CUserInfo {
public:
    CEntryInfo(const KoxHeaderInfo& info, const std::string& name, uint32_t digestVerified);
    ~CEntryInfo() override = default;

    // The line (no newline); the log manager adds the line end.
    std::string GetText() const override;
    const std::string& GetName() const { return m_name; }

    // Ten characters: type, then rwx for owner, group and others.
    static std::string PermissionString(uint32_t mode, bool digestVerified);
    // "%d %b %Y %H:%M" of the local time of mtime; empty when it fails.
    static std::string DateString(uint64_t mtime);

private:
    std::string m_name;
    std::string m_permissions = "----------";
    std::string m_date;
    KoxHeaderInfo m_info;
    uint32_t m_digestVerified;
};
