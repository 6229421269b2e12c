// How bytes that come from names (entry names, file names, archive names)
// and from archive contents are shown on a line of output.  Both archive
// readers (the KOX reader of the application and the old-format library)
// and the application's messages show them here, on the terminal and in
// the log files alike, so that a name can neither send control sequences
// to a terminal nor forge a line of its own.  Names on disk are never
// changed by it.
#pragma once

#include <string>
#include <string_view>

// Appends text (in the local code page) to line, every byte of a control
// written as "\x" and two lower case hex digits, every other byte as it is;
// a backslash too, so that a name shows as it stands.  Under ISO 8859-1 and
// UTF-8 (see LocalNamesShownByBytes) the controls are the bytes 0x00 to
// 0x1F and 0x7F, the characters U+0080 to U+009F in UTF-8, and a byte 0x80
// to 0x9F that is not part of a well formed UTF-8 character: UTF-8
// characters and the letters of 8-bit code pages show as they are.  Under
// every other code page text is read by its characters: a control character
// and a byte that starts no character of the page are escaped, every other
// character (the lead bytes 0x80 to 0x9F of a double-byte code page among
// them) shows as it is.  Under an ISO-2022 code page each byte counts on its
// own, so that ESC, SO and SI are always escaped and no escape sequence
// reaches the terminal.  Printable ASCII is appended in one piece after one
// scan.
void KovAppendShown(std::string& line, std::string_view text);

// The text as KovAppendShown shows it.
std::string KovShown(std::string_view text);

// Bytes read from a file that are no name (the version field of an archive
// header, a stored name quoted for comparison): every byte outside
// printable ASCII, and the backslash, is written as \xNN.
std::string KovEscapedBytes(std::string_view bytes);

// Text of several lines from a library (a failure report that may quote
// names): each line as KovAppendShown shows it, the line feeds between the
// lines kept.
std::string KovShownLines(std::string_view text);
