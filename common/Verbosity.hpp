#pragma once

// Process-wide verbosity from the command line. Below 0: host mode (progress
// codes on stdout); 0: readable summary; above 0: every line is echoed as read.
// Written only while the command line is read, before any thread exists.
extern int verboseLevel;
