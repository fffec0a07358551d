// Debugging program: passes its own arguments through the library's four
// entries, as the converter does, and exits with the run's result.
#include "tarvik.h"

#include <cstdio>

int main(int argc, char** argv) {
    void* instance = nullptr;
    int result = tarvik_new_instance(&instance, nullptr);
    if (result < 0) {
        std::fprintf(stderr, "tarvik: cannot create an instance (%d)\n", result);
        return 1;
    }
    if (result == 0) result = tarvik_run_with_args(instance, argc, argv);
    tarvik_exit(instance);
    tarvik_delete_instance(instance);
    if (result != 0) std::fprintf(stderr, "tarvik: result %d\n", result);
    return result == 0 ? 0 : 1;
}
