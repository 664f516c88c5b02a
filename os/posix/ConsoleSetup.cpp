#include "os/ConsoleSetup.h"

namespace quendle {

// The arguments arrive as the bytes the shell passed and the terminal takes UTF-8 and LF as
// they are.
void prepareConsole(int&, char**&) {}

} // namespace quendle
