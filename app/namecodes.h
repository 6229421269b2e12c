// Names between the local code page, in which they are on disk, and UTF-8,
// in which an archive stores them.  A link is stored as "name|target": its
// two parts are converted apart, for in the local code page a byte 0x7C may
// be the second byte of a character (or a lead byte at the end of the name
// would take the "|" for its second byte), while in UTF-8 "|" never stands
// inside a character.
#pragma once

#include <cstdint>
#include <string>

// The UTF-8 form of a text in the local code page; false when the
// conversion fails.  The code page library's want of memory (its tables
// could not be loaded) is no failure of the name: std::bad_alloc.
bool Utf8OfLocal(const std::string& local, std::string& utf8);

// The local form of a UTF-8 text (what the page cannot hold becomes "#", as
// in every name read from an archive); false when the conversion fails,
// std::bad_alloc when the code page library had no memory.
bool LocalOfUtf8(const std::string& utf8, std::string& local);

// The result of a conversion of the code page library as a success (true)
// or failure (false) of the conversion; its want of memory throws
// std::bad_alloc, so that the run ends as out of memory.
bool ConvertedUnlessNoMemory(uint32_t rc);
