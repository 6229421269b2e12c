// The list command (t): one header line per archive and one listing line per
// selected entry; archives of the old format go to the old-format library.
#pragma once

#include "app/command.h"

class CApplication;

class CType : public CCommand {
public:
    explicit CType(CApplication& application)
        : m_application(application)
    {
    }
    void Execute() override;

private:
    CApplication& m_application;
};

// Lists an archive without the KOX magic through the old-format library,
// handing it the whole command line of the run.
class CTypeOld : public CCommand {
public:
    explicit CTypeOld(CApplication& application)
        : m_application(application)
    {
    }
    void Execute() override;

private:
    CApplication& m_application;
};
