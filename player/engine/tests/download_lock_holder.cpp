// Holds the player's download lock the way a second player does: opened
// without sharing. Arguments: lock path, ready event name, release event name.
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) return 2;
  HANDLE lock = CreateFileW(argv[1], GENERIC_READ, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (lock == INVALID_HANDLE_VALUE) return 1;
  HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[2]);
  HANDLE release = OpenEventW(SYNCHRONIZE, FALSE, argv[3]);
  if (!ready || !release) return 3;
  SetEvent(ready);
  const DWORD waited = WaitForSingleObject(release, 20000);
  CloseHandle(lock);
  CloseHandle(ready);
  CloseHandle(release);
  return waited == WAIT_OBJECT_0 ? 0 : 4;
}
