#include "jobs/cancel_window.h"

#include <cstdio>

#include "jobs/print_job.h"

namespace {

const char* const cancelClassName = "FQCancelClass";
const int windowWidth = 260;
const int windowHeight = 120;
const int textId = 100;

HWND cancelWindow = nullptr;
bool cancelRequested = false;

LRESULT CALLBACK cancelWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    // Escape reaches us as IDCANCEL too, through IsDialogMessage.
    if ((message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) || message == WM_CLOSE) {
        cancelRequested = true;
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

bool registerCancelClass(HINSTANCE instance)
{
    WNDCLASSA windowClass;
    if (GetClassInfoA(instance, cancelClassName, &windowClass)) {
        return true;
    }
    ZeroMemory(&windowClass, sizeof(windowClass));
    windowClass.lpfnWndProc = cancelWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = cancelClassName;
    return RegisterClassA(&windowClass) != 0;
}

// A control of the window in the dialog font, which is a stock object and
// needs no release.
void addControl(const char* className, const char* text, DWORD style, int x, int y, int width, int height,
                int id, HINSTANCE instance)
{
    HWND control = CreateWindowExA(0, className, text, WS_CHILD | WS_VISIBLE | style, x, y, width, height,
                                   cancelWindow, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance,
                                   nullptr);
    if (control != nullptr) {
        SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    }
}

}  // namespace

int openCancelWindow(HWND owner)
{
    HINSTANCE instance = GetModuleHandleA(nullptr);
    cancelRequested = false;
    if (!registerCancelClass(instance)) {
        return -1;
    }
    RECT ownerArea = {0, 0, windowWidth, windowHeight};
    GetWindowRect(owner, &ownerArea);
    int x = (ownerArea.left + ownerArea.right - windowWidth) / 2;
    int y = (ownerArea.top + ownerArea.bottom - windowHeight) / 2;
    cancelWindow = CreateWindowExA(WS_EX_DLGMODALFRAME, cancelClassName, spoolerTitle,
                                   WS_POPUP | WS_CAPTION | WS_SYSMENU, x < 0 ? 0 : x, y < 0 ? 0 : y, windowWidth,
                                   windowHeight, owner, nullptr, instance, nullptr);
    if (cancelWindow == nullptr) {
        return -1;
    }
    addControl("STATIC", "", SS_CENTER, 10, 14, windowWidth - 26, 20, textId, instance);
    addControl("BUTTON", "Cancel", WS_TABSTOP | BS_DEFPUSHBUTTON, (windowWidth - 86) / 2, 46, 80, 24, IDCANCEL,
               instance);
    showCancelWindowPage(1);
    ShowWindow(cancelWindow, SW_SHOWNORMAL);
    UpdateWindow(cancelWindow);
    return 0;
}

void showCancelWindowPage(int imageNumber)
{
    if (cancelWindow == nullptr) {
        return;
    }
    char text[64];
    std::snprintf(text, sizeof(text), "Printing image %d...", imageNumber);
    SetDlgItemTextA(cancelWindow, textId, text);
}

bool cancelPressed()
{
    if (cancelWindow == nullptr) {
        return false;
    }
    keepCancelWindowAnswering(nullptr, 0);
    return cancelRequested;
}

BOOL CALLBACK keepCancelWindowAnswering(HDC, int)
{
    MSG message;
    while (cancelWindow != nullptr && PeekMessageA(&message, cancelWindow, 0, 0, PM_REMOVE)) {
        // Not ours to take: the message loop must still see it.
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            break;
        }
        if (!IsDialogMessageA(cancelWindow, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    return TRUE;
}

void closeCancelWindow()
{
    if (cancelWindow != nullptr) {
        DestroyWindow(cancelWindow);
        cancelWindow = nullptr;
    }
}
