// Under Wine or Windows: the time to draw a large 1-bit image on a memory GDI
// surface the way the page renderer does (bitmap made from the decoded rows,
// selected into its own surface, stretched onto the page), beside a bare
// StretchBlt of a bitmap of that size that already exists. Both are measured
// unscaled (where GDI's blit is a plain copy) and scaled as onto a printer
// page (a 240 dpi image at 300 dpi). Plain Win32 timing, since Google
// Benchmark is not built for Windows here.
//
// Usage: gdi_image_bench [repetitions]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "bench/win_clock.h"
#include "render/gdi_surface.h"

namespace {

const int imageSize = 2000;

// Half the bits set, at random.
std::vector<unsigned char> halfSetBits(int rowBytes, int height)
{
    std::mt19937 random(5);
    std::vector<unsigned char> bits(static_cast<size_t>(rowBytes) * height);
    for (unsigned char& byte : bits) {
        byte = static_cast<unsigned char>(random());
    }
    return bits;
}

double drawLikeTheRenderer(DrawSurface* page, const ImageBits& image, int size)
{
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    SurfaceBitmap* bitmap = createImageBitmap(image);
    DrawSurface* source = openBitmapSurface(bitmap);
    stretchCopy(page, 0, 0, size, size, source);
    closeBitmapSurface(source);
    destroySurfaceBitmap(bitmap);
    return secondsSince(start);
}

double bareStretch(HDC page, HDC source, int size)
{
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    StretchBlt(page, 0, 0, size, size, source, 0, 0, imageSize, imageSize, SRCCOPY);
    return secondsSince(start);
}

}  // namespace

int main(int argc, char** argv)
{
    int repetitions = argc > 1 ? std::atoi(argv[1]) : 20;
    const int rowBytes = (imageSize + 7) / 8;
    std::vector<unsigned char> bits = halfSetBits(rowBytes, imageSize);
    ImageBits image = {bits.data(), imageSize, imageSize, rowBytes};

    const int scaledSize = imageSize * 300 / 240;
    SurfaceBitmap* pageBitmap = createSurfaceBitmap(scaledSize, scaledSize);
    DrawSurface* page = openBitmapSurface(pageBitmap);
    SurfaceBitmap* ready = createImageBitmap(image);
    DrawSurface* readySurface = openBitmapSurface(ready);
    if (page == nullptr || readySurface == nullptr) {
        std::fprintf(stderr, "no memory surfaces\n");
        return 1;
    }

    std::printf("image %d x %d, half its bits set, %d repetitions\n", imageSize, imageSize, repetitions);
    for (int size : {imageSize, scaledSize}) {
        double renderer = 0;
        double bare = 0;
        for (int i = 0; i < repetitions; i++) {
            renderer += drawLikeTheRenderer(page, image, size);
            bare += bareStretch(surfaceDeviceContext(page), surfaceDeviceContext(readySurface), size);
        }
        std::printf("onto %d x %d: as the renderer draws it %.3f ms, bare StretchBlt %.3f ms, ratio %.2f\n",
                    size, size, 1000 * renderer / repetitions, 1000 * bare / repetitions, renderer / bare);
    }
    closeBitmapSurface(readySurface);
    destroySurfaceBitmap(ready);
    closeBitmapSurface(page);
    destroySurfaceBitmap(pageBitmap);
    return 0;
}
