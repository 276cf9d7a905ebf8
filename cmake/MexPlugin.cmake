# add_mex_plugin(Name source.cpp): the plug-in Name for every host we build, into the toolbox
# folder, with its help file Name.m (which sits beside the source).
#   Name.mexa64  Linux, MATLAB's binary interface against the stand-in libmx/libmex: exports only
#                mexFunction (version node MEX), needs nothing but libmx, libmex and libc.
#   Name.oct     Linux, GNU Octave's own functions (the gateway over Octave's C++ API); exports
#                only its installer, with the help file's text as its help.
#   Name.mex     Linux, GNU Octave's MEX interface, against Octave's own headers; the host
#                resolves its symbols. In a folder of its own (Octave prefers the .oct).
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
        LIBRARY_OUTPUT_DIRECTORY ${NURBS_OCTAVE_MEX_DIR} CXX_VISIBILITY_PRESET hidden)
      target_link_options(${name}_mex PRIVATE -Wl,-Bsymbolic)
      nurbs_warnings(${name}_mex)

      nurbs_octave_entry(${name} ${source} entry)
      add_library(${name}_oct MODULE ${source} ${entry})
      target_link_libraries(${name}_oct PRIVATE gateway_oct plugin_registry)
      set_target_properties(${name}_oct PROPERTIES
        OUTPUT_NAME ${name} PREFIX "" SUFFIX ".oct"
        LIBRARY_OUTPUT_DIRECTORY ${NURBS_TOOLBOX_DIR} CXX_VISIBILITY_PRESET hidden)
      set_target_properties(${name}_oct PROPERTIES LINK_DEPENDS ${PROJECT_SOURCE_DIR}/cmake/octFunction.map)
      target_link_options(${name}_oct PRIVATE -Wl,-Bsymbolic
                          -Wl,--version-script=${PROJECT_SOURCE_DIR}/cmake/octFunction.map)
      nurbs_warnings(${name}_oct)
      set_property(GLOBAL APPEND PROPERTY NURBS_OCT_TARGETS ${name}_oct)
    endif()
  endif()

  get_filename_component(path ${source} ABSOLUTE)
  get_filename_component(dir ${path} DIRECTORY)
  nurbs_toolbox_file(${dir}/${name}.m ${name}.m)
  set_property(GLOBAL APPEND PROPERTY NURBS_PLUGINS ${name})
  set_property(GLOBAL APPEND PROPERTY NURBS_PLUGIN_SOURCES ${path})
endfunction()

# A file of the toolbox (an m-function, a help file, private/...): into the toolbox folder and,
# for Octave's MEX build, into its folder too.
function(nurbs_toolbox_file source destination)
  configure_file(${source} ${NURBS_TOOLBOX_DIR}/${destination} COPYONLY)
  if(NURBS_OCTAVE)
    configure_file(${source} ${NURBS_OCTAVE_MEX_DIR}/${destination} COPYONLY)
  endif()
endfunction()

# The Octave-native entry of plug-in `name` (packaging/octave/octave_entry.sh, which the Octave
# package's build runs too): it installs the plug-in under its name with its help file's text as
# its help. Written at configure time, and only when its text changes.
function(nurbs_octave_entry name source out)
  get_filename_component(path ${source} ABSOLUTE)
  get_filename_component(dir ${path} DIRECTORY)
  set(script ${PROJECT_SOURCE_DIR}/packaging/octave/octave_entry.sh)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${dir}/${name}.m ${script})
  set(file ${CMAKE_BINARY_DIR}/octave-entries/${name}.cc)
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/octave-entries)
  execute_process(COMMAND sh ${script} ${name} ${dir}/${name}.m OUTPUT_FILE ${file}.new
                  RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "cannot write the Octave entry of ${name}")
  endif()
  configure_file(${file}.new ${file} COPYONLY)
  set(${out} ${file} PARENT_SCOPE)
endfunction()
