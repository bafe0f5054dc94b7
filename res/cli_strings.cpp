#include "res/cli_strings.h"

#include "res/printf_check.h"

#include <iterator>

namespace {

constexpr int kCount = static_cast<int>(CliText::Count);
static_assert(std::size(cli_texts::kRows) == kCount, "every text id has its row");

constexpr bool RowsInIdOrderTakingWhatTheyDeclare() {
    for (int i = 0; i < kCount; ++i) {
        if (static_cast<int>(cli_texts::kRows[i].id) != i) return false;
        if (!textcheck::ConversionsMatch(cli_texts::kRows[i].text, cli_texts::kRows[i].takes)) return false;
    }
    return true;
}
static_assert(RowsInIdOrderTakingWhatTheyDeclare(),
              "rows stand in the order of their ids, each text's printf conversions those its row declares");

}  // namespace

const char* CliWords(CliText id) {
    const int index = static_cast<int>(id);
    return index >= 0 && index < kCount ? cli_texts::kRows[index].text : "";
}
