// Entry point of the desktop benchmarks: a QApplication (offscreen unless a
// display is set) must exist before any window is made.
#include <benchmark/benchmark.h>

#include <QTemporaryDir>

#include <cstdio>

#include "bench_gui_app.h"

#if defined(__linux__)
#include <sys/prctl.h>
#endif

namespace {
QTemporaryDir* gFolder = nullptr;  // main's, while the benchmarks run
}

QString BenchFile(const QString& name) {
    return gFolder->filePath(name);
}

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
#if defined(PR_SET_THP_DISABLE)
    // For comparing the huge-page hint with none: transparent huge pages off
    // for the whole process, whatever the hint asks.
    if (qEnvironmentVariableIntValue("KAVEL_BENCH_NO_THP") != 0 &&
        prctl(PR_SET_THP_DISABLE, 1, 0, 0, 0) != 0) {
        std::perror("PR_SET_THP_DISABLE");
        return 1;
    }
#endif
    BenchApplication();
    QTemporaryDir folder;
    if (!folder.isValid()) {
        std::fprintf(stderr, "cannot make a temporary folder\n");
        return 1;
    }
    gFolder = &folder;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
