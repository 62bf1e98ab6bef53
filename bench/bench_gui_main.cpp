// Entry point of the desktop benchmarks: a QApplication (offscreen unless a
// display is set) must exist before any window is made.
#include <benchmark/benchmark.h>

#include "bench_gui_app.h"

QApplication& BenchApplication() {
    static int argc = 1;
    static char name[] = "kavel_bench_gui";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    static QApplication app(argc, argv);
    return app;
}

int main(int argc, char** argv) {
    BenchApplication();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
