# atl_typelib(TARGET IDL)
# Compiles IDL with widl for the target's system kind (win32 or win64): the
# type library goes into TARGET as the resource TYPELIB 1, the header
# (<idl name>.h) and the GUID definitions (<idl name>_i.c) into the build
# folder. The IDL imports "automation_base.idl" and importlibs stdole2.tlb.
set(ATL_IDL_DIR "${CMAKE_CURRENT_LIST_DIR}/idl")
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(ATL_WIDL_ARCH -m64)
  set(ATL_STDOLE_DIR /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
else()
  set(ATL_WIDL_ARCH -m32)
  set(ATL_STDOLE_DIR /usr/lib/i386-linux-gnu/wine/i386-windows)
endif()
find_program(ATL_WIDL NAMES ${SUITE_MINGW_TRIPLE}-widl widl REQUIRED)
if(NOT EXISTS "${ATL_STDOLE_DIR}/stdole2.tlb")
  # Either Wine's copy serves: widl only reads the names from it.
  foreach(dir /usr/lib/x86_64-linux-gnu/wine/x86_64-windows /usr/lib/i386-linux-gnu/wine/i386-windows)
    if(EXISTS "${dir}/stdole2.tlb")
      set(ATL_STDOLE_DIR "${dir}")
    endif()
  endforeach()
endif()

function(atl_typelib target idl)
  get_filename_component(name "${idl}" NAME_WE)
  get_filename_component(idl_path "${idl}" ABSOLUTE)
  set(out "${CMAKE_CURRENT_BINARY_DIR}/${name}_idl")
  file(MAKE_DIRECTORY "${out}")
  add_custom_command(
    OUTPUT "${out}/${name}.tlb" "${out}/${name}.h" "${out}/${name}_i.c"
    COMMAND ${ATL_WIDL} ${ATL_WIDL_ARCH} -I "${ATL_IDL_DIR}" -L "${ATL_STDOLE_DIR}"
            -t -h -u -T "${out}/${name}.tlb" -H "${out}/${name}.h" -U "${out}/${name}_i.c" "${idl_path}"
    DEPENDS "${idl_path}" "${ATL_IDL_DIR}/automation_base.idl"
    COMMENT "widl ${name}.idl")
  file(GENERATE OUTPUT "${out}/${name}_typelib.rc" CONTENT "1 TYPELIB \"${name}.tlb\"\n")
  set_source_files_properties("${out}/${name}_typelib.rc" PROPERTIES OBJECT_DEPENDS "${out}/${name}.tlb")
  target_sources(${target} PRIVATE "${out}/${name}_typelib.rc" "${out}/${name}.h" "${out}/${name}_i.c")
  target_include_directories(${target} PRIVATE "${out}" "${ATL_IDL_DIR}")
endfunction()

# atl_idl_header(TARGET IDL): the header and GUIDs only, for a client.
function(atl_idl_header target idl)
  get_filename_component(name "${idl}" NAME_WE)
  get_filename_component(idl_path "${idl}" ABSOLUTE)
  set(out "${CMAKE_CURRENT_BINARY_DIR}/${name}_idl")
  file(MAKE_DIRECTORY "${out}")
  add_custom_command(
    OUTPUT "${out}/${name}.h" "${out}/${name}_i.c"
    COMMAND ${ATL_WIDL} ${ATL_WIDL_ARCH} -I "${ATL_IDL_DIR}" -L "${ATL_STDOLE_DIR}"
            -h -u -H "${out}/${name}.h" -U "${out}/${name}_i.c" "${idl_path}"
    DEPENDS "${idl_path}" "${ATL_IDL_DIR}/automation_base.idl"
    COMMENT "widl ${name}.idl (header)")
  target_sources(${target} PRIVATE "${out}/${name}.h" "${out}/${name}_i.c")
  target_include_directories(${target} PRIVATE "${out}" "${ATL_IDL_DIR}")
endfunction()
