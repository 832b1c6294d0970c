// The Windows process entry: the runtime calls WinMain, which hands over to
// the program's own start-up.
#include "app/program.h"
#include "platform/windows_api.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  RunProcess();
}
