// Entry point: the application object, every window, the event loop.
#include <QString>
#include <cstdio>
#include <exception>

#include "kavelapplication.h"

int main(int argc, char** argv) {
    // The guard covers start-up and the loop; whatever escapes is shown and
    // the program still ends normally.
    try {
        KavelApplication app(argc, argv);
        try {
            const ApplicationWindows windows = CreateApplicationWindows();
            KavelApplication::exec();
        } catch (const std::exception& error) {
            ShowException(QString::fromLocal8Bit(error.what()));
        } catch (...) {
            ShowException(QString());
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kavel: %s\n", error.what());
    } catch (...) {
        std::fprintf(stderr, "kavel: unknown error\n");
    }
    return 0;
}
