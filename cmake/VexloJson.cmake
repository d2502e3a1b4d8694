# nlohmann/json for the stadium decoder, as the target nlohmann_json::nlohmann_json.
# Its CMake package where one is installed (Debian's nlohmann-json3-dev, which
# scripts/setup.sh installs), so that the libraries build without Python;
# otherwise the headers of PyPI's nlohmann-json, the wheel's build requirement,
# which ships no CMake package of its own.
find_package(nlohmann_json 3.11 CONFIG QUIET)
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
endif()
if(NOT Python_Interpreter_FOUND OR NOT nlohmann_result EQUAL 0
   OR NOT EXISTS "${VEXLO_NLOHMANN_INCLUDE}/nlohmann/json.hpp")
  message(FATAL_ERROR "nlohmann/json is missing: apt-get install nlohmann-json3-dev, "
                      "or pip install nlohmann-json")
endif()
message(STATUS "nlohmann/json from PyPI: ${VEXLO_NLOHMANN_INCLUDE}")
# Imported, so its headers are system headers: their warnings are not ours.
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES "${VEXLO_NLOHMANN_INCLUDE}")
