// A window-like surface for the GDI tests: a memory context with a
// monochrome bitmap (a new memory context's own kind), white to begin with,
// wrapped (wrapDeviceContext) so the context stays the test's to release.
#ifndef FERNQUILL_TESTS_MEMORY_SURFACE_H
#define FERNQUILL_TESTS_MEMORY_SURFACE_H

#include <gtest/gtest.h>

#include <windows.h>

#include "render/gdi_surface.h"

struct MemorySurface {
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ replaced;
    DrawSurface* surface;

    MemorySurface(int width, int height)
    {
        dc = CreateCompatibleDC(nullptr);
        bitmap = CreateCompatibleBitmap(dc, width, height);
        replaced = SelectObject(dc, bitmap);
        surface = wrapDeviceContext(dc);
        EXPECT_NE(surface, nullptr);
        PatBlt(dc, 0, 0, width, height, WHITENESS);
    }
    ~MemorySurface()
    {
        unwrapDeviceContext(surface);
        SelectObject(dc, replaced);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
    MemorySurface(const MemorySurface&) = delete;
    MemorySurface& operator=(const MemorySurface&) = delete;
};

#endif
