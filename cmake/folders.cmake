# One target per folder. A target reaches the headers of its own folder and of the targets it
# links, and no others: its include root (in the build tree) holds a link to its own folder
# alone, so an include the links do not allow fails to compile. Libraries pass their root on to
# whoever links them; a header that includes another target's header makes that link PUBLIC.
function(ruvalda_folder target folder)
  set(root ${CMAKE_BINARY_DIR}/include-roots/${target})
  set(link ${root}/${folder})
  if(NOT EXISTS ${link})
    get_filename_component(parent ${link} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${link} SYMBOLIC)
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${root})
  elseif(type STREQUAL "EXECUTABLE")
    target_include_directories(${target} PRIVATE ${root})
  else()
    target_include_directories(${target} PUBLIC ${root})
  endif()
endfunction()

# The programs a user runs stand together at the top of the build tree, beside the standard
# macros (the macro path looks there last).
function(ruvalda_program target)
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
endfunction()
