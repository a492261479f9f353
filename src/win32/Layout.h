// Where the Windows window's controls go, at any monitor's DPI.
//
// The window was laid out in pixels at 96 DPI; on a monitor of another DPI
// every rectangle, the client area and the font's height are scaled by
// dpi / 96, rounding each edge to the nearest pixel (as MulDiv does), so
// that neighbours that touch at 96 DPI still touch and none overlaps:
//
//   tallyfold::win32ui::Rect box = tallyfold::win32ui::ScaleRect(kControls[0].rect, 144);
//
// Header only; nothing here calls the system.
#pragma once

#include <cstdint>

namespace tallyfold::win32ui {

inline constexpr int kDesignDpi = 96;

struct Rect {
  int left = 0, top = 0, width = 0, height = 0;
  constexpr int Right() const { return left + width; }
  constexpr int Bottom() const { return top + height; }
};

// The client area and the font (Tahoma 8 point, 11 pixels high) at 96 DPI.
inline constexpr int kClientWidth = 448;
inline constexpr int kClientHeight = 77;
inline constexpr int kFontHeight = 11;

// The controls' ids; they also give the tab order of those that take focus.
enum ControlId : int {
  kIdSearch = 1001,  // btnSearch
  kIdInput,          // edtInput
  kIdDir,            // btnDir
  kIdCase,           // cbxCase
  kIdBorder,         // cbxBorder
  kIdFolder,         // lblFolder
  kIdUrl,            // UrlLabel1
  kIdCredit,         // Label1
  kIdReading,        // the reading settings in the free lower-left corner
};

struct ControlPlace {
  ControlId id;
  Rect rect;  // lblFolder's width is its text's; this is the most it gets
};

inline constexpr ControlPlace kControls[] = {
    {kIdSearch, {304, 8, 56, 21}},  {kIdInput, {12, 8, 281, 21}},   {kIdDir, {367, 8, 69, 21}},
    {kIdCase, {16, 31, 46, 17}},    {kIdBorder, {66, 31, 54, 17}},  {kIdFolder, {128, 33, 312, 13}},
    {kIdUrl, {137, 57, 76, 13}},    {kIdCredit, {228, 57, 209, 13}}, {kIdReading, {12, 57, 122, 13}},
};

// `value` pixels at 96 DPI as pixels at `dpi`, rounded to the nearest.
constexpr int Scale(int value, int dpi) {
  const std::int64_t product = static_cast<std::int64_t>(value) * dpi;
  const std::int64_t half = kDesignDpi / 2;
  return static_cast<int>(product >= 0 ? (product + half) / kDesignDpi
                                       : -((-product + half) / kDesignDpi));
}

// Scales the edges, not the sizes, so that touching rectangles stay touching.
constexpr Rect ScaleRect(const Rect& rect, int dpi) {
  const int left = Scale(rect.left, dpi);
  const int top = Scale(rect.top, dpi);
  return {left, top, Scale(rect.Right(), dpi) - left, Scale(rect.Bottom(), dpi) - top};
}

constexpr const ControlPlace* FindControl(ControlId id) {
  for (const ControlPlace& place : kControls)
    if (place.id == id) return &place;
  return nullptr;
}

}  // namespace tallyfold::win32ui
