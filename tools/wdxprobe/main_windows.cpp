// Entry point on Windows: UTF-16 arguments (wmain, linked with -municode), turned into UTF-8.
// The standard streams are switched to binary so that the output is the same bytes as on
// Linux, line ends included.
#include "probe.h"
#include "text.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cwchar>
#include <iostream>
#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::u16string arg(argv[i], argv[i] + std::wcslen(argv[i]));
        args.push_back(wdxprobe::Utf16ToUtf8(arg));
    }
    return wdxprobe::Run(args, std::cout, std::cerr);
}
