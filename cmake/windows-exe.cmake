# Windows builds link everything statically: the exe imports system DLLs only.
target_link_options(ostravel_core PUBLIC -static -static-libgcc -static-libstdc++)
if(OSTRAVEL_SUBSYSTEM_VERSION)
  set(OSTRAVEL_SUBSYSTEM_FLAG -Wl,--subsystem,windows:${OSTRAVEL_SUBSYSTEM_VERSION})
else()
  set(OSTRAVEL_SUBSYSTEM_FLAG -Wl,--subsystem,windows)
endif()

add_executable(Ostravel WIN32 src/app/entry.cpp)
target_link_libraries(Ostravel PRIVATE ostravel_core)
target_link_options(Ostravel PRIVATE ${OSTRAVEL_SUBSYSTEM_FLAG} -s)

# The icon and the version resource, compiled by windres. It finds the .ico
# through the include path, and a new icon rebuilds the resource.
enable_language(RC)
target_sources(Ostravel PRIVATE res/ostravel.rc)
set_source_files_properties(res/ostravel.rc PROPERTIES
  INCLUDE_DIRECTORIES ${PROJECT_SOURCE_DIR}/res
  OBJECT_DEPENDS ${PROJECT_SOURCE_DIR}/res/ostravel.ico)
