# quorvel_enable_warnings(<target>): the project's warning set for one target.
function(quorvel_enable_warnings target)
    if(MSVC)
        target_compile_options(${target} PRIVATE /W4 $<$<BOOL:${QUORVEL_WARNINGS_AS_ERRORS}>:/WX>)
    else()
        target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic
            $<$<BOOL:${QUORVEL_WARNINGS_AS_ERRORS}>:-Werror>)
    endif()
endfunction()
