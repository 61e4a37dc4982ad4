// Another program that holds a file open without sharing for a while, as an
// antivirus scan, a backup or a search indexer does:
//   zvk_file_holder PATH MS EVENT
// The named event is set once the file is held; the file goes after MS ms.
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc != 4)
        return 2;
    const HANDLE file = CreateFileA(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    if (const HANDLE held = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[3])) {
        SetEvent(held);
        CloseHandle(held);
    }
    Sleep(static_cast<DWORD>(std::atol(argv[2])));
    CloseHandle(file);
    return 0;
}
