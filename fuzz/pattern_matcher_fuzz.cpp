// STOP: before writing this file read /tmp/matcher_task.md (your full task and the project rules).
#include <cstddef>
#include <cstdint>
extern "C" int LLVMFuzzerTestOneInput(const uint8_t*, size_t) { return 0; }
