# All compile flags that concern warnings live here, in one INTERFACE target
# that every target of the project links.
add_library(kalvero_warnings INTERFACE)
target_compile_options(kalvero_warnings INTERFACE
    -Wall -Wextra -Wpedantic -Wold-style-cast -Wnon-virtual-dtor -Woverloaded-virtual)
target_compile_definitions(kalvero_warnings INTERFACE
    QT_NO_CAST_FROM_ASCII
    QT_DISABLE_DEPRECATED_BEFORE=0x060400
    QT_DISABLE_DEPRECATED_UP_TO=0x060400
    # Qt 6.4 (Debian 12) is the oldest we build with; what later Qt releases
    # (6.8 on Debian 13) deprecate is no warning, so one source builds on both.
    QT_WARN_DEPRECATED_UP_TO=0x060400)
option(KALVERO_WERROR "Treat warnings as errors (CI turns this on)" OFF)
if(KALVERO_WERROR)
    target_compile_options(kalvero_warnings INTERFACE -Werror)
endif()

option(KALVERO_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(KALVERO_SANITIZE)
    target_compile_options(kalvero_warnings INTERFACE
        -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_link_options(kalvero_warnings INTERFACE -fsanitize=address,undefined)
endif()
