// Text between the window's wide characters and the tool's ANSI bytes.
#pragma once

#include <string>

// ANSI text as wide.
std::wstring window_wide(const std::string& text);
// Wide text in the ANSI code page; false when a character is not in it.
bool window_ansi(const std::wstring& text, std::string* out);
// A window's text.
std::wstring window_text_of(void* control);
