#include "cDesktop.h"

#include "cPoll.h"

#include <QHash>

#include <windows.h>

#include <vector>

namespace {
HWND handle(const QString &window)
{
    return reinterpret_cast<HWND>(window.toULongLong(nullptr, 16));
}

QString name(HWND window)
{
    return QString::number(reinterpret_cast<quintptr>(window), 16);
}

// Shown top-level windows, skipping the 1x1 helper windows toolkits keep.
std::vector<HWND> shownWindows()
{
    std::vector<HWND> windows;
    EnumWindows(
        [](HWND window, LPARAM list) -> BOOL {
            RECT frame{};
            if (IsWindowVisible(window) && GetWindowRect(window, &frame) &&
                frame.right - frame.left > 1 && frame.bottom - frame.top > 1)
                reinterpret_cast<std::vector<HWND> *>(list)->push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&windows));
    return windows;
}

QString title(HWND window)
{
    wchar_t text[256] = {};
    const int length = GetWindowTextW(window, text, 256);
    return QString::fromWCharArray(text, length);
}

HWND find(const QString &wanted, qint64 pid)
{
    for (HWND window : shownWindows()) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if ((pid == 0 || owner == DWORD(pid)) && (wanted.isEmpty() || title(window) == wanted))
            return window;
    }
    return nullptr;
}

INPUT keyInput(WORD virtualKey, WORD character, bool up)
{
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = virtualKey;
    input.ki.wScan = character;
    input.ki.dwFlags = (character ? KEYEVENTF_UNICODE : 0) | (up ? KEYEVENTF_KEYUP : 0);
    return input;
}

bool send(std::vector<INPUT> inputs)
{
    return SendInput(UINT(inputs.size()), inputs.data(), sizeof(INPUT)) == inputs.size();
}
} // namespace

struct cDesktop::cPrivate
{
};

cDesktop::cDesktop() : d(new cPrivate)
{
    // Under Wine the windows reach a screen only through the X server in DISPLAY.
    const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version");
    if (wine && qEnvironmentVariableIsEmpty("DISPLAY"))
        m_problem = QStringLiteral("no X server for Wine: run the suite under xvfb-run");
}

cDesktop::~cDesktop() = default;

QProcessEnvironment cDesktop::environment(QProcessEnvironment base) const
{
    // The suites themselves may run offscreen; the programs they start show their windows.
    // Qt's messages go to the debugger on Windows; the suites read them on standard error.
    base.remove(QStringLiteral("QT_QPA_PLATFORM"));
    base.insert(QStringLiteral("QT_FORCE_STDERR_LOGGING"), QStringLiteral("1"));
    return base;
}

QString cDesktop::waitForWindow(const QString &title, qint64 pid, int ms) const
{
    HWND found = nullptr;
    cPoll::until([&] { return (found = find(title, pid)) != nullptr; }, ms);
    return found ? name(found) : QString();
}

bool cDesktop::isShown(const QString &title) const
{
    return find(title, 0) != nullptr;
}

QSize cDesktop::size(const QString &window) const
{
    RECT client{};
    return GetClientRect(handle(window), &client) ? QSize(client.right, client.bottom) : QSize();
}

QImage cDesktop::grab(const QString &window, const QString &png) const
{
    // What the screen shows where the window's client area is, as a person sees it.
    RECT client{};
    POINT origin{0, 0};
    if (!GetClientRect(handle(window), &client) || !ClientToScreen(handle(window), &origin) ||
        client.right <= 0 || client.bottom <= 0)
        return QImage();
    QImage image(client.right, client.bottom, QImage::Format_RGB32);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = image.width();
    info.bmiHeader.biHeight = -image.height(); // top-down, as QImage
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    void *bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    const HGDIOBJ previous = SelectObject(memory, bitmap);
    const bool copied = BitBlt(memory, 0, 0, image.width(), image.height(), screen, origin.x,
                               origin.y, SRCCOPY | CAPTUREBLT);
    GdiFlush();
    if (copied && bits) {
        for (int y = 0; y < image.height(); ++y)
            memcpy(image.scanLine(y), static_cast<const uchar *>(bits) + y * image.width() * 4,
                   size_t(image.width()) * 4);
    }
    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (!copied)
        return QImage();
    // The bitmap's unused alpha byte is no part of the colour.
    image = image.convertToFormat(QImage::Format_RGB32);
    if (!png.isEmpty())
        image.save(png);
    return image;
}

bool cDesktop::focus(const QString &window) const
{
    SetForegroundWindow(handle(window));
    return cPoll::until([&] { return hasFocus(window); }, kWaitMs);
}

bool cDesktop::hasFocus(const QString &window) const
{
    return GetForegroundWindow() == handle(window);
}

bool cDesktop::key(const QString &keys) const
{
    static const QHash<QString, WORD> names{
        {QStringLiteral("Return"), VK_RETURN}, {QStringLiteral("space"), VK_SPACE},
        {QStringLiteral("Escape"), VK_ESCAPE}, {QStringLiteral("Tab"), VK_TAB},
        {QStringLiteral("ctrl"), VK_CONTROL},  {QStringLiteral("shift"), VK_SHIFT}};
    std::vector<INPUT> down, up;
    for (const QString &part : keys.split('+')) {
        WORD code = names.value(part);
        if (!code && part.size() == 1 && part.at(0).isLetterOrNumber())
            code = WORD(part.at(0).toUpper().unicode());
        if (!code)
            return false;
        down.push_back(keyInput(code, 0, false));
        up.insert(up.begin(), keyInput(code, 0, true));
    }
    down.insert(down.end(), up.begin(), up.end());
    return send(down);
}

bool cDesktop::type(const QString &text) const
{
    for (const QChar c : text) {
        if (!send({keyInput(0, c.unicode(), false), keyInput(0, c.unicode(), true)}))
            return false;
        Sleep(20);
    }
    return true;
}

bool cDesktop::click(const QString &window, const QPoint &at) const
{
    POINT point{at.x(), at.y()};
    if (!ClientToScreen(handle(window), &point) || !SetCursorPos(point.x, point.y))
        return false;
    INPUT press{};
    press.type = INPUT_MOUSE;
    press.mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    INPUT release = press;
    release.mi.dwFlags = MOUSEEVENTF_LEFTUP;
    return send({press, release});
}

bool cDesktop::requestClose(const QString &window) const
{
    return PostMessageW(handle(window), WM_CLOSE, 0, 0);
}

bool cDesktop::runHelper(const QString &, const QStringList &, QString *) const
{
    return false;
}
