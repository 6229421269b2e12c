// Run statistics printed with -n: elapsed time and number of files processed.
#pragma once

#include <cstdint>

#include "app/userinfo.h"

class CStatistics : public CUserInfo {
public:
    std::string GetText() const override;

    void AddFiles(uint64_t count = 1) { m_filesProcessed += count; }
    uint64_t GetFilesProcessed() const { return m_filesProcessed; }
    void SetElapsed(int64_t seconds) { m_elapsedSeconds = seconds; }
    int64_t GetElapsed() const { return m_elapsedSeconds; }

private:
    uint64_t m_filesProcessed = 0;
    int64_t m_elapsedSeconds = 0;
};
