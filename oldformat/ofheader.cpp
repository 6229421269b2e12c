// The header section of an old-format archive: one text line per entry,
// comment lines in front, and a "#" line that ends the section.  Also the
// include file (-A), which is read with the same line reader.
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <climits>
#include <cstring>
#include <ctime>

#include "oldformat/ofinternal.h"

namespace {

constexpr size_t kLineBuffer = 4096;

enum class LineRead { Line, End, TooLong, Error };

// Reads the rest of a line into buf (the first character c is already read).
// The line end is not stored; the line is NUL-terminated.
LineRead ReadLineFrom(FILE* f, int c, char* buf, size_t& len)
{
    len = 0;
    while (c != EOF && c != '\n') {
        if (len + 1 >= kLineBuffer)
            return LineRead::TooLong;
        buf[len++] = static_cast<char>(c);
        c = getc_unlocked(f);
    }
    if (c == EOF && ferror(f))
        return LineRead::Error;
    buf[len] = '\0';
    return LineRead::Line;
}

// Skips to the character after the next line end; false on a read error.
bool SkipLine(FILE* f)
{
    int c;
    while ((c = getc_unlocked(f)) != EOF && c != '\n') {
    }
    return !(c == EOF && ferror(f));
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool ParseOctal(const char* s, const char* e, uint32_t& out)
{
    if (s == e)
        return false;
    uint64_t v = 0;
    for (; s < e; ++s) {
        if (*s < '0' || *s > '7')
            return false;
        v = v * 8 + static_cast<uint64_t>(*s - '0');
        if (v > UINT32_MAX)
            return false;
    }
    out = static_cast<uint32_t>(v);
    return true;
}

bool ParseUnsigned(const char* s, const char* e, uint64_t& out)
{
    if (s == e)
        return false;
    uint64_t v = 0;
    for (; s < e; ++s) {
        if (*s < '0' || *s > '9')
            return false;
        const uint64_t d = static_cast<uint64_t>(*s - '0');
        if (v > (UINT64_MAX - d) / 10)
            return false;
        v = v * 10 + d;
    }
    out = v;
    return true;
}

// 1 parsed, 0 not a number, -1 a number that does not fit the time type.
int ParseTime(const char* s, const char* e, int64_t& out)
{
    bool negative = false;
    if (s < e && (*s == '-' || *s == '+'))
        negative = *s++ == '-';
    uint64_t v = 0;
    const char* digits = s;
    bool overflow = false;
    for (; s < e; ++s) {
        if (*s < '0' || *s > '9')
            return 0;
        if (v <= UINT64_MAX / 10)
            v = v * 10 + static_cast<uint64_t>(*s - '0');
        if (v > static_cast<uint64_t>(INT64_MAX))
            overflow = true;
    }
    if (s == digits)
        return 0;
    if (overflow)
        return -1;
    out = negative ? -static_cast<int64_t>(v) : static_cast<int64_t>(v);
    return 1;
}

// The form for names with blanks: the five numbers are taken from the end of
// the line, the name is what lies between the type character's blank and
// them, without the padding blanks in front of the numbers.
OfLineResult ParseFromEnd(const char* line, size_t length, OfEntry& e)
{
    const char* tokS[5];
    const char* tokE[5];
    const char* end = line + length;
    while (end > line && (IsBlank(end[-1]) || end[-1] == '\r'))
        --end;
    for (int k = 4; k >= 0; --k) {
        const char* s = end;
        while (s > line && !IsBlank(s[-1]))
            --s;
        if (s == end)
            return OfLineResult::Format;
        tokS[k] = s;
        tokE[k] = end;
        end = s;
        while (end > line && IsBlank(end[-1]))
            --end;
    }
    if (length < 2 || !IsBlank(line[1]))
        return OfLineResult::Format;
    const char* nameStart = line + 2;
    if (end < nameStart || end - nameStart < 2)
        return OfLineResult::Format;

    uint32_t mode;
    uint64_t size, csize, crc;
    int64_t mtime = 0;
    if (!ParseOctal(tokS[0], tokE[0], mode) || !ParseUnsigned(tokS[1], tokE[1], size) ||
        !ParseUnsigned(tokS[2], tokE[2], csize) || !ParseUnsigned(tokS[4], tokE[4], crc) || crc > UINT32_MAX)
        return OfLineResult::Format;
    const int t = ParseTime(tokS[3], tokE[3], mtime);
    if (t == 0)
        return OfLineResult::Format;
    if (t < 0)
        return OfLineResult::Time;

    e.type = line[0];
    e.name.assign(nameStart, static_cast<size_t>(end - nameStart));
    e.mode = mode;
    e.size = size;
    e.csize = csize;
    e.mtime = mtime;
    e.checksum = static_cast<uint32_t>(crc);
    return OfLineResult::Ok;
}

bool NameSelects(const std::string& given, const std::string& name)
{
    if (name.size() < given.size() || name.compare(0, given.size(), given) != 0)
        return false;
    if (name.size() == given.size())
        return true;
    const char next = name[given.size()];
    return next == '/' || next == '\\';
}

bool IsSelected(const OfHandle& h, const OfEntry& e, const std::string& normalised)
{
    if (h.names.empty())
        return true;
    for (const OfName& n : h.names)
        if (NameSelects(n.normalised, e.name) || NameSelects(n.normalised, normalised))
            return true;
    return false;
}

void SetTarget(const OfHandle& h, OfEntry& e, const std::string& normalised)
{
    const std::string targetDir = h.targetDir ? *h.targetDir : std::string();
    if (normalised.empty()) {  // the extraction directory itself
        e.target = targetDir.empty() ? std::string(".") : targetDir;
        return;
    }
    const EntryPath plan = OfPlanTarget(e.name, normalised, targetDir, h.pFlag);
    e.target = plan.path;
    e.unsafe = plan.path.empty();
    e.leadingRemoved = plan.leadingRemoved;
}

struct FileCloser {
    FILE* f;
    ~FileCloser()
    {
        if (f)
            fclose(f);
    }
};

}  // namespace

OfLineResult OfParseHeaderLine(const char* line, size_t length, OfEntry& e)
{
    // The plain form: the type character, a name without blanks and six or
    // seven blank-separated numbers, each read whole.  (A scanf-style field
    // width would split a wide number across two fields, and its unsigned
    // conversions would take "-1" as the largest value.)
    const char* tokS[8];
    const char* tokE[8];
    size_t count = 0;
    const char* p = line;
    const char* end = line + length;
    while (end > line && (IsBlank(end[-1]) || end[-1] == '\r'))
        --end;
    while (p < end && count <= 7) {
        while (p < end && IsBlank(*p))
            ++p;
        if (p == end)
            break;
        const char* s = p;
        while (p < end && !IsBlank(*p))
            ++p;
        if (count < 8) {
            tokS[count] = s;
            tokE[count] = p;
        }
        ++count;
    }
    OfLineResult result = OfLineResult::Format;
    if ((count == 6 || count == 7) && tokS[0] == line && tokE[0] == line + 1) {
        uint32_t mode;
        uint64_t size, csize, crc = 0;
        int64_t mtime = 0;
        if (ParseOctal(tokS[2], tokE[2], mode) && ParseUnsigned(tokS[3], tokE[3], size) &&
            ParseUnsigned(tokS[4], tokE[4], csize) && (count == 6 || ParseUnsigned(tokS[6], tokE[6], crc)) &&
            crc <= UINT32_MAX) {
            const int t = ParseTime(tokS[5], tokE[5], mtime);
            if (t < 0)
                return OfLineResult::Time;
            if (t > 0) {
                e.type = line[0];
                e.name.assign(tokS[1], static_cast<size_t>(tokE[1] - tokS[1]));
                e.mode = mode;
                e.size = size;
                e.csize = csize;
                e.mtime = mtime;
                e.checksum = static_cast<uint32_t>(crc);
                result = OfLineResult::Ok;
            }
        }
    }
    // Otherwise the name holds blanks: the numbers are taken from the end.
    if (result != OfLineResult::Ok)
        result = ParseFromEnd(line, length, e);
    if (result != OfLineResult::Ok)
        return result;
    // A time no calendar date can be made of is refused like one that does
    // not fit the time type.
    struct tm calendar;
    const time_t when = static_cast<time_t>(e.mtime);
    if (gmtime_r(&when, &calendar) == nullptr)
        return OfLineResult::Time;
    if (e.type == 'D')
        e.mode |= 0x4000u;
    if (e.type == 'F' && e.size > 0 && e.csize == 0)
        return OfLineResult::Format;
    return OfLineResult::Ok;
}

bool OfReadHeaders(OfHandle& h, OfError& error)
{
    const std::string& archive = h.ArchiveName();
    // Opened without blocking: a fifo matched by an archive pattern would
    // otherwise wait for a writer.  Archives are read with seeks, so a fifo
    // is refused.
    const int fd = open(archive.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat st { };
    if (fd >= 0 && fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode)) {
        close(fd);
        OfSetError(error, OF_E_SYSTEM, archive.c_str(), ESPIPE);
        return false;
    }
    FILE* f = fd < 0 ? nullptr : fdopen(fd, "rb");
    if (!f) {
        const int err = errno;
        if (fd >= 0)
            close(fd);
        OfSetError(error, OF_E_SYSTEM, archive.c_str(), err);
        return false;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    FileCloser closer{f};
    errno = 0;
    char line[kLineBuffer];
    bool seenHeader = false;
    bool ended = false;
    uint32_t sequence = 0;
    h.entries.clear();
    for (;;) {
        const int c = getc_unlocked(f);
        if (c == EOF) {
            if (ferror(f)) {
                OfSetError(error, OF_E_SYSTEM, archive.c_str(), errno ? errno : EIO);
                return false;
            }
            break;
        }
        if (c == '#') {
            if (!SkipLine(f)) {
                OfSetError(error, OF_E_SYSTEM, archive.c_str(), EIO);
                return false;
            }
            if (seenHeader) {
                ended = true;
                break;
            }
            continue;
        }
        size_t len = 0;
        const LineRead r = ReadLineFrom(f, c, line, len);
        if (r == LineRead::Error) {
            OfSetError(error, OF_E_SYSTEM, archive.c_str(), EIO);
            return false;
        }
        OfEntry e;
        const OfLineResult parsed = r == LineRead::Line && std::memchr(line, 0, len) == nullptr
                                        ? OfParseHeaderLine(line, len, e)
                                        : OfLineResult::Format;
        if (parsed == OfLineResult::Time)
            std::fputs("KOVZEF: timestamp conversion failed!\n", stdout);
        if (parsed != OfLineResult::Ok) {
            OfSetError(error, OF_E_HEADER_FORMAT, nullptr);
            return false;
        }
        seenHeader = true;
        e.sequence = sequence++;
        h.entries.push_back(std::move(e));
    }
    // Header lines that run into the end of the file were cut short.
    if (seenHeader && !ended) {
        OfSetError(error, OF_E_HEADER_FORMAT, nullptr);
        return false;
    }
    const off_t start = ftello(f);
    h.dataStart = start < 0 ? 0 : static_cast<uint64_t>(start);

    uint64_t offset = h.dataStart;
    for (OfEntry& e : h.entries) {
        e.offset = offset;
        if (e.csize > static_cast<uint64_t>(INT64_MAX) - offset) {
            OfSetError(error, OF_E_HEADER_FORMAT, nullptr);
            return false;
        }
        offset += e.csize;
        const std::string normalised = OfNormalisePath(e.name, false);
        e.selected = IsSelected(h, e, normalised);
        SetTarget(h, e, normalised);
    }
    return true;
}

bool OfReadIncludeFile(OfHandle& h, OfError& error)
{
    const std::string& file = *h.includeFile;
    FILE* f = std::fopen(file.c_str(), "r");
    if (!f) {
        OfSetError(error, OF_E_SYSTEM, file.c_str(), errno);
        return false;
    }
    FileCloser closer{f};
    char line[kLineBuffer];
    char word[kLineBuffer];
    for (;;) {
        const int c = getc_unlocked(f);
        if (c == EOF) {
            if (ferror(f)) {
                OfSetError(error, OF_E_SYSTEM, file.c_str(), EIO);
                return false;
            }
            return true;
        }
        if (c == '#') {
            if (!SkipLine(f)) {
                OfSetError(error, OF_E_SYSTEM, file.c_str(), EIO);
                return false;
            }
            continue;
        }
        size_t len = 0;
        const LineRead r = ReadLineFrom(f, c, line, len);
        if (r == LineRead::Error) {
            OfSetError(error, OF_E_SYSTEM, file.c_str(), EIO);
            return false;
        }
        if (r != LineRead::Line || std::sscanf(line, "%4095s", word) != 1) {
            OfSetError(error, OF_E_INCLUDE_FORMAT, file.c_str());
            return false;
        }
        OfAddName(h, word, 'A');
    }
}
