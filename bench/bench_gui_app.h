// The one QApplication of the desktop benchmarks, made by their main.
#pragma once

#include <QApplication>

QApplication& BenchApplication();

// A file in the benchmarks' own temporary folder, which main removes before
// it returns.
QString BenchFile(const QString& name);
