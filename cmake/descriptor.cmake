# The static library qelv_descriptor: the action descriptor, plugin/descriptor.xml,
# built in as the block that plugin/descriptor.h declares.  Both the module
# and the tests include this file; the target is made once.
if(TARGET qelv_descriptor)
  return()
endif()

set(descriptor_xml ${PROJECT_SOURCE_DIR}/plugin/descriptor.xml)
set(descriptor_script ${PROJECT_SOURCE_DIR}/cmake/embed_descriptor.cmake)
set(descriptor_cpp ${CMAKE_BINARY_DIR}/generated/stored_descriptor.cpp)
add_custom_command(OUTPUT ${descriptor_cpp}
  COMMAND ${CMAKE_COMMAND} -DINPUT=${descriptor_xml} -DOUTPUT=${descriptor_cpp}
          -P ${descriptor_script}
  DEPENDS ${descriptor_xml} ${descriptor_script}
  COMMENT "Building in the action descriptor"
  VERBATIM)
add_library(qelv_descriptor STATIC ${descriptor_cpp})
target_include_directories(qelv_descriptor PRIVATE ${PROJECT_SOURCE_DIR}/plugin)
