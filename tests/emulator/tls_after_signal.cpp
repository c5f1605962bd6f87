// Checks the emulator that runs the i386 test programs and JVMs: a thread
// that handles a signal must come back on its own thread pointer. An
// emulator that keeps one descriptor table for all threads reloads, on the
// handler's return, the thread pointer of the thread created last; every
// fault that a JVM handles (an implicit null check, a safepoint poll) would
// then leave that thread on another's Thread* and JNIEnv, and the JVM would
// fail in ways that look like faults of ours. Exits 1, naming the thread, if
// the thread pointer changed.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <thread>

namespace {

thread_local int marker;
std::atomic<bool> younger_started{false};
std::atomic<bool> done{false};

// The address of this thread's marker, read afresh through the thread
// pointer on each call.
__attribute__((noinline)) const void* own_marker() {
  const void* p = &marker;
  asm volatile("" : "+r"(p));
  return p;
}

void on_signal(int) {}

// Handles a signal and reports whether the thread came back on its own
// thread pointer.
bool keeps_tls_across_signal(const char* who) {
  const void* before = own_marker();
  std::raise(SIGUSR1);
  const void* after = own_marker();
  if (before != after) {
    std::printf(
        "%s: its thread-local data moved from %p to %p when a signal handler returned\n",
        who, before, after);
    return false;
  }
  return true;
}

}  // namespace

int main() {
  std::signal(SIGUSR1, on_signal);
  bool ok = true;
  // The older thread handles a signal once a younger one exists.
  std::thread older([&ok] {
    while (!younger_started) std::this_thread::yield();
    ok = keeps_tls_across_signal("a thread older than the last one created") && ok;
    done = true;
  });
  std::thread younger([] {
    younger_started = true;
    while (!done) std::this_thread::yield();
  });
  older.join();
  younger.join();
  ok = keeps_tls_across_signal("the main thread") && ok;
  if (ok) std::printf("each thread kept its thread pointer across a signal\n");
  return ok ? 0 : 1;
}
