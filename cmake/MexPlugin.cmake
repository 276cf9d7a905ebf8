# add_mex_plugin(Name source.cpp): the plug-in Name for every host we build, into the toolbox
# folder, with its help file Name.m (which sits beside the source).
#   Name.mexa64  Linux, MATLAB's binary interface against the stand-in libmx/libmex: exports only
#                mexFunction (version node MEX), needs nothing but libmx, libmex and libc.
#   Name.mex     Linux, GNU Octave, against Octave's own headers; the host resolves its symbols.
#   Name.mexw64  Windows x64 (MinGW-w64 cross build): exports only mexFunction, imports only
#                libmx.dll, libmex.dll and system DLLs.
function(add_mex_plugin name source)
  if(WIN32)
    add_library(${name}_mexw64 MODULE ${source})
    target_link_libraries(${name}_mexw64 PRIVATE gateway_matlab plugin_registry matlab_imports)
    set_target_properties(${name}_mexw64 PROPERTIES
      OUTPUT_NAME ${name} PREFIX "" SUFFIX ".mexw64"
      LIBRARY_OUTPUT_DIRECTORY ${NURBS_TOOLBOX_DIR} CXX_VISIBILITY_PRESET hidden)
    nurbs_warnings(${name}_mexw64)
    set_property(GLOBAL APPEND PROPERTY NURBS_PLUGIN_TARGETS ${name}_mexw64)
  else()
    add_library(${name}_mexa64 MODULE ${source})
    target_link_libraries(${name}_mexa64 PRIVATE gateway_matlab plugin_registry mx mex)
    set_target_properties(${name}_mexa64 PROPERTIES
      OUTPUT_NAME ${name} PREFIX "" SUFFIX ".mexa64"
      LIBRARY_OUTPUT_DIRECTORY ${NURBS_TOOLBOX_DIR}
      CXX_VISIBILITY_PRESET hidden SKIP_BUILD_RPATH TRUE
      LINK_DEPENDS ${PROJECT_SOURCE_DIR}/cmake/mexFunction.map)
    target_link_options(${name}_mexa64 PRIVATE
      -Wl,--as-needed -Wl,--version-script=${PROJECT_SOURCE_DIR}/cmake/mexFunction.map)
    if(NOT NURBS_SANITIZE)
      # A static C++ runtime: the older libstdc++ that MATLAB ships can never refuse the plug-in.
      target_link_options(${name}_mexa64 PRIVATE -static-libstdc++ -static-libgcc -Wl,--no-undefined)
    endif()
    nurbs_warnings(${name}_mexa64)
    set_property(GLOBAL APPEND PROPERTY NURBS_PLUGIN_TARGETS ${name}_mexa64)

    if(NURBS_OCTAVE)
      add_library(${name}_mex MODULE ${source})
      target_link_libraries(${name}_mex PRIVATE gateway_octave plugin_registry)
      set_target_properties(${name}_mex PROPERTIES
        OUTPUT_NAME ${name} PREFIX "" SUFFIX ".mex"
        LIBRARY_OUTPUT_DIRECTORY ${NURBS_TOOLBOX_DIR} CXX_VISIBILITY_PRESET hidden)
      target_link_options(${name}_mex PRIVATE -Wl,-Bsymbolic)
      nurbs_warnings(${name}_mex)
    endif()
  endif()

  get_filename_component(path ${source} ABSOLUTE)
  get_filename_component(dir ${path} DIRECTORY)
  configure_file(${dir}/${name}.m ${NURBS_TOOLBOX_DIR}/${name}.m COPYONLY)
  set_property(GLOBAL APPEND PROPERTY NURBS_PLUGINS ${name})
  set_property(GLOBAL APPEND PROPERTY NURBS_PLUGIN_SOURCES ${path})
endfunction()
