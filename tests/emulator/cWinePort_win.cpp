#include "cWinePort.h"

#include <windows.h>

namespace {
const wchar_t kDevice[] = L"System\\CurrentControlSet\\Enum\\USB\\VID_0483&PID_5740\\ORVIK0001";
const wchar_t kParameters[] =
    L"System\\CurrentControlSet\\Enum\\USB\\VID_0483&PID_5740\\ORVIK0001\\Device Parameters";

bool setText(const wchar_t *key, const wchar_t *name, const wchar_t *value)
{
    HKEY handle = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle,
                        nullptr) != ERROR_SUCCESS)
        return false;
    const auto bytes = DWORD((wcslen(value) + 1) * sizeof(wchar_t));
    const bool set = RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value),
                                    bytes) == ERROR_SUCCESS;
    RegCloseKey(handle);
    return set;
}
} // namespace

// A port left by a test that was killed would pass for the Orvik in every later one.
cWinePort::cWinePort()
{
    unlist();
}

cWinePort::~cWinePort()
{
    unlist();
}

bool cWinePort::list()
{
    // The ports class, as the serial driver registers its devices.
    return setText(kDevice, L"ClassGUID", L"{4D36E978-E325-11CE-BFC1-08002BE10318}") &&
           setText(kDevice, L"DeviceDesc", L"USB Serial Device") &&
           setText(kParameters, L"PortName", L"COM5");
}

void cWinePort::unlist()
{
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kDevice);
}
