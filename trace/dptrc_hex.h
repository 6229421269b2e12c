// Hex dumps into a trace: lines of 16 bytes with address, offset, hex columns
// and a character column.  While dpTrcHidingActive is set, byte runs that
// begin with "SID:ANON:" or "SID%3aANON%3a" are masked up to and including
// the next "-ATT" or "-NEW".
#pragma once
#include "trace/dptrc.h"

// Display conversions of one byte: unchanged, EBCDIC (code page 273) shown
// as ASCII, ASCII shown as EBCDIC.  Control characters become the target's
// blank, except tab and newline.
unsigned char PrEcho(unsigned char c);
unsigned char PrToAscii(unsigned char c);
unsigned char PrToEbcdic(unsigned char c);
typedef unsigned char (*DpTrcHexConv)(unsigned char c);

// mode 0 bytes as they are, 1 EBCDIC shown as ASCII, 2 ASCII as EBCDIC;
// nothing is written without printFlag.  Bytes below rawLimit are shown
// unconverted.
void DpTrcHexDump(DpTrcHdl hdl, const char* title, const void* data, int length, int mode, int printFlag, int rawLimit);
void DpTrcHexDumpShort(DpTrcHdl hdl, const char* title, const void* data, int length, int mode);
// Formats line lineIndex (of lineCount; bytes start .. start + 15 of data)
// into buffer (at least 100 bytes).
void DpTrcHexLine(char* buffer, const void* address, int start, int lineIndex, int offset, const void* data, int length,
                  int lineCount, int lastIndex, DpTrcHexConv conv, int rawLimit, int reset);
const char* DpTrcHexPtr(const void* p);
// Dumps a message whose first 80 bytes are a message header (headerFlag 1),
// with the known confidential header and body fields shown as "X".
void DpTrcHexDumpMsg(DpTrcHdl hdl, const char* title, const void* data, int length, int mode, int printFlag,
                     int headerFlag);
void DpTrcHexDumpMsgHdr(DpTrcHdl hdl, const char* title, const void* data, int length, int mode);
void DpTrcHexDumpMsgNoHdr(DpTrcHdl hdl, const char* title, const void* data, int length, int mode);
