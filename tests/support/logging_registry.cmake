# For the process tests: a .reg file as the logging configuration of the programs they start.
# Under an emulator (Wine) it is imported into the prefix's registry, and the test removes its
# keys again with drop_logging_keys; natively the programs find it through QIR_REGISTRY.
# Uses the variable EMULATOR of the including script.

# ENV_OUT: what to pass to `cmake -E env` when starting the programs.
function(use_logging_registry reg_file env_out)
  if(EMULATOR)
    string(REPLACE "/" "\\" reg_target "Z:${reg_file}")
    execute_process(COMMAND ${EMULATOR} reg import ${reg_target} RESULT_VARIABLE rc
                    OUTPUT_QUIET ERROR_QUIET)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "reg import ${reg_file} failed: ${rc}")
    endif()
    set(${env_out} "" PARENT_SCOPE)
  else()
    set(${env_out} QIR_REGISTRY=${reg_file} PARENT_SCOPE)
  endif()
endfunction()

# The keys Software\Halvex\Logs\<app> of the given programs, gone from Wine's registry.
function(drop_logging_keys)
  if(EMULATOR)
    foreach(app IN LISTS ARGN)
      execute_process(COMMAND ${EMULATOR} reg delete "HKLM\\Software\\Halvex\\Logs\\${app}" /f
                      OUTPUT_QUIET ERROR_QUIET)
    endforeach()
  endif()
endfunction()

# A path of this machine as a string value of a .reg file names it to the programs: on drive
# Z: with escaped backslashes under Wine.
function(reg_file_path path out)
  if(EMULATOR)
    string(REPLACE "/" "\\\\" path "Z:${path}")
  endif()
  set(${out} "${path}" PARENT_SCOPE)
endfunction()
