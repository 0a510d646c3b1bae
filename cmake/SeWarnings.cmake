# Warnings are errors in the project's own code on every preset. Third-party
# code (GoogleTest) is built without these flags.
include(SeWarningFlags)
add_library(se_warnings INTERFACE)
target_compile_options(se_warnings INTERFACE ${SE_WARNING_FLAGS})
