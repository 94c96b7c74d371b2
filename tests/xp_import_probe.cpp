// A program that Windows XP could not start: it calls GetTickCount64 (Vista
// and later), so tests/check_xp_imports.sh must refuse it. The build targets
// XP, whose headers don't declare the function; this file alone asks for Vista.
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return static_cast<int>(GetTickCount64() & 1);
}
