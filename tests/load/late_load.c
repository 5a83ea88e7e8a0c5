/* A program that links none of the libraries loads the bindings after it has
 * started, the way a plug-in host or a scripting language would. The runtime
 * comes in with them, so its thread-local storage must fit what the loader
 * can still find room for in a running process.
 *
 *   late_load LIBRARY SYMBOL
 *
 * Exits 0 when LIBRARY loads (its types register while it loads) and exports
 * SYMBOL; otherwise prints why and exits 1. */
#include <dlfcn.h>
#include <stdio.h>

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: late_load LIBRARY SYMBOL\n");
    return 2;
  }
  void* handle = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    fprintf(stderr, "late_load: %s\n", dlerror());
    return 1;
  }
  if (!dlsym(handle, argv[2])) {
    fprintf(stderr, "late_load: %s has no %s\n", argv[1], argv[2]);
    return 1;
  }
  printf("late_load: loaded %s\n", argv[1]);
  return 0;
}
