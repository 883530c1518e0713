# Every target of the project builds with these warnings; -Werror only where CI asks for it.
add_library(bootreel_warnings INTERFACE)
target_compile_options(bootreel_warnings INTERFACE -Wall -Wextra)
option(BOOTREEL_WERROR "Treat warnings as errors" OFF)
if(BOOTREEL_WERROR)
    target_compile_options(bootreel_warnings INTERFACE -Werror)
endif()
