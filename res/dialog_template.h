// Dialog templates as data: caption, font, origin and size in dialog units, and
// the controls in order (the order is also the tab order).
#pragma once

#include "platform/wintypes.h"

#include <span>

enum class ControlKind { Static, Edit, Button };

// Window and control styles the templates use.
constexpr DWORD WS_POPUP = 0x80000000u;
constexpr DWORD WS_VISIBLE = 0x10000000u;
constexpr DWORD WS_CAPTION = 0x00C00000u;
constexpr DWORD WS_SYSMENU = 0x00080000u;
constexpr DWORD WS_GROUP = 0x00020000u;
constexpr DWORD WS_TABSTOP = 0x00010000u;
constexpr DWORD WS_BORDER = 0x00800000u;
constexpr DWORD DS_MODALFRAME = 0x80u;
constexpr DWORD DS_SETFONT = 0x40u;
constexpr DWORD SS_LEFT = 0x0u;
constexpr DWORD ES_AUTOHSCROLL = 0x80u;
constexpr DWORD BS_PUSHBUTTON = 0x0u;

struct ControlTemplate {
    int id;
    ControlKind kind;
    DWORD style;
    const char* text;  // UTF-8; '&' marks the mnemonic
    short x, y, cx, cy;
};

struct DialogTemplate {
    const char* name;
    const char* caption;
    const char* fontName;
    int pointSize;
    DWORD style;
    short x, y, cx, cy;
    std::span<const ControlTemplate> controls;
};

// The template of that name, or null.
const DialogTemplate* FindDialogTemplate(const char* name);
