// A DLL built with the plug-in's runtime, importing from the same system
// libraries, with nothing of ours: what a load cycle costs the process
// without our code, for comparison.
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <string>

namespace {
const std::string gName = "empty";
}

// Never called: it only makes the loader bring in what the plug-in's
// imports bring in.
extern "C" __declspec(dllexport) int __cdecl EmptyGuestImports()
{
    char path[MAX_PATH] = {};
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_BAR_CLASSES};
    return static_cast<int>(gName.size()) + SHGetSpecialFolderPathA(nullptr, path, CSIDL_APPDATA, FALSE) +
           RegCloseKey(nullptr) + InitCommonControlsEx(&controls) + (GetStockObject(WHITE_BRUSH) != nullptr) +
           GetSystemMetrics(SM_CXSCREEN);
}
