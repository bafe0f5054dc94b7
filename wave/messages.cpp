#include "wave/messages.h"

#include <array>

namespace {

constexpr std::array<const char*, static_cast<int>(WaveMessage::Count)> kTexts = {
    "disk full",
    "入力ファイルを読み込めないため、変換を中止しました。",
    "出力ファイルが 4 GiB を超えるため、変換を中止しました。",
    "この形式には変換できません。(エラー %u)",
    "変換に失敗したため、変換を中止しました。(エラー %u)",
    "変換バッファの大きさを決められないため、変換を中止しました。",
    "メモリが足りないため、変換を中止しました。",
    "出力ファイルの書き込み",
    "出力ファイルの置き換え",
};

}  // namespace

const char* WaveMessageText(WaveMessage id) {
    const auto index = static_cast<std::size_t>(id);
    return index < kTexts.size() ? kTexts[index] : "";
}
