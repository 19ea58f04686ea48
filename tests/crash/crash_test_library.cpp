// A shared library the crash tests load and unload, and whose frame sits in the middle of
// a stack they unwind.
#include <cstdint>

extern "C" __attribute__((visibility("default"), noinline)) int crash_test_library_call(int (*callback)(void*),
                                                                                        void* context) {
  volatile int depth = 1;
  return callback(context) + depth;
}
