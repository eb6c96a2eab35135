#pragma once

namespace fendrix {

// Everything the simulator prints passes through here. The verbosity, set once
// from the command line before any thread exists, decides between the two
// audiences: a host program (no -v) reads short progress codes on standard
// output; a person (-vN) reads summary lines, and at -v1 and above every line
// of the description as it is read. Warnings and errors go to standard error
// in both modes.
namespace console {

// Below 0: host mode; 0: readable summary; above 0: also the echo of every line.
void setVerbosity(int level);
int verbosity();
inline bool hostMode() { return verbosity() < 0; }
inline bool readable() { return verbosity() >= 0; }
inline bool echoes() { return verbosity() > 0; }

// printf to standard output in readable mode; nothing in host mode.
void say(const char* format, ...) __attribute__((format(printf, 1, 2)));
// printf to standard output at -v1 and above (the echo of what was read).
void echo(const char* format, ...) __attribute__((format(printf, 1, 2)));
// printf to standard output whatever the verbosity (the usage, the banner).
void print(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Progress codes for the host program, flushed at once; nothing in readable mode.
void hostCodes(const char* format, ...) __attribute__((format(printf, 1, 2)));
// "WARNING: " / "ERROR: " and the message on standard error; `detail` adds an
// indented line under the message before it.
void warning(const char* format, ...) __attribute__((format(printf, 1, 2)));
void error(const char* format, ...) __attribute__((format(printf, 1, 2)));
void detail(const char* format, ...) __attribute__((format(printf, 1, 2)));
// printf to standard error as it stands, for the few messages of another form.
void errorText(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Hands everything printed so far on (before a pause, a long step or the exit).
void flush();

}  // namespace console

}  // namespace fendrix
