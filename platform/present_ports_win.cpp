// The COM ports Windows has: the registry's SERIALCOMM key lists every port a driver has made;
// SetupAPI adds, where it knows the device, its description, maker, USB ids and serial number.
#include <windows.h>
// initguid.h before devguid.h defines the device class GUIDs here instead of naming them.
#include <devguid.h>
#include <initguid.h>
#include <setupapi.h>

#include <algorithm>
#include <cstdlib>
#include <cwctype>
#include <string>

#include "platform/port_names.h"

namespace quenlo {
namespace {

std::string Utf8(const std::wstring& wide) {
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), length,
                        nullptr, nullptr);
    return text;
}

std::wstring Property(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
    wchar_t value[512] = {};
    if (!SetupDiGetDeviceRegistryPropertyW(set, &device, property, nullptr,
                                           reinterpret_cast<BYTE*>(value), sizeof value - 2,
                                           nullptr)) {
        return {};
    }
    return value;  // of a list (hardware ids), the first names the device most closely
}

// "USB\VID_0403&PID_6001&REV_0600": the four hex digits after the key, if any.
std::optional<std::uint16_t> HexAfter(const std::wstring& id, const wchar_t* key) {
    std::wstring upper = id;
    std::transform(upper.begin(), upper.end(), upper.begin(), ::towupper);
    const auto at = upper.find(key);
    if (at == std::wstring::npos || at + 4 + std::wcslen(key) > upper.size()) {
        return std::nullopt;
    }
    const std::wstring digits = upper.substr(at + std::wcslen(key), 4);
    wchar_t* end = nullptr;
    const unsigned long value = std::wcstoul(digits.c_str(), &end, 16);
    return end == digits.c_str() + 4 ? std::optional<std::uint16_t>(value) : std::nullopt;
}

// "COM3" before "COM10": by the number after the letters.
bool ComOrder(const SerialPortFacts& a, const SerialPortFacts& b) {
    const auto number = [](const std::string& name) {
        const auto digit = name.find_first_of("0123456789");
        return digit == std::string::npos ? 0 : std::atoi(name.c_str() + digit);
    };
    return number(a.device) != number(b.device) ? number(a.device) < number(b.device)
                                                : a.device < b.device;
}

void AddDeviceFacts(std::vector<SerialPortFacts>& ports) {
    HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) {
        return;
    }
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE) {
            continue;
        }
        wchar_t name[64] = {};
        DWORD size = sizeof name - 2;
        const bool named = RegQueryValueExW(key, L"PortName", nullptr, nullptr,
                                            reinterpret_cast<BYTE*>(name), &size) == ERROR_SUCCESS;
        RegCloseKey(key);
        const auto port = std::find_if(ports.begin(), ports.end(), [&](const SerialPortFacts& p) {
            return named && _stricmp(p.device.c_str(), Utf8(name).c_str()) == 0;
        });
        if (port == ports.end()) {
            continue;
        }
        std::wstring description = Property(set, device, SPDRP_FRIENDLYNAME);
        port->description =
            Utf8(description.empty() ? Property(set, device, SPDRP_DEVICEDESC) : description);
        port->manufacturer = Utf8(Property(set, device, SPDRP_MFG));
        const std::wstring hardware = Property(set, device, SPDRP_HARDWAREID);
        port->vendorId = HexAfter(hardware, L"VID_");
        port->productId = HexAfter(hardware, L"PID_");
        wchar_t instance[512] = {};
        if (port->vendorId && SetupDiGetDeviceInstanceIdW(set, &device, instance, 511, nullptr)) {
            // USB\VID_0403&PID_6001\A600XYZ: the last part is the adapter's serial number.
            const std::wstring id = instance;
            port->serialNumber = Utf8(id.substr(id.find_last_of(L'\\') + 1));
        }
    }
    SetupDiDestroyDeviceInfoList(set);
}

}  // namespace

std::vector<SerialPortFacts> PresentPorts() {
    std::vector<SerialPortFacts> ports;
    HKEY key = nullptr;
    const bool registered = RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0,
                                          KEY_READ, &key) == ERROR_SUCCESS;
    for (DWORD i = 0; registered; ++i) {
        wchar_t name[256];
        wchar_t data[256] = {};
        DWORD nameLength = 256;
        DWORD dataSize = sizeof data - 2;
        DWORD type = 0;
        if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data),
                          &dataSize) != ERROR_SUCCESS) {
            break;
        }
        if (type == REG_SZ && data[0] != L'\0') {
            ports.push_back(SerialPortFacts{Utf8(data)});
        }
    }
    if (registered) {
        RegCloseKey(key);
    }
    std::sort(ports.begin(), ports.end(), ComOrder);
    AddDeviceFacts(ports);
    return ports;
}

}  // namespace quenlo
