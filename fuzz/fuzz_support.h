// Shared pieces of the fuzz targets: a silent window backend that keeps the
// label text, and a scratch file to hand arbitrary bytes to the file readers.
#pragma once

#include "platform/window/window.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzzing {

// Message boxes are counted, not shown; the source-format label is kept.
class SilentBackend final : public WindowBackend {
public:
    INT_PTR RunDialog(const DialogTemplate&, DLGPROC, LPARAM) override { return -1; }
    HWND ControlHandle(HWND, int id) override { return reinterpret_cast<HWND>(static_cast<std::intptr_t>(id)); }
    std::string ControlText(HWND) override { return label; }
    bool SetControlText(HWND, std::string_view text) override {
        label = text;
        return true;
    }
    HWND SetFocus(HWND) override { return nullptr; }
    void EndDialog(HWND, INT_PTR) override {}
    void MessageBox(HWND, std::string_view, std::string_view, UINT) override { ++boxes; }
    std::optional<std::string> PickFile(const FilePickerRequest&) override { return std::nullopt; }
    std::optional<FormatChoice> ChooseFormat(HWND, const FormatChooserModel&) override { return std::nullopt; }

    std::string label;
    int boxes = 0;
};

// A per-process scratch folder (under TMPDIR, or /dev/shm when it exists).
const std::string& ScratchDir();

// Writes the bytes to a scratch file and returns its path.
std::string WriteScratch(const char* name, const std::uint8_t* data, std::size_t size);

// The fuzz entry points, one per target.
int FuzzRiff(const std::uint8_t* data, std::size_t size);
int FuzzConvert(const std::uint8_t* data, std::size_t size);
int FuzzCodec(const std::uint8_t* data, std::size_t size);

}  // namespace fuzzing
