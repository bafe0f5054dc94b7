// The codec service's format chooser as a Qt dialog: a format-tag list, the
// formats of the chosen tag with their data rates, OK and cancel.
#pragma once

#include "platform/window/window.h"

#include <QString>

#include <optional>

class QWidget;

// "172 KB/秒": the data rate in kilobytes (1024 bytes) per second, rounded.
QString FormatRateText(DWORD avgBytesPerSec);

// Runs the chooser modally over owner (may be null); opens on the model's
// default tag and format. Returns the chosen indices, or nullopt on cancel.
std::optional<FormatChoice> RunFormatChooser(QWidget* owner, const FormatChooserModel& model);
