// Arbitrary bytes as a dialog template through the stand-in's dialog creation.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/host/sim.h"
#include "platform/win32.h"
#include "res/resource.h"

namespace {

INT_PTR CALLBACK Quiet(HWND /*dialog*/, UINT /*message*/, WPARAM /*wParam*/, LPARAM /*lParam*/) {
    return FALSE;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    sim::Reset();
    INITCOMMONCONTROLSEX init{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&init);
    sim::SetResource(RT_DIALOG, IDD_PROGRESS, std::vector<std::uint8_t>(data, data + size));
    HWND dialog =
        CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_PROGRESS), nullptr, Quiet, 0);
    if (dialog != nullptr) {
        SendDlgItemMessageA(dialog, IDC_PROGRESS_BAR, PBM_SETRANGE32, 0, 2756);
        SendDlgItemMessageA(dialog, IDC_PROGRESS_BAR, PBM_SETPOS, 2758, 0);
        DestroyWindow(dialog);
    }
    return 0;
}
