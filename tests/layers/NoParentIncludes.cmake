# Fails when a source under src/ names a header through "..": such an include reaches around the include
# folders that keep each layer to its own and lower layers' headers (from src/library, "../ui/RootView.h"
# would find the window's header).
file(GLOB_RECURSE _sources "${SOURCE_DIR}/src/*.cpp" "${SOURCE_DIR}/src/*.h")
set(_found)
foreach(_source IN LISTS _sources)
  file(STRINGS "${_source}" _lines REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<][^\">]*\\.\\./")
  foreach(_line IN LISTS _lines)
    file(RELATIVE_PATH _relative "${SOURCE_DIR}" "${_source}")
    list(APPEND _found "${_relative}: ${_line}")
  endforeach()
endforeach()
if(_found)
  list(JOIN _found "\n" _report)
  message(FATAL_ERROR "includes through \"..\" get around the layers:\n${_report}")
endif()
