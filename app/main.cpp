#include <windows.h>

#include "ZarvexApp.h"

CZarvexApp theApp;

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCmd) {
    return AfxWinMain(instance, showCmd);
}
