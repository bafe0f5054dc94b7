// The main dialog "WAVTRN".
#include "res/dialog_template.h"
#include "res/resource.h"

#include <array>
#include <cstring>

namespace {

constexpr DWORD kStatic = SS_LEFT | WS_GROUP;
constexpr DWORD kEdit = WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL;
constexpr DWORD kButton = BS_PUSHBUTTON | WS_TABSTOP;

constexpr std::array<ControlTemplate, 13> kMainControls{{
    {IDC_STATIC, ControlKind::Static, kStatic, "変換元ﾌｧｲﾙ(&O)", 8, 10, 59, 8},
    {IDC_SRCFILE, ControlKind::Edit, kEdit, "", 64, 8, 123, 12},
    {IDC_SRCBROWSE, ControlKind::Button, kButton, "参照(&B)", 189, 6, 40, 14},
    {IDC_SRCFORMAT, ControlKind::Static, kStatic, "変換元フォーマット", 17, 25, 211, 8},
    {IDC_STATIC, ControlKind::Static, kStatic, "変換先ﾌｧｲﾙ(&T)", 6, 39, 53, 8},
    {IDC_DSTFILE, ControlKind::Edit, kEdit, "", 61, 37, 122, 12},
    {IDC_DSTBROWSE, ControlKind::Button, kButton, "参照", 189, 36, 40, 14},
    {IDC_DSTFORMAT, ControlKind::Static, kStatic, "変換先フォーマット", 20, 57, 204, 8},
    {IDC_CHOOSEFORMAT, ControlKind::Button, kButton, "フォーマット選択(&F)", 5, 70, 102, 14},
    {IDC_TEST, ControlKind::Button, kButton, "TEST", 112, 70, 20, 14},
    {IDC_COPY, ControlKind::Button, kButton, "COPY", 137, 70, 20, 14},
    {IDC_CPY2, ControlKind::Button, kButton, "CPY2", 162, 70, 20, 14},
    {1, ControlKind::Button, kButton, "実行", 188, 70, 40, 14},
}};

constexpr DialogTemplate kMainDialog{
    "WAVTRN",
    "WAVTRN",
    "System",
    12,
    WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT,
    6, 18, 234, 90,
    kMainControls,
};

}  // namespace

const DialogTemplate* FindDialogTemplate(const char* name) {
    if (name != nullptr && std::strcmp(name, kMainDialog.name) == 0) return &kMainDialog;
    return nullptr;
}
