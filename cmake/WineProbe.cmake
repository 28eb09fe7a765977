# What wine-probe.sh answers, asked once per configuration; a build that makes the Windows builds
# hands its answer down to them. Sets KEEPXFER_WINE_BITS (32, 64 or none) and
# KEEPXFER_WINE_LOADER (the loader that runs the tested Windows programs; empty with none).
if(NOT KEEPXFER_WINE_BITS)
  execute_process(COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/wine-probe.sh
                  OUTPUT_VARIABLE keepxfer_wine_answer OUTPUT_STRIP_TRAILING_WHITESPACE)
  separate_arguments(keepxfer_wine_answer UNIX_COMMAND "${keepxfer_wine_answer}")
  list(GET keepxfer_wine_answer 0 KEEPXFER_WINE_BITS)
  set(KEEPXFER_WINE_LOADER "")
  if(NOT KEEPXFER_WINE_BITS STREQUAL "none")
    list(GET keepxfer_wine_answer 1 KEEPXFER_WINE_LOADER)
  endif()
endif()
