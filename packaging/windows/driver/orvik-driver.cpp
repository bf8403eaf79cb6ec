// Sets up the driver that dfu-util needs for the Orvik's bootloader (USB 0483:df11) on Windows:
// the microcontroller maker's signed WinUSB package, shipped unchanged in the "driver" folder
// beside this program. The bootloader carries no Microsoft OS descriptors, so Windows binds
// nothing that libusb can open by itself.
//
//   orvik-driver install [--outcome-file FILE]
//       Stages the package in the driver store, and forces it onto a bootloader connected now
//       that has no driver or one that dfu-util cannot use.
//   orvik-driver remove [--outcome-file FILE]
//       Removes the package again, but only if this program added it: the maker's own tools
//       may have staged the same package, and their users rely on it.
//
// Prints one line on standard output (and into FILE, in UTF-8, for a caller that started it
// elevated and so cannot read its output) and ends with an eHelperOutcome.
#include "eHelperOutcome.h"

#include <windows.h>

#include <newdev.h>
#include <setupapi.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {
const wchar_t kHardwareId[] = L"USB\\VID_0483&PID_DF11";
const wchar_t kInf[] = L"STM32Bootloader.inf";
const wchar_t kCatalog[] = L"STM32Bootloader.cat";
const wchar_t kPackageFolder[] = L"driver";
// Which package this program staged, so that only that one is ever removed again.
const wchar_t kRecordKey[] = L"Software\\Kestrane Audio\\Orvik Updater";
const wchar_t kRecordValue[] = L"DriverPackage";
// The services through which libusb, and so dfu-util, opens a device.
const wchar_t *const kUsableServices[] = {L"WinUSB", L"libusbK", L"libusb0"};

std::string utf8(const std::wstring &text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string bytes(size > 0 ? size : 0, '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), &bytes[0], size, nullptr,
                            nullptr);
    return bytes;
}

std::wstring errorCode(DWORD error)
{
    wchar_t text[16];
    std::swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(error));
    return text;
}

std::wstring ownFolder()
{
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
        if (length == 0)
            return L".";
        if (length < path.size()) {
            const std::wstring file(path.data(), length);
            return file.substr(0, file.find_last_of(L"\\/"));
        }
        path.resize(path.size() * 2);
    }
}

bool fileExists(const std::wstring &path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// This program is x64; on ARM64 Windows it runs emulated, where the package has no section.
bool onArm64()
{
    using IsWow64Process2Fn = BOOL(WINAPI *)(HANDLE, USHORT *, USHORT *);
    // Windows 10 1709 and later; older systems have no ARM64 edition to run on.
    const auto isWow64Process2 = reinterpret_cast<IsWow64Process2Fn>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "IsWow64Process2")));
    USHORT process = 0;
    USHORT native = 0;
    return isWow64Process2 && isWow64Process2(GetCurrentProcess(), &process, &native) &&
           native == IMAGE_FILE_MACHINE_ARM64;
}

// True only with the rights in force: an administrator whose token is not elevated has them
// as a deny-only group.
bool isAdministrator()
{
    SID_IDENTIFIER_AUTHORITY authority = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!AllocateAndInitializeSid(&authority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                  DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &administrators))
        return false;
    BOOL member = FALSE;
    if (!CheckTokenMembership(nullptr, administrators, &member))
        member = FALSE;
    FreeSid(administrators);
    return member;
}

// A registry property of a device as text; a multi-string keeps the zeros between its entries.
std::wstring deviceProperty(HDEVINFO devices, SP_DEVINFO_DATA &device, DWORD property)
{
    DWORD size = 0;
    SetupDiGetDeviceRegistryPropertyW(devices, &device, property, nullptr, nullptr, 0, &size);
    if (size < sizeof(wchar_t))
        return {};
    std::vector<wchar_t> value(size / sizeof(wchar_t) + 1, L'\0');
    if (!SetupDiGetDeviceRegistryPropertyW(devices, &device, property, nullptr,
                                           reinterpret_cast<BYTE *>(value.data()), size, nullptr))
        return {};
    return std::wstring(value.data(), size / sizeof(wchar_t));
}

bool isBootloader(const std::wstring &hardwareIds)
{
    const size_t length = std::wcslen(kHardwareId);
    for (size_t at = 0; at < hardwareIds.size();) {
        const size_t end = hardwareIds.find(L'\0', at);
        const std::wstring id = hardwareIds.substr(at, end == std::wstring::npos ? end : end - at);
        // "USB\VID_0483&PID_DF11", or the same followed by "&REV_2200".
        if (id.size() >= length &&
            CompareStringOrdinal(id.c_str(), int(length), kHardwareId, int(length), TRUE) ==
                CSTR_EQUAL &&
            (id.size() == length || id[length] == L'&'))
            return true;
        if (end == std::wstring::npos)
            break;
        at = end + 1;
    }
    return false;
}

// Whether a bootloader is connected now whose driver dfu-util cannot use: none at all, or
// another one such as the older DfuSe driver (STTub30). One bound to a usable service is left
// as it is.
bool bootloaderLacksDriver()
{
    HDEVINFO devices =
        SetupDiGetClassDevsW(nullptr, L"USB", nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE)
        return false;
    bool lacks = false;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
        if (!isBootloader(deviceProperty(devices, device, SPDRP_HARDWAREID)))
            continue;
        const std::wstring service = deviceProperty(devices, device, SPDRP_SERVICE).c_str();
        bool usable = false;
        for (const wchar_t *name : kUsableServices)
            usable =
                usable || CompareStringOrdinal(service.c_str(), -1, name, -1, TRUE) == CSTR_EQUAL;
        lacks = lacks || !usable;
    }
    SetupDiDestroyDeviceInfoList(devices);
    return lacks;
}

HKEY openRecord(REGSAM access, bool create)
{
    HKEY key = nullptr;
    const LSTATUS status =
        create ? RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRecordKey, 0, nullptr, 0,
                                 access | KEY_WOW64_64KEY, nullptr, &key, nullptr)
               : RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRecordKey, 0, access | KEY_WOW64_64KEY, &key);
    return status == ERROR_SUCCESS ? key : nullptr;
}

void record(const std::wstring &publishedName)
{
    if (HKEY key = openRecord(KEY_SET_VALUE, true)) {
        RegSetValueExW(key, kRecordValue, 0, REG_SZ,
                       reinterpret_cast<const BYTE *>(publishedName.c_str()),
                       DWORD((publishedName.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
}

std::wstring recorded()
{
    HKEY key = openRecord(KEY_QUERY_VALUE, false);
    if (!key)
        return {};
    wchar_t name[MAX_PATH] = {};
    DWORD size = sizeof name - sizeof(wchar_t);
    DWORD type = 0;
    const LSTATUS status =
        RegQueryValueExW(key, kRecordValue, nullptr, &type, reinterpret_cast<BYTE *>(name), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS && type == REG_SZ ? std::wstring(name) : std::wstring();
}

void forget()
{
    if (HKEY key = openRecord(KEY_SET_VALUE, false)) {
        RegDeleteValueW(key, kRecordValue);
        RegCloseKey(key);
    }
}

class cReport
{
public:
    explicit cReport(std::wstring outcomeFile) : m_outcomeFile(std::move(outcomeFile)) {}

    int operator()(eHelperOutcome outcome, const std::wstring &line) const
    {
        const std::string text = utf8(line) + '\n';
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
        if (!m_outcomeFile.empty()) {
            if (FILE *file = _wfopen(m_outcomeFile.c_str(), L"wb")) {
                std::fwrite(text.data(), 1, text.size(), file);
                std::fclose(file);
            }
        }
        return outcome;
    }

private:
    std::wstring m_outcomeFile;
};

int install(const cReport &report)
{
    if (onArm64())
        return report(eHelperArm64, L"Not installed: the driver package has no section for ARM64 "
                                    L"Windows; install WinUSB for USB 0483:DF11 by hand");
    const std::wstring folder = ownFolder() + L'\\' + kPackageFolder + L'\\';
    for (const wchar_t *name : {kInf, kCatalog}) {
        if (!fileExists(folder + name))
            return report(eHelperFilesMissing, std::wstring(L"Not installed: ") + kPackageFolder +
                                                   L'\\' + name + L" is missing beside " +
                                                   L"orvik-driver.exe; reinstall the updater");
    }
    if (!isAdministrator())
        return report(eHelperNoAdmin, L"Not installed: administrator rights are needed");

    const std::wstring inf = folder + kInf;
    wchar_t staged[MAX_PATH] = {};
    wchar_t *publishedName = nullptr;
    // With NOOVERWRITE, the package already in the store fails with ERROR_FILE_EXISTS: that
    // tells a package of ours from one somebody else staged before.
    bool added = SetupCopyOEMInfW(inf.c_str(), nullptr, SPOST_PATH, SP_COPY_NOOVERWRITE, staged,
                                  MAX_PATH, nullptr, &publishedName);
    if (added) {
        record(publishedName ? publishedName : staged);
    } else if (GetLastError() != ERROR_FILE_EXISTS) {
        return report(eHelperRefused, L"Not installed: Windows refused the driver package (error " +
                                          errorCode(GetLastError()) + L")");
    }

    if (bootloaderLacksDriver()) {
        BOOL reboot = FALSE;
        if (UpdateDriverForPlugAndPlayDevicesW(nullptr, kHardwareId, inf.c_str(), INSTALLFLAG_FORCE,
                                               &reboot))
            return report(eHelperInstalled,
                          std::wstring(L"Installed: the connected Orvik bootloader now uses "
                                       L"WinUSB") +
                              (reboot ? L"; restart Windows to finish" : L""));
        // The bootloader went away meanwhile: the package stays staged for its return.
        if (GetLastError() != ERROR_NO_SUCH_DEVINST)
            return report(eHelperRefused,
                          L"Not installed: Windows refused the driver for the connected "
                          L"bootloader (error " +
                              errorCode(GetLastError()) + L")");
    }
    if (added)
        return report(eHelperStaged, L"Staged: Windows uses the driver when the Orvik's "
                                     L"bootloader next appears");
    return report(eHelperAlreadyThere, L"Already there: the driver package was installed before");
}

int remove(const cReport &report)
{
    if (!isAdministrator())
        return report(eHelperNoAdmin, L"Not removed: administrator rights are needed");
    const std::wstring name = recorded();
    if (name.empty())
        return report(eHelperLeftInPlace,
                      L"Left in place: the driver package was not added by this program");
    if (!SetupUninstallOEMInfW(name.c_str(), 0, nullptr) && GetLastError() != ERROR_FILE_NOT_FOUND)
        return report(eHelperRefused, L"Not removed: Windows kept the driver package " + name +
                                          L" (error " + errorCode(GetLastError()) + L")");
    forget();
    return report(eHelperRemoved, L"Removed: the driver package " + name);
}
} // namespace

int wmain(int argc, wchar_t **argv)
{
    std::wstring outcomeFile;
    if (argc == 4 && std::wcscmp(argv[2], L"--outcome-file") == 0)
        outcomeFile = argv[3];
    const cReport report(outcomeFile);
    const std::wstring action = argc >= 2 && (argc == 2 || !outcomeFile.empty()) ? argv[1] : L"";
    if (action == L"install")
        return install(report);
    if (action == L"remove")
        return remove(report);
    return report(eHelperUsage, L"Usage: orvik-driver install|remove [--outcome-file FILE]");
}
