// Runtime services: memory blocks, file access, the size query, a worker
// thread, CRC-32 and the pseudo-random generator; for the command-line tool
// also file identities and times, folders and its temporary files.  One
// interface; runtime_win32.cpp and runtime_posix.cpp implement the parts
// that differ by platform, runtime_common.cpp the parts that do not.
// Nothing above this layer sees a platform type.  (The desktop shell is
// apart, in shell.h.)
//
// Tests replace the runtime at link time, never through a switch in it: the
// fault tests compile these files a second time with the fallible functions
// renamed real_rt_* and link tests/fault_runtime.cpp in their place, which
// counts each call and fails the one chosen (tests/CMakeLists.txt lists the
// names).  A function added here that the engine calls and that can fail
// belongs on that list.
#pragma once

#include <cstdint>

// The separator put between a folder and a name: '/', or '\\' on Windows.
extern const char rt_path_separator;

// Start and stop.  rt_start creates the private heap and empties the table of
// open files; rt_stop closes every file still open and releases the heap.
void rt_start();
void rt_stop();

// Memory blocks.  Zero-filled; growing adds zero bytes.  Sizes are byte counts
// that must lie in 0 .. 2^31-1: anything else is refused (null), never wrapped.
void* rt_block_alloc(int64_t size);
void* rt_block_grow(void* block, int64_t new_size);  // null: old block intact
void rt_block_free(void* block);                      // null is ignored

// File access.  A file is a slot in the table of open files, -1 when an open
// fails or all RT_MAX_OPEN_FILES slots are taken.  Threads may open files at
// once; a file is used by one thread.  All
// counts are signed 32-bit; a transfer returns the bytes moved, or -1 on an
// error.
enum { RT_MAX_OPEN_FILES = 16 };
int rt_file_open(const char* path);  // read only; other writers denied; never created
int32_t rt_file_read(int file, void* buffer, int32_t count);
int32_t rt_file_write(int file, const void* buffer, int32_t count);
int64_t rt_file_length(int file);                   // -1 on an error
bool rt_file_seek(int file, int64_t offset);        // from the start
bool rt_file_reserve(int file, int64_t length);     // extend to length, space allocated
bool rt_file_close(int file);                       // false: the close reported an error
bool rt_file_flush(int file);                       // the content on the disk, not only cached
bool rt_file_remove(const char* path);              // a file (never a folder) at path
int rt_open_file_count();

// A worker thread, so that work (a read, a whole file) can go on beside the
// caller's.  It runs the jobs it is given one at a time; each job given
// must be waited for before another is given or the worker is stopped, and
// what a job touches (a file, a buffer) is the worker's from
// rt_worker_give until rt_worker_wait returns.  rt_worker_start is null
// when no thread can be had: the caller then does the work itself.  The
// thread is in worker.cpp, which only the programs that allow it link;
// the module links worker_none.cpp, whose rt_worker_start is always null,
// so that it cannot start a thread in its host.
struct rt_worker;
rt_worker* rt_worker_start();
void rt_worker_give(rt_worker* worker, void (*job)(void*), void* arg);
void rt_worker_wait(rt_worker* worker);
void rt_worker_stop(rt_worker* worker);  // null is ignored

// Replacing a file whole.  rt_temp_create makes a new, empty file beside
// target (in the folder that target's name resolves to), opened for reading
// and writing with other writers denied, that only its owner may open, and
// puts its path in temp_path; -1 when it cannot.  Its name,
// "~qelv-XXXXXXXX.tmp", tells a person whose it is.  Any target that the
// system's file functions take will do, though the temporary file's path is
// longer: on Windows it may be given in the extended-length form there.
// rt_file_replace then puts the closed temporary file in target's place in
// one step (a rename), giving it what it can of an existing target (its
// owner and mode on POSIX; its security descriptor and attributes on
// Windows), or what any new file in that folder gets.  A target that exists
// but could not be opened for writing is refused, as is a folder; with
// keep_existing any target that exists is, in the same step as the rename
// (another process may make one meanwhile), and rt_last_error then says
// that it exists.  False: target is as it was and the temporary file still
// there.  A target that is a symbolic link is followed by both, so that
// the file it points to is replaced and the link stays, unless follow_link
// is false: then the temporary file is made beside the link and the link
// itself replaced.  (Windows replaces the link itself either way.)
// Room for a path: Linux's longest (PATH_MAX, 4096) and a name (256) more,
// which is also more than a Windows path the ANSI calls take, whole.
enum { RT_PATH_CAPACITY = 4096 + 256 };
int rt_temp_create(const char* target, char* temp_path, int temp_path_capacity,
                   bool follow_link = true);
bool rt_file_replace(const char* temp_path, const char* target, bool keep_existing,
                     bool follow_link = true);

// What tells whether an open file changed while it was read: its length
// and the times its content and its entry last changed (in the system's
// units; the entry's time is 0 where the system keeps none).  False on an
// error.
struct rt_stamp {
  int64_t length, modified, changed;
};
bool rt_file_stamp(int file, rt_stamp* stamp);

// The temporary file's name, made and recognised in one place:
// "~qelv-" and eight lower-case hexadecimal digits, then ".tmp".
enum { RT_TEMP_NAME_LENGTH = 18 };
void rt_temp_name(uint32_t value, char name[RT_TEMP_NAME_LENGTH + 1]);
bool rt_is_temp_name(const char* name);

// Size query, without opening: the size in bytes; -1 when nothing exists
// under the name or the name is empty, and on Windows when it holds a
// wildcard, which the system's search would take as a pattern; -2 for a
// directory (a drive root included).
int64_t rt_size_query(const char* path);

// CRC-32 (ISO-HDLC, as zlib computes it) of count bytes, count >= 1.
uint32_t rt_crc32(const void* data, int32_t count);

// XCR0: which register sets the system saves on every switch (bit 1 SSE,
// 2 AVX, 5 to 7 the opmask and 512-bit ones), without which a vector unit
// the processor reports cannot be used.  Call only where CPUID has
// reported OSXSAVE, since XGETBV faults otherwise.
uint64_t rt_saved_register_sets();

// The CRC-32 of what crc covered followed by count more bytes, so that
// rt_crc32_update(rt_crc32(a), b) is the CRC of a then b.  Start from 0.
uint32_t rt_crc32_update(uint32_t crc, const void* data, int32_t count);

// The CRC-32 of what crc covered followed by times copies of the count bytes
// at data, in time logarithmic in times.
uint32_t rt_crc32_repeat(uint32_t crc, const void* data, int32_t count, uint64_t times);

// A pseudo-random generator, seeded from the millisecond tick on its first
// draw (runtime/random_state.h).  The runtime keeps one, for the module,
// whose calls come on one thread; a caller that draws on several threads at
// once gives each its own instead.
struct rt_random_state;
// Uniform over 0 .. 2147483647 inclusive, from state, or from the runtime's
// own generator when state is null.
int32_t rt_random(rt_random_state* state = nullptr);

// The system's code for the last call that failed on this thread: errno, or
// GetLastError on Windows.  After a runtime call that failed, it says why
// when the system said so (a file that is not a regular one, or a full table
// of open files, is refused without asking it).  The engine keeps it in its
// failure record; the tool words it.
int rt_last_error();

// ---- For the command-line tool; the engine calls none of these.

// Which file path names, however it is spelt (case, "." and "..", links,
// short names on Windows): its volume and file number; false when it has
// none (nothing there, or a device that gives no file information).
bool rt_file_identity(const char* path, uint64_t* volume, uint64_t* file);
bool rt_same_file(const char* a, const char* b);  // both exist and are one file
// What is at path, found without opening it for reading (an open of a
// named pipe waits for a writer): nothing (or an empty name), a regular
// file, a folder (a drive's root included), a named pipe (or a socket), or
// a device (a terminal, NUL, /dev/zero); what a link names, not the link.
enum rt_path_kind { RT_PATH_NONE, RT_PATH_FILE, RT_PATH_FOLDER, RT_PATH_PIPE, RT_PATH_DEVICE };
rt_path_kind rt_path_kind_of(const char* path);
// What is at path, in as few looks as the system allows, for the tool's
// walks over many files: the size as rt_size_query gives it (-1 nothing
// there, -2 a folder), whether path itself is a link (the rest describes
// what it names), and which file it is (as rt_file_identity: has_identity
// false when it has none).  One stat on POSIX systems (two for a link);
// on Windows one open without access (two for a link).
struct rt_path_facts {
  int64_t size;
  bool link;
  bool has_identity;
  uint64_t volume, file;
};
rt_path_facts rt_path_facts_of(const char* path);
// Whether path itself is a symbolic link (or, on Windows, any reparse
// point: a junction too), whatever it points to.
bool rt_is_link(const char* path);
// The last modification time of path, in the system's units (nanoseconds on
// POSIX, 100 ns on Windows); false when it has none.
bool rt_file_time(const char* path, int64_t* time);

// The bytes this process may still write on the volume that holds folder;
// -1 when it cannot be told.
int64_t rt_free_bytes(const char* folder);

// A folder, made where its parent exists as any new folder there is made:
// 1 made, 0 the name is taken (by a folder or anything else), -1 failed.
int rt_folder_make(const char* path);
bool rt_folder_remove(const char* path);  // an empty folder

// The tool's own temporary files, which hold encrypted data only, in the
// system's temporary folder: TMPDIR, else /tmp; on Windows the folder
// GetTempPath names (TMP, else TEMP, else the user's profile folder).
// rt_spool_folder puts that folder's path, with a separator at the end, in
// path.  rt_spool_create makes a new file there as rt_temp_create makes one
// beside a target, named as rt_temp_name names it, and puts its path in
// path; -1 when it cannot.  rt_spool_folder_make makes a new folder there
// of the same kind of name that only its owner may open.  path is left
// empty when they fail.
bool rt_spool_folder(char* path, int capacity);
int rt_spool_create(char* path, int capacity);
bool rt_spool_folder_make(char* path, int capacity);
