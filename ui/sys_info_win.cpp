#include <windows.h>

#include <QProcess>
#include <QString>
#include <filesystem>
#include <string>

#include "ui/sys_info.h"

namespace quenlo {

namespace {

constexpr DWORD kKeyAccess = 0x2003F;  // KEY_ALL_ACCESS
constexpr DWORD kBufferSize = 1024;

}  // namespace

// Reads a string value of a registry key; false, with keyValue emptied, when it cannot.
bool GetKeyValue(HKEY keyRoot, const std::string& keyName, const std::string& subKeyRef,
                 std::string& keyValue) {
    keyValue.clear();
    HKEY key = nullptr;
    if (RegOpenKeyExA(keyRoot, keyName.c_str(), 0, kKeyAccess, &key) != ERROR_SUCCESS) {
        return false;
    }
    char buffer[kBufferSize] = {};
    DWORD size = kBufferSize;
    DWORD type = 0;
    const LONG status = RegQueryValueExA(key, subKeyRef.c_str(), nullptr, &type,
                                         reinterpret_cast<LPBYTE>(buffer), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
        return false;
    }
    std::string text(buffer, size);
    if (!text.empty() && text.back() == '\0') {
        text.pop_back();
    }
    if (type == REG_SZ) {
        keyValue = text;
    }
    return true;
}

void StartSysInfo(const std::function<void()>& unavailable) {
    try {
        std::string path;
        if (GetKeyValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO", "PATH",
                        path)) {
            QProcess::startDetached(QString::fromLocal8Bit(path.c_str()), {});
            return;
        }
        if (GetKeyValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Shared Tools Location", "MSINFO",
                        path)) {
            const std::string program = path + "\\MSINFO32.EXE";
            if (std::filesystem::exists(program)) {
                QProcess::startDetached(QString::fromLocal8Bit(program.c_str()), {});
                return;
            }
        }
    } catch (...) {
    }
    unavailable();
}

}  // namespace quenlo
