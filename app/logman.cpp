// Log managers: standard output, in-memory collection, and numbered log files.
#include "app/logman.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

CLogMan::~CLogMan()
{
    // Closing the streams flushes them; the files stay on disk.
    for (int32_t i = 0; i < m_targetCount && i < static_cast<int32_t>(m_targets.size()); ++i)
        m_targets[i].stream.reset();
}

int32_t CLogMan::OpenLogFile(const std::string& name)
{
    // The log files have fixed names in the working directory, which may be
    // one an archive was just extracted into: a link planted at the name
    // must not lead the truncation and the lines to a file elsewhere.
    const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0)
        return -1;
    std::FILE* stream = fdopen(fd, "w");
    if (stream == nullptr) {
        close(fd);
        return -1;
    }
    m_targets.push_back(Target{std::unique_ptr<std::FILE, CloseFile>(stream), name});
    return m_targetCount++;
}

int CLogMan::WriteToLog(int32_t index, const std::string& text)
{
    if (index < 0 || index >= m_targetCount)
        return 0;
    const int savedErrno = errno;
    std::FILE* out = m_targets[index].stream.get();
    std::fwrite(text.data(), 1, text.size(), out);
    std::fputc('\n', out);
    std::fflush(out);
    errno = savedErrno;
    return 1;
}

namespace {
int s_outputError = 0;
std::FILE* s_console = nullptr;  // standard output until UseStandardError
}  // namespace

void CConsoleLogMan::Write(const std::string& text)
{
    // Writing a line must not change errno: stdio may set it (for example
    // while it checks whether standard output is a terminal), and a message
    // built afterwards would show that unrelated error.
    const int savedErrno = errno;
    std::FILE* out = s_console != nullptr ? s_console : stdout;
    std::fwrite(text.data(), 1, text.size(), out);
    std::fputc('\n', out);
    if (std::fflush(out) != 0 && out == stdout && s_outputError == 0)
        s_outputError = errno ? errno : EIO;
    errno = savedErrno;
}

void CConsoleLogMan::UseStandardError()
{
    s_console = stderr;
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
