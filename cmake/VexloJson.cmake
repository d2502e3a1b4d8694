# nlohmann/json for the stadium decoder, as the target nlohmann_json::nlohmann_json.
#
# In this order: a CMake package of 3.12 or later; the headers of PyPI's
# nlohmann-json, the wheel's build requirement, which ships no CMake package
# and is found through Python; and, for a build without Python, an older CMake
# package such as Debian's nlohmann-json3-dev (3.11.2, from scripts/setup-dev.sh).
# The decoder words the one message these releases word differently (an
# empty text) itself, so all of them give the same messages.
find_package(nlohmann_json 3.12 CONFIG QUIET)
if(nlohmann_json_FOUND)
  message(STATUS "nlohmann/json ${nlohmann_json_VERSION}: ${nlohmann_json_DIR}")
  return()
endif()

find_package(Python 3.9 COMPONENTS Interpreter)
if(Python_Interpreter_FOUND)
  execute_process(
    COMMAND "${Python_EXECUTABLE}" -c
            "import nlohmann_json, os; print(os.path.join(os.path.dirname(nlohmann_json.__file__), 'include'), end='')"
    OUTPUT_VARIABLE VEXLO_NLOHMANN_INCLUDE
    RESULT_VARIABLE nlohmann_result
    ERROR_QUIET)
  if(nlohmann_result EQUAL 0 AND EXISTS "${VEXLO_NLOHMANN_INCLUDE}/nlohmann/json.hpp")
    message(STATUS "nlohmann/json from PyPI: ${VEXLO_NLOHMANN_INCLUDE}")
    # Imported, so its headers are system headers: their warnings are not ours.
    add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
    set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
      INTERFACE_INCLUDE_DIRECTORIES "${VEXLO_NLOHMANN_INCLUDE}")
    return()
  endif()
endif()

find_package(nlohmann_json 3.11 CONFIG QUIET)
if(NOT nlohmann_json_FOUND)
  message(FATAL_ERROR "nlohmann/json is missing: pip install nlohmann-json, "
                      "or apt-get install nlohmann-json3-dev")
endif()
message(STATUS "nlohmann/json ${nlohmann_json_VERSION}: ${nlohmann_json_DIR}")
