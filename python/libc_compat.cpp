// The statically linked C++ runtime reads glibc's `__libc_single_threaded` (a variable that
// glibc 2.32 introduced) to skip atomic reference counting while a process has one thread.
// Linking with -Wl,--wrap=__libc_single_threaded sends those reads here instead, so that the
// module loads on glibc from 2.17 on. The flag always says "there may be other threads": the
// atomic path, which is correct whatever the process does, is simply always taken.
extern "C" {
__attribute__((visibility("hidden"))) char __wrap___libc_single_threaded = 0;
}
