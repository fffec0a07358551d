// A renderer library that lacks its third entry, for the load-failure tests.
#include "tarvik.h"

extern "C" {
TARVIK_EXPORT int tarvik_new_instance(void** instance, void*) {
    *instance = nullptr;
    return -1;
}
TARVIK_EXPORT int tarvik_run_with_args(void*, int, char**) {
    return -1;
}
TARVIK_EXPORT int tarvik_delete_instance(void*) {
    return 0;
}
}
