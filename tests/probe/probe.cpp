// Test helper run under the same Wine prefix as the tool: finds the tool's windows and message
// boxes, reports them and sends them input, so end-to-end tests can drive the real program.
//
//   probe windows            one line per test window:
//                            hwnd x y width height visible borderless taskbar pid tid title
//   probe key X Y NAME       a key press (escape, a, return or space) to the test window whose
//                            top-left corner is at X,Y
//   probe close X Y          a close request (WM_CLOSE) to that window
//   probe close-all          a close request to every test window
//   probe msgbox CAPTION     the text of the message box with that caption
//   probe ok CAPTION         presses OK in that message box
//
// Exit status 0 on success, 2 when the window or box is not there, 1 on a usage error.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

std::string toUtf8(const wchar_t* text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string result(size > 0 ? size - 1 : 0, '\0');
    if (size > 1)
        WideCharToMultiByte(CP_UTF8, 0, text, -1, &result[0], size, nullptr, nullptr);
    return result;
}

BOOL CALLBACK collectTestWindow(HWND hwnd, LPARAM found)
{
    wchar_t className[64] = {};
    GetClassNameW(hwnd, className, 64);
    if (std::wstring(className) == L"GL_WINDOW_CLASS")
        reinterpret_cast<std::vector<HWND>*>(found)->push_back(hwnd);
    return TRUE;
}

std::vector<HWND> testWindows()
{
    std::vector<HWND> found;
    EnumWindows(collectTestWindow, reinterpret_cast<LPARAM>(&found));
    return found;
}

HWND testWindowAt(int x, int y)
{
    for (HWND hwnd : testWindows()) {
        RECT rect;
        if (GetWindowRect(hwnd, &rect) && rect.left == x && rect.top == y)
            return hwnd;
    }
    return nullptr;
}

int listWindows()
{
    for (HWND hwnd : testWindows()) {
        RECT rect = {};
        GetWindowRect(hwnd, &rect);
        wchar_t title[256] = {};
        GetWindowTextW(hwnd, title, 256);
        DWORD pid = 0;
        const DWORD tid = GetWindowThreadProcessId(hwnd, &pid);
        const LONG style = GetWindowLongW(hwnd, GWL_STYLE);
        const bool borderless =
            (style & WS_POPUP) && !(style & (WS_CAPTION | WS_BORDER | WS_THICKFRAME));
        const bool taskbar = GetWindowLongW(hwnd, GWL_EXSTYLE) & WS_EX_APPWINDOW;
        std::printf("%llx %ld %ld %ld %ld %d %d %d %lu %lu %s\n",
                    static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(hwnd)), rect.left,
                    rect.top, rect.right - rect.left, rect.bottom - rect.top,
                    IsWindowVisible(hwnd) ? 1 : 0, borderless ? 1 : 0, taskbar ? 1 : 0, pid, tid,
                    toUtf8(title).c_str());
    }
    return 0;
}

int postToWindowAt(int x, int y, UINT message, WPARAM wParam, LPARAM lParam)
{
    HWND hwnd = testWindowAt(x, y);
    if (!hwnd)
        return 2;
    return PostMessageW(hwnd, message, wParam, lParam) ? 0 : 2;
}

int sendKey(int x, int y, const std::string& name)
{
    static const std::map<std::string, WPARAM> keys = {
        {"escape", VK_ESCAPE}, {"a", 'A'}, {"return", VK_RETURN}, {"space", VK_SPACE}};
    const auto key = keys.find(name);
    if (key == keys.end())
        return 1;
    return postToWindowAt(x, y, WM_KEYDOWN, key->second, 1);
}

int closeAll()
{
    for (HWND hwnd : testWindows())
        PostMessageW(hwnd, WM_CLOSE, 0, 0);
    return 0;
}

int showMessageBox(const char* caption, bool pressOk)
{
    HWND box = FindWindowA("#32770", caption);
    if (!box)
        return 2;
    if (pressOk)
        return PostMessageW(box, WM_COMMAND, IDOK, 0) ? 0 : 2;
    wchar_t text[4096] = {};
    // The message text of a standard message box is its static control with this id.
    GetDlgItemTextW(box, 0xFFFF, text, 4096);
    std::fputs(toUtf8(text).c_str(), stdout);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    // Binary output: the tests compare texts byte for byte, without added carriage returns.
    _setmode(_fileno(stdout), _O_BINARY);
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "windows" && argc == 2)
        return listWindows();
    if (command == "key" && argc == 5)
        return sendKey(std::atoi(argv[2]), std::atoi(argv[3]), argv[4]);
    if (command == "close" && argc == 4)
        return postToWindowAt(std::atoi(argv[2]), std::atoi(argv[3]), WM_CLOSE, 0, 0);
    if (command == "close-all" && argc == 2)
        return closeAll();
    if ((command == "msgbox" || command == "ok") && argc == 3)
        return showMessageBox(argv[2], command == "ok");
    std::fputs("usage: probe windows | key X Y NAME | close X Y | close-all | "
               "msgbox CAPTION | ok CAPTION\n",
               stderr);
    return 1;
}
