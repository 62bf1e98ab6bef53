# The sources of the kavelcli library, which needs no Qt: shared by the
# command line and the Python module.
set(KAVEL_CLI_SOURCES
    args.cpp
    batch.cpp
    commandchecks.cpp
    commands.cpp
    help.cpp
    imagefiles.cpp
    importhelper.cpp
    measure.cpp
    names.cpp
    plan.cpp
    suggest.cpp
    tables.cpp)
