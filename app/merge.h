// The merge command (m): appends every entry of one KOX archive (the first
// name of -f) to the end of another (the second name).
#pragma once

#include "app/command.h"

class CApplication;

class CMerge : public CCommand {
public:
    explicit CMerge(CApplication& application)
        : m_application(application)
    {
    }
    void Execute() override;

private:
    CApplication& m_application;
};
