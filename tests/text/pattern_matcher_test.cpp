// STOP: before writing this file read /tmp/matcher_task.md (your full task and the project rules).
