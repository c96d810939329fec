// The desktop shell, for the module's help commands.  Apart from runtime.h
// and its library: shell_posix.cpp or shell_win32.cpp is built into the
// module alone, so that only the module, not every program on the engine,
// depends on the shell.
#pragma once

// Hands target (a path, perhaps with "#anchor") to the desktop shell to open,
// with parent_window as the owner of anything it shows.  The shell's own
// success is not known.
void rt_shell_open(void* parent_window, const char* target);
