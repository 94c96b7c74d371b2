// What only the Windows program needs of the GDI drawing surface: surfaces
// made from device contexts, and the calls that bracket a printed page.
//
// A surface made here is released by the function named beside its maker;
// the drawing operations themselves are in draw_surface.h.
#ifndef FERNQUILL_RENDER_GDI_SURFACE_H
#define FERNQUILL_RENDER_GDI_SURFACE_H

#include <windows.h>

#include "render/draw_surface.h"

// A surface over a device context someone else owns, such as a window's
// GetDC() or BeginPaint() context. unwrapDeviceContext() releases the
// surface only; the caller still releases the context. Returns nullptr for a
// null context or when memory runs out.
DrawSurface* wrapDeviceContext(HDC dc);
void unwrapDeviceContext(DrawSurface* surface);

// A surface for the named printer (CreateDCA with no driver name). Returns
// nullptr when the printer can't be opened. destroyPrinterSurface() deletes
// the context.
DrawSurface* createPrinterSurface(const char* printerName);

// Takes ownership of a printer context that someone else created, such as
// the one PrintDlgA() returns: destroyPrinterSurface() deletes it. If no
// surface can be had the context is deleted at once and nullptr returned, so
// the caller never has to.
DrawSurface* adoptPrinterDeviceContext(HDC dc);

// Releases a surface from createPrinterSurface() or
// adoptPrinterDeviceContext(), and its context. Takes nullptr.
void destroyPrinterSurface(DrawSurface* surface);

// One printed page is one document: startPrintDocument(), startPrintPage(),
// the drawing, endPrintPage(), endPrintDocument(). Each returns 0, or -1 when
// the spooler or the driver refused. The document has an empty name, no
// output file and no data type. A null surface (no printer at all) fails
// like a refused one.
int startPrintDocument(DrawSurface* surface);
int startPrintPage(DrawSurface* surface);
int endPrintPage(DrawSurface* surface);
int endPrintDocument(DrawSurface* surface);

// Ends the document in progress without printing it: what was drawn of it
// is thrown away. 0, or -1 as above.
int abortPrintDocument(DrawSurface* surface);

// Hands the printer context the procedure GDI calls while the driver spools
// (SetAbortProc), before the document starts. 0, or -1 as above.
int setPrintAbortProcedure(DrawSurface* surface, ABORTPROC procedure);

// The device context under any surface, for tests that read pixels back.
HDC surfaceDeviceContext(DrawSurface* surface);

#endif
