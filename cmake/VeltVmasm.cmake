# velt_assemble(<target> <out.vmb> <in.vasm>): assembles a script at build time with vmasm and
# makes <target> depend on the result. <out.vmb> may be relative to the current binary dir,
# <in.vasm> to the current source dir. Several targets may ask for the same output: it gets one
# build rule and every one of them depends on it.
function(velt_assemble target out in)
  if(NOT IS_ABSOLUTE "${out}")
    set(out "${CMAKE_CURRENT_BINARY_DIR}/${out}")
  endif()
  if(NOT IS_ABSOLUTE "${in}")
    set(in "${CMAKE_CURRENT_SOURCE_DIR}/${in}")
  endif()
  string(MD5 hash "${out}")
  string(SUBSTRING "${hash}" 0 12 hash)
  set(step "vmasm_${hash}")
  if(NOT TARGET ${step})
    get_filename_component(dir "${out}" DIRECTORY)
    add_custom_command(
      OUTPUT "${out}"
      COMMAND ${CMAKE_COMMAND} -E make_directory "${dir}"
      COMMAND $<TARGET_FILE:vmasm> -o "${out}" "${in}"
      DEPENDS vmasm "${in}"
      COMMENT "Assembling ${in}"
      VERBATIM)
    add_custom_target(${step} DEPENDS "${out}")
  endif()
  add_dependencies(${target} ${step})
endfunction()

# velt_assemble_dir(<target> <outdir> <srcdir>): every <srcdir>/*.vasm into <outdir>/<name>.vmb.
function(velt_assemble_dir target outdir srcdir)
  file(GLOB sources CONFIGURE_DEPENDS "${srcdir}/*.vasm")
  foreach(src ${sources})
    get_filename_component(name "${src}" NAME_WE)
    velt_assemble(${target} "${outdir}/${name}.vmb" "${src}")
  endforeach()
endfunction()
