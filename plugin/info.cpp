#include "info.h"

#include <cstring>

#include "../runtime/runtime.h"
#include "descriptor.h"

const char plugin_name[] = "Qelv";
const char plugin_version[] = "1.0.0.1";
const char author_text[] =
    "Qelv Action Plugin\r\n"
    "Copyright (c) 2026 Qelv developers\r\n"
    "www.example.org/qelv";

char* descriptor_text;

// The copy stops early at a zero byte, which the stored block does not hold.
void info_start() {
  descriptor_text = static_cast<char*>(rt_block_alloc(int64_t{stored_descriptor_length} + 1));
  if (descriptor_text == nullptr) return;
  for (int i = 0; i < stored_descriptor_length && stored_descriptor[i] != 0; i++)
    descriptor_text[i] = static_cast<char>(stored_descriptor[i]);
}

void info_stop() {
  rt_block_free(descriptor_text);
  descriptor_text = nullptr;
}

int copy_info_text(const char* text, char* buffer, int32_t* size) {
  if (text == nullptr) text = "";
  int32_t n = static_cast<int32_t>(strlen(text));
  if (size == nullptr) return -1;
  if (*size < n || buffer == nullptr) {
    *size = n;
    return -1;
  }
  memcpy(buffer, text, n);
  // The host's stated size may count the terminator or not; it is written
  // only where the size leaves room, so nothing lands past the buffer.
  if (*size > n) buffer[n] = '\0';
  return n;
}
