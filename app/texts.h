// The dialog's own texts that are not part of the template.
#pragma once

namespace texts {

inline constexpr const char* kSuccess = "success";
inline constexpr const char* kFilterList = "ｻｳﾝﾄﾞ(*.WAV)\0*.WAV\0全ファイル(*.*)\0*.*\0";
inline constexpr const char* kSourcePickerTitle = "変換元ファイル";
inline constexpr const char* kDestinationPickerTitle = "変換先ファイル";
// A path field longer than a path can be: refused rather than cut.
inline constexpr const char* kPathTooLong = "パスが長すぎます（%d バイトまで）。";
// Execute while the format block could not be allocated.
inline constexpr const char* kNoFormatBlock = "変換先フォーマットを用意できません。";

// System-error reports, by code.
inline constexpr const char* kFileNotFound = "%s: file not found";
inline constexpr const char* kPathNotFound = "%s: path not found";
inline constexpr const char* kSharingViolation = "%s: shareing violation";
inline constexpr const char* kOtherError = "%s: error=%ld";
inline constexpr const char* kFailedCheck = "Assertion failed: %s, file %s, line %d";

}  // namespace texts
