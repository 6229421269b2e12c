// Log managers: standard output, in-memory collection, and numbered log files.
#include "app/logman.h"

#include <cerrno>
#include <cstdio>

CLogMan::~CLogMan()
{
    // Closing the streams flushes them; the files stay on disk.
    for (int32_t i = 0; i < m_targetCount && i < static_cast<int32_t>(m_targets.size()); ++i)
        m_targets[i].stream.reset();
}

int32_t CLogMan::OpenLogFile(const std::string& name)
{
    auto stream = std::make_unique<std::ofstream>(name, std::ios::out | std::ios::trunc);
    if (!stream->is_open())
        return -1;
    m_targets.push_back(Target{std::move(stream), name});
    return m_targetCount++;
}

int CLogMan::WriteToLog(int32_t index, const std::string& text)
{
    if (index < 0 || index >= m_targetCount)
        return 0;
    const int savedErrno = errno;
    std::ofstream& out = *m_targets[index].stream;
    out << text << '\n';
    out.flush();
    errno = savedErrno;
    return 1;
}

namespace {
int s_outputError = 0;
}  // namespace

void CConsoleLogMan::Write(const std::string& text)
{
    // Writing a line must not change errno: stdio may set it (for example
    // while it checks whether standard output is a terminal), and a message
    // built afterwards would show that unrelated error.
    const int savedErrno = errno;
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    if (std::fflush(stdout) != 0 && s_outputError == 0)
        s_outputError = errno ? errno : EIO;
    errno = savedErrno;
}

int CConsoleLogMan::OutputError()
{
    return s_outputError;
}

void CConsoleLogMan::Write(const CUserInfo& info)
{
    Write(info.GetText());
}

void CAPILogMan::Write(const std::string& text)
{
    m_collected += text;
    m_collected += '\n';
}

void CAPILogMan::Write(const CUserInfo& info)
{
    Write(info.GetText());
}
