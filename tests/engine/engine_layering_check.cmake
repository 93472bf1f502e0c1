# The engine sits below the class library and every widget toolkit: neither its link closure nor the
# sources of the layers it is built from may reach Qt or classlib/. Run by CTest with:
#   -DLINKED=<libraries, separated by "|">  -DSOURCE_DIRS=<directories, separated by "|">
string(REPLACE "|" ";" linked "${LINKED}")
foreach(library IN LISTS linked)
  if(library MATCHES "Qt|classlib")
    message(FATAL_ERROR "the engine links ${library}")
  endif()
endforeach()

string(REPLACE "|" ";" source_dirs "${SOURCE_DIRS}")
foreach(dir IN LISTS source_dirs)
  file(GLOB_RECURSE sources "${dir}/*.h" "${dir}/*.cpp")
  foreach(source IN LISTS sources)
    file(STRINGS "${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"](classlib/|Q[A-Za-z]*[/>])")
    if(includes)
      message(FATAL_ERROR "${source}: ${includes}")
    endif()
  endforeach()
endforeach()
