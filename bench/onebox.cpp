// onebox.exe: a program that shows one message box, styled as the
// uninstaller's confirmation, and ends when it is answered. Its start-up is
// what any GUI program pays before its first box, and its box's modal loop
// is what an idle dialog answers at.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    MessageBoxA(NULL,
                "Are you sure you want to completely remove the selected application and all of its components?",
                "Confirm File Deletion", MB_YESNO | MB_ICONQUESTION | MB_TASKMODAL);
    return 0;
}
