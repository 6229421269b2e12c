// String and path helpers of the list files and the archive-name list.
#pragma once

#include <cstddef>
#include <istream>
#include <string>
#include <vector>

// Input iterator over the lines of a stream (line feed separated; a last line
// without line feed counts; a CR stays in the line).  Equals the end iterator
// (default-constructed) once the stream is exhausted.
class CLineReader {
public:
    CLineReader() = default;
    explicit CLineReader(std::istream& in)
        : in_(&in)
    {
        Advance();
    }
    const std::string& operator*() const { return line_; }
    CLineReader& operator++()
    {
        Advance();
        return *this;
    }
    bool operator==(const CLineReader& other) const { return in_ == other.in_; }
    bool operator!=(const CLineReader& other) const { return in_ != other.in_; }

private:
    void Advance();
    std::istream* in_ = nullptr;
    std::string line_;
};

// Remove leading white space (isspace); return how many characters went.
size_t TrimLeft(std::string& s);
// Remove leading and trailing white space; return how many characters went.
size_t Trim(std::string& s);
void BackslashToSlash(std::string& s);
// out = dir + "/" + name (no doubled "/"); out unchanged when name is empty.
void CombinePath(const std::string& dir, const std::string& name, std::string& out);
// Appends the names of pattern's directory that match its last component
// (without regard to case when ignoreCase) and returns their number.
size_t ExpandWildcards(std::vector<std::string>& list, const std::string& pattern, bool ignoreCase);
