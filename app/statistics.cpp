// The statistics block printed with -n.
#include "app/statistics.h"

#include <iomanip>
#include <sstream>

std::string CStatistics::GetText() const
{
    std::ostringstream out;
    out.fill('0');
    const int64_t elapsed = m_elapsedSeconds;
    out << "Printing program statistics for KOVZEF..." << '\n';
    out << "time elapsed: " << std::setw(2) << elapsed / 3600 << ':' << std::setw(2) << (elapsed % 3600) / 60 << ':'
        << std::setw(2) << elapsed % 60 << " (hh:mm:ss)" << '\n';
    out << "Files processed: " << m_filesProcessed;
    return out.str();
}
