// TEST: compares the identity records of the two named files, shows every field
// of both and ends with the verdict.
#include "diag/diag.h"

#include "platform/kernel/kernel.h"
#include "res/strings.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

// The handle's value as the signed 32-bit number the handle boxes show.
long HandleValue(HANDLE hFile) {
    return static_cast<long>(static_cast<LONG>(reinterpret_cast<std::intptr_t>(hFile)));
}

// Opens a file for attribute queries only: no access to its content, no sharing,
// and no flag that would admit a directory.
HANDLE OpenForAttributes(const char* pszPath) {
    return CreateFileA(pszPath, 0, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::uint64_t FileTimeValue(const FILETIME& ft) {
    return (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

// Shows one pair of time stamps as UTC calendar fields: the first file's on the
// first line, the second file's on the second. A stamp the conversion refuses
// leaves its line at eight zeros.
void ShowTimePair(const FILETIME& ft1, const FILETIME& ft2, Reporter& reporter) {
    SYSTEMTIME st1;
    SYSTEMTIME st2;
    std::memset(&st1, 0, sizeof st1);
    std::memset(&st2, 0, sizeof st2);
    FileTimeToSystemTime(&ft1, &st1);
    FileTimeToSystemTime(&ft2, &st2);
    std::snprintf(szMessage, sizeof szMessage, "%hu %hu %hu %hu %hu %hu %hu %hu\n%hu %hu %hu %hu %hu %hu %hu %hu",
                  st1.wYear, st1.wMonth, st1.wDayOfWeek, st1.wDay, st1.wHour, st1.wMinute, st1.wSecond,
                  st1.wMilliseconds, st2.wYear, st2.wMonth, st2.wDayOfWeek, st2.wDay, st2.wHour, st2.wMinute,
                  st2.wSecond, st2.wMilliseconds);
    reporter.ShowText(szMessage);
}

void ShowFieldPair(Text idFormat, DWORD dw1, DWORD dw2, Reporter& reporter) {
    std::snprintf(szMessage, sizeof szMessage, DialogText(idFormat), static_cast<unsigned long>(dw1),
                  static_cast<unsigned long>(dw2));
    reporter.ShowText(szMessage);
}

}  // namespace

// Compares the identity records of two files.
//   [in] firstPath, secondPath: the paths as typed, opened unchanged.
//   [in] reporter: shows every box.
// Returns 0 when the records agree in every field but the last-access time,
// 1 when the first path cannot be opened, 2 when the second cannot, 3 otherwise.
LONG CompareFileInfo(const char* firstPath, const char* secondPath, Reporter& reporter) {
    BY_HANDLE_FILE_INFORMATION bhfi1;
    BY_HANDLE_FILE_INFORMATION bhfi2;

    HANDLE hFile1 = OpenForAttributes(firstPath);
    std::snprintf(szMessage, sizeof szMessage, DialogText(Text::TestHandle1), HandleValue(hFile1));
    reporter.ShowText(szMessage);
    if (hFile1 == INVALID_HANDLE_VALUE) {
        reporter.SystemErrorIn(Text::TestCreate1);
        return 1;
    }
    std::memset(&bhfi1, 0x00, sizeof bhfi1);
    if (!GetFileInformationByHandle(hFile1, &bhfi1)) {
        reporter.SystemErrorIn(Text::TestInfo1);
    }
    CloseHandle(hFile1);

    HANDLE hFile2 = OpenForAttributes(secondPath);
    std::snprintf(szMessage, sizeof szMessage, DialogText(Text::TestHandle2), HandleValue(hFile2));
    reporter.ShowText(szMessage);
    if (hFile2 == INVALID_HANDLE_VALUE) {
        reporter.SystemErrorIn(Text::TestCreate2);
        return 2;
    }
    std::memset(&bhfi2, 0xFF, sizeof bhfi2);
    if (!GetFileInformationByHandle(hFile2, &bhfi2)) {
        reporter.SystemErrorIn(Text::TestInfo2);
    }
    CloseHandle(hFile2);

    ShowTimePair(bhfi1.ftCreationTime, bhfi2.ftCreationTime, reporter);
    ShowTimePair(bhfi1.ftLastAccessTime, bhfi2.ftLastAccessTime, reporter);
    ShowTimePair(bhfi1.ftLastWriteTime, bhfi2.ftLastWriteTime, reporter);

    ShowFieldPair(Text::TestAttributes, bhfi1.dwFileAttributes, bhfi2.dwFileAttributes, reporter);
    ShowFieldPair(Text::TestVolume, bhfi1.dwVolumeSerialNumber, bhfi2.dwVolumeSerialNumber, reporter);
    ShowFieldPair(Text::TestSizeHigh, bhfi1.nFileSizeHigh, bhfi2.nFileSizeHigh, reporter);
    ShowFieldPair(Text::TestSizeLow, bhfi1.nFileSizeLow, bhfi2.nFileSizeLow, reporter);
    ShowFieldPair(Text::TestLinks, bhfi1.nNumberOfLinks, bhfi2.nNumberOfLinks, reporter);
    ShowFieldPair(Text::TestIndexHigh, bhfi1.nFileIndexHigh, bhfi2.nFileIndexHigh, reporter);
    ShowFieldPair(Text::TestIndexLow, bhfi1.nFileIndexLow, bhfi2.nFileIndexLow, reporter);

    // The record has no padding, so equal bytes mean equal fields.
    if (std::memcmp(&bhfi1, &bhfi2, sizeof bhfi1) == 0) return 0;
    // The last-access time changes with every read and says nothing about
    // identity: it is the one field left out here.
    if (FileTimeValue(bhfi1.ftCreationTime) != FileTimeValue(bhfi2.ftCreationTime)) return 3;
    if (FileTimeValue(bhfi1.ftLastWriteTime) != FileTimeValue(bhfi2.ftLastWriteTime)) return 3;
    if (bhfi1.dwFileAttributes != bhfi2.dwFileAttributes) return 3;
    if (bhfi1.dwVolumeSerialNumber != bhfi2.dwVolumeSerialNumber) return 3;
    if (bhfi1.nFileSizeHigh != bhfi2.nFileSizeHigh) return 3;
    if (bhfi1.nFileSizeLow != bhfi2.nFileSizeLow) return 3;
    if (bhfi1.nNumberOfLinks != bhfi2.nNumberOfLinks) return 3;
    if (bhfi1.nFileIndexHigh != bhfi2.nFileIndexHigh) return 3;
    if (bhfi1.nFileIndexLow != bhfi2.nFileIndexLow) return 3;
    return 0;
}

// TEST: compares the two files and ends with the verdict.
void TestFiles(const char* szSrcFile, const char* szDstFile, Reporter& reporter) {
    reporter.Message(CompareFileInfo(szSrcFile, szDstFile, reporter) != 0 ? Text::Different : Text::Same);
}
