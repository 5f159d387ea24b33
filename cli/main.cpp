// qbftp: the command-line front end over Quillbeck's core.
#include <cstring>
#include <iostream>

namespace {

void PrintUsage(std::ostream& out) {
    out << "Usage: qbftp [OPTIONS] COMMAND [ARGS]\n"
           "\n"
           "Quillbeck's FTP client for scripts.\n"
           "\n"
           "Options:\n"
           "  --help       show this help and exit\n"
           "  --version    show the version and exit\n"
           "\n"
           "Commands come with the engine's transfer support.\n";
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        PrintUsage(std::cerr);
        return 2;
    }
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            PrintUsage(std::cout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::cout << "qbftp " << QB_VERSION << "\n";
            return 0;
        }
    }
    std::cerr << "qbftp: unknown command '" << argv[1] << "' (try --help)\n";
    return 2;
}
