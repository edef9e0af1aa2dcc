// The keyboard: key events become WM_KEYDOWN/WM_KEYUP (WM_SYSKEY... with Alt) for the focus
// window, the key state each thread sees, and TranslateMessage's characters (a US layout).
#include <cstring>

#include "platform/system/ui/Input.h"
#include "platform/system/ui/User.h"
#include "platform/system/ui/UserInternal.h"

namespace lumacap::ui {
namespace {

UINT GenericKey(UINT vk) {
    switch (vk) {
        case VK_LSHIFT:
        case VK_RSHIFT:
            return VK_SHIFT;
        case VK_LCONTROL:
        case VK_RCONTROL:
            return VK_CONTROL;
        case VK_LMENU:
        case VK_RMENU:
            return VK_MENU;
        default:
            return vk;
    }
}

bool Down(const BYTE* keys, UINT vk) {
    return (keys[vk] & 0x80) != 0;
}

// The character a key makes with the shift state given, on a US keyboard; 0 for none.
char CharacterOf(UINT vk, const BYTE* keys) {
    const bool shift = Down(keys, VK_SHIFT), control = Down(keys, VK_CONTROL);
    const bool caps = (keys[VK_CAPITAL] & 1) != 0, numLock = (keys[VK_NUMLOCK] & 1) != 0;
    if (vk >= 'A' && vk <= 'Z') {
        if (control && !Down(keys, VK_MENU)) return static_cast<char>(vk - 'A' + 1);
        return static_cast<char>((shift != caps) ? vk : vk - 'A' + 'a');
    }
    if (control) {
        switch (vk) {
            case VK_RETURN:
                return '\n';
            case VK_BACK:
                return 0x7F;
            case VK_ESCAPE:
                return 0x1B;
            case VK_OEM_4:
                return 0x1B;
            case VK_OEM_5:
                return 0x1C;
            case VK_OEM_6:
                return 0x1D;
            default:
                return 0;
        }
    }
    if (vk >= '0' && vk <= '9') return shift ? ")!@#$%^&*("[vk - '0'] : static_cast<char>(vk);
    if (vk >= VK_NUMPAD0 && vk <= VK_NUMPAD9)
        return numLock ? static_cast<char>('0' + vk - VK_NUMPAD0) : 0;
    struct Pair {
        UINT vk;
        char plain, shifted;
    };
    static const Pair kKeys[] = {
        {VK_SPACE, ' ', ' '},      {VK_RETURN, '\r', '\r'},  {VK_BACK, '\b', '\b'},
        {VK_TAB, '\t', '\t'},      {VK_ESCAPE, 0x1B, 0x1B},  {VK_OEM_1, ';', ':'},
        {VK_OEM_PLUS, '=', '+'},   {VK_OEM_COMMA, ',', '<'}, {VK_OEM_MINUS, '-', '_'},
        {VK_OEM_PERIOD, '.', '>'}, {VK_OEM_2, '/', '?'},     {VK_OEM_3, '`', '~'},
        {VK_OEM_4, '[', '{'},      {VK_OEM_5, '\\', '|'},    {VK_OEM_6, ']', '}'},
        {VK_OEM_7, '\'', '"'},     {VK_MULTIPLY, '*', '*'},  {VK_ADD, '+', '+'},
        {VK_SUBTRACT, '-', '-'},   {VK_DIVIDE, '/', '/'},    {VK_DECIMAL, '.', '.'},
    };
    for (const Pair& p : kKeys)
        if (p.vk == vk) return shift ? p.shifted : p.plain;
    return 0;
}

}  // namespace

void KeyEvent(UINT vk, bool down, UINT scanCode, bool extended) {
    if (vk == 0 || vk > 0xFE) return;
    const UINT generic = GenericKey(vk);
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    const bool wasDown = Down(u.asyncKeys, generic);
    for (UINT k : {vk, generic}) {
        if (down) {
            if (!Down(u.asyncKeys, k))
                u.asyncKeys[k] = static_cast<BYTE>((u.asyncKeys[k] ^ 1) | 0x80);
        } else {
            u.asyncKeys[k] &= 0x01;
        }
    }
    // Keys go to the focus window; with no focus, to the active window as system keys.
    Window* w = u.FindL(u.focus);
    const bool noFocus = !w;
    if (!w) w = u.FindL(u.active);
    if (!w || !w->Local()) return;
    const bool alt = Down(u.asyncKeys, VK_MENU);
    const bool system =
        noFocus || vk == VK_F10 || generic == VK_MENU || (alt && !Down(u.asyncKeys, VK_CONTROL));
    const UINT message =
        down ? (system ? WM_SYSKEYDOWN : WM_KEYDOWN) : (system ? WM_SYSKEYUP : WM_KEYUP);
    LPARAM lp = 1 | (static_cast<LPARAM>(scanCode & 0xFF) << 16);
    if (extended) lp |= 1 << 24;
    if (alt) lp |= 1 << 29;
    if (wasDown || !down) lp |= 1 << 30;
    if (!down) lp |= static_cast<LPARAM>(1u << 31);
    MSG m{w->handle, message, generic, lp, GetTickCount(), u.cursorPos};
    w->queue->input.push_back(InputMessage{m, HTCLIENT, u.cursorPos, 0, vk != generic ? vk : 0});
    w->queue->Wake(QS_KEY);
}

}  // namespace lumacap::ui

using namespace lumacap::ui;

SHORT WINAPI GetKeyState(int nVirtKey) {
    if (nVirtKey <= 0 || nVirtKey > 0xFE) return 0;
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    const BYTE k = u.CurrentQueueL()->keys[nVirtKey];
    // Down: the high bit of the (negative) short; toggled: the low bit.
    return static_cast<SHORT>(((k & 0x80) ? 0xFF80 : 0) | (k & 1));
}

SHORT WINAPI GetAsyncKeyState(int vKey) {
    if (vKey <= 0 || vKey > 0xFE) return 0;
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    return static_cast<SHORT>((u.asyncKeys[vKey] & 0x80) ? 0x8000 : 0);
}

BOOL WINAPI TranslateMessage(const MSG* lpMsg) {
    if (!lpMsg || (lpMsg->message != WM_KEYDOWN && lpMsg->message != WM_SYSKEYDOWN)) return FALSE;
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    auto q = u.CurrentQueueL();
    const char ch = CharacterOf(static_cast<UINT>(lpMsg->wParam), q->keys);
    if (ch) {
        // The character is the next message the thread gets.
        const UINT message = lpMsg->message == WM_SYSKEYDOWN ? WM_SYSCHAR : WM_CHAR;
        q->posted.push_front(MSG{lpMsg->hwnd, message,
                                 static_cast<WPARAM>(static_cast<unsigned char>(ch)), lpMsg->lParam,
                                 lpMsg->time, lpMsg->pt});
        q->Wake(QS_POSTMESSAGE);
    }
    return TRUE;
}
