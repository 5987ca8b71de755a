// Device contexts, stock objects, pens and the two drawing calls. Nothing is
// rasterized: every call is journaled with what it would draw.
#include "platform/sim/sim_internal.h"

#include <algorithm>

using namespace sim;

namespace {

constexpr int StockObjectCount = 20;
constexpr int MissingStockObject = 9;  // no stock object has this index
constexpr size_t MaxJournaledPoints = 4096;

struct StockObject {
  int index;
  bool isPen;
  COLORREF color;
  int style;
};

const StockObject StockObjects[] = {
    {WHITE_BRUSH, false, RGB(255, 255, 255), 0}, {LTGRAY_BRUSH, false, RGB(192, 192, 192), 0},
    {GRAY_BRUSH, false, RGB(128, 128, 128), 0},  {DKGRAY_BRUSH, false, RGB(64, 64, 64), 0},
    {BLACK_BRUSH, false, RGB(0, 0, 0), 0},       {NULL_BRUSH, false, RGB(0, 0, 0), 0},
    {WHITE_PEN, true, RGB(255, 255, 255), PS_SOLID}, {BLACK_PEN, true, RGB(0, 0, 0), PS_SOLID},
    {NULL_PEN, true, RGB(0, 0, 0), PS_NULL},     {DC_BRUSH, false, RGB(255, 255, 255), 0},
    {DC_PEN, true, RGB(0, 0, 0), PS_SOLID},
};

uintptr_t StockHandle(int index) { return StockGdiBase + static_cast<uintptr_t>(index); }

GdiObject *LiveObject(HGDIOBJ object) {
  auto found = W().objects.find(Raw(object));
  if (found == W().objects.end() || found->second.deleted || found->second.deletePending) return nullptr;
  return &found->second;
}

Dc *LiveDc(HDC dc) {
  auto found = W().dcs.find(Raw(dc));
  if (found == W().dcs.end() || found->second.released) return nullptr;
  return &found->second;
}

// An object deleted while selected goes when it is no longer selected anywhere.
void Deselect(uintptr_t handle) {
  auto found = W().objects.find(handle);
  if (found == W().objects.end() || found->second.stock) return;
  GdiObject &object = found->second;
  if (--object.selections <= 0 && object.deletePending) {
    object.deletePending = false;
    object.deleted = true;
  }
}

HDC NewDc(uintptr_t window, bool internal) {
  World &w = W();
  const uintptr_t handle = w.nextDc++;
  w.dcs[handle] = Dc{window, false, internal, StockHandle(BLACK_PEN), StockHandle(WHITE_BRUSH)};
  return As<HDC>(handle);
}

void Release(Dc *dc) {
  Deselect(dc->pen);
  Deselect(dc->brush);
  dc->released = true;
}

}  // namespace

namespace sim {

void ResetGdi() {
  for (const StockObject &stock : StockObjects) {
    GdiObject object;
    object.isPen = stock.isPen;
    object.stock = true;
    object.color = stock.color;
    object.style = stock.style;
    object.width = stock.isPen ? 1 : 0;
    W().objects[StockHandle(stock.index)] = object;
  }
  for (int index = OEM_FIXED_FONT; index <= DEFAULT_GUI_FONT; ++index) {
    GdiObject font;
    font.stock = true;
    W().objects[StockHandle(index)] = font;
  }
}

HDC OpenPaintDc(uintptr_t window) { return NewDc(window, true); }

void ClosePaintDc(HDC dc) {
  if (Dc *open = LiveDc(dc)) Release(open);
}

}  // namespace sim

HGDIOBJ WINAPI GetStockObject(int index) {
  if (index < 0 || index >= StockObjectCount || index == MissingStockObject) return nullptr;
  return As<HGDIOBJ>(StockHandle(index));
}

HDC WINAPI GetDC(HWND window) {
  SimEvent e{SimEventKind::GetDC};
  e.window = window;
  if (window == nullptr || LiveWindow(window) != nullptr) e.dc = NewDc(Raw(window), false);
  Record(e);
  return e.dc;
}

int WINAPI ReleaseDC(HWND window, HDC dc) {
  SimEvent e{SimEventKind::ReleaseDC};
  e.window = window;
  e.dc = dc;
  Dc *open = LiveDc(dc);
  if (open != nullptr && !open->internal) {
    Release(open);
    e.result = 1;
  }
  Record(e);
  return static_cast<int>(e.result);
}

HPEN WINAPI CreatePen(int style, int width, COLORREF color) {
  World &w = W();
  const uintptr_t handle = w.nextObject++;
  GdiObject pen;
  pen.isPen = true;
  pen.color = color;
  pen.style = style;
  pen.width = width;
  w.objects[handle] = pen;
  SimEvent e{SimEventKind::CreatePen};
  e.penStyle = style;
  e.penWidth = width;
  e.color = color;
  e.object = As<HGDIOBJ>(handle);
  Record(e);
  return As<HPEN>(handle);
}

HGDIOBJ WINAPI SelectObject(HDC dc, HGDIOBJ object) {
  SimEvent e{SimEventKind::SelectObject};
  e.dc = dc;
  e.object = object;
  Dc *open = LiveDc(dc);
  GdiObject *chosen = LiveObject(object);
  if (open != nullptr && chosen != nullptr) {
    uintptr_t &slot = chosen->isPen ? open->pen : open->brush;
    e.previous = As<HGDIOBJ>(slot);
    if (!chosen->stock) ++chosen->selections;
    const uintptr_t previous = slot;
    slot = Raw(object);
    Deselect(previous);
  }
  Record(e);
  return e.previous;
}

// Deleting a stock object does nothing and succeeds; deleting an object still
// selected into a DC is put off until it is deselected.
BOOL WINAPI DeleteObject(HGDIOBJ object) {
  SimEvent e{SimEventKind::DeleteObject};
  e.object = object;
  GdiObject *target = LiveObject(object);
  if (target != nullptr) {
    e.result = TRUE;
    if (target->stock) {
      // nothing to free
    } else if (target->selections > 0) {
      target->deletePending = true;
      e.extra = " (still selected)";
    } else {
      target->deleted = true;
    }
  }
  Record(e);
  return static_cast<BOOL>(e.result);
}

BOOL WINAPI Polyline(HDC dc, const POINT *points, int count) {
  SimEvent e{SimEventKind::Polyline};
  e.dc = dc;
  const Dc *open = LiveDc(dc);
  if (open != nullptr) e.color = W().objects[open->pen].color;
  if (points != nullptr && count > 0) {
    e.points.assign(points, points + std::min<size_t>(static_cast<size_t>(count), MaxJournaledPoints));
  }
  e.result = open != nullptr && points != nullptr && count >= 2;
  Record(e);
  return static_cast<BOOL>(e.result);
}

int WINAPI FillRect(HDC dc, const RECT *rect, HBRUSH brush) {
  SimEvent e{SimEventKind::FillRect};
  e.dc = dc;
  e.object = brush;
  if (rect != nullptr) e.rect = *rect;
  e.result = LiveDc(dc) != nullptr && rect != nullptr;
  Record(e);
  return static_cast<int>(e.result);
}

int WINAPI GetClipBox(HDC dc, LPRECT rect) {
  const Dc *open = LiveDc(dc);
  if (open == nullptr || rect == nullptr) return ERROR;
  if (open->window == 0) {
    *rect = W().screen;
  } else {
    const Window *window = LiveWindow(open->window);
    if (window == nullptr) return ERROR;
    *rect = {0, 0, window->width, window->height};
  }
  return rect->right <= rect->left || rect->bottom <= rect->top ? NULLREGION : SIMPLEREGION;
}

void SimForgetFinishedGdi() {
  std::erase_if(W().dcs, [](const auto &entry) { return entry.second.released; });
  std::erase_if(W().objects, [](const auto &entry) { return entry.second.deleted; });
}
