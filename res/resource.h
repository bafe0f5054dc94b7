// Control ids of the main dialog.
#pragma once

constexpr int IDC_STATIC = -1;
constexpr int IDC_SRCFILE = 101;
constexpr int IDC_SRCBROWSE = 102;
constexpr int IDC_SRCFORMAT = 103;
constexpr int IDC_DSTFILE = 104;
constexpr int IDC_DSTBROWSE = 105;
constexpr int IDC_DSTFORMAT = 106;
constexpr int IDC_CHOOSEFORMAT = 107;
constexpr int IDC_TEST = 108;
constexpr int IDC_COPY = 109;
constexpr int IDC_CPY2 = 110;
