// Lintrel entry point. The main window and the sessions are not built yet,
// so this says so instead of pretending to run.
#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::puts("usage: lintrel [configuration.qcf]");
        return 0;
    }
    std::fputs("lintrel: the main window and the sessions are not available in this build yet;\n"
               "the serial communications library (qelcomm6) and its tests are.\n", stderr);
    return 2;
}
