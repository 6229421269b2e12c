// The list command (t): one header line per archive and one listing line per
// selected entry; archives of the old format go to the old-format library.
#pragma once

#include <string>
#include <utility>

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

// Lists one archive without the KOX magic through the old-format library:
// the options and names of the command line, the archive the list command
// is at (one of those a pattern in -f matched, say).
class CTypeOld : public CCommand {
public:
    CTypeOld(CApplication& application, std::string archiveName)
        : m_application(application),
          m_archiveName(std::move(archiveName))
    {
    }
    void Execute() override;

private:
    CApplication& m_application;
    std::string m_archiveName;
};
