// Conversions between Qt's types and the core's: file paths and error text.
#pragma once

#include <QString>
#include <filesystem>

#include "kavel/expected.h"

std::filesystem::path ToPath(const QString& name);
QString FromPath(const std::filesystem::path& path);
QString ErrorText(const kavel::Error& error);
