#include <cstring>
#include <iostream>

#include "core/uVersion.h"

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
        std::cout << egaiss::AgentVersion << "\n";
        return 0;
    }
    std::cout << "Usage: VelmoraEgaissAgent [--version]\n";
    return 0;
}
