// The information texts the module hands the host, and the buffer
// convention they share.
#pragma once

#include <cstdint>

extern const char plugin_name[];      // "Qelv"
extern const char plugin_version[];   // "1.0.0.1"
extern const char author_text[];      // three lines joined by CR LF
extern char* descriptor_text;         // the action descriptor, copied at start

void info_start();
void info_stop();  // gives the descriptor's copy back

// Copies text into the host's buffer when the stated size holds its length
// n: n bytes, and a terminating zero only when the size leaves room for it.
// Otherwise stores n in the size, leaves the buffer alone and returns -1.
int copy_info_text(const char* text, char* buffer, int32_t* size);
