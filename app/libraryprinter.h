// The compression library's messages (a stream that fails to decode, for
// one) go where the archiver's own messages go: through the application's
// log manager, never into a file of the library's own.
#pragma once

// Installs the printer; messages of the calling thread are printed from now
// on.  Those of worker threads are not: they decode ahead of need, and a
// failure there that matters is reported by the thread that uses the result.
void InstallLibraryPrinter();
// Removes it (the log manager it writes to is going away).
void RemoveLibraryPrinter();
