// The one QApplication of the desktop benchmarks, made by their main.
#pragma once

#include <QApplication>

QApplication& BenchApplication();
