# The layers are a strict stack: a unit may include its own layer and the layers it builds on.
# Each case compiles one include with the include root of a layer: a header it may use must
# compile, and one it may not must be missing from its view (not merely fail to compile).
set(layer_probe_dir ${CMAKE_CURRENT_BINARY_DIR}/layer-probes)
file(MAKE_DIRECTORY ${layer_probe_dir})

function(keepxfer_layer_probe layer header expect)
  if(NOT EXISTS ${PROJECT_SOURCE_DIR}/${header})
    message(FATAL_ERROR "layer probe of a header that does not exist: ${header}")
  endif()
  string(MAKE_C_IDENTIFIER "${layer}_${header}" name)
  set(probe ${layer_probe_dir}/${name}.cpp)
  file(WRITE ${probe} "#include \"${header}\"\n")
  add_test(NAME layers.${layer}.${expect}.${header}
    COMMAND ${CMAKE_CXX_COMPILER} -std=c++17 -fsyntax-only
            -I${CMAKE_BINARY_DIR}/layers/keepxfer_${layer} ${probe})
  if(expect STREQUAL "refuses")
    set_tests_properties(layers.${layer}.${expect}.${header} PROPERTIES
      PASS_REGULAR_EXPRESSION "${header}: No such file or directory")
  endif()
endfunction()

# Each layer sees the layer it builds on, and not the layers above it, nor a sibling it does not
# use. The folders of one platform are probed in its build.
keepxfer_layer_probe(base base/Ascii.h sees)
keepxfer_layer_probe(base platform/files.h refuses)
keepxfer_layer_probe(base ini/document.h refuses)
keepxfer_layer_probe(ini base/Ascii.h sees)
keepxfer_layer_probe(ini platform/profile.h refuses)
keepxfer_layer_probe(ini exchange/FramekeepU.h refuses)
keepxfer_layer_probe(platform ini/document.h sees)
keepxfer_layer_probe(platform lib/IniU.h refuses)
# The units above the services reach the system, and the INI text, only through them.
keepxfer_layer_probe(lib platform/profile.h sees)
keepxfer_layer_probe(lib ini/document.h refuses)
keepxfer_layer_probe(lib exchange/FramekeepU.h refuses)
keepxfer_layer_probe(exchange lib/IniU.h sees)
keepxfer_layer_probe(exchange app/Driver.h refuses)
keepxfer_layer_probe(app exchange/FramekeepU.h sees)
if(WIN32)
  keepxfer_layer_probe(base win32/handle.h refuses)
  keepxfer_layer_probe(ini win32/handle.h refuses)
  keepxfer_layer_probe(win32 base/Errors.h sees)
  keepxfer_layer_probe(win32 platform/ini-file.h refuses)
  keepxfer_layer_probe(platform win32/turn.h sees)
  keepxfer_layer_probe(lib win32/handle.h refuses)
  keepxfer_layer_probe(app win32/path.h refuses)
else()
  keepxfer_layer_probe(base posix/fd.h refuses)
  keepxfer_layer_probe(ini posix/fd.h refuses)
  keepxfer_layer_probe(ini wine/registry.h refuses)
  keepxfer_layer_probe(posix base/Errors.h sees)
  keepxfer_layer_probe(posix wine/paths.h refuses)
  keepxfer_layer_probe(posix platform/ini-file.h refuses)
  keepxfer_layer_probe(wine posix/path.h sees)
  keepxfer_layer_probe(wine platform/files.h refuses)
  keepxfer_layer_probe(platform wine/registry.h sees)
  keepxfer_layer_probe(lib posix/io.h refuses)
  keepxfer_layer_probe(app wine/paths.h refuses)
  # The INI text and the base layer are the same code on every system: no header of one.
  add_test(NAME layers.ini.text-only
    COMMAND sh -c "! grep -nE '#include <(windows|unistd|fcntl|dirent|pwd|iconv|locale|dlfcn|signal|sys/)' ${PROJECT_SOURCE_DIR}/ini/* ${PROJECT_SOURCE_DIR}/base/*")
endif()
