// The text of a status code, shared by the camera and the recorder.
#include <lumacap/DXCamera.h>

CString GetErrorCodeText(DWORD code) {
    const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS;
    char* buffer = nullptr;
    DWORD length = FormatMessageA(flags | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, 0,
                                  reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
    if (length == 0) {
        // Network error codes live in their own message module.
        if (HMODULE netmsg = LoadLibraryExA("netmsg.dll", nullptr, DONT_RESOLVE_DLL_REFERENCES)) {
            length = FormatMessageA(flags | FORMAT_MESSAGE_FROM_HMODULE, netmsg, code, 0,
                                    reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
            FreeLibrary(netmsg);
        }
    }
    if (length != 0 && buffer) {
        CString text(buffer, static_cast<int>(length));
        LocalFree(buffer);
        return text;
    }
    if (buffer) LocalFree(buffer);
    return CString("未知的错误");
}
