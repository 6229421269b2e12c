// Stop requests of runs that write archives, and of verified extractions.
// SIGINT, SIGTERM and SIGHUP only note the signal; the run looks at the note
// at its safe points (before each entry, before each chunk or data block,
// before each copied block, before the archive is put in place) and stops
// there with CStopExcept, so the archive, or the file being extracted, is
// cleaned up exactly as after a write error and the process exits with 128 +
// the signal.  Waits for the network (a timestamp authority) end at the
// signal; the run then stops as at any safe point.
#pragma once

// Installs the handlers (once per process; later calls do nothing).
void InstallStopSignalHandlers();
// Throws CStopExcept when a stop signal came.
void StopIfRequested();
