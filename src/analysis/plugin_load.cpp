// Creates the plugin's one root when the library is loaded; the frame frees it at unload.
#include "analysis/root.h"

namespace {

bool CreateRoot() {
    try {
        InstallRoot(std::make_unique<TOrvaneRoot>());
        return true;
    } catch (...) {
        return false;  // the exports then answer as for an empty plugin
    }
}

const bool Created = CreateRoot();

}  // namespace
