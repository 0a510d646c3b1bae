# The project's warning flags: every warning GCC and Clang give with these,
# as errors. The project's own code and every module se_add_module builds
# compile with them.
include_guard(GLOBAL)
set(SE_WARNING_FLAGS -Wall -Wextra -Wpedantic -Werror)
