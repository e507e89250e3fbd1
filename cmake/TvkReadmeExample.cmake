# tvk_readme_example(README OUTPUT): writes the C example of README's
# "C API" section (its first ```c block) to OUTPUT, so that the tests
# build exactly what the README shows. In script mode (cmake -DREADME=...
# -DOUTPUT=... -P TvkReadmeExample.cmake) it writes that file.
function(tvk_readme_example readme output)
  file(READ ${readme} text)
  string(FIND "${text}" "\n## C API\n" section)
  if(section EQUAL -1)
    message(FATAL_ERROR "${readme} has no C API section")
  endif()
  string(SUBSTRING "${text}" ${section} -1 text)
  string(FIND "${text}" "\n```c\n" start)
  if(start EQUAL -1)
    message(FATAL_ERROR "the C API section of ${readme} has no C example")
  endif()
  math(EXPR start "${start} + 6")
  string(SUBSTRING "${text}" ${start} -1 text)
  string(FIND "${text}" "\n```" end)
  math(EXPR end "${end} + 1")
  string(SUBSTRING "${text}" 0 ${end} example)
  file(WRITE ${output} "${example}")
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE AND DEFINED README AND DEFINED OUTPUT)
  tvk_readme_example(${README} ${OUTPUT})
endif()
