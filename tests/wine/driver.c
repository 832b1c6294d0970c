/* Test driver for Ostravel under Wine.
 *
 *   driver.exe run <exe> <command line in hex> [options]
 *     Starts <exe> with exactly that command line, answers every message box
 *     it shows with OK, and prints what it saw:
 *       started <process id> <main thread id, hex>
 *       notice caption=<hex> text=<hex> style=<hex> exstyle=<hex>
 *              buttons=<id>:<hex text>,... icon=<0|1> rect=<l>,<t>,<r>,<b>
 *              at=<milliseconds since the start>
 *       posted <count of thread messages delivered while it ran>
 *       exit <code>            (or "timeout" when the deadline passed)
 *     Options:
 *       --cwd <hex>            current folder of the program
 *       --post <msg> <n>       post message number <msg> n times to the
 *                              program's main thread while it runs (repeatable;
 *                              posts interleave in the order given)
 *       --timeout-ms <n>       deadline for the whole run (default 60000)
 *       --hold <path>          before closing the first notice, create
 *                              <path>.shown and wait for <path>.go
 *   driver.exe formatmessage <code>
 *     Prints FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, NULL, code, 0, buf,
 *     255, NULL) of this system, hex-encoded, on one line.
 *
 * Texts travel as hex so that every byte (quotes, tabs, line breaks) survives.
 */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define MAX_NOTICES 256
#define MAX_POSTS 16
#define MSGBOX_TEXT_ID 0xFFFF
#define MSGBOX_ICON_ID 0x0440

static void PrintHex(const char* text) {
  const unsigned char* p = (const unsigned char*)text;
  if (!*p) {
    fputs("-", stdout);  /* an empty text still takes one field */
    return;
  }
  for (; *p; ++p) printf("%02X", *p);
}

static int DecodeHex(const char* hex, char* out, size_t size) {
  size_t length = strlen(hex);
  if (length % 2 || length / 2 >= size) return 0;
  for (size_t i = 0; i < length / 2; ++i) {
    unsigned int byte;
    if (sscanf(hex + 2 * i, "%2x", &byte) != 1) return 0;
    out[i] = (char)byte;
  }
  out[length / 2] = 0;
  return 1;
}

/* What one sighting of a message box holds. */
typedef struct {
  HWND window;
  char caption[512];
  char text[4096];
  char buttons[1024];
  LONG style;
  LONG exstyle;
  int icon;
  RECT rect;
} Notice;

/* Records the visible buttons, and whether the icon control holds an icon. */
static BOOL CALLBACK ScanChild(HWND child, LPARAM param) {
  Notice* notice = (Notice*)param;
  char cls[64], text[256];
  if (!IsWindowVisible(child)) return TRUE;
  GetClassNameA(child, cls, sizeof cls);
  int id = GetDlgCtrlID(child);
  if (lstrcmpiA(cls, "Button") == 0) {
    size_t used = strlen(notice->buttons);
    GetWindowTextA(child, text, sizeof text);
    char entry[600];
    int n = snprintf(entry, sizeof entry, "%s%d:", used ? "," : "", id);
    for (const unsigned char* p = (const unsigned char*)text; *p && n < 590; ++p)
      n += snprintf(entry + n, sizeof entry - n, "%02X", *p);
    if (used + strlen(entry) < sizeof notice->buttons) strcat(notice->buttons, entry);
  } else if (id == MSGBOX_ICON_ID && SendMessageA(child, STM_GETICON, 0, 0)) {
    notice->icon = 1;
  }
  return TRUE;
}

typedef struct {
  DWORD processId;
  HWND found;
} WindowSearch;

/* A top-level dialog of the program: a visible window of class #32770. */
static BOOL CALLBACK FindDialog(HWND window, LPARAM param) {
  WindowSearch* search = (WindowSearch*)param;
  DWORD owner = 0;
  char cls[64];
  GetWindowThreadProcessId(window, &owner);
  if (owner != search->processId || !IsWindowVisible(window)) return TRUE;
  GetClassNameA(window, cls, sizeof cls);
  if (strcmp(cls, "#32770") != 0) return TRUE;
  search->found = window;
  return FALSE;
}

static void ReadNotice(HWND window, Notice* notice) {
  memset(notice, 0, sizeof *notice);
  notice->window = window;
  GetWindowTextA(window, notice->caption, sizeof notice->caption);
  GetDlgItemTextA(window, MSGBOX_TEXT_ID, notice->text, sizeof notice->text);
  notice->style = GetWindowLongA(window, GWL_STYLE);
  notice->exstyle = GetWindowLongA(window, GWL_EXSTYLE);
  GetWindowRect(window, &notice->rect);
  EnumChildWindows(window, ScanChild, (LPARAM)notice);
}

static void PrintNotice(const Notice* notice, DWORD elapsed) {
  fputs("notice caption=", stdout);
  PrintHex(notice->caption);
  fputs(" text=", stdout);
  PrintHex(notice->text);
  printf(" style=%08lX exstyle=%08lX buttons=%s icon=%d rect=%ld,%ld,%ld,%ld at=%lu\n",
         (unsigned long)notice->style, (unsigned long)notice->exstyle,
         notice->buttons[0] ? notice->buttons : "-", notice->icon,
         notice->rect.left, notice->rect.top, notice->rect.right, notice->rect.bottom,
         elapsed);
  fflush(stdout);
}

/* Lets the harness look at the box (a screenshot) before it is closed. */
static void HoldNotice(HWND window, const char* hold, DWORD deadline) {
  char path[MAX_PATH + 8];
  DWORD_PTR ignored;
  /* Have the box paint itself now, then wait until its thread is idle. */
  RedrawWindow(window, NULL, NULL, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_BLOCK, 2000, &ignored);
  snprintf(path, sizeof path, "%s.shown", hold);
  HANDLE marker = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
  snprintf(path, sizeof path, "%s.go", hold);
  while (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES && GetTickCount() < deadline)
    Sleep(20);
}

static void CloseWithOk(HWND window) {
  HWND ok = GetDlgItem(window, IDOK);
  PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)ok);
}

typedef struct {
  UINT message;
  int left;
} PostPlan;

static int Run(int argc, char** argv) {
  if (argc < 4) return 2;
  const char* exe = argv[2];
  static char commandLine[32768];
  static char cwd[MAX_PATH];
  int haveCwd = 0;
  const char* hold = NULL;
  DWORD timeout = 60000;
  PostPlan posts[MAX_POSTS];
  int postCount = 0;
  if (!DecodeHex(argv[3], commandLine, sizeof commandLine)) return 2;
  for (int i = 4; i < argc; ++i) {
    if (strcmp(argv[i], "--cwd") == 0 && i + 1 < argc) {
      if (!DecodeHex(argv[++i], cwd, sizeof cwd)) return 2;
      haveCwd = 1;
    } else if (strcmp(argv[i], "--post") == 0 && i + 2 < argc && postCount < MAX_POSTS) {
      posts[postCount].message = (UINT)strtoul(argv[i + 1], NULL, 0);
      posts[postCount].left = atoi(argv[i + 2]);
      ++postCount;
      i += 2;
    } else if (strcmp(argv[i], "--timeout-ms") == 0 && i + 1 < argc) {
      timeout = (DWORD)strtoul(argv[++i], NULL, 0);
    } else if (strcmp(argv[i], "--hold") == 0 && i + 1 < argc) {
      hold = argv[++i];
    } else {
      fprintf(stderr, "driver: unknown option %s\n", argv[i]);
      return 2;
    }
  }

  STARTUPINFOA startup;
  PROCESS_INFORMATION process;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  if (!CreateProcessA(exe, commandLine, NULL, NULL, FALSE, 0, NULL,
                      haveCwd ? cwd : NULL, &startup, &process)) {
    printf("startfailed %lu\n", GetLastError());
    return 3;
  }

  printf("started %lu %04lx\n", process.dwProcessId, process.dwThreadId);
  fflush(stdout);
  DWORD started = GetTickCount();
  DWORD deadline = started + timeout;
  HWND lastClosed = NULL;
  int notices = 0, posted = 0, next = 0;
  for (;;) {
    if (WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0) break;
    if (GetTickCount() >= deadline) {
      TerminateProcess(process.hProcess, 255);
      WaitForSingleObject(process.hProcess, 5000);
      puts("timeout");
      return 4;
    }
    /* Post one planned message per round, taking the plans in turn. A post
       fails until the program's thread has a message queue; then it is
       tried again in the next round. */
    for (int tried = 0; tried < postCount; ++tried) {
      PostPlan* plan = &posts[(next + tried) % postCount];
      if (plan->left <= 0) continue;
      if (PostThreadMessageA(process.dwThreadId, plan->message, 0, 0)) {
        --plan->left;
        ++posted;
        next = (next + tried + 1) % postCount;
      }
      break;
    }
    WindowSearch search = {process.dwProcessId, NULL};
    EnumWindows(FindDialog, (LPARAM)&search);
    if (search.found && search.found != lastClosed) {
      Notice notice;
      ReadNotice(search.found, &notice);
      if (notices < MAX_NOTICES) PrintNotice(&notice, GetTickCount() - started);
      if (notices == 0 && hold) HoldNotice(search.found, hold, deadline);
      ++notices;
      CloseWithOk(search.found);
      lastClosed = search.found;  /* it may linger a moment after OK */
    }
    WaitForSingleObject(process.hProcess, 2);
  }

  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  printf("posted %d\n", posted);
  printf("exit %lu\n", code);
  printf("took %lu\n", GetTickCount() - started);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return 0;
}

static int PrintSystemText(const char* codeText) {
  char buffer[256];
  memset(buffer, 0, sizeof buffer);
  DWORD code = (DWORD)strtoul(codeText, NULL, 0);
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, NULL, code, 0, buffer, 255, NULL);
  PrintHex(buffer);
  putchar('\n');
  return 0;
}

int main(int argc, char** argv) {
  if (argc >= 3 && strcmp(argv[1], "formatmessage") == 0) return PrintSystemText(argv[2]);
  if (argc >= 2 && strcmp(argv[1], "run") == 0) return Run(argc, argv);
  fputs("usage: driver run <exe> <hex command line> [options] | driver formatmessage <code>\n",
        stderr);
  return 2;
}
