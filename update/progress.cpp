#include "update/progress.h"

#include <atomic>

#include "res/resource.h"

namespace {

HRESULT LoadStatus(std::int32_t& status) {
    return static_cast<HRESULT>(std::atomic_ref<std::int32_t>(status).load(std::memory_order_relaxed));
}

void StoreStatus(std::int32_t& status, HRESULT value) {
    std::atomic_ref<std::int32_t>(status).store(static_cast<std::int32_t>(value), std::memory_order_relaxed);
}

// Centred on the primary screen; a dialog larger than the screen starts at its top-left corner.
int CentredOrigin(int screen, int size) {
    int origin = (screen - size) / 2;
    return origin < 0 ? 0 : origin;
}

}  // namespace

Progress::Progress(HINSTANCE instance) : status(S_OK), dialog(nullptr) {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(INITCOMMONCONTROLSEX);
    controls.dwICC = ICC_PROGRESS_CLASS;
    InitCommonControlsEx(&controls);

    dialog = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_PROGRESS), nullptr, ProgressDialogProc, 0);
    SetWindowLongPtrA(dialog, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));

    RECT rect{};
    GetWindowRect(dialog, &rect);
    int x = CentredOrigin(GetSystemMetrics(SM_CXSCREEN), static_cast<int>(rect.right - rect.left));
    int y = CentredOrigin(GetSystemMetrics(SM_CYSCREEN), static_cast<int>(rect.bottom - rect.top));
    SetWindowPos(dialog, HWND_TOP, x, y, 0, 0, SWP_NOSIZE);

    ShowWindow(dialog, SW_SHOWNORMAL);
    SetForegroundWindow(dialog);
}

HRESULT Progress::SetProgress(int position, int total) {
    SendDlgItemMessageA(dialog, IDC_PROGRESS_BAR, PBM_SETRANGE32, 0, static_cast<LPARAM>(total));
    SendDlgItemMessageA(dialog, IDC_PROGRESS_BAR, PBM_SETPOS, static_cast<WPARAM>(position), 0);
    return LoadStatus(status);
}

bool Progress::CancelRequested() { return LoadStatus(status) == E_ABORT; }

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
        auto* progress = reinterpret_cast<Progress*>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
        if (progress != nullptr) {
            StoreStatus(progress->status, E_ABORT);
        }
    }
    // Everything else, and the cancel too, is left to the default dialog handling: the dialog
    // stays open.
    return FALSE;
}
