# A layer sits below the layers it must not reach: neither its link closure nor the sources it is built
# from may name them. Run by CTest with:
#   -DLAYER=<name for messages>  -DLINKED=<libraries, separated by "|">  -DSOURCE_DIRS=<directories, "|">
#   -DFORBIDDEN_LIBRARIES=<regular expression>  -DFORBIDDEN_INCLUDES=<regular expression of include paths>
# or, for single files that must not include a header, with -DSOURCE_FILES=<files, "|"> in place of
# SOURCE_DIRS (LINKED may then be empty).
string(REPLACE "|" ";" linked "${LINKED}")
foreach(library IN LISTS linked)
  if(library MATCHES "${FORBIDDEN_LIBRARIES}")
    message(FATAL_ERROR "${LAYER} links ${library}")
  endif()
endforeach()

string(REPLACE "|" ";" source_dirs "${SOURCE_DIRS}")
string(REPLACE "|" ";" sources "${SOURCE_FILES}")
foreach(dir IN LISTS source_dirs)
  file(GLOB_RECURSE dir_sources "${dir}/*.h" "${dir}/*.cpp")
  list(APPEND sources ${dir_sources})
endforeach()
if(NOT sources)
  message(FATAL_ERROR "${LAYER}: no sources to check")
endif()
foreach(source IN LISTS sources)
  file(STRINGS "${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"](${FORBIDDEN_INCLUDES})")
  if(includes)
    message(FATAL_ERROR "${source}: ${includes}")
  endif()
endforeach()
