file(SIZE "${FILE}" _size)
math(EXPR _kb "(${_size} + 1023) / 1024")
get_filename_component(_name "${FILE}" NAME)
message(STATUS "${_name}: ${_size} bytes (${_kb} KiB)")
