# The dataset framework (classlib/data) and the dataset layer link no Qt, and their sources include
# neither a Qt header nor the widget library's. Run by CTest with:
#   -DLINKED=<libraries, separated by "|">  -DSOURCE_DIRS=<directories, separated by "|">
string(REPLACE "|" ";" linked "${LINKED}")
foreach(library IN LISTS linked)
  if(library MATCHES "Qt|widgets")
    message(FATAL_ERROR "a data layer links ${library}")
  endif()
endforeach()

string(REPLACE "|" ";" source_dirs "${SOURCE_DIRS}")
foreach(dir IN LISTS source_dirs)
  file(GLOB_RECURSE sources "${dir}/*.h" "${dir}/*.cpp")
  foreach(source IN LISTS sources)
    file(STRINGS "${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"](classlib/widgets/|Q[A-Za-z]*[/>])")
    if(includes)
      message(FATAL_ERROR "${source}: ${includes}")
    endif()
  endforeach()
endforeach()
