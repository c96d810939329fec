// Inside the runtime only: what runtime_common.cpp asks of the platform file
// (runtime_posix.cpp or runtime_win32.cpp), and the table of open files that
// it keeps for the platform file.  Nothing outside runtime/ includes this.
#pragma once

#include <cstddef>
#include <cstdint>

// Provided by the platform file.
void rt_platform_start();  // before any block is allocated
void rt_platform_stop();   // after every block and file is given back
void* rt_platform_alloc_zeroed(size_t bytes);
void* rt_platform_resize(void* area, size_t bytes);  // null: area intact
void rt_platform_free(void* area);
// Closes a file that rt_stop found still open.
void rt_platform_close_left_open(intptr_t handle);
// For rt_temp_create: puts the folder that target's name resolves to, with
// its separator, at the start of path and returns its length (-1: none
// that the system's calls could take).  For it and rt_spool_create: makes
// a new file at path that only its owner may open, opened for reading and
// writing with other writers denied: 1 made (handle set), 0 the name is
// taken, -1 failed.
int rt_platform_temp_folder(const char* target, char* path, int capacity, bool follow_link);
int rt_platform_create_private(const char* path, intptr_t* handle);
// Makes a folder at path, one only its owner may open when only_owner: 1
// made, 0 the name is taken, -1 failed.
int rt_platform_make_folder(const char* path, bool only_owner);
uint32_t rt_tick_ms();
uint32_t rt_process_id();

// In runtime_common.cpp: the varying part of a temporary file's name.
uint32_t rt_temp_name_value(uint32_t attempt);

// The table of open files, in runtime_common.cpp.  A slot holds the
// platform's handle (a descriptor, or a HANDLE) as an integer; rt_file_open
// claims a slot, opens, and releases the slot holding the handle, or
// RT_NO_HANDLE when the open failed.
const intptr_t RT_NO_HANDLE = -1;  // also INVALID_HANDLE_VALUE
int rt_slot_claim();                                 // -1 when the table is full
void rt_slot_release(int slot, intptr_t handle);
intptr_t rt_slot_handle(int file);                   // RT_NO_HANDLE for no open file
