#pragma once

namespace quendle {

// Readies the console and the command line before anything is written or parsed: on Windows the
// arguments are taken again from the wide command line (as UTF-8), the console is set to show
// UTF-8 text and colour sequences, and standard output and error end lines with CR LF. Elsewhere
// nothing changes. Call once, first thing in main.
void prepareConsole(int& argc, char**& argv);

} // namespace quendle
