// The program's entry point.
#include <windows.h>

#include "app/spooler_app.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showCommand)
{
    return runSpooler(instance, showCommand, commandLine);
}
