// Entry point on Linux: the arguments are taken as UTF-8 bytes.
#include "probe.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    return wdxprobe::Run(args, std::cout, std::cerr);
}
