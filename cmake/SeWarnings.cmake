# Warnings are errors in the project's own code on every preset. Third-party
# code (GoogleTest) is built without these flags.
set(SE_WARNING_FLAGS -Wall -Wextra -Wpedantic -Werror)
add_library(se_warnings INTERFACE)
target_compile_options(se_warnings INTERFACE ${SE_WARNING_FLAGS})
