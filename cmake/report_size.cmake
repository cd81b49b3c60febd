# cmake -DFILE=<file> -DLIMIT_KB=<kilobytes> -P report_size.cmake: prints the file's size against its
# target, for what ships.
file(SIZE "${FILE}" bytes)
math(EXPR kb "(${bytes} + 1023) / 1024")
get_filename_component(name "${FILE}" NAME)
if(kb GREATER LIMIT_KB)
    message(WARNING "size: ${name} ${kb} KB, OVER its target of ${LIMIT_KB} KB")
else()
    message(STATUS "size: ${name} ${kb} KB (target ${LIMIT_KB} KB)")
endif()
