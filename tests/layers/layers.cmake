# The layers are a strict stack: a unit may include its own layer and the layers below it. Each
# case compiles one include with the include root of a layer: a header of the layer just below
# must compile, one of the layer just above must not.
set(layer_probe_dir ${CMAKE_CURRENT_BINARY_DIR}/layer-probes)
file(MAKE_DIRECTORY ${layer_probe_dir})

function(keepxfer_layer_probe layer header expect)
  string(MAKE_C_IDENTIFIER "${layer}_${header}" name)
  set(probe ${layer_probe_dir}/${name}.cpp)
  file(WRITE ${probe} "#include \"${header}\"\n")
  add_test(NAME layers.${layer}.${expect}.${header}
    COMMAND ${CMAKE_CXX_COMPILER} -std=c++17 -fsyntax-only
            -I${CMAKE_BINARY_DIR}/layers/keepxfer_${layer} ${probe})
  if(expect STREQUAL "refuses")
    set_tests_properties(layers.${layer}.${expect}.${header} PROPERTIES WILL_FAIL TRUE)
  endif()
endfunction()

keepxfer_layer_probe(base base/Errors.h sees)
keepxfer_layer_probe(base platform/files.h refuses)
keepxfer_layer_probe(platform base/Errors.h sees)
keepxfer_layer_probe(platform lib/IniU.h refuses)
keepxfer_layer_probe(lib platform/profile.h sees)
keepxfer_layer_probe(lib exchange/FramekeepU.h refuses)
keepxfer_layer_probe(exchange lib/IniU.h sees)
keepxfer_layer_probe(exchange app/Driver.h refuses)
keepxfer_layer_probe(app exchange/FramekeepU.h sees)
