// Log managers: every user-visible line goes through one of them.  Besides
// the main destination (standard output, or memory) a log manager keeps extra
// log files open as numbered targets (the list of inaccessible files).
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/userinfo.h"

class CLogMan {
public:
    virtual ~CLogMan();

    // Writes one line to the main destination.
    virtual void Write(const std::string& text) = 0;
    // Writes the text of an info object as one line.
    virtual void Write(const CUserInfo& info) = 0;

    // Opens (creating or truncating) the named file as a new target; returns
    // its index, or -1 when it cannot be opened (nothing is added then).  A
    // symbolic link at the name is not followed: it cannot be opened.
    int32_t OpenLogFile(const std::string& name);
    // Writes text and a line end to the target and flushes; 1 on success,
    // 0 (writing nothing) for an index that names no target.
    int WriteToLog(int32_t index, const std::string& text);
    int32_t TargetCount() const { return m_targetCount; }

protected:
    CLogMan() = default;
    CLogMan(const CLogMan&) = delete;
    CLogMan& operator=(const CLogMan&) = delete;

private:
    struct CloseFile {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    struct Target {
        std::unique_ptr<std::FILE, CloseFile> stream;
        std::string name;
    };
    int32_t m_targetCount = 0;
    std::vector<Target> m_targets;
};

// Writes to standard output, one flushed line per call; to standard error
// once a run has its archive go to standard output.
class CConsoleLogMan : public CLogMan {
public:
    void Write(const std::string& text) override;
    void Write(const CUserInfo& info) override;
    // The error of the first line that could not be written to standard
    // output, or 0.
    static int OutputError();
    // Sends the lines of every console log manager to standard error from
    // now on, for the rest of the process.
    static void UseStandardError();
};

// Collects the lines in memory (each followed by a line feed) for the
// in-process extraction entry.
class CAPILogMan : public CLogMan {
public:
    void Write(const std::string& text) override;
    void Write(const CUserInfo& info) override;
    const std::string& Collected() const { return m_collected; }

private:
    std::string m_collected;
};
