// Conversions between Qt's types and the core's: file paths, error text and
// the integer an edit box holds.
#pragma once

#include <QString>
#include <cstdint>
#include <filesystem>

#include "kavel/expected.h"

std::filesystem::path ToPath(const QString& name);
QString FromPath(const std::filesystem::path& path);
QString ErrorText(const kavel::Error& error);
// The integer an edit box's text stands for, by the core's text-to-integer rule.
std::int32_t EditValue(const QString& text);
