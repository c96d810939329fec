// The action descriptor as stored in the module: plugin/descriptor.xml,
// built in byte for byte (cmake/descriptor.cmake).
#pragma once

// The descriptor's bytes, not followed by a terminating zero; a short legal
// notice is stored right behind them.
extern const unsigned char stored_descriptor[];
// The descriptor's length in bytes: the distance from its start to the notice.
extern const int stored_descriptor_length;
