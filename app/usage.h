// The usage text shown when the program is started without arguments.
#pragma once

#include "app/userinfo.h"

class CUsage : public CUserInfo {
public:
    std::string GetText() const override;
};
