// The table between X key symbols and virtual keys: letters and digits by their characters, the
// rest by name.
#include "platform/system/ui/x11/X11Keys.h"

namespace lumacap::ui {
namespace {

struct KeyPair {
    uint32_t keysym;
    UINT vk;
};

// Named keys; the first entry for a virtual key is the one pressed for it.
const KeyPair kKeys[] = {
    {0xff08, VK_BACK},       {0xff09, VK_TAB},      {0xfe20, VK_TAB},     // ISO_Left_Tab
    {0xff0b, VK_CLEAR},      {0xff0d, VK_RETURN},   {0xff8d, VK_RETURN},  // KP_Enter
    {0xff13, VK_PAUSE},      {0xff14, VK_SCROLL},   {0xff1b, VK_ESCAPE},    {0x0020, VK_SPACE},
    {0xff50, VK_HOME},       {0xff51, VK_LEFT},     {0xff52, VK_UP},        {0xff53, VK_RIGHT},
    {0xff54, VK_DOWN},       {0xff55, VK_PRIOR},    {0xff56, VK_NEXT},      {0xff57, VK_END},
    {0xff61, VK_SNAPSHOT},   {0xff63, VK_INSERT},   {0xff67, VK_APPS},      {0xff6a, VK_HELP},
    {0xff7f, VK_NUMLOCK},    {0xffff, VK_DELETE},   {0xffe1, VK_LSHIFT},    {0xffe2, VK_RSHIFT},
    {0xffe3, VK_LCONTROL},   {0xffe4, VK_RCONTROL}, {0xffe5, VK_CAPITAL},   {0xffe9, VK_LMENU},
    {0xffea, VK_RMENU},      {0xffe7, VK_LMENU},    {0xfe03, VK_RMENU},  // Meta_L, AltGr
    {0xffeb, VK_LWIN},       {0xffec, VK_RWIN},     {0xffaa, VK_MULTIPLY},  {0xffab, VK_ADD},
    {0xffac, VK_SEPARATOR},  {0xffad, VK_SUBTRACT}, {0xffae, VK_DECIMAL},   {0xffaf, VK_DIVIDE},
    {0xff95, VK_HOME},  // KP_Home
    {0x003b, VK_OEM_1},      {0x003d, VK_OEM_PLUS}, {0x002c, VK_OEM_COMMA}, {0x002d, VK_OEM_MINUS},
    {0x002e, VK_OEM_PERIOD}, {0x002f, VK_OEM_2},    {0x0060, VK_OEM_3},     {0x005b, VK_OEM_4},
    {0x005c, VK_OEM_5},      {0x005d, VK_OEM_6},    {0x0027, VK_OEM_7},
};

}  // namespace

UINT VirtualKeyOfKeysym(uint32_t keysym) {
    if (keysym >= 'a' && keysym <= 'z') return keysym - 'a' + 'A';
    if (keysym >= 'A' && keysym <= 'Z') return keysym;
    if (keysym >= '0' && keysym <= '9') return keysym;
    if (keysym >= 0xffb0 && keysym <= 0xffb9) return VK_NUMPAD0 + (keysym - 0xffb0);  // KP_0..9
    if (keysym >= 0xffbe && keysym <= 0xffd5) return VK_F1 + (keysym - 0xffbe);       // F1..F24
    for (const KeyPair& k : kKeys)
        if (k.keysym == keysym) return k.vk;
    return 0;
}

uint32_t KeysymOfVirtualKey(UINT vk) {
    if (vk >= 'A' && vk <= 'Z') return vk - 'A' + 'a';
    if (vk >= '0' && vk <= '9') return vk;
    if (vk >= VK_NUMPAD0 && vk <= VK_NUMPAD9) return 0xffb0 + (vk - VK_NUMPAD0);
    if (vk >= VK_F1 && vk <= VK_F24) return 0xffbe + (vk - VK_F1);
    // The generic keys press their left-hand key.
    if (vk == VK_SHIFT) vk = VK_LSHIFT;
    if (vk == VK_CONTROL) vk = VK_LCONTROL;
    if (vk == VK_MENU) vk = VK_LMENU;
    for (const KeyPair& k : kKeys)
        if (k.vk == vk) return k.keysym;
    return 0;
}

}  // namespace lumacap::ui
