// List files (-A, -X, -T), the archive-name list of -f and the final
// normalisation of the file list.
#include "app/listfiles.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <fstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/except.h"
#include "app/fshelpers.h"
#include "app/options.h"
#include "app/wildcard.h"
#include "krn/rscp/cputf8local.h"

namespace {

inline bool IsSpace(char c)
{
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

bool HasWildcard(const std::string& s)
{
    return s.find_first_of("*?") != std::string::npos;
}

// The text after the last "/", or the whole text.
std::string LastComponent(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void ToUpper(std::string& s)
{
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

// Opens a list file; COpenExcept when that fails.  A fifo is refused as an
// archive that is one is: with no writer it would never give a line.
void OpenListFile(std::ifstream& in, const char* name)
{
    const int fd = open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        throw COpenExcept(name);
    struct stat st;
    const bool fifo = fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode);
    close(fd);
    if (fifo)
        throw COpenExcept(name, ESPIPE);
    in.open(name, std::ios::in | std::ios::binary);
    if (!in.is_open())
        throw COpenExcept(name);
}

[[noreturn]] void ThrowMalformed(const char* name)
{
    throw CExcept("KOVZEF: wrong format in file " + KovShown(name), 43, true, 0);
}

// A zero byte would end the name early without a word.
void RequireNoZeroByte(const std::string& line, const char* name)
{
    if (line.find('\0') != std::string::npos)
        ThrowMalformed(name);
}

// Reads the names of an include or exclude file.  Empty lines, lines of white
// space only and lines whose first character is "#" carry no name.
void ReadNameFile(const char* name, std::vector<std::string>& out)
{
    std::ifstream in;
    OpenListFile(in, name);
    for (CLineReader line(in), end; line != end; ++line) {
        const std::string& text = *line;
        RequireNoZeroByte(text, name);
        if (text.empty() || text[0] == '#')
            continue;
        if (std::all_of(text.begin(), text.end(), IsSpace))
            continue;
        out.push_back(text);
    }
    if (in.bad())
        throw CReadExcept(name);
}

void NormaliseNames(std::vector<std::string>& names)
{
    for (std::string& s : names) {
        Trim(s);
        BackslashToSlash(s);
    }
    std::sort(names.begin(), names.end());
}

}  // namespace

void CLineReader::Advance()
{
    if (in_ == nullptr)
        return;
    // A line far longer than any path holds no name: the reading stops with
    // the stream marked bad, so that a device such as /dev/zero given as a
    // list file is refused instead of filling the memory.
    constexpr size_t kMaxLineLength = 65536;
    line_.clear();
    std::streambuf* buffer = in_->rdbuf();
    bool any = false;
    for (;;) {
        int c;
        try {
            c = buffer->sbumpc();  // throws when the file cannot be read
        } catch (...) {
            in_->setstate(std::ios::badbit);
            in_ = nullptr;
            return;
        }
        if (c == std::char_traits<char>::eof()) {
            in_->setstate(std::ios::eofbit);
            break;
        }
        any = true;
        if (c == '\n')
            break;
        if (line_.size() >= kMaxLineLength) {
            in_->setstate(std::ios::badbit);
            in_ = nullptr;
            return;
        }
        line_.push_back(static_cast<char>(c));
    }
    if (!any)
        in_ = nullptr;
}

size_t TrimLeft(std::string& s)
{
    size_t n = 0;
    while (n < s.size() && IsSpace(s[n]))
        ++n;
    s.erase(0, n);
    return n;
}

size_t Trim(std::string& s)
{
    if (s.empty())
        return 0;
    size_t removed = TrimLeft(s);
    size_t end = s.size();
    while (end > 0 && IsSpace(s[end - 1]))
        --end;
    removed += s.size() - end;
    s.resize(end);
    return removed;
}

// Names are in the local code page: a byte 0x5C that is the second byte of
// a double-byte character (Shift-JIS, Big5, GBK) is no backslash.
void BackslashToSlash(std::string& s)
{
    BackslashToSlashCP(s.data(), s.size());
}

void CombinePath(const std::string& dir, const std::string& name, std::string& out)
{
    if (name.empty())
        return;
    if (dir.empty()) {
        out = name;
        return;
    }
    std::string result;
    result.reserve(dir.size() + 1 + name.size());
    result = dir;
    if (dir.back() != '/' && name.front() != '/')
        result += '/';
    result += name;
    out = std::move(result);
}

size_t ExpandWildcards(std::vector<std::string>& list, const std::string& pattern, bool ignoreCase)
{
    std::string p = pattern;
    BackslashToSlash(p);

    std::string dir;
    const size_t slash = p.rfind('/');
    if (slash != std::string::npos)
        dir = slash <= 1 ? p.substr(0, 1) : p.substr(0, slash + 1);

    std::string listed = p;
    if (ignoreCase) {
        listed.assign(1, '*');
        CombinePath(dir, "*", listed);
    }

    FindData data;
    std::vector<FoundEntry> entries;
    int endCode = 0;
    if (!FindAll(listed.c_str(), data, entries, endCode))
        return 0;

    std::string upperDir, upperPattern;
    if (ignoreCase) {
        upperDir = dir;
        ToUpper(upperDir);
        upperPattern = p;
        ToUpper(upperPattern);
    }

    size_t count = 0;
    std::string path, upperName, upperPath;
    for (const FoundEntry& entry : entries) {
        if (entry.name == "." || entry.name == "..")
            continue;
        if (ignoreCase) {
            upperName = entry.name;
            ToUpper(upperName);
            upperPath.clear();
            CombinePath(upperDir, upperName, upperPath);
            if (!MatchWildcard(upperPath.c_str(), upperPattern.c_str()))
                continue;
        }
        path.clear();
        CombinePath(dir, entry.name, path);
        list.push_back(path);
        ++count;
    }
    return count;
}

void COptions::ReadListFiles()
{
    if (includeFile != nullptr) {
        ReadNameFile(includeFile, fileList);
        NormaliseNames(fileList);
    }
    if (excludeFile != nullptr) {
        ReadNameFile(excludeFile, excludeList);
        NormaliseNames(excludeList);
        fileList.erase(std::remove_if(fileList.begin(), fileList.end(),
                                      [this](const std::string& s) {
                                          return std::binary_search(excludeList.begin(), excludeList.end(), s);
                                      }),
                       fileList.end());
    }
}

void COptions::ReadRenameFile()
{
    if (renameFile == nullptr)
        return;
    std::ifstream in;
    OpenListFile(in, renameFile);
    for (CLineReader line(in), end; line != end; ++line) {
        std::string text = *line;
        RequireNoZeroByte(text, renameFile);
        TrimLeft(text);
        if (text.empty() || text[0] == '#')
            continue;
        // A "|" inside a character of the local code page is none.
        size_t sep = FindSingleByteCharacterCP(text.data(), text.size(), '|');
        if (sep == text.size())
            sep = static_cast<size_t>(std::find_if(text.begin(), text.end(), IsSpace) - text.begin());
        if (sep + 1 >= text.size())
            ThrowMalformed(renameFile);
        std::string oldName = text.substr(0, sep);
        std::string newName = text.substr(sep + 1);
        Trim(oldName);
        Trim(newName);
        // "f|" followed by blanks or a carriage return names nothing.
        if (newName.empty())
            ThrowMalformed(renameFile);
        BackslashToSlash(oldName);
        BackslashToSlash(newName);
        renameMap[oldName] = std::move(newName);
    }
    if (in.bad())
        throw CReadExcept(renameFile);
}

void COptions::AddRenamedFiles()
{
    for (const auto& pair : renameMap)
        fileList.push_back(pair.first);
}

void COptions::GetNewName(const std::string& name, std::string& newName) const
{
    const auto it = renameMap.find(name);
    if (it != renameMap.end())
        newName = it->second;
}

void COptions::PrepareFileList()
{
    for (std::string& s : fileList) {
        if (s.empty())
            continue;
        BackslashToSlash(s);
        if (s.back() == '/')
            s.pop_back();
    }
    std::stable_sort(fileList.begin(), fileList.end());
    const auto dot = std::find(fileList.begin(), fileList.end(), ".");
    if (dot != fileList.end()) {
        fileList.erase(std::remove(fileList.begin(), fileList.end(), "."), fileList.end());
        fileList.emplace_back("*");
    }
    fileList.erase(std::unique(fileList.begin(), fileList.end()), fileList.end());
}

std::vector<std::string>& COptions::GetArchiveList()
{
    if (!archiveListBuilt) {
        archiveListBuilt = true;
        BuildArchiveList();
    }
    return archiveList;
}

void COptions::BuildArchiveList()
{
    if (archiveName == nullptr) {
        archiveList.emplace_back(KOV_DEFAULT_ARCHIVE);
        return;
    }
    const std::string value = archiveName;
    const bool commaMode = value.find(',') != std::string::npos;
    const size_t size = value.size();
    size_t pos = 0;
    for (;;) {
        size_t end = pos;
        while (end < size && !(commaMode ? value[end] == ',' : IsSpace(value[end])))
            ++end;
        std::string item = value.substr(pos, end - pos);
        if (ignoreCase || HasWildcard(LastComponent(item))) {
            // The archives one pattern matches are taken in the order of
            // their names, whatever order the directory lists them in.
            const size_t first = archiveList.size();
            ExpandWildcards(archiveList, item, ignoreCase);
            std::sort(archiveList.begin() + static_cast<std::ptrdiff_t>(first), archiveList.end());
        } else
            archiveList.push_back(std::move(item));
        if (end >= size)
            break;
        pos = end;
        if (commaMode) {
            while (pos < size && value[pos] == ',')
                ++pos;
            if (pos >= size)
                break;
            while (pos < size && IsSpace(value[pos]))
                ++pos;
        } else {
            while (pos < size && IsSpace(value[pos]))
                ++pos;
        }
    }
}
