// qelv.exe with a console event delivered from within: the program itself
// (qelv.cpp, its main renamed by the build), and a thread that waits until
// the run has a temporary file in the folder QELV_TEST_EVENT_FOLDER names
// and then calls the event's handler as the system calls it, on a thread
// of its own.  For the events that Wine does not deliver to a program
// without a console: Ctrl+Break, and the console closing.  The arguments
// are qelv's own, since the program reads them again from the system.
//   QELV_TEST_EVENT=break|close QELV_TEST_EVENT_FOLDER=FOLDER interrupt_child.exe ARGUMENT...

#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "../cli/cli_interrupts.h"

int qelv_program_main(int argc, char** argv);

static bool holds_temporary_file(const std::string& folder) {
  WIN32_FIND_DATAA found;
  HANDLE h = FindFirstFileA((folder + "\\~qelv-*.tmp").c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return false;
  FindClose(h);
  return true;
}

int main(int argc, char** argv) {
  const char* event_name = getenv("QELV_TEST_EVENT");
  const char* folder = getenv("QELV_TEST_EVENT_FOLDER");
  if (event_name == nullptr || folder == nullptr) return 2;
  DWORD event = strcmp(event_name, "close") == 0 ? CTRL_CLOSE_EVENT : CTRL_BREAK_EVENT;
  std::thread([folder = std::string(folder), event] {
    // Two minutes at most: the run may end, and fail the test, before.
    for (int waited = 0; waited < 120000 && !holds_temporary_file(folder); waited += 2)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    cli_interrupts_deliver(event);
  }).detach();
  return qelv_program_main(argc, argv);
}
