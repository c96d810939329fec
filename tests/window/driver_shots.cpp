// Screenshots of the driven window, and where its controls lie.

#include "driver_shots.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <unordered_set>

// The client area in screen coordinates: the frame and its caption belong
// to the window manager, where there is one.
static bool client_on_screen(HWND window, RECT* r) {
  if (!GetClientRect(window, r)) return false;
  MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(r), 2);
  return r->right > r->left && r->bottom > r->top;
}

shot driver_capture(HWND window) {
  shot s = {0, 0, {}};
  RECT r;
  if (!client_on_screen(window, &r)) return s;
  int w = r.right - r.left, h = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap != nullptr && bits != nullptr) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    // What the screen shows; when that is blank (nothing of ours on the
    // screen), what the window paints of itself.
    BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    s = {w, h,
         std::vector<uint32_t>(static_cast<uint32_t*>(bits), static_cast<uint32_t*>(bits) + w * h)};
    if (driver_colours(s) < 3) {
      PrintWindow(window, memory, PW_CLIENTONLY);
      GdiFlush();
      s.pixels.assign(static_cast<uint32_t*>(bits), static_cast<uint32_t*>(bits) + w * h);
    }
    SelectObject(memory, old);
  }
  if (bitmap != nullptr) DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  for (uint32_t& p : s.pixels) p &= 0xFFFFFF;
  return s;
}

int driver_colours(const shot& s) {
  std::unordered_set<uint32_t> seen;
  for (uint32_t p : s.pixels) {
    seen.insert(p);
    if (seen.size() > 1000) break;
  }
  return static_cast<int>(seen.size());
}

static void put32(std::vector<unsigned char>& out, uint32_t v) {
  for (int i = 3; i >= 0; i--) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

// A chunk: length, type, data, and the CRC of type and data.
static void chunk(std::vector<unsigned char>& out, const char* type,
                  const std::vector<unsigned char>& data) {
  put32(out, static_cast<uint32_t>(data.size()));
  size_t at = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  put32(out, static_cast<uint32_t>(crc32(0, out.data() + at, static_cast<uInt>(out.size() - at))));
}

bool driver_write_png(const shot& s, const std::wstring& path) {
  if (s.width <= 0 || s.height <= 0) return false;
  std::vector<unsigned char> raw;  // each row: filter 0, then RGB
  raw.reserve(static_cast<size_t>(s.height) * (1 + 3 * s.width));
  for (int y = 0; y < s.height; y++) {
    raw.push_back(0);
    for (int x = 0; x < s.width; x++) {
      uint32_t p = s.pixels[static_cast<size_t>(y) * s.width + x];
      raw.insert(raw.end(), {static_cast<unsigned char>(p >> 16),
                             static_cast<unsigned char>(p >> 8), static_cast<unsigned char>(p)});
    }
  }
  uLongf packed_size = compressBound(static_cast<uLong>(raw.size()));
  std::vector<unsigned char> packed(packed_size);
  if (compress2(packed.data(), &packed_size, raw.data(), static_cast<uLong>(raw.size()), 9) != Z_OK)
    return false;
  packed.resize(packed_size);
  std::vector<unsigned char> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<unsigned char> header;
  put32(header, static_cast<uint32_t>(s.width));
  put32(header, static_cast<uint32_t>(s.height));
  // 8 bits a sample, RGB, deflate, adaptive filtering, no interlace.
  header.insert(header.end(), {8, 2, 0, 0, 0});
  chunk(png, "IHDR", header);
  chunk(png, "IDAT", packed);
  chunk(png, "IEND", {});
  FILE* f = _wfopen(path.c_str(), L"wb");
  if (f == nullptr) return false;
  bool written = fwrite(png.data(), 1, png.size(), f) == png.size();
  return fclose(f) == 0 && written;
}

std::vector<int> driver_controls_outside(HWND window, int first, int last) {
  std::vector<int> outside;
  RECT client;
  GetClientRect(window, &client);
  MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&client), 2);
  for (int id = first; id < last; id++) {
    HWND c = GetDlgItem(window, id);
    RECT r;
    if (c == nullptr || !GetWindowRect(c, &r)) {
      outside.push_back(id);
      continue;
    }
    bool empty = r.right <= r.left || r.bottom <= r.top;
    bool in = r.left >= client.left && r.top >= client.top && r.right <= client.right &&
              r.bottom <= client.bottom;
    if (empty || !in) outside.push_back(id);
  }
  return outside;
}

// True when control has nothing to draw: a static text that is empty.
static bool nothing_to_draw(HWND control) {
  wchar_t kind[32] = L"";
  GetClassNameW(control, kind, 32);
  return lstrcmpiW(kind, L"Static") == 0 && GetWindowTextLengthW(control) == 0;
}

std::vector<int> driver_unpainted_controls(const shot& s, HWND window, int first, int last) {
  std::vector<int> unpainted;
  RECT frame;
  client_on_screen(window, &frame);
  for (int id = first; id < last; id++) {
    HWND c = GetDlgItem(window, id);
    RECT r;
    if (c == nullptr || !GetWindowRect(c, &r) || nothing_to_draw(c)) continue;
    int left = std::max(0L, r.left - frame.left), top = std::max(0L, r.top - frame.top);
    int right = std::min<int>(s.width, r.right - frame.left);
    int bottom = std::min<int>(s.height, r.bottom - frame.top);
    std::unordered_set<uint32_t> seen;
    for (int y = top; y < bottom && seen.size() < 2; y++)
      for (int x = left; x < right && seen.size() < 2; x++)
        seen.insert(s.pixels[static_cast<size_t>(y) * s.width + x]);
    if (seen.size() < 2) unpainted.push_back(id);
  }
  return unpainted;
}
