/* The test harness's hands and eyes inside the Wine desktop. It watches for dialogs of other
 * processes, writes what each one says to a log, and answers message boxes with the buttons it
 * was given, in order.
 *
 *   boxrobot.exe <log> <stop-file> [--hold <dir>] [answer ...]
 *
 * For every message box: "box N", "caption: ...", "text: ...", "icon: yes|no", "buttons: A|B",
 * then "press: A" (or "unanswered", and the program is ended with exit code 99). Text is written with \n for
 * a line break and \\ for a backslash; every other byte as it is. With --hold, box N is answered only once
 * <dir>/ackN exists (the harness takes its screenshot first). The progress dialog (a dialog with a progress
 * bar) is logged when it shows, with its texts, its place on the screen, the positions its bar took, and when
 * it hides; "position: P%" each time the bar passes another tenth. The robot ends when the stop file exists.
 */
// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <stdio.h>
#include <string.h>
// clang-format on

#define MAX_ANSWERS 32
#define ICON_ID 1088 /* the icon control of a message box */

static FILE* logFile;
static const char* answers[MAX_ANSWERS];
static int answerCount;
static int nextAnswer;
static int boxCount;
static const char* holdDir;

static HWND handled[256];
static int handledCount;

static void LogEscaped(const char* label, const char* text) {
    fprintf(logFile, "%s: ", label);
    for (const char* p = text; *p; ++p) {
        if (*p == '\n')
            fputs("\\n", logFile);
        else if (*p == '\\')
            fputs("\\\\", logFile);
        else
            fputc(*p, logFile);
    }
    fputc('\n', logFile);
}

static void Log(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vfprintf(logFile, format, args);
    va_end(args);
    fflush(logFile);
}

static int IsHandled(HWND w) {
    for (int i = 0; i < handledCount; ++i)
        if (handled[i] == w) return 1;
    return 0;
}

static void ButtonName(HWND button, char* out, int size) {
    char raw[128];
    GetWindowTextA(button, raw, sizeof(raw));
    int n = 0;
    for (const char* p = raw; *p && n < size - 1; ++p)
        if (*p != '&') out[n++] = *p;
    out[n] = 0;
}

struct Found {
    HWND progress;
    HWND text;
    HWND icon;
    HWND buttons[8];
    int buttonCount;
};

static BOOL CALLBACK Child(HWND child, LPARAM param) {
    struct Found* f = (struct Found*)param;
    char cls[64];
    GetClassNameA(child, cls, sizeof(cls));
    if (_stricmp(cls, PROGRESS_CLASSA) == 0)
        f->progress = child;
    else if (_stricmp(cls, "Button") == 0 && IsWindowVisible(child) && f->buttonCount < 8)
        f->buttons[f->buttonCount++] = child;
    else if (_stricmp(cls, "Static") == 0) {
        if (GetDlgCtrlID(child) == ICON_ID)
            f->icon = child;
        else if (!f->text)
            f->text = child;
    }
    return TRUE;
}

static int FileExists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

/* A box the script did not expect: the scenario has failed, so we end the program at once
 * (exit code 99) instead of leaving it to wait for its time-out. */
static void EndProgram(HWND box) {
    DWORD pid = 0;
    GetWindowThreadProcessId(box, &pid);
    HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, pid);
    if (process) {
        TerminateProcess(process, 99);
        CloseHandle(process);
    }
}

static void Answer(HWND box, struct Found* f) {
    char caption[256], text[2048];
    GetWindowTextA(box, caption, sizeof(caption));
    text[0] = 0;
    if (f->text) GetWindowTextA(f->text, text, sizeof(text));
    ++boxCount;
    /* Whether the progress dialog is on screen as this box comes: a dialog shown and hidden again
       between two passes is never seen by FollowProgress. */
    HWND dialog = FindWindowA("#32770", "Quadrilux Pro OS Update");
    Log("progress dialog at box %d: %s\n", boxCount,
        dialog == NULL ? "absent" : IsWindowVisible(dialog) ? "visible" : "hidden");
    Log("box %d\n", boxCount);
    LogEscaped("caption", caption);
    LogEscaped("text", text);
    DWORD_PTR icon = 0;
    if (f->icon) SendMessageTimeoutA(f->icon, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 200, &icon);
    Log("icon: %s\n", icon && IsWindowVisible(f->icon) ? "yes" : "no");
    fputs("buttons: ", logFile);
    for (int i = 0; i < f->buttonCount; ++i) {
        char name[64];
        ButtonName(f->buttons[i], name, sizeof(name));
        fprintf(logFile, "%s%s", i ? "|" : "", name);
    }
    fputc('\n', logFile);
    fflush(logFile);
    if (holdDir) {
        char ack[MAX_PATH];
        snprintf(ack, sizeof(ack), "%s/ack%d", holdDir, boxCount);
        for (int i = 0; i < 500 && !FileExists(ack); ++i) Sleep(20);
    }
    if (nextAnswer >= answerCount) {
        Log("unanswered\n");
        EndProgram(box);
        return;
    }
    const char* want = answers[nextAnswer++];
    for (int i = 0; i < f->buttonCount; ++i) {
        char name[64];
        ButtonName(f->buttons[i], name, sizeof(name));
        if (strcmp(name, want) == 0) {
            Log("press: %s\n", name);
            PostMessageA(box, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(f->buttons[i]), BN_CLICKED),
                         (LPARAM)f->buttons[i]);
            return;
        }
    }
    Log("no button: %s\n", want);
    EndProgram(box);
}

/* The progress dialog, followed while it is visible. */
static HWND progressBox;
static int progressVisible;
static int lastPos = -1;
static int distinctPositions;
static int lastDecade;

static void FollowProgress(HWND box, struct Found* f) {
    if (!progressVisible) {
        char caption[256], text[256];
        RECT r;
        GetWindowTextA(box, caption, sizeof(caption));
        text[0] = 0;
        if (f->text) GetWindowTextA(f->text, text, sizeof(text));
        GetWindowRect(box, &r);
        progressBox = box;
        progressVisible = 1;
        Log("progress shown\n");
        LogEscaped("caption", caption);
        LogEscaped("text", text);
        Log("rect: %ld %ld %ld %ld screen: %d %d\n", r.left, r.top, r.right, r.bottom,
            GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    }
    DWORD_PTR pos = 0, high = 0;
    if (SendMessageTimeoutA(f->progress, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 200, &pos) &&
        SendMessageTimeoutA(f->progress, PBM_GETRANGE, FALSE, 0, SMTO_ABORTIFHUNG, 200, &high)) {
        if ((int)pos != lastPos) {
            if (lastPos < 0) Log("first position: %d of %d\n", (int)pos, (int)high);
            lastPos = (int)pos;
            ++distinctPositions;
            int decade = high > 0 ? (int)(pos * 10 / high) : 0;
            while (lastDecade < decade && lastDecade < 10) {
                ++lastDecade;
                Log("position: %d%% (%d of %d)\n", lastDecade * 10, (int)pos, (int)high);
            }
        }
    }
}

static DWORD self;
static int samplePass; /* the bar is read every few passes: each read waits for the program */

static BOOL CALLBACK TopLevel(HWND w, LPARAM param) {
    (void)param;
    DWORD pid = 0;
    char cls[64];
    GetWindowThreadProcessId(w, &pid);
    if (pid == self || !IsWindowVisible(w)) return TRUE;
    GetClassNameA(w, cls, sizeof(cls));
    if (strcmp(cls, "#32770") != 0) return TRUE;
    struct Found f;
    memset(&f, 0, sizeof(f));
    EnumChildWindows(w, Child, (LPARAM)&f);
    if (f.progress)
        FollowProgress(w, &f);
    else if (f.buttonCount > 0 && !IsHandled(w) && handledCount < 256) {
        handled[handledCount++] = w;
        Answer(w, &f);
    }
    return TRUE;
}

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: boxrobot <log> <stop-file> [--hold <dir>] [answer ...]\n");
        return 2;
    }
    logFile = fopen(argv[1], "wb");
    if (!logFile) return 3;
    const char* stop = argv[2];
    int i = 3;
    if (i + 1 < argc && strcmp(argv[i], "--hold") == 0) {
        holdDir = argv[i + 1];
        i += 2;
    }
    for (; i < argc && answerCount < MAX_ANSWERS; ++i) answers[answerCount++] = argv[i];
    self = GetCurrentProcessId();
    Log("ready\n");
    for (int pass = 0; !FileExists(stop); ++pass) {
        samplePass = pass % 6 == 0;
        EnumWindows(TopLevel, 0);
        if (progressVisible && (!IsWindow(progressBox) || !IsWindowVisible(progressBox))) {
            Log("progress hidden: %d positions seen, last %d\n", distinctPositions, lastPos);
            progressVisible = 0;
        }
        Sleep(15);
    }
    Log("stopped\n");
    fclose(logFile);
    return 0;
}
