// In-process extraction: extracts a whole archive into a directory without a
// command line and keeps the lines the run produced for the caller.
#pragma once

// Extracts every entry of the archive into the directory and returns the exit
// status the program would have ended with.  The messages of the run are kept
// and can be read with KovzefExtractOutput until the next call.
int KovzefExtractArchive(const char* archive, const char* directory);

// The collected lines of the last KovzefExtractArchive call, each ended by a
// line feed; null before the first call or when no memory was left for them.
// They are the lines the program would print: names in them are shown with
// their control bytes escaped, so that each line stays one line.
const char* KovzefExtractOutput();
